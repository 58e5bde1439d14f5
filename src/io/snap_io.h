#ifndef VORTAN_IO_SNAP_IO_H
#define VORTAN_IO_SNAP_IO_H

// Snapshot and initial-condition files: the 256-byte header, the eleven
// per-particle fields and their conversions, writing and reading.

#include <cstddef>
#include <vector>

#include "data/simparticles.h"
#include "io/io.h"

enum mysnaptype
{
  NORMAL_SNAPSHOT,
  MOST_BOUND_PARTICLE_SNAPHOT,
  MOST_BOUND_PARTICLE_SNAPHOT_REORDERED
};

struct io_header
{
  int npart[NTYPES];
  double mass[NTYPES];
  double time;
  double redshift;
  int flag_sfr;
  int flag_feedback;
  unsigned int npartTotalLowWord[NTYPES];
  int flag_cooling;
  int num_files;
  double BoxSize;
  double Omega0;
  double OmegaLambda;
  double HubbleParam;
  double Hubble;
  unsigned int npartTotalHighWord[NTYPES];
  int flag_entropy_instead_u;
  int flag_doubleprecision;
  int flag_ic_info;
  float lpt_scalingfactor;
  long long npartTotal[NTYPES];
};
static_assert(sizeof(io_header) == 256, "the legacy header is 256 bytes");
static_assert(offsetof(io_header, npartTotalLowWord) == 96 && offsetof(io_header, num_files) == 124 &&
                  offsetof(io_header, npartTotalHighWord) == 168 && offsetof(io_header, npartTotal) == 208,
              "legacy header layout");

class snap_io : public IO_Def
{
 public:
  snap_io(simparticles *Sp_ptr, MPI_Comm comm, int format) : IO_Def(comm, format), Sp(Sp_ptr) {}

  void init_basic(simparticles *Sp_ptr);

  void write_snapshot(int num, mysnaptype loc_snap_type);
  // Writes the local particles as the file set with base name fname
  // (All.NumFilesPerSnapshot files); collective.
  void write_file_set(const char *fname);
  void read_ic(const char *fname);

  io_header header;
  simparticles *Sp;
  mysnaptype snap_type = NORMAL_SNAPSHOT;
  long long ntot_type_all[NTYPES];

  // Extent of the positions read so far, kept while they pass through.
  double read_min[3], read_max[3];

  void fill_file_header(int writeTask, int lastTask, long long *nloc_part, long long *npart) override;
  void read_file_header(const char *fname, int filenr, int readTask, int lastTask, long long *nloc_part, long long *npart,
                        int *nstart) override;
  void get_datagroup_name(int grnr, char *gname) override;
  void write_header_fields(hid_t) override;
  void read_header_fields(const char *fname) override;
  void read_increase_numbers(int type, int n_for_this_task) override;
  int get_filenr_from_header() override { return header.num_files; }
  void set_filenr_in_header(int numfiles) override { header.num_files = numfiles; }
  void *get_base_address_of_structure(enum arrays array, int index) override;
  int get_type_of_element(int index) override { return Sp->P[index].getType(); }
  void set_type_of_element(int index, int type) override
  {
    if(type < NTYPES)
      Sp->P[index].setType(type);
  }
  int find_type_run(int from, int type, int limit, int *first) override;
  void prepare_read_records(int first, int count, int type) override;

  // Region size used when the particles span no volume (a single particle,
  // or all at one point).
  static double minimum_region_size();

 private:
  // Runs of equal type in the local storage, taken when a file header is
  // filled: the writing of each field then jumps from run to run instead of
  // touching the type of every particle. Valid only for the storage it was
  // taken from; too many runs are not kept.
  std::vector<int> run_start;
  std::vector<unsigned char> run_type;
  const particle_data *runs_of = nullptr, *surveyed = nullptr;
  int runs_numpart             = -1;
  long long local_type_count[NTYPES];
  void survey_types();

  void validate_header(const char *fname);
  void setup_integer_frame();

  static void io_func_pos(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_vel(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_id(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_mass(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_u(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_sfr(IO_Def *ptr, int particle, int components, void *buffer, int mode);
  static void io_func_metallicity(IO_Def *ptr, int particle, int components, void *buffer, int mode);

  static void io_range_pos(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_vel(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_id(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_mass(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_u(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_sfr(IO_Def *ptr, int first, int count, void *buffer, int mode);
  static void io_range_metallicity(IO_Def *ptr, int first, int count, void *buffer, int mode);
};

#endif
