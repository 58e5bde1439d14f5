// Output schedule, start-up helpers, ID uniqueness across tasks, and one
// step of time-step assignment with its first half-kick, on the run object.
#include <gtest/gtest.h>
#include <mpi.h>
#include <sys/stat.h>
#include <cmath>
#include <cstring>
#include <vector>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "main/simulation.h"
#include "mpi_utils/shared_mem_handler.h"
#include "time_integration/driftfac.h"

namespace
{
sim *Sim = nullptr;

class RunEnvironment : public ::testing::Environment
{
 public:
  void SetUp() override
  {
    Shmem.setup_islands();
    Mem.initcomm(Shmem.SimulationComm);
    Mem.determine_compute_nodes();
    All.MaxMemSize  = 64;
    All.RestartFlag = RST_BEGIN;
    snprintf(All.OutputDir, sizeof(All.OutputDir), "start_and_schedule_np%d/", Shmem.World_NTask);
    if(Shmem.World_ThisTask == 0)
      mkdir(All.OutputDir, 0755);
    Mem.mymalloc_init(All.MaxMemSize, All.RestartFlag);
    All.initcomm(Shmem.SimulationComm);
    static sim s(Shmem.SimulationComm);
    Sim = &s;
    Sim->Sp.TimeBinsHydro.timebins_init("Hydro", &Sim->Sp.MaxPartSph);
    Sim->Sp.TimeBinsGravity.timebins_init("Gravity", &Sim->Sp.MaxPart);
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new RunEnvironment);

void newtonian_unit_run(double max_size_timestep)
{
  All.ComovingIntegrationOn = 0;
  All.TimeBegin             = 0;
  All.TimeMax               = 1;
  All.Timebase_interval     = timebase_interval_of_run(0, 0, 1);
  All.MaxSizeTimestep       = max_size_timestep;
  All.OutputListOn          = 0;
  All.TimeOfFirstSnapshot   = 0;
  All.TimeBetSnapshot       = 0.25;
}

const double TB = 1.0 / TIMEBASE;

TEST(OutputSchedule, RegularSpacing)
{
  struct
  {
    const char *what;
    double maxstep, first, spacing;
    integertime from, expect;
  } cases[] = {
      {"first output at the start", 1000 * TB, 0, 0.25, 0, 0},
      {"next one a quarter on", 1000 * TB, 0, 0.25, 1, 1 << 27},
      {"TimeMax itself is an output", 1000 * TB, 0, 0.25, (1 << 27) * 3 + 1, TIMEBASE},
      {"nothing after the end", 1000 * TB, 0, 0.25, TIMEBASE + 1, 2 * TIMEBASE},
      // 0.3 * 2^29 = 161061273.6 rounds to the nearest multiple of 512
      {"rounded to a grid of 512 ticks", 1000 * TB, 0, 0.3, 1, 161061376},
      // MaxSizeTimestep five times the run: the grid is the whole timeline
      {"largest step beyond the run", 5.0, 0, 0.25, 1, TIMEBASE},
      // a ratio below one: grid of one tick, no division by zero
      {"largest step below one tick", 0.1 * TB, 0, 0.3, 1, 161061273},
      // a million spacings before TimeBegin
      {"first output long before the start", 1000 * TB, -1000, 1e-3, 1 << 28, 1 << 28},
      // 100000 outputs in the run
      {"many outputs", 1000 * TB, 0, 1e-5, 1 << 28, 1 << 28},
  };
  for(auto &c : cases)
    {
      newtonian_unit_run(c.maxstep);
      All.TimeOfFirstSnapshot = c.first;
      All.TimeBetSnapshot     = c.spacing;
      All.DumpFlag_nextoutput = 7;
      EXPECT_EQ(Sim->find_next_outputtime(c.from), c.expect) << c.what;
      EXPECT_EQ(All.DumpFlag_nextoutput, 1) << c.what;
    }
}

TEST(OutputSchedule, ComovingSpacingIsAFactor)
{
  All.ComovingIntegrationOn = 1;
  All.TimeBegin             = 0.1;
  All.TimeMax               = 0.8;
  All.Timebase_interval     = timebase_interval_of_run(1, 0.1, 0.8);
  All.MaxSizeTimestep       = 0.02;  // grid of 2^22 ticks
  All.OutputListOn          = 0;
  All.TimeOfFirstSnapshot   = 0.1;
  All.TimeBetSnapshot       = 2;
  EXPECT_EQ(Sim->find_next_outputtime(0), 0);
  // ln 2 / (ln 8 / 2^29) = 178956970.67: 42.67 grid steps, rounded to 43
  EXPECT_EQ(Sim->find_next_outputtime(1), 43 << 22);
  EXPECT_EQ(Sim->find_next_outputtime((43 << 22) + 1), 85 << 22);
  EXPECT_EQ(Sim->find_next_outputtime((85 << 22) + 1), TIMEBASE);
}

TEST(OutputSchedule, OutputList)
{
  struct entry
  {
    double t;
    int flag;
  };
  struct
  {
    const char *what;
    std::vector<entry> list;
    integertime from, expect;
    int flag;
  } cases[] = {
      {"empty list", {}, 0, 2 * TIMEBASE, 1},
      {"times out of range are ignored", {{-0.5, 1}, {1.5, 1}}, 0, 2 * TIMEBASE, 1},
      {"smallest time, not list order", {{0.9, 1}, {0.5, 1}}, 1, 1 << 28, 1},
      {"two times on one grid point: the earlier entry's flag", {{0.9, 1}, {0.5, 0}, {0.5 + 100 * TB, 1}}, 1, 1 << 28, 0},
      {"past both of them", {{0.9, 1}, {0.5, 0}, {0.5 + 100 * TB, 1}}, (1 << 28) + 1, 483183616, 1},
      {"TimeMax is in range", {{1.0, 3}}, 1, TIMEBASE, 3},
  };
  for(auto &c : cases)
    {
      newtonian_unit_run(1000 * TB);
      All.OutputListOn     = 1;
      All.OutputListLength = c.list.size();
      for(size_t i = 0; i < c.list.size(); i++)
        {
          All.OutputListTimes[i] = c.list[i].t;
          All.OutputListFlag[i]  = c.list[i].flag;
        }
      EXPECT_EQ(Sim->find_next_outputtime(c.from), c.expect) << c.what;
      EXPECT_EQ(All.DumpFlag_nextoutput, c.flag) << c.what;
    }
}

TEST(Start, InitialGasEnergyFromTemperature)
{
  All.UnitMass_in_g     = 1.989e43;
  All.UnitEnergy_in_cgs = 1.989e53;
  const double per_kelvin = 1.5 * BOLTZMANN / PROTONMASS * All.UnitMass_in_g / All.UnitEnergy_in_cgs;
  struct
  {
    double temp, mu;
  } cases[] = {{20000, 0.5882352941176471}, {10001, 0.5882352941176471}, {10000, 1.2195121951219512}, {100, 1.2195121951219512},
               {0, 1}};
  for(auto &c : cases)
    EXPECT_NEAR(sim::initial_gas_energy(c.temp), c.temp * per_kelvin / c.mu, 1e-5 * c.temp * per_kelvin) << c.temp;
}

TEST(Start, SnapshotCounter)
{
  struct
  {
    restart_options mode;
    const char *icfile;
    int snapnum, expect;
  } cases[] = {
      {RST_BEGIN, "ics_042", -1, 0},          {RST_STARTFROMSNAP, "out/snap_042", -1, 43},
      {RST_STARTFROMSNAP, "out/snap_042", 7, 8}, {RST_STARTFROMSNAP, "ab", -1, 0},
      {RST_STARTFROMSNAP, "", -1, 0},         {RST_STARTFROMSNAP, "snap_x42", -1, 0},
  };
  for(auto &c : cases)
    {
      All.RestartFlag = c.mode;
      strcpy(All.InitCondFile, c.icfile);
      EXPECT_EQ(Sim->first_snapshot_number(c.snapnum), c.expect) << c.icfile << " " << c.snapnum;
    }
  All.RestartFlag = RST_BEGIN;
}

// Puts the given IDs into a fresh particle container of this task.
void load_ids(const std::vector<MyIDType> &ids)
{
  simparticles &Sp = Sim->Sp;
  Sp.MaxPart       = ids.size() + 1;
  Sp.MaxPartSph    = 1;
  Sp.allocate_memory();
  Sp.NumPart = ids.size();
  Sp.NumGas  = 0;
  for(size_t i = 0; i < ids.size(); i++)
    {
      Sp.P[i].ID.set(ids[i]);
      Sp.P[i].setType(1);
    }
}

std::vector<MyIDType> boundary_ids(bool first, bool last)
{
  std::vector<MyIDType> ids;
  if(first)
    ids.insert(ids.end(), {1, 2, 3});
  if(last)
    ids.insert(ids.end(), {3, 4, 5});
  return ids;
}

TEST(Start, NonUniqueIdsAcrossTasks)
{
  int ntask, rank;
  MPI_Comm_size(Sim->Communicator, &ntask);
  MPI_Comm_rank(Sim->Communicator, &rank);
  bool last = rank == ntask - 1;

  struct
  {
    const char *what;
    std::vector<MyIDType> mine;
    MyIDType dup;  // 0: all unique
  } cases[] = {
      {"unique", {MyIDType(10 * rank + 1), MyIDType(10 * rank + 2), MyIDType(10 * rank + 3)}, 0},
      {"twice on one task", rank == 0 ? std::vector<MyIDType>{5, 9, 5} : std::vector<MyIDType>{MyIDType(100 + rank)}, 5},
      // first and last task share an ID; the tasks between hold nothing
      {"at a boundary across empty tasks", boundary_ids(rank == 0, last), 3},
      {"all tasks empty but one", rank == 0 ? std::vector<MyIDType>{8} : std::vector<MyIDType>{}, 0},
      // the flag bit is not part of the ID
      {"flag bit ignored", rank == 0 ? std::vector<MyIDType>{7, 7 | (1u << 31)} : std::vector<MyIDType>{}, 7},
  };
  for(auto &c : cases)
    {
      load_ids(c.mine);
      MyIDType id = 0;
      int where   = -2;
      int found   = Sim->find_nonunique_id(&id, &where);
      int nfound;
      MPI_Allreduce(&found, &nfound, 1, MPI_INT, MPI_SUM, Sim->Communicator);
      Sim->Sp.free_memory();
      if(c.dup == 0)
        EXPECT_EQ(nfound, 0) << c.what;
      else
        {
          EXPECT_GE(nfound, 1) << c.what;
          if(found)
            EXPECT_EQ(id, c.dup) << c.what;
        }
    }
}

// One particle of each kind through the first half-step: time bins from the
// criteria, the half-kick, and the hydro bin capped by the gravity bin.
TEST(Kicks, FirstHalfStepAssignsBinsAndKicks)
{
  simparticles &Sp = Sim->Sp;
  Sp.MaxPart       = 4;
  Sp.MaxPartSph    = 2;
  Sp.allocate_memory();
  Sp.NumPart = 3;
  Sp.NumGas  = 1;
  double c[3] = {0, 0, 0};
  Sp.set_region(c, 1.0e6);

  All.ComovingIntegrationOn = 0;
  All.TimeBegin             = 0;
  All.TimeMax               = TIMEBASE;  // one time unit per tick
  All.Timebase_interval     = 1;
  All.Time                  = 0;
  All.set_cosmo_factors_for_current_time();
  All.MaxSizeTimestep       = 1 << 20;
  All.MinSizeTimestep       = 0;
  All.ErrTolIntAccuracy     = 0.025;
  All.CourantFac            = 0.15;
  All.SofteningTable[0]     = 8000;  // dt_grav = sqrt(2 * 0.025 * 8000 / 1) = 20: bin 4
  All.SofteningTable[1]     = 8000;
  All.Ti_Current            = 0;
  All.NumCurrentTiStep      = 1;
  All.ActivePartFracForNewDomainDecomp = 0.1;

  // 0: gas whose own criteria allow bin 10, gravity bin 4
  // 1: collisionless with unit acceleration, bin 4
  // 2: collisionless without acceleration: limited by MaxSizeTimestep, bin 20
  for(int i = 0; i < 3; i++)
    {
      Sp.P[i].ID.set(i + 1);
      Sp.P[i].setType(i == 0 ? 0 : 1);
      Sp.P[i].setMass(1);
      Sp.P[i].GravAccel = vector<double>(i < 2 ? 1.0 : 0.0, 0, 0);
      for(int k = 0; k < 3; k++)
        Sp.P[i].Vel[k] = 0;
    }
  sph_particle_data &gas = Sp.SphP[0];
  gas.Hsml               = 1.0e6;  // dt_kin far above the limits below
  gas.MaxSignalVel       = 2 * 1.0e6 * 0.15 / 1500;  // dt_courant = 1500: bin 10
  gas.CurrentMaxTiStep   = 1.0e30;
  gas.DtHsml             = 0;

  for(int n = 0; n < TIMEBIN_COUNT; n++)
    All.Ti_begstep[n] = 0;
  Sp.mark_active_timebins();  // everything synchronised at tick 0
  Sp.reconstruct_timebins();

  Sim->find_timesteps_and_do_gravity_step_first_half();
  Sp.TimeBinsHydro.NActiveParticles = 1;
  Sp.TimeBinsHydro.ActiveParticleList[0] = 0;
  Sim->assign_hydro_timesteps();

  EXPECT_EQ(Sp.P[0].TimeBinGrav, 4);
  EXPECT_EQ(Sp.P[0].TimeBinHydro, 4);  // would be 10 on its own
  EXPECT_EQ(Sp.P[1].TimeBinGrav, 4);
  EXPECT_EQ(Sp.P[2].TimeBinGrav, 20);
  EXPECT_EQ(Sp.TimeBinsGravity.TimeBinCount[4], 2);
  EXPECT_EQ(Sp.TimeBinsGravity.TimeBinCount[20], 1);
  EXPECT_EQ(Sp.TimeBinsHydro.TimeBinCount[4], 1);
  EXPECT_EQ(Sp.TimeBinsHydro.TimeBinCount[0], 0);
  // half of a 16-tick step with unit acceleration and unit ticks
  EXPECT_DOUBLE_EQ(Sp.P[1].Vel[0], 8.0);
  EXPECT_DOUBLE_EQ(Sp.P[2].Vel[0], 0.0);

  // a star-forming particle is held to a tenth of its gas-consumption time
  gas.Sfr = 1.0 / 1000;  // 0.1 * Mass / Sfr = 100 ticks
  EXPECT_EQ(Sp.get_timestep_hydro(0), 100);
  gas.Sfr = 0;

  // the next synchronisation point is the end of the bin-4 step; there only
  // bins 0-4 are synchronised, and the decomposition threshold follows f
  All.Ti_Current = Sp.find_next_sync_point();
  EXPECT_EQ(All.Ti_Current, 16);
  Sp.mark_active_timebins();
  EXPECT_EQ(All.HighestActiveTimeBin, 4);
  EXPECT_EQ(All.HighestOccupiedTimeBin, 20);
  EXPECT_EQ(All.LowestActiveTimeBin, 4);
  EXPECT_EQ(All.HighestSynchronizedTimeBin, 4);
  EXPECT_EQ(All.SmallestTimeBinWithDomainDecomposition, 4);
  Sp.make_list_of_active_particles();
  EXPECT_EQ(Sp.TimeBinsGravity.GlobalNActiveParticles, 2LL * Sim->NTask);

  // the active particles were drifted on the way: 16 ticks at their velocity
  double pos[3];
  Sp.intpos_to_pos(Sp.P[1].IntPos, pos);
  EXPECT_NEAR(pos[0] - Sp.RegionCorner[0], 8.0 * 16, 1e-6);
  EXPECT_EQ(Sp.P[2].get_Ti_Current(), 0);  // inactive: not drifted yet
  MyIntPosType before = Sp.P[1].IntPos[0];
  Sp.drift_particle(&Sp.P[1], nullptr, 16);  // a second drift to the same tick changes nothing
  EXPECT_EQ(Sp.P[1].IntPos[0], before);

  Sp.free_memory();
}

}  // namespace
