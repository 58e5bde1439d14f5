#include <gtest/gtest.h>
#include <mpi.h>
#include <sys/stat.h>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_env.h"
#include "data/mymalloc.h"
#include "mpi_utils/shared_mem_handler.h"

static ::testing::Environment *const env =
    ::testing::AddGlobalTestEnvironment(new vortan_test::AllocatorEnvironment(64, "mymalloc_out"));

namespace
{
std::string label(int b) { return std::string(Mem.VarName + b * MAXCHARS); }

void fill(char *p, size_t n, char seed)
{
  for(size_t k = 0; k < n; k++)
    p[k] = static_cast<char>(seed + k % 61);
}

bool holds(const char *p, size_t n, char seed)
{
  for(size_t k = 0; k < n; k++)
    if(p[k] != static_cast<char>(seed + k % 61))
      return false;
  return true;
}

std::string slurp(const char *name)
{
  std::ifstream in(name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

TEST(Allocator, StartupLeavesIslandTablesInTheRegion)
{
  ASSERT_EQ(Mem.Nblocks, 4);
  EXPECT_EQ(label(0), "GetGhostRankForSimulCommRank");
  EXPECT_EQ(label(1), "GetShmRankForSimulCommRank");
  EXPECT_EQ(label(2), "GetNodeIDForSimulCommRank");
  EXPECT_EQ(label(3), "SharedMemBaseAddr");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Mem.Base) % 64, 0u);
  EXPECT_EQ(Mem.TotBytes, size_t(64) << 20);
  EXPECT_EQ(Mem.AllocatedBytes + Mem.FreeBytes, Mem.TotBytes);
  EXPECT_EQ(Shmem.SharedMemBaseAddr[Shmem.Island_ThisTask], Mem.Base);

  // The layouts the tests are run with: one island, or two islands of three.
  std::vector<int> ghost, shm, node;
  if(Shmem.listeners_in_use())
    {
      ASSERT_EQ(Shmem.World_NTask, 6) << "only the two-islands layout is known to this test";
      ghost = {2, 2, 5, 5};
      shm   = {0, 1, 0, 1};
      node  = {0, 0, 3, 3};
    }
  else
    for(int i = 0; i < Shmem.World_NTask; i++)
      {
        ghost.push_back(Shmem.World_NTask - 1);
        shm.push_back(i);
        node.push_back(0);
      }

  ASSERT_EQ(Shmem.Sim_NTask, static_cast<int>(ghost.size()));
  for(int i = 0; i < Shmem.Sim_NTask; i++)
    {
      EXPECT_EQ(Shmem.GetGhostRankForSimulCommRank[i], ghost[i]) << "sim rank " << i;
      EXPECT_EQ(Shmem.GetShmRankForSimulCommRank[i], shm[i]) << "sim rank " << i;
      if(!Shmem.GhostRank) // filled on compute ranks only
        EXPECT_EQ(Shmem.GetNodeIDForSimulCommRank[i], node[i]) << "sim rank " << i;
    }
}

TEST(Allocator, RequestsRoundToWholeCacheLines)
{
  struct
  {
    size_t request, taken;
  } cases[] = {{1, 64}, {64, 64}, {65, 128}, {0, 64}, {4097, 4160}};

  for(auto c : cases)
    {
      char *top   = Mem.get_top();
      size_t free = Mem.FreeBytes;
      char *p     = static_cast<char *>(mymalloc("round", c.request));
      EXPECT_EQ(p, top) << c.request;
      EXPECT_EQ(free - Mem.FreeBytes, c.taken) << c.request;
      EXPECT_EQ(Mem.get_top(), top + c.taken) << c.request;
      myfree(p);
      EXPECT_EQ(Mem.FreeBytes, free);
    }
}

// Three movable blocks; one is released. The ones above must come down by its
// size with their contents and their owners' pointers.
TEST(Allocator, MovableReleaseShiftsBlocksAboveAndTheirPointers)
{
  const size_t sizes[3] = {100, 200, 64}; // 128, 256, 64 after rounding
  const size_t taken[3] = {128, 256, 64};

  for(int victim = 0; victim < 3; victim++)
    {
      char *ptr[3];
      int nb0     = Mem.Nblocks;
      size_t free = Mem.FreeBytes;
      for(int k = 0; k < 3; k++)
        {
          ptr[k] = static_cast<char *>(mymalloc_movable(&ptr[k], "mov", sizes[k]));
          fill(ptr[k], sizes[k], 'a' + k);
        }
      char *start = ptr[0];

      myfree_movable(ptr[victim]);
      EXPECT_EQ(ptr[victim], nullptr) << "victim " << victim;
      EXPECT_EQ(Mem.Nblocks, nb0 + 2);

      char *expect = start;
      for(int k = 0; k < 3; k++)
        {
          if(k == victim)
            continue;
          EXPECT_EQ(ptr[k], expect) << "victim " << victim << " block " << k;
          EXPECT_TRUE(holds(ptr[k], sizes[k], 'a' + k)) << "victim " << victim << " block " << k;
          expect += taken[k];
        }
      EXPECT_EQ(Mem.get_top(), expect);

      for(int k = 2; k >= 0; k--)
        if(ptr[k])
          myfree_movable(ptr[k]);
      EXPECT_EQ(Mem.FreeBytes, free);
      EXPECT_EQ(Mem.Nblocks, nb0);
    }
}

TEST(Allocator, MovableResizeKeepsStartAndShiftsBlocksAbove)
{
  struct
  {
    int which;
    size_t newsize;
  } cases[] = {{1, 1000}, {1, 10}, {0, 5000}, {2, 300}, {0, 64}};

  const size_t sizes[3] = {256, 512, 128};
  for(auto c : cases)
    {
      char *ptr[3];
      size_t free = Mem.FreeBytes;
      for(int k = 0; k < 3; k++)
        {
          ptr[k] = static_cast<char *>(mymalloc_movable(&ptr[k], "mov", sizes[k]));
          fill(ptr[k], sizes[k], 'k' + k);
        }
      char *start = ptr[c.which];

      char *q = static_cast<char *>(myrealloc_movable(ptr[c.which], c.newsize));
      EXPECT_EQ(q, start);
      size_t keep = std::min(sizes[c.which], c.newsize);
      EXPECT_TRUE(holds(q, keep, 'k' + c.which));

      size_t newtaken = memory::roundup_to_multiple_of_cacheline_size(c.newsize);
      char *expect    = start + newtaken;
      for(int k = c.which + 1; k < 3; k++)
        {
          EXPECT_EQ(ptr[k], expect) << "block " << k;
          EXPECT_TRUE(holds(ptr[k], sizes[k], 'k' + k)) << "block " << k;
          expect += sizes[k];
        }
      EXPECT_EQ(Mem.get_top(), expect);
      EXPECT_EQ(Mem.AllocatedBytes + Mem.FreeBytes, Mem.TotBytes);

      for(int k = 2; k >= 0; k--)
        myfree_movable(ptr[k]);
      EXPECT_EQ(Mem.FreeBytes, free);
    }
}

// The high-water table is rendered incrementally; at every new mark it must
// equal a full rendering of the live blocks.
TEST(Allocator, HighWaterTableEqualsAFreshDumpAtEveryNewMark)
{
  std::vector<char> fresh((MAXBLOCKS + 10) * MAXLEN_TABLE_LINE);
  auto check = [&](const char *step) {
    Mem.dump_memory_table_buffer(fresh.data());
    EXPECT_STREQ(Mem.HighMarkTabBuf, fresh.data()) << step;
  };

  size_t base = Mem.HighMarkBytes;
  char *m[4];
  for(int k = 0; k < 4; k++)
    m[k] = static_cast<char *>(mymalloc_movable(&m[k], "hw_movable", base + 1000 * (k + 1)));
  check("after growing allocations");

  myfree_movable(m[1]); // lines of the blocks above change
  void *extra = mymalloc_movable(&extra, "hw_extra", 3 * base + 50000);
  check("after a release in the middle and a new mark");

  All.NumCurrentTiStep = 123456789; // a step number wider than its field
  m[0] = static_cast<char *>(myrealloc_movable(m[0], Mem.HighMarkBytes + 10000));
  check("after a resize in the middle with a wider step number");
  All.NumCurrentTiStep = 0;

  myfree_movable(extra);
  for(int k = 3; k >= 0; k--)
    if(m[k])
      myfree_movable(m[k]);
}

// The task with the largest high-water mark sends its table to task 0. The
// table was rendered with many more blocks than are live when it is sent.
TEST(Allocator, MemoryReportCarriesTheWholeHighWaterTable)
{
  const int nblk = 300;
  int largest    = Mem.NTask - 1;
  if(Mem.ThisTask == largest)
    {
      std::vector<char *> blocks(nblk);
      for(int i = 0; i < nblk; i++)
        blocks[i] = static_cast<char *>(mymalloc("hwm_block", 8192));
      for(int i = nblk - 1; i >= 0; i--)
        myfree(blocks[i]);
    }

  char fname[MAXLEN_PATH_EXTRA];
  snprintf(fname, sizeof(fname), "%smemory.txt", All.OutputDir);
  bool checker = Mem.ThisTask == 0 && !Shmem.GhostRank;

  Mem.report_detailed_memory_usage_of_largest_task();
  if(checker)
    {
      std::string text = slurp(fname);
      EXPECT_NE(text.find("MEMORY:  Largest Allocation = "), std::string::npos);
      char lastline[64];
      snprintf(lastline, sizeof(lastline), "%4d %5d 0                                hwm_block", largest, 4 + nblk - 1);
      size_t at = text.find(lastline);
      ASSERT_NE(at, std::string::npos) << "high-water table truncated";
      EXPECT_NE(text.find("--------------------------------------------------------------------------------"
                          "----------\n",
                          at),
                std::string::npos);
    }

  // Less than 5 % growth adds nothing.
  struct stat st0, st1;
  if(checker)
    ASSERT_EQ(stat(fname, &st0), 0);
  Mem.report_detailed_memory_usage_of_largest_task();
  if(checker)
    {
      ASSERT_EQ(stat(fname, &st1), 0);
      EXPECT_EQ(st1.st_size, st0.st_size);
    }

  // Growth beyond 5 % is reported again.
  if(Mem.ThisTask == largest)
    {
      void *p = mymalloc("hwm_big", Mem.HighMarkBytes + Mem.HighMarkBytes / 5);
      myfree(p);
    }
  Mem.report_detailed_memory_usage_of_largest_task();
  if(checker)
    {
      ASSERT_EQ(stat(fname, &st1), 0);
      EXPECT_GT(st1.st_size, st0.st_size);
      EXPECT_NE(slurp(fname).find("hwm_big"), std::string::npos);
    }

  // A report that cannot be written warns and the run goes on.
  FILE *saved = Mem.FdMemory;
  if(checker)
    Mem.FdMemory = fopen("/dev/full", "w");
  if(Mem.ThisTask == largest)
    {
      void *p = mymalloc("hwm_bigger", Mem.HighMarkBytes + Mem.HighMarkBytes / 5);
      myfree(p);
    }
  ::testing::internal::CaptureStdout();
  Mem.report_detailed_memory_usage_of_largest_task();
  std::string out = ::testing::internal::GetCapturedStdout();
  if(checker)
    {
      EXPECT_NE(out.find("memory.txt' failed"), std::string::npos) << out;
      fclose(Mem.FdMemory);
      Mem.FdMemory = saved;
    }
}

// Every rank of an island, listener included, reads what every other rank of
// the island wrote into its own region.
TEST(Allocator, IslandPeersReadEachOthersRegion)
{
  const int n = 64;
  int *mine   = static_cast<int *>(mymalloc("peer_data", n * sizeof(int)));
  for(int k = 0; k < n; k++)
    mine[k] = Shmem.World_ThisTask * 1000 + k;

  long long off = reinterpret_cast<char *>(mine) - Mem.Base;
  std::vector<long long> offs(Shmem.Island_NTask);
  std::vector<int> world(Shmem.Island_NTask);
  MPI_Allgather(&off, 1, MPI_LONG_LONG, offs.data(), 1, MPI_LONG_LONG, Shmem.SharedMemComm);
  MPI_Allgather(&Shmem.World_ThisTask, 1, MPI_INT, world.data(), 1, MPI_INT, Shmem.SharedMemComm);

  MPI_Win_lock_all(MPI_MODE_NOCHECK, Shmem.SharedMemWin);
  MPI_Win_sync(Shmem.SharedMemWin);
  MPI_Barrier(Shmem.SharedMemComm);
  MPI_Win_sync(Shmem.SharedMemWin);

  for(int j = 0; j < Shmem.Island_NTask; j++)
    {
      const int *theirs = reinterpret_cast<const int *>(Shmem.SharedMemBaseAddr[j] + offs[j]);
      for(int k = 0; k < n; k++)
        ASSERT_EQ(theirs[k], world[j] * 1000 + k) << "island rank " << j << " entry " << k;
    }

  MPI_Win_unlock_all(Shmem.SharedMemWin);
  MPI_Barrier(Shmem.SharedMemComm); // peers are done reading before we release
  myfree(mine);
}
