#include <mpi.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "data/macros.h"

namespace
{
constexpr int ERRBUF = 8000;

void build_report(char *prefix, char *msg, const char *kind, const char *func, const char *file, int line, const char *fmt, va_list l)
{
  int rank = 0, init = 0;
  MPI_Initialized(&init);
  if(init)
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  snprintf(prefix, ERRBUF, "Code %s on task=%d, function %s(), file %s, line %d", kind, rank, func, file, line);
  vsnprintf(msg, ERRBUF, fmt, l);
}
}  // namespace

void vortan_fatal_error(const char *func, const char *file, int line, const char *fmt, ...)
{
  static char prefix[ERRBUF], msg[ERRBUF];
  va_list l;
  va_start(l, fmt);
  build_report(prefix, msg, "termination", func, file, line, fmt, l);
  va_end(l);
  printf("%s: %s\n", prefix, msg);
  fflush(stdout);
  int init = 0, fin = 0;
  MPI_Initialized(&init);
  MPI_Finalized(&fin);
  if(init && !fin)
    {
      // The launcher stops forwarding output once the job is aborted; give it a
      // moment to pass this message on first.
      usleep(300000);
      MPI_Abort(MPI_COMM_WORLD, 1);
    }
  // Reached only without a live MPI job; never report a fatal error as success.
  exit(1);
}

void vortan_run_warning(const char *func, const char *file, int line, const char *fmt, ...)
{
  static char prefix[ERRBUF], msg[ERRBUF];
  va_list l;
  va_start(l, fmt);
  build_report(prefix, msg, "warning", func, file, line, fmt, l);
  va_end(l);
  printf("%s: %s\n", prefix, msg);
  fflush(stdout);
  if(FILE *fd = fopen("WARNINGS", "w"))
    fclose(fd);
}
