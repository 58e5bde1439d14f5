// Loading of particles for the run modes that start from a file.
#include <cstdio>
#include <cstring>

#include "data/allvars.h"
#include "data/macros.h"
#include "io/snap_io.h"
#include "main/simulation.h"

void sim::start_from_file(const char *fname, int snapnum)
{
  {
    snap_io reader(&Sp, Communicator, All.ICFormat);
    reader.init_basic(&Sp);
    reader.read_ic(fname);
  }

  if(All.RestartFlag == RST_CONVERTSNAP)
    {
      size_t len = strlen(All.SnapshotFileBase);
      if(len + strlen("_converted") >= sizeof(All.SnapshotFileBase))
        FATAL_ERROR("SnapshotFileBase='%s' is too long to append \"_converted\"\n", All.SnapshotFileBase);
      strcat(All.SnapshotFileBase, "_converted");
      mpi_printf("Start writing file %s\nSnapNum %d\n", All.SnapshotFileBase, snapnum);

      snap_io writer(&Sp, Communicator, All.SnapFormat);
      writer.init_basic(&Sp);
      writer.write_snapshot(snapnum, NORMAL_SNAPSHOT);
      endrun();
    }

  init(snapnum);
}
