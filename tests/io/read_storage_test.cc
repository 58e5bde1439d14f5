// Reading hands out the particle storage in the state a fresh, cleared
// allocation would have: the records of the particles read hold what the files
// hold and zeros elsewhere, the records behind them are all zero, even where
// the memory held other data before.
#include <gtest/gtest.h>
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "io/snap_io.h"
#include "io/tool_startup.h"

namespace
{
const long long NTOTAL = 3000;  // a third gas

simparticles &storage()
{
  static simparticles *Sp = [] {
    All.MaxMemSize               = 64;
    All.UnitLength_in_cm         = 3.085678e21;
    All.UnitMass_in_g            = 1.989e43;
    All.UnitVelocity_in_cm_per_s = 1e5;
    All.UnitTime_in_s            = All.UnitLength_in_cm / All.UnitVelocity_in_cm_per_s;
    All.UnitDensity_in_cgs       = All.UnitMass_in_g / pow(All.UnitLength_in_cm, 3);
    All.MaxFilesWithConcurrentIO = 0;
    All.Time = All.TimeBegin = 0;
    All.RestartFlag          = RST_CONVERTSNAP;
    All.set_cosmo_factors_for_current_time();
    MPI_Comm comm = tool_start_islands();
    tool_start_memory(comm);
    auto *s = new simparticles(comm);
    tool_start_particles(*s);
    return s;
  }();
  return *Sp;
}

void write_set(simparticles &Sp, int format, const char *base)
{
  int ntask, task;
  MPI_Comm_size(Sp.Communicator, &ntask);
  MPI_Comm_rank(Sp.Communicator, &task);
  long long first = NTOTAL * task / ntask, last = NTOTAL * (task + 1) / ntask;
  int nloc = (int)(last - first), ngas = (int)std::max(0LL, std::min(last, NTOTAL / 3) - first);
  Sp.MaxPart    = std::max(1, nloc);
  Sp.MaxPartSph = std::max(1, ngas);
  Sp.allocate_memory();
  for(int t = 0; t < NTYPES; t++)
    All.MassTable[t] = 0;
  double center[3] = {0.5, 0.5, 0.5};
  Sp.set_region(center, 2.0);
  for(int i = 0; i < nloc; i++)
    {
      long long id     = first + i + 1;
      particle_data &p = Sp.P[i];
      double pos[3]    = {fmod(id * 0.37, 1.0), fmod(id * 0.53, 1.0), fmod(id * 0.71, 1.0)};
      Sp.pos_to_intpos(pos, p.IntPos);
      for(int k = 0; k < 3; k++)
        p.Vel[k] = id + k;
      p.setType(i < ngas ? 0 : (id % 2 ? 1 : 4));
      p.setMass(1.0 / NTOTAL);
      p.ID.set((MyIDType)id);
      p.Metallicity = 0.02;
      if(i < ngas)
        {
          Sp.SphP[i].Entropy = 1 + id;
          Sp.SphP[i].Density = 2;
          Sp.SphP[i].Hsml    = 0.1;
          Sp.SphP[i].Ne      = 1;
        }
    }
  Sp.NumPart    = nloc;
  Sp.NumGas     = ngas;
  Sp.TotNumPart = NTOTAL;
  Sp.TotNumGas  = NTOTAL / 3;
  {
    snap_io out(&Sp, Sp.Communicator, format);
    out.init_basic(&Sp);
    out.write_file_set(base);
  }
  Sp.free_memory();
  Sp.NumPart = Sp.NumGas = 0;
  Sp.TotNumPart = Sp.TotNumGas = 0;
}

bool all_zero(const void *p, size_t n)
{
  const unsigned char *c = static_cast<const unsigned char *>(p);
  for(size_t i = 0; i < n; i++)
    if(c[i])
      return false;
  return true;
}

// Reads the set into empty storage that held other data before and checks
// the records; also checks the particle totals over the storage's tasks.
void read_and_check(simparticles &Sp, int format, const char *base)
{
  int task;
  MPI_Comm_rank(Sp.Communicator, &task);

  size_t room = std::min<size_t>(Mem.get_free_bytes() / 2, 16u << 20);
  void *dirt  = mymalloc("dirt", room);
  memset(dirt, 0xa5, room);
  myfree(dirt);

  {
    snap_io in(&Sp, Sp.Communicator, format);
    in.init_basic(&Sp);
    in.read_ic(base);
  }

  long long tot = Sp.NumPart, totgas = Sp.NumGas;
  MPI_Allreduce(MPI_IN_PLACE, &tot, 1, MPI_LONG_LONG, MPI_SUM, Sp.Communicator);
  MPI_Allreduce(MPI_IN_PLACE, &totgas, 1, MPI_LONG_LONG, MPI_SUM, Sp.Communicator);
  EXPECT_EQ(tot, NTOTAL);
  EXPECT_EQ(totgas, NTOTAL / 3);

  int bad_p = 0, bad_sph = 0, bad_values = 0;
  for(int i = 0; i < Sp.NumPart; i++)
    {
      const particle_data &p = Sp.P[i];
      bad_values += p.Vel[1] != (double)p.ID.get() + 1;
      bad_p += (p.getType() == 0) != (i < Sp.NumGas);
      particle_data e;
      memset(static_cast<void *>(&e), 0, sizeof(e));
      memcpy(e.IntPos, p.IntPos, sizeof(e.IntPos));
      memcpy(e.Vel, p.Vel, sizeof(e.Vel));
      e.Mass        = p.Mass;
      e.ID          = p.ID;
      e.Type        = p.Type;
      e.Metallicity = p.Metallicity;
      bad_p += memcmp(&e, &p, sizeof(e)) != 0;
    }
  for(int i = 0; i < Sp.NumGas; i++)
    {
      const sph_particle_data &s = Sp.SphP[i];
      bad_values += s.Entropy != (double)Sp.P[i].ID.get() + 1;
      sph_particle_data e;
      memset(static_cast<void *>(&e), 0, sizeof(e));
      e.Entropy     = s.Entropy;
      e.Density     = s.Density;
      e.Hsml        = s.Hsml;
      e.Sfr         = s.Sfr;
      e.Metallicity = s.Metallicity;
      e.Ne          = s.Ne;
      bad_sph += memcmp(&e, &s, sizeof(e)) != 0;
    }
  EXPECT_EQ(bad_values, 0) << "task " << task << ": values that do not belong to their ID";
  EXPECT_EQ(bad_p, 0) << "task " << task << ": records with data the files do not hold";
  EXPECT_EQ(bad_sph, 0) << "task " << task << ": gas records with data the files do not hold";
  EXPECT_TRUE(all_zero(Sp.P + Sp.NumPart, (size_t)(Sp.MaxPart - Sp.NumPart) * sizeof(particle_data))) << "task " << task;
  EXPECT_TRUE(all_zero(Sp.SphP + Sp.NumGas, (size_t)(Sp.MaxPartSph - Sp.NumGas) * sizeof(sph_particle_data))) << "task " << task;

  Sp.free_memory();
  Sp.NumPart = Sp.NumGas = 0;
  Sp.TotNumPart = Sp.TotNumGas = 0;
}

// Every format, one file and a set of two; read by all tasks and by each task
// alone, which then reads both files of a set into one storage.
TEST(ReadStorage, RecordsHoldOnlyWhatTheFilesHold)
{
  simparticles &Sp = storage();
  static simparticles alone(MPI_COMM_SELF);
  static bool alone_ready = false;
  if(!alone_ready)
    tool_start_particles(alone);
  alone_ready = true;

  int ntask, task;
  MPI_Comm_size(Sp.Communicator, &ntask);
  MPI_Comm_rank(Sp.Communicator, &task);

  for(int format = 1; format <= 3; format++)
    for(int files = 1; files <= std::min(2, ntask); files++)
      {
        SCOPED_TRACE("format " + std::to_string(format) + ", " + std::to_string(files) + " file(s)");
        char base[256];
        // named by the task count too: the runs on 1 and 2 tasks may overlap
        snprintf(base, sizeof(base), "%s/read_storage_np%d_%d_%d", ::testing::TempDir().c_str(), ntask, format, files);
        All.NumFilesPerSnapshot = files;
        write_set(Sp, format, base);

        read_and_check(Sp, format, base);
        {
          SCOPED_TRACE("each task alone");
          read_and_check(alone, format, base);
        }

        MPI_Barrier(Sp.Communicator);
        if(task == 0)
          for(int f = 0; f < files; f++)
            {
              char name[300];
              if(files > 1)
                snprintf(name, sizeof(name), "%s.%d%s", base, f, format == 3 ? ".hdf5" : "");
              else
                snprintf(name, sizeof(name), "%s%s", base, format == 3 ? ".hdf5" : "");
              unlink(name);
            }
      }
}
}  // namespace
