#ifndef VORTAN_IO_IO_H
#define VORTAN_IO_IO_H

// Generic field-block engine for particle files. A derived class registers the
// per-element fields, supplies the header and says where elements live; the
// engine writes and reads sets of files in the legacy (1), block-labelled (2)
// and HDF5 (3) formats with grouped writers and readers.

#include <hdf5.h>
#include <mpi.h>
#include <cstdio>
#include <vector>

#include "data/constants.h"
#include "data/dtypes.h"
#include "io/io_streamcount.h"
#include "mpi_utils/setcomm.h"

#define COMMBUFFERSIZE (32 * 1024LL * 1024LL)

// Bytes of one piece, the unit read or written and handed between tasks.
// Small enough that a piece is still in the cache when it is copied between
// the file and the records; large enough that the calls per piece do not count.
#define PIECE_BYTES (4 * 1024LL * 1024LL)

// Elements handled together by every field of a piece: their records stay in
// the cache while one field after the other is copied.
#define PIECE_STRIDE 512
#define MAX_PIECE_ARRAYS 4

// Sanity limit for the file count of a set read from a header.
#define MAX_FILES_PER_SET 100000

// Group selections of a field: a bit mask of particle types, or a selector.
#define ALL_TYPES 63
#define GAS_ONLY 1
#define MASS_BLOCK -1 // types whose mass-table entry is zero
#define AGE_BLOCK -2  // stellar formation times
#define Z_BLOCK -3    // metallicities

enum arrays
{
  A_NONE,
  A_SPHP,
  A_P,
  A_PS,
  A_G,
  A_S,
  A_ID,
  A_DESC,
  A_PROG,
  A_MTRP,
  A_H,
  A_TT,
  A_CT,
  A_TL,
  A_LC,
  A_MM,
  A_IDS,
  A_TID
};

enum file_contents
{
  FILE_IS_SNAPSHOT,
  FILE_IS_GROUPCAT,
  FILE_IS_DESCCAT,
  FILE_IS_PROGCAT,
  FILE_IS_TREECAT,
  FILE_IS_TREELINK,
  FILE_IS_LIGHTCONE,
  FILE_IS_MOSTBOUND,
  FILE_IS_GALSNAP
};

enum types_in_file
{
  FILE_NONE,
  FILE_INT,
  FILE_INT64,
  FILE_MY_IO_FLOAT,
  FILE_HALF,
  FILE_MY_ID_TYPE,
  FILE_MY_INTPOS_TYPE,
  FILE_DOUBLE,
  FILE_FLOAT
};

enum types_in_memory
{
  MEM_INT,
  MEM_INT64,
  MEM_MY_ID_TYPE,
  MEM_MY_INTPOS_TYPE,
  MEM_FLOAT,
  MEM_DOUBLE,
  MEM_MY_FLOAT,
  MEM_MY_DOUBLE,
  MEM_MY_FILEOFFSET
};

// READ_REQUIRED: a field without which the particles cannot be set up; a file
// that lacks it is refused rather than zero-filled.
enum read_flags
{
  READ_IF_PRESENT,
  SKIP_ON_READ,
  READ_REQUIRED
};

class IO_Def;

struct IO_Field
{
  enum types_in_memory type_in_memory;
  enum types_in_file type_in_file_output;
  enum read_flags read_flag;
  int values_per_block;
  int write_block;
  int read_block;
  char label[5];
  char datasetname[257];
  void (*io_func)(IO_Def *, int, int, void *, int);
  // Optional form of io_func over elements [first, first + count): one call
  // per run instead of one per element, which dominates the cost of big files.
  void (*io_range)(IO_Def *, int first, int count, void *buffer, int mode);
  int typelist;
  bool compression_on;
  enum arrays array;
  size_t offset;

  char hasunit;
  double a, h, L, M, V, c;
};

struct seq_data
{
  int thistask, rankinnode, thisnode;
  bool operator<(const seq_data &b) const
  {
    if(rankinnode != b.rankinnode)
      return rankinnode < b.rankinnode;
    if(thisnode != b.thisnode)
      return thisnode < b.thisnode;
    return thistask < b.thistask;
  }
};

class IO_Def : public io_streamcount, public setcomm
{
 public:
  IO_Def(MPI_Comm comm, int format) : setcomm(comm), file_format(format) {}
  virtual ~IO_Def();

  int N_DataGroups = 0;
  int N_IO_Fields = 0;
  int Max_IO_Fields = 0;
  int header_size = 0;
  void *header_buf = nullptr;
  long long *ntype_in_files = nullptr;
  char info[100] = "";
  enum file_contents type_of_file = FILE_IS_SNAPSHOT;
  IO_Field *IO_Fields = nullptr;
  int files_started = 0, files_completed = 0;
  int file_format;
  seq_data *seq = nullptr;

  // Concurrency limit for this object; below 1 means all tasks.
  int MaxFilesWithConcurrentIO = 0;
  // Name of the file being read or written, for the messages.
  char current_fname[MAXLEN_PATH_EXTRA] = "";
  int NumFilesInSet                     = 0;

  struct hdf5_discard_hook
  {
    IO_Def *owner            = nullptr;
    H5E_auto2_t chained      = nullptr;
    void *chained_data       = nullptr;
  } hdf5_discard;
  static herr_t discard_on_hdf5_error(hid_t estack, void *client_data);

  virtual void fill_file_header(int writeTask, int lastTask, long long *nloc_part, long long *npart) = 0;
  virtual void read_file_header(const char *fname, int filenr, int readTask, int lastTask, long long *nloc_part, long long *npart,
                                int *nstart)                                                                = 0;
  virtual void get_datagroup_name(int grnr, char *gname)                                                   = 0;
  virtual void write_header_fields(hid_t)                                                                  = 0;
  virtual void read_header_fields(const char *fname)                                                       = 0;
  virtual void read_increase_numbers(int type, int n_for_this_task)                                        = 0;
  virtual int get_filenr_from_header()                                                                     = 0;
  virtual void set_filenr_in_header(int)                                                                   = 0;
  virtual void *get_base_address_of_structure(enum arrays array, int index)                                = 0;
  virtual int get_type_of_element(int index)                                                               = 0;
  virtual void set_type_of_element(int index, int type)                                                    = 0;

  // Run of consecutive elements of the given type: skips to the first element
  // of that type at or after index from, stores it in *first and returns the
  // run length, at most limit (>= 1). The element must exist; no element past
  // the returned run is looked at. Overriding lets the scan avoid one virtual
  // call per element.
  virtual int find_type_run(int from, int type, int limit, int *first);
  // Called on reading before the fields of elements first ... first+count-1
  // are stored; sets their type (type < 0: no types) and, where the storage
  // was handed out uncleared (records_cleared_on_read), clears them.
  virtual void prepare_read_records(int first, int count, int type);
  bool records_cleared_on_read = false;

  // Field registry.
  void init_field(const char *label, const char *datasetname, enum types_in_memory type_in_memory,
                  enum types_in_file type_in_file_output, enum read_flags read_flag, int values_per_block, enum arrays array,
                  void *pointer_to_field, void (*io_func)(IO_Def *, int, int, void *, int), int typelist_bitmask, int flagunit,
                  double a, double h, double L, double M, double V, double c, bool compression_on = false);

  // Attaches the run form of the element callback of the field with this label.
  void set_field_range_func(const char *label, void (*io_range)(IO_Def *, int, int, void *, int));

  int get_values_per_blockelement(int blocknr);
  void get_dataset_name(int blocknr, char *buf);
  void get_Tab_IO_Label(int blocknr, char *label);
  int get_bytes_per_memory_blockelement(int blocknr, int mode);
  int get_bytes_per_file_value(int blocknr);
  hid_t get_hdf5_outputtype_of_block(int blocknr);
  hid_t get_hdf5_memorytype_of_block(int blocknr);
  int get_particles_in_block(int blocknr, long long *npart_file, int *typelist);

  // One field's part of a piece: pc elements of `bytes` each, in the file's
  // representation, or in memory's when HDF5 converts (by_hdf5).
  struct piece_block
  {
    int blocknr;
    int bytes;
    bool by_hdf5;
  };
  // A record array the fields of a piece live in.
  struct record_array
  {
    enum arrays array;
    const char *base;
    size_t stride;
  };
  void fill_write_piece(int type, const piece_block *blocks, int nblocks, int *startindex, int pc, char *buf);
  void empty_read_piece(int type, const piece_block *blocks, int nblocks, int first, int pc, long long nprevious, const char *buf);
  // H5Dread that stops on integer values the memory type cannot hold.
  void read_hdf5_checked(hid_t dset, hid_t memtype, hid_t mspace, hid_t fspace, void *buf, const char *fname, const char *dsname, int type);
  void type_cast_data(char *src, int src_bytes_per_element, char *target, int target_bytes_per_element, int len, int blocknr);

  // Writing.
  void write_multiple_files(char *fname, int numfilesperdump, int append_flag = 0, int chunksize = 0);
  void write_file(char *fname, int writeTask, int lastTask, void *CommBuffer, int numfilesperdump, int chunksize);
  void distribute_file(int nfiles, int *filenr, int *master, int *last);
  void write_dataset_attributes(hid_t hdf5_dataset, int blocknr);
  void write_parameters_attributes_in_hdf5(hid_t handle);
  void write_compile_time_options_in_hdf5(hid_t handle);
  void rename_file_to_bak_if_it_exists(char *fname);
  void polling(int numfilesperdump);

  // Reading.
  int find_files(const char *fname, const char *fname_multiple);
  void read_files_driver(const char *fname, int rep, int numfiles);
  void share_particle_number_in_file(const char *fname, int filenr, int readTask, int lastTask);
  void read_file(const char *fname, int filenr, int readTask, int lastTask, void *CommBuffer);
  void find_block(const char *label, FILE *fd);
  void locate_records(FILE *fd, const long long *npart, int *F, long long *data_at);

  // Share of element count n for task readTask + i of a group of m tasks.
  static long long share_of(long long n, int i, int m) { return n / m + (i < n % m ? 1 : 0); }

 protected:
  // Builds a file name into buf, ending the run if it does not fit.
  static void build_name(char *buf, size_t len, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

 private:
  std::vector<char> piece_scratch;
  char *piece_scratch_for(const piece_block *blocks, int nblocks);
  int piece_arrays(const piece_block *blocks, int nblocks, record_array *out);
  void gather_field(const IO_Field *f, int B, int first, int len, char *out);
  void scatter_field(const IO_Field *f, int B, int first, int len, const char *in);
  bool same_value_class(int blocknr);
  int hdf5_float_bytes_in_file(hid_t grp, int blocknr);
  bool block_ends_legacy_ic(int blocknr) const;
  hid_t open_dataset_for_reading(hid_t grp, int blocknr, int g, long long n, const char *fname);
  void start_writeback(FILE *fd, hid_t hdf5_file);
  long long file_tell(FILE *fd);
  void file_seek(FILE *fd, long long pos);
  int effective_max_concurrent() const;
  void check_record_length_words(int writeTask, const long long *ntot_type);
  void read_header_record(FILE *fd, const char *fname);
  long long file_size_remaining(FILE *fd);
  void skip_record(FILE *fd, int blocknr);
  int element_size_from_record(int blocknr, long long N1, long long count);
  void check_hdf5_dataset_shape(hid_t dset, int blocknr, int type, long long n);
  void write_one_file_backed_up(char *fname, int writeTask, int lastTask, void *CommBuffer, int numfilesperdump);
  void close_datagroups(hid_t *grp, const long long *n);
  void write_block_label(FILE *fd, const char *label, int nextblock);
  void share_header_in_group(int readTask, int lastTask);
};

#endif
