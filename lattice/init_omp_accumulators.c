#include <errno.h>

#include "lattora_mem.h"

static int acc_failed(int code)
{
  printf("init_omp_accumulators malloc errno : %d\n", errno);
  errno = 0;
  return code;
}

int init_omp_accumulators(const int n)
{
  free_omp_accumulators();
  /* One slot per thread, each written before it is read. */
  if(!(g_omp_acc_cp = lat_alloc((size_t)n, sizeof(lat_complex), 0)))
    return acc_failed(1);
  if(!(g_omp_acc_re = lat_alloc((size_t)n, sizeof(double), 0)))
    return acc_failed(2);
  return 0;
}

void free_omp_accumulators(void)
{
  LAT_RELEASE(g_omp_acc_cp);
  LAT_RELEASE(g_omp_acc_re);
}
