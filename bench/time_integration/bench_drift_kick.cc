// Drift and first half-step (criterion, bin, kick) rates of the real code in
// particles per second, against a plain loop that streams the same particle
// records and only adds velocity times a factor to the positions.
#include <benchmark/benchmark.h>
#include <mpi.h>
#include <cmath>
#include <random>

#include "../../tests/data/alloc_start.h"
#include "data/allvars.h"
#include "main/simulation.h"
#include "time_integration/driftfac.h"

namespace
{
sim *Sim = nullptr;

void setup(int n)
{
  static bool started = false;
  if(!started)
    {
      vortan_test::start_allocator(1024, "bench_drift_kick");
      All.initcomm(Shmem.SimulationComm);
      static sim s(Shmem.SimulationComm);
      Sim = &s;
      Sim->Sp.TimeBinsHydro.timebins_init("Hydro", &Sim->Sp.MaxPartSph);
      Sim->Sp.TimeBinsGravity.timebins_init("Gravity", &Sim->Sp.MaxPart);
      started = true;
    }
  simparticles &Sp = Sim->Sp;
  if(Sp.P)
    Sp.free_memory();
  Sp.MaxPart    = n;
  Sp.MaxPartSph = 1;
  Sp.allocate_memory();
  Sp.NumPart = n;
  Sp.NumGas  = 0;
  double c[3] = {0, 0, 0};
  Sp.set_region(c, 100.0);

  All.ComovingIntegrationOn = 0;
  All.TimeBegin             = 0;
  All.TimeMax               = 1;
  All.Timebase_interval     = timebase_interval_of_run(0, 0, 1);
  All.Time                  = 0;
  All.set_cosmo_factors_for_current_time();
  All.MaxSizeTimestep   = 0.01;
  All.MinSizeTimestep   = 0;
  All.ErrTolIntAccuracy = 0.025;
  All.SofteningTable[0] = All.SofteningTable[1] = 0.01;
  All.Ti_Current        = 0;

  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  for(int i = 0; i < n; i++)
    {
      particle_data &p = Sp.P[i];
      p.setType(1);
      p.setMass(1);
      p.ID.set(i + 1);
      for(int k = 0; k < 3; k++)
        {
          p.Vel[k]       = u(rng);
          p.GravAccel[k] = 100 * u(rng);
        }
      double x[3] = {u(rng), u(rng), u(rng)};
      Sp.pos_to_intpos(x, p.IntPos);
    }
  for(int b = 0; b < TIMEBIN_COUNT; b++)
    {
      Sp.TimeBinSynchronized[b] = 1;
      All.Ti_begstep[b]         = 0;
    }
  Sp.reconstruct_timebins();
}

void BM_drift_all_particles(benchmark::State &state)
{
  setup(state.range(0));
  for(auto _ : state)
    {
      All.Ti_Current += 16;
      Sim->Sp.drift_all_particles();
    }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * state.range(0) * sizeof(particle_data));
}

void BM_timestep_and_first_half_kick(benchmark::State &state)
{
  setup(state.range(0));
  Sim->Sp.mark_active_timebins();
  for(auto _ : state)
    Sim->find_timesteps_and_do_gravity_step_first_half();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The floor: the same records, streamed with nothing but the position update.
void BM_plain_position_update(benchmark::State &state)
{
  setup(state.range(0));
  particle_data *P = Sim->Sp.P;
  int n            = state.range(0);
  double fac       = Sim->Sp.FacCoordToInt * 16 * All.Timebase_interval;
  for(auto _ : state)
    {
      for(int i = 0; i < n; i++)
        for(int k = 0; k < 3; k++)
          P[i].IntPos[k] += static_cast<MyIntPosType>(llrint(P[i].Vel[k] * fac));
      benchmark::ClobberMemory();
    }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * sizeof(particle_data));
}

BENCHMARK(BM_drift_all_particles)->Arg(1 << 12)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_timestep_and_first_half_kick)->Arg(1 << 12)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_position_update)->Arg(1 << 12)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  MPI_Finalize();
  return 0;
}
