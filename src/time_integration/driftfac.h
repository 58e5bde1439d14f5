#ifndef VORTAN_TIME_INTEGRATION_DRIFTFAC_H
#define VORTAN_TIME_INTEGRATION_DRIFTFAC_H

#include "data/allvars.h"
#include "data/dtypes.h"

// The integer timeline: 2^29 ticks from TimeBegin to TimeMax; a step of 2^b
// ticks lies in time bin b.
#define TIMEBASE (1 << 29)
#define TIMELINE_END TIMEBASE
#ifndef TIMEBIN_COUNT
#define TIMEBIN_COUNT 29
#endif

// Drift and kick factors of comoving runs, tabulated over ln a so that every
// lookup is two interpolations. Newtonian runs use tick differences times
// Timebase_interval instead and never build the tables.
class driftfac
{
 public:
  static constexpr int DRIFT_TABLE_LENGTH = 1000;

  void init_drift_table();

  double get_drift_factor(integertime time0, integertime time1) { return lookup(DriftTable, DriftCache, time0, time1); }
  double get_gravkick_factor(integertime time0, integertime time1) { return lookup(GravKickTable, GravKickCache, time0, time1); }
  double get_hydrokick_factor(integertime time0, integertime time1) { return lookup(HydroKickTable, HydroKickCache, time0, time1); }

  // H(a) of the run's cosmology.
  static double hubble_function(double a);

  double DriftTable[DRIFT_TABLE_LENGTH]     = {};
  double GravKickTable[DRIFT_TABLE_LENGTH]  = {};
  double HydroKickTable[DRIFT_TABLE_LENGTH] = {};
  double logTimeBegin = 0, logTimeMax = 0;

 private:
  // One entry per getter: bins are processed particle after particle with the
  // same pair of ticks, which makes the repeat free.
  struct cache
  {
    integertime t0 = -1, t1 = -1;
    double value   = 0;
  };
  cache DriftCache, GravKickCache, HydroKickCache;

  double integral_to(const double *table, integertime ti) const;
  double lookup(const double *table, cache &c, integertime time0, integertime time1)
  {
    if(time0 == c.t0 && time1 == c.t1)
      return c.value;
    c.t0    = time0;
    c.t1    = time1;
    c.value = integral_to(table, time1) - integral_to(table, time0);
    return c.value;
  }
};

extern driftfac Driftfac;

// Tick length of the run described by the arguments: uniform in ln a for
// comoving runs, in t otherwise.
double timebase_interval_of_run(int comoving, double timeBegin, double timeMax);

// The time (scale factor or t) that tick ti stands for.
double get_absolutetime_from_integertime(integertime ti);

#endif
