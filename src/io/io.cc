#include "io/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "io/half.h"
#include "io/hdf5_util.h"
#include "main/main.h"

// Upper bound for N_DataGroups; the per-file count arrays live on the stack.
#define MAX_DATAGROUPS 16

// Suffix of a file while it is being written; it gets its real name only once
// it is complete, so a failed write never replaces a good file.
#define PARTIAL_SUFFIX ".partial"

IO_Def::~IO_Def()
{
  if(Max_IO_Fields > 0)
    free(IO_Fields);
}

void IO_Def::build_name(char *buf, size_t len, const char *fmt, ...)
{
  va_list l;
  va_start(l, fmt);
  int n = vsnprintf(buf, len, fmt, l);
  va_end(l);
  if(n < 0 || (size_t)n >= len)
    FATAL_ERROR("file name too long (%d characters, room for %zu): '%s...'\n", n, len - 1, buf);
}

/* ------------------------------------------------------------------------ */
/* field registry                                                           */
/* ------------------------------------------------------------------------ */

void IO_Def::init_field(const char *label, const char *datasetname, enum types_in_memory type_in_memory,
                        enum types_in_file type_in_file_output, enum read_flags read_flag, int values_per_block, enum arrays array,
                        void *pointer_to_field, void (*io_func)(IO_Def *, int, int, void *, int), int typelist_bitmask,
                        int flagunit, double a, double h, double L, double M, double V, double c, bool compression_on)
{
  if(values_per_block < 1)
    return;

  // The table is a few kilobytes on the ordinary heap: in the block allocator
  // it would sit below the particle storage that reading allocates, and
  // freeing it would move the whole storage down.
  if(Max_IO_Fields == N_IO_Fields)
    {
      int grown = Max_IO_Fields + 5;
      auto *t   = (IO_Field *)realloc(IO_Fields, grown * sizeof(IO_Field));
      if(!t)
        FATAL_ERROR("no memory for %d I/O fields\n", grown);
      IO_Fields     = t;
      Max_IO_Fields = grown;
    }

  IO_Field *f = &IO_Fields[N_IO_Fields];
  memset(f, 0, sizeof(IO_Field));

  strncpy(f->label, label, 4);
  f->label[4] = 0;
  strncpy(f->datasetname, datasetname, 256);
  f->datasetname[256] = 0;

  f->type_in_memory      = type_in_memory;
  f->type_in_file_output = type_in_file_output;
  f->read_flag           = read_flag;
  f->values_per_block    = values_per_block;
  f->typelist            = typelist_bitmask;
  f->array               = array;
  f->io_func             = io_func;
  f->compression_on      = false;  // no compression filters in this build

  if(array == A_NONE)
    f->offset = 0;
  else
    f->offset = (size_t)((char *)pointer_to_field - (char *)get_base_address_of_structure(array, 0));

  f->hasunit = flagunit;
  f->a       = a;
  f->h       = h;
  f->L       = L;
  f->M       = M;
  f->V       = V;
  f->c       = c;

  N_IO_Fields++;
}

#define CHECK_BLOCKNR(blocknr) \
  if(blocknr < 0 || blocknr >= N_IO_Fields) FATAL_ERROR("something is wrong here: blocknr=%d N_IO_Fields=%d", blocknr, N_IO_Fields)

int IO_Def::get_values_per_blockelement(int blocknr)
{
  CHECK_BLOCKNR(blocknr);
  return IO_Fields[blocknr].values_per_block;
}

void IO_Def::get_dataset_name(int blocknr, char *buf)
{
  CHECK_BLOCKNR(blocknr);
  strcpy(buf, IO_Fields[blocknr].datasetname);
}

void IO_Def::get_Tab_IO_Label(int blocknr, char *label)
{
  CHECK_BLOCKNR(blocknr);
  strcpy(label, IO_Fields[blocknr].label);
}

static int bytes_per_memory_value(enum types_in_memory t)
{
  switch(t)
    {
      case MEM_INT:
        return sizeof(int);
      case MEM_INT64:
        return sizeof(long long);
      case MEM_MY_ID_TYPE:
        return sizeof(MyIDType);
      case MEM_MY_INTPOS_TYPE:
        return sizeof(MyIntPosType);
      case MEM_FLOAT:
        return sizeof(float);
      case MEM_DOUBLE:
        return sizeof(double);
      case MEM_MY_FLOAT:
        return sizeof(MyFloat);
      case MEM_MY_DOUBLE:
        return sizeof(MyDouble);
      case MEM_MY_FILEOFFSET:
        return sizeof(long long);
    }
  FATAL_ERROR("ERROR: Type not found!\n");
}

static bool is_integer_memory_type(enum types_in_memory t)
{
  return t == MEM_INT || t == MEM_INT64 || t == MEM_MY_ID_TYPE || t == MEM_MY_INTPOS_TYPE || t == MEM_MY_FILEOFFSET;
}

// True when memory and file hold the same kind of number (integer or
// floating), so type_cast_data can convert between them by size alone.
bool IO_Def::same_value_class(int blocknr)
{
  enum types_in_file t = IO_Fields[blocknr].type_in_file_output;
  bool file_int = t == FILE_INT || t == FILE_INT64 || t == FILE_MY_ID_TYPE || t == FILE_MY_INTPOS_TYPE;
  return file_int == is_integer_memory_type(IO_Fields[blocknr].type_in_memory);
}

// Hands the pieces written so far to the disk without waiting for them, so
// that the final fsync has little left to wait for. Only a hint: errors
// surface at that fsync.
void IO_Def::start_writeback(FILE *fd, hid_t hdf5_file)
{
  int fdes = -1;
  if(fd)
    {
      if(fflush(fd) != 0)
        FATAL_ERROR("I/O error (fflush) has occured: %s\nfile: '%s'\n%s", strerror(errno), current_fname, discard_incomplete_file());
      fdes = fileno(fd);
    }
  else if(hdf5_file >= 0)
    {
      void *handle = nullptr;
      if(H5Fget_vfd_handle(hdf5_file, H5P_DEFAULT, &handle) >= 0 && handle)
        fdes = *static_cast<int *>(handle);
    }
  if(fdes >= 0)
    sync_file_range(fdes, 0, 0, SYNC_FILE_RANGE_WRITE);
}

long long IO_Def::file_tell(FILE *fd)
{
  off_t pos = ftello(fd);
  if(pos < 0)
    FATAL_ERROR("cannot tell the position in file '%s': %s\n", current_fname, strerror(errno));
  return (long long)pos;
}

// Buffered bytes reach the file before the position moves; a failure to
// write them is reported as what it is.
void IO_Def::file_seek(FILE *fd, long long pos)
{
  if(fflush(fd) != 0)
    FATAL_ERROR("I/O error (fflush) has occured: %s\nfile: '%s'\n%s", strerror(errno), current_fname, discard_incomplete_file());
  if(fseeko(fd, (off_t)pos, SEEK_SET) != 0)
    FATAL_ERROR("I/O error (fseek) has occured: %s\nfile: '%s'\n%s", strerror(errno), current_fname, discard_incomplete_file());
}

int IO_Def::get_bytes_per_memory_blockelement(int blocknr, int mode)
{
  CHECK_BLOCKNR(blocknr);
  return bytes_per_memory_value(IO_Fields[blocknr].type_in_memory) * IO_Fields[blocknr].values_per_block;
}

int IO_Def::get_bytes_per_file_value(int blocknr) { return (int)my_H5Tget_size(get_hdf5_outputtype_of_block(blocknr)); }

hid_t IO_Def::get_hdf5_outputtype_of_block(int blocknr)
{
  CHECK_BLOCKNR(blocknr);
  switch(IO_Fields[blocknr].type_in_file_output)
    {
      case FILE_INT:
        return H5T_NATIVE_INT;
      case FILE_INT64:
        return H5T_NATIVE_INT64;
      case FILE_MY_IO_FLOAT:
        return H5T_NATIVE_FLOAT;
      case FILE_HALF:
        return Halfprec_memtype;
      case FILE_MY_ID_TYPE:
        return H5T_NATIVE_UINT32;
      case FILE_MY_INTPOS_TYPE:
        return H5T_NATIVE_UINT64;
      case FILE_DOUBLE:
        return H5T_NATIVE_DOUBLE;
      case FILE_FLOAT:
        return H5T_NATIVE_FLOAT;
      case FILE_NONE:
        break;
    }
  FATAL_ERROR("undefined type");
}

hid_t IO_Def::get_hdf5_memorytype_of_block(int blocknr)
{
  CHECK_BLOCKNR(blocknr);
  switch(IO_Fields[blocknr].type_in_memory)
    {
      case MEM_INT:
        return H5T_NATIVE_INT;
      case MEM_INT64:
      case MEM_MY_FILEOFFSET:
        return H5T_NATIVE_INT64;
      case MEM_MY_ID_TYPE:
        return H5T_NATIVE_UINT32;
      case MEM_MY_INTPOS_TYPE:
        return H5T_NATIVE_UINT64;
      case MEM_FLOAT:
        return H5T_NATIVE_FLOAT;
      case MEM_DOUBLE:
      case MEM_MY_FLOAT:
      case MEM_MY_DOUBLE:
        return H5T_NATIVE_DOUBLE;
    }
  FATAL_ERROR("undefined type");
}

int IO_Def::get_particles_in_block(int blocknr, long long *npart_file, int *typelist)
{
  CHECK_BLOCKNR(blocknr);
  long long npart = 0;
  int tl          = IO_Fields[blocknr].typelist;

  for(int g = 0; g < N_DataGroups; g++)
    {
      typelist[g] = 0;
      bool sel    = false;
      if(tl >= 0)
        sel = (tl & (1 << g)) != 0;
      else if(g < NTYPES)
        {
          switch(tl)
            {
              case -1:  // individual masses
                sel = All.MassTable[g] == 0;
                break;
              case -2:  // stellar ages
                sel = g == 4 || ((g == 2 || g == 3) && file_format == 3);
                break;
              case -3:  // metallicities
                sel = g == 0 || g == 4 || ((g == 2 || g == 3) && file_format == 3);
                break;
              default:
                sel = false;
            }
        }
      if(sel && npart_file[g] > 0)
        {
          typelist[g] = 1;
          npart += npart_file[g];
        }
    }

  if(npart > INT_MAX)
    FATAL_ERROR("block %d (%s) holds %lld elements in one file, more than a file of this set can describe; use more files\n",
                blocknr, IO_Fields[blocknr].datasetname, npart);
  return (int)npart;
}

/* ------------------------------------------------------------------------ */
/* buffers and conversion                                                   */
/* ------------------------------------------------------------------------ */

int IO_Def::find_type_run(int from, int type, int limit, int *first)
{
  while(get_type_of_element(from) != type)
    from++;
  *first  = from;
  int len = 1;
  while(len < limit && get_type_of_element(from + len) == type)
    len++;
  return len;
}

void IO_Def::prepare_read_records(int first, int count, int type)
{
  if(type >= 0)
    for(int n = 0; n < count; n++)
      set_type_of_element(first + n, type);
}

void IO_Def::set_field_range_func(const char *label, void (*io_range)(IO_Def *, int, int, void *, int))
{
  for(int i = 0; i < N_IO_Fields; i++)
    if(strncmp(IO_Fields[i].label, label, 4) == 0)
      IO_Fields[i].io_range = io_range;
}

// Strided gathers and scatters between the record arrays and a packed buffer.
// A fixed element size lets the compiler turn each copy into a few moves; the
// size is dispatched once per run rather than once per element.
namespace
{
template <int B>
inline void strided_copy_fixed(char *__restrict dst, size_t dstride, const char *__restrict src, size_t sstride, int len)
{
  for(int i = 0; i < len; i++)
    memcpy(dst + (size_t)i * dstride, src + (size_t)i * sstride, B);
}

void strided_copy(char *dst, size_t dstride, const char *src, size_t sstride, int B, int len)
{
  switch(B)
    {
      case 4:
        return strided_copy_fixed<4>(dst, dstride, src, sstride, len);
      case 8:
        return strided_copy_fixed<8>(dst, dstride, src, sstride, len);
      case 12:
        return strided_copy_fixed<12>(dst, dstride, src, sstride, len);
      case 16:
        return strided_copy_fixed<16>(dst, dstride, src, sstride, len);
      case 24:
        return strided_copy_fixed<24>(dst, dstride, src, sstride, len);
      default:
        for(int i = 0; i < len; i++)
          memcpy(dst + (size_t)i * dstride, src + (size_t)i * sstride, B);
    }
}

// Record fields into a packed buffer, and back.
inline void gather(char *out, const char *src, size_t stride, int B, int len) { strided_copy(out, B, src, stride, B, len); }
inline void scatter(char *dst, const char *in, size_t stride, int B, int len) { strided_copy(dst, stride, in, B, B, len); }
}  // namespace

void IO_Def::gather_field(const IO_Field *f, int B, int first, int len, char *out)
{
  if(f->io_range)
    f->io_range(this, first, len, out, 0);
  else if(f->io_func)
    for(int i = 0; i < len; i++)
      f->io_func(this, first + i, f->values_per_block, out + (size_t)i * B, 0);
  else if(f->array == A_NONE)
    gather(out, (const char *)f->offset, 0, B, len);
  else
    {
      // the stride is taken from two neighbouring records of the run, so no
      // element outside the run is addressed
      const char *base = (const char *)get_base_address_of_structure(f->array, first);
      size_t stride    = len > 1 ? (size_t)((const char *)get_base_address_of_structure(f->array, first + 1) - base) : 0;
      gather(out, base + f->offset, stride, B, len);
    }
}

void IO_Def::scatter_field(const IO_Field *f, int B, int first, int len, const char *in)
{
  if(f->io_range)
    f->io_range(this, first, len, (void *)in, 1);
  else if(f->io_func)
    for(int i = 0; i < len; i++)
      f->io_func(this, first + i, f->values_per_block, (void *)(in + (size_t)i * B), 1);
  else if(f->array == A_NONE)
    scatter((char *)f->offset, in, 0, B, len);
  else
    {
      char *base    = (char *)get_base_address_of_structure(f->array, first);
      size_t stride = len > 1 ? (size_t)((char *)get_base_address_of_structure(f->array, first + 1) - base) : 0;
      scatter(base + f->offset, in, stride, B, len);
    }
}

// The record arrays the fields of a piece live in, with their strides.
int IO_Def::piece_arrays(const piece_block *blocks, int nblocks, record_array *out)
{
  int n = 0;
  for(int j = 0; j < nblocks; j++)
    {
      enum arrays a = IO_Fields[blocks[j].blocknr].array;
      if(a == A_NONE)
        continue;
      bool seen = false;
      for(int i = 0; i < n; i++)
        seen = seen || out[i].array == a;
      if(seen || n == MAX_PIECE_ARRAYS)
        continue;
      char *base = (char *)get_base_address_of_structure(a, 0);
      out[n++]   = {a, base, (size_t)((char *)get_base_address_of_structure(a, 1) - base)};
    }
  return n;
}

// Asks for the records of elements first ... first + count - 1 while the
// current ones are being copied; a miss per record line is what bounds the
// field copies otherwise.
static inline void prefetch_records(const IO_Def::record_array *arr, int narr, int first, int count, bool for_write)
{
  for(int a = 0; a < narr; a++)
    {
      const char *p   = arr[a].base + (size_t)first * arr[a].stride;
      const char *end = p + (size_t)count * arr[a].stride;
      for(; p < end; p += 64)
        {
          if(for_write)
            __builtin_prefetch(p, 1, 3);
          else
            __builtin_prefetch(p, 0, 3);
        }
    }
}

char *IO_Def::piece_scratch_for(const piece_block *blocks, int nblocks)
{
  size_t need = 0;
  for(int j = 0; j < nblocks; j++)
    need = std::max(need, (size_t)PIECE_STRIDE * get_bytes_per_memory_blockelement(blocks[j].blocknr, 0));
  if(piece_scratch.size() < need)
    piece_scratch.resize(need);
  return piece_scratch.data();
}

// Every field of the piece is taken from the same few hundred records before
// moving on, so each record is brought into the cache once per file rather
// than once per field. Block j of the piece holds pc elements of
// blocks[j].bytes each, in the file's representation.
void IO_Def::fill_write_piece(int type, const piece_block *blocks, int nblocks, int *startindex, int pc, char *buf)
{
  for(int j = 0; j < nblocks; j++)
    if(IO_Fields[blocks[j].blocknr].type_in_memory == MEM_MY_FILEOFFSET)
      FATAL_ERROR("ERROR in fill_write_buffer: Type not found!\n");

  char *tmp   = piece_scratch_for(blocks, nblocks);
  bool filter = type_of_file == FILE_IS_SNAPSHOT && type < NTYPES;
  int pindex  = *startindex;
  int run_first[PIECE_STRIDE], run_len[PIECE_STRIDE];
  record_array arr[MAX_PIECE_ARRAYS];
  int narr = piece_arrays(blocks, nblocks, arr);
  prefetch_records(arr, narr, pindex, std::min(PIECE_STRIDE, pc), false);

  for(int done = 0; done < pc;)
    {
      int k = std::min(PIECE_STRIDE, pc - done), nruns = 0;
      for(int got = 0; got < k; nruns++)
        {
          int first = pindex, len = k - got;
          if(filter)
            len = find_type_run(pindex, type, k - got, &first);
          run_first[nruns] = first;
          run_len[nruns]   = len;
          got += len;
          pindex = first + len;
        }
      // the next elements of this type usually follow on directly
      prefetch_records(arr, narr, pindex, std::min(PIECE_STRIDE, pc - done - k), false);

      size_t seg = 0;
      for(int j = 0; j < nblocks; j++)
        {
          const IO_Field *f = &IO_Fields[blocks[j].blocknr];
          int B = get_bytes_per_memory_blockelement(blocks[j].blocknr, 0), F = blocks[j].bytes;
          char *dst = buf + seg + (size_t)done * F;
          char *out = B == F ? dst : tmp;
          for(int r = 0, at = 0; r < nruns; at += run_len[r++])
            gather_field(f, B, run_first[r], run_len[r], out + (size_t)at * B);
          if(B != F)
            type_cast_data(tmp, B, dst, F, k, blocks[j].blocknr);
          seg += (size_t)pc * F;
        }
      done += k;
    }

  *startindex = pindex;
}

// The reverse of fill_write_piece for elements first ... first + pc - 1, which
// are consecutive records; their type is set first when type >= 0.
void IO_Def::empty_read_piece(int type, const piece_block *blocks, int nblocks, int first, int pc, long long nprevious, const char *buf)
{
  char *tmp = piece_scratch_for(blocks, nblocks);
  record_array arr[MAX_PIECE_ARRAYS];
  int narr = piece_arrays(blocks, nblocks, arr);
  prefetch_records(arr, narr, first, std::min(PIECE_STRIDE, pc), true);

  for(int done = 0; done < pc;)
    {
      int k      = std::min(PIECE_STRIDE, pc - done);
      size_t seg = 0;
      prefetch_records(arr, narr, first + done + k, std::min(PIECE_STRIDE, pc - done - k), true);
      prepare_read_records(first + done, k, type);
      for(int j = 0; j < nblocks; j++)
        {
          const IO_Field *f = &IO_Fields[blocks[j].blocknr];
          int B = get_bytes_per_memory_blockelement(blocks[j].blocknr, 0), F = blocks[j].bytes;
          if(f->type_in_memory == MEM_MY_FILEOFFSET)
            {
              // position in the type-ordered sequence of the whole set
              char *base    = (char *)get_base_address_of_structure(f->array, first + done);
              size_t stride = k > 1 ? (size_t)((char *)get_base_address_of_structure(f->array, first + done + 1) - base) : 0;
              for(int n = 0; n < k; n++)
                {
                  long long v = nprevious + done + n;
                  memcpy(base + (size_t)n * stride + f->offset, &v, sizeof(v));
                }
              continue;
            }
          const char *src = buf + seg + (size_t)done * F;
          if(B != F)
            {
              type_cast_data((char *)src, F, tmp, B, k, blocks[j].blocknr);
              src = tmp;
            }
          scatter_field(f, B, first + done, k, src);
          seg += (size_t)pc * F;
        }
      done += k;
    }
}
// The conversion is chosen by the per-value sizes (element size divided by the
// values per element), so a two-component half field is not mistaken for a
// float one.
namespace
{
// HDF5 clamps integers that do not fit the memory type; a clamped ID or count
// is silently wrong data, so such a conversion is refused instead.
H5T_conv_ret_t refuse_integer_overflow(H5T_conv_except_t except, hid_t, hid_t dst, void *, void *, void *flag)
{
  if((except == H5T_CONV_EXCEPT_RANGE_HI || except == H5T_CONV_EXCEPT_RANGE_LOW) && H5Tget_class(dst) == H5T_INTEGER)
    {
      *static_cast<bool *>(flag) = true;
      return H5T_CONV_ABORT;
    }
  return H5T_CONV_UNHANDLED;
}
}  // namespace

void IO_Def::read_hdf5_checked(hid_t dset, hid_t memtype, hid_t mspace, hid_t fspace, void *buf, const char *fname, const char *dsname,
                               int type)
{
  static bool overflow;
  static hid_t dxpl = -1;
  if(dxpl < 0)
    {
      dxpl = H5Pcreate(H5P_DATASET_XFER);
      if(dxpl < 0 || H5Pset_type_conv_cb(dxpl, refuse_integer_overflow, &overflow) < 0)
        FATAL_ERROR("cannot set up the checked HDF5 read of dataset '%s'\n", dsname);
    }
  overflow = false;
  herr_t status = H5Dread(dset, memtype, mspace, fspace, dxpl, buf);
  if(overflow)
    FATAL_ERROR("file '%s': dataset '%s' of particle type %d holds integers that do not fit the %d-byte type of this build\n", fname, dsname,
                type, (int)H5Tget_size(memtype));
  if(status < 0)
    FATAL_ERROR("file '%s': error reading dataset '%s' of particle type %d\n", fname, dsname, type);
}

void IO_Def::type_cast_data(char *src, int src_bytes_per_element, char *target, int target_bytes_per_element, int len, int blocknr)
{
  IO_Field *f = &IO_Fields[blocknr];
  int vpb     = f->values_per_block;
  int S       = src_bytes_per_element / vpb;
  int T       = target_bytes_per_element / vpb;
  long long n = (long long)len * vpb;

  if(is_integer_memory_type(f->type_in_memory))
    {
      bool is_unsigned = f->type_in_memory == MEM_MY_ID_TYPE || f->type_in_memory == MEM_MY_INTPOS_TYPE;
      if(T > S)
        {
          if(T != 2 * S)
            FATAL_ERROR("something is odd here: target_bytes_per_element=%d != 2 * src_bytes_per_element=%d", target_bytes_per_element,
                        src_bytes_per_element);
          // unsigned quantities are zero-extended, signed ones sign-extended
          for(long long i = 0; i < n; i++)
            {
              int32_t v;
              memcpy(&v, src + 4 * i, 4);
              int64_t w = is_unsigned ? (int64_t)(uint32_t)v : (int64_t)v;
              memcpy(target + 8 * i, &w, 8);
            }
        }
      else
        {
          if(S != 2 * T)
            FATAL_ERROR("something is odd here: src_bytes_per_element=%d != 2 * target_bytes_per_element=%d", src_bytes_per_element,
                        target_bytes_per_element);
          for(long long i = 0; i < n; i++)
            {
              int64_t w;
              memcpy(&w, src + 8 * i, 8);
              bool fits = is_unsigned ? ((uint64_t)w >> 32) == 0 : (w >= INT32_MIN && w <= INT32_MAX);
              if(!fits)
                FATAL_ERROR(
                    "file '%s', block %d (%s): value %lld does not fit into 32 bits (64-bit values in the file, 32-bit in "
                    "memory?)\n",
                    current_fname, blocknr, f->datasetname, (long long)w);
              int32_t v = (int32_t)w;
              memcpy(target + 4 * i, &v, 4);
            }
        }
      return;
    }

  using half_float::half;
  if(S == 4 && T == 8)
    for(long long i = 0; i < n; i++)
      {
        float a;
        memcpy(&a, src + 4 * i, 4);
        double d = a;
        memcpy(target + 8 * i, &d, 8);
      }
  else if(S == 8 && T == 4)
    for(long long i = 0; i < n; i++)
      {
        double d;
        memcpy(&d, src + 8 * i, 8);
        float a = (float)d;
        memcpy(target + 4 * i, &a, 4);
      }
  else if(S == 2 && (T == 4 || T == 8))
    for(long long i = 0; i < n; i++)
      {
        half h;
        memcpy(&h, src + 2 * i, 2);
        float a = h;
        if(T == 4)
          memcpy(target + 4 * i, &a, 4);
        else
          {
            double d = a;
            memcpy(target + 8 * i, &d, 8);
          }
      }
  else if((S == 4 || S == 8) && T == 2)
    for(long long i = 0; i < n; i++)
      {
        half h;
        if(S == 4)
          {
            float a;
            memcpy(&a, src + 4 * i, 4);
            h = half(a);
          }
        else
          {
            double d;
            memcpy(&d, src + 8 * i, 8);
            h = half(d);
          }
        memcpy(target + 2 * i, &h, 2);
      }
  else
    FATAL_ERROR("Strange conversion requested: target_bytes_per_element=%d  src_bytes_per_element=%d\n", target_bytes_per_element,
                src_bytes_per_element);
}

// Chooses piece [first, first + pc) of a dataset in the file space and
// returns the matching memory space, which the caller closes after the transfer.
static hid_t select_piece(hid_t fspace, int rank, hsize_t first, int pc, int values_per_block)
{
  hsize_t start[2] = {first, 0};
  hsize_t count[2] = {(hsize_t)pc, (hsize_t)values_per_block};
  my_H5Sselect_hyperslab(fspace, H5S_SELECT_SET, start, nullptr, count, nullptr);
  return my_H5Screate_simple(rank, count, nullptr);
}

// Groups were opened only for types present in the file; they are closed in
// reverse order of opening.
void IO_Def::close_datagroups(hid_t *grp, const long long *n)
{
  for(int g = N_DataGroups - 1; g >= 0; g--)
    if(n[g] > 0)
      {
        char gname[256];
        get_datagroup_name(g, gname);
        my_H5Gclose(grp[g], gname);
      }
}

/* ------------------------------------------------------------------------ */
/* task grouping and writer sequencing                                      */
/* ------------------------------------------------------------------------ */

int IO_Def::effective_max_concurrent() const
{
  int max = MaxFilesWithConcurrentIO;
  if(max < 1 || max > NTask)
    max = NTask;
  return max;
}

void IO_Def::distribute_file(int nfiles, int *filenr, int *master, int *last)
{
  if(nfiles < 1 || nfiles > NTask)
    FATAL_ERROR("cannot spread %d files over %d tasks\n", nfiles, NTask);

  if(NTask % nfiles == 0)
    {
      int g   = NTask / nfiles;
      *filenr = ThisTask / g;
      *master = *filenr * g;
      *last   = (*filenr + 1) * g - 1;
      return;
    }

  double tpf = ((double)NTask) / nfiles;
  *last      = -1;
  for(int k = 0; k < nfiles; k++)
    {
      *master = *last + 1;
      *last   = (int)((k + 1) * tpf);
      if(*last >= NTask)
        *last = *last - 1;
      if(*last < *master)
        FATAL_ERROR("last < master");
      if(k == nfiles - 1)
        *last = NTask - 1;
      if(ThisTask >= *master && ThisTask <= *last)
        {
          *filenr = k;
          return;
        }
    }
}

void IO_Def::polling(int numfilesperdump)
{
  if(ThisTask != 0 || !seq)
    return;
  if(files_completed >= numfilesperdump)
    return;

  int flag;
  MPI_Status status;
  MPI_Iprobe(MPI_ANY_SOURCE, 14, Communicator, &flag, &status);
  if(flag)
    {
      int source;
      MPI_Recv(&source, 1, MPI_INT, status.MPI_SOURCE, 14, Communicator, MPI_STATUS_IGNORE);
      files_completed++;
      if(files_started < numfilesperdump)
        {
          int dummy = 0;
          MPI_Ssend(&dummy, 1, MPI_INT, seq[files_started++].thistask, 10, Communicator);
        }
    }
}

void IO_Def::write_multiple_files(char *fname, int numfilesperdump, int append_flag, int chunksize)
{
  if(numfilesperdump < 1)
    FATAL_ERROR("a file set needs at least one file, but %d were asked for\n", numfilesperdump);
  if(numfilesperdump > NTask)
    FATAL_ERROR("%d files cannot be written by %d tasks; use at most one file per task\n", numfilesperdump, NTask);

  if(ThisTask == 0)
    seq = (seq_data *)mymalloc("seq", NTask * sizeof(seq_data));
  void *CommBuffer = mymalloc("CommBuffer", COMMBUFFERSIZE);

  int filenr, masterTask, lastTask;
  distribute_file(numfilesperdump, &filenr, &masterTask, &lastTask);

  char buf[MAXLEN_PATH_EXTRA];
  if(numfilesperdump > 1)
    build_name(buf, sizeof(buf), "%s.%d", fname, filenr);
  else
    build_name(buf, sizeof(buf), "%s", fname);

  seq_data seq_loc = {ThisTask == masterTask ? ThisTask : -1, RankInThisNode, ThisNode};
  MPI_Gather(&seq_loc, sizeof(seq_data), MPI_BYTE, seq, sizeof(seq_data), MPI_BYTE, 0, Communicator);

  int max = effective_max_concurrent();

  if(ThisTask == 0)
    {
      int count = NTask;
      for(int i = 0; i < count;)
        if(seq[i].thistask < 0)
          seq[i] = seq[--count];
        else
          i++;
      if(count != numfilesperdump)
        FATAL_ERROR("count=%d != numfilesperdump=%d", count, numfilesperdump);
      std::sort(seq, seq + count);
      if(seq[0].thistask != 0)
        FATAL_ERROR("task 0 is expected to head the writer list, found task %d\n", seq[0].thistask);

      files_started   = 1;
      files_completed = 0;
      int first_wave  = std::min(numfilesperdump, max);
      for(int i = 1; i < first_wave; i++)
        {
          int dummy = 0;
          MPI_Ssend(&dummy, 1, MPI_INT, seq[i].thistask, 10, Communicator);
          files_started++;
        }

      write_file(buf, masterTask, lastTask, CommBuffer, numfilesperdump, chunksize);

      files_completed++;
      if(files_started < numfilesperdump)
        {
          int dummy = 0;
          MPI_Ssend(&dummy, 1, MPI_INT, seq[files_started++].thistask, 10, Communicator);
        }
      while(files_completed < numfilesperdump)
        polling(numfilesperdump);
    }
  else if(ThisTask == masterTask)
    {
      int dummy;
      MPI_Recv(&dummy, 1, MPI_INT, 0, 10, Communicator, MPI_STATUS_IGNORE);
      write_file(buf, masterTask, lastTask, CommBuffer, numfilesperdump, chunksize);
      MPI_Ssend(&ThisTask, 1, MPI_INT, 0, 14, Communicator);
    }
  else
    write_file(buf, masterTask, lastTask, CommBuffer, numfilesperdump, chunksize);

  myfree(CommBuffer);
  if(ThisTask == 0)
    {
      myfree(seq);
      seq = nullptr;
    }
}

/* ------------------------------------------------------------------------ */
/* writing one file                                                         */
/* ------------------------------------------------------------------------ */

// Formats 1 and 2 describe every record by a signed 32-bit length (format 2
// also stores length + 8); refuse a layout that cannot be expressed before any
// byte is written.
void IO_Def::check_record_length_words(int writeTask, const long long *ntot_type)
{
  if(file_format != 1 && file_format != 2)
    return;
  long long limit = (long long)INT_MAX - 8;
  for(int blocknr = 0; blocknr < N_IO_Fields; blocknr++)
    {
      if(IO_Fields[blocknr].type_in_file_output == FILE_NONE)
        continue;
      int typelist[MAX_DATAGROUPS];
      long long n = get_particles_in_block(blocknr, (long long *)ntot_type, typelist);
      long long bytes = n * get_bytes_per_file_value(blocknr) * IO_Fields[blocknr].values_per_block;
      if(bytes > limit)
        FATAL_ERROR(
            "block %d (%s) of file '%s' would be %lld bytes long, more than the 32-bit record length of format %d can hold;\n"
            "write the snapshot in more files (NumFilesPerSnapshot) or in format 3\n",
            blocknr, IO_Fields[blocknr].datasetname, current_fname, bytes, file_format);
    }
}

// A format-2 label record: the label and the byte distance to the next label.
void IO_Def::write_block_label(FILE *fd, const char *label, int nextblock)
{
  int eight = 8;
  my_fwrite(&eight, sizeof(int), 1, fd);
  my_fwrite(label, 4, 1, fd);
  my_fwrite(&nextblock, sizeof(int), 1, fd);
  my_fwrite(&eight, sizeof(int), 1, fd);
}

// The HDF5 helpers end the run as soon as a call fails; the library reports
// the failure first through this hook, which removes the incomplete file.
herr_t IO_Def::discard_on_hdf5_error(hid_t estack, void *client_data)
{
  hdf5_discard_hook *h = static_cast<hdf5_discard_hook *>(client_data);
  if(h->owner->discard_on_error)
    printf("%s", h->owner->discard_incomplete_file());
  return h->chained ? h->chained(estack, h->chained_data) : 0;
}

void IO_Def::write_file(char *fname, int writeTask, int lastTask, void *CommBuffer, int numfilesperdump, int chunksize)
{
  if(N_DataGroups > MAX_DATAGROUPS)
    FATAL_ERROR("N_DataGroups=%d exceeds MAX_DATAGROUPS=%d", N_DataGroups, MAX_DATAGROUPS);

  long long n_type[MAX_DATAGROUPS], ntot_type[MAX_DATAGROUPS];
  int typelist[MAX_DATAGROUPS];
  fill_file_header(writeTask, lastTask, n_type, ntot_type);

  char final_name[MAXLEN_PATH_EXTRA], partial_name[MAXLEN_PATH_EXTRA + 16];
  if(file_format == 3)
    build_name(final_name, sizeof(final_name), "%s.hdf5", fname);
  else
    build_name(final_name, sizeof(final_name), "%s", fname);
  build_name(partial_name, sizeof(partial_name), "%s%s", final_name, PARTIAL_SUFFIX);
  strcpy(current_fname, final_name);
  stream_name = current_fname;

  FILE *fd          = nullptr;
  hid_t hdf5_file   = -1;
  hid_t hdf5_grp[MAX_DATAGROUPS];
  hid_t hdf5_headergrp = -1, hdf5_paramsgrp = -1, hdf5_configgrp = -1;

  if(ThisTask == writeTask)
    {
      check_record_length_words(writeTask, ntot_type);

      mpi_printf("%s file: '%s' (file 1 of %d)\n", info, fname, numfilesperdump);

      if(file_format == 3)
        {
          H5Eget_auto2(H5E_DEFAULT, &hdf5_discard.chained, &hdf5_discard.chained_data);
          hdf5_discard.owner = this;
          H5Eset_auto2(H5E_DEFAULT, discard_on_hdf5_error, &hdf5_discard);
          discard_on_error = partial_name;
          hdf5_file      = my_H5Fcreate(partial_name, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
          hdf5_headergrp = my_H5Gcreate(hdf5_file, "/Header", 0);
          write_header_fields(hdf5_headergrp);
          hdf5_paramsgrp = my_H5Gcreate(hdf5_file, "/Parameters", 0);
          write_parameters_attributes_in_hdf5(hdf5_paramsgrp);
          hdf5_configgrp = my_H5Gcreate(hdf5_file, "/Config", 0);
          write_compile_time_options_in_hdf5(hdf5_configgrp);

          for(int g = 0; g < N_DataGroups; g++)
            if(ntot_type[g] > 0)
              {
                char gname[256];
                get_datagroup_name(g, gname);
                hdf5_grp[g] = my_H5Gcreate(hdf5_file, gname, 0);
              }
        }
      else if(file_format == 1 || file_format == 2)
        {
          if(!(fd = fopen(partial_name, "w")))
            FATAL_ERROR("can't open file `%s' for writing.\n", partial_name);
          discard_on_error = partial_name;

          if(file_format == 2)
            write_block_label(fd, "HEAD", header_size + 8);
          int blksize = header_size;
          my_fwrite(&blksize, sizeof(int), 1, fd);
          my_fwrite(header_buf, header_size, 1, fd);
          my_fwrite(&blksize, sizeof(int), 1, fd);
        }
      else
        FATAL_ERROR("unknown file format %d for file '%s'\n", file_format, final_name);
    }

  // The layout of the file follows from the counts alone, so it is laid out
  // first: one record per block (formats 1 and 2, written around a gap that
  // the pieces fill) or one dataset per block and group (format 3). The pieces
  // then carry every field of a run of elements, and each field's part goes
  // to its own place in the file.
  const int G = N_DataGroups;
  std::vector<std::vector<piece_block>> group_blocks(G);
  std::vector<long long> data_at((size_t)N_IO_Fields * G, -1);
  std::vector<hid_t> dsets((size_t)N_IO_Fields * G, -1), fspaces((size_t)N_IO_Fields * G, -1);

  for(int blocknr = 0; blocknr < N_IO_Fields; blocknr++)
    {
      IO_Field *f = &IO_Fields[blocknr];
      if(f->type_in_file_output == FILE_NONE)
        continue;
      long long np = get_particles_in_block(blocknr, ntot_type, typelist);
      if(np == 0)
        continue;

      mpi_printf("%s block %d (%s)...\n", info, blocknr, f->datasetname);

      int F        = get_bytes_per_file_value(blocknr) * f->values_per_block;
      bool by_hdf5 = file_format == 3 && !same_value_class(blocknr);
      for(int g = 0; g < G; g++)
        if(typelist[g])
          group_blocks[g].push_back({blocknr, by_hdf5 ? get_bytes_per_memory_blockelement(blocknr, 0) : F, by_hdf5});

      if(ThisTask != writeTask)
        continue;

      if(file_format == 3)
        {
          int rank = f->values_per_block == 1 ? 1 : 2;
          for(int g = 0; g < G; g++)
            if(typelist[g])
              {
                size_t k        = (size_t)blocknr * G + g;
                hsize_t dims[2] = {(hsize_t)ntot_type[g], (hsize_t)f->values_per_block};
                fspaces[k]      = my_H5Screate_simple(rank, dims, nullptr);
                dsets[k] = my_H5Dcreate(hdf5_grp[g], f->datasetname, get_hdf5_outputtype_of_block(blocknr), fspaces[k], H5P_DEFAULT);
                write_dataset_attributes(dsets[k], blocknr);
                byte_count += (long long)get_bytes_per_file_value(blocknr) * ntot_type[g] * f->values_per_block;
              }
        }
      else
        {
          int blksize = (int)(np * F);  // range checked in check_record_length_words
          if(file_format == 2)
            write_block_label(fd, f->label, blksize + 8);
          my_fwrite(&blksize, sizeof(int), 1, fd);
          long long at = file_tell(fd);
          for(int g = 0; g < G; g++)
            if(typelist[g])
              {
                data_at[(size_t)blocknr * G + g] = at;
                at += ntot_type[g] * F;
              }
          file_seek(fd, at);
          my_fwrite(&blksize, sizeof(int), 1, fd);
        }
    }

  for(int g = 0; g < G; g++)
    {
      const std::vector<piece_block> &blocks = group_blocks[g];
      if(blocks.empty())
        continue;
      size_t per = 0;
      for(const piece_block &b : blocks)
        per += b.bytes;
      int maxlen = (int)std::max<size_t>(1, PIECE_BYTES / per);

      long long pcsum = 0;
      int startindex  = 0;
      for(int task = writeTask; task <= lastTask; task++)
        {
          int n_for_this_task = 0;
          if(ThisTask == task)
            {
              n_for_this_task = (int)n_type[g];
              for(int p = writeTask; p <= lastTask; p++)
                if(p != task)
                  MPI_Send(&n_for_this_task, 1, MPI_INT, p, 24, Communicator);
            }
          else
            MPI_Recv(&n_for_this_task, 1, MPI_INT, task, 24, Communicator, MPI_STATUS_IGNORE);

          while(n_for_this_task > 0)
            {
              polling(numfilesperdump);
              int pc = std::min(n_for_this_task, maxlen);

              if(ThisTask == task)
                fill_write_piece(g, blocks.data(), (int)blocks.size(), &startindex, pc, (char *)CommBuffer);

              if(ThisTask == writeTask && task != writeTask)
                MPI_Recv(CommBuffer, (int)(per * pc), MPI_BYTE, task, 12, Communicator, MPI_STATUS_IGNORE);

              if(ThisTask != writeTask && task == ThisTask)
                MPI_Ssend(CommBuffer, (int)(per * pc), MPI_BYTE, writeTask, 12, Communicator);

              if(ThisTask == writeTask)
                {
                  const char *seg = (const char *)CommBuffer;
                  for(const piece_block &b : blocks)
                    {
                      size_t k = (size_t)b.blocknr * G + g;
                      if(file_format == 3)
                        {
                          IO_Field *f  = &IO_Fields[b.blocknr];
                          int rank     = f->values_per_block == 1 ? 1 : 2;
                          hid_t mspace = select_piece(fspaces[k], rank, pcsum, pc, f->values_per_block);
                          hid_t mtype  = b.by_hdf5 ? get_hdf5_memorytype_of_block(b.blocknr) : get_hdf5_outputtype_of_block(b.blocknr);
                          my_H5Dwrite(dsets[k], mtype, mspace, fspaces[k], H5P_DEFAULT, seg, f->datasetname);
                          my_H5Sclose(mspace, H5S_SIMPLE);
                        }
                      else
                        {
                          file_seek(fd, data_at[k] + pcsum * b.bytes);
                          my_fwrite(seg, b.bytes, pc, fd);
                        }
                      seg += (size_t)b.bytes * pc;
                    }
                  pcsum += pc;
                  start_writeback(fd, hdf5_file);
                }

              n_for_this_task -= pc;
            }
        }
    }

  if(ThisTask == writeTask && file_format == 3)
    for(size_t k = 0; k < dsets.size(); k++)
      if(dsets[k] >= 0)
        {
          my_H5Dclose(dsets[k], IO_Fields[k / G].datasetname);
          my_H5Sclose(fspaces[k], H5S_SIMPLE);
        }

  if(ThisTask == writeTask)
    {
      if(file_format == 3)
        {
          close_datagroups(hdf5_grp, ntot_type);
          my_H5Gclose(hdf5_configgrp, "/Config");
          my_H5Gclose(hdf5_paramsgrp, "/Parameters");
          my_H5Gclose(hdf5_headergrp, "/Header");
          my_H5Fclose(hdf5_file, partial_name);
          H5Eset_auto2(H5E_DEFAULT, hdf5_discard.chained, hdf5_discard.chained_data);
        }
      else
        my_fclose(fd);
      // the old file is given up only once the new one is on the disk
      my_fsync_file(partial_name);
      discard_on_error = nullptr;

      // The new file is complete: keep the old one as backup (unless an older
      // backup exists, which is kept instead) and give the new one its name.
      rename_file_to_bak_if_it_exists(final_name);
      if(rename(partial_name, final_name) != 0)
        FATAL_ERROR("could not rename the completed file '%s' to '%s': %s\n", partial_name, final_name, strerror(errno));
    }

  stream_name = nullptr;
}

void IO_Def::rename_file_to_bak_if_it_exists(char *fname)
{
  char fin[MAXLEN_PATH_EXTRA], buf[MAXLEN_PATH_EXTRA + 8];
  build_name(fin, sizeof(fin), "%s", fname);

  char *p = strrchr(fin, '/');
  if(p)
    {
      *p = 0;
      build_name(buf, sizeof(buf), "%s/bak-%s", fin, p + 1);
    }
  else
    build_name(buf, sizeof(buf), "bak-%s", fname);

  struct stat st;
  if(stat(fname, &st) == 0 && stat(buf, &st) != 0)
    {
      mpi_printf("%s rename '%s' to '%s'\n", info, fname, buf);
      if(rename(fname, buf) != 0)
        RUN_WARNING("could not keep '%s' as the backup '%s' (%s); it will be replaced\n", fname, buf, strerror(errno));
    }
}

void IO_Def::write_dataset_attributes(hid_t hdf5_dataset, int blocknr)
{
  IO_Field *f = &IO_Fields[blocknr];
  if(!f->hasunit)
    return;

  double a = All.ComovingIntegrationOn ? f->a : 0;
  double h = All.ComovingIntegrationOn ? f->h : 0;
  write_scalar_attribute(hdf5_dataset, "a_scaling", &a, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(hdf5_dataset, "h_scaling", &h, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(hdf5_dataset, "length_scaling", &f->L, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(hdf5_dataset, "mass_scaling", &f->M, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(hdf5_dataset, "velocity_scaling", &f->V, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(hdf5_dataset, "to_cgs", &f->c, H5T_NATIVE_DOUBLE);
}

void IO_Def::write_parameters_attributes_in_hdf5(hid_t handle)
{
  for(int i = 0; i < All.NParameters; i++)
    {
      switch(All.ParametersType[i])
        {
          case PARAM_DOUBLE:
            write_scalar_attribute(handle, All.ParametersTag[i], All.ParametersValue[i], H5T_NATIVE_DOUBLE);
            break;
          case PARAM_STRING:
            write_string_attribute(handle, All.ParametersTag[i], (const char *)All.ParametersValue[i]);
            break;
          case PARAM_INT:
            write_scalar_attribute(handle, All.ParametersTag[i], All.ParametersValue[i], H5T_NATIVE_INT);
            break;
        }
    }
}

void IO_Def::write_compile_time_options_in_hdf5(hid_t handle)
{
  for(int i = 0; i < NumCompileTimeOptions; i++)
    {
      const compile_time_option &o = CompileTimeOptions[i];
      if(o.value)
        {
          double v = atof(o.value);
          write_scalar_attribute(handle, o.name, &v, H5T_NATIVE_DOUBLE);
        }
      else
        write_string_attribute(handle, o.name, "");
    }
}

/* ------------------------------------------------------------------------ */
/* reading                                                                  */
/* ------------------------------------------------------------------------ */

long long IO_Def::file_size_remaining(FILE *fd)
{
  long pos = ftell(fd);
  struct stat st;
  if(pos < 0 || fstat(fileno(fd), &st) != 0)
    FATAL_ERROR("cannot determine the size of file '%s': %s\n", current_fname, strerror(errno));
  return (long long)st.st_size - pos;
}

// Only the reader of a file has read its header; the other tasks of its group
// take it from there.
void IO_Def::share_header_in_group(int readTask, int lastTask)
{
  if(ThisTask == readTask)
    for(int task = readTask + 1; task <= lastTask; task++)
      MPI_Ssend(header_buf, header_size, MPI_BYTE, task, 11, Communicator);
  else
    MPI_Recv(header_buf, header_size, MPI_BYTE, readTask, 11, Communicator, MPI_STATUS_IGNORE);
}

// Reads the (optionally labelled) header record and checks its length words.
void IO_Def::read_header_record(FILE *fd, const char *fname)
{
  if(file_format == 2)
    {
      int blksize;
      char label[4];
      int nextblock;
      my_fread(&blksize, sizeof(int), 1, fd);
      my_fread(label, 4, 1, fd);
      my_fread(&nextblock, sizeof(int), 1, fd);
      my_fread(&blksize, sizeof(int), 1, fd);
    }

  int blksize1, blksize2;
  if(file_size_remaining(fd) < (long long)header_size + 8)
    FATAL_ERROR("file '%s' is truncated: expected a header record of %d bytes\n", fname, header_size + 8);
  my_fread(&blksize1, sizeof(int), 1, fd);
  my_fread(header_buf, header_size, 1, fd);
  my_fread(&blksize2, sizeof(int), 1, fd);
  if(blksize1 != header_size || blksize2 != header_size)
    FATAL_ERROR("incorrect VORTAN2 header format, blksize1=%d blksize2=%d  header_size=%d\nfile: '%s'\n", blksize1, blksize2,
                header_size, fname);
}

int IO_Def::find_files(const char *fname, const char *fname_multiple)
{
  char buf[MAXLEN_PATH_EXTRA], buf1[MAXLEN_PATH_EXTRA];
  if(file_format == 3)
    {
      build_name(buf, sizeof(buf), "%s.%d.hdf5", fname_multiple, 0);
      build_name(buf1, sizeof(buf1), "%s.hdf5", fname);
    }
  else
    {
      build_name(buf, sizeof(buf), "%s.%d", fname_multiple, 0);
      build_name(buf1, sizeof(buf1), "%s", fname);
    }

  memset(header_buf, 0, header_size);

  const char *names[2] = {buf, buf1};
  int found            = 0;
  for(int attempt = 0; attempt < 2; attempt++)
    {
      if(ThisTask == 0)
        {
          struct stat st;
          if(stat(names[attempt], &st) == 0)
            {
              strcpy(current_fname, names[attempt]);
              stream_name = current_fname;
              if(file_format == 3)
                read_header_fields(names[attempt]);
              else
                {
                  FILE *fd = fopen(names[attempt], "r");
                  if(!fd)
                    FATAL_ERROR("can't open file `%s' for reading initial conditions.\n", names[attempt]);
                  read_header_record(fd, names[attempt]);
                  fclose(fd);
                }
              if(attempt == 1)
                set_filenr_in_header(1);
              found = 1;
            }
        }

      MPI_Bcast(header_buf, header_size, MPI_BYTE, 0, Communicator);
      MPI_Bcast(&found, 1, MPI_INT, 0, Communicator);

      int nfiles = get_filenr_from_header();
      if(found && nfiles > MAX_FILES_PER_SET)
        FATAL_ERROR("file '%s' says the set has %d files, more than the %d this code accepts; the header is corrupt\n",
                    names[attempt], nfiles, MAX_FILES_PER_SET);
      if(nfiles > 0)
        return nfiles;
    }

  // a lone file was given num_files = 1 above, so only the first file of a set gets here
  if(found)
    FATAL_ERROR("Have found IC files, but number of files in header seems to be zero\nfile: '%s' says num_files=%d\n", buf,
                get_filenr_from_header());
  FATAL_ERROR("\nCan't find files, neither as '%s'\nnor as '%s'\n", buf, buf1);
}

void IO_Def::read_files_driver(const char *fname, int rep, int num_files)
{
  if(num_files < 1)
    FATAL_ERROR("a file set needs at least one file, header of '%s' says %d\n", fname, num_files);
  if(N_DataGroups > MAX_DATAGROUPS)
    FATAL_ERROR("N_DataGroups=%d exceeds MAX_DATAGROUPS=%d", N_DataGroups, MAX_DATAGROUPS);

  // Small (files x groups) and needed across both passes, while the particle
  // storage is allocated between them; so it is kept off the block stack.
  if(rep == 0)
    ntype_in_files = new long long[(size_t)num_files * N_DataGroups]();
  NumFilesInSet = num_files;

  void *CommBuffer = mymalloc("CommBuffer", COMMBUFFERSIZE);
  int max          = effective_max_concurrent();
  const char *ext  = file_format == 3 ? ".hdf5" : "";
  char buf[MAXLEN_PATH_EXTRA];

  int rest = num_files;
  while(rest > NTask)
    {
      build_name(buf, sizeof(buf), "%s.%d%s", fname, rest - NTask + ThisTask, ext);
      int ngroups = (NTask + max - 1) / max;
      for(int gr = 0; gr < ngroups; gr++)
        {
          if(ThisTask % ngroups == gr)
            {
              if(rep == 0)
                share_particle_number_in_file(buf, rest - NTask + ThisTask, ThisTask, ThisTask);
              else
                read_file(buf, rest - NTask + ThisTask, ThisTask, ThisTask, CommBuffer);
            }
          MPI_Barrier(Communicator);
        }
      rest -= NTask;
    }

  if(rest > 0)
    {
      int filenr, masterTask, lastTask;
      distribute_file(rest, &filenr, &masterTask, &lastTask);

      if(num_files > 1)
        build_name(buf, sizeof(buf), "%s.%d%s", fname, filenr, ext);
      else
        build_name(buf, sizeof(buf), "%s%s", fname, ext);

      int ngroups = (rest + max - 1) / max;
      for(int gr = 0; gr < ngroups; gr++)
        {
          if(filenr / max == gr)
            {
              if(rep == 0)
                share_particle_number_in_file(buf, filenr, masterTask, lastTask);
              else
                read_file(buf, filenr, masterTask, lastTask, CommBuffer);
            }
          MPI_Barrier(Communicator);
        }
    }

  myfree(CommBuffer);

  if(rep == 0)
    MPI_Allreduce(MPI_IN_PLACE, ntype_in_files, num_files * N_DataGroups, MPI_LONG_LONG, MPI_SUM, Communicator);
  else
    {
      delete[] ntype_in_files;
      ntype_in_files = nullptr;
    }
}

void IO_Def::share_particle_number_in_file(const char *fname, int filenr, int readTask, int lastTask)
{
  long long n_type[MAX_DATAGROUPS], npart[MAX_DATAGROUPS];
  build_name(current_fname, sizeof(current_fname), "%s", fname);
  stream_name = current_fname;

  if(ThisTask == readTask)
    {
      if(file_format == 3)
        read_header_fields(fname);
      else if(file_format == 1 || file_format == 2)
        {
          FILE *fd = fopen(fname, "r");
          if(!fd)
            FATAL_ERROR("can't open file `%s' for reading initial conditions.\n", fname);
          if(file_format == 2)
            {
              int blksize, nextblock;
              char label[4];
              my_fread(&blksize, sizeof(int), 1, fd);
              my_fread(label, 4, 1, fd);
              my_fread(&nextblock, sizeof(int), 1, fd);
              printf("%s Reading header => '%c%c%c%c' (%d byte)\n", info, label[0], label[1], label[2], label[3], nextblock);
              my_fread(&blksize, sizeof(int), 1, fd);
              fseek(fd, 0, SEEK_SET);
            }
          read_header_record(fd, fname);
          fclose(fd);
        }
      else
        FATAL_ERROR("illegal format");
    }
  share_header_in_group(readTask, lastTask);

  read_file_header(fname, filenr, readTask, lastTask, n_type, npart, nullptr);

  if(ThisTask == readTask)
    {
      mpi_printf("READIC: Reading file `%s' on task=%d and distribute it to %d to %d.\n", fname, ThisTask, readTask, lastTask);
      myflush(stdout);
    }

  for(int g = 0; g < N_DataGroups; g++)
    {
      // only the reader records the file's counts; the table is summed over tasks
      if(ThisTask == readTask)
        ntype_in_files[(size_t)filenr * N_DataGroups + g] = npart[g];
      read_increase_numbers(g, (int)share_of(npart[g], ThisTask - readTask, lastTask - readTask + 1));
    }
}

// A legacy file has no labels, so a block that is not wanted must still be
// stepped over, or every later block would be taken from the wrong record.
void IO_Def::skip_record(FILE *fd, int blocknr)
{
  int N1, N2;
  my_fread(&N1, sizeof(int), 1, fd);
  if(N1 < 0 || N1 > file_size_remaining(fd) - 4)
    FATAL_ERROR("file '%s' is truncated or corrupt: block %d (%s) claims %d bytes, %lld remain\n", current_fname, blocknr,
                IO_Fields[blocknr].datasetname, N1, file_size_remaining(fd));
  fseek(fd, N1, SEEK_CUR);
  my_fread(&N2, sizeof(int), 1, fd);
  if(N1 != N2)
    FATAL_ERROR("incorrect block-sizes detected!\n Task=%d   blocknr=%d  blksize1=%d  blksize2=%d\nfile: '%s'\n", ThisTask, blocknr,
                N1, N2, current_fname);
}

// The record length must describe exactly `count` elements of a representation
// this code can convert; anything else means the header and the data disagree.
int IO_Def::element_size_from_record(int blocknr, long long N1, long long count)
{
  IO_Field *f = &IO_Fields[blocknr];
  int vpb     = f->values_per_block;
  long long F = (N1 > 0 && N1 % count == 0) ? N1 / count : 0;
  long long S = F % vpb == 0 ? F / vpb : 0;
  bool ok     = is_integer_memory_type(f->type_in_memory) ? (S == 4 || S == 8) : (S == 2 || S == 4 || S == 8);
  if(!ok)
    FATAL_ERROR(
        "file '%s', block %d (%s): record length %lld does not fit %lld elements of %d values of a supported size (header and data "
        "disagree)\n",
        current_fname, blocknr, f->datasetname, N1, count, vpb);
  return (int)F;
}

void IO_Def::check_hdf5_dataset_shape(hid_t dset, int blocknr, int type, long long n)
{
  IO_Field *f  = &IO_Fields[blocknr];
  hid_t space  = H5Dget_space(dset);
  int rank     = space >= 0 ? H5Sget_simple_extent_ndims(space) : -1;
  hsize_t d[2] = {0, 0};
  if(rank >= 1 && rank <= 2)
    H5Sget_simple_extent_dims(space, d, nullptr);
  if(space >= 0)
    H5Sclose(space);

  int want_rank = f->values_per_block == 1 ? 1 : 2;
  if(rank != want_rank || d[0] != (hsize_t)n || (rank == 2 && d[1] != (hsize_t)f->values_per_block))
    FATAL_ERROR(
        "file '%s': dataset '%s' of particle type %d has shape (rank %d: %llu x %llu), expected %lld elements of %d values as "
        "the header says\n",
        current_fname, f->datasetname, type, rank, (unsigned long long)d[0], (unsigned long long)d[1], n, f->values_per_block);
}

void IO_Def::find_block(const char *label, FILE *fd)
{
  rewind(fd);

  while(true)
    {
      unsigned int blksize;
      if(fread(&blksize, 4, 1, fd) != 1)
        break;
      if(blksize != 8)
        FATAL_ERROR("Incorrect Format (blksize=%u)!\nfile: '%s'\n", blksize, current_fname);

      char blocklabel[4];
      int skip;
      my_fread(blocklabel, 4, 1, fd);
      my_fread(&skip, 4, 1, fd);
      my_fread(&blksize, 4, 1, fd);
      byte_count -= 12;  // searching is not reading data

      if(strncmp(label, blocklabel, 4) == 0)
        return;

      long long remain = file_size_remaining(fd);
      if(skip < 8 || skip > remain)
        FATAL_ERROR("file '%s': block '%c%c%c%c' claims %d bytes to the next label, but %lld remain; the file is truncated or corrupt\n",
                    current_fname, blocklabel[0], blocklabel[1], blocklabel[2], blocklabel[3], skip, remain);
      fseek(fd, skip, SEEK_CUR);
    }

  FATAL_ERROR("Block '%c%c%c%c' not found !\nfile: '%s'\n", label[0], label[1], label[2], label[3], current_fname);
}

// Blocks of a file that the reading fills, in file order: none after the
// first five of a legacy initial-conditions file, none without elements in
// this file, none skipped on reading.
bool IO_Def::block_ends_legacy_ic(int blocknr) const
{
  return file_format == 1 && All.RestartFlag == RST_BEGIN && type_of_file == FILE_IS_SNAPSHOT && blocknr > 4;
}

// Walks the records of a format-1 or -2 file once, checking each length word
// against the header counts before any data is read, and notes where each
// block's data starts and how many bytes an element takes there.
void IO_Def::locate_records(FILE *fd, const long long *npart, int *F, long long *data_at)
{
  int typelist[MAX_DATAGROUPS];
  for(int blocknr = 0; blocknr < N_IO_Fields; blocknr++)
    {
      IO_Field *f = &IO_Fields[blocknr];
      if(f->type_in_file_output == FILE_NONE || f->type_in_memory == MEM_MY_FILEOFFSET)
        continue;
      if(block_ends_legacy_ic(blocknr))
        break;
      long long np = get_particles_in_block(blocknr, (long long *)npart, typelist);
      if(np == 0)
        continue;

      if(f->read_flag == SKIP_ON_READ)
        {
          if(file_format == 1)
            skip_record(fd, blocknr);
          continue;
        }

      if(file_format == 2)
        find_block(f->label, fd);
      int N1;
      my_fread(&N1, sizeof(int), 1, fd);
      F[blocknr]       = element_size_from_record(blocknr, N1, np);
      long long remain = file_size_remaining(fd);
      if((long long)N1 + 4 > remain)
        FATAL_ERROR("file '%s' is truncated: block %d (%s) needs %lld bytes, only %lld remain\n", current_fname, blocknr, f->datasetname,
                    (long long)N1 + 4, remain);
      data_at[blocknr] = file_tell(fd);
      file_seek(fd, data_at[blocknr] + N1);
      int N2;
      my_fread(&N2, sizeof(int), 1, fd);
      if(N1 != N2)
        FATAL_ERROR("incorrect block-sizes detected!\n Task=%d   blocknr=%d  blksize1=%d  blksize2=%d\n%sfile: '%s'\n", ThisTask,
                    blocknr, N1, N2, blocknr == 2 ? "Possible mismatch of 32bit and 64bit ID's in IC file and VORTAN compilation !\n" : "",
                    current_fname);
    }
}

// Bytes per element of a dataset that holds IEEE single- or double-precision
// values (either byte order) for a floating-point field: such a dataset is
// read as native floats or doubles and converted with the other fields of its
// piece, which is cheaper than HDF5's conversion. 0 for every other dataset,
// which HDF5 converts (and whose errors are reported when it is opened for
// reading); other floating-point layouts of 4 or 8 bytes may hold values no
// native float can.
int IO_Def::hdf5_float_bytes_in_file(hid_t grp, int blocknr)
{
  IO_Field *f = &IO_Fields[blocknr];
  if(is_integer_memory_type(f->type_in_memory) || f->type_in_memory == MEM_MY_FILEOFFSET)
    return 0;
  hid_t dset = my_H5Dopen_if_existing(grp, f->datasetname);
  if(dset < 0)
    return 0;
  int bytes   = 0;
  hid_t ftype = H5Dget_type(dset);
  if(ftype >= 0)
    {
      if(H5Tequal(ftype, H5T_IEEE_F32LE) > 0 || H5Tequal(ftype, H5T_IEEE_F32BE) > 0)
        bytes = 4 * f->values_per_block;
      else if(H5Tequal(ftype, H5T_IEEE_F64LE) > 0 || H5Tequal(ftype, H5T_IEEE_F64BE) > 0)
        bytes = 8 * f->values_per_block;
      H5Tclose(ftype);
    }
  H5Dclose(dset);
  return bytes;
}

// Opens the dataset of a field for one group; returns -1 for an optional field
// that the file does not have (it is zero-filled), ends the run otherwise.
hid_t IO_Def::open_dataset_for_reading(hid_t grp, int blocknr, int g, long long n, const char *fname)
{
  IO_Field *f = &IO_Fields[blocknr];
  hid_t dset  = my_H5Dopen_if_existing(grp, f->datasetname);
  if(dset < 0)
    {
      H5E_auto2_t func;
      void *cdata;
      H5Eget_auto2(H5E_DEFAULT, &func, &cdata);
      H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
      htri_t exists = H5Lexists(grp, f->datasetname, H5P_DEFAULT);
      H5Eset_auto2(H5E_DEFAULT, func, cdata);
      if(exists > 0)
        FATAL_ERROR("file '%s': dataset '%s' of particle type %d exists but cannot be opened\n", fname, f->datasetname, g);
      if(f->read_flag == READ_REQUIRED)
        FATAL_ERROR("file '%s': required dataset '%s' is missing for particle type %d\n", fname, f->datasetname, g);
      printf("\tDataset %s not present for particle type %d, using zero.\n", f->datasetname, g);
      return -1;
    }
  check_hdf5_dataset_shape(dset, blocknr, g, n);
  hid_t ftype = H5Dget_type(dset);
  byte_count += (long long)H5Tget_size(ftype) * n * f->values_per_block;
  H5Tclose(ftype);
  return dset;
}

void IO_Def::read_file(const char *fname, int filenr, int readTask, int lastTask, void *CommBuffer)
{
  long long n_type[MAX_DATAGROUPS], npart[MAX_DATAGROUPS];
  int typelist[MAX_DATAGROUPS];
  FILE *fd = nullptr;
  build_name(current_fname, sizeof(current_fname), "%s", fname);
  stream_name = current_fname;

  if(ThisTask == readTask)
    {
      if(file_format == 3)
        read_header_fields(fname);
      else if(file_format == 1 || file_format == 2)
        {
          if(!(fd = fopen(fname, "r")))
            FATAL_ERROR("can't open file `%s' for reading initial conditions.\n", fname);
          read_header_record(fd, fname);
        }
      else
        FATAL_ERROR("unknown ICFormat");
    }
  share_header_in_group(readTask, lastTask);

  int nstart;
  read_file_header(fname, filenr, readTask, lastTask, n_type, npart, &nstart);

  const int G     = N_DataGroups;
  int ntask_group = lastTask - readTask + 1;

  hid_t hdf5_file = -1;
  hid_t hdf5_grp[MAX_DATAGROUPS];
  std::vector<int> F(N_IO_Fields, 0);
  std::vector<long long> data_at(N_IO_Fields, -1);
  if(ThisTask == readTask)
    {
      if(file_format == 3)
        {
          hdf5_file = my_H5Fopen(fname, H5F_ACC_RDONLY, H5P_DEFAULT);
          for(int g = 0; g < G; g++)
            if(npart[g] > 0)
              {
                char gname[256];
                get_datagroup_name(g, gname);
                hdf5_grp[g] = my_H5Gopen(hdf5_file, gname);
              }
        }
      else
        locate_records(fd, npart, F.data(), data_at.data());
    }

  // Format 3: element sizes of the floating-point datasets read as stored,
  // per block and group (0: HDF5 converts to the memory type).
  std::vector<int> F3(file_format == 3 ? (size_t)N_IO_Fields * G : 0, 0);
  if(file_format == 3 && ThisTask == readTask)
    for(int blocknr = 0; blocknr < N_IO_Fields; blocknr++)
      for(int g = 0; g < G; g++)
        if(npart[g] > 0)
          F3[(size_t)blocknr * G + g] = hdf5_float_bytes_in_file(hdf5_grp[g], blocknr);

  // the tasks of the group convert what they receive, so they need the element
  // sizes the reader found in the file
  if(ntask_group > 1)
    {
      std::vector<int> &sizes = file_format == 3 ? F3 : F;
      if(ThisTask == readTask)
        for(int task = readTask + 1; task <= lastTask; task++)
          MPI_Ssend(sizes.data(), (int)sizes.size(), MPI_INT, task, 13, Communicator);
      else
        MPI_Recv(sizes.data(), (int)sizes.size(), MPI_INT, readTask, 13, Communicator, MPI_STATUS_IGNORE);
    }

  // Every field of a group travels in one piece; group_at is where a group's
  // elements start in a block's record (formats 1 and 2).
  std::vector<std::vector<piece_block>> group_blocks(G);
  std::vector<std::vector<long long>> group_at(G);
  for(int blocknr = 0; blocknr < N_IO_Fields; blocknr++)
    {
      IO_Field *f = &IO_Fields[blocknr];
      if(f->type_in_file_output == FILE_NONE)
        continue;
      if(block_ends_legacy_ic(blocknr))
        break;
      long long np = get_particles_in_block(blocknr, npart, typelist);
      if(np == 0 || (f->read_flag == SKIP_ON_READ && f->type_in_memory != MEM_MY_FILEOFFSET))
        continue;

      if(filenr == 0)
        mpi_printf("READIC: reading block %d (%s)...\n", blocknr, f->datasetname);

      int bytes = 0;
      if(f->type_in_memory != MEM_MY_FILEOFFSET)
        bytes = file_format == 3 ? get_bytes_per_memory_blockelement(blocknr, 0) : F[blocknr];
      long long at = data_at[blocknr];
      for(int g = 0; g < G; g++)
        if(typelist[g])
          {
            int as_stored = file_format == 3 ? F3[(size_t)blocknr * G + g] : 0;
            if(as_stored > 0)
              group_blocks[g].push_back({blocknr, as_stored, false});
            else
              group_blocks[g].push_back({blocknr, bytes, file_format == 3});
            group_at[g].push_back(at);
            at += npart[g] * bytes;
          }
    }

  int offset = 0;
  for(int g = 0; g < G; g++)
    {
      const std::vector<piece_block> &blocks = group_blocks[g];
      int nb                                 = (int)blocks.size();
      if(npart[g] == 0)
        continue;
      if(nb == 0)
        {
          int n = (int)share_of(npart[g], ThisTask - readTask, ntask_group);
          prepare_read_records(nstart + offset, n, IO_Fields[0].array == A_P ? g : -1);
          offset += n;
          continue;
        }

      // position of this file's group-g elements in the type-ordered sequence
      // of the whole set
      long long nprevious = 0;
      if(ntype_in_files)
        {
          for(int ff = 0; ff < NumFilesInSet; ff++)
            for(int gg = 0; gg < g; gg++)
              nprevious += ntype_in_files[(size_t)ff * G + gg];
          for(int ff = 0; ff < filenr; ff++)
            nprevious += ntype_in_files[(size_t)ff * G + g];
        }

      size_t per = 0;
      for(const piece_block &b : blocks)
        per += b.bytes;
      int maxlen = (int)std::min<size_t>(INT_MAX, PIECE_BYTES / std::max<size_t>(per, 1));

      std::vector<hid_t> dset(nb, -1), fspace(nb, -1);
      if(ThisTask == readTask && file_format == 3)
        for(int j = 0; j < nb; j++)
          if(IO_Fields[blocks[j].blocknr].type_in_memory != MEM_MY_FILEOFFSET)
            {
              dset[j] = open_dataset_for_reading(hdf5_grp[g], blocks[j].blocknr, g, npart[g], fname);
              if(dset[j] >= 0 && (fspace[j] = H5Dget_space(dset[j])) < 0)
                FATAL_ERROR("file '%s': no dataspace for dataset '%s'\n", fname, IO_Fields[blocks[j].blocknr].datasetname);
            }

      long long pcsum = 0;
      for(int task = readTask; task <= lastTask; task++)
        {
          int n_for_this_task = (int)share_of(npart[g], task - readTask, ntask_group);

          while(n_for_this_task > 0)
            {
              int pc = std::min(n_for_this_task, maxlen);

              if(ThisTask == readTask)
                {
                  if(file_format != 3)
                    for(int j = 0; j < nb; j++)
                      if(blocks[j].bytes > 0)
                        {
                          // the disk can fetch the next piece while this one is handed out
                          long long next = group_at[g][j] + (pcsum + pc) * blocks[j].bytes;
                          posix_fadvise(fileno(fd), (off_t)next, (off_t)maxlen * blocks[j].bytes, POSIX_FADV_WILLNEED);
                        }
                  char *seg = (char *)CommBuffer;
                  for(int j = 0; j < nb; j++)
                    {
                      const piece_block &b = blocks[j];
                      IO_Field *f          = &IO_Fields[b.blocknr];
                      if(b.bytes == 0)
                        continue;
                      if(file_format != 3)
                        {
                          file_seek(fd, group_at[g][j] + pcsum * b.bytes);
                          my_fread(seg, b.bytes, pc, fd);
                        }
                      else if(dset[j] < 0)
                        memset(seg, 0, (size_t)pc * b.bytes);
                      else
                        {
                          hid_t mspace = select_piece(fspace[j], f->values_per_block == 1 ? 1 : 2, pcsum, pc, f->values_per_block);
                          hid_t mtype = b.by_hdf5 ? get_hdf5_memorytype_of_block(b.blocknr)
                                                  : b.bytes == 4 * f->values_per_block ? H5T_NATIVE_FLOAT
                                                                                       : H5T_NATIVE_DOUBLE;
                          read_hdf5_checked(dset[j], mtype, mspace, fspace[j], seg, fname, f->datasetname, g);
                          my_H5Sclose(mspace, H5S_SIMPLE);
                        }
                      seg += (size_t)pc * b.bytes;
                    }
                  pcsum += pc;
                }

              if(ThisTask == readTask && task != readTask)
                MPI_Ssend(CommBuffer, (int)(per * pc), MPI_BYTE, task, 12, Communicator);
              if(ThisTask != readTask && task == ThisTask)
                MPI_Recv(CommBuffer, (int)(per * pc), MPI_BYTE, readTask, 12, Communicator, MPI_STATUS_IGNORE);

              if(ThisTask == task)
                {
                  empty_read_piece(IO_Fields[0].array == A_P ? g : -1, blocks.data(), nb, nstart + offset, pc, nprevious,
                                   (const char *)CommBuffer);
                  offset += pc;
                }

              n_for_this_task -= pc;
              nprevious += pc;
            }
        }

      for(int j = 0; j < nb; j++)
        {
          if(dset[j] >= 0)
            my_H5Dclose(dset[j], IO_Fields[blocks[j].blocknr].datasetname);
          if(fspace[j] >= 0)
            my_H5Sclose(fspace[j], H5S_SIMPLE);
        }
    }

  for(int g = 0; g < G; g++)
    read_increase_numbers(g, (int)share_of(npart[g], ThisTask - readTask, ntask_group));

  if(ThisTask == readTask)
    {
      if(file_format == 3)
        {
          close_datagroups(hdf5_grp, npart);
          my_H5Fclose(hdf5_file, fname);
        }
      else
        fclose(fd);
    }
  stream_name = nullptr;
}
