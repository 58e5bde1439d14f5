#ifndef VORTAN_DATA_MYMALLOC_H
#define VORTAN_DATA_MYMALLOC_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "data/allvars.h"
#include "mpi_utils/setcomm.h"

#define CACHELINESIZE 64
#define MAXBLOCKS 5000
#define MAXCHARS 40
#define MAXLEN_TABLE_LINE 260 // room for one rendered line of the block table

// Convenience forms: every call site hands in its own function, file and line
// so that a dump of the block table says who holds what.
#define mymalloc(x, y) Mem.mymalloc_movable_fullinfo(nullptr, x, y, __func__, __FILE__, __LINE__, 0, 0, nullptr)
#define mymalloc_clear(x, y) Mem.mymalloc_movable_fullinfo(nullptr, x, y, __func__, __FILE__, __LINE__, 0, 1, nullptr)
#define mymalloc_movable(x, y, z) Mem.mymalloc_movable_fullinfo(x, y, z, __func__, __FILE__, __LINE__, 1, 0, nullptr)
#define mymalloc_movable_clear(x, y, z) Mem.mymalloc_movable_fullinfo(x, y, z, __func__, __FILE__, __LINE__, 1, 1, nullptr)

// Generic forms: for library routines that take a `const char *callorigin`
// argument naming their own caller; such blocks are accounted separately.
#define mymalloc_g(x, y) Mem.mymalloc_movable_fullinfo(nullptr, x, y, __func__, __FILE__, __LINE__, 0, 0, callorigin)
#define mymalloc_movable_g(x, y, z) Mem.mymalloc_movable_fullinfo(x, y, z, __func__, __FILE__, __LINE__, 1, 0, callorigin)

#define myrealloc(x, y) Mem.myrealloc_movable_fullinfo(x, y, __func__, __FILE__, __LINE__, 0)
#define myrealloc_movable(x, y) Mem.myrealloc_movable_fullinfo(x, y, __func__, __FILE__, __LINE__, 1)

#define myfree(x) Mem.myfree_movable_fullinfo(x, __func__, __FILE__, __LINE__, 0)
#define myfree_movable(x) Mem.myfree_movable_fullinfo(x, __func__, __FILE__, __LINE__, 1)

// Stack allocator on one region per task. The regions of all tasks of an
// island are one MPI shared-memory window, so island peers (and the island's
// listener) can address each other's blocks through Shmem.SharedMemBaseAddr.
class memory : public setcomm
{
 public:
  memory() : setcomm("delay init") {}

  size_t AllocatedBytes        = 0;
  size_t FreeBytes             = 0;
  char *Base                   = nullptr;
  size_t AllocatedBytesGeneric = 0;

  size_t HighMarkBytes                   = 0;
  size_t HighMarkBytesWithoutGeneric     = 0;
  double OldGlobHighMarkMB               = 0;
  double OldGlobHighMarkMBWithoutGeneric = 0;

  FILE *FdMemory = nullptr;

  size_t TotBytes = 0;
  int Nblocks     = 0;

  char **Table         = nullptr;
  size_t *BlockSize    = nullptr;
  char *MovableFlag    = nullptr;
  char *GenericFlag    = nullptr;
  char ***BasePointers = nullptr;
  char *VarName        = nullptr; // MAXCHARS per block
  char *FunctionName   = nullptr;
  char *ParentFileName = nullptr;
  char *FileName       = nullptr;
  int *LineNumber      = nullptr;

  char *HighMarkTabBuf                = nullptr;
  char *HighMarkTabBufWithoutGeneric  = nullptr;
  size_t HighMarkTabBufSize           = 0;

  // The high-water tables are re-rendered only from the first block that
  // changed since their last rendering, so a run of allocations that each set
  // a new mark stays linear instead of quadratic.
  struct rendered_table
  {
    char *buf;
    size_t *lineoff; // start of the line of block i; lineoff[Nblocks] = trailer
    size_t headlen;
    int valid;       // lines of blocks 0 .. valid-1 are still correct
  };
  rendered_table HighMarkTab{}, HighMarkTabWithoutGeneric{};
  enum restart_options RestartFlag    = RST_BEGIN;

  // Bytes moved to align Base to a cache line; peers need it to find our base.
  int AlignShift = 0;

  void mymalloc_init(int maxmemsize, enum restart_options restartflag);
  void check_maxmemsize_setting(int maxmemsize);

  void *mymalloc_movable_fullinfo(void *ptr, const char *varname, size_t n, const char *func, const char *file, int line,
                                  int movable_flag, int clear_flag, const char *callorigin);
  void myfree_movable_fullinfo(void *p, const char *func, const char *file, int line, int movable_flag);
  void *myrealloc_movable_fullinfo(void *p, size_t n, const char *func, const char *file, int line, int movable_flag);
  void *myfree_query_last_block();

  static size_t roundup_to_multiple_of_cacheline_size(size_t n)
  {
    if(n == 0)
      return CACHELINESIZE;
    return ((n + CACHELINESIZE - 1) / CACHELINESIZE) * CACHELINESIZE;
  }

  double getAllocatedBytesInMB() const { return AllocatedBytes * TO_MBYTE_FAC; }
  size_t get_free_bytes() const { return FreeBytes; }
  char *get_top() const { return Base + TotBytes - FreeBytes; }

  void dump_memory_table();
  // Renders the block table into p (at least (Nblocks + 10) * 260 bytes);
  // returns its length.
  size_t dump_memory_table_buffer(char *p);

  void report_memory_usage(int rank, char *tabbuf);
  void report_detailed_memory_usage_of_largest_task();

  static constexpr double TO_MBYTE_FAC = 1.0 / (1024.0 * 1024.0);

 private:
  bool MemoryReportFailed = false;
  void write_memory_report(const char *text);
  void update_high_marks();
  int find_block(void *p, int movable_flag, const char *func, const char *file, int line, bool realloc);
  void setup_region(char *base, size_t totbytes);
  void setup_island_tables();
  void set_name(char *slot, const char *src) const;
  void render_header(char *p, size_t cap, size_t *len) const;
  size_t render_block_line(char *p, size_t cap, int i) const;
  void render_high_mark_table(rendered_table &t);
  void block_changed(int b)
  {
    if(HighMarkTab.valid > b)
      HighMarkTab.valid = b;
    if(HighMarkTabWithoutGeneric.valid > b)
      HighMarkTabWithoutGeneric.valid = b;
  }
};

extern memory Mem;

#endif
