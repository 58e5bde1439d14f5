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

  // start from initial conditions
  void init(int RestartSnapNum);
  void test_id_uniqueness();
  // Collective; true on the task that holds an ID twice, with the ID and the
  // local index after the sort (-1 when the pair straddles a task boundary).
  bool find_nonunique_id(MyIDType *id, int *where);
  void setup_smoothinglengths();
  // Specific energy of gas at temperature temp, in internal units.
  static double initial_gas_energy(double temp);
  // Snapshot number to continue with when starting from snapshot snapnum (or
  // from InitCondFile when snapnum < 0).
  int first_snapshot_number(int snapnum);

  // main loop and output schedule
  int check_for_interruption_of_run();
  void create_snapshot_if_desired();
  integertime find_next_outputtime(integertime ti_curr);
  void write_restart_files(const char *why);

  // kicks and time steps
  void do_gravity_step_second_half();
  void find_timesteps_and_do_gravity_step_first_half();
  void do_hydro_step_first_half();
  void do_hydro_step_second_half();
  void hydro_force(int step_indicator);
  void find_hydro_timesteps();
  void assign_hydro_timesteps();

  // Calls into domain decomposition, trees, gravity, SPH and cooling. Until
  // those subsystems exist, forces_pending.cc stands in for them: no forces,
  // no decomposition, no densities.
  void domain_decomposition();
  void ngbtree_build();
  void ngbtree_free();
  void compute_densities();
  void ngbtree_update_maxhsml();
  void ngbtree_update_velocities();
  void compute_grav_accelerations(int timebin);
  void gravity_set_oldacc(int timebin);
  void set_softenings();
  void hydro_forces_determine(int ntarget, int *targetlist);
  void tree_based_timesteps();
  void ionize_params();
  void star_formation_and_cooling();
  void announce_missing_physics();

 private:
  bool Started = false; // begrun1 has told the listeners whether to serve
  void init_rng(int thistask);
};

#endif
