#include "lattora_mem.h"

lat_bispinor *bisp;

int init_bispinor_field(const int V, const int count)
{
  free_bispinor_field();
  const size_t v = (size_t)V, n = (size_t)count;
  if(!(bisp = lat_alloc(n * v + 1, sizeof(lat_bispinor), 1)))
    return lat_failed(stdout, 1);
  if(!(g_bispinor_field = lat_alloc(n, sizeof(lat_bispinor *), 0)))
    return lat_failed(stdout, 2);
  for(size_t k = 0; k < n; k++)
    g_bispinor_field[k] = bisp + k * v;
  return 0;
}

void free_bispinor_field(void)
{
  LAT_RELEASE(bisp);
  LAT_RELEASE(g_bispinor_field);
}
