// Start-up and orderly end of a run.
#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "io/hdf5_util.h"
#include "logs/logs.h"
#include "mpi_utils/mpi_utils.h"
#include "system/system.h"
#include "time_integration/driftfac.h"
#include "main/main.h"
#include "main/simulation.h"
#include "mpi_utils/shared_mem_handler.h"

static const char *const RunModeText[RST_NUM_OPTIONS] = {
    "Read initial conditions and start simulation",
    "Read restart files and resume simulation",
    "Restart from specified snapshot dump and resume simulation",
    "Run FOF and optionally SUBFIND",
    "Calculate a matter power spectrum",
    "Convert snapshot file to different format [input=ICFormat  output=SnapFormat",
    "Create cosmological initial conditions",
    "Calculate descendants/progenitors [connecting group catalogues SnapNum-1 and SnapNum]",
    "Arrange halos in merger trees [using group catalogues up to SnapNum]",
    "Carry out I/O bandwidth test to determine best setting for number of concurrent reads/writes",
    "Rearrange particle-lightcone data in merger tree order <conenr>  <firstnum>  <lastnum>",
    "Rearrange most-bound snapshot data in merger tree order <firstnum>  <lastnum>",
};

void print_usage()
{
  puts("\nParameters are missing.");
  puts("Start as ./Vortan <ParameterFile> [<RestartFlag>] [<SpecialOptions>]");
  puts("");
  puts("   RestartFlag    Action");
  for(int i = 0; i < RST_NUM_OPTIONS; i++)
    printf("      %2d          %s\n", i, RunModeText[i]);
  puts("");
}

void sim::hello()
{
  mpi_printf(
      "\n"
      "  __     __  ___    ____   _____      _      _   _\n"
      "  \\ \\   / / / _ \\  |  _ \\ |_   _|    / \\    | \\ | |\n"
      "   \\ \\ / / | | | | | |_) |  | |     / _ \\   |  \\| |\n"
      "    \\ V /  | |_| | |  _ <   | |    / ___ \\  | |\\  |\n"
      "     \\_/    \\___/  |_| \\_\\  |_|   /_/   \\_\\ |_| \\_|\n"
      "\n");
  mpi_printf("This is Vortan, version %s.\nGit commit %s, %s\n\n", VORTAN_VERSION, GIT_COMMIT, GIT_DATE);
  mpi_printf("Code was compiled with the following compiler and flags:\n%s\n\n\n", compiler_flags);
  mpi_printf("Code was compiled with the following settings:\n");
  if(ThisTask == 0)
    output_compile_time_options();
  mpi_printf("\n\nRunning on %d MPI tasks.\n\n", NTask);
  mpi_printf("\n");
  mpi_printf("BEGRUN: Size of particle structure       %4d  [bytes]\n", (int)sizeof(particle_data));
  mpi_printf("BEGRUN: Size of sph particle structure   %4d  [bytes]\n", (int)sizeof(sph_particle_data));
  // The tree node records arrive with the trees; no group finder in this build.
  mpi_printf("BEGRUN: Size of gravity tree node        %4d  [bytes]\n", 0);
  mpi_printf("BEGRUN: Size of neighbour tree node      %4d  [bytes]\n", 0);
  mpi_printf("BEGRUN: Size of subfind auxiliary data   %4d  [bytes]\n", 0);
  mpi_printf("\n");
}

// Creates a directory and any missing parents; false (errno set) on failure.
static bool make_directories(const char *path)
{
  char buf[MAXLEN_PATH];
  snprintf(buf, sizeof(buf), "%s", path);
  for(char *p = buf + 1; *p; p++)
    if(*p == '/')
      {
        *p = 0;
        if(mkdir(buf, 02755) != 0 && errno != EEXIST)
          return false;
        *p = '/';
      }
  return mkdir(buf, 02755) == 0 || errno == EEXIST;
}

// Ends every rank after a parameter-file error without MPI_Abort, but with a
// failure status: a run that did not start is not a success. The listeners
// have been told to stop by the start broadcast already.
[[noreturn]] static void stop_for_parameter_error(setcomm &sc)
{
  sc.mpi_printf("\nWe stop because of an error in the parameterfile.\n\n");
  fflush(stdout);
  MPI_Finalize();
  exit(1);
}

void sim::begrun1(const char *parameterFile)
{
  All.register_parameters();

  int errorFlag = All.read_parameter_file(parameterFile);

  if(ThisTask == 0)
    {
      if(!errorFlag)
        errorFlag = All.validate_values();
      if(!errorFlag && !All.terminate_outputdir())
        {
          printf("Error in parameter file: OutputDir '%s' is too long to take a trailing '/'\n", All.OutputDir);
          errorFlag = 1;
        }
      if(!errorFlag && All.OutputDir[0] && !make_directories(All.OutputDir))
        FATAL_ERROR("cannot create output directory '%s': %s", All.OutputDir, strerror(errno));
    }

  // Every rank, the listeners included, learns whether the run goes on before
  // anything is sized from the parameters or written to the output directory.
  MPI_Bcast(&errorFlag, 1, MPI_INT, 0, Communicator);
  Shmem.announce_start(errorFlag ? 0 : 1);
  Started = true;
  if(errorFlag)
    stop_for_parameter_error(*this);

  MPI_Bcast(All.get_data_ptr(), All.get_data_size(), MPI_BYTE, 0, MPI_COMM_WORLD);

  Mem.check_maxmemsize_setting(All.MaxMemSize);
  Mem.mymalloc_init(All.MaxMemSize, All.RestartFlag);

  if(All.OutputListOn)
    All.read_outputlist(All.OutputListFilename);
  else
    All.OutputListLength = 0;

  All.write_used_parameters(All.OutputDir, "parameters-usedvalues");
  All.some_parameter_checks();

  set_units();

  my_create_HDF5_halfprec_handler();
  my_create_HDF5_special_integer_types();
  my_mpi_types_init();
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

  Sp.TimeBinsHydro.timebins_init("Hydro", &Sp.MaxPartSph);
  Sp.TimeBinsGravity.timebins_init("Gravity", &Sp.MaxPart);

  All.Time = All.TimeBegin;
  All.set_cosmo_factors_for_current_time();

  init_rng(ThisTask);

  Logs.open_logfiles();

  All.TimeLastRestartFile = Logs.CPUThisRun;
}

void sim::begrun2()
{
  char contfile[MAXLEN_PATH_EXTRA];
  snprintf(contfile, sizeof(contfile), "%scont", All.OutputDir);
  unlink(contfile);

  if(All.RestartFlag != RST_BEGIN && All.RestartFlag != RST_RESUME && All.RestartFlag != RST_STARTFROMSNAP)
    Logs.open_logfiles();

  if(All.ComovingIntegrationOn)
    {
      Driftfac.init_drift_table();
      Shmem.send_to_listener(TAG_DRIFT_INIT, All.get_data_ptr(), All.get_data_size());
    }

  integertime ti = All.Ti_Current;
  if(All.RestartFlag == RST_STARTFROMSNAP)
    ti += 100;
  else if(All.RestartFlag == RST_RESUME)
    ti += 1;
  All.Ti_nextoutput = find_next_outputtime(ti);

  All.TimeLastRestartFile = Logs.CPUThisRun;

  Shmem.send_to_listener(TAG_ALL_UPDATE, All.get_data_ptr(), All.get_data_size());
}

void sim::endrun()
{
  mpi_printf("endrun called, calling MPI_Finalize()\nbye!\n\n");
  fflush(stdout);
  if(!Started)
    Shmem.announce_start(0);
  else
    Shmem.release_listener();
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  my_mpi_types_free();
  MPI_Finalize();
  exit(0);
}

void sim::set_units()
{
  All.derive_units();

  mpi_printf("BEGRUN: Hubble (internal units)  = %g\n", All.Hubble);
  mpi_printf("BEGRUN: h                        = %g\n", All.HubbleParam);
  mpi_printf("BEGRUN: G (internal units)       = %g\n", All.G);
  mpi_printf("BEGRUN: UnitMass_in_g            = %g\n", All.UnitMass_in_g);
  mpi_printf("BEGRUN: UnitLenth_in_cm          = %g\n", All.UnitLength_in_cm);
  mpi_printf("BEGRUN: UnitTime_in_s            = %g\n", All.UnitTime_in_s);
  mpi_printf("BEGRUN: UnitVelocity_in_cm_per_s = %g\n", All.UnitVelocity_in_cm_per_s);
  mpi_printf("BEGRUN: UnitDensity_in_cgs       = %g\n", All.UnitDensity_in_cgs);
  mpi_printf("BEGRUN: UnitEnergy_in_cgs        = %g\n", All.UnitEnergy_in_cgs);
  mpi_printf("\n");
}
