// Paths of the timeline and the output schedule that must end the run: one
// process per case, judged by its message. A case that returns fails.
#include <mpi.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "data/allvars.h"
#include "data/simparticles.h"
#include "main/simulation.h"
#include "time_integration/driftfac.h"

namespace
{
void newtonian_run(double maxstep)
{
  All.ComovingIntegrationOn = 0;
  All.TimeBegin             = 0;
  All.TimeMax               = 1;
  All.Timebase_interval     = timebase_interval_of_run(0, 0, 1);
  All.MaxSizeTimestep       = maxstep;
  All.MinSizeTimestep       = 0;
  All.ErrTolIntAccuracy     = 0.025;
  All.SofteningTable[0] = All.SofteningTable[1] = 0.01;
  All.set_cosmo_factors_for_current_time();
}

// one particle at rest without acceleration
particle_data Part[1];
sph_particle_data Gas[1];
simparticles &one_particle(simparticles &sp)
{
  memset(static_cast<void *>(Part), 0, sizeof(Part));
  sp.P       = Part;
  sp.SphP    = Gas;
  sp.NumPart = 1;
  Part[0].setType(1);
  Part[0].ID.set(17);
  return sp;
}
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  std::string c = argc > 1 ? argv[1] : "";
  static simparticles sp(MPI_COMM_WORLD);
  static sim run(MPI_COMM_WORLD);
  All.initcomm(MPI_COMM_WORLD);
  int bin;

  if(c == "step_of_one")
    sp.timebins_get_bin_and_do_validity_checks(1, &bin, 0);
  else if(c == "beyond_timeline")
    {
      // a particle in bin 3 at tick 2^29 - 8 asking for bin 4, which is synchronised
      All.Ti_Current = TIMEBASE - 8;
      for(int n = 0; n < TIMEBIN_COUNT; n++)
        sp.TimeBinSynchronized[n] = n <= 4;
      sp.timebins_get_bin_and_do_validity_checks(16, &bin, 3);
    }
  else if(c == "oversized_step")
    {
      // MaxSizeTimestep five times the run: 5 * 2^29 ticks must not reach an int cast
      newtonian_run(5.0);
      one_particle(sp).get_timestep_grav(0);
    }
  else if(c == "below_min_step")
    {
      newtonian_run(0.01);
      All.MinSizeTimestep = 0.1;
      one_particle(sp).get_timestep_grav(0);
    }
  else if(c == "hydro_step_of_non_gas")
    one_particle(sp).get_timestep_hydro(0);
  else if(c == "drift_into_past")
    {
      newtonian_run(0.01);
      one_particle(sp);
      Part[0].set_Ti_Current(100);
      sp.drift_particle(&Part[0], nullptr, 50);
    }
  else if(c == "spacing_not_positive")
    {
      newtonian_run(0.01);
      All.OutputListOn    = 0;
      All.TimeBetSnapshot = 0;
      run.find_next_outputtime(0);
    }
  else if(c == "comoving_spacing_not_a_factor")
    {
      All.ComovingIntegrationOn = 1;
      All.OutputListOn          = 0;
      All.TimeBetSnapshot       = 1.0;
      run.find_next_outputtime(0);
    }
  else if(c == "schedule_that_cannot_end")
    {
      // comoving outputs grow by a factor from TimeOfFirstSnapshot = 0: never reach TimeBegin
      All.ComovingIntegrationOn = 1;
      All.TimeBegin             = 0.1;
      All.TimeMax               = 1;
      All.Timebase_interval     = timebase_interval_of_run(1, 0.1, 1);
      All.MaxSizeTimestep       = 0.01;
      All.OutputListOn          = 0;
      All.TimeOfFirstSnapshot   = 0;
      All.TimeBetSnapshot       = 2;
      run.find_next_outputtime(0);
    }
  else if(c == "comoving_table_from_zero")
    {
      All.ComovingIntegrationOn = 1;
      All.TimeBegin             = 0;
      All.TimeMax               = 1;
      Driftfac.init_drift_table();
    }
  printf("case '%s' returned\n", c.c_str());
  MPI_Finalize();
  return 0;
}
