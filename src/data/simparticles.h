#ifndef VORTAN_DATA_SIMPARTICLES_H
#define VORTAN_DATA_SIMPARTICLES_H

#include <cmath>

#include "data/allvars.h"
#include "data/dtypes.h"
#include "data/intposconvert.h"
#include "data/particle_data.h"
#include "data/sph_particle_data.h"
#include "mpi_utils/setcomm.h"
#include "time_integration/timebindata.h"

// The group finder's per-particle record; this build has no group finder.
struct subfind_data
{
};

// The particles of one task. P and SphP are movable blocks of the allocator,
// so they can grow and shrink without releasing what lies above them.
class simparticles : public intposconvert, public setcomm
{
 public:
  explicit simparticles(MPI_Comm comm) : setcomm(comm) {}
  simparticles() : setcomm("delay init") {}

  int NumPart          = 0;
  int NumGas           = 0;
  int MaxPart          = 0;
  int MaxPartSph       = 0;
  long long TotNumPart = 0;
  long long TotNumGas  = 0;

  particle_data *P         = nullptr;
  sph_particle_data *SphP  = nullptr;
  unsigned short MarkerValue = 0;
  subfind_data *PS         = nullptr;

  int TimeBinSynchronized[TIMEBIN_COUNT] = {};
  TimeBinData TimeBinsHydro;
  TimeBinData TimeBinsGravity;

  int nsource    = 0;
  int *indexlist = nullptr;

  double TimeBinSfr[TIMEBIN_COUNT] = {};

  void allocate_memory();
  // For a caller that writes the first npart (ngas) records in full itself,
  // as reading does: only the records behind them are cleared here, so the
  // bulk of the storage is not written twice.
  void allocate_memory_cleared_from(int npart, int ngas);
  void reallocate_memory_maxpart(int maxpartNew);
  void reallocate_memory_maxpartsph(int maxpartsphNew);
  void free_memory();

  static bool compare_IDs(const MyIDType &a, const MyIDType &b) { return a < b; }

  MyFloat get_utherm_from_entropy(int i) const
  {
    return SphP[i].Entropy / GAMMA_MINUS1 * std::pow(SphP[i].Density * All.cf_a3inv, GAMMA_MINUS1);
  }

  void set_entropy_from_utherm(double utherm, int i)
  {
    SphP[i].Entropy = GAMMA_MINUS1 * utherm / std::pow(SphP[i].Density * All.cf_a3inv, GAMMA_MINUS1);
  }

  MyFloat get_Csnd(int i) const { return SphP[i].Csnd; }
  MyFloat get_DtHsml(int i) const { return SphP[i].DtHsml; }
  float get_OldAcc(int i) const { return P[i].OldAcc; }
  int getTimeBinSynchronized(int bin) const { return TimeBinSynchronized[bin]; }
  int get_active_index(int idx) const { return TimeBinsGravity.ActiveParticleList[idx]; }

  // A deleted particle has zero mass and ID 0.
  bool is_deleted(int i) const { return P[i].getMass() == 0 && P[i].ID.get() == 0; }

  void timebin_cleanup_list_of_active_particles();

  // time steps and bins (time_integration/timestep.cc)
  integertime get_timestep_grav(int p);
  integertime get_timestep_hydro(int p);
  int test_if_grav_timestep_is_too_large(int p, int bin);
  static int get_timestep_bin(integertime ti_step);
  void timebins_get_bin_and_do_validity_checks(integertime ti_step, int *bin_new, int bin_old);

  // synchronisation points, active sets and prediction (time_integration/predict.cc)
  integertime find_next_sync_point();
  void mark_active_timebins();
  void reconstruct_timebins();
  void make_list_of_active_particles();
  void drift_all_particles();
  void drift_particle(particle_data *P, sph_particle_data *SphP, integertime time1, bool ignore_light_cone = false);
};

#endif
