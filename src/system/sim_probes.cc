// The run object's entry points to the system probes.
#include "main/simulation.h"
#include "system/system.h"

void sim::mpi_report_comittable_memory() { ::mpi_report_comittable_memory(Communicator, &MemoryOnNode, &SharedMemoryOnNode); }

void sim::init_rng(int thistask) { ::init_rng(thistask); }
