// Synchronisation points, active sets and the drift of particles.
#include <cmath>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/simparticles.h"
#include "logs/logs.h"
#include "mpi_utils/mpi_utils.h"
#include "time_integration/driftfac.h"

integertime simparticles::find_next_sync_point()
{
  integertime ti_next_local = TIMEBASE;

  if(TimeBinsGravity.TimeBinCount[0] > 0 || TimeBinsHydro.TimeBinCount[0] > 0)
    ti_next_local = All.Ti_Current < TIMEBASE ? All.Ti_Current : TIMEBASE;

  for(int n = 1; n < TIMEBIN_COUNT; n++)
    if(TimeBinsGravity.TimeBinCount[n] > 0 || TimeBinsHydro.TimeBinCount[n] > 0)
      {
        // 64 bits: the next multiple of 2^28 after the end would not fit an int
        long long dt   = 1LL << n;
        long long next = (static_cast<long long>(All.Ti_Current) / dt + 1) * dt;
        if(next < ti_next_local)
          ti_next_local = static_cast<integertime>(next);
      }

  integertime ti_next = 0;
  MPI_Allreduce(&ti_next_local, &ti_next, 1, MPI_INT, MPI_MIN, Communicator);
  return ti_next;
}

void simparticles::mark_active_timebins()
{
  int lowest_active = TIMEBIN_COUNT, highest_active = 0, lowest_occupied = TIMEBIN_COUNT, highest_occupied = 0;
  int lowest_occupied_grav = TIMEBIN_COUNT, highest_occupied_grav = 0, highest_synchronized = 0;
  int nsync_hydro = 0, nsync_grav = 0;

  for(int n = 0; n < TIMEBIN_COUNT; n++)
    {
      int g = TimeBinsGravity.TimeBinCount[n], h = TimeBinsHydro.TimeBinCount[n];
      if(g > 0)
        {
          lowest_occupied_grav  = std::min(lowest_occupied_grav, n);
          highest_occupied_grav = std::max(highest_occupied_grav, n);
        }
      if(g + h > 0)
        {
          lowest_occupied  = std::min(lowest_occupied, n);
          highest_occupied = std::max(highest_occupied, n);
        }

      integertime dt = n > 0 ? (static_cast<integertime>(1) << n) : 1;
      if(All.Ti_Current % dt == 0)
        {
          TimeBinSynchronized[n] = 1;
          All.Ti_begstep[n]      = All.Ti_Current;
          highest_synchronized   = std::max(highest_synchronized, n);
          nsync_grav += g;
          nsync_hydro += h;
          if(g + h > 0)
            {
              lowest_active  = std::min(lowest_active, n);
              highest_active = std::max(highest_active, n);
            }
        }
      else
        TimeBinSynchronized[n] = 0;
    }

  int mins_in[3] = {lowest_occupied_grav, lowest_active, lowest_occupied}, mins[3];
  MPI_Allreduce(mins_in, mins, 3, MPI_INT, MPI_MIN, Communicator);
  All.LowestOccupiedGravTimeBin = mins[0];
  All.LowestActiveTimeBin       = mins[1];
  All.LowestOccupiedTimeBin     = mins[2];

  int maxs_in[4] = {highest_occupied, highest_occupied_grav, highest_active, highest_synchronized}, maxs[4];
  MPI_Allreduce(maxs_in, maxs, 4, MPI_INT, MPI_MAX, Communicator);
  All.HighestOccupiedTimeBin      = maxs[0];
  All.HighestOccupiedGravTimeBin  = maxs[1];
  All.HighestActiveTimeBin        = maxs[2];
  All.HighestSynchronizedTimeBin  = maxs[3];

  int counts[2 + 2 * TIMEBIN_COUNT];
  long long glob[2 + 2 * TIMEBIN_COUNT];
  counts[0] = nsync_hydro;
  counts[1] = nsync_grav;
  for(int n = 0; n < TIMEBIN_COUNT; n++)
    {
      counts[2 + n]                 = TimeBinsGravity.TimeBinCount[n];
      counts[2 + TIMEBIN_COUNT + n] = TimeBinsHydro.TimeBinCount[n];
    }
  sumup_large_ints(2 + 2 * TIMEBIN_COUNT, counts, glob, Communicator);
  All.GlobalNSynchronizedHydro   = glob[0];
  All.GlobalNSynchronizedGravity = glob[1];

  long long tot_grav = 0, tot_hydro = 0;
  for(int n = 0; n < TIMEBIN_COUNT; n++)
    {
      tot_grav += glob[2 + n];
      tot_hydro += glob[2 + TIMEBIN_COUNT + n];
    }

  // lowest bin whose cumulative population exceeds the fraction f of all
  // particles (or of all gas): active steps of that size or larger move
  // enough particles to warrant a new decomposition
  double f   = All.ActivePartFracForNewDomainDecomp;
  int result = All.HighestOccupiedTimeBin;
  if(All.HighestOccupiedTimeBin >= All.LowestOccupiedTimeBin)
    {
      long long cum_grav[TIMEBIN_COUNT], cum_hydro[TIMEBIN_COUNT];
      long long cg = 0, ch = 0;
      for(int n = 0; n < TIMEBIN_COUNT; n++)
        {
          cg += glob[2 + n];
          ch += glob[2 + TIMEBIN_COUNT + n];
          cum_grav[n]  = cg;
          cum_hydro[n] = ch;
        }
      for(int n = All.HighestOccupiedTimeBin; n >= All.LowestOccupiedTimeBin; n--)
        if(cum_grav[n] > f * tot_grav || cum_hydro[n] > f * tot_hydro)
          result = n;
    }
  All.SmallestTimeBinWithDomainDecomposition = result;
}

void simparticles::reconstruct_timebins()
{
  Logs.timer_start(CPU_TIMELINE);

  for(int bin = 0; bin < TIMEBIN_COUNT; bin++)
    {
      TimeBinsHydro.TimeBinCount[bin]     = 0;
      TimeBinsHydro.FirstInTimeBin[bin]   = -1;
      TimeBinsHydro.LastInTimeBin[bin]    = -1;
      TimeBinsGravity.TimeBinCount[bin]   = 0;
      TimeBinsGravity.FirstInTimeBin[bin] = -1;
      TimeBinsGravity.LastInTimeBin[bin]  = -1;
      TimeBinSfr[bin]                     = 0;
    }

  for(int i = 0; i < NumPart; i++)
    {
      TimeBinsGravity.timebin_add_particle(i, -1, P[i].TimeBinGrav, 0);
      if(P[i].getType() == 0)
        {
          TimeBinsHydro.timebin_add_particle(i, -1, P[i].TimeBinHydro, 0);
          TimeBinSfr[P[i].TimeBinHydro] += SphP[i].Sfr;
        }
    }

  make_list_of_active_particles();

  Logs.timer_stop(CPU_TIMELINE);
}

void simparticles::make_list_of_active_particles()
{
  Logs.timer_start(CPU_DRIFTS);

  TimeBinsHydro.NActiveParticles = 0;
  for(int bin = 0; bin < TIMEBIN_COUNT; bin++)
    if(TimeBinSynchronized[bin])
      for(int i = TimeBinsHydro.FirstInTimeBin[bin]; i >= 0; i = TimeBinsHydro.NextInTimeBin[i])
        {
          if(P[i].getType() != 0)
            continue;
          if(P[i].TimeBinHydro != bin)
            FATAL_ERROR("P[i].TimeBinHydro=%d != timebin=%d", P[i].TimeBinHydro, bin);
          if(P[i].get_Ti_Current() != All.Ti_Current)
            drift_particle(&P[i], i < NumGas ? &SphP[i] : nullptr, All.Ti_Current);
          TimeBinsHydro.ActiveParticleList[TimeBinsHydro.NActiveParticles++] = i;
        }

  TimeBinsGravity.NActiveParticles = 0;
  for(int bin = 0; bin < TIMEBIN_COUNT; bin++)
    if(TimeBinSynchronized[bin])
      for(int i = TimeBinsGravity.FirstInTimeBin[bin]; i >= 0; i = TimeBinsGravity.NextInTimeBin[i])
        {
          if(P[i].get_Ti_Current() != All.Ti_Current)
            drift_particle(&P[i], i < NumGas ? &SphP[i] : nullptr, All.Ti_Current);
          TimeBinsGravity.ActiveParticleList[TimeBinsGravity.NActiveParticles++] = i;
        }

  int in[2] = {TimeBinsGravity.NActiveParticles, TimeBinsHydro.NActiveParticles};
  long long out[2];
  sumup_large_ints(2, in, out, Communicator);
  TimeBinsGravity.GlobalNActiveParticles = out[0];
  TimeBinsHydro.GlobalNActiveParticles   = out[1];

  Logs.timer_stop(CPU_DRIFTS);
}

void simparticles::drift_all_particles()
{
  Logs.timer_start(CPU_DRIFTS);
  for(int i = 0; i < NumPart; i++)
    drift_particle(&P[i], i < NumGas ? &SphP[i] : nullptr, All.Ti_Current);
  Logs.timer_stop(CPU_DRIFTS);
}

void simparticles::drift_particle(particle_data *p, sph_particle_data *sphp, integertime time1, bool /*ignore_light_cone*/)
{
  p->lock();

  integertime time0 = p->get_Ti_Current();
  if(time1 == time0)
    {
      p->unlock();
      return;
    }
  if(time1 < time0)
    FATAL_ERROR("no prediction into past allowed: time0=%lld time1=%lld\n", (long long)time0, (long long)time1);

  double dt_drift;
  if(All.ComovingIntegrationOn)
    dt_drift = Driftfac.get_drift_factor(time0, time1);
  else
    dt_drift = (time1 - time0) * All.Timebase_interval;

  // The frame is widened between drifts; a single drift of a quarter of the
  // integer range or more would wrap round the region (or overflow the cast).
  MySignedIntPosType delta[3];
  for(int k = 0; k < 3; k++)
    {
      double d = FacCoordToInt * p->Vel[k] * dt_drift;
      if(!(std::fabs(d) < 0x1p62))
        FATAL_ERROR("particle ID=%llu moves %g in one drift, more than a quarter of the region of size %g: the time step is too "
                    "large for its velocity (%g, %g, %g)\n",
                    (unsigned long long)p->ID.get(), p->Vel[k] * dt_drift, RegionLen, p->Vel[0], p->Vel[1], p->Vel[2]);
      delta[k] = static_cast<MySignedIntPosType>(llrint(d));
    }
  intpos_add_offset(p->IntPos, delta);

  if(p->getType() == 0)
    {
      double dt_grav, dt_hydro, dt_entr;
      if(All.ComovingIntegrationOn)
        {
          dt_grav  = Driftfac.get_gravkick_factor(time0, time1);
          dt_hydro = Driftfac.get_hydrokick_factor(time0, time1);
          dt_entr  = (time1 - time0) * All.Timebase_interval;
        }
      else
        dt_grav = dt_hydro = dt_entr = dt_drift;

      for(int k = 0; k < 3; k++)
        sphp->VelPred[k] += dt_grav * p->GravAccel[k] + dt_hydro * sphp->HydroAccel[k];

      sphp->EntropyPred += sphp->DtEntropy * dt_entr;
      sphp->Density += sphp->DtDensity * dt_drift;
      sphp->Hsml += sphp->DtHsml * dt_drift;
      sphp->set_thermodynamic_variables();
    }

  p->set_Ti_Current(time1);
  p->unlock();
}
