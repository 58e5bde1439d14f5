#include "lattora_mem.h"

lat_spinor *sp, *sp_csg, *sp_tbuff;
lat_spinor32 *sp32;

/* One block for the index arrays of all monomials' histories. */
static int *csg_index_block;

int allocate_spinor_field_array(lat_spinor ***fields, lat_spinor **block, const int V, const int count)
{
  const size_t v = (size_t)V, n = (size_t)count;
  if(!(*block = lat_alloc(n * v + 1, sizeof(lat_spinor), 1)))
    return lat_failed(stdout, 1);
  if(!(*fields = lat_alloc(n, sizeof(lat_spinor *), 0)))
    return lat_failed(stdout, 2);
  for(size_t k = 0; k < n; k++)
    (*fields)[k] = *block + k * v;
  return 0;
}

void free_spinor_field_array(lat_spinor ***fields, lat_spinor **block)
{
  LAT_RELEASE(*block);
  LAT_RELEASE(*fields);
}

int init_spinor_field(const int V, const int count)
{
  free_spinor_field_array(&g_spinor_field, &sp);
  return allocate_spinor_field_array(&g_spinor_field, &sp, V, count);
}

int init_spinor_field_32(const int V, const int count)
{
  free_spinor_field_32();
  const size_t v = (size_t)V, n = (size_t)count;
  if(!(sp32 = lat_alloc(n * v + 1, sizeof(lat_spinor32), 1)))
    return lat_failed(stdout, 1);
  if(!(g_spinor_field32 = lat_alloc(n, sizeof(lat_spinor32 *), 0)))
    return lat_failed(stdout, 2);
  for(size_t k = 0; k < n; k++)
    g_spinor_field32[k] = sp32 + k * v;
  return 0;
}

void free_spinor_field(void)
{
  free_spinor_field_array(&g_spinor_field, &sp);
  free_csg_field();
}

void free_spinor_field_32(void)
{
  LAT_RELEASE(sp32);
  LAT_RELEASE(g_spinor_field32);
}

int init_csg_field(const int V)
{
  free_csg_field();

  size_t count = 0;
  for(int j = 0; j < no_monomials; j++)
    count += (size_t)monomial_list[j].csg_n + (size_t)monomial_list[j].csg_n2;
  if(count == 0)
    return 0;

  const size_t v = (size_t)V;
  if(!(sp_csg = lat_alloc(v * count + 1, sizeof(lat_spinor), 1)))
    return 1;
  for(int j = 0; j < no_monomials; j++)
    {
      lat_monomial *m = &monomial_list[j];
      /* the spare first-history entry stays null */
      if(!(m->csg_field = lat_alloc((size_t)m->csg_n + 1, sizeof(lat_spinor *), 1)))
        return 2;
      if(m->csg_n2 > 0 && !(m->csg_field2 = lat_alloc((size_t)m->csg_n2, sizeof(lat_spinor *), 0)))
        return 2;
    }
  if(!(csg_index_block = lat_alloc(count, sizeof(int), 1)))
    return 3;

  /* All first histories, in table order, then all second histories. */
  size_t slice = 0;
  for(int j = 0; j < no_monomials; j++)
    {
      lat_monomial *m = &monomial_list[j];
      m->csg_index    = csg_index_block + slice;
      for(int i = 0; i < m->csg_n; i++, slice++)
        m->csg_field[i] = sp_csg + slice * v;
    }
  for(int j = 0; j < no_monomials; j++)
    {
      lat_monomial *m = &monomial_list[j];
      m->csg_index2   = csg_index_block + slice;
      for(int i = 0; i < m->csg_n2; i++, slice++)
        m->csg_field2[i] = sp_csg + slice * v;
    }
  return 0;
}

void free_csg_field(void)
{
  LAT_RELEASE(sp_csg);
  LAT_RELEASE(csg_index_block);
  for(int j = 0; j < no_monomials; j++)
    {
      lat_monomial *m = &monomial_list[j];
      LAT_RELEASE(m->csg_field);
      LAT_RELEASE(m->csg_field2);
      m->csg_index  = NULL;
      m->csg_index2 = NULL;
    }
}

int init_timslice_buffer_field(const int n)
{
  free_timslice_buffer_field();
  if(!(sp_tbuff = lat_alloc((size_t)n + 1, sizeof(lat_spinor), 1)))
    return lat_failed(stdout, 3);
  g_tbuff = sp_tbuff;
  return 0;
}

void free_timslice_buffer_field(void)
{
  LAT_RELEASE(sp_tbuff);
  g_tbuff = NULL;
}
