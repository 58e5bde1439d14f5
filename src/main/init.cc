// Turns freshly read particles into a consistent starting state.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "logs/logs.h"
#include "main/simulation.h"
#include "mpi_utils/mpi_utils.h"
#include "sort/parallel_sort.h"
#include "time_integration/driftfac.h"

double sim::initial_gas_energy(double temp)
{
  // k_B / m_p / (gamma - 1) in cgs; mean molecular weight of a fully ionised
  // gas above 10^4 K, of a neutral one below
  const double kB_over_mp_gm1 = 123816096.66711383;
  double mu                   = temp > 1.0e4 ? 0.5882352941176471 : 1.2195121951219512;
  return temp * (All.UnitMass_in_g / All.UnitEnergy_in_cgs) * kB_over_mp_gm1 / mu;
}

int sim::first_snapshot_number(int snapnum)
{
  if(All.RestartFlag != RST_STARTFROMSNAP)
    return 0;
  if(snapnum >= 0)
    return snapnum + 1;

  // the number of the snapshot that was read sits in the name's last three characters
  const char *name = All.InitCondFile;
  size_t len       = strlen(name);
  if(len < 3 || !isdigit((unsigned char)name[len - 3]) || !isdigit((unsigned char)name[len - 2]) ||
     !isdigit((unsigned char)name[len - 1]))
    {
      if(ThisTask == 0)
        RUN_WARNING("InitCondFile='%s' does not end in a three-digit snapshot number; snapshots are numbered from 0\n", name);
      return 0;
    }
  return 1 + atoi(name + len - 3);
}

void sim::init(int RestartSnapNum)
{
  if(All.RestartFlag == RST_CREATEICS)
    FATAL_ERROR("Compile with option NGENIC to create cosmological initial conditions");

  particle_data *P        = Sp.P;
  sph_particle_data *SphP = Sp.SphP;

  for(int i = 0; i < Sp.NumPart; i++)
    {
      if(All.MassTable[P[i].getType()] != 0)
        P[i].setMass(All.MassTable[P[i].getType()]);
      P[i].setSofteningClass(All.SofteningClassOfPartType[P[i].getType()]);
    }

  if(All.RestartFlag == RST_BEGIN && All.MassTable[4] == 0 && All.MassTable[0] > 0)
    All.MassTable[0] = 0;

  All.InitGasU = initial_gas_energy(All.InitGasTemp);

  // the reader leaves the specific energy u in the Entropy field
  if(All.RestartFlag == RST_BEGIN && All.InitGasTemp > 0)
    {
      if(ThisTask == 0 && Sp.NumGas > 0 && SphP[0].Entropy == 0)
        printf("READIC: Initializing u from InitGasTemp !\n");
      for(int i = 0; i < Sp.NumGas; i++)
        if(SphP[i].Entropy == 0)
          SphP[i].Entropy = All.InitGasU;
    }

  for(int i = 0; i < Sp.NumGas; i++)
    SphP[i].Entropy = std::max<double>(SphP[i].Entropy, All.MinEgySpec);

  ionize_params();

  if(All.ComovingIntegrationOn && !(All.TimeBegin > 0))
    FATAL_ERROR("TimeBegin=%g must be positive in a comoving run: the timeline is uniform in the logarithm of the scale factor\n",
                All.TimeBegin);
  All.Timebase_interval = timebase_interval_of_run(All.ComovingIntegrationOn, All.TimeBegin, All.TimeMax);
  All.Ti_Current        = 0;
  All.set_cosmo_factors_for_current_time();
  All.NumCurrentTiStep = 0;

  All.SnapshotFileCount = first_snapshot_number(RestartSnapNum);

  All.TreeAllocFactor    = 0.3;
  All.TopNodeAllocFactor = 0.08;
  All.NgbTreeAllocFactor = 0.7;
  All.TotNumOfForces = All.TotNumDirectForces = All.TotNumDensity = All.TotNumHydro = 0;
  All.TimeLastStatistics = All.TimeBegin - All.TimeBetStatistics;

  // files hold Vel * a^(-3/2); the internal variable is a^2 dx/dt
  if(All.ComovingIntegrationOn)
    {
      double fac = pow(All.Time, 1.5);
      for(int i = 0; i < Sp.NumPart; i++)
        for(int k = 0; k < 3; k++)
          P[i].Vel[k] *= fac;
    }

  for(int n = 0; n < TIMEBIN_COUNT; n++)
    {
      All.Ti_begstep[n]         = 0;
      Sp.TimeBinSynchronized[n] = 1;
    }
  for(int i = 0; i < Sp.NumPart; i++)
    P[i].access = 0;

  Sp.reconstruct_timebins();

  for(int i = 0; i < Sp.NumGas; i++)
    {
      for(int k = 0; k < 3; k++)
        SphP[i].VelPred[k] = P[i].Vel[k];
      SphP[i].EntropyPred = SphP[i].Entropy;
      if(All.RestartFlag == RST_BEGIN)
        SphP[i].Ne = 1;
    }

  test_id_uniqueness();

  domain_decomposition();
  set_softenings();

  if(All.RestartFlag == RST_FOF)
    endrun();

  ngbtree_build();

  if(All.RestartFlag == RST_POWERSPEC)
    {
      mpi_printf("\nThis option (Power Spectrum) only works for PERIODIC and enabled PMGRID.\n\n");
      endrun();
    }

  All.Ti_Current = 0;

  setup_smoothinglengths();

  mpi_printf("INIT: Converting u -> entropy\n");
  for(int i = 0; i < Sp.NumGas; i++)
    {
      // without a density there is no entropic function; zero keeps the
      // pressure at zero instead of turning it into NaN
      double rho = SphP[i].Density * All.cf_a3inv;
      if(rho > 0)
        SphP[i].Entropy = GAMMA_MINUS1 * SphP[i].Entropy / pow(rho, GAMMA_MINUS1);
      else
        SphP[i].Entropy = 0;
      SphP[i].EntropyPred = SphP[i].Entropy;
      SphP[i].set_thermodynamic_variables();
    }

  for(int i = 0; i < Sp.NumGas; i++)
    {
      SphP[i].Metallicity     = P[i].Metallicity;
      SphP[i].MassMetallicity = P[i].Metallicity * P[i].getMass();
    }
}

bool sim::find_nonunique_id(MyIDType *id, int *where)
{
  MyIDType *ids       = static_cast<MyIDType *>(mymalloc("ids", (Sp.NumPart + 1) * sizeof(MyIDType)));
  MyIDType *ids_first = static_cast<MyIDType *>(mymalloc("ids_first", NTask * sizeof(MyIDType)));
  int *num_list       = static_cast<int *>(mymalloc("num_list", NTask * sizeof(int)));

  for(int i = 0; i < Sp.NumPart; i++)
    ids[i] = Sp.P[i].ID.get();

  mycxxsort_parallel(ids, ids + Sp.NumPart, simparticles::compare_IDs, Communicator);

  bool found = false;
  for(int i = 1; i < Sp.NumPart && !found; i++)
    if(ids[i] == ids[i - 1])
      {
        found  = true;
        *id    = ids[i];
        *where = i;
      }

  MPI_Allgather(&ids[0], sizeof(MyIDType), MPI_BYTE, ids_first, sizeof(MyIDType), MPI_BYTE, Communicator);
  MPI_Allgather(&Sp.NumPart, 1, MPI_INT, num_list, 1, MPI_INT, Communicator);

  // compare with the next task that holds particles, skipping empty ones
  if(!found && Sp.NumPart > 0)
    for(int t = ThisTask + 1; t < NTask; t++)
      if(num_list[t] > 0)
        {
          if(ids[Sp.NumPart - 1] == ids_first[t])
            {
              found  = true;
              *id    = ids[Sp.NumPart - 1];
              *where = -1;
            }
          break;
        }

  myfree(num_list);
  myfree(ids_first);
  myfree(ids);
  return found;
}

void sim::test_id_uniqueness()
{
  mpi_printf("INIT: Testing ID uniqueness...\n");
  double t0 = MPI_Wtime();

  MyIDType id;
  int where;
  if(find_nonunique_id(&id, &where))
    {
      if(where >= 0)
        FATAL_ERROR("non-unique ID=%lld found on task=%d (i=%d Sp.NumPart=%d type=%d)\n", (long long)id, ThisTask, where, Sp.NumPart,
                    Sp.P[where].getType());
      FATAL_ERROR("non-unique ID=%lld found on task=%d\n", (long long)id, ThisTask);
    }

  mpi_printf("INIT: success.  took=%g sec\n\n", MPI_Wtime() - t0);
}
