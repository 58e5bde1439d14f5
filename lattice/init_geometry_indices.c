#include "lattora_mem.h"

int *idn, *iup, *ipt, **ipt_, ***ipt__;

/* Blocks of 4 ints per entry behind g_coord, g_iup_eo and g_idn_eo. */
static int *coord_, *iup_eo_, *idn_eo_;

/* n pointers chained over one block of 4 ints each; null if either fails. */
static int **per_entry_table(size_t n, int **block)
{
  int **table = lat_alloc(n, sizeof(int *), 0);
  if(!table)
    return NULL;
  if(!(*block = lat_alloc(4 * n, sizeof(int), 1)))
    {
      lat_release(table);
      return NULL;
    }
  for(size_t i = 0; i < n; i++)
    table[i] = *block + 4 * i;
  return table;
}

int init_geometry_indices(const int V)
{
  free_geometry_indices();

  const size_t v  = (size_t)V;
  const size_t t4 = (size_t)T + 4, x4 = (size_t)LX + 4, y4 = (size_t)LY + 4, z4 = (size_t)LZ + 4;
  const size_t zslab = (size_t)T * LX * LY;
  const size_t zdisp = (size_t)T * LX * (LY / 2);
  const size_t vr    = (size_t)VOLUME + RAND;

  if(!(g_idn = lat_alloc(v, sizeof(int *), 0)))
    return lat_failed(stdout, 1);
  if(!(g_iup = lat_alloc(v, sizeof(int *), 0)))
    return lat_failed(stdout, 2);
  if(!(idn = lat_alloc(4 * v, sizeof(int), 1)))
    return lat_failed(stdout, 6);
  if(!(iup = lat_alloc(4 * v, sizeof(int), 1)))
    return lat_failed(stdout, 7);
  if(!(g_ipt = lat_alloc(t4, sizeof(int ***), 0)))
    return lat_failed(stdout, 5);
  if(!(ipt__ = lat_alloc(t4 * x4, sizeof(int **), 0)))
    return lat_failed(stdout, 4);
  if(!(ipt_ = lat_alloc(t4 * x4 * y4, sizeof(int *), 0)))
    return lat_failed(stdout, 3);
  if(!(ipt = lat_alloc(t4 * x4 * y4 * z4, sizeof(int), 1)))
    return lat_failed(stdout, 8);
  if(!(g_lexic2eo = lat_alloc(v, sizeof(int), 1)))
    return lat_failed(stdout, 9);
  if(!(g_lexic2eosub = lat_alloc(v + 2, sizeof(int), 1)))
    return lat_failed(stdout, 10);
  if(!(g_eo2lexic = lat_alloc(v, sizeof(int), 1)))
    return lat_failed(stdout, 11);
  if(!(g_field_z_ipt_even = lat_alloc(zslab, sizeof(int), 1)))
    return lat_failed(stdout, 12);
  if(!(g_field_z_ipt_odd = lat_alloc(zslab, sizeof(int), 1)))
    return lat_failed(stdout, 13);
  if(!(g_field_z_disp_even_dn = lat_alloc(zdisp, sizeof(int), 1)))
    return lat_failed(stdout, 14);
  if(!(g_field_z_disp_even_up = lat_alloc(zdisp, sizeof(int), 1)))
    return lat_failed(stdout, 15);
  if(!(g_field_z_disp_odd_dn = lat_alloc(zdisp, sizeof(int), 1)))
    return lat_failed(stdout, 16);
  if(!(g_field_z_disp_odd_up = lat_alloc(zdisp, sizeof(int), 1)))
    return lat_failed(stdout, 17);
  if(!(g_coord = per_entry_table((size_t)VOLUME, &coord_)))
    return lat_failed(stdout, 19);
  if(!(g_iup_eo = per_entry_table(vr, &iup_eo_)))
    return lat_failed(stdout, 21);
  if(!(g_idn_eo = per_entry_table(vr, &idn_eo_)))
    return lat_failed(stdout, 22);
  if(!(g_hi = lat_alloc(16 * vr + 2, sizeof(int), 1)))
    return lat_failed(stdout, 40);

  for(size_t i = 0; i < v; i++)
    {
      g_idn[i] = idn + 4 * i;
      g_iup[i] = iup + 4 * i;
    }
  for(size_t k = 0; k < t4; k++)
    g_ipt[k] = ipt__ + k * x4;
  for(size_t k = 0; k < t4 * x4; k++)
    ipt__[k] = ipt_ + k * y4;
  for(size_t k = 0; k < t4 * x4 * y4; k++)
    ipt_[k] = ipt + k * z4;
  return 0;
}

void free_geometry_indices(void)
{
  LAT_RELEASE(idn);
  LAT_RELEASE(iup);
  LAT_RELEASE(ipt);
  LAT_RELEASE(ipt_);
  LAT_RELEASE(ipt__);
  LAT_RELEASE(g_ipt);
  LAT_RELEASE(g_idn);
  LAT_RELEASE(g_iup);
  LAT_RELEASE(g_hi);
  LAT_RELEASE(g_eo2lexic);
  LAT_RELEASE(g_lexic2eosub);
  LAT_RELEASE(g_lexic2eo);
  LAT_RELEASE(g_field_z_ipt_odd);
  LAT_RELEASE(g_field_z_ipt_even);
  LAT_RELEASE(g_field_z_disp_even_dn);
  LAT_RELEASE(g_field_z_disp_even_up);
  LAT_RELEASE(g_field_z_disp_odd_dn);
  LAT_RELEASE(g_field_z_disp_odd_up);
  LAT_RELEASE(g_coord);
  LAT_RELEASE(coord_);
  LAT_RELEASE(g_iup_eo);
  LAT_RELEASE(iup_eo_);
  LAT_RELEASE(g_idn_eo);
  LAT_RELEASE(idn_eo_);
}
