// Kick-drift-kick leapfrog on individual power-of-two steps: gravity and
// hydrodynamics are kicked separately, each by half a step at the start and
// half a step at the end of the particle's step in its own bin.
#include <cmath>
#include <cstdio>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "logs/logs.h"
#include "main/simulation.h"
#include "mpi_utils/mpi_utils.h"
#include "time_integration/driftfac.h"

static inline integertime half_step_of_bin(int bin) { return bin > 0 ? (static_cast<integertime>(1) << bin) / 2 : 0; }

static inline double gravkick_factor(integertime t0, integertime t1)
{
  return All.ComovingIntegrationOn ? Driftfac.get_gravkick_factor(t0, t1) : (t1 - t0) * All.Timebase_interval;
}

static inline double hydrokick_factor(integertime t0, integertime t1)
{
  return All.ComovingIntegrationOn ? Driftfac.get_hydrokick_factor(t0, t1) : (t1 - t0) * All.Timebase_interval;
}

void sim::do_gravity_step_second_half()
{
  Logs.timer_start(CPU_DRIFTS);

  if(ThisTask == 0)
    {
      const char *fullstep = All.HighestActiveTimeBin == All.HighestOccupiedTimeBin ? "(*)" : "";
      FILE *fds[3]         = {Logs.FdTimings, Logs.FdDensity, Logs.FdHydro};
      for(FILE *fd : fds)
        if(fd)
          fprintf(fd, "\nStep%s: %d, t: %g, dt: %g, highest active timebin: %d  (lowest active: %d, highest occupied: %d)\n", fullstep,
                  All.NumCurrentTiStep, All.Time, All.TimeStep, All.HighestActiveTimeBin, All.LowestActiveTimeBin,
                  All.HighestOccupiedTimeBin);
    }

  TimeBinData &tb = Sp.TimeBinsGravity;
  tb.timebin_make_list_of_active_particles_up_to_timebin(All.HighestActiveTimeBin);
  sumup_large_ints(1, &tb.NActiveParticles, &tb.GlobalNActiveParticles, Communicator);

  if(tb.GlobalNActiveParticles > 0)
    {
      Logs.timer_stop(CPU_DRIFTS);
      compute_grav_accelerations(All.HighestActiveTimeBin);
      Logs.timer_start(CPU_DRIFTS);

      mpi_printf("KICKS: 2nd gravity for highest active timebin=%d:  particles %lld\n", All.HighestActiveTimeBin,
                 tb.GlobalNActiveParticles);

      particle_data *P        = Sp.P;
      sph_particle_data *SphP = Sp.SphP;
      for(int idx = 0; idx < tb.NActiveParticles; idx++)
        {
          int i = tb.ActiveParticleList[idx];
          if(i < 0)
            continue;
          integertime h = half_step_of_bin(P[i].TimeBinGrav);
          double fac    = gravkick_factor(All.Ti_Current - h, All.Ti_Current);
          for(int k = 0; k < 3; k++)
            P[i].Vel[k] += P[i].GravAccel[k] * fac;
          if(P[i].getType() == 0)
            for(int k = 0; k < 3; k++)
              SphP[i].VelPred[k] = P[i].Vel[k];
        }
    }

  gravity_set_oldacc(All.HighestActiveTimeBin);

  Logs.timer_stop(CPU_DRIFTS);
}

void sim::find_timesteps_and_do_gravity_step_first_half()
{
  Logs.timer_start(CPU_DRIFTS);

  All.set_cosmo_factors_for_current_time();

  TimeBinData &tb = Sp.TimeBinsGravity;
  tb.timebin_make_list_of_active_particles_up_to_timebin(All.HighestSynchronizedTimeBin);
  sumup_large_ints(1, &tb.NActiveParticles, &tb.GlobalNActiveParticles, Communicator);

  mpi_printf("KICKS: 1st gravity for highest active timebin=%d:  particles %lld\n", All.HighestActiveTimeBin,
             tb.GlobalNActiveParticles);

  particle_data *P = Sp.P;
  for(int idx = 0; idx < tb.NActiveParticles; idx++)
    {
      int i = tb.ActiveParticleList[idx];
      if(i < 0)
        continue;

      integertime ti_step = Sp.get_timestep_grav(i);
      int bin;
      Sp.timebins_get_bin_and_do_validity_checks(ti_step, &bin, P[i].TimeBinGrav);
      tb.timebin_move_particle(i, P[i].TimeBinGrav, bin);
      P[i].TimeBinGrav = bin;

      integertime h  = half_step_of_bin(bin);
      integertime t0 = All.Ti_begstep[bin];
      double fac     = gravkick_factor(t0, t0 + h);
      for(int k = 0; k < 3; k++)
        P[i].Vel[k] += P[i].GravAccel[k] * fac;
    }

  Logs.timer_stop(CPU_DRIFTS);
}

void sim::hydro_force(int step_indicator)
{
  TimeBinData &tb = Sp.TimeBinsHydro;
  if(tb.GlobalNActiveParticles == 0)
    return;

  int *targetlist = static_cast<int *>(mymalloc("targetlist", (Sp.NumGas > 0 ? Sp.NumGas : 1) * sizeof(int)));
  double(*Old)[3] = nullptr;
  if(step_indicator == 1)
    Old = static_cast<double(*)[3]>(mymalloc("Old", (tb.NActiveParticles > 0 ? tb.NActiveParticles : 1) * 3 * sizeof(double)));

  // entries removed from the list (-1) or no longer gas take no part
  int ntarget = 0;
  for(int idx = 0; idx < tb.NActiveParticles; idx++)
    {
      int i = tb.ActiveParticleList[idx];
      if(i < 0 || Sp.P[i].getType() != 0)
        continue;
      if(i >= Sp.NumGas)
        FATAL_ERROR("target=%d i=%d\n", i, idx);
      if(Old)
        for(int k = 0; k < 3; k++)
          Old[ntarget][k] = Sp.SphP[i].HydroAccel[k];
      targetlist[ntarget++] = i;
    }

  hydro_forces_determine(ntarget, targetlist);

  particle_data *P        = Sp.P;
  sph_particle_data *SphP = Sp.SphP;
  if(step_indicator == 0)
    {
      for(int n = 0; n < ntarget; n++)
        {
          int i          = targetlist[n];
          integertime h  = half_step_of_bin(P[i].TimeBinHydro);
          integertime t0 = All.Ti_Current;
          SphP[i].Entropy += SphP[i].DtEntropy * h * All.Timebase_interval;
          double fac = hydrokick_factor(t0, t0 + h);
          for(int k = 0; k < 3; k++)
            P[i].Vel[k] += SphP[i].HydroAccel[k] * fac;
        }
    }
  else
    {
      for(int n = 0; n < ntarget; n++)
        {
          int i         = targetlist[n];
          integertime h = half_step_of_bin(P[i].TimeBinHydro);
          double fac    = hydrokick_factor(All.Ti_Current - h, All.Ti_Current);
          for(int k = 0; k < 3; k++)
            P[i].Vel[k] += SphP[i].HydroAccel[k] * fac;
          SphP[i].Entropy += SphP[i].DtEntropy * h * All.Timebase_interval;
          SphP[i].EntropyPred = SphP[i].Entropy;
          SphP[i].set_thermodynamic_variables();
          for(int k = 0; k < 3; k++)
            SphP[i].VelPred[k] += fac * (SphP[i].HydroAccel[k] - Old[n][k]);
        }
    }

  if(Old)
    myfree(Old);
  myfree(targetlist);
}

void sim::do_hydro_step_first_half()
{
  if(All.NumCurrentTiStep == 0)
    {
      Sp.mark_active_timebins();
      ngbtree_free();
      domain_decomposition();
      ngbtree_build();
    }
  hydro_force(0);
}

void sim::do_hydro_step_second_half() { hydro_force(1); }

void sim::find_hydro_timesteps()
{
  All.set_cosmo_factors_for_current_time();
  tree_based_timesteps();

  Logs.timer_start(CPU_TIMELINE);
  assign_hydro_timesteps();
  Logs.timer_stop(CPU_TIMELINE);
}

void sim::assign_hydro_timesteps()
{
  TimeBinData &tb  = Sp.TimeBinsHydro;
  particle_data *P = Sp.P;
  for(int idx = 0; idx < tb.NActiveParticles; idx++)
    {
      int p = tb.ActiveParticleList[idx];
      if(p < 0 || P[p].getType() != 0 || !Sp.TimeBinSynchronized[P[p].TimeBinHydro])
        continue;

      integertime ti_step = Sp.get_timestep_hydro(p);
      int bin;
      Sp.timebins_get_bin_and_do_validity_checks(ti_step, &bin, P[p].TimeBinHydro);
      if(bin > P[p].TimeBinGrav)
        bin = P[p].TimeBinGrav;
      if(bin != P[p].TimeBinHydro)
        tb.timebin_move_particle(p, P[p].TimeBinHydro, bin);
      P[p].TimeBinHydro = bin;
    }
}
