#include "logs/logs.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "mpi_utils/mpi_utils.h"

logs Logs;

#define VORTAN_TIMER_DATA(name, parent, label, symb, imbal) {parent, #name, label, symb, imbal, 0},
logs::timer_d logs::Timer_data[CPU_LAST + 1] = {VORTAN_TIMER_TABLE(VORTAN_TIMER_DATA)};
#undef VORTAN_TIMER_DATA

namespace
{
constexpr int BAR_LEN = 120;

struct logfile_entry
{
  FILE *logs::*handle;
  const char *name;
};

// Opening order; "sfr.txt" is last, after the headers have been written.
const logfile_entry LOGFILES[] = {
    {&logs::FdCPU, "cpu.txt"},         {&logs::FdCPUCSV, "cpu.csv"},     {&logs::FdInfo, "info.txt"},
    {&logs::FdEnergy, "energy.txt"},   {&logs::FdTimings, "timings.txt"}, {&logs::FdDensity, "density.txt"},
    {&logs::FdHydro, "hydro.txt"},     {&logs::FdBalance, "balance.txt"}, {&logs::FdTimebin, "timebins.txt"},
    {&logs::FdDomain, "domain.txt"},   {&logs::FdSfr, "sfr.txt"},
};
constexpr int NLOGFILES = sizeof(LOGFILES) / sizeof(LOGFILES[0]);

FILE *open_one(const char *name, const char *mode)
{
  char buf[MAXLEN_PATH_EXTRA];
  snprintf(buf, sizeof(buf), "%s%s", All.OutputDir, name);
  FILE *fd = fopen(buf, mode);
  if(!fd)
    FATAL_ERROR("error in opening file '%s'\n", buf);
  return fd;
}
}  // namespace

const char *logs::name_of(FILE *fd) const
{
  for(const auto &f : LOGFILES)
    if(this->*f.handle == fd)
      return f.name;
  return "log file";
}

void logs::flush_log(FILE *fd)
{
  if(!fd)
    return;
  if(fflush(fd) != 0 || ferror(fd))
    {
      int err = errno;
      unsigned bit = 0;
      for(int i = 0; i < NLOGFILES; i++)
        if(this->*LOGFILES[i].handle == fd)
          bit = 1u << i;
      if(!(WriteFailed & bit) || bit == 0)
        {
          WriteFailed |= bit;
          RUN_WARNING("writing to '%s%s' failed: %s; its log lines are incomplete from here on", All.OutputDir, name_of(fd),
                      strerror(err));
        }
      clearerr(fd);
    }
}

void logs::close_logfiles()
{
  for(const auto &f : LOGFILES)
    if(this->*f.handle)
      {
        fclose(this->*f.handle);
        this->*f.handle = nullptr;
      }
}

void logs::open_logfiles()
{
  if(ThisTask != 0)
    return;

  // A second call (some run modes open the logs again) must not leak handles.
  close_logfiles();
  WriteFailed = 0;

  const char *mode = All.RestartFlag == RST_BEGIN ? "w" : "a";
  for(int i = 0; i < NLOGFILES - 1; i++)
    this->*LOGFILES[i].handle = open_one(LOGFILES[i].name, mode);

  fprintf(FdBalance, "\n");
  for(int i = 0; i < CPU_LAST; i++)
    if(Timer_data[i].symb != 0 && Timer_data[i].symbImbal != 0)
      fprintf(FdBalance, "%-20s = '%c' / '%c'\n", Timer_data[i].longname, Timer_data[i].symb, Timer_data[i].symbImbal);
  fprintf(FdBalance, "\n");
  flush_log(FdBalance);

  // The rows carry step, time, tasks and highest active bin; the header names
  // exactly those, so header and rows have the same columns.
  fprintf(FdCPUCSV, "STEP, TIME, CPUS, HIGHESTTIMEBIN");
  for(int i = 0; i < CPU_LAST; i++)
    fprintf(FdCPUCSV, ", %s1, %s2, %s3", Timer_data[i].shortname, Timer_data[i].shortname, Timer_data[i].shortname);
  fprintf(FdCPUCSV, "\n");
  flush_log(FdCPUCSV);

  FdSfr = open_one("sfr.txt", mode);
}

void logs::init_cpu_log(simparticles *Sp_ptr)
{
  Sp = Sp_ptr;

  for(int i = 0; i < CPU_LAST; i++)
    {
      if(Timer_data[i].parent >= 0)
        Timer_data[i].depth = Timer_data[Timer_data[i].parent].depth + 1;
      else
        Timer_data[i].depth = 0;
    }

  CPUThisRun = 0;
  for(int i = 0; i < CPU_LAST; i++)
    CPU_Sum[i] = CPU_Step[i] = 0;

  TimerStackPos = 0;
  TimerStack[0] = CPU_MISC;

  WallclockTime = StartOfRun = MPI_Wtime();
}

void logs::put_symbol(char *string, double t0, double t1, char c)
{
  int first = static_cast<int>(BAR_LEN * t0 + 0.5);
  int last  = static_cast<int>(BAR_LEN * t1);
  if(first < 0)
    first = 0;
  if(last > BAR_LEN)
    last = BAR_LEN;
  for(int i = first; i <= last; i++)
    string[i] = c;
  string[BAR_LEN] = 0;
}

void logs::write_cpu_log()
{
  timer_start(CPU_LOGS);

  double local_total = 0;
  for(int i = 0; i < CPU_LAST; i++)
    local_total += CPU_Step[i];

  double max_total = 0, max_step[CPU_LAST], sum_step[CPU_LAST];
  // All tasks learn the maximum, so the per-bin step times in All stay
  // identical everywhere (they go into every task's restart file).
  MPI_Allreduce(&local_total, &max_total, 1, MPI_DOUBLE, MPI_MAX, Communicator);
  MPI_Reduce(CPU_Step, max_step, CPU_LAST, MPI_DOUBLE, MPI_MAX, 0, Communicator);
  MPI_Reduce(CPU_Step, sum_step, CPU_LAST, MPI_DOUBLE, MPI_SUM, 0, Communicator);

  if(ThisTask == 0)
    {
      double avg_incl[CPU_LAST], avg[CPU_LAST];
      for(int i = 0; i < CPU_LAST; i++)
        avg_incl[i] = sum_step[i];
      for(int i = CPU_LAST - 1; i > 0; i--)
        if(Timer_data[i].parent >= 0)
          avg_incl[Timer_data[i].parent] += avg_incl[i];
      for(int i = 0; i < CPU_LAST; i++)
        {
          avg_incl[i] /= NTask;
          avg[i] = sum_step[i] / NTask;
          CPU_Sum[i] += avg_incl[i];
        }

      char bar[BAR_LEN + 1];
      memset(bar, '-', BAR_LEN);
      bar[BAR_LEN] = 0;

      double T = 0;
      for(int i = 0; i < CPU_LAST; i++)
        T += avg[i];

      if(T > 0)
        {
          double s = 0;
          for(int i = 1; i < CPU_LAST; i++)
            {
              double m = max_step[i], a = avg[i];
              if(m > 0 && Timer_data[i].symb != 0 && Timer_data[i].symbImbal != 0)
                {
                  double t1 = s + a * a / m;
                  put_symbol(bar, s / T, t1 / T, Timer_data[i].symb);
                  s       = t1;
                  double t2 = s + a * (m - a) / m;
                  put_symbol(bar, s / T, t2 / T, Timer_data[i].symbImbal);
                  s = t2;
                }
            }
        }

      fprintf(FdBalance, "Step=%7d  sec=%10.3f Nsync-grv=%10llu Nsync-hyd=%10llu  %s\n", All.NumCurrentTiStep, max_total,
              static_cast<unsigned long long>(All.GlobalNSynchronizedGravity),
              static_cast<unsigned long long>(All.GlobalNSynchronizedHydro), bar);
      flush_log(FdBalance);

      fprintf(FdCPUCSV, "%d, %g, %d, %d", All.NumCurrentTiStep, All.Time, NTask, All.HighestActiveTimeBin);

      fprintf(FdCPU, "Step %d, Time: %g, CPUs: %d, HighestActiveTimeBin: %d\n", All.NumCurrentTiStep, All.Time, NTask,
              All.HighestActiveTimeBin);
      fprintf(FdCPU, "                          diff                 cumulative\n");
      for(int i = 0; i < CPU_LAST; i++)
        {
          double pstep = avg_incl[CPU_ALL] > 0 ? avg_incl[i] / avg_incl[CPU_ALL] * 100 : 0;
          double psum  = CPU_Sum[CPU_ALL] > 0 ? CPU_Sum[i] / CPU_Sum[CPU_ALL] * 100 : 0;
          int d        = 2 * Timer_data[i].depth;
          fprintf(FdCPU, "%*s%*s%10.2f  %5.1f%% %10.2f  %5.1f%%\n", d, "", d - 20, Timer_data[i].longname, avg_incl[i], pstep,
                  CPU_Sum[i], psum);
          fprintf(FdCPUCSV, ", %f, %f, %f", avg_incl[i], CPU_Sum[i], psum);
        }
      fprintf(FdCPU, "\n");
      flush_log(FdCPU);
      fprintf(FdCPUCSV, "\n");
      flush_log(FdCPUCSV);
    }

  // The bin is -1 before any bin was active; nothing to record then.
  int hb = All.HighestActiveTimeBin;
  if(hb >= 0 && hb < TIMEBINS)
    {
      int &cnt = All.CPU_TimeBinCountMeasurements[hb];
      if(cnt >= 6)
        {
          for(int k = 0; k < 5; k++)
            All.CPU_TimeBinMeasurements[hb][k] = All.CPU_TimeBinMeasurements[hb][k + 1];
          cnt = 5;
        }
      if(cnt < 0)
        cnt = 0;
      All.CPU_TimeBinMeasurements[hb][cnt++] = max_total;
    }

  CPUThisRun = timediff(StartOfRun, MPI_Wtime());
  for(int i = 0; i < CPU_LAST; i++)
    CPU_Step[i] = 0;

  timer_stop(CPU_LOGS);
}

void logs::output_log_messages()
{
  timer_start(CPU_LOGS);

  long long tot_count[TIMEBINS], tot_count_sph[TIMEBINS];
  sumup_large_ints(TIMEBINS, Sp->TimeBinsGravity.TimeBinCount, tot_count, Communicator);
  sumup_large_ints(TIMEBINS, Sp->TimeBinsHydro.TimeBinCount, tot_count_sph, Communicator);

  Mem.report_detailed_memory_usage_of_largest_task();

  if(ThisTask == 0)
    {
      unsigned long long ngrav = All.GlobalNSynchronizedGravity, nhydro = All.GlobalNSynchronizedHydro;
      if(All.ComovingIntegrationOn)
        {
          double z     = 1.0 / All.Time - 1;
          double dloga = log(All.Time) - log(All.Time - All.TimeStep);
          fprintf(FdInfo, "\nSync-Point %d, Time: %g, Redshift: %g, Systemstep: %g, Dloga: %g, Nsync-grv: %10llu, Nsync-hyd: %10llu\n",
                  All.NumCurrentTiStep, All.Time, z, All.TimeStep, dloga, ngrav, nhydro);
          printf("\n\nSync-Point %d, Time: %g, Redshift: %g, Systemstep: %g, Dloga: %g, Nsync-grv: %10llu, Nsync-hyd: %10llu\n",
                 All.NumCurrentTiStep, All.Time, z, All.TimeStep, dloga, ngrav, nhydro);
          fprintf(FdTimebin, "\nSync-Point %d, Time: %g, Redshift: %g, Systemstep: %g, Dloga: %g\n", All.NumCurrentTiStep, All.Time, z,
                  All.TimeStep, dloga);
        }
      else
        {
          fprintf(FdInfo, "\nSync-Point %d, Time: %g, Systemstep: %g, Nsync-grv: %10llu, Nsync-hyd: %10llu\n", All.NumCurrentTiStep,
                  All.Time, All.TimeStep, ngrav, nhydro);
          printf("\n\nSync-Point %d, Time: %g, Systemstep: %g, Nsync-grv: %10llu, Nsync-hyd: %10llu\n", All.NumCurrentTiStep,
                 All.Time, All.TimeStep, ngrav, nhydro);
          fprintf(FdTimebin, "\nSync-Point %d, Time: %g, Systemstep: %g\n", All.NumCurrentTiStep, All.Time, All.TimeStep);
        }
      flush_log(FdInfo);

      long long cumul[TIMEBINS], cumul_sph[TIMEBINS];
      for(int b = 0; b < TIMEBINS; b++)
        {
          cumul[b]     = tot_count[b] + (b > 0 ? cumul[b - 1] : 0);
          cumul_sph[b] = tot_count_sph[b] + (b > 0 ? cumul_sph[b - 1] : 0);
        }

      double avg_cpu[TIMEBINS];
      for(int b = 0; b < TIMEBINS; b++)
        {
          int n      = All.CPU_TimeBinCountMeasurements[b];
          double sum = 0;
          for(int k = 0; k < n && k < 6; k++)
            sum += All.CPU_TimeBinMeasurements[b][k];
          avg_cpu[b] = n > 0 ? sum / (n < 6 ? n : 6) : 0;
        }

      double frac[TIMEBINS] = {};
      double total          = 0;
      int top = All.HighestOccupiedTimeBin < TIMEBINS ? All.HighestOccupiedTimeBin : TIMEBINS - 1;
      double w = 1;
      int lowest = top + 1;
      for(int b = top; b >= 0 && tot_count[b] > 0; b--)
        {
          frac[b] = (w > 1 ? w / 2 : w) * avg_cpu[b];
          total += frac[b];
          w *= 2;
          lowest = b;
        }
      if(total > 0)
        for(int b = lowest; b <= top; b++)
          frac[b] /= total;

      fprintf(FdTimebin,
              "Occupied timebins: gravity         sph          dt              cumul-grav   cumul-sph A D    avg-time  cpu-frac\n");
      long long tot_active = 0, tot_active_sph = 0;
      for(int b = TIMEBINS - 1; b >= 0; b--)
        if(tot_count[b] > 0 || tot_count_sph[b] > 0)
          {
            bool sync = Sp->TimeBinSynchronized[b] != 0;
            if(sync)
              {
                tot_active += tot_count[b];
                tot_active_sph += tot_count_sph[b];
              }
            double dt = b > 0 ? (static_cast<integertime>(1) << b) * All.Timebase_interval : 0;
            char colA = b == All.HighestActiveTimeBin ? '<' : ' ';
            char colD = (b == All.HighestActiveTimeBin && b >= All.SmallestTimeBinWithDomainDecomposition) ? '*' : ' ';
            fprintf(FdTimebin, " %c  bin=%2d      %10llu  %10llu   %16.12f       %10llu  %10llu %c %c  %10.2f    %5.1f%%\n",
                    sync ? 'X' : ' ', b, static_cast<unsigned long long>(tot_count[b]),
                    static_cast<unsigned long long>(tot_count_sph[b]), dt, static_cast<unsigned long long>(cumul[b]),
                    static_cast<unsigned long long>(cumul_sph[b]), colA, colD, avg_cpu[b], 100.0 * frac[b]);
          }
      fprintf(FdTimebin, "               ------------------------\n");
      fprintf(FdTimebin, "Total active:   %10llu  %10llu\n", static_cast<unsigned long long>(tot_active),
              static_cast<unsigned long long>(tot_active_sph));
      fprintf(FdTimebin, "\n");
      flush_log(FdTimebin);
    }

  timer_stop(CPU_LOGS);
}

void logs::compute_statistics()
{
  if(All.Time - All.TimeLastStatistics >= All.TimeBetStatistics && All.HighestActiveTimeBin == All.HighestOccupiedTimeBin)
    {
      All.set_cosmo_factors_for_current_time();
      compute_global_quantities_of_system();

      if(ThisTask == 0)
        {
          fprintf(FdEnergy, "%14.8g %14.8g %14.8g %14.8g", All.Time, SysState.EnergyInt, SysState.EnergyPot, SysState.EnergyKin);
          for(int t = 0; t < NTYPES; t++)
            fprintf(FdEnergy, " %14.8g %14.8g %14.8g", SysState.EnergyIntComp[t], SysState.EnergyPotComp[t],
                    SysState.EnergyKinComp[t]);
          for(int t = 0; t < NTYPES; t++)
            fprintf(FdEnergy, " %14.8g", SysState.MassComp[t]);
          fprintf(FdEnergy, "\n");
          flush_log(FdEnergy);
        }

      All.TimeLastStatistics += All.TimeBetStatistics;
    }
}

void logs::compute_global_quantities_of_system()
{
  state_of_system sys = {};

  for(int i = 0; i < Sp->NumPart; i++)
    {
      const particle_data &p = Sp->P[i];
      int t                  = p.getType();
      double m               = p.getMass();
      double x[3];
      Sp->intpos_to_pos(p.IntPos, x);
      const MyFloat *v = p.Vel;

      sys.MassComp[t] += m;
      // The same comoving factor for every type: gas velocities are stored in
      // the same variable as those of the other types.
      sys.EnergyKinComp[t] += 0.5 * m * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) * All.cf_a2inv;

      if(t == 0 && i < Sp->NumGas)
        {
          const sph_particle_data &s = Sp->SphP[i];
          sys.EnergyIntComp[0] += m * s.Entropy * pow(s.Density * All.cf_a3inv, GAMMA_MINUS1) / GAMMA_MINUS1;
        }

      for(int k = 0; k < 3; k++)
        {
          sys.MomentumComp[t][k] += m * v[k];
          sys.CenterOfMassComp[t][k] += m * x[k];
        }
      sys.AngMomentumComp[t][0] += m * (x[1] * v[2] - x[2] * v[1]);
      sys.AngMomentumComp[t][1] += m * (x[2] * v[0] - x[0] * v[2]);
      sys.AngMomentumComp[t][2] += m * (x[0] * v[1] - x[1] * v[0]);
    }

  // The per-type arrays are contiguous from MassComp to the end of the record.
  constexpr size_t first = offsetof(state_of_system, MassComp);
  constexpr int ncomp    = (sizeof(state_of_system) - first) / sizeof(double);
  MPI_Reduce(reinterpret_cast<char *>(&sys) + first, reinterpret_cast<char *>(&SysState) + first, ncomp, MPI_DOUBLE, MPI_SUM, 0,
             Communicator);

  if(ThisTask == 0)
    {
      state_of_system &s = SysState;
      s.Mass = s.EnergyKin = s.EnergyPot = s.EnergyInt = s.EnergyTot = 0;
      for(int k = 0; k < 4; k++)
        s.Momentum[k] = s.AngMomentum[k] = s.CenterOfMass[k] = 0;

      for(int t = 0; t < NTYPES; t++)
        {
          s.EnergyTotComp[t] = s.EnergyKinComp[t] + s.EnergyPotComp[t] + s.EnergyIntComp[t];
          s.Mass += s.MassComp[t];
          s.EnergyKin += s.EnergyKinComp[t];
          s.EnergyPot += s.EnergyPotComp[t];
          s.EnergyInt += s.EnergyIntComp[t];
          s.EnergyTot += s.EnergyTotComp[t];
          for(int k = 0; k < 3; k++)
            {
              s.Momentum[k] += s.MomentumComp[t][k];
              s.AngMomentum[k] += s.AngMomentumComp[t][k];
              s.CenterOfMass[k] += s.CenterOfMassComp[t][k];
            }
        }

      for(int t = 0; t < NTYPES; t++)
        if(s.MassComp[t] > 0)
          for(int k = 0; k < 3; k++)
            s.CenterOfMassComp[t][k] /= s.MassComp[t];
      if(s.Mass > 0)
        for(int k = 0; k < 3; k++)
          s.CenterOfMass[k] /= s.Mass;

      auto len = [](double *v) { v[3] = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); };
      len(s.Momentum);
      len(s.AngMomentum);
      len(s.CenterOfMass);
      for(int t = 0; t < NTYPES; t++)
        {
          len(s.MomentumComp[t]);
          len(s.AngMomentumComp[t]);
          len(s.CenterOfMassComp[t]);
        }
    }

  MPI_Bcast(&SysState, sizeof(state_of_system), MPI_BYTE, 0, Communicator);
}
