#include "system/system.h"

#include <sys/statvfs.h>

#include <cstdint>
#include <cstring>

#include "data/macros.h"

gsl_rng *random_generator = nullptr;

void init_rng(int thistask)
{
  if(!random_generator)
    random_generator = gsl_rng_alloc(gsl_rng_ranlxd1);
  gsl_rng_set(random_generator, 42 + thistask);
}

double get_random_number(void) { return gsl_rng_uniform(random_generator); }

long long report_comittable_memory(long long *MemTotal, long long *Committed_AS, long long *SwapTotal, long long *SwapFree,
                                   const char *meminfo_path)
{
  *MemTotal = *Committed_AS = *SwapTotal = *SwapFree = 0;

  FILE *fd = fopen(meminfo_path, "r");
  if(!fd)
    {
      RUN_WARNING("cannot read '%s'; memory figures are reported as zero", meminfo_path);
      return 0;
    }

  struct
  {
    const char *label;
    long long *dest;
  } fields[] = {{"MemTotal:", MemTotal}, {"Committed_AS:", Committed_AS}, {"SwapTotal:", SwapTotal}, {"SwapFree:", SwapFree}};

  char line[500];
  while(fgets(line, sizeof(line), fd))
    for(auto &f : fields)
      {
        size_t len = strlen(f.label);
        if(strncmp(line, f.label, len) == 0)
          sscanf(line + len, "%lld", f.dest);
      }

  fclose(fd);

  return *MemTotal - *Committed_AS;
}

long long report_free_size_in_tmpfs(const char *path)
{
  struct statvfs buf;
  if(statvfs(path, &buf) != 0)
    {
      RUN_WARNING("cannot query the file system of '%s'; its free space is reported as zero", path);
      return 0;
    }

  // f_bavail counts fragments of f_frsize bytes; multiply in 64-bit bytes
  // before converting, so large or odd block sizes neither overflow nor round
  return (long long)((uint64_t)buf.f_bavail * (uint64_t)buf.f_frsize / 1024);
}

memory_extremes find_memory_extremes(const long long *values, int ntask, int stride)
{
  memory_extremes e{values[0], values[0], 0, 0, 0};
  for(int i = 0; i < ntask; i++)
    {
      long long v = values[i * stride];
      e.sum += v;
      if(v > e.largest)
        {
          e.largest         = v;
          e.task_of_largest = i;
        }
      if(v < e.smallest)
        {
          e.smallest         = v;
          e.task_of_smallest = i;
        }
    }
  return e;
}

void mpi_report_comittable_memory(MPI_Comm comm, long long *MemoryOnNode, long long *SharedMemoryOnNode, FILE *out)
{
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);

  long long MemTotal, Committed_AS, SwapTotal, SwapFree;
  long long AvailMem = report_comittable_memory(&MemTotal, &Committed_AS, &SwapTotal, &SwapFree);
  long long shm      = report_free_size_in_tmpfs();

  *MemoryOnNode       = MemTotal;
  *SharedMemoryOnNode = shm;

  const int NQ              = 7;
  const char *labels[NQ]    = {"AvailMem", "Total Mem", "Committed_AS", "SwapTotal", "SwapFree", "AllocMem", "avail /dev/shm"};
  long long mine[NQ]        = {AvailMem, MemTotal, Committed_AS, SwapTotal, SwapFree, Committed_AS, shm};
  long long *all            = new long long[(size_t)NQ * ntask];  // once at start-up, before the allocator exists

  MPI_Allgather(mine, NQ, MPI_LONG_LONG, all, NQ, MPI_LONG_LONG, comm);

  memory_extremes ext[NQ];
  for(int q = 0; q < NQ; q++)
    ext[q] = find_memory_extremes(all + q, ntask, NQ);

  delete[] all;

  if(thistask == 0)
    {
      char dashes[122];
      memset(dashes, '-', 121);
      dashes[121] = 0;
      fprintf(out, "\n%s\n", dashes);
      for(int q = 0; q < NQ; q++)
        fprintf(out, "%s:\t Largest = %10.2f Mb (on task=%4d), Smallest = %10.2f Mb (on task=%4d), Average = %10.2f Mb\n", labels[q],
                ext[q].largest / 1024.0, ext[q].task_of_largest, ext[q].smallest / 1024.0, ext[q].task_of_smallest,
                ext[q].sum / (ntask * 1024.0));
      fprintf(out, "%s\n", dashes);
    }

  // Committed_AS is quantity 2
  int maxtask = ext[2].task_of_largest;
  char name[MPI_MAX_PROCESSOR_NAME];
  memset(name, 0, sizeof(name));
  if(thistask == maxtask)
    {
      int len;
      MPI_Get_processor_name(name, &len);
    }
  MPI_Bcast(name, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, maxtask, comm);

  if(thistask == 0)
    {
      char tildes[122];
      memset(tildes, '~', 121);
      tildes[121] = 0;
      fprintf(out, "Task=%d has the maximum commited memory and is host: %s\n", maxtask, name);
      fprintf(out, "%s\n", tildes);
      fflush(out);
    }
}
