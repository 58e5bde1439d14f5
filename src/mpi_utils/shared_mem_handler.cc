// Message loop of the listener rank of an island.
#include "mpi_utils/shared_mem_handler.h"

#include <hdf5.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "time_integration/driftfac.h"

// A blocking probe spins at full speed; where the listener shares cores with
// compute ranks that takes their time. Poll briskly for a while after each
// message, then back off to short sleeps.
static void wait_for_message(MPI_Status *status)
{
  int flag = 0;
  for(int spins = 0; !flag; spins++)
    {
      MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, status);
      if(!flag && spins > 1000)
        usleep(50);
    }
}

void shmem::shared_memory_handler()
{
  int go = 0;
  MPI_Bcast(&go, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if(!go)
    {
      MPI_Finalize();
      exit(0);
    }

  // These two collective steps mirror begrun1 on the compute ranks, in the
  // same order: the run data broadcast, then the island's window allocation.
  MPI_Bcast(All.get_data_ptr(), All.get_data_size(), MPI_BYTE, 0, MPI_COMM_WORLD);
  Mem.mymalloc_init(All.MaxMemSize, All.RestartFlag);

  std::vector<char> message;
  while(true)
    {
      MPI_Status status;
      wait_for_message(&status);
      int length;
      MPI_Get_count(&status, MPI_BYTE, &length);
      int source = status.MPI_SOURCE, tag = status.MPI_TAG;
      message.resize(length > 0 ? length : 1);
      MPI_Recv(message.data(), length, MPI_BYTE, source, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);

      if(tag == TAG_SHUTDOWN)
        {
          H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
          MPI_Finalize();
          exit(0);
        }
      else if(tag == TAG_ALL_UPDATE || tag == TAG_DRIFT_INIT)
        {
          if(static_cast<size_t>(length) != All.get_data_size())
            FATAL_ERROR("listener received %d bytes of run data from task %d, expected %zu", length, source, All.get_data_size());
          memcpy(All.get_data_ptr(), message.data(), length);
          // the listener drifts particles and nodes for the answers it serves
          if(tag == TAG_DRIFT_INIT)
            Driftfac.init_drift_table();
        }
      else if((tag >= TAG_FETCH_GRAVITY && tag < TAG_FETCH_GRAVITY + MAX_TREE_INFOS) || tag == TAG_TREE_ALLOC || tag == TAG_TREE_FREE ||
              tag == TAG_METDATA || tag == TAG_FREE_OFFSETS ||
              (tag >= TAG_FETCH_SPH_DENSITY && tag < TAG_FETCH_SPH_DENSITY + MAX_TREE_INFOS) ||
              (tag >= TAG_FETCH_SPH_HYDRO && tag < TAG_FETCH_SPH_HYDRO + MAX_TREE_INFOS) ||
              (tag >= TAG_FETCH_SPH_TIMESTEP && tag < TAG_FETCH_SPH_TIMESTEP + MAX_TREE_INFOS))
        FATAL_ERROR("listener on world task %d received tree message tag %d from task %d, but serving tree requests is not built yet",
                    World_ThisTask, tag, source);
      // other tags are not meant for the listener and are ignored
    }
}
