#include "lattora_mem.h"

lat_moment *mo, *df, *du;

/* 4n+1 zero-filled elements and n pointers stepping 4 of them. */
static int moment_array(lat_moment **block, lat_moment ***ptrs, size_t n, int code_block)
{
  if(!(*block = lat_alloc(4 * n + 1, sizeof(lat_moment), 1)))
    return lat_failed(stdout, code_block);
  if(!(*ptrs = lat_alloc(n, sizeof(lat_moment *), 0)))
    return lat_failed(stdout, code_block + 1);
  for(size_t i = 0; i < n; i++)
    (*ptrs)[i] = *block + 4 * i;
  return 0;
}

int init_moment_field(const int V, const int n)
{
  free_moment_field();
  int rc;
  if((rc = moment_array(&mo, &moment, (size_t)V, 1)) != 0)
    return rc;
  if((rc = moment_array(&df, &df0, (size_t)n, 3)) != 0)
    return rc;
  return moment_array(&du, &ddummy, (size_t)n, 5);
}

void free_moment_field(void)
{
  LAT_RELEASE(mo);
  LAT_RELEASE(moment);
  LAT_RELEASE(df);
  LAT_RELEASE(df0);
  LAT_RELEASE(du);
  LAT_RELEASE(ddummy);
}
