#ifndef VORTAN_SYSTEM_SYSTEM_H
#define VORTAN_SYSTEM_SYSTEM_H

#include <gsl/gsl_rng.h>
#include <mpi.h>

#include <cstdio>

// Per-task generator; task t draws the same sequence in every run.
extern gsl_rng *random_generator;

void init_rng(int thistask);
double get_random_number(void);

// Memory figures in kilobytes, as the operating system reports them. A file
// that cannot be read gives zeros and a warning; the run goes on.
long long report_comittable_memory(long long *MemTotal, long long *Committed_AS, long long *SwapTotal, long long *SwapFree,
                                   const char *meminfo_path = "/proc/meminfo");
long long report_free_size_in_tmpfs(const char *path = "/dev/shm");

// Largest and smallest value over the tasks, each with the lowest task that
// holds it, and the sum.
struct memory_extremes
{
  long long largest, smallest, sum;
  int task_of_largest, task_of_smallest;
};
memory_extremes find_memory_extremes(const long long *values, int ntask, int stride = 1);

// Collective over comm: stores the node's total memory and free /dev/shm space
// (kB) and prints the start-up memory report on task 0 to out.
void mpi_report_comittable_memory(MPI_Comm comm, long long *MemoryOnNode, long long *SharedMemoryOnNode, FILE *out = stdout);

#endif
