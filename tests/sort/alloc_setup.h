#ifndef VORTAN_TESTS_SORT_ALLOC_SETUP_H
#define VORTAN_TESTS_SORT_ALLOC_SETUP_H

// Brings up the block allocator on every rank of MPI_COMM_WORLD as compute
// ranks (no listeners), for test and benchmark drivers of code that takes its
// working storage from it. Call after MPI_Init.

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "mpi_utils/shared_mem_handler.h"

inline void start_test_allocator(int megabytes)
{
  MPI_Comm_rank(MPI_COMM_WORLD, &Shmem.World_ThisTask);
  MPI_Comm_size(MPI_COMM_WORLD, &Shmem.World_NTask);
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &Shmem.SharedMemComm);
  MPI_Comm_rank(Shmem.SharedMemComm, &Shmem.Island_ThisTask);
  MPI_Comm_size(Shmem.SharedMemComm, &Shmem.Island_NTask);
  MPI_Allreduce(&Shmem.World_ThisTask, &Shmem.Island_Smallest_WorldTask, 1, MPI_INT, MPI_MIN, Shmem.SharedMemComm);
  Shmem.GhostRank      = 0;
  Shmem.SimulationComm = MPI_COMM_WORLD;
  Shmem.Sim_ThisTask   = Shmem.World_ThisTask;
  Shmem.Sim_NTask      = Shmem.World_NTask;

  // the allocator's report file goes to a scratch directory
  if(Shmem.World_ThisTask == 0)
    {
      char dir[] = "/tmp/vortan_alloc_XXXXXX";
      if(!mkdtemp(dir))
        {
          perror("mkdtemp");
          MPI_Abort(MPI_COMM_WORLD, 1);
        }
      snprintf(All.OutputDir, sizeof(All.OutputDir), "%s/", dir);
    }
  All.RestartFlag = RST_BEGIN;

  Mem.initcomm(MPI_COMM_WORLD);
  Mem.mymalloc_init(megabytes, RST_BEGIN);

  if(Shmem.World_ThisTask == 0)
    {
      // the open report file keeps working after its name is gone
      std::string dir = All.OutputDir;
      std::remove((dir + "memory.txt").c_str());
      std::remove(dir.c_str());
    }
}

#endif
