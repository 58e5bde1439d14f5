// Start-up of the pieces the allocator needs, for MPI tests and benchmarks:
// island split, binding of Mem, run data, and the region itself. Once per
// process.
#ifndef VORTAN_TESTS_ALLOC_START_H
#define VORTAN_TESTS_ALLOC_START_H

#include <mpi.h>
#include <sys/stat.h>
#include <cstdio>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "mpi_utils/shared_mem_handler.h"

namespace vortan_test
{
// The output directory is outdir + "_np<world size>/" (so runs with different
// rank counts can go in parallel), made by world rank 0.
inline void start_allocator(int maxmemsize, const char *outdir)
{
  Shmem.setup_islands();
  Mem.initcomm(Shmem.SimulationComm);
  if(Shmem.GhostRank == 0)
    Mem.determine_compute_nodes();

  All.MaxMemSize  = maxmemsize;
  All.RestartFlag = RST_BEGIN;
  snprintf(All.OutputDir, sizeof(All.OutputDir), "%s_np%d/", outdir, Shmem.World_NTask);
  if(Shmem.World_ThisTask == 0)
    mkdir(All.OutputDir, 0755);
  Mem.mymalloc_init(All.MaxMemSize, All.RestartFlag);
}

}  // namespace vortan_test

#endif
