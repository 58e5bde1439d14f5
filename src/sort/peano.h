#ifndef VORTAN_SORT_PEANO_H
#define VORTAN_SORT_PEANO_H

#include <cstdint>

#include "data/dtypes.h"

// 192-bit position along the Peano-Hilbert curve; hs is the most significant
// word. Three octal digits per level, 64 levels.
struct peanokey
{
  MyIntPosType hs, is, ls;
};

inline bool operator<(const peanokey &a, const peanokey &b)
{
  if(a.hs != b.hs)
    return a.hs < b.hs;
  if(a.is != b.is)
    return a.is < b.is;
  return a.ls < b.ls;
}
inline bool operator>(const peanokey &a, const peanokey &b) { return b < a; }
inline bool operator>=(const peanokey &a, const peanokey &b) { return !(a < b); }
inline bool operator<=(const peanokey &a, const peanokey &b) { return !(b < a); }
inline bool operator==(const peanokey &a, const peanokey &b) { return a.hs == b.hs && a.is == b.is && a.ls == b.ls; }
inline bool operator!=(const peanokey &a, const peanokey &b) { return !(a == b); }

// Addition modulo 2^192.
inline peanokey operator+(const peanokey &a, const peanokey &b)
{
  peanokey r;
  r.ls                = a.ls + b.ls;
  MyIntPosType carry1 = r.ls < a.ls;
  r.is                = a.is + b.is;
  MyIntPosType carry2 = r.is < a.is;
  r.is += carry1;
  carry2 |= (carry1 && r.is == 0);
  r.hs = a.hs + b.hs + carry2;
  return r;
}

// Shifts by any amount; bits beyond the 192 are dropped.
inline peanokey operator<<(const peanokey &a, int n)
{
  if(n <= 0)
    return a;
  if(n >= 192)
    return peanokey{0, 0, 0};
  MyIntPosType w[3] = {a.ls, a.is, a.hs}, r[3] = {0, 0, 0};
  int ws = n / 64, bs = n % 64;
  for(int i = 2; i >= ws; i--)
    {
      r[i] = w[i - ws] << bs;
      if(bs && i - ws - 1 >= 0)
        r[i] |= w[i - ws - 1] >> (64 - bs);
    }
  return peanokey{r[2], r[1], r[0]};
}

inline peanokey operator>>(const peanokey &a, int n)
{
  if(n <= 0)
    return a;
  if(n >= 192)
    return peanokey{0, 0, 0};
  MyIntPosType w[3] = {a.ls, a.is, a.hs}, r[3] = {0, 0, 0};
  int ws = n / 64, bs = n % 64;
  for(int i = 0; i + ws <= 2; i++)
    {
      r[i] = w[i + ws] >> bs;
      if(bs && i + ws + 1 <= 2)
        r[i] |= w[i + ws + 1] << (64 - bs);
    }
  return peanokey{r[2], r[1], r[0]};
}

// The key of value j * 2^shift (modulo 2^192); a negative shift divides.
inline peanokey get_peanokey_offset(unsigned int j, int shift)
{
  peanokey k{0, 0, j};
  return shift >= 0 ? (k << shift) : (k >> -shift);
}

namespace peano_tables
{
// Forward curve: key digit of each octant (pixel = 4x+2y+z) and the state used
// inside it one level down. State 0 is the start state.
inline constexpr unsigned char subpix3[48][8] = {
    {0, 7, 1, 6, 3, 4, 2, 5}, {7, 4, 6, 5, 0, 3, 1, 2}, {4, 3, 5, 2, 7, 0, 6, 1}, {3, 0, 2, 1, 4, 7, 5, 6}, {1, 0, 6, 7, 2, 3, 5, 4},
    {0, 3, 7, 4, 1, 2, 6, 5}, {3, 2, 4, 5, 0, 1, 7, 6}, {2, 1, 5, 6, 3, 0, 4, 7}, {6, 1, 7, 0, 5, 2, 4, 3}, {1, 2, 0, 3, 6, 5, 7, 4},
    {2, 5, 3, 4, 1, 6, 0, 7}, {5, 6, 4, 7, 2, 1, 3, 0}, {7, 6, 0, 1, 4, 5, 3, 2}, {6, 5, 1, 2, 7, 4, 0, 3}, {5, 4, 2, 3, 6, 7, 1, 0},
    {4, 7, 3, 0, 5, 6, 2, 1}, {6, 7, 5, 4, 1, 0, 2, 3}, {7, 0, 4, 3, 6, 1, 5, 2}, {0, 1, 3, 2, 7, 6, 4, 5}, {1, 6, 2, 5, 0, 7, 3, 4},
    {2, 3, 1, 0, 5, 4, 6, 7}, {3, 4, 0, 7, 2, 5, 1, 6}, {4, 5, 7, 6, 3, 2, 0, 1}, {5, 2, 6, 1, 4, 3, 7, 0}, {7, 0, 6, 1, 4, 3, 5, 2},
    {0, 3, 1, 2, 7, 4, 6, 5}, {3, 4, 2, 5, 0, 7, 1, 6}, {4, 7, 5, 6, 3, 0, 2, 1}, {6, 7, 1, 0, 5, 4, 2, 3}, {7, 4, 0, 3, 6, 5, 1, 2},
    {4, 5, 3, 2, 7, 6, 0, 1}, {5, 6, 2, 1, 4, 7, 3, 0}, {1, 6, 0, 7, 2, 5, 3, 4}, {6, 5, 7, 4, 1, 2, 0, 3}, {5, 2, 4, 3, 6, 1, 7, 0},
    {2, 1, 3, 0, 5, 6, 4, 7}, {0, 1, 7, 6, 3, 2, 4, 5}, {1, 2, 6, 5, 0, 3, 7, 4}, {2, 3, 5, 4, 1, 0, 6, 7}, {3, 0, 4, 7, 2, 1, 5, 6},
    {1, 0, 2, 3, 6, 7, 5, 4}, {0, 7, 3, 4, 1, 6, 2, 5}, {7, 6, 4, 5, 0, 1, 3, 2}, {6, 1, 5, 2, 7, 0, 4, 3}, {5, 4, 6, 7, 2, 3, 1, 0},
    {4, 3, 7, 0, 5, 2, 6, 1}, {3, 2, 0, 1, 4, 5, 7, 6}, {2, 5, 1, 6, 3, 4, 0, 7}};

inline constexpr unsigned char rottable3[48][8] = {
    {36, 28, 25, 27, 10, 10, 25, 27}, {29, 11, 24, 24, 37, 11, 26, 26}, {8, 8, 25, 27, 30, 38, 25, 27},
    {9, 39, 24, 24, 9, 31, 26, 26},   {40, 24, 44, 32, 40, 6, 44, 6},   {25, 7, 33, 7, 41, 41, 45, 45},
    {4, 42, 4, 46, 26, 42, 34, 46},   {43, 43, 47, 47, 5, 27, 5, 35},   {33, 35, 36, 28, 33, 35, 2, 2},
    {32, 32, 29, 3, 34, 34, 37, 3},   {33, 35, 0, 0, 33, 35, 30, 38},   {32, 32, 1, 39, 34, 34, 1, 31},
    {24, 42, 32, 46, 14, 42, 14, 46}, {43, 43, 47, 47, 25, 15, 33, 15}, {40, 12, 44, 12, 40, 26, 44, 34},
    {13, 27, 13, 35, 41, 41, 45, 45}, {28, 41, 28, 22, 38, 43, 38, 22}, {42, 40, 23, 23, 29, 39, 29, 39},
    {41, 36, 20, 36, 43, 30, 20, 30}, {37, 31, 37, 31, 42, 40, 21, 21}, {28, 18, 28, 45, 38, 18, 38, 47},
    {19, 19, 46, 44, 29, 39, 29, 39}, {16, 36, 45, 36, 16, 30, 47, 30}, {37, 31, 37, 31, 17, 17, 46, 44},
    {12, 4, 1, 3, 34, 34, 1, 3},      {5, 35, 0, 0, 13, 35, 2, 2},      {32, 32, 1, 3, 6, 14, 1, 3},
    {33, 15, 0, 0, 33, 7, 2, 2},      {16, 0, 20, 8, 16, 30, 20, 30},   {1, 31, 9, 31, 17, 17, 21, 21},
    {28, 18, 28, 22, 2, 18, 10, 22},  {19, 19, 23, 23, 29, 3, 29, 11},  {9, 11, 12, 4, 9, 11, 26, 26},
    {8, 8, 5, 27, 10, 10, 13, 27},    {9, 11, 24, 24, 9, 11, 6, 14},    {8, 8, 25, 15, 10, 10, 25, 7},
    {0, 18, 8, 22, 38, 18, 38, 22},   {19, 19, 23, 23, 1, 39, 9, 39},   {16, 36, 20, 36, 16, 2, 20, 10},
    {37, 3, 37, 11, 17, 17, 21, 21},  {4, 17, 4, 46, 14, 19, 14, 46},   {18, 16, 47, 47, 5, 15, 5, 15},
    {17, 12, 44, 12, 19, 6, 44, 6},   {13, 7, 13, 7, 18, 16, 45, 45},   {4, 42, 4, 21, 14, 42, 14, 23},
    {43, 43, 22, 20, 5, 15, 5, 15},   {40, 12, 21, 12, 40, 6, 23, 6},   {13, 7, 13, 7, 41, 41, 22, 20}};

struct inverse_tables
{
  unsigned char ipix[48][8];
  unsigned char irot[48][8];
};

// Inverse state s walks forward state (s + 24) mod 48.
constexpr inverse_tables make_inverse_tables()
{
  inverse_tables t{};
  for(int s = 0; s < 48; s++)
    {
      int f = (s + 24) % 48;
      for(int p = 0; p < 8; p++)
        {
          int d        = subpix3[f][p];
          t.ipix[s][d] = p;
          t.irot[s][d] = (rottable3[f][p] + 24) % 48;
        }
    }
  return t;
}

inline constexpr inverse_tables inverse = make_inverse_tables();
inline constexpr const unsigned char (&ipixtable3)[48][8] = inverse.ipix;
inline constexpr const unsigned char (&irottable3)[48][8] = inverse.irot;

// Two levels per lookup. Entry = the two key digits (6 bits) | 64 * next state,
// so masking off the digits gives the row offset of the next lookup directly
// and the dependency chain is one load and one AND per two levels. The index
// within a row is (x bits << 4) | (y bits << 2) | (z bits), two bits each.
struct step_tables
{
  std::uint16_t two[48 * 64];
  std::uint16_t one[48 * 8];
};

constexpr step_tables make_step_tables()
{
  step_tables t{};
  for(int s = 0; s < 48; s++)
    {
      for(int p = 0; p < 8; p++)
        t.one[s * 8 + p] = subpix3[s][p] | (rottable3[s][p] << 6);
      for(int c = 0; c < 64; c++)
        {
          int xb = (c >> 4) & 3, yb = (c >> 2) & 3, zb = c & 3;
          int p1 = ((xb >> 1) << 2) | ((yb >> 1) << 1) | (zb >> 1);
          int p0 = ((xb & 1) << 2) | ((yb & 1) << 1) | (zb & 1);
          int s1 = rottable3[s][p1];
          int d  = (subpix3[s][p1] << 3) | subpix3[s1][p0];
          t.two[s * 64 + c] = d | (rottable3[s1][p0] << 6);
        }
    }
  return t;
}

inline constexpr step_tables steps = make_step_tables();
}  // namespace peano_tables

// Key of the point from the low `bits` bits (1..64) of each coordinate; the
// first octal digit comes from bit bits-1.
inline peanokey peano_hilbert_key(MyIntPosType x, MyIntPosType y, MyIntPosType z, int bits)
{
  using peano_tables::steps;
  MyIntPosType hs = 0, is = 0, ls = 0;
  unsigned int row = 0;  // state * 64
  int level        = bits;

  if(level & 1)
    {
      level--;
      unsigned int pix = (((x >> level) & 1) << 2) | (((y >> level) & 1) << 1) | ((z >> level) & 1);
      unsigned int v   = steps.one[(row >> 3) + pix];
      ls               = v & 7;
      row              = v & ~63u;
    }

  while(level > 0)
    {
      level -= 2;
      unsigned int c = (((x >> level) & 3) << 4) | (((y >> level) & 3) << 2) | ((z >> level) & 3);
      unsigned int v = steps.two[row + c];
      hs             = (hs << 6) | (is >> 58);
      is             = (is << 6) | (ls >> 58);
      ls             = (ls << 6) | (v & 63);
      row            = v & ~63u;
    }

  return peanokey{hs, is, ls};
}

// One level of descent: the digit of octant pix in state *rotation; *rotation
// becomes the state inside that octant.
inline unsigned char peano_incremental_key(unsigned char pix, unsigned char *rotation)
{
  unsigned char key = peano_tables::subpix3[*rotation][pix];
  *rotation         = peano_tables::rottable3[*rotation][pix];
  return key;
}

// Coordinates (low `bits` bits each) of a key made with the same bit count.
void peano_hilbert_key_inverse(peanokey key, int bits, MyIntPosType *x, MyIntPosType *y, MyIntPosType *z);

#endif
