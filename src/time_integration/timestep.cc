// Time-step criteria and the rules that turn a desired step into a time bin.
#include <cmath>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/simparticles.h"
#include "time_integration/driftfac.h"

// Steps are compared with the timeline in floating point before any cast: an
// oversized or non-finite step must reach the fatal message, not an undefined
// conversion. Returns the integer step, or 0 when it is not in (0, 2^29).
static integertime checked_integer_step(double dt, double *ticks)
{
  *ticks = dt / All.Timebase_interval;
  if(*ticks >= 1 && *ticks < TIMEBASE)
    return static_cast<integertime>(*ticks);
  return 0;
}

integertime simparticles::get_timestep_grav(int p)
{
  double ac = All.cf_a2inv * P[p].GravAccel.norm();
  if(ac == 0)
    ac = 1.0e-37;

  double soft    = All.SofteningTable[P[p].getSofteningClass()];
  double dt_grav = std::sqrt(2 * All.ErrTolIntAccuracy * All.cf_atime * soft / ac);
  double dt      = std::min(All.MaxSizeTimestep, dt_grav * All.cf_hubble_a);

  if(dt < All.MinSizeTimestep)
    FATAL_ERROR("Timestep wants to be below the limit MinSizeTimestep=%g\nPart-ID=%lld task=%d type=%d dtgrav=%g ac=%g soft=%g\n",
                All.MinSizeTimestep, (long long)P[p].ID.get(), ThisTask, P[p].getType(), dt, ac, soft);

  double ticks;
  integertime ti_step = checked_integer_step(dt, &ticks);
  if(ti_step == 0)
    {
      double pos[3];
      intpos_to_pos(P[p].IntPos, pos);
      FATAL_ERROR(
          "\nError: A timestep of size zero was assigned on the integer timeline!\nWe better stop.\nTask=%d Part-ID=%lld type=%d "
          "dt_grav=%g dt=%g tibase=%g ac=%g xyz=(%g|%g|%g) vel=(%g|%g|%g) tree=(%g|%g|%g) mass=%g\n\n",
          ThisTask, (long long)P[p].ID.get(), P[p].getType(), dt_grav, dt, All.Timebase_interval, ac, pos[0], pos[1], pos[2],
          P[p].Vel[0], P[p].Vel[1], P[p].Vel[2], P[p].GravAccel[0], P[p].GravAccel[1], P[p].GravAccel[2], P[p].getMass());
    }
  return ti_step;
}

int simparticles::test_if_grav_timestep_is_too_large(int p, int bin)
{
  integertime ti_step = get_timestep_grav(p);
  integertime binstep = bin > 0 ? (static_cast<integertime>(1) << bin) : 0;
  return ti_step < binstep ? 1 : 0;
}

integertime simparticles::get_timestep_hydro(int p)
{
  if(P[p].getType() != 0)
    FATAL_ERROR("P[p].getType() != 0");

  const sph_particle_data &sph = SphP[p];

  double acc[3];
  for(int k = 0; k < 3; k++)
    acc[k] = All.cf_a2inv * P[p].GravAccel[k] + All.cf_afac2 * sph.HydroAccel[k];
  double ac = std::sqrt(acc[0] * acc[0] + acc[1] * acc[1] + acc[2] * acc[2]);
  if(ac == 0)
    ac = 1.0e-37;

  double dt_kin       = std::sqrt(2 * All.ErrTolIntAccuracy * All.cf_atime * sph.Hsml / ac);
  double dt_courant   = 2 * sph.Hsml * (All.cf_atime / All.cf_afac3) * All.CourantFac / (1.0e-37 + sph.MaxSignalVel);
  double dt_treebased = (All.cf_atime / All.cf_afac3) * sph.CurrentMaxTiStep;
  double dt_hsml      = std::fabs(sph.Hsml / (1.0e-37 + sph.DtHsml)) * All.cf_atime2 * All.CourantFac;

  double dt = std::min(std::min(dt_kin, dt_courant), std::min(dt_treebased, dt_hsml));
  if(sph.Sfr > 0)
    dt = std::min(dt, 0.1 * P[p].getMass() / sph.Sfr);

  dt = std::min(All.MaxSizeTimestep, dt * All.cf_hubble_a);

  if(dt < All.MinSizeTimestep)
    FATAL_ERROR("Timestep wants to be below the limit MinSizeTimestep=%g\nPart-ID=%lld task=%d dtkin=%g dtcourant=%g ac=%g\n",
                All.MinSizeTimestep, (long long)P[p].ID.get(), ThisTask, dt_kin * All.cf_hubble_a, dt_courant * All.cf_hubble_a,
                ac);

  double ticks;
  integertime ti_step = checked_integer_step(dt, &ticks);
  if(ti_step == 0)
    {
      double pos[3];
      intpos_to_pos(P[p].IntPos, pos);
      FATAL_ERROR(
          "\nError: A timestep of size zero was assigned on the integer timeline!\nWe better stop.\nTask=%d Part-ID=%lld type=%d "
          "dt=%g dtc=%g dt_kin=%g dt_treebased=%g dt_hsml=%g tibase=%g ti_step=%g ac=%g xyz=(%g|%g|%g) vel=(%g|%g|%g) "
          "tree=(%g|%g|%g) mass=%g  All.cf_hubble_a=%g\n\n",
          ThisTask, (long long)P[p].ID.get(), P[p].getType(), dt, dt_courant, dt_kin, dt_treebased, dt_hsml, All.Timebase_interval,
          ticks, ac, pos[0], pos[1], pos[2], P[p].Vel[0], P[p].Vel[1], P[p].Vel[2], P[p].GravAccel[0], P[p].GravAccel[1],
          P[p].GravAccel[2], P[p].getMass(), All.cf_hubble_a);
    }
  return ti_step;
}

int simparticles::get_timestep_bin(integertime ti_step)
{
  if(ti_step <= 0)
    return 0;
  if(ti_step == 1)
    FATAL_ERROR("time-step of integer size 1 not allowed\n");
  int bin = 0;
  while(ti_step >>= 1)
    bin++;
  return bin;
}

void simparticles::timebins_get_bin_and_do_validity_checks(integertime ti_step, int *bin_new, int bin_old)
{
  // largest power of two not above the step; the criteria never return more than 2^28
  int bin = get_timestep_bin(ti_step);
  if(bin > TIMEBIN_COUNT - 1)
    bin = TIMEBIN_COUNT - 1;

  integertime ti_step_check = 0;
  if(bin > bin_old)
    {
      // growth only into a bin whose boundary is now
      while(TimeBinSynchronized[bin] == 0 && bin > bin_old)
        bin--;
      ti_step_check = bin > 0 ? (static_cast<integertime>(1) << bin) : 0;
    }

  if(All.Ti_Current >= TIMEBASE)
    {
      bin           = 0;
      ti_step_check = 0;
    }

  if((TIMEBASE - All.Ti_Current) < ti_step_check)
    FATAL_ERROR("we are beyond the end of the timeline");

  *bin_new = bin;
}
