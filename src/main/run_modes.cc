// Command line and dispatch on the run mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/allvars.h"
#include "data/macros.h"
#include "data/mymalloc.h"
#include "logs/logs.h"
#include "main/main.h"
#include "main/simulation.h"
#include "mpi_utils/shared_mem_handler.h"

// Parses a whole decimal integer; false for anything else.
static bool parse_int(const char *s, int &out)
{
  char *end;
  long v = strtol(s, &end, 10);
  if(end == s || *end != 0 || v < -2147483647L || v > 2147483647L)
    return false;
  out = static_cast<int>(v);
  return true;
}

void sim::run_from_command_line(int argc, char **argv)
{
  Logs.initcomm(Communicator);
  All.initcomm(Communicator);
  Mem.initcomm(Communicator);
  Mem.determine_compute_nodes();

  hello();

  Logs.init_cpu_log(&Sp);
  pin_to_core_set(this);
  mpi_report_comittable_memory();
  Mem.MemoryOnNode       = MemoryOnNode;
  Mem.SharedMemoryOnNode = SharedMemoryOnNode;

  if(argc < 2)
    {
      if(ThisTask == 0)
        print_usage();
      endrun();
    }

  int flag = RST_BEGIN, snapnum = -1;
  if(argc >= 3 && (!parse_int(argv[2], flag) || flag < 0 || flag >= RST_NUM_OPTIONS))
    {
      if(ThisTask == 0)
        {
          printf("\nUnknown run mode '%s': it must be a number from 0 to %d.\n", argv[2], RST_NUM_OPTIONS - 1);
          print_usage();
        }
      fflush(stdout);
      Shmem.announce_start(0);
      MPI_Finalize();
      exit(1);
    }
  if(argc >= 4 && !parse_int(argv[3], snapnum))
    FATAL_ERROR("The snapshot number '%s' is not an integer.\n", argv[3]);
  All.RestartFlag = static_cast<restart_options>(flag);

  if((flag == RST_FOF || flag == RST_POWERSPEC || flag == RST_CONVERTSNAP || flag == RST_CALCDESC || flag == RST_MAKETREES) &&
     snapnum < 0)
    FATAL_ERROR("Need to give the snapshot number for the chosen option.\n");

  begrun1(argv[1]);

  switch(All.RestartFlag)
    {
      case RST_CALCDESC:
      case RST_MAKETREES:
        FATAL_ERROR("Compile with option MERGERTREE for this option");
      case RST_LCREARRANGE:
      case RST_SNPREARRANGE:
        FATAL_ERROR("need to compile with REARRANGE_OPTION for this option to work\n");
      case RST_RESUME:
        FATAL_ERROR("Resuming from restart files needs the restart-file reader, which this build does not have yet.\n");
      case RST_IOBANDWIDTH:
        FATAL_ERROR("The I/O bandwidth test is not part of this build yet.\n");
      default:
        break;
    }

  char fname[MAXLEN_PATH_EXTRA];
  int len;
  if(All.RestartFlag == RST_BEGIN || snapnum < 0)
    len = snprintf(fname, sizeof(fname), "%s", All.InitCondFile);
  else if(All.NumFilesPerSnapshot > 1)
    len = snprintf(fname, sizeof(fname), "%s/snapdir_%03d/%s_%03d", All.OutputDir, snapnum, All.SnapshotFileBase, snapnum);
  else
    len = snprintf(fname, sizeof(fname), "%s%s_%03d", All.OutputDir, All.SnapshotFileBase, snapnum);
  if(len < 0 || len >= (int)sizeof(fname))
    FATAL_ERROR("the name of the input file would be longer than %d characters\n", (int)sizeof(fname) - 1);

  if(All.RestartFlag == RST_STARTFROMSNAP)
    All.ICFormat = All.SnapFormat;

  start_from_file(fname, snapnum);

  begrun2();
  run();
  endrun();
}
