#include "io/snap_io.h"

#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <algorithm>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "io/hdf5_util.h"
#include "main/main.h"

#include "logs/logs.h"

// stellar mass per year in grams per second: solar mass / seconds per year
#define SFR_TO_CGS 6.302760666210359e25

// Run mode 5 copies a snapshot into another format: every quantity is passed
// through exactly as it was read, without the start-up conversions.
static bool converting() { return All.RestartFlag == RST_CONVERTSNAP; }

void snap_io::init_basic(simparticles *Sp_ptr)
{
  Sp                       = Sp_ptr;
  N_IO_Fields              = 0;
  N_DataGroups             = NTYPES + 1;
  header_size              = sizeof(header);
  header_buf               = &header;
  type_of_file             = FILE_IS_SNAPSHOT;
  MaxFilesWithConcurrentIO = All.MaxFilesWithConcurrentIO;
  snprintf(info, sizeof(info), "SNAPSHOT: writing snapshot");
  memset(&header, 0, sizeof(header));

  enum read_flags sfr_flag = (All.RestartFlag == RST_FOF || converting()) ? READ_IF_PRESENT : SKIP_ON_READ;

  init_field("POS ", "Coordinates", MEM_MY_DOUBLE, FILE_MY_IO_FLOAT, READ_REQUIRED, 3, A_P, NULL, io_func_pos, ALL_TYPES, 1, 1., -1.,
             1., 0., 0., All.UnitLength_in_cm);
  init_field("VEL ", "Velocities", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 3, A_P, NULL, io_func_vel, ALL_TYPES, 1, 0.5, 0.,
             0., 0., 1., All.UnitVelocity_in_cm_per_s);
  init_field("ID  ", "ParticleIDs", MEM_MY_ID_TYPE, FILE_MY_ID_TYPE, READ_REQUIRED, 1, A_P, NULL, io_func_id, ALL_TYPES, 0, 0, 0, 0,
             0, 0, 0);
  init_field("MASS", "Masses", MEM_MY_DOUBLE, FILE_MY_IO_FLOAT, READ_REQUIRED, 1, A_P, NULL, io_func_mass, MASS_BLOCK, 1, 0., -1.,
             0., 1., 0., All.UnitMass_in_g);
  init_field("U   ", "InternalEnergy", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_SPHP, NULL, io_func_u, GAS_ONLY, 1, 0.,
             0., 0., 0., 2., All.UnitVelocity_in_cm_per_s * All.UnitVelocity_in_cm_per_s);
  init_field("RHO ", "Density", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_SPHP, &Sp->SphP[0].Density, NULL, GAS_ONLY, 1,
             -3., 2., -3., 1., 0., All.UnitDensity_in_cgs);
  init_field("HSML", "SmoothingLength", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_SPHP, &Sp->SphP[0].Hsml, NULL,
             GAS_ONLY, 1, 1., -1., 1., 0., 0., All.UnitLength_in_cm);
  init_field("SFR ", "StarFormationRate", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, sfr_flag, 1, A_SPHP, NULL, io_func_sfr, GAS_ONLY, 1, 0., 0.,
             -1., 1., 1., SFR_TO_CGS);
  init_field("AGE ", "StellarFormationTime", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_P, &Sp->P[0].StellarAge, NULL,
             AGE_BLOCK, 0, 0, 0, 0, 0, 0, 0);
  init_field("Z   ", "Metallicity", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_P, NULL, io_func_metallicity, Z_BLOCK, 0,
             0, 0, 0, 0, 0, 0);
  init_field("NE  ", "ElectronAbundance", MEM_MY_FLOAT, FILE_MY_IO_FLOAT, READ_IF_PRESENT, 1, A_SPHP, &Sp->SphP[0].Ne, NULL, GAS_ONLY,
             0, 0, 0, 0, 0, 0, 0);

  set_field_range_func("POS ", io_range_pos);
  set_field_range_func("VEL ", io_range_vel);
  set_field_range_func("ID  ", io_range_id);
  set_field_range_func("MASS", io_range_mass);
  set_field_range_func("U   ", io_range_u);
  set_field_range_func("SFR ", io_range_sfr);
  set_field_range_func("Z   ", io_range_metallicity);
}

/* ------------------------------------------------------------------------ */
/* field callbacks                                                          */
/* ------------------------------------------------------------------------ */

// The element forms the field table asks for; the work is done by the run forms.
void snap_io::io_func_pos(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_pos(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_vel(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_vel(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_id(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_id(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_mass(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_mass(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_u(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_u(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_sfr(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_sfr(ptr, particle, 1, buffer, mode); }
void snap_io::io_func_metallicity(IO_Def *ptr, int particle, int, void *buffer, int mode) { io_range_metallicity(ptr, particle, 1, buffer, mode); }

/* Conversions over runs of elements: the loop-invariant factors and the mode
   are settled once per run, and the bodies inline. */

void snap_io::io_range_pos(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj = static_cast<snap_io *>(ptr);
  MyDouble *out    = static_cast<MyDouble *>(buffer);
  if(mode == 0)
    {
      const simparticles *Sp = thisobj->Sp;
      const particle_data *P = Sp->P + first;
      for(int i = 0; i < count; i++, out += 3)
        {
          double pos[3];
          Sp->intpos_to_pos(P[i].IntPos, pos);
          for(int k = 0; k < 3; k++)
            out[k] = pos[k];
        }
    }
  else
    {
      // Until the frame is known, the coordinates wait as doubles in the
      // integer-position slots of their own records.
      static_assert(sizeof(MyIntPosType) == sizeof(double), "positions are staged in the integer slots");
      particle_data *P = thisobj->Sp->P + first;
      double lo[3], hi[3];
      for(int k = 0; k < 3; k++)
        {
          lo[k] = thisobj->read_min[k];
          hi[k] = thisobj->read_max[k];
        }
      for(int i = 0; i < count; i++, out += 3)
        {
          if(!(std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2])))
            FATAL_ERROR("file '%s': particle %d has a non-finite coordinate (%g %g %g)\n", thisobj->current_fname, first + i, out[0],
                        out[1], out[2]);
          memcpy(P[i].IntPos, out, 3 * sizeof(double));
          for(int k = 0; k < 3; k++)
            {
              lo[k] = std::min(lo[k], out[k]);
              hi[k] = std::max(hi[k], out[k]);
            }
        }
      for(int k = 0; k < 3; k++)
        {
          thisobj->read_min[k] = lo[k];
          thisobj->read_max[k] = hi[k];
        }
    }
}

void snap_io::io_range_vel(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj = static_cast<snap_io *>(ptr);
  MyFloat *out     = static_cast<MyFloat *>(buffer);
  particle_data *P = thisobj->Sp->P + first;
  if(mode == 0)
    {
      const double fac = converting() ? 1.0 : sqrt(All.cf_a3inv);
      for(int i = 0; i < count; i++, out += 3)
        for(int k = 0; k < 3; k++)
          out[k] = P[i].Vel[k] * fac;
    }
  else
    for(int i = 0; i < count; i++, out += 3)
      for(int k = 0; k < 3; k++)
        P[i].Vel[k] = out[k];
}

void snap_io::io_range_id(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj = static_cast<snap_io *>(ptr);
  MyIDType *out    = static_cast<MyIDType *>(buffer);
  particle_data *P = thisobj->Sp->P + first;
  if(mode == 0)
    for(int i = 0; i < count; i++)
      out[i] = P[i].ID.get();
  else
    for(int i = 0; i < count; i++)
      P[i].ID.set(out[i]);
}

void snap_io::io_range_mass(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj = static_cast<snap_io *>(ptr);
  MyDouble *out    = static_cast<MyDouble *>(buffer);
  particle_data *P = thisobj->Sp->P + first;
  if(mode == 0)
    for(int i = 0; i < count; i++)
      out[i] = P[i].getMass();
  else
    for(int i = 0; i < count; i++)
      P[i].setMass(out[i]);
}

void snap_io::io_range_u(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj       = static_cast<snap_io *>(ptr);
  MyFloat *out           = static_cast<MyFloat *>(buffer);
  sph_particle_data *sph = thisobj->Sp->SphP + first;
  if(mode == 0)
    {
      // while converting, the entropy slot still holds the energy as read
      if(converting())
        for(int i = 0; i < count; i++)
          out[i] = sph[i].Entropy;
      else
        for(int i = 0; i < count; i++)
          out[i] = sph[i].Entropy * pow(sph[i].Density * All.cf_a3inv, GAMMA_MINUS1) / GAMMA_MINUS1;
    }
  else
    for(int i = 0; i < count; i++)
      sph[i].Entropy = out[i];
}

void snap_io::io_range_sfr(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj       = static_cast<snap_io *>(ptr);
  MyFloat *out           = static_cast<MyFloat *>(buffer);
  sph_particle_data *sph = thisobj->Sp->SphP + first;
  if(mode == 0)
    for(int i = 0; i < count; i++)
      out[i] = sph[i].Sfr;
  else
    for(int i = 0; i < count; i++)
      sph[i].Sfr = out[i];
}

void snap_io::io_range_metallicity(IO_Def *ptr, int first, int count, void *buffer, int mode)
{
  snap_io *thisobj = static_cast<snap_io *>(ptr);
  MyFloat *out     = static_cast<MyFloat *>(buffer);
  particle_data *P = thisobj->Sp->P + first;
  if(mode == 0)
    {
      // start-up copies the value into the gas record; a conversion never ran it
      const bool conv = converting();
      for(int i = 0; i < count; i++)
        out[i] = (P[i].getType() == 0 && !conv) ? thisobj->Sp->SphP[first + i].Metallicity : P[i].Metallicity;
    }
  else
    for(int i = 0; i < count; i++)
      P[i].Metallicity = out[i];
}

/* ------------------------------------------------------------------------ */
/* element access                                                           */
/* ------------------------------------------------------------------------ */

void *snap_io::get_base_address_of_structure(enum arrays array, int index)
{
  switch(array)
    {
      case A_SPHP:
        return static_cast<void *>(Sp->SphP + index);
      case A_P:
        return static_cast<void *>(Sp->P + index);
      case A_PS:
        return static_cast<void *>(Sp->PS + index);
      default:
        FATAL_ERROR("we don't expect to get here");
    }
}

void snap_io::prepare_read_records(int first, int count, int type)
{
  if(records_cleared_on_read)
    {
      memset(static_cast<void *>(Sp->P + first), 0, (size_t)count * sizeof(particle_data));
      if(type == 0)
        memset(static_cast<void *>(Sp->SphP + first), 0, (size_t)count * sizeof(sph_particle_data));
    }
  if(type >= 0 && type < NTYPES)
    for(int n = 0; n < count; n++)
      Sp->P[first + n].setType(type);
}

int snap_io::find_type_run(int from, int type, int limit, int *first)
{
  const particle_data *P = Sp->P;
  int numpart            = Sp->NumPart;
  if(P == runs_of && numpart == runs_numpart && from >= 0 && from < numpart)
    {
      size_t nruns = run_start.size();
      size_t r     = std::upper_bound(run_start.begin(), run_start.end(), from) - run_start.begin() - 1;
      while(r < nruns && run_type[r] != type)
        if(++r < nruns)
          from = run_start[r];
      if(r < nruns)
        {
          *first  = from;
          int end = r + 1 < nruns ? run_start[r + 1] : numpart;
          return std::min(limit, end - from);
        }
    }

  while(P[from].getType() != type)
    from++;
  *first  = from;
  int len = 1;
  while(len < limit && P[from + len].getType() == type)
    len++;
  return len;
}

void snap_io::get_datagroup_name(int type, char *buf)
{
  if(type < NTYPES)
    sprintf(buf, "/PartType%d", type);
  else if(type == NTYPES)
    sprintf(buf, "/TreeTable");
  else
    FATAL_ERROR("wrong group");
}

void snap_io::read_increase_numbers(int type, int n_for_this_task)
{
  if(type < NTYPES)
    {
      if((long long)Sp->NumPart + n_for_this_task > INT_MAX)
        FATAL_ERROR("file '%s': more than %d particles would land on task %d; use more tasks\n", current_fname, INT_MAX, ThisTask);
      Sp->NumPart += n_for_this_task;
    }
  if(type == 0)
    Sp->NumGas += n_for_this_task;
}

/* ------------------------------------------------------------------------ */
/* header                                                                   */
/* ------------------------------------------------------------------------ */

void snap_io::fill_file_header(int writeTask, int lastTask, long long *n_type, long long *ntot_type)
{
  if(Sp->P != surveyed || Sp->NumPart != runs_numpart)
    survey_types();
  for(int n = 0; n < N_DataGroups; n++)
    n_type[n] = n < NTYPES ? local_type_count[n] : 0;

  if(ThisTask == writeTask)
    {
      for(int n = 0; n < N_DataGroups; n++)
        ntot_type[n] = n_type[n];
      long long nn[NTYPES + 1];
      for(int task = writeTask + 1; task <= lastTask; task++)
        {
          MPI_Recv(nn, N_DataGroups, MPI_LONG_LONG, task, 37, Communicator, MPI_STATUS_IGNORE);
          for(int n = 0; n < N_DataGroups; n++)
            ntot_type[n] += nn[n];
        }
      for(int task = writeTask + 1; task <= lastTask; task++)
        MPI_Send(ntot_type, N_DataGroups, MPI_LONG_LONG, task, 10, Communicator);
    }
  else
    {
      MPI_Send(n_type, N_DataGroups, MPI_LONG_LONG, writeTask, 37, Communicator);
      MPI_Recv(ntot_type, N_DataGroups, MPI_LONG_LONG, writeTask, 10, Communicator, MPI_STATUS_IGNORE);
    }

  memset(&header, 0, sizeof(header));
  for(int n = 0; n < NTYPES; n++)
    {
      if(ntot_type[n] > INT_MAX)
        FATAL_ERROR("%lld particles of type %d in one file do not fit the header; use more files\n", ntot_type[n], n);
      header.npart[n]              = (int)ntot_type[n];
      header.npartTotalLowWord[n]  = (unsigned int)(ntot_type_all[n] & 0xffffffffLL);
      header.npartTotalHighWord[n] = (unsigned int)(ntot_type_all[n] >> 32);
      header.npartTotal[n]         = ntot_type_all[n];
      header.mass[n]               = All.MassTable[n];
    }

  header.time          = All.Time;
  header.redshift      = All.ComovingIntegrationOn ? 1.0 / All.Time - 1 : 0;
  header.flag_sfr      = 1;
  header.flag_feedback = 1;
  header.flag_cooling  = 1;
  header.num_files     = All.NumFilesPerSnapshot;
  header.BoxSize       = All.BoxSize;
  header.Omega0        = All.Omega0;
  header.OmegaLambda   = All.OmegaLambda;
  header.HubbleParam   = All.HubbleParam;
  header.Hubble        = All.Hubble;
}

// Counts from a file size allocations and loops, so they are checked before use.
void snap_io::validate_header(const char *fname)
{
  for(int t = 0; t < NTYPES; t++)
    if(header.npart[t] < 0 || header.npartTotal[t] < 0)
      FATAL_ERROR("file '%s': corrupt header, particle count of type %d is negative (npart=%d, npartTotal=%lld)\n", fname, t,
                  header.npart[t], header.npartTotal[t]);

  if(header.num_files < 0 || header.num_files > MAX_FILES_PER_SET)
    FATAL_ERROR("file '%s': corrupt header, num_files=%d\n", fname, header.num_files);
  // Only a lone file may leave num_files unset (0); in a set every file
  // must carry the size of the set.
  if(NumFilesInSet > 1 && header.num_files <= 0)
    FATAL_ERROR("file '%s': corrupt header, num_files=%d in a file of a set of %d files\n", fname, header.num_files, NumFilesInSet);
  if(NumFilesInSet > 1 && header.num_files != NumFilesInSet)
    FATAL_ERROR("file '%s': header says num_files=%d, but it belongs to a set of %d files\n", fname, header.num_files, NumFilesInSet);
}

void snap_io::read_file_header(const char *fname, int filenr, int readTask, int lastTask, long long *n_type, long long *ntot_type,
                               int *nstart)
{
  validate_header(fname);

  // Legacy headers carry 32-bit totals in two words; the 64-bit total is
  // preferred whenever it is present.
  for(int t = 0; t < NTYPES; t++)
    if(header.npartTotal[t] == 0)
      header.npartTotal[t] = ((long long)header.npartTotalHighWord[t] << 32) | header.npartTotalLowWord[t];

  if(Sp->TotNumPart == 0)
    {
      if(header.num_files <= 1)
        for(int t = 0; t < NTYPES; t++)
          header.npartTotal[t] = header.npart[t];

      Sp->TotNumGas  = header.npartTotal[0];
      Sp->TotNumPart = 0;
      for(int t = 0; t < NTYPES; t++)
        {
          if(header.npartTotal[t] > LLONG_MAX / 8 - Sp->TotNumPart)
            FATAL_ERROR("file '%s': corrupt header, total of type %d is %lld\n", fname, t, header.npartTotal[t]);
          Sp->TotNumPart += header.npartTotal[t];
        }

      if(Sp->TotNumPart == 0)
        FATAL_ERROR("file '%s': the header announces no particles at all\n", fname);

      if(header.flag_ic_info == 2)
        FATAL_ERROR("Detected second order ICs but SECOND_ORDER_LPT_ICS is not enabled.\n");

      for(int t = 0; t < NTYPES; t++)
        All.MassTable[t] = header.mass[t];

      if(All.RestartFlag == RST_BEGIN || All.RestartFlag == RST_RESUME || All.RestartFlag == RST_CREATEICS)
        All.Time = All.TimeBegin;
      else
        All.Time = All.TimeBegin = header.time;

      All.set_cosmo_factors_for_current_time();
    }

  if(ThisTask == readTask && filenr == 0 && nstart == nullptr)
    {
      mpi_printf("\nREADIC: filenr=%d, '%s' contains:\nREADIC: Type 0 (gas):   %8lld  (tot=%15lld) masstab= %g\n", filenr, fname,
                 (long long)header.npart[0], header.npartTotal[0], All.MassTable[0]);
      for(int type = 1; type < NTYPES; type++)
        mpi_printf("READIC: Type %d:         %8lld  (tot=%15lld) masstab= %g\n", type, (long long)header.npart[type],
                   header.npartTotal[type], All.MassTable[type]);
      mpi_printf("\n");
    }

  long long nall = 0;
  for(int t = 0; t < NTYPES; t++)
    {
      ntot_type[t] = header.npart[t];
      n_type[t]    = share_of(ntot_type[t], ThisTask - readTask, lastTask - readTask + 1);
      nall += n_type[t];
    }
  ntot_type[NTYPES] = n_type[NTYPES] = 0;

  if(nstart)
    {
      if(Sp->NumPart + nall > Sp->MaxPart || Sp->NumGas + n_type[0] > Sp->MaxPartSph)
        FATAL_ERROR("file '%s' holds more particles than counted before (NumPart=%d + %lld > MaxPart=%d); did it change?\n", fname,
                    Sp->NumPart, nall, Sp->MaxPart);

      // make room behind the gas block so gas stays contiguous at the front
      int nmove = Sp->NumPart - Sp->NumGas;
      if(nmove > 0 && nall > 0)
        {
          memmove(&Sp->P[Sp->NumGas + nall], &Sp->P[Sp->NumGas], nmove * sizeof(particle_data));
        }
      *nstart = Sp->NumGas;
    }
}

void snap_io::write_header_fields(hid_t handle)
{
  write_vector_attribute(handle, "NumPart_ThisFile", header.npart, H5T_NATIVE_UINT, NTYPES);
  write_vector_attribute(handle, "NumPart_Total", header.npartTotal, H5T_NATIVE_UINT64, NTYPES);
  write_vector_attribute(handle, "MassTable", header.mass, H5T_NATIVE_DOUBLE, NTYPES);
  write_scalar_attribute(handle, "Time", &header.time, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(handle, "Redshift", &header.redshift, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(handle, "BoxSize", &header.BoxSize, H5T_NATIVE_DOUBLE);
  write_scalar_attribute(handle, "NumFilesPerSnapshot", &header.num_files, H5T_NATIVE_INT);
  write_string_attribute(handle, "Git_commit", GIT_COMMIT);
  write_string_attribute(handle, "Git_date", GIT_DATE);
}

void snap_io::read_header_fields(const char *fname)
{
  for(int i = 0; i < NTYPES; i++)
    {
      header.npart[i]      = 0;
      header.npartTotal[i] = 0;
      header.mass[i]       = 0;
    }

  hid_t hdf5_file   = my_H5Fopen(fname, H5F_ACC_RDONLY, H5P_DEFAULT);
  hid_t hdf5_header = my_H5Gopen(hdf5_file, "/Header");

  hid_t attr  = my_H5Aopen_name(hdf5_header, "NumPart_ThisFile");
  hid_t space = H5Aget_space(attr);
  int ntypes  = space >= 0 ? (int)H5Sget_simple_extent_npoints(space) : -1;
  if(space >= 0)
    H5Sclose(space);
  my_H5Aclose(attr, "NumPart_ThisFile");
  if(ntypes != NTYPES)
    FATAL_ERROR("Length of NumPart_ThisFile attribute (%d) does not match NTYPES(ICS) (%d)", ntypes, NTYPES);

  read_vector_attribute(hdf5_header, "NumPart_ThisFile", header.npart, H5T_NATIVE_UINT, NTYPES);
  read_vector_attribute(hdf5_header, "NumPart_Total", header.npartTotal, H5T_NATIVE_UINT64, NTYPES);
  read_vector_attribute(hdf5_header, "MassTable", header.mass, H5T_NATIVE_DOUBLE, NTYPES);
  read_scalar_attribute(hdf5_header, "Time", &header.time, H5T_NATIVE_DOUBLE);
  read_scalar_attribute(hdf5_header, "Redshift", &header.redshift, H5T_NATIVE_DOUBLE);
  read_scalar_attribute(hdf5_header, "BoxSize", &header.BoxSize, H5T_NATIVE_DOUBLE);
  read_scalar_attribute(hdf5_header, "NumFilesPerSnapshot", &header.num_files, H5T_NATIVE_INT);

  my_H5Gclose(hdf5_header, "/Header");
  my_H5Fclose(hdf5_file, fname);
}

/* ------------------------------------------------------------------------ */
/* writing and reading                                                      */
/* ------------------------------------------------------------------------ */

void snap_io::write_snapshot(int num, mysnaptype loc_snap_type)
{
  snap_type = loc_snap_type;
  Logs.timer_start(CPU_SNAPSHOT);

  mpi_printf("\nSNAPSHOT: writing snapshot file #%d @ time %g ... \n", num, All.Time);
  double t0 = MPI_Wtime();
  reset_io_byte_count();
  All.set_cosmo_factors_for_current_time();

  char buf[MAXLEN_PATH_EXTRA];
  if(All.NumFilesPerSnapshot < 2)
    build_name(buf, sizeof(buf), "%s%s_%03d", All.OutputDir, All.SnapshotFileBase, num);
  else
    {
      build_name(buf, sizeof(buf), "%s/snapdir_%03d", All.OutputDir, num);
      if(ThisTask == 0 && mkdir(buf, 02755) != 0 && errno != EEXIST)
        FATAL_ERROR("cannot create the snapshot directory '%s': %s\n", buf, strerror(errno));
      MPI_Barrier(Communicator);
      build_name(buf, sizeof(buf), "%s/snapdir_%03d/%s_%03d", All.OutputDir, num, All.SnapshotFileBase, num);
    }

  write_file_set(buf);

  long long byte_count_all = 0, bc = get_io_byte_count();
  MPI_Allreduce(&bc, &byte_count_all, 1, MPI_LONG_LONG, MPI_SUM, Communicator);
  double t1 = MPI_Wtime(), dt = t1 - t0;
  double mb = byte_count_all / (1024.0 * 1024.0);
  mpi_printf("SNAPSHOT: done with writing snapshot.  Took %g sec, total size %g MB, corresponds to effective I/O rate of %g MB/sec\n",
             dt, mb, dt > 0 ? mb / dt : 0.0);

  All.Ti_lastoutput = All.Ti_Current;
  Logs.timer_stop(CPU_SNAPSHOT);
}

void snap_io::write_file_set(const char *fname)
{
  survey_types();
  MPI_Allreduce(local_type_count, ntot_type_all, NTYPES, MPI_LONG_LONG, MPI_SUM, Communicator);

  char buf[MAXLEN_PATH_EXTRA];
  build_name(buf, sizeof(buf), "%s", fname);
  write_multiple_files(buf, All.NumFilesPerSnapshot);
  runs_of = surveyed = nullptr;  // the storage may change before the next write
  runs_numpart       = -1;
}

// One pass over the local particles gives their counts per type and the runs
// of equal type the field passes then jump between.
void snap_io::survey_types()
{
  for(int n = 0; n < NTYPES; n++)
    local_type_count[n] = 0;
  const size_t max_runs = 1 << 16;
  run_start.clear();
  run_type.clear();
  bool keep_runs = true;
  for(int n = 0; n < Sp->NumPart; n++)
    {
      int t = Sp->P[n].getType();
      local_type_count[t]++;
      if(keep_runs && (run_type.empty() || run_type.back() != t))
        {
          if(run_start.size() == max_runs)
            keep_runs = false;
          else
            {
              run_start.push_back(n);
              run_type.push_back(t);
            }
        }
    }
  runs_of      = keep_runs ? Sp->P : nullptr;
  surveyed     = Sp->P;
  runs_numpart = Sp->NumPart;
}

double snap_io::minimum_region_size() { return All.BoxSize > 0 ? All.BoxSize : 1.0; }

void snap_io::setup_integer_frame()
{
  double xmin[3], xmax[3];
  for(int k = 0; k < 3; k++)
    {
      xmin[k] = read_min[k];
      xmax[k] = read_max[k];
    }
  MPI_Allreduce(MPI_IN_PLACE, xmin, 3, MPI_DOUBLE, MPI_MIN, Communicator);
  MPI_Allreduce(MPI_IN_PLACE, xmax, 3, MPI_DOUBLE, MPI_MAX, Communicator);

  mpi_printf("READIC: Region covered with particles: (%g %g %g) -> (%g %g %g)\n", xmin[0], xmin[1], xmin[2], xmax[0], xmax[1],
             xmax[2]);

  double len = 0;
  for(int k = 0; k < 3; k++)
    len = std::max(len, xmax[k] - xmin[k]);
  len *= 4;
  if(!(len > 0))
    len = minimum_region_size();  // one particle, or all at one point
  mpi_printf("READIC: Initial root node size: %g\n", len);

  double center[3];
  for(int k = 0; k < 3; k++)
    center[k] = 0.5 * (xmin[k] + xmax[k]);
  Sp->set_region(center, len);

  particle_data *P = Sp->P;
  for(int i = 0; i < Sp->NumPart; i++)
    {
      __builtin_prefetch(&P[i + 16], 1, 3);
      double pos[3];
      memcpy(pos, P[i].IntPos, sizeof(pos));
      Sp->pos_to_intpos(pos, P[i].IntPos);
    }
}

void snap_io::read_ic(const char *fname)
{
  if(file_format < 1 || file_format > 4)
    FATAL_ERROR("ICFormat = %d not supported.\n", file_format);
  if(Sp->P || Sp->NumPart)
    FATAL_ERROR("read_ic() needs an empty particle container\n");

  Logs.timer_start(CPU_SNAPSHOT);
  double t0      = MPI_Wtime();
  Sp->TotNumPart = 0;

  int num_files = find_files(fname, fname);
  reset_io_byte_count();

  int counted_part = 0, counted_gas = 0;
  for(int rep = 0; rep < 2; rep++)
    {
      Sp->NumPart = 0;
      Sp->NumGas  = 0;
      for(int k = 0; k < 3; k++)
        {
          read_min[k] = HUGE_VAL;
          read_max[k] = -HUGE_VAL;
        }
      read_files_driver(fname, rep, num_files);

      if(rep == 0)
        {
          int loc[2] = {Sp->NumPart, Sp->NumGas}, max[2];
          MPI_Allreduce(loc, max, 2, MPI_INT, MPI_MAX, Communicator);
          double maxpart = max[0] / 0.6, maxpartsph = max[1] / 0.6;
          if(maxpart >= INT_MAX)
            FATAL_ERROR("%d particles on one task leave no room for imbalance; use more tasks\n", max[0]);
          Sp->MaxPart    = std::max(1, (int)maxpart);
          Sp->MaxPartSph = std::max(1, (int)maxpartsph);
          // Reading writes the records of the particles it reads, each cleared
          // as it is reached (while in cache); only those behind are cleared now.
          counted_part = Sp->NumPart;
          counted_gas  = Sp->NumGas;
          Sp->allocate_memory_cleared_from(counted_part, counted_gas);
          records_cleared_on_read = true;
        }
    }

  records_cleared_on_read = false;
  // the storage is cleared only behind the counted particles
  if(Sp->NumPart != counted_part || Sp->NumGas != counted_gas)
    FATAL_ERROR("the initial conditions changed while they were read: %d particles (%d gas) counted, %d (%d gas) read\n",
                counted_part, counted_gas, Sp->NumPart, Sp->NumGas);

  MPI_Barrier(Communicator);
  long long byte_count_all = 0, bc = get_io_byte_count();
  MPI_Allreduce(&bc, &byte_count_all, 1, MPI_LONG_LONG, MPI_SUM, Communicator);
  double dt = MPI_Wtime() - t0, mb = byte_count_all / (1024.0 * 1024.0);
  mpi_printf("READIC: reading done. Took %g sec, total size %g MB, corresponds to effective I/O rate of %g MB/sec\n", dt, mb,
             dt > 0 ? mb / dt : 0.0);
  mpi_printf("\nREADIC: Total number of particles :  %lld\n\n", Sp->TotNumPart);

  setup_integer_frame();

  if(header.flag_entropy_instead_u)
    FATAL_ERROR("Initial condition file contains entropy, but INITIAL_CONDITIONS_CONTAIN_ENTROPY is not set\n");

  Logs.timer_stop(CPU_SNAPSHOT);
}
