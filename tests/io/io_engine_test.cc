// Engine rules that need no files: task grouping, shares, element conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "io/half.h"
#include "io/io.h"

namespace
{
// Minimal engine: a table of fields with no storage behind it.
class bare_io : public IO_Def
{
 public:
  bare_io() : IO_Def(MPI_COMM_SELF, 1) {}
  void fill_file_header(int, int, long long *, long long *) override {}
  void read_file_header(const char *, int, int, int, long long *, long long *, int *) override {}
  void get_datagroup_name(int, char *) override {}
  void write_header_fields(hid_t) override {}
  void read_header_fields(const char *) override {}
  void read_increase_numbers(int, int) override {}
  int get_filenr_from_header() override { return 1; }
  void set_filenr_in_header(int) override {}
  void *get_base_address_of_structure(enum arrays, int) override { return nullptr; }
  int get_type_of_element(int) override { return 0; }
  void set_type_of_element(int, int) override {}

  IO_Field field[1];
  void set_field(types_in_memory t, int values)
  {
    memset(field, 0, sizeof(field));
    field[0].type_in_memory   = t;
    field[0].values_per_block = values;
    IO_Fields                 = field;
    N_IO_Fields               = 1;
  }
  ~bare_io() override { N_IO_Fields = 0; }
};

TEST(IoEngine, FileGroupsOfTasks)
{
  struct
  {
    int ntask, nfiles;
    std::vector<int> first_task_of_file;  // plus NTask at the end
  } cases[] = {
      {10, 3, {0, 4, 7, 10}},       {8, 4, {0, 2, 4, 6, 8}}, {8, 3, {0, 3, 6, 8}}, {4, 1, {0, 4}},
      {5, 5, {0, 1, 2, 3, 4, 5}},   {7, 2, {0, 4, 7}},       {1, 1, {0, 1}},
  };
  bare_io io;
  for(auto &c : cases)
    {
      io.NTask = c.ntask;
      for(int task = 0; task < c.ntask; task++)
        {
          io.ThisTask = task;
          int filenr, master, last;
          io.distribute_file(c.nfiles, &filenr, &master, &last);
          EXPECT_EQ(master, c.first_task_of_file[filenr]) << c.ntask << " tasks, " << c.nfiles << " files, task " << task;
          EXPECT_EQ(last, c.first_task_of_file[filenr + 1] - 1) << c.ntask << " tasks, " << c.nfiles << " files, task " << task;
          EXPECT_TRUE(task >= master && task <= last);
        }
    }
}

TEST(IoEngine, SharesOfAFileGroup)
{
  struct
  {
    long long n;
    int m;
    std::vector<long long> shares;
  } cases[] = {{10, 3, {4, 3, 3}}, {2, 4, {1, 1, 0, 0}}, {0, 2, {0, 0}}, {9, 3, {3, 3, 3}}, {5000000000LL, 2, {2500000000LL, 2500000000LL}}};
  for(auto &c : cases)
    for(int i = 0; i < c.m; i++)
      EXPECT_EQ(IO_Def::share_of(c.n, i, c.m), c.shares[i]) << c.n << " over " << c.m;
}

TEST(IoEngine, ElementConversions)
{
  bare_io io;

  // a 12-byte single-precision vector into three doubles and back
  io.set_field(MEM_MY_DOUBLE, 3);
  float f[6] = {1.5f, -2.25f, 1e30f, 0.1f, 3.0f, -0.0f};
  double d[6];
  io.type_cast_data((char *)f, 12, (char *)d, 24, 2, 0);
  for(int i = 0; i < 6; i++)
    EXPECT_EQ(d[i], (double)f[i]);
  float back[6];
  io.type_cast_data((char *)d, 24, (char *)back, 12, 2, 0);
  EXPECT_EQ(memcmp(f, back, sizeof(f)), 0);

  // a two-component half field must not be taken for a single float
  io.set_field(MEM_MY_FLOAT, 2);
  half_float::half h[2] = {half_float::half(0.5f), half_float::half(70000.0f)};
  double hd[2];
  io.type_cast_data((char *)h, 4, (char *)hd, 16, 1, 0);
  EXPECT_EQ(hd[0], 0.5);
  EXPECT_EQ(hd[1], std::numeric_limits<double>::infinity());

  // 32-bit IDs widen without sign extension; 64-bit ones that fit narrow exactly
  io.set_field(MEM_MY_ID_TYPE, 1);
  unsigned int ids[2] = {0x80000001u, 7u};
  unsigned long long wide[2];
  io.type_cast_data((char *)ids, 4, (char *)wide, 8, 2, 0);
  EXPECT_EQ(wide[0], 0x80000001ull);
  unsigned int narrow[2];
  io.type_cast_data((char *)wide, 8, (char *)narrow, 4, 2, 0);
  EXPECT_EQ(narrow[0], 0x80000001u);
  EXPECT_EQ(narrow[1], 7u);

  // signed values sign-extend
  io.set_field(MEM_INT64, 1);
  int neg[1] = {-3};
  long long neg64[1];
  io.type_cast_data((char *)neg, 4, (char *)neg64, 8, 1, 0);
  EXPECT_EQ(neg64[0], -3);
}
}  // namespace
