#include <omp.h>

#include "lattora_mem.h"

int init_openmp(void)
{
  if(omp_num_threads < 1)
    {
      if(g_proc_id == 0)
        printf("# No value provided for OmpNumThreads, running in single-threaded mode!\n");
      omp_num_threads = 1;
    }
  else if(g_proc_id == 0 && g_debug_level > 0)
    printf("# Instructing OpenMP to use %d threads.\n", omp_num_threads);
  omp_set_num_threads(omp_num_threads);
  return init_omp_accumulators(omp_num_threads);
}
