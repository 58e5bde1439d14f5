#ifndef VORTAN_MPI_UTILS_SHARED_MEM_HANDLER_H
#define VORTAN_MPI_UTILS_SHARED_MEM_HANDLER_H

#include <mpi.h>
#include <cstdint>

#define NUMBER_OF_MPI_LISTENERS_PER_NODE 1
#define MAX_NUMBER_OF_RANKS_WITH_SHARED_MEMORY 64
#define MAX_TREE_INFOS 10

// Message tags between compute ranks and the listener of an island.
enum listener_tags : int
{
  TAG_TREE_FREE         = 4,
  TAG_TREE_OFFSETS      = 5,
  TAG_TREE_ALLOC        = 6,
  TAG_N                 = 10,
  TAG_FREE_OFFSETS      = 11,
  TAG_PDATA             = 12,
  TAG_NODES             = 13,
  TAG_SHUTDOWN          = 14,
  TAG_DRIFT_INIT        = 86,
  TAG_ALL_UPDATE        = 87,
  TAG_METDATA           = 500,
  TAG_HEADER            = 501,
  TAG_BOOKKEEPING       = 502,
  TAG_CONVERSION        = 503,
  TAG_FETCH_GRAVITY     = 1000,
  TAG_FETCH_SPH_DENSITY = 2000,
  TAG_FETCH_SPH_HYDRO   = 3000,
  TAG_FETCH_SPH_TIMESTEP = 4000,
};

// Island layout and listener bookkeeping. The layout is fixed at start-up.
class shmem
{
 public:
  MPI_Comm SharedMemComm  = MPI_COMM_NULL; // tasks of this island, listener included
  MPI_Comm SimulationComm = MPI_COMM_NULL; // compute tasks (on a listener: all listeners)

  int World_ThisTask = 0, World_NTask = 0;
  int Island_ThisTask = 0, Island_NTask = 0;
  int Sim_ThisTask = 0, Sim_NTask = 0;
  int GhostRank                 = 0;
  int Island_Smallest_WorldTask = 0;

  int *GetGhostRankForSimulCommRank = nullptr;
  int *GetShmRankForSimulCommRank   = nullptr;
  int *GetNodeIDForSimulCommRank    = nullptr;

  int MyShmRankInGlobal = 0;

  MPI_Win SharedMemWin       = MPI_WIN_NULL;
  char **SharedMemBaseAddr   = nullptr; // arena base of every island rank

  int num_tree_info = 0;

  // True when the run has listeners (more than one island).
  bool listeners_in_use() const { return Island_NTask != World_NTask; }

  // Splits the world into islands and picks the listener ranks. Collective
  // over MPI_COMM_WORLD; returns with GhostRank set.
  void setup_islands();

  // Message loop of a listener rank; ends the process.
  [[noreturn]] void shared_memory_handler();

  // Sent by the first rank of each island to its listener.
  void send_to_listener(int tag, const void *buf, int nbytes) const;
  void release_listener() const;

  // The listeners wait in a collective at the head of their loop; compute ranks
  // tell them once, before reading parameters, whether the run goes on (1) or
  // ends right away (0), so that an early orderly end cannot leave them hanging.
  void announce_start(int go) const;
};

extern shmem Shmem;


#endif
