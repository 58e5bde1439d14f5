#include "lattora_mem.h"

lat_halfspinor *HalfSpinor_, *HalfSpinor;
lat_halfspinor *sendBuffer_, *sendBuffer, *recvBuffer_, *recvBuffer;
lat_halfspinor **NBPointer_, ***NBPointer;
lat_halfspinor32 *HalfSpinor32_, *HalfSpinor32;
lat_halfspinor32 *sendBuffer32, *recvBuffer32;
lat_halfspinor32 **NBPointer32_, ***NBPointer32;

enum slot_home
{
  IN_FIELD,
  IN_SEND,
  IN_RECV
};

/* Where entry o of half-lattice site m of table tab points: an index into
 * the half-spinor field or into the send or receive buffer. Tables 0 and 1
 * scatter from odd and even sites into the neighbours' slots, tables 2 and 3
 * gather at even and odd sites from their own slots. A slot moves into a
 * buffer only when the neighbour lies in the boundary region (index >=
 * VOLUME); on a direction without boundary the neighbour wraps inside the
 * lattice and keeps its field slot. */
static size_t slot(int tab, int m, int o, enum slot_home *home)
{
  const int half   = (VOLUME + RAND) / 2;
  const int parity = (tab == 0 || tab == 3);
  const int b      = g_eo2lexic[m + parity * half];
  const int mu = o >> 1, up = o & 1;

  if(tab < 2)
    {
      const int n = up ? g_iup[b][mu] : g_idn[b][mu];
      if(n >= VOLUME)
        {
          *home = IN_SEND;
          return (size_t)(g_lexic2eosub[n] - VOLUME / 2);
        }
      *home = IN_FIELD;
      return 8 * (size_t)g_lexic2eosub[n] + (size_t)o;
    }
  /* entry 2 mu holds what the up neighbour sent down, 2 mu + 1 the reverse */
  const int n = up ? g_idn[b][mu] : g_iup[b][mu];
  if(n >= VOLUME)
    {
      *home = IN_RECV;
      return (size_t)(g_lexic2eosub[n] - VOLUME / 2);
    }
  *home = IN_FIELD;
  return 8 * (size_t)m + (size_t)o;
}

int init_dirac_halfspinor(void)
{
  free_dirac_halfspinor();

  const size_t vr = (size_t)VOLUME + RAND, nbuf = (size_t)RAND / 2 + 8;
  if(!(NBPointer_ = lat_alloc(16 * vr, sizeof(lat_halfspinor *), 1)) ||
     !(NBPointer = lat_alloc(4, sizeof(lat_halfspinor **), 0)) ||
     !(HalfSpinor_ = lat_alloc(4 * (size_t)VOLUME + 1, sizeof(lat_halfspinor), 1)) ||
     !(sendBuffer_ = lat_alloc(nbuf, sizeof(lat_halfspinor), 1)) ||
     !(recvBuffer_ = lat_alloc(nbuf, sizeof(lat_halfspinor), 1)))
    return lat_failed(stdout, 1);

  /* the spare element of each block absorbs the shift */
  HalfSpinor = lat_align_up(HalfSpinor_);
  sendBuffer = lat_align_up(sendBuffer_);
  recvBuffer = lat_align_up(recvBuffer_);

  const int half       = (int)(vr / 2);
  lat_halfspinor *const base[3] = {HalfSpinor, sendBuffer, recvBuffer};
  for(int tab = 0; tab < 4; tab++)
    {
      lat_halfspinor **nb = NBPointer[tab] = NBPointer_ + 4 * (size_t)tab * vr;
      for(int m = 0; m < VOLUME / 2; m++)
        for(int o = 0; o < 8; o++)
          {
            enum slot_home home;
            const size_t k      = slot(tab, m, o, &home);
            nb[8 * (size_t)m + o] = base[home] + k;
          }
      for(size_t e = 8 * (size_t)(VOLUME / 2); e < 8 * (size_t)half; e++)
        nb[e] = nb[0];
    }
  return 0;
}

int init_dirac_halfspinor32(void)
{
  free_dirac_halfspinor32();
  /* The double-precision buffers serve as ours; without them the boundary
   * slots would point at nothing. */
  if(!sendBuffer || !recvBuffer)
    return -1;

  const size_t vr = (size_t)VOLUME + RAND;
  if(!(NBPointer32_ = lat_alloc(16 * vr, sizeof(lat_halfspinor32 *), 1)) ||
     !(NBPointer32 = lat_alloc(4, sizeof(lat_halfspinor32 **), 0)) ||
     !(HalfSpinor32_ = lat_alloc(4 * (size_t)VOLUME + 1, sizeof(lat_halfspinor32), 1)))
    return lat_failed(stdout, -1);

  HalfSpinor32 = HalfSpinor32_;
  sendBuffer32 = (lat_halfspinor32 *)sendBuffer;
  recvBuffer32 = (lat_halfspinor32 *)recvBuffer;

  const int half                  = (int)(vr / 2);
  lat_halfspinor32 *const base[3] = {HalfSpinor32, sendBuffer32, recvBuffer32};
  for(int tab = 0; tab < 4; tab++)
    {
      lat_halfspinor32 **nb = NBPointer32[tab] = NBPointer32_ + 4 * (size_t)tab * vr;
      for(int m = 0; m < VOLUME / 2; m++)
        for(int o = 0; o < 8; o++)
          {
            enum slot_home home;
            const size_t k      = slot(tab, m, o, &home);
            nb[8 * (size_t)m + o] = base[home] + k;
          }
      for(size_t e = 8 * (size_t)(VOLUME / 2); e < 8 * (size_t)half; e++)
        nb[e] = nb[0];
    }
  return 0;
}

void free_dirac_halfspinor(void)
{
  LAT_RELEASE(NBPointer_);
  LAT_RELEASE(NBPointer);
  LAT_RELEASE(HalfSpinor_);
  LAT_RELEASE(sendBuffer_);
  LAT_RELEASE(recvBuffer_);
  HalfSpinor = sendBuffer = recvBuffer = NULL;
  /* the single-precision tables point into these buffers */
  free_dirac_halfspinor32();
}

void free_dirac_halfspinor32(void)
{
  LAT_RELEASE(NBPointer32_);
  LAT_RELEASE(NBPointer32);
  LAT_RELEASE(HalfSpinor32_);
  HalfSpinor32 = NULL;
  sendBuffer32 = recvBuffer32 = NULL;
}
