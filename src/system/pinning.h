#ifndef VORTAN_SYSTEM_PINNING_H
#define VORTAN_SYSTEM_PINNING_H

#include <sched.h>

#include "mpi_utils/setcomm.h"

// Binding of each task to one core of the cores it was started on. Only done
// when every task of a node can have a core of its own; otherwise the scheduler
// is left alone, since pinning oversubscribed tasks only makes them queue.
class pinning
{
 public:
  void detect_topology();
  void get_core_set();
  void pin_to_core_set(setcomm *sc);
  void report_pinning(setcomm *sc);

 private:
  // Taken before MPI starts (its runtime may change the affinity), used later by
  // the run object.
  static cpu_set_t CoreSet;
  static int NumCores;
  int PinnedCore = -1;
};

#endif
