// Entry point of Vortan.
#include <mpi.h>
#include <cstdio>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "logs/logs.h"
#include "main/simulation.h"
#include "mpi_utils/shared_mem_handler.h"

int main(int argc, char **argv)
{
  pinning probe;
  probe.detect_topology();
  probe.get_core_set();

  MPI_Init(&argc, &argv);

  // Line-buffered output: a fatal error on one rank aborts the others, and
  // whatever they had buffered would be lost with them.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  Shmem.setup_islands();
  if(Shmem.GhostRank)
    {
      Mem.initcomm(Shmem.SimulationComm);
      Shmem.shared_memory_handler();
    }

  // The run object is large; keep it off the stack.
  static sim Sim(Shmem.SimulationComm);
  Sim.determine_compute_nodes();
  Sim.run_from_command_line(argc, argv);
}
