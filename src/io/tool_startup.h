#ifndef VORTAN_IO_TOOL_STARTUP_H
#define VORTAN_IO_TOOL_STARTUP_H

// Start-up of the stand-alone programs that drive the particle-file engine
// without a simulation. Listener ranks on other shared-memory islands take
// part in every collective step of the simulation's start-up, so these steps
// must come in the same order here.

#include <mpi.h>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "io/hdf5_util.h"
#include "mpi_utils/shared_mem_handler.h"

// Listener ranks do not return from here. Returns the communicator of the
// compute ranks.
inline MPI_Comm tool_start_islands()
{
  Shmem.setup_islands();
  if(Shmem.GhostRank)
    {
      Mem.initcomm(Shmem.SimulationComm);
      Shmem.shared_memory_handler();
    }
  Shmem.announce_start(1);
  return Shmem.SimulationComm;
}

// All must be filled in by now: the listeners size their part of the memory
// from the run data broadcast here.
inline void tool_start_memory(MPI_Comm comm)
{
  MPI_Bcast(All.get_data_ptr(), All.get_data_size(), MPI_BYTE, 0, MPI_COMM_WORLD);
  Mem.initcomm(comm);
  Mem.determine_compute_nodes();
  Mem.mymalloc_init(All.MaxMemSize, RST_BEGIN);
  my_create_HDF5_halfprec_handler();
  my_create_HDF5_special_integer_types();
}

inline void tool_start_particles(simparticles &Sp)
{
  Sp.determine_compute_nodes();
  Sp.TimeBinsHydro.timebins_init("Hydro", &Sp.MaxPartSph);
  Sp.TimeBinsGravity.timebins_init("Gravity", &Sp.MaxPart);
}

#endif
