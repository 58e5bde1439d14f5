#ifndef VORTAN_LOGS_LOGS_H
#define VORTAN_LOGS_LOGS_H

#include <mpi.h>
#include <cstdio>

#include "data/constants.h"
#include "data/macros.h"
#include "logs/timer.h"
#include "mpi_utils/setcomm.h"

class simparticles;

// Log files, CPU timers and step statistics. Task 0 alone holds the files;
// every task keeps timers and takes part in the reductions.
class logs : public setcomm
{
 public:
  logs() : setcomm("delay init") {}

  simparticles *Sp = nullptr;

  double CPUThisRun = 0;

  FILE *FdInfo = nullptr, *FdEnergy = nullptr, *FdTimings = nullptr, *FdDensity = nullptr, *FdHydro = nullptr, *FdBalance = nullptr,
       *FdTimebin = nullptr, *FdDomain = nullptr, *FdCPU = nullptr, *FdCPUCSV = nullptr, *FdSfr = nullptr;

  struct timer_d
  {
    int parent;
    char shortname[30];
    char longname[30];
    char symb;
    char symbImbal;
    char depth;
  };
  static timer_d Timer_data[CPU_LAST + 1];

  double CPU_Step[CPU_LAST]        = {};
  double CPU_Step_Stored[CPU_LAST] = {};
  double CPU_Sum[CPU_LAST]         = {};

  enum timers TimerStack[TIMER_STACK_DEPTH] = {CPU_MISC};
  int TimerStackPos                         = 0;

  double StartOfRun    = 0;
  double WallclockTime = 0;

  struct state_of_system
  {
    double Mass, EnergyKin, EnergyPot, EnergyInt, EnergyTot, Momentum[4], AngMomentum[4], CenterOfMass[4], MassComp[NTYPES],
        EnergyKinComp[NTYPES], EnergyPotComp[NTYPES], EnergyIntComp[NTYPES], EnergyTotComp[NTYPES],
        MomentumComp[NTYPES][4], AngMomentumComp[NTYPES][4], CenterOfMassComp[NTYPES][4];
  };
  state_of_system SysState = {};

  void open_logfiles();
  void init_cpu_log(simparticles *Sp_ptr);
  void output_log_messages();
  void compute_statistics();
  void flush_everything() {}
  void write_cpu_log();
  void compute_global_quantities_of_system();
  static void put_symbol(char *string, double t0, double t1, char c);

  // Flushes a log file and reports a failed write (e.g. a full disk) once per
  // file instead of dropping it silently.
  void flush_log(FILE *fd);

  double second() const { return MPI_Wtime(); }
  static double timediff(double t0, double t1) { return t1 - t0 < 0 ? 0 : t1 - t0; }
  double measure_time()
  {
    double t = MPI_Wtime(), dt = t - WallclockTime;
    WallclockTime = t;
    return dt;
  }

  void timer_start(enum timers t)
  {
    if(t < 0 || t >= CPU_LAST)
      FATAL_ERROR("Try to start timer %d, which is not a timer (valid are 0..%d)", static_cast<int>(t), CPU_LAST - 1);

    CPU_Step[TimerStack[TimerStackPos]] += measure_time();

    for(int i = 0; i <= TimerStackPos; i++)
      if(TimerStack[i] == t)
        FATAL_ERROR("Try to start timer %d, but it is already running.\n", static_cast<int>(t));

    if(++TimerStackPos >= TIMER_STACK_DEPTH)
      FATAL_ERROR("Run out of timer stack space, increase TIMER_STACK_DEPTH");
    TimerStack[TimerStackPos] = t;
  }

  void timer_stop(enum timers t)
  {
    if(t < 0 || t >= CPU_LAST)
      FATAL_ERROR("Try to stop timer %d, which is not a timer (valid are 0..%d)", static_cast<int>(t), CPU_LAST - 1);
    if(TimerStack[TimerStackPos] != t)
      FATAL_ERROR("Wrong use of TIMER_STOP, you must stop the timer started last");

    CPU_Step[TimerStack[TimerStackPos]] += measure_time();

    if(--TimerStackPos < 0)
      FATAL_ERROR("Do not stop the out CPU_MISC timer");
  }

 private:
  unsigned WriteFailed = 0; // one bit per log file already reported
  const char *name_of(FILE *fd) const;
  void close_logfiles();
};

extern logs Logs;

#endif
