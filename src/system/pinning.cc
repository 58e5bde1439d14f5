#include "system/pinning.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "data/macros.h"

cpu_set_t pinning::CoreSet;
int pinning::NumCores = 0;

void pinning::detect_topology() { CPU_ZERO(&CoreSet); }

void pinning::get_core_set()
{
  if(sched_getaffinity(0, sizeof(CoreSet), &CoreSet) != 0)
    {
      CPU_ZERO(&CoreSet);
      NumCores = 0;
      return;
    }
  NumCores = CPU_COUNT(&CoreSet);
}

void pinning::pin_to_core_set(setcomm *sc)
{
  if(NumCores == 0)
    {
      sc->mpi_printf("PINNING: the set of available cores is unknown; tasks are not pinned.\n");
      return;
    }
  if(sc->MaxTasksPerNode > NumCores)
    {
      sc->mpi_printf("PINNING: %d tasks share %d cores on a node; tasks are not pinned.\n", sc->MaxTasksPerNode, NumCores);
      return;
    }
  // The k-th task of a node takes the k-th core of its allowed set.
  int k = sc->RankInThisNode, seen = 0;
  for(int c = 0; c < CPU_SETSIZE; c++)
    if(CPU_ISSET(c, &CoreSet) && seen++ == k)
      {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(c, &one);
        if(sched_setaffinity(0, sizeof(one), &one) != 0)
          RUN_WARNING("could not pin task %d to core %d: %s", sc->ThisTask, c, strerror(errno));
        else
          PinnedCore = c;
        break;
      }
  report_pinning(sc);
}

void pinning::report_pinning(setcomm *sc)
{
  int pinned = PinnedCore >= 0, total = 0;
  MPI_Allreduce(&pinned, &total, 1, MPI_INT, MPI_SUM, sc->Communicator);
  sc->mpi_printf("PINNING: %d of %d tasks pinned to a core of their own.\n", total, sc->NTask);
}
