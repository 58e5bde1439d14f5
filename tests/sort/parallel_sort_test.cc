#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "alloc_setup.h"
#include "sort/parallel_sort.h"

namespace
{
class AllocatorEnvironment : public ::testing::Environment
{
  void SetUp() override { start_test_allocator(64); }
};
::testing::Environment *const alloc_env = ::testing::AddGlobalTestEnvironment(new AllocatorEnvironment);

struct item
{
  unsigned long long key;
  int origin_task, origin_index;
};
bool operator==(const item &a, const item &b)
{
  return a.key == b.key && a.origin_task == b.origin_task && a.origin_index == b.origin_index;
}
bool by_key(const item &a, const item &b) { return a.key < b.key; }

std::vector<item> gather_to_root(const std::vector<item> &local, int ntask)
{
  int n = local.size() * sizeof(item);
  std::vector<int> counts(ntask), offs(ntask, 0);
  MPI_Gather(&n, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
  int total = 0;
  for(int i = 0; i < ntask; i++)
    {
      offs[i] = total;
      total += counts[i];
    }
  std::vector<item> all(total / sizeof(item));
  MPI_Gatherv(local.data(), n, MPI_BYTE, all.data(), counts.data(), offs.data(), MPI_BYTE, 0, MPI_COMM_WORLD);
  return all;
}
}  // namespace

// The result, read in task order, must be exactly the stable sort of the input
// read in task order (nothing lost, nothing duplicated, equal keys in input
// order), and every task must keep its element count.
TEST(ParallelSort, GlobalStableSortForEveryDistribution)
{
  int ntask, thistask;
  MPI_Comm_size(MPI_COMM_WORLD, &ntask);
  MPI_Comm_rank(MPI_COMM_WORLD, &thistask);

  struct Distribution
  {
    const char *name;
    std::function<int(int rank, int ntask)> count;
  } distributions[] = {
      {"equal", [](int, int) { return 2000; }},
      {"skewed", [](int r, int) { return 50 * (r + 1) * (r + 1) * (r + 1); }},
      {"odd ranks empty", [](int r, int) { return r % 2 ? 0 : 1500 + 7 * r; }},
      {"all on last", [](int r, int n) { return r == n - 1 ? 6000 : 0; }},
      {"all on first", [](int r, int) { return r == 0 ? 6000 : 0; }},
      {"one each", [](int, int) { return 1; }},
      {"first empty", [](int r, int) { return r == 0 ? 0 : 777; }},
      {"all empty", [](int, int) { return 0; }},
  };

  struct Values
  {
    const char *name;
    std::function<unsigned long long(std::mt19937_64 &)> draw;
  } values[] = {
      {"random", [](std::mt19937_64 &g) { return g(); }},
      {"few distinct", [](std::mt19937_64 &g) { return g() % 5; }},
      {"all identical", [](std::mt19937_64 &) { return 99ull; }},
  };

  for(const Distribution &d : distributions)
    for(const Values &val : values)
      {
        SCOPED_TRACE(std::string(d.name) + " / " + val.name);

        std::mt19937_64 gen(1000 + thistask);
        int n = d.count(thistask, ntask);
        std::vector<item> v(n);
        for(int i = 0; i < n; i++)
          v[i] = item{val.draw(gen), thistask, i};

        std::vector<item> input_all = gather_to_root(v, ntask);

        int blocks_before = Mem.Nblocks;
        mycxxsort_parallel(v.begin(), v.end(), by_key, MPI_COMM_WORLD);
        EXPECT_EQ(Mem.Nblocks, blocks_before);

        EXPECT_EQ((int)v.size(), n);
        std::vector<item> output_all = gather_to_root(v, ntask);

        int ok = 1;
        if(thistask == 0)
          {
            std::stable_sort(input_all.begin(), input_all.end(), by_key);
            ok = input_all == output_all;
            EXPECT_TRUE(ok) << "result differs from the global stable sort";
          }
        MPI_Bcast(&ok, 1, MPI_INT, 0, MPI_COMM_WORLD);
        if(!ok)
          return;
      }
}

// A sub-communicator works like the world (collective only over its members).
TEST(ParallelSort, SortsWithinSubCommunicator)
{
  int ntask, thistask;
  MPI_Comm_size(MPI_COMM_WORLD, &ntask);
  MPI_Comm_rank(MPI_COMM_WORLD, &thistask);

  MPI_Comm half;
  MPI_Comm_split(MPI_COMM_WORLD, thistask % 2, thistask, &half);
  int hrank, hsize;
  MPI_Comm_rank(half, &hrank);
  MPI_Comm_size(half, &hsize);

  std::vector<item> v(300 + 100 * hrank);
  for(size_t i = 0; i < v.size(); i++)
    v[i] = item{(unsigned long long)((i * 7919 + hrank * 104729) % 1013), hrank, (int)i};

  mycxxsort_parallel(v.begin(), v.end(), by_key, half);

  EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), by_key));
  unsigned long long first = v.front().key, last = v.back().key;
  std::vector<unsigned long long> firsts(hsize), lasts(hsize);
  MPI_Allgather(&first, 1, MPI_UNSIGNED_LONG_LONG, firsts.data(), 1, MPI_UNSIGNED_LONG_LONG, half);
  MPI_Allgather(&last, 1, MPI_UNSIGNED_LONG_LONG, lasts.data(), 1, MPI_UNSIGNED_LONG_LONG, half);
  for(int i = 1; i < hsize; i++)
    EXPECT_LE(lasts[i - 1], firsts[i]);

  MPI_Comm_free(&half);
}
