#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "alloc_setup.h"
#include "sort/cxxsort.h"

namespace
{
class AllocatorEnvironment : public ::testing::Environment
{
  void SetUp() override { start_test_allocator(64); }
};
::testing::Environment *const alloc_env = ::testing::AddGlobalTestEnvironment(new AllocatorEnvironment);

struct rec
{
  int key;
  int payload;  // input position, shows whether equal keys kept their order
};
bool operator==(const rec &a, const rec &b) { return a.key == b.key && a.payload == b.payload; }
bool by_key(const rec &a, const rec &b) { return a.key < b.key; }

enum input_kind
{
  RANDOM,
  SORTED,
  REVERSED,
  ALL_EQUAL,
  FEW_VALUES,
  SAWTOOTH
};

std::vector<rec> make_input(input_kind kind, int n, unsigned seed)
{
  std::mt19937 rng(seed);
  std::vector<rec> v(n);
  for(int i = 0; i < n; i++)
    {
      int k = 0;
      switch(kind)
        {
          case RANDOM:
            k = (int)rng();
            break;
          case SORTED:
            k = i;
            break;
          case REVERSED:
            k = n - i;
            break;
          case ALL_EQUAL:
            k = 42;
            break;
          case FEW_VALUES:
            k = rng() % 4;
            break;
          case SAWTOOTH:
            k = i % 37;
            break;
        }
      v[i] = rec{k, i};
    }
  return v;
}
}  // namespace

TEST(SerialSort, EqualsStableSortOnAllInputKinds)
{
  const int sizes[] = {0, 1, 2, 3, 15, 16, 17, 33, 1000, 100003};
  const input_kind kinds[] = {RANDOM, SORTED, REVERSED, ALL_EQUAL, FEW_VALUES, SAWTOOTH};

  for(input_kind kind : kinds)
    for(int n : sizes)
      {
        std::vector<rec> v = make_input(kind, n, 1234 + n), ref = v;
        std::stable_sort(ref.begin(), ref.end(), by_key);

        int blocks_before = Mem.Nblocks;
        mycxxsort(v.data(), v.data() + n, by_key);

        EXPECT_EQ(Mem.Nblocks, blocks_before) << "scratch buffer not given back";
        ASSERT_TRUE(v == ref) << "kind=" << kind << " n=" << n;
      }
}

TEST(SerialSort, EqualsStdSortOnDoublesAndIterators)
{
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1e6, 1e6);
  std::vector<double> v(54321);
  for(double &x : v)
    x = u(rng);
  std::vector<double> ref = v;
  std::sort(ref.begin(), ref.end());

  mycxxsort(v.begin(), v.end(), [](double a, double b) { return a < b; });
  EXPECT_TRUE(v == ref);

  // descending order through the comparison
  std::sort(ref.begin(), ref.end(), std::greater<double>());
  mycxxsort(v.begin(), v.end(), std::greater<double>());
  EXPECT_TRUE(v == ref);
}

TEST(SerialSort, InternalStepLeavesResultWhereAsked)
{
  std::vector<rec> in = make_input(FEW_VALUES, 517, 9), ref = in;
  std::stable_sort(ref.begin(), ref.end(), by_key);

  for(bool into_buf : {false, true})
    {
      std::vector<rec> v = in, buf(in.size(), rec{-1, -1});
      mycxxsort_internal_serial(v.data(), v.data() + v.size(), buf.data(), into_buf, by_key);
      EXPECT_TRUE((into_buf ? buf : v) == ref) << "into_buf=" << into_buf;
    }
}

TEST(SerialSort, BuildIndexOrdersWithoutMovingData)
{
  std::vector<rec> v = make_input(FEW_VALUES, 1000, 3), copy = v;
  std::vector<int> idx(v.size());
  buildIndex(v.data(), v.data() + v.size(), idx.data(), by_key);

  EXPECT_TRUE(v == copy);
  std::vector<rec> ref = v;
  std::stable_sort(ref.begin(), ref.end(), by_key);
  for(size_t i = 0; i < v.size(); i++)
    ASSERT_TRUE(v[idx[i]] == ref[i]) << i;
}
