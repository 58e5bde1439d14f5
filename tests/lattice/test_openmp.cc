#include <omp.h>

#include "lattice_program.h"

namespace {

struct OpenMpCase
{
  int requested, proc, debug;
  const char *message;
  int threads;
};

void PrintTo(const OpenMpCase &c, std::ostream *os)
{
  *os << "requested " << c.requested << " on process " << c.proc << " debug " << c.debug;
}

class OpenMp : public ::testing::TestWithParam<OpenMpCase>
{
 protected:
  AllocSpy spy;
  void SetUp() override { spy.install(); }
  void TearDown() override
  {
    free_omp_accumulators();
    EXPECT_EQ(spy.live, 0);
    lattora_set_allocator(nullptr, nullptr, nullptr);
  }
};

// The thread count reaches the runtime and sizes the accumulators; every
// thread can use its slot.
TEST_P(OpenMp, SetsThreadsAndSizesAccumulators)
{
  const OpenMpCase c = GetParam();
  omp_num_threads = c.requested, g_proc_id = c.proc, g_debug_level = c.debug;
  testing::internal::CaptureStdout();
  ASSERT_EQ(init_openmp(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
  EXPECT_EQ(omp_num_threads, c.threads);
  ASSERT_EQ(omp_get_max_threads(), c.threads);
  EXPECT_EQ(spy.sizes, (std::vector<size_t>{c.threads * sizeof(lat_complex), c.threads * sizeof(double)}));

  int ran = 0;
#pragma omp parallel reduction(+ : ran)
  {
    const int id       = omp_get_thread_num();
    g_omp_acc_re[id]   = id;
    g_omp_acc_cp[id]   = {double(id), -double(id)};
    ran               += 1;
  }
  EXPECT_EQ(ran, c.threads);
  for(int id = 0; id < c.threads; id++)
    EXPECT_EQ(g_omp_acc_re[id], id);
}

const char kSingle[] = "# No value provided for OmpNumThreads, running in single-threaded mode!\n";

INSTANTIATE_TEST_SUITE_P(Lattice, OpenMp,
                         ::testing::Values(OpenMpCase{0, 0, 0, kSingle, 1},   // notice on process 0 only
                                           OpenMpCase{0, 3, 1, "", 1},
                                           OpenMpCase{-2, 0, 0, kSingle, 1},
                                           OpenMpCase{2, 0, 1, "# Instructing OpenMP to use 2 threads.\n", 2},
                                           OpenMpCase{2, 0, 0, "", 2},  // quiet without debug level
                                           OpenMpCase{3, 1, 1, "", 3}));

TEST_F(OpenMp, FailedAccumulatorIsReported)
{
  omp_num_threads = 2, g_proc_id = 1, g_debug_level = 0;
  spy.fail_at     = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(init_openmp(), 2);
  testing::internal::GetCapturedStdout();
}

}  // namespace
