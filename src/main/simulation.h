#ifndef VORTAN_MAIN_SIMULATION_H
#define VORTAN_MAIN_SIMULATION_H

#include <mpi.h>

#include "data/simparticles.h"
#include "mpi_utils/setcomm.h"
#include "system/pinning.h"

// The run object: owns the particles and drives start-up, the main loop and
// the orderly end of a run on the simulation communicator.
class sim : public pinning, public setcomm
{
 public:
  explicit sim(MPI_Comm comm) : setcomm(comm), Sp(comm) {}

  simparticles Sp;

  void hello();
  void begrun1(const char *parameterFile);
  void begrun2();
  [[noreturn]] void endrun();
  void set_units();

  // Runs the start-up sequence from the command line on and never returns.
  [[noreturn]] void run_from_command_line(int argc, char **argv);

  void mpi_report_comittable_memory();

  // Loads the particles of a start from initial conditions or a snapshot and
  // carries out the run mode's work on them.
  void start_from_file(const char *fname, int snapnum);
  void run();

 private:
  void init_rng(int thistask);
};

#endif
