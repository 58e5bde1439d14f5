#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "system/system.h"

namespace
{
// A meminfo file in a scratch directory; removed with the object.
struct meminfo_file
{
  std::string path;
  explicit meminfo_file(const std::string &text)
  {
    char name[] = "/tmp/vortan_meminfo_XXXXXX";
    int fd      = mkstemp(name);
    path        = name;
    FILE *f     = fdopen(fd, "w");
    fputs(text.c_str(), f);
    fclose(f);
  }
  ~meminfo_file() { unlink(path.c_str()); }
};
}  // namespace

TEST(MemInfo, ReadsTheFourFieldsAndIgnoresLookAlikes)
{
  struct Case
  {
    const char *text;
    long long total, committed, swap_total, swap_free;
  } cases[] = {
      {"MemTotal:       16384 kB\nMemFree:  1000 kB\nSwapCached: 5 kB\nSwapTotal: 2048 kB\nSwapFree:  1024 kB\n"
       "Committed_AS:    4096 kB\nCommitLimit: 99 kB\n",
       16384, 4096, 2048, 1024},
      // node sizes above 2^31 kB must survive
      {"MemTotal:    3221225472 kB\nCommitted_AS:  2147483648 kB\n", 3221225472ll, 2147483648ll, 0, 0},
      {"HugePages_Total: 7\nMemAvailable: 12 kB\n", 0, 0, 0, 0},
      {"", 0, 0, 0, 0},
  };

  for(const Case &c : cases)
    {
      meminfo_file f(c.text);
      long long total = -1, committed = -1, swap_total = -1, swap_free = -1;
      long long avail = report_comittable_memory(&total, &committed, &swap_total, &swap_free, f.path.c_str());
      EXPECT_EQ(total, c.total);
      EXPECT_EQ(committed, c.committed);
      EXPECT_EQ(swap_total, c.swap_total);
      EXPECT_EQ(swap_free, c.swap_free);
      EXPECT_EQ(avail, c.total - c.committed);
    }
}

TEST(MemInfo, UnreadableFilesGiveZerosAndGoOn)
{
  long long total = -1, committed = -1, swap_total = -1, swap_free = -1;
  EXPECT_EQ(report_comittable_memory(&total, &committed, &swap_total, &swap_free, "/nonexistent/meminfo"), 0);
  EXPECT_EQ(total + committed + swap_total + swap_free, 0);
  EXPECT_EQ(report_free_size_in_tmpfs("/nonexistent/shm"), 0);
  unlink("WARNINGS");
}

TEST(MemInfo, TmpfsSpaceIsBoundedByItsSize)
{
  struct statvfs s;
  ASSERT_EQ(statvfs("/dev/shm", &s), 0);
  long long size_kb = (long long)((unsigned long long)s.f_blocks * s.f_frsize / 1024);
  long long free_kb = report_free_size_in_tmpfs("/dev/shm");
  EXPECT_GT(free_kb, 0);
  EXPECT_LE(free_kb, size_kb);
}

TEST(MemoryExtremes, LowestTaskWinsTies)
{
  struct Case
  {
    std::vector<long long> values;
    long long largest, smallest, sum;
    int task_of_largest, task_of_smallest;
  } cases[] = {
      {{7}, 7, 7, 7, 0, 0},
      {{5, 5, 5}, 5, 5, 15, 0, 0},
      {{1, 9, 9, 0, 0}, 9, 0, 19, 1, 3},
      {{4000000000ll, -3, 4000000000ll}, 4000000000ll, -3, 7999999997ll, 0, 1},
  };
  for(const Case &c : cases)
    {
      memory_extremes e = find_memory_extremes(c.values.data(), c.values.size());
      EXPECT_EQ(e.largest, c.largest);
      EXPECT_EQ(e.smallest, c.smallest);
      EXPECT_EQ(e.sum, c.sum);
      EXPECT_EQ(e.task_of_largest, c.task_of_largest);
      EXPECT_EQ(e.task_of_smallest, c.task_of_smallest);
    }

  // strided: every second value belongs to the quantity
  long long interleaved[] = {3, 100, 8, 100, 8, 100};
  memory_extremes e       = find_memory_extremes(interleaved, 3, 2);
  EXPECT_EQ(e.largest, 8);
  EXPECT_EQ(e.task_of_largest, 1);
  EXPECT_EQ(e.sum, 19);
}

TEST(RandomNumbers, ReproduciblePerTaskAndInUnitInterval)
{
  auto draw = [](int task) {
    init_rng(task);
    std::vector<double> v(100);
    for(double &x : v)
      {
        x = get_random_number();
        EXPECT_GE(x, 0.0);
        EXPECT_LT(x, 1.0);
      }
    return v;
  };
  std::vector<double> a = draw(0), b = draw(1), a2 = draw(0);
  EXPECT_EQ(a, a2);
  EXPECT_NE(a, b);
}
