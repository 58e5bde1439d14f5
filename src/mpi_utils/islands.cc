// Island split and choice of the listener ranks, done once right after MPI_Init.
#include <cstdio>

#include "data/macros.h"
#include "mpi_utils/shared_mem_handler.h"

shmem Shmem;

void shmem::setup_islands()
{
  MPI_Comm_rank(MPI_COMM_WORLD, &World_ThisTask);
  MPI_Comm_size(MPI_COMM_WORLD, &World_NTask);

  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &SharedMemComm);
  MPI_Comm_rank(SharedMemComm, &Island_ThisTask);
  MPI_Comm_size(SharedMemComm, &Island_NTask);

  int min_island, max_island;
  MPI_Allreduce(&Island_NTask, &max_island, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Allreduce(&Island_NTask, &min_island, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  MPI_Allreduce(&World_ThisTask, &Island_Smallest_WorldTask, 1, MPI_INT, MPI_MIN, SharedMemComm);

  if(World_ThisTask == 0)
    printf("Shared memory islands host a minimum of %d and a maximum of %d MPI ranks.\n", min_island, max_island);

  if(max_island == World_NTask)
    GhostRank = 0;
  else
    {
      GhostRank = (Island_ThisTask == Island_NTask - 1) ? 1 : 0;
      if(min_island == 1)
        {
          if(World_ThisTask == 0)
            FATAL_ERROR("We have shared memory islands with just one MPI rank -- can't put aside this one just for communication");
          // The other ranks wait for world task 0 to end the job.
          MPI_Barrier(MPI_COMM_WORLD);
        }
      int nlisteners;
      MPI_Allreduce(&GhostRank, &nlisteners, 1, MPI_INT, MPI_SUM, MPI_COMM_WORLD);
      if(World_ThisTask == 0)
        printf("We shall use %d MPI ranks in total for assisting one-sided communication (%d per shared memory node).\n", nlisteners,
               NUMBER_OF_MPI_LISTENERS_PER_NODE);
      if(max_island > MAX_NUMBER_OF_RANKS_WITH_SHARED_MEMORY)
        {
          if(World_ThisTask == 0)
            FATAL_ERROR(
                "We have shared memory islands with %d MPI ranks, which is larger than  MAX_NUMBER_OF_RANKS_WITH_SHARED_MEMORY=%d\nYou "
                "may consider increasing NUMBER_OF_MPI_LISTENERS_PER_NODE, current value is %d\n",
                max_island, MAX_NUMBER_OF_RANKS_WITH_SHARED_MEMORY, NUMBER_OF_MPI_LISTENERS_PER_NODE);
          MPI_Barrier(MPI_COMM_WORLD);
        }
    }
  fflush(stdout);

  MPI_Comm_split(MPI_COMM_WORLD, GhostRank, World_ThisTask, &SimulationComm);
  MPI_Comm_rank(SimulationComm, &Sim_ThisTask);
  MPI_Comm_size(SimulationComm, &Sim_NTask);

  MyShmRankInGlobal = World_ThisTask;
  MPI_Bcast(&MyShmRankInGlobal, 1, MPI_INT, Island_NTask - 1, SharedMemComm);
}

void shmem::send_to_listener(int tag, const void *buf, int nbytes) const
{
  if(listeners_in_use() && Island_ThisTask == 0)
    MPI_Send(buf, nbytes, MPI_BYTE, MyShmRankInGlobal, tag, MPI_COMM_WORLD);
}

void shmem::release_listener() const
{
  char c = 0;
  send_to_listener(TAG_SHUTDOWN, &c, 1);
}

void shmem::announce_start(int go) const
{
  if(listeners_in_use())
    MPI_Bcast(&go, 1, MPI_INT, 0, MPI_COMM_WORLD);
}
