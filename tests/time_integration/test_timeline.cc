// Drift and kick factors against the matter-only integrals, and the rules that
// turn an integer step into a time bin.
#include <gtest/gtest.h>
#include <cmath>

#include "data/allvars.h"
#include "data/simparticles.h"
#include "time_integration/driftfac.h"

namespace
{
const double H0 = 0.1;

void set_matter_only_run(double a0, double a1)
{
  All.ComovingIntegrationOn = 1;
  All.Omega0                = 1;
  All.OmegaLambda           = 0;
  All.Hubble                = H0;
  All.TimeBegin             = a0;
  All.TimeMax               = a1;
  All.Timebase_interval     = timebase_interval_of_run(1, a0, a1);
  Driftfac.init_drift_table();
}

double a_of(integertime ti) { return All.TimeBegin * std::exp(ti * All.Timebase_interval); }
double eds_drift(double a0, double a1) { return 2 / H0 * (1 / std::sqrt(a0) - 1 / std::sqrt(a1)); }
double eds_gravkick(double a0, double a1) { return 2 / H0 * (std::sqrt(a1) - std::sqrt(a0)); }

TEST(Timeline, TickLengthOfComovingAndNewtonianRuns)
{
  EXPECT_DOUBLE_EQ(timebase_interval_of_run(1, 0.01, 1.0), std::log(100.0) / 536870912.0);
  EXPECT_DOUBLE_EQ(timebase_interval_of_run(0, 2.0, 6.0), 4.0 / 536870912.0);
  EXPECT_EQ(TIMELINE_END, 536870912);
}

TEST(Timeline, FactorsMatchMatterOnlyIntegrals)
{
  set_matter_only_run(0.01, 1.0);
  const double *T = Driftfac.DriftTable;
  // ticks at which the lookup interpolates from the first interval, at a
  // half-way point of the second, on a table node, and in general position
  const integertime first  = TIMEBASE / 4000;      // u just below 0.25
  const integertime second = 3 * (TIMEBASE / 2000);  // u just below 1.5
  const integertime node   = TIMEBASE / 8;          // u = 125 exactly
  auto u                   = [](integertime ti) { return ti * 1000.0 / TIMEBASE; };
  struct
  {
    const char *what;
    integertime t0, t1;
    double expect, reltol;
  } cases[] = {
      {"zero interval at start", 0, 0, 0, 0},
      {"zero interval inside", 123456, 123456, 0, 0},
      {"first table interval is linear from 0", 0, first, u(first) * T[0], 1e-12},
      {"between first two entries", 0, second, T[0] + (u(second) - 1) * (T[1] - T[0]), 1e-12},
      {"on a node equals the entry", 0, node, T[124], 1e-12},
      {"whole timeline equals last entry", 0, TIMELINE_END, T[999], 1e-12},
      {"analytic, whole run", 0, TIMELINE_END, eds_drift(0.01, 1.0), 1e-8},
      {"analytic, on a node", 0, node, eds_drift(0.01, a_of(node)), 1e-8},
      {"analytic, general interval", 1234567, 400000000, eds_drift(a_of(1234567), a_of(400000000)), 1e-6},
  };
  for(auto &c : cases)
    {
      double got = Driftfac.get_drift_factor(c.t0, c.t1);
      if(c.expect == 0)
        EXPECT_EQ(got, 0) << c.what;
      else
        EXPECT_NEAR(got, c.expect, c.reltol * std::fabs(c.expect)) << c.what;
    }

  // the hydro kick has the drift's exponent for gamma = 5/3; the gravity kick its own
  EXPECT_NEAR(Driftfac.get_hydrokick_factor(1234567, 400000000), eds_drift(a_of(1234567), a_of(400000000)), 1e-6 * T[999]);
  EXPECT_NEAR(Driftfac.get_gravkick_factor(0, TIMELINE_END), eds_gravkick(0.01, 1.0), 1e-8 * eds_gravkick(0.01, 1.0));
  EXPECT_NEAR(Driftfac.get_gravkick_factor(1234567, 400000000), eds_gravkick(a_of(1234567), a_of(400000000)),
              1e-6 * eds_gravkick(a_of(1234567), a_of(400000000)));
}

TEST(Timeline, CacheIsPerGetterAndClearedByNewTables)
{
  set_matter_only_run(0.01, 1.0);
  double d = Driftfac.get_drift_factor(1000, 2000000);
  double g = Driftfac.get_gravkick_factor(1000, 2000000);
  EXPECT_NE(d, g);  // a shared cache would hand back the drift value
  EXPECT_EQ(Driftfac.get_drift_factor(1000, 2000000), d);

  set_matter_only_run(0.5, 1.0);  // same ticks, other run
  EXPECT_NEAR(Driftfac.get_drift_factor(1000, 2000000), eds_drift(a_of(1000), a_of(2000000)), 1e-6 * d);
}

TEST(Timeline, AbsoluteTimeOfTick)
{
  All.ComovingIntegrationOn = 0;
  All.TimeBegin             = 2;
  All.Timebase_interval     = timebase_interval_of_run(0, 2, 6);
  EXPECT_DOUBLE_EQ(get_absolutetime_from_integertime(TIMELINE_END / 2), 4.0);
  All.ComovingIntegrationOn = 1;
  All.TimeBegin             = 0.1;
  All.Timebase_interval     = timebase_interval_of_run(1, 0.1, 1.0);
  EXPECT_NEAR(get_absolutetime_from_integertime(TIMELINE_END / 2), std::sqrt(0.1), 1e-15);
  EXPECT_NEAR(get_absolutetime_from_integertime(TIMELINE_END), 1.0, 1e-15);
}

TEST(TimeBins, BinOfIntegerStep)
{
  struct
  {
    integertime ti_step;
    int bin;
  } cases[] = {{0, 0}, {2, 1}, {3, 1}, {4, 2}, {1023, 9}, {1 << 28, 28}, {(1 << 28) + 5, 28}, {TIMEBASE - 1, 28}};
  for(auto &c : cases)
    EXPECT_EQ(simparticles::get_timestep_bin(c.ti_step), c.bin) << c.ti_step;
}

TEST(TimeBins, GrowthOnlyIntoSynchronisedBinsAndNotPastTheEnd)
{
  simparticles sp;
  struct
  {
    const char *what;
    integertime ti_current;
    integertime ti_step;
    int bin_old, bin_new;
  } cases[] = {
      // Ti_Current = 16: bins 0-4 synchronised, 5 and above not
      {"grows up to the highest synchronised bin", 16, 1 << 6, 3, 4},
      {"shrinks at once", 16, 1 << 2, 6, 2},
      {"shrinks at once, unsynchronised target", 8, 1 << 4, 6, 4},
      // Ti_Current = 8: bins 0-3 synchronised
      {"stays when no larger bin is synchronised", 8, 1 << 6, 3, 3},
      {"stays in its bin", 8, 1 << 3, 3, 3},
      {"everything synchronised at the start", 0, 1 << 20, 0, 20},
      {"at 2^29 - 16 the largest reachable bin is 4", TIMEBASE - 16, 1 << 10, 2, 4},
      {"after the last step, bin 0", TIMEBASE, 1 << 10, 5, 0},
      {"step zero", 64, 0, 3, 0},
  };
  for(auto &c : cases)
    {
      All.Ti_Current = c.ti_current;
      for(int n = 0; n < TIMEBIN_COUNT; n++)
        sp.TimeBinSynchronized[n] = c.ti_current % (1 << n) == 0;
      int bin = -1;
      sp.timebins_get_bin_and_do_validity_checks(c.ti_step, &bin, c.bin_old);
      EXPECT_EQ(bin, c.bin_new) << c.what;
    }
}

}  // namespace
