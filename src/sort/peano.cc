#include "sort/peano.h"

void peano_hilbert_key_inverse(peanokey key, int bits, MyIntPosType *x, MyIntPosType *y, MyIntPosType *z)
{
  using peano_tables::ipixtable3;
  using peano_tables::irottable3;

  if(bits < 64)
    key = key << (3 * (64 - bits));

  MyIntPosType xx = 0, yy = 0, zz = 0;
  unsigned char state = 24;

  for(int i = 0; i < bits; i++)
    {
      unsigned int d   = key.hs >> 61;
      unsigned int pix = ipixtable3[state][d];
      state            = irottable3[state][d];
      xx               = (xx << 1) | (pix >> 2);
      yy               = (yy << 1) | ((pix >> 1) & 1);
      zz               = (zz << 1) | (pix & 1);
      key              = key << 3;
    }

  *x = xx;
  *y = yy;
  *z = zz;
}
