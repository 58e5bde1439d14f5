#include "data/mymalloc.h"

#include <mpi.h>
#include <cstdlib>
#include <cerrno>
#include <cstring>

#include "data/allvars.h"
#include "data/macros.h"
#include "mpi_utils/shared_mem_handler.h"

memory Mem;

namespace
{
constexpr size_t TABLE_LINE_COUNT_EXTRA = 10;
constexpr size_t TABBUF_SIZE            = (MAXBLOCKS + TABLE_LINE_COUNT_EXTRA) * MAXLEN_TABLE_LINE;
constexpr int TAG_REPORT_LEN            = 10;
constexpr int TAG_REPORT_TEXT           = 12;

const char DASHES[] = "------------------------------------------------------------------------------------------\n"; // 90 dashes
}  // namespace

// Called after every growth: keeps both high-water marks and their tables.
void memory::update_high_marks()
{
  if(AllocatedBytes - AllocatedBytesGeneric > HighMarkBytesWithoutGeneric)
    {
      HighMarkBytesWithoutGeneric = AllocatedBytes - AllocatedBytesGeneric;
      render_high_mark_table(HighMarkTabWithoutGeneric);
    }
  if(AllocatedBytes > HighMarkBytes)
    {
      HighMarkBytes = AllocatedBytes;
      render_high_mark_table(HighMarkTab);
    }
}

void memory::set_name(char *slot, const char *src) const
{
  strncpy(slot, src ? src : "", MAXCHARS - 1);
  slot[MAXCHARS - 1] = 0;
}

void memory::check_maxmemsize_setting(int maxmemsize)
{
  int errflag = 0;
  if(RankInThisNode == 0)
    {
      char name[MPI_MAX_PROCESSOR_NAME];
      int len;
      MPI_Get_processor_name(name, &len);
      int ntasks = TasksInThisNode > 0 ? TasksInThisNode : 1;

      // A figure the probes could not read is 0: that node cannot be checked.
      if(MemoryOnNode <= 0 || SharedMemoryOnNode <= 0)
        RUN_WARNING("the memory of node '%s' is unknown; MaxMemSize = %d MB is not checked against it", name, maxmemsize);

      double avail_mb = static_cast<double>(MemoryOnNode) / 1024.0;
      if(MemoryOnNode > 0 && maxmemsize > avail_mb / ntasks)
        {
          printf("On node '%s', we have %d MPI ranks and at most %g MB available. This is not enough space for MaxMemSize = %g MB\n",
                 name, ntasks, avail_mb, static_cast<double>(maxmemsize));
          fflush(stdout);
          errflag = 1;
        }

      double shm_mb = static_cast<double>(SharedMemoryOnNode) / 1024.0;
      if(SharedMemoryOnNode > 0 && maxmemsize > shm_mb / ntasks)
        {
          printf(
              "On node '%s', we have %d MPI ranks and at most %g MB of *shared* memory available. This is not enough space for "
              "MaxMemSize = %g MB\n",
              name, ntasks, shm_mb, static_cast<double>(maxmemsize));
          fflush(stdout);
          errflag = 1;
        }
    }

  int errflag_tot;
  MPI_Allreduce(&errflag, &errflag_tot, 1, MPI_INT, MPI_MAX, Communicator);
  if(errflag_tot)
    FATAL_ERROR("At least one node has insufficient memory");
}

void memory::setup_region(char *base, size_t totbytes)
{
  Base                            = base;
  TotBytes                        = totbytes;
  FreeBytes                       = totbytes;
  AllocatedBytes                  = 0;
  AllocatedBytesGeneric           = 0;
  Nblocks                         = 0;
  HighMarkBytes                   = 0;
  HighMarkBytesWithoutGeneric     = 0;
  OldGlobHighMarkMB               = 0;
  OldGlobHighMarkMBWithoutGeneric = 0;
}

void memory::mymalloc_init(int maxmemsize, enum restart_options restartflag)
{
  if(Table)
    FATAL_ERROR("mymalloc_init() called twice; the region lives for the whole run");
  if(maxmemsize <= 0)
    FATAL_ERROR("MaxMemSize=%d MB is not a usable size for the memory region", maxmemsize);
  if(Shmem.SharedMemComm == MPI_COMM_NULL)
    FATAL_ERROR("mymalloc_init() needs the island communicator; the island split has not been done");

  BlockSize      = static_cast<size_t *>(malloc(MAXBLOCKS * sizeof(size_t)));
  Table          = static_cast<char **>(malloc(MAXBLOCKS * sizeof(char *)));
  MovableFlag    = static_cast<char *>(malloc(MAXBLOCKS * sizeof(char)));
  GenericFlag    = static_cast<char *>(malloc(MAXBLOCKS * sizeof(char)));
  BasePointers   = static_cast<char ***>(malloc(MAXBLOCKS * sizeof(char **)));
  VarName        = static_cast<char *>(calloc(MAXBLOCKS, MAXCHARS));
  FunctionName   = static_cast<char *>(calloc(MAXBLOCKS, MAXCHARS));
  ParentFileName = static_cast<char *>(calloc(MAXBLOCKS, MAXCHARS));
  FileName       = static_cast<char *>(calloc(MAXBLOCKS, MAXCHARS));
  LineNumber     = static_cast<int *>(malloc(MAXBLOCKS * sizeof(int)));

  HighMarkTabBufSize           = TABBUF_SIZE;
  HighMarkTabBuf               = static_cast<char *>(calloc(TABBUF_SIZE, 1));
  HighMarkTabBufWithoutGeneric = static_cast<char *>(calloc(TABBUF_SIZE, 1));
  HighMarkTab                  = {HighMarkTabBuf, static_cast<size_t *>(calloc(MAXBLOCKS + 1, sizeof(size_t))), 0, 0};
  HighMarkTabWithoutGeneric = {HighMarkTabBufWithoutGeneric, static_cast<size_t *>(calloc(MAXBLOCKS + 1, sizeof(size_t))), 0, 0};

  if(!BlockSize || !Table || !MovableFlag || !GenericFlag || !BasePointers || !VarName || !FunctionName || !ParentFileName ||
     !FileName || !LineNumber || !HighMarkTabBuf || !HighMarkTabBufWithoutGeneric ||
     !HighMarkTab.lineoff || !HighMarkTabWithoutGeneric.lineoff)
    FATAL_ERROR("cannot allocate the bookkeeping tables of the block allocator");

  RestartFlag = restartflag;

  MPI_Barrier(MPI_COMM_WORLD);
  double t0 = MPI_Wtime();

  // 64-bit throughout: MaxMemSize above 2047 MB must not overflow.
  size_t n = static_cast<size_t>(maxmemsize) * 1024 * 1024;

  MPI_Info win_info;
  MPI_Info_create(&win_info);
  MPI_Info_set(win_info, "alloc_shared_noncontig", "true");

  // Report a failed window allocation with our message instead of MPI's abort.
  MPI_Errhandler old_handler;
  MPI_Comm_get_errhandler(Shmem.SharedMemComm, &old_handler);
  MPI_Comm_set_errhandler(Shmem.SharedMemComm, MPI_ERRORS_RETURN);
  char *base = nullptr;
  int rc     = MPI_Win_allocate_shared(static_cast<MPI_Aint>(n + CACHELINESIZE), 1, win_info, Shmem.SharedMemComm, &base,
                                       &Shmem.SharedMemWin);
  MPI_Comm_set_errhandler(Shmem.SharedMemComm, old_handler);
  MPI_Errhandler_free(&old_handler);
  if(rc != MPI_SUCCESS || base == nullptr)
    FATAL_ERROR("Failed to allocate memory for `Base' (%d Mbytes).\n", maxmemsize);

  // An already aligned base also moves by a full line; the extra 64 bytes of
  // the window cover it.
  uintptr_t addr = reinterpret_cast<uintptr_t>(base);
  AlignShift     = (addr / CACHELINESIZE > 0) ? static_cast<int>(CACHELINESIZE - (addr % CACHELINESIZE)) : 0;
  base += AlignShift;
  MPI_Info_free(&win_info);

  double t1 = MPI_Wtime();
  if(Shmem.World_ThisTask == 0)
    printf("MALLOC: Allocation of shared memory took %g sec\n", t1 - t0 > 0 ? t1 - t0 : 0);

  setup_region(base, n);

  MPI_Bcast(All.OutputDir, MAXLEN_PATH, MPI_BYTE, 0, MPI_COMM_WORLD);

  // Only task 0 ever writes the report, so only it opens the file.
  if(ThisTask == 0)
    {
      char buf[MAXLEN_PATH_EXTRA];
      snprintf(buf, sizeof(buf), "%s%s", All.OutputDir, Shmem.GhostRank ? "memory_ghostranks.txt" : "memory.txt");
      if(!(FdMemory = fopen(buf, All.RestartFlag == RST_BEGIN ? "w" : "a")))
        FATAL_ERROR("error in opening file '%s'\n", buf);
    }

  setup_island_tables();
}

void memory::setup_island_tables()
{
  MPI_Bcast(&Shmem.Sim_NTask, 1, MPI_INT, 0, MPI_COMM_WORLD);

  size_t nbytes                      = Shmem.Sim_NTask * sizeof(int);
  Shmem.GetGhostRankForSimulCommRank = static_cast<int *>(mymalloc("GetGhostRankForSimulCommRank", nbytes));
  Shmem.GetShmRankForSimulCommRank   = static_cast<int *>(mymalloc("GetShmRankForSimulCommRank", nbytes));
  Shmem.GetNodeIDForSimulCommRank    = static_cast<int *>(mymalloc("GetNodeIDForSimulCommRank", nbytes));

  if(Shmem.GhostRank == 0)
    {
      MPI_Allgather(&Shmem.MyShmRankInGlobal, 1, MPI_INT, Shmem.GetGhostRankForSimulCommRank, 1, MPI_INT, Shmem.SimulationComm);
      MPI_Allgather(&Shmem.Island_ThisTask, 1, MPI_INT, Shmem.GetShmRankForSimulCommRank, 1, MPI_INT, Shmem.SimulationComm);
      MPI_Allgather(&Shmem.Island_Smallest_WorldTask, 1, MPI_INT, Shmem.GetNodeIDForSimulCommRank, 1, MPI_INT,
                    Shmem.SimulationComm);
    }
  else
    memset(Shmem.GetNodeIDForSimulCommRank, -1, nbytes); // compute ranks only; never read on a listener

  MPI_Bcast(Shmem.GetGhostRankForSimulCommRank, Shmem.Sim_NTask, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Bcast(Shmem.GetShmRankForSimulCommRank, Shmem.Sim_NTask, MPI_INT, 0, MPI_COMM_WORLD);

  int island_ntask;
  MPI_Comm_size(Shmem.SharedMemComm, &island_ntask);
  Shmem.SharedMemBaseAddr = static_cast<char **>(mymalloc("SharedMemBaseAddr", island_ntask * sizeof(char *)));
  for(int i = 0; i < island_ntask; i++)
    {
      MPI_Aint size;
      int disp_unit;
      void *p;
      MPI_Win_shared_query(Shmem.SharedMemWin, i, &size, &disp_unit, &p);
      Shmem.SharedMemBaseAddr[i] = static_cast<char *>(p);
    }

  int *off_list = static_cast<int *>(mymalloc("off_list", island_ntask * sizeof(int)));
  MPI_Allgather(&AlignShift, 1, MPI_INT, off_list, 1, MPI_INT, Shmem.SharedMemComm);
  for(int i = 0; i < island_ntask; i++)
    Shmem.SharedMemBaseAddr[i] += off_list[i];
  myfree(off_list);
}

void *memory::mymalloc_movable_fullinfo(void *ptr, const char *varname, size_t n, const char *func, const char *file, int line,
                                        int movable_flag, int clear_flag, const char *callorigin)
{
  if(Nblocks >= MAXBLOCKS)
    FATAL_ERROR("No blocks left in mymalloc_fullinfo() at %s()/%s/line %d. MAXBLOCKS=%d\n", func, file, line, MAXBLOCKS);
  if(!Table)
    FATAL_ERROR("mymalloc of '%s' at %s()/%s/line %d before mymalloc_init()", varname, func, file, line);

  n = roundup_to_multiple_of_cacheline_size(n);

  if(FreeBytes < n)
    {
      dump_memory_table();
      FATAL_ERROR(
          "\nNot enough memory in mymalloc_fullinfo() to allocate %g MB for variable '%s' at %s()/%s/line %d (FreeBytes=%g MB).\n",
          n * TO_MBYTE_FAC, varname, func, file, line, FreeBytes * TO_MBYTE_FAC);
    }

  int b    = Nblocks;
  Table[b] = Base + (TotBytes - FreeBytes);
  FreeBytes -= n;

  set_name(VarName + b * MAXCHARS, varname);
  if(callorigin)
    {
      set_name(ParentFileName + b * MAXCHARS, callorigin);
      GenericFlag[b] = 1;
      AllocatedBytesGeneric += n;
    }
  else
    {
      ParentFileName[b * MAXCHARS] = 0;
      GenericFlag[b]               = 0;
    }
  set_name(FunctionName + b * MAXCHARS, func);
  set_name(FileName + b * MAXCHARS, file);
  LineNumber[b]   = line;
  BlockSize[b]    = n;
  MovableFlag[b]  = movable_flag;
  BasePointers[b] = static_cast<char **>(ptr);

  AllocatedBytes += n;
  Nblocks++;

  update_high_marks();

  if(clear_flag)
    memset(Table[b], 0, n);

  return Table[b];
}

int memory::find_block(void *p, int movable_flag, const char *func, const char *file, int line, bool realloc)
{
  const char *plain   = realloc ? "myrealloc" : "myfree";
  const char *movable = realloc ? "myrealloc_movable" : "myfree_movable";

  if(!movable_flag)
    {
      if(p != Table[Nblocks - 1])
        {
          dump_memory_table();
          if(realloc)
            FATAL_ERROR("Wrong call of %s() at %s()/%s/line %d - not the last allocated block!\n", plain, func, file, line);
          FATAL_ERROR("Wrong call of %s() at %s()/%s/line %d: not the last allocated block!\n", plain, func, file, line);
        }
      return Nblocks - 1;
    }

  int b = Nblocks - 1;
  while(b >= 0 && Table[b] != p)
    b--;
  if(b < 0)
    {
      dump_memory_table();
      FATAL_ERROR("Wrong call of %s() from %s()/%s/line %d - this block has not been allocated!\n", movable, func, file, line);
    }
  for(int i = b + 1; i < Nblocks; i++)
    if(!MovableFlag[i])
      {
        dump_memory_table();
        FATAL_ERROR("Wrong call of %s() from %s()/%s/line %d - behind block=%d there are subsequent non-movable allocated blocks\n",
                    movable, func, file, line, b);
      }
  return b;
}

void memory::myfree_movable_fullinfo(void *p, const char *func, const char *file, int line, int movable_flag)
{
  if(Nblocks == 0)
    FATAL_ERROR("no allocated blocks that could be freed");

  int b       = find_block(p, movable_flag, func, file, line, false);
  size_t size = BlockSize[b];
  block_changed(b);

  if(GenericFlag[b])
    AllocatedBytesGeneric -= size;
  AllocatedBytes -= size;
  FreeBytes += size;
  if(BasePointers[b])
    *BasePointers[b] = nullptr;

  if(b < Nblocks - 1)
    {
      // One overlapping move brings every block above down; their owners'
      // pointer variables follow.
      char *src    = Table[b + 1];
      size_t bytes = (Base + TotBytes - FreeBytes + size) - src;
      memmove(Table[b], src, bytes);

      for(int i = b + 1; i < Nblocks; i++)
        {
          Table[i] -= size;
          if(BasePointers[i])
            *BasePointers[i] -= size;
        }

      int nmove = Nblocks - b - 1;
      memmove(Table + b, Table + b + 1, nmove * sizeof(Table[0]));
      memmove(BlockSize + b, BlockSize + b + 1, nmove * sizeof(BlockSize[0]));
      memmove(MovableFlag + b, MovableFlag + b + 1, nmove);
      memmove(GenericFlag + b, GenericFlag + b + 1, nmove);
      memmove(BasePointers + b, BasePointers + b + 1, nmove * sizeof(BasePointers[0]));
      memmove(LineNumber + b, LineNumber + b + 1, nmove * sizeof(LineNumber[0]));
      memmove(VarName + b * MAXCHARS, VarName + (b + 1) * MAXCHARS, nmove * MAXCHARS);
      memmove(FunctionName + b * MAXCHARS, FunctionName + (b + 1) * MAXCHARS, nmove * MAXCHARS);
      memmove(ParentFileName + b * MAXCHARS, ParentFileName + (b + 1) * MAXCHARS, nmove * MAXCHARS);
      memmove(FileName + b * MAXCHARS, FileName + (b + 1) * MAXCHARS, nmove * MAXCHARS);
    }

  Nblocks--;
}

void *memory::myrealloc_movable_fullinfo(void *p, size_t n, const char *func, const char *file, int line, int movable_flag)
{
  if(Nblocks == 0)
    FATAL_ERROR("no allocated blocks that could be reallocated");

  n = roundup_to_multiple_of_cacheline_size(n);

  int b = find_block(p, movable_flag, func, file, line, true);
  if(GenericFlag[b])
    FATAL_ERROR("unexpected");
  block_changed(b);

  size_t old = BlockSize[b];
  AllocatedBytes -= old;
  FreeBytes += old;

  if(FreeBytes < n)
    {
      dump_memory_table();
      FATAL_ERROR("At %s()/%s/line %d: Not enough memory in myremalloc_movable(n=%g MB). previous=%g FreeBytes=%g MB\n", func, file,
                  line, n * TO_MBYTE_FAC, old * TO_MBYTE_FAC, FreeBytes * TO_MBYTE_FAC);
    }

  if(b < Nblocks - 1 && n != old)
    {
      char *src    = Table[b + 1];
      size_t bytes = (Base + TotBytes - (FreeBytes - old)) - src; // bytes of the blocks above b
      char *dst    = Table[b] + n;
      memmove(dst, src, bytes);

      ptrdiff_t diff = static_cast<ptrdiff_t>(n) - static_cast<ptrdiff_t>(old);
      for(int i = b + 1; i < Nblocks; i++)
        {
          Table[i] += diff;
          if(BasePointers[i])
            *BasePointers[i] += diff;
        }
    }

  FreeBytes -= n;
  AllocatedBytes += n;
  BlockSize[b] = n;

  update_high_marks();

  return Table[b];
}

void *memory::myfree_query_last_block()
{
  if(Nblocks == 0)
    FATAL_ERROR("no allocated blocks that could be returned");
  return Table[Nblocks - 1];
}

void memory::render_header(char *p, size_t cap, size_t *len) const
{
  int n = snprintf(p, cap,
                   "-------------------------- Allocated Memory Blocks---- ( Step %8d )------------------\n"
                   "Task    Nr F                  Variable      MBytes   Cumulative  Function|File|Linenumber\n"
                   "%s",
                   All.NumCurrentTiStep, DASHES);
  *len = n < 0 ? 0 : (static_cast<size_t>(n) < cap ? n : cap - 1);
}

size_t memory::render_block_line(char *p, size_t cap, int i) const
{
  // Blocks are contiguous from Base, so the cumulative size is the block's end.
  size_t cumulative = (Table[i] + BlockSize[i]) - Base;
  int n = snprintf(p, cap, "%4d %5d %d %40s  %10.4f   %10.4f  %s%s()|%s|%d\n", ThisTask, i, MovableFlag[i], VarName + i * MAXCHARS,
                   BlockSize[i] * TO_MBYTE_FAC, cumulative * TO_MBYTE_FAC, ParentFileName + i * MAXCHARS, FunctionName + i * MAXCHARS,
                   FileName + i * MAXCHARS, LineNumber[i]);
  return n < 0 ? 0 : (static_cast<size_t>(n) < cap ? n : cap - 1);
}

size_t memory::dump_memory_table_buffer(char *p)
{
  // Callers size p for (Nblocks + 10) lines; every line fits into one slot.
  size_t cap = (static_cast<size_t>(Nblocks) + TABLE_LINE_COUNT_EXTRA) * MAXLEN_TABLE_LINE;
  size_t cc;
  render_header(p, cap, &cc);
  for(int i = 0; i < Nblocks; i++)
    cc += render_block_line(p + cc, cap - cc, i);
  int n = snprintf(p + cc, cap - cc, "%s", DASHES);
  if(n > 0)
    cc += n;
  return cc;
}

void memory::render_high_mark_table(rendered_table &t)
{
  char head[3 * MAXLEN_TABLE_LINE];
  size_t hlen;
  render_header(head, sizeof(head), &hlen);
  if(hlen != t.headlen) // the step number grew a digit beyond its field
    t.valid = 0;
  memcpy(t.buf, head, hlen);
  t.headlen    = hlen;
  t.lineoff[0] = hlen;

  for(int i = t.valid; i < Nblocks; i++)
    t.lineoff[i + 1] = t.lineoff[i] + render_block_line(t.buf + t.lineoff[i], MAXLEN_TABLE_LINE, i);
  t.valid = Nblocks;

  snprintf(t.buf + t.lineoff[Nblocks], MAXLEN_TABLE_LINE, "%s", DASHES);
}

void memory::dump_memory_table()
{
  // Failure path only: the table goes to the ordinary heap, not the region.
  size_t cap = (static_cast<size_t>(Nblocks) + TABLE_LINE_COUNT_EXTRA) * MAXLEN_TABLE_LINE;
  char *buf  = static_cast<char *>(malloc(cap));
  if(!buf)
    return;
  dump_memory_table_buffer(buf);
  printf("%s", buf);
  fflush(stdout);
  free(buf);
}

void memory::report_detailed_memory_usage_of_largest_task()
{
  int flag_a = 0, flag_b = 0;

  struct
  {
    double mem;
    int rank;
  } local, global;

  local.mem  = HighMarkBytes * TO_MBYTE_FAC;
  local.rank = ThisTask;
  MPI_Allreduce(&local, &global, 1, MPI_DOUBLE_INT, MPI_MAXLOC, Communicator);
  if(global.mem >= 1.05 * OldGlobHighMarkMB)
    {
      OldGlobHighMarkMB = global.mem;
      flag_a            = 1;
    }
  int task_a = global.rank;

  local.mem  = HighMarkBytesWithoutGeneric * TO_MBYTE_FAC;
  local.rank = ThisTask;
  MPI_Allreduce(&local, &global, 1, MPI_DOUBLE_INT, MPI_MAXLOC, Communicator);
  if(global.mem >= 1.05 * OldGlobHighMarkMBWithoutGeneric)
    {
      OldGlobHighMarkMBWithoutGeneric = global.mem;
      flag_b                          = 1;
    }
  int task_b = global.rank;

  if(flag_b)
    report_memory_usage(task_b, HighMarkTabBufWithoutGeneric);
  if(flag_a)
    report_memory_usage(task_a, HighMarkTabBuf);
}

// A report that cannot be written is worth one warning, not the run.
void memory::write_memory_report(const char *text)
{
  if(fputs(text, FdMemory) < 0 || fflush(FdMemory) != 0)
    {
      if(!MemoryReportFailed)
        RUN_WARNING("writing to '%smemory.txt' failed: %s; its reports are incomplete from here on", All.OutputDir, strerror(errno));
      MemoryReportFailed = true;
      clearerr(FdMemory);
    }
}

void memory::report_memory_usage(int rank, char *tabbuf)
{
  if(ThisTask != rank && ThisTask != 0)
    return;

  if(ThisTask == rank)
    {
      char head[300];
      int hlen = snprintf(head, sizeof(head),
                          "\nMEMORY:  Largest Allocation = %g Mbyte  |  Largest Allocation Without Generic = %g Mbyte\n\n",
                          OldGlobHighMarkMB, OldGlobHighMarkMBWithoutGeneric);
      // Sized from the text itself: the table was rendered at the high-water
      // mark and may hold many more blocks than are live now.
      size_t tlen = strlen(tabbuf);
      size_t len  = hlen + tlen + 1;
      char *buf   = static_cast<char *>(mymalloc("buf", len));
      memcpy(buf, head, hlen);
      memcpy(buf + hlen, tabbuf, tlen + 1);

      if(ThisTask == 0)
        {
          if(RestartFlag == RST_BEGIN || RestartFlag == RST_RESUME || RestartFlag == RST_STARTFROMSNAP)
            write_memory_report(buf);
        }
      else
        {
          int ilen = static_cast<int>(len);
          MPI_Send(&ilen, 1, MPI_INT, 0, TAG_REPORT_LEN, Communicator);
          MPI_Send(buf, ilen, MPI_BYTE, 0, TAG_REPORT_TEXT, Communicator);
        }
      myfree(buf);
    }
  else // task 0 receives another task's report
    {
      int ilen;
      MPI_Recv(&ilen, 1, MPI_INT, rank, TAG_REPORT_LEN, Communicator, MPI_STATUS_IGNORE);
      char *buf = static_cast<char *>(mymalloc("buf", ilen));
      MPI_Recv(buf, ilen, MPI_BYTE, rank, TAG_REPORT_TEXT, Communicator, MPI_STATUS_IGNORE);
      buf[ilen - 1] = 0;
      if(RestartFlag == RST_BEGIN || RestartFlag == RST_RESUME || RestartFlag == RST_STARTFROMSNAP)
        write_memory_report(buf);
      myfree(buf);
    }
}
