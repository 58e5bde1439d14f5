// The main loop from synchronisation point to synchronisation point, the
// output schedule and the rules that interrupt a run.
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "data/allvars.h"
#include "data/macros.h"
#include "io/snap_io.h"
#include "logs/logs.h"
#include "main/simulation.h"
#include "time_integration/driftfac.h"

void sim::run()
{
  announce_missing_physics();

  while(true)
    {
      All.TimeOld    = All.Time;
      All.Ti_Current = Sp.find_next_sync_point();
      All.Time       = get_absolutetime_from_integertime(All.Ti_Current);
      All.set_cosmo_factors_for_current_time();
      All.TimeStep = All.Time - All.TimeOld;

      Sp.mark_active_timebins();
      Sp.make_list_of_active_particles();

      Logs.output_log_messages();

      ionize_params();

      if(All.HighestActiveTimeBin >= All.SmallestTimeBinWithDomainDecomposition)
        {
          ngbtree_free();
          Sp.drift_all_particles();
          domain_decomposition();
          ngbtree_build();
        }

      compute_densities();
      ngbtree_update_maxhsml();

      do_hydro_step_second_half();
      do_gravity_step_second_half();

      star_formation_and_cooling();

      Logs.compute_statistics();
      Logs.flush_everything();

      create_snapshot_if_desired();

      if(All.Ti_Current >= TIMEBASE)
        {
          mpi_printf("\nFinal time=%g reached. Simulation ends.\n", All.TimeMax);
          if(All.Ti_Current != All.Ti_lastoutput)
            {
              All.Ti_nextoutput = All.Ti_Current;
              create_snapshot_if_desired();
            }
          write_restart_files("end of the run");
          Logs.write_cpu_log();
          return;
        }

      find_timesteps_and_do_gravity_step_first_half();
      find_hydro_timesteps();
      do_hydro_step_first_half();
      ngbtree_update_velocities();

      Logs.write_cpu_log();
      All.NumCurrentTiStep++;

      if(check_for_interruption_of_run())
        return;
    }
}

void sim::write_restart_files(const char *why)
{
  // the restart-file writer arrives with its own subsystem; until then a run
  // that stops here cannot be resumed
  mpi_printf("RESTART: NOTICE: restart files are not written yet: this build has no restart-file writer (requested by %s).\n", why);
}

int sim::check_for_interruption_of_run()
{
  int flag = 0;
  if(ThisTask == 0)
    {
      char path[MAXLEN_PATH_EXTRA];
      snprintf(path, sizeof(path), "%sstop", All.OutputDir);
      if(FILE *fd = fopen(path, "r"))
        {
          fclose(fd);
          puts("stop-file detected. stopping.");
          flag = 1;
          unlink(path);
        }

      snprintf(path, sizeof(path), "%srestart", All.OutputDir);
      if(FILE *fd = fopen(path, "r"))
        {
          fclose(fd);
          puts("restart-file detected. writing restart files.");
          flag = 3;
          unlink(path);
        }

      if(Logs.CPUThisRun > 0.85 * All.TimeLimitCPU)
        {
          puts("reaching time-limit. stopping.");
          flag = 2;
        }
    }

  MPI_Bcast(&flag, 1, MPI_INT, 0, Communicator);

  if(flag != 0)
    {
      write_restart_files(flag == 1 ? "the stop file" : flag == 2 ? "the CPU time limit" : "the restart file");
      MPI_Barrier(Communicator);

      if(flag == 3)
        return 0;
      if(flag == 2 && ThisTask == 0)
        {
          char path[MAXLEN_PATH_EXTRA];
          snprintf(path, sizeof(path), "%scont", All.OutputDir);
          if(FILE *fd = fopen(path, "w"))
            fclose(fd);
          else
            RUN_WARNING("cannot create the file '%s' that tells a job script to continue the run\n", path);
        }
      return 1;
    }

  if(ThisTask == 0 && Logs.CPUThisRun - All.TimeLastRestartFile >= All.CpuTimeBetRestartFile)
    {
      All.TimeLastRestartFile = Logs.CPUThisRun;
      flag                    = 3;
    }
  MPI_Bcast(&flag, 1, MPI_INT, 0, Communicator);
  if(flag == 3)
    write_restart_files("the regular restart interval");
  return 0;
}

void sim::create_snapshot_if_desired()
{
  if(All.HighestActiveTimeBin != All.HighestOccupiedTimeBin)
    return;
  if(All.Ti_Current < All.Ti_nextoutput || All.Ti_nextoutput < 0)
    return;

  for(int i = 0; i < Sp.NumPart; i++)
    if(Sp.P[i].get_Ti_Current() != All.Ti_Current)
      FATAL_ERROR("P[i].Ti_Current != All.Ti_Current");

  // the writer gets the memory of the neighbour tree and the bin lists
  ngbtree_free();
  Sp.TimeBinsGravity.timebins_free();
  Sp.TimeBinsHydro.timebins_free();

  if(All.DumpFlag_nextoutput)
    {
      snap_io snap(&Sp, Communicator, All.SnapFormat);
      snap.init_basic(&Sp);
      snap.write_snapshot(All.SnapshotFileCount, NORMAL_SNAPSHOT);
    }
  All.SnapshotFileCount++;

  All.Ti_nextoutput = find_next_outputtime(All.Ti_Current + 1);

  Sp.TimeBinsHydro.timebins_allocate();
  Sp.TimeBinsGravity.timebins_allocate();
  Sp.reconstruct_timebins();
  ngbtree_build();
}

// Output times are placed on the grid of the largest allowed step, so that
// they coincide with a full synchronisation point. The ratio is capped in
// floating point: MaxSizeTimestep may exceed the whole run many times over.
static double output_grid_spacing()
{
  double ratio = All.MaxSizeTimestep / All.Timebase_interval;
  if(!(ratio < TIMEBASE))
    ratio = TIMEBASE;
  double g = 1;
  while(2 * g <= ratio)
    g *= 2;
  return g;
}

// Tick of time t rounded to the nearest grid point; for t in [TimeBegin, TimeMax].
static integertime output_time_to_ti(double t, double g)
{
  double ti;
  if(All.ComovingIntegrationOn)
    ti = std::floor(std::log(t / All.TimeBegin) / All.Timebase_interval);
  else
    ti = std::floor((t - All.TimeBegin) / All.Timebase_interval);
  ti = g * std::floor(0.5 + ti / g);
  if(ti > TIMEBASE)
    ti = TIMEBASE;
  if(ti < 0)
    ti = 0;
  return static_cast<integertime>(ti);
}

integertime sim::find_next_outputtime(integertime ti_curr)
{
  const integertime NO_OUTPUT = 2 * TIMEBASE;
  double g                    = output_grid_spacing();
  integertime ti_next         = -1;

  if(All.OutputListOn)
    {
      All.DumpFlag_nextoutput = 1;
      for(int i = 0; i < All.OutputListLength; i++)
        {
          double t = All.OutputListTimes[i];
          if(!(t >= All.TimeBegin && t <= All.TimeMax))
            continue;
          integertime ti = output_time_to_ti(t, g);
          if(ti < ti_curr)
            continue;
          // the first entry in list order wins among equal candidates
          if(ti_next < 0 || ti < ti_next)
            {
              ti_next                 = ti;
              All.DumpFlag_nextoutput = All.OutputListFlag[i];
            }
        }
    }
  else
    {
      All.DumpFlag_nextoutput = 1;
      if(All.ComovingIntegrationOn && !(All.TimeBetSnapshot > 1.0))
        FATAL_ERROR("TimeBetSnapshot > 1.0 required for your simulation.\n");
      if(!All.ComovingIntegrationOn && !(All.TimeBetSnapshot > 0.0))
        FATAL_ERROR("TimeBetSnapshot > 0.0 required for your simulation.\n");

      // Output k lies at t(k) = first + k * step (first * step^k when
      // comoving). Both conditions below grow monotonically with k, so the
      // first output due is found by bisection: no step counter that a long
      // run could exhaust.
      const double t0 = All.TimeOfFirstSnapshot, dt = All.TimeBetSnapshot;
      auto time_of  = [&](double k) { return All.ComovingIntegrationOn ? t0 * std::pow(dt, k) : t0 + k * dt; };
      auto is_after = [&](double k) {
        double t = time_of(k);
        return t >= All.TimeBegin && (t > All.TimeMax || output_time_to_ti(t, g) >= ti_curr);
      };

      // an upper bound past the end; a schedule that never gets there cannot end
      double khi = 1;
      while(!is_after(khi))
        {
          khi *= 2;
          if(khi > 1.0e15)
            FATAL_ERROR("Can't determine next output time.\n");
        }
      double klo = -1;  // is_after(klo) is false, or k < 0
      if(is_after(0))
        khi = 0;
      else
        klo = 0;
      while(khi - klo > 1)
        {
          double mid = std::floor(0.5 * (klo + khi));
          if(is_after(mid))
            khi = mid;
          else
            klo = mid;
        }
      double t = time_of(khi);
      if(t <= All.TimeMax)
        ti_next = output_time_to_ti(t, g);
    }

  if(ti_next < 0)
    {
      mpi_printf("\nSNAPSHOT: There is no valid time for a further snapshot file.\n");
      return NO_OUTPUT;
    }

  mpi_printf("\nSNAPSHOT: Setting next time for snapshot file to Time_next= %g  (DumpFlag=%d)\n\n",
             get_absolutetime_from_integertime(ti_next), All.DumpFlag_nextoutput);
  return ti_next;
}
