// Stand-ins for the subsystems the main loop calls but this build does not
// have yet: domain decomposition, the gravity and neighbour trees, gravity,
// SPH, cooling and star formation. Forces stay zero, so particles move
// ballistically; every run says so with a NOTICE line. Each function here is
// replaced by the real one when its subsystem arrives.
#include <cmath>

#include "data/allvars.h"
#include "data/macros.h"
#include "domain/domain_box.h"
#include "main/simulation.h"
#include "mpi_utils/mpi_utils.h"

static bool NgbTreeBuilt = false;

void sim::announce_missing_physics()
{
  static bool done = false;
  if(done)
    return;
  done = true;
  mpi_printf(
      "NOTICE: forces are not yet computed in this build (no gravity, no SPH, no cooling or star formation): particles move "
      "ballistically with zero accelerations.\n");
  mpi_printf("NOTICE: there is no domain decomposition yet: every task keeps the particles it read (the region still widens to follow them).\n");
}

void sim::domain_decomposition()
{
  announce_missing_physics();
  // Particles stay where they are, but the integer frame must still follow
  // them out of the starting region or their positions would wrap.
  domain_widen_region(&Sp);
}

void sim::ngbtree_build()
{
  // a run without gas has no neighbour tree to build, free or walk
  NgbTreeBuilt = Sp.TotNumGas > 0;
}

void sim::ngbtree_free() { NgbTreeBuilt = false; }

void sim::compute_densities()
{
  if(Sp.TimeBinsHydro.GlobalNActiveParticles == 0)
    return;
  for(int idx = 0; idx < Sp.TimeBinsHydro.NActiveParticles; idx++)
    {
      int i = Sp.TimeBinsHydro.ActiveParticleList[idx];
      if(i >= 0)
        Sp.drift_particle(&Sp.P[i], &Sp.SphP[i], All.Ti_Current);
    }
}

void sim::ngbtree_update_maxhsml() {}
void sim::ngbtree_update_velocities() {}

void sim::compute_grav_accelerations(int timebin)
{
  mpi_printf("ACCEL: no gravity in this build: accelerations of %lld particles set to zero\n", Sp.TimeBinsGravity.GlobalNActiveParticles);
  if(timebin == All.HighestOccupiedGravTimeBin)
    set_softenings();
  for(int idx = 0; idx < Sp.TimeBinsGravity.NActiveParticles; idx++)
    {
      int i = Sp.TimeBinsGravity.ActiveParticleList[idx];
      if(i >= 0)
        Sp.P[i].GravAccel = vector<double>(0, 0, 0);
    }
}

void sim::gravity_set_oldacc(int timebin)
{
  for(int idx = 0; idx < Sp.TimeBinsGravity.NActiveParticles; idx++)
    {
      int i = Sp.TimeBinsGravity.ActiveParticleList[idx];
      if(i >= 0)
        Sp.P[i].OldAcc = All.G > 0 ? Sp.P[i].GravAccel.norm() / All.G : 0;
    }
}

void sim::set_softenings()
{
  for(int c = 0; c < NSOFTCLASSES; c++)
    {
      if(All.ComovingIntegrationOn && All.Time * All.SofteningComoving[c] > All.SofteningMaxPhys[c])
        All.SofteningTable[c] = All.SofteningMaxPhys[c] / All.Time;
      else
        All.SofteningTable[c] = All.SofteningComoving[c];
      All.ForceSoftening[c] = 2.8 * All.SofteningTable[c];
    }
  All.ForceSoftening[NSOFTCLASSES]     = 0;
  All.ForceSoftening[NSOFTCLASSES + 1] = 1.0e37;
}

void sim::hydro_forces_determine(int ntarget, int *targetlist)
{
  for(int n = 0; n < ntarget; n++)
    {
      sph_particle_data &s = Sp.SphP[targetlist[n]];
      for(int k = 0; k < 3; k++)
        s.HydroAccel[k] = 0;
      s.DtEntropy    = 0;
      s.MaxSignalVel = 0;
    }
}

void sim::tree_based_timesteps()
{
  // no limiter: the largest step the other criteria allow
  for(int idx = 0; idx < Sp.TimeBinsHydro.NActiveParticles; idx++)
    {
      int i = Sp.TimeBinsHydro.ActiveParticleList[idx];
      if(i >= 0 && Sp.P[i].getType() == 0)
        Sp.SphP[i].CurrentMaxTiStep = 1.0e30;
    }
}

void sim::ionize_params() {}
void sim::star_formation_and_cooling() {}

void sim::setup_smoothinglengths()
{
  // the local count: each task's tree holds only its own gas
  int nlocal = Sp.NumGas;
  long long ntot;
  sumup_large_ints(1, &nlocal, &ntot, Communicator);
  if(ntot == 0)
    return;

  mpi_printf("INIT: Setup smoothing lengths.\n");
  FATAL_ERROR(
      "%lld gas particles need initial smoothing lengths and densities, which come from the gravity tree and the SPH neighbour "
      "search; neither is built yet, so this build can only run collisionless particles\n",
      ntot);
}
