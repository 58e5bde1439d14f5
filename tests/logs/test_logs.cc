#include <gtest/gtest.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../data/alloc_env.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "logs/logs.h"

static ::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new vortan_test::AllocatorEnvironment(16, "logs_out"));

namespace
{
// Every rank holds one gas particle at the centre moving along x and one
// type-1 particle at x = 1 moving along y, in a comoving run at a = 0.5.
struct scene
{
  simparticles sp{Shmem.SimulationComm};

  scene()
  {
    const double center[3] = {0, 0, 0};
    sp.set_region(center, 8.0);
    sp.MaxPart    = 2;
    sp.MaxPartSph = 1;
    sp.TimeBinsHydro.timebins_init("Hydro", &sp.MaxPartSph);
    sp.TimeBinsGravity.timebins_init("Gravity", &sp.MaxPart);
    sp.allocate_memory();
    sp.NumPart = 2;
    sp.NumGas  = 1;

    const double x0[3] = {0, 0, 0}, x1[3] = {1, 0, 0};
    particle_data &g = sp.P[0], &d = sp.P[1];
    sp.pos_to_intpos(x0, g.IntPos);
    sp.pos_to_intpos(x1, d.IntPos);
    g.setType(0), g.setMass(2), g.Vel[0] = 1;
    d.setType(1), d.setMass(1), d.Vel[1] = 2;
    sp.SphP[0].Entropy = 3;
    sp.SphP[0].Density = 1;

    sp.TimeBinsGravity.timebin_add_particle(0, -1, 3, 1);
    sp.TimeBinsGravity.timebin_add_particle(1, -1, 5, 1);
    sp.TimeBinsHydro.timebin_add_particle(0, -1, 3, 1);
    sp.TimeBinSynchronized[3] = sp.TimeBinSynchronized[5] = 1;

    All.ComovingIntegrationOn = 1;
    All.Hubble = 0.1, All.Omega0 = 1, All.OmegaLambda = 0;
    All.Time = 0.5, All.TimeStep = 0.01, All.Timebase_interval = 1e-3;
    All.NumCurrentTiStep           = 1;
    All.GlobalNSynchronizedGravity = 2 * Logs.NTask;
    All.GlobalNSynchronizedHydro   = Logs.NTask;
    All.HighestActiveTimeBin = All.HighestOccupiedTimeBin = 5;
    All.SmallestTimeBinWithDomainDecomposition            = 4;
    All.TimeBetStatistics = 0.1, All.TimeLastStatistics = 0.3;
  }
  ~scene() { sp.free_memory(); }
};

bool rank0() { return Logs.ThisTask == 0; }
}  // namespace

class Logs_ : public ::testing::Test
{
 protected:
  static void SetUpTestSuite()
  {
    Logs.initcomm(Shmem.SimulationComm);
    Logs.open_logfiles();
  }
};

TEST_F(Logs_, OneStepOfEveryLogAsReadBackIndependently)
{
  scene s;
  Logs.init_cpu_log(&s.sp);

  Logs.output_log_messages();
  Logs.compute_statistics();
  Logs.CPU_Step[CPU_TREEWALK] = 0.25 * (Logs.ThisTask + 1);
  Logs.CPU_Step[CPU_DENSWALK] = 0.5;
  Logs.write_cpu_log();

  // Same comoving factor a^-2 = 4 for both kinetic energies.
  const int n              = Logs.NTask;
  const auto &st           = Logs.SysState;
  EXPECT_DOUBLE_EQ(st.EnergyKinComp[0], 4.0 * n);
  EXPECT_DOUBLE_EQ(st.EnergyKinComp[1], 8.0 * n);
  EXPECT_NEAR(st.EnergyIntComp[0], 36.0 * n, 1e-9 * n); // 2 * 3 * (1 * 8)^(2/3) / (2/3)
  EXPECT_DOUBLE_EQ(st.Mass, 3.0 * n);
  EXPECT_NEAR(st.CenterOfMassComp[1][0], 1.0, 1e-12);
  EXPECT_NEAR(st.CenterOfMassComp[1][3], 1.0, 1e-12);
  EXPECT_NEAR(st.CenterOfMass[0], 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(st.AngMomentumComp[1][2], 2.0 * n, 1e-12);
  EXPECT_DOUBLE_EQ(st.Momentum[3], std::sqrt(8.0) * n);
  EXPECT_NEAR(All.TimeLastStatistics, 0.4, 1e-15);
  EXPECT_EQ(All.CPU_TimeBinCountMeasurements[5], 1);
  for(int t = 0; t < CPU_LAST; t++)
    if(t != CPU_LOGS) // still running while the step times are reset
      EXPECT_EQ(Logs.CPU_Step[t], 0.0) << "timer " << t;

  // Not a full sync point: no statistics line.
  All.HighestActiveTimeBin = 3;
  Logs.compute_statistics();
  EXPECT_NEAR(All.TimeLastStatistics, 0.4, 1e-15);

  if(rank0())
    {
      std::string cmd = std::string("python3 ") + VORTAN_LOGS_CHECKER + " " + All.OutputDir + " " + std::to_string(n);
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
}

TEST_F(Logs_, StepTimesPerBinKeepTheLastSixAndIgnoreBinMinusOne)
{
  // Time another rank spent waiting (e.g. for rank 0's checker process in the
  // test before) is charged to the step after it; start from a settled step.
  MPI_Barrier(MPI_COMM_WORLD);
  Logs.write_cpu_log();
  for(int k = 0; k < 6; k++)
    All.CPU_TimeBinMeasurements[7][k] = 0;
  All.CPU_TimeBinCountMeasurements[7] = 0;
  All.HighestActiveTimeBin            = 7;
  for(int k = 1; k <= 7; k++)
    {
      Logs.CPU_Step[CPU_TREEWALK] = 100.0 * k;
      Logs.write_cpu_log();
    }
  EXPECT_EQ(All.CPU_TimeBinCountMeasurements[7], 6);
  for(int k = 0; k < 6; k++)
    EXPECT_NEAR(All.CPU_TimeBinMeasurements[7][k], 100.0 * (k + 2), 1.0) << k;

  // Before any bin is active the bin is -1; nothing may be written in front
  // of the tables.
  global_data_run before = static_cast<global_data_run &>(All);
  All.HighestActiveTimeBin = -1;
  Logs.CPU_Step[CPU_TREEWALK] = 1;
  Logs.write_cpu_log();
  global_data_run after = static_cast<global_data_run &>(All);
  EXPECT_EQ(memcmp(&before.CPU_TimeBinCountMeasurements, &after.CPU_TimeBinCountMeasurements,
                   sizeof(before.CPU_TimeBinCountMeasurements)),
            0);
  EXPECT_EQ(memcmp(&before.CPU_TimeBinMeasurements, &after.CPU_TimeBinMeasurements, sizeof(before.CPU_TimeBinMeasurements)), 0);
  EXPECT_EQ(before.CPUForLastPMExecution, after.CPUForLastPMExecution);
}

// A full disk is reported by name instead of being dropped.
TEST_F(Logs_, FailedWriteIsReported)
{
  char dir[MAXLEN_PATH];
  snprintf(dir, sizeof(dir), "logs_full_np%d/", Logs.NTask);
  if(rank0())
    {
      mkdir(dir, 0755);
      std::string link = std::string(dir) + "balance.txt";
      unlink(link.c_str());
      ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
      unlink("WARNINGS");
    }
  char saved[MAXLEN_PATH];
  strcpy(saved, All.OutputDir);
  strcpy(All.OutputDir, dir);

  ::testing::internal::CaptureStdout();
  Logs.open_logfiles();
  Logs.write_cpu_log();
  std::string out = ::testing::internal::GetCapturedStdout();

  if(rank0())
    {
      EXPECT_NE(out.find("Code warning on task=0"), std::string::npos) << out;
      EXPECT_NE(out.find("balance.txt' failed"), std::string::npos) << out;
      EXPECT_EQ(access("WARNINGS", F_OK), 0);
    }
  strcpy(All.OutputDir, saved);
}
