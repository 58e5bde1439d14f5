#include "lattice_program.h"

#include <cstdlib>
#include <cstring>

extern "C" {
int VOLUME, RAND, T, LX, LY, LZ;
lat_link **g_gauge_field;
lat_link32 **g_gauge_field_32;
lat_link **g_gauge_field_copy[2];
lat_link32 **g_gauge_field_copy_32[2];
int g_update_gauge_copy, g_update_gauge_copy_32;
int **g_idn, **g_iup, ****g_ipt;
int *g_lexic2eo, *g_lexic2eosub, *g_eo2lexic;
int *g_field_z_ipt_even, *g_field_z_ipt_odd;
int *g_field_z_disp_even_dn, *g_field_z_disp_even_up;
int *g_field_z_disp_odd_dn, *g_field_z_disp_odd_up;
int **g_coord, **g_iup_eo, **g_idn_eo;
int *g_hi;
lat_spinor **g_spinor_field;
lat_spinor32 **g_spinor_field32;
lat_spinor *g_tbuff;
lat_bispinor **g_bispinor_field;
lat_spinor **g_chi_up_spinor_field, **g_chi_dn_spinor_field;
lat_moment **moment, **df0, **ddummy;
lat_complex *g_omp_acc_cp;
double *g_omp_acc_re;
lat_monomial monomial_list[kMaxMonomials];
int no_monomials;
int omp_num_threads, g_proc_id, g_debug_level;
}

static bool cut_time;

void set_geometry(const Geometry &g)
{
  T = g.t, LX = g.lx, LY = g.ly, LZ = g.lz;
  cut_time = g.cut_time;
  VOLUME   = T * LX * LY * LZ;
  RAND     = cut_time ? 2 * LX * LY * LZ : 0;
}

int site_index(int t, int x, int y, int z)
{
  x = (x + LX) % LX, y = (y + LY) % LY, z = (z + LZ) % LZ;
  const int in_slice = (x * LY + y) * LZ + z;
  if(!cut_time)
    t = (t + T) % T;
  else if(t == T)
    return VOLUME + in_slice;  // upper boundary slice
  else if(t == -1)
    return VOLUME + LX * LY * LZ + in_slice;  // lower boundary slice
  return ((t * LX + x) * LY + y) * LZ + z;
}

void fill_geometry()
{
  const int half = (VOLUME + RAND) / 2;
  int next[2]    = {0, 0};
  auto place     = [&](int b, int t, int x, int y, int z) {
    const int p       = ((t + x + y + z) % 2 + 2) % 2;
    const int sub     = next[p]++;
    g_lexic2eosub[b]  = sub;
    g_lexic2eo[b]     = p * half + sub;
    g_eo2lexic[p * half + sub] = b;
  };
  // interior first, so each parity's boundary sites follow its VOLUME/2 interior ones
  for(int t = 0; t < T; t++)
    for(int x = 0; x < LX; x++)
      for(int y = 0; y < LY; y++)
        for(int z = 0; z < LZ; z++)
          {
            const int b          = site_index(t, x, y, z);
            g_ipt[t][x][y][z]    = b;
            const int dn[4]      = {site_index(t - 1, x, y, z), site_index(t, x - 1, y, z), site_index(t, x, y - 1, z),
                                    site_index(t, x, y, z - 1)};
            const int upn[4]     = {site_index(t + 1, x, y, z), site_index(t, x + 1, y, z), site_index(t, x, y + 1, z),
                                    site_index(t, x, y, z + 1)};
            for(int mu = 0; mu < 4; mu++)
              g_idn[b][mu] = dn[mu], g_iup[b][mu] = upn[mu];
            place(b, t, x, y, z);
          }
  if(cut_time)
    for(int t : {T, -1})
      for(int x = 0; x < LX; x++)
        for(int y = 0; y < LY; y++)
          for(int z = 0; z < LZ; z++)
            {
              const int b = site_index(t, x, y, z);
              for(int mu = 0; mu < 4; mu++)
                g_idn[b][mu] = g_iup[b][mu] = b;
              place(b, t, x, y, z);
            }
}

void release_everything()
{
  free_gauge_field();
  free_gauge_field_32();
  free_geometry_indices();
  free_spinor_field();
  free_spinor_field_32();
  free_timslice_buffer_field();
  free_moment_field();
  free_chi_spinor_field();
  free_gauge_tmp();
  free_bispinor_field();
  free_omp_accumulators();
  free_dirac_halfspinor();
  no_monomials = 0;
}

void *AllocSpy::alloc(size_t bytes, void *ctx)
{
  auto *s         = static_cast<AllocSpy *>(ctx);
  const long call = static_cast<long>(s->sizes.size());
  s->sizes.push_back(bytes);
  if(call == s->fail_at)
    return nullptr;
  // The raw pointer sits just below the block; the block ends exactly where
  // the raw allocation does, so overruns stay visible to AddressSanitizer.
  const size_t lead = LATTORA_ALIGN + s->misalign;
  void *raw         = nullptr;
  if(posix_memalign(&raw, LATTORA_ALIGN, lead + bytes) != 0)
    return nullptr;
  auto *block = static_cast<unsigned char *>(raw) + lead;
  std::memcpy(block - sizeof(void *), &raw, sizeof(void *));
  std::memset(block, 0xA5, bytes);
  s->live++;
  return block;
}

void AllocSpy::release(void *block, void *ctx)
{
  auto *s = static_cast<AllocSpy *>(ctx);
  void *raw;
  std::memcpy(&raw, static_cast<unsigned char *>(block) - sizeof(void *), sizeof(void *));
  std::free(raw);
  s->live--;
}
