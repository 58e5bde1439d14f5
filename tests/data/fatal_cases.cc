// Driver for the paths that must end the run: each case sets up a small
// scenario and then misuses the allocator, a particle, a time-bin list or the
// timers. ctest matches the printed message, so a case that should stop but
// returns fails.
#include <cmath>
#include <mpi.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_start.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "logs/logs.h"
#include "time_integration/timebindata.h"

namespace
{
void say(const char *what)
{
  printf("%s\n", what);
  fflush(stdout);
}

void exhaust()
{
  // Four start-up blocks of 64 bytes each on a single rank.
  void *big = mymalloc("big_block", 1048576 - 256);
  (void)big;
  say("READY");
  mymalloc("one_more", 64);
}

void maxblocks()
{
  for(int i = Mem.Nblocks; i < MAXBLOCKS; i++)
    mymalloc("small", 1);
  say("READY");
  mymalloc("one_too_many", 1);
}

void free_not_top()
{
  void *a = mymalloc("a", 64);
  mymalloc("b", 64);
  myfree(a);
}

void free_movable_behind_nonmovable()
{
  char *a = static_cast<char *>(mymalloc_movable(&a, "a_movable", 64)); // block 4
  mymalloc("b_fixed", 64);
  myfree_movable(a);
}

void free_movable_unknown()
{
  char *a = static_cast<char *>(mymalloc_movable(&a, "a_movable", 128));
  myfree_movable(a + 64);
}

void realloc_not_top()
{
  void *a = mymalloc("a", 64);
  mymalloc("b", 64);
  myrealloc(a, 128);
}

void realloc_too_big()
{
  char *a = static_cast<char *>(mymalloc_movable(&a, "a_movable", 64));
  myrealloc_movable(a, 2 << 20);
}

void realloc_generic()
{
  const char *callorigin = "caller";
  void *a                = mymalloc_g("generic", 64);
  myrealloc(a, 128);
}

void maxmemsize_short()
{
  Mem.RankInThisNode     = 0;
  Mem.TasksInThisNode    = 1;
  Mem.MemoryOnNode       = 2048LL * 1024;          // kB
  Mem.SharedMemoryOnNode = 100LL * 1024 * 1024;    // kB
  Mem.check_maxmemsize_setting(4096);
}

// Probes that could not read their files leave 0: the check is skipped, not failed.
void maxmemsize_unknown()
{
  Mem.RankInThisNode     = 0;
  Mem.TasksInThisNode    = 1;
  Mem.MemoryOnNode       = 0;
  Mem.SharedMemoryOnNode = 0;
  Mem.check_maxmemsize_setting(4096);
  say("CHECK-OK");
}

void maxmemsize_enough()
{
  Mem.RankInThisNode     = 0;
  Mem.TasksInThisNode    = 2;
  Mem.MemoryOnNode       = 100LL * 1024 * 1024;
  Mem.SharedMemoryOnNode = 100LL * 1024 * 1024;
  Mem.check_maxmemsize_setting(4096);
  say("CHECK-OK");
}

// Started with MaxMemSize above 2047 MB: every byte count is 64-bit.
void big_region()
{
  size_t n = (size_t(2100) << 20) - 4096;
  char *p  = static_cast<char *>(mymalloc("big", n));
  p[n - 1] = 1;
  if(Mem.TotBytes == size_t(2100) << 20 && Mem.get_top() == Mem.Base + Mem.TotBytes - Mem.FreeBytes && Mem.FreeBytes < 4096)
    printf("BIG-REGION-OK TotBytes=%zu\n", Mem.TotBytes);
  myfree(p);
}

void pressure_nan()
{
  sph_particle_data s{};
  s.Density     = -1;
  s.Entropy     = 1;
  s.EntropyPred = 1;
  s.set_thermodynamic_variables();
}

void intpos_runaway()
{
  intposconvert::constrain_intpos(1e30);
}

void intpos_nan()
{
  intposconvert::constrain_intpos(std::nan(""));
}

void timebin_negative()
{
  int maxpart = 4;
  std::vector<int> a(4), n(4), p(4);
  TimeBinData tb;
  tb.timebins_init("Gravity", &maxpart);
  tb.ActiveParticleList = a.data();
  tb.NextInTimeBin      = n.data();
  tb.PrevInTimeBin      = p.data();
  tb.timebin_add_particle(0, -1, -1, 0);
}

void timer_twice()
{
  Logs.timer_start(CPU_TREEWALK);
  Logs.timer_start(CPU_TREEWALK);
}

void timer_stack()
{
  // CPU_MISC is already on the stack, so 29 starts fit.
  for(int t = 1; t < 30; t++)
    Logs.timer_start(static_cast<timers>(t));
  say("STARTED-29");
  Logs.timer_start(static_cast<timers>(30));
}

void timer_stop_misc() { Logs.timer_stop(CPU_MISC); }

void timer_stop_wrong()
{
  Logs.timer_start(CPU_TREEWALK);
  Logs.timer_stop(CPU_DENSITY);
}

void timer_start_outside() { Logs.timer_start(CPU_LAST); }
void timer_stop_outside() { Logs.timer_stop(CPU_NONE); }

void logfile_unopenable()
{
  strcpy(All.OutputDir, "/nonexistent-vortan-dir/");
  Logs.open_logfiles();
}

struct fatal_case
{
  const char *name;
  int maxmemsize;
  void (*run)();
};

const fatal_case CASES[] = {
    {"exhaust", 1, exhaust},
    {"maxblocks", 1, maxblocks},
    {"free_not_top", 1, free_not_top},
    {"free_movable_behind_nonmovable", 1, free_movable_behind_nonmovable},
    {"free_movable_unknown", 1, free_movable_unknown},
    {"realloc_not_top", 1, realloc_not_top},
    {"realloc_too_big", 1, realloc_too_big},
    {"realloc_generic", 1, realloc_generic},
    {"maxmemsize_short", 1, maxmemsize_short},
    {"maxmemsize_enough", 1, maxmemsize_enough},
    {"maxmemsize_unknown", 1, maxmemsize_unknown},
    {"big_region", 2100, big_region},
    {"pressure_nan", 1, pressure_nan},
    {"intpos_runaway", 1, intpos_runaway},
    {"intpos_nan", 1, intpos_nan},
    {"timebin_negative", 1, timebin_negative},
    {"timer_twice", 1, timer_twice},
    {"timer_stack", 1, timer_stack},
    {"timer_stop_misc", 1, timer_stop_misc},
    {"timer_stop_wrong", 1, timer_stop_wrong},
    {"timer_start_outside", 1, timer_start_outside},
    {"timer_stop_outside", 1, timer_stop_outside},
    {"logfile_unopenable", 1, logfile_unopenable},
};
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  if(argc < 2)
    {
      say("usage: fatal_cases <case>");
      MPI_Finalize();
      return 2;
    }

  for(const auto &c : CASES)
    if(strcmp(c.name, argv[1]) == 0)
      {
        std::string dir = std::string("fatal_out_") + c.name;
        vortan_test::start_allocator(c.maxmemsize, dir.c_str());
        Logs.initcomm(Shmem.SimulationComm);
        Logs.init_cpu_log(nullptr);
        c.run();
        // Reached by the cases that must not stop; ctest's pattern decides.
        say("CASE RETURNED");
        MPI_Finalize();
        return 0;
      }

  printf("unknown case '%s'\n", argv[1]);
  MPI_Finalize();
  return 2;
}
