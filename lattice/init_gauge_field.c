#include "lattora_mem.h"

lat_link *gauge_field, *gauge_field_copy;
lat_link32 *gauge_field_32, *gauge_field_copy_32;

int init_gauge_field(const int V, const int back)
{
  free_gauge_field();

  if(!(g_gauge_field = lat_alloc((size_t)V, sizeof(lat_link *), 0)))
    return lat_failed(stdout, 1);
  if(!(gauge_field = lat_alloc(4 * (size_t)V + 1, sizeof(lat_link), 1)))
    return lat_failed(stdout, 2);
  for(int i = 0; i < V; i++)
    g_gauge_field[i] = gauge_field + 4 * (size_t)i;

  if(back == 1)
    {
      /* The copy always spans the whole local lattice, whatever V is. */
      lat_link **copy = lat_alloc((size_t)VOLUME, sizeof(lat_link *), 0);
      if(!copy)
        return lat_failed(stdout, 3);
      g_gauge_field_copy[0] = copy;
      g_gauge_field_copy[1] = copy + VOLUME / 2;
      if(!(gauge_field_copy = lat_alloc(4 * (size_t)VOLUME + 1, sizeof(lat_link), 1)))
        return lat_failed(stdout, 4);
      for(int i = 0; i < VOLUME; i++)
        copy[i] = gauge_field_copy + 4 * (size_t)i;
    }
  g_update_gauge_copy = 1;
  return 0;
}

int init_gauge_field_32(const int V, const int back)
{
  free_gauge_field_32();

  if(!(g_gauge_field_32 = lat_alloc((size_t)V, sizeof(lat_link32 *), 0)))
    return lat_failed(stdout, 1);
  if(!(gauge_field_32 = lat_alloc(4 * (size_t)V + 1, sizeof(lat_link32), 1)))
    return lat_failed(stdout, 2);
  for(int i = 0; i < V; i++)
    g_gauge_field_32[i] = gauge_field_32 + 4 * (size_t)i;

  if(back == 1)
    {
      lat_link32 **copy = lat_alloc((size_t)VOLUME, sizeof(lat_link32 *), 0);
      if(!copy)
        return lat_failed(stdout, 3);
      g_gauge_field_copy_32[0] = copy;
      g_gauge_field_copy_32[1] = copy + VOLUME / 2;
      if(!(gauge_field_copy_32 = lat_alloc(4 * (size_t)VOLUME + 1, sizeof(lat_link32), 1)))
        return lat_failed(stdout, 4);
      for(int i = 0; i < VOLUME; i++)
        copy[i] = gauge_field_copy_32 + 4 * (size_t)i;
    }
  g_update_gauge_copy_32 = 1;
  return 0;
}

void free_gauge_field(void)
{
  LAT_RELEASE(gauge_field);
  LAT_RELEASE(g_gauge_field);
  LAT_RELEASE(gauge_field_copy);
  LAT_RELEASE(g_gauge_field_copy[0]);
  g_gauge_field_copy[1] = NULL;
}

void free_gauge_field_32(void)
{
  LAT_RELEASE(gauge_field_32);
  LAT_RELEASE(g_gauge_field_32);
  LAT_RELEASE(gauge_field_copy_32);
  LAT_RELEASE(g_gauge_field_copy_32[0]);
  g_gauge_field_copy_32[1] = NULL;
}

void convert_32_gauge_field(lat_link32 **dst, lat_link **src, const int n)
{
  for(int i = 0; i < n; i++)
    for(int mu = 0; mu < 4; mu++)
      {
        const lat_link *s = &src[i][mu];
        lat_link32 *d     = &dst[i][mu];
        for(int a = 0; a < 3; a++)
          for(int b = 0; b < 3; b++)
            {
              d->c[a][b].re = (float)s->c[a][b].re;
              d->c[a][b].im = (float)s->c[a][b].im;
            }
      }
}
