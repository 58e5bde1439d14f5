#include "lattora_mem.h"

lat_spinor *sp_up;

static int chi_initialised = 0;
static int _nr             = 0;

/* On failure nothing is kept, so the state never claims missing fields. */
static int chi_failed(int code)
{
  lat_failed(stdout, code);
  free_chi_spinor_field();
  return code;
}

int init_chi_spinor_field(const int V, const int nr)
{
  if(chi_initialised && nr <= _nr)
    return 0;
  free_chi_spinor_field();

  const size_t v = (size_t)V, n = (size_t)nr;
  if(!(sp_up = lat_alloc(2 * n * v + 1, sizeof(lat_spinor), 1)))
    return chi_failed(1);
  if(!(g_chi_up_spinor_field = lat_alloc(2 * n, sizeof(lat_spinor *), 0)))
    return chi_failed(2);
  if(!(g_chi_dn_spinor_field = lat_alloc(n, sizeof(lat_spinor *), 0)))
    return chi_failed(2);
  for(size_t k = 0; k < 2 * n; k++)
    g_chi_up_spinor_field[k] = sp_up + k * v;
  for(size_t k = 0; k < n; k++)
    g_chi_dn_spinor_field[k] = g_chi_up_spinor_field[n + k];

  chi_initialised = 1;
  _nr             = nr;
  return 0;
}

void free_chi_spinor_field(void)
{
  LAT_RELEASE(sp_up);
  LAT_RELEASE(g_chi_up_spinor_field);
  LAT_RELEASE(g_chi_dn_spinor_field);
  chi_initialised = 0;
  _nr             = 0;
}
