#include "lattora_mem.h"

lat_link **gauge_tmp, *gauge_tmp_;

int init_gauge_tmp(const int V)
{
  free_gauge_tmp();
  if(!(gauge_tmp = lat_alloc((size_t)V, sizeof(lat_link *), 0)))
    return lat_failed(stderr, 1);
  if(!(gauge_tmp_ = lat_alloc(4 * (size_t)V + 1, sizeof(lat_link), 1)))
    return lat_failed(stderr, 1);
  for(int i = 0; i < V; i++)
    gauge_tmp[i] = gauge_tmp_ + 4 * (size_t)i;
  return 0;
}

void free_gauge_tmp(void)
{
  LAT_RELEASE(gauge_tmp_);
  LAT_RELEASE(gauge_tmp);
}
