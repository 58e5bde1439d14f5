#include "time_integration/driftfac.h"

#include <gsl/gsl_integration.h>
#include <cmath>

#include "data/macros.h"

driftfac Driftfac;

double driftfac::hubble_function(double a)
{
  return All.Hubble * std::sqrt(All.Omega0 / (a * a * a) + (1 - All.Omega0 - All.OmegaLambda) / (a * a) + All.OmegaLambda);
}

static double drift_integ(double a, void *) { return 1 / (driftfac::hubble_function(a) * a * a * a); }
static double gravkick_integ(double a, void *) { return 1 / (driftfac::hubble_function(a) * a * a); }
// exponent 3 gamma - 2 = 3 for gamma = 5/3
static double hydrokick_integ(double a, void *) { return 1 / (driftfac::hubble_function(a) * a * a * a); }

void driftfac::init_drift_table()
{
  if(!(All.TimeBegin > 0) || !(All.TimeMax > All.TimeBegin))
    FATAL_ERROR("drift tables need 0 < TimeBegin < TimeMax (TimeBegin=%g TimeMax=%g): the comoving timeline is logarithmic\n",
                All.TimeBegin, All.TimeMax);

  const int worksize = 100000;
  logTimeBegin       = std::log(All.TimeBegin);
  logTimeMax         = std::log(All.TimeMax);

  gsl_integration_workspace *workspace = gsl_integration_workspace_alloc(worksize);
  gsl_function F[3] = {{drift_integ, nullptr}, {gravkick_integ, nullptr}, {hydrokick_integ, nullptr}};
  double *tables[3] = {DriftTable, GravKickTable, HydroKickTable};

  for(int i = 0; i < DRIFT_TABLE_LENGTH; i++)
    {
      double a = std::exp(logTimeBegin + ((logTimeMax - logTimeBegin) / DRIFT_TABLE_LENGTH) * (i + 1));
      for(int k = 0; k < 3; k++)
        {
          double result, abserr;
          gsl_integration_qag(&F[k], All.TimeBegin, a, 0, 1.0e-8, worksize, GSL_INTEG_GAUSS41, workspace, &result, &abserr);
          tables[k][i] = result;
        }
    }

  gsl_integration_workspace_free(workspace);

  // a rebuilt table invalidates what the caches remember
  DriftCache = GravKickCache = HydroKickCache = cache();
}

double driftfac::integral_to(const double *T, integertime ti) const
{
  double u = (ti * All.Timebase_interval) / (logTimeMax - logTimeBegin) * DRIFT_TABLE_LENGTH;
  int i    = static_cast<int>(u);
  if(i >= DRIFT_TABLE_LENGTH)
    return T[DRIFT_TABLE_LENGTH - 2] + (T[DRIFT_TABLE_LENGTH - 1] - T[DRIFT_TABLE_LENGTH - 2]) * (u - (DRIFT_TABLE_LENGTH - 1));
  if(i < 1)
    return u * T[0];
  return T[i - 1] + (T[i] - T[i - 1]) * (u - i);
}

double timebase_interval_of_run(int comoving, double timeBegin, double timeMax)
{
  if(comoving)
    return (std::log(timeMax) - std::log(timeBegin)) / TIMEBASE;
  return (timeMax - timeBegin) / TIMEBASE;
}

double get_absolutetime_from_integertime(integertime ti)
{
  if(All.ComovingIntegrationOn)
    return All.TimeBegin * std::exp(ti * All.Timebase_interval);
  return All.TimeBegin + ti * All.Timebase_interval;
}
