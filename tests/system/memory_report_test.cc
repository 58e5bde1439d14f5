#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "system/system.h"

namespace
{
std::vector<std::string> lines_of(FILE *f)
{
  rewind(f);
  std::vector<std::string> lines;
  char buf[1024];
  while(fgets(buf, sizeof buf, f))
    lines.push_back(buf);
  return lines;
}
}  // namespace

TEST(MemoryReport, StoresNodeFiguresAndPrintsTheTable)
{
  int ntask, thistask;
  MPI_Comm_size(MPI_COMM_WORLD, &ntask);
  MPI_Comm_rank(MPI_COMM_WORLD, &thistask);

  FILE *out = tmpfile();
  ASSERT_NE(out, nullptr);
  long long MemoryOnNode = -1, SharedMemoryOnNode = -1;
  mpi_report_comittable_memory(MPI_COMM_WORLD, &MemoryOnNode, &SharedMemoryOnNode, out);

  long long total, committed, swap_total, swap_free;
  report_comittable_memory(&total, &committed, &swap_total, &swap_free);
  EXPECT_EQ(MemoryOnNode, total);
  EXPECT_GT(MemoryOnNode, 0);
  EXPECT_GT(SharedMemoryOnNode, 0);

  std::vector<std::string> lines = lines_of(out);
  fclose(out);

  if(thistask != 0)
    {
      EXPECT_TRUE(lines.empty());
      return;
    }

  const std::string dashes = std::string(121, '-') + "\n";
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "\n");
  EXPECT_EQ(lines[1], dashes);
  EXPECT_EQ(lines[9], dashes);
  EXPECT_EQ(lines[11], std::string(121, '~') + "\n");

  const char *labels[] = {"AvailMem", "Total Mem", "Committed_AS", "SwapTotal", "SwapFree", "AllocMem", "avail /dev/shm"};
  for(int q = 0; q < 7; q++)
    {
      const std::string &l = lines[2 + q];
      EXPECT_EQ(l.rfind(std::string(labels[q]) + ":\t Largest = ", 0), 0u) << l;
      double largest, smallest, average;
      int tl, ts;
      std::string fmt = std::string(labels[q]) +
                        ":\t Largest = %lf Mb (on task=%d), Smallest = %lf Mb (on task=%d), Average = %lf Mb";
      ASSERT_EQ(sscanf(l.c_str(), fmt.c_str(), &largest, &tl, &smallest, &ts, &average), 5) << l;
      EXPECT_GE(largest, smallest);
      EXPECT_GE(average, smallest - 0.01);
      EXPECT_LE(average, largest + 0.01);
      if(ntask == 1)
        {
          EXPECT_EQ(tl, 0);
          EXPECT_EQ(ts, 0);
          EXPECT_EQ(largest, smallest);
        }
    }

  // Total Mem: all tasks share one machine, so every value ties and the
  // lowest task is named
  EXPECT_NE(lines[3].find("(on task=   0), Smallest"), std::string::npos) << lines[3];

  int maxtask;
  char host[MPI_MAX_PROCESSOR_NAME + 1];
  ASSERT_EQ(sscanf(lines[10].c_str(), "Task=%d has the maximum commited memory and is host: %s", &maxtask, host), 2) << lines[10];
  EXPECT_GE(maxtask, 0);
  EXPECT_LT(maxtask, ntask);
  char myhost[MPI_MAX_PROCESSOR_NAME];
  int len;
  MPI_Get_processor_name(myhost, &len);
  EXPECT_STREQ(host, myhost);
}
