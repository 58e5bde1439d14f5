#ifndef VORTAN_DATA_INTPOSCONVERT_H
#define VORTAN_DATA_INTPOSCONVERT_H

#include <cmath>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "data/dtypes.h"
#include "data/macros.h"

// Maps the cubic region [RegionCorner, RegionCorner + RegionLen) onto the full
// unsigned 64-bit range, so that differences of integer positions wrap exactly.
class intposconvert
{
 public:
  MyReal FacIntToCoord = 0;
  MyReal FacCoordToInt = 0;
  MyReal RegionLen     = 0;
  MyReal RegionCorner[3] = {0, 0, 0};
  MyReal RegionCenter[3] = {0, 0, 0};

  static constexpr double TWO_POW_64 = 18446744073709551616.0;
  static constexpr int MAX_ITER      = 10000;

  // Sets the five frame members consistently for a cube of side len around center.
  void set_region(const double center[3], double len)
  {
    RegionLen     = len;
    FacIntToCoord = len / TWO_POW_64;
    FacCoordToInt = TWO_POW_64 / len;
    for(int k = 0; k < 3; k++)
      {
        RegionCenter[k] = center[k];
        RegionCorner[k] = center[k] - 0.5 * len;
      }
  }

  void intpos_to_pos(const MyIntPosType *intpos, double *pos) const
  {
    for(int k = 0; k < 3; k++)
      pos[k] = RegionCorner[k] + FacIntToCoord * intpos_to_double(intpos[k]);
  }

  // The same value as static_cast<double>(x), rounded once. Without AVX-512 the
  // direct conversion of an unsigned 64-bit integer branches on the top bit,
  // which random positions mispredict half of the time; both halves convert
  // exactly and the sum rounds once.
  static double intpos_to_double(MyIntPosType x)
  {
    return static_cast<double>(static_cast<uint32_t>(x >> 32)) * 4294967296.0 + static_cast<double>(static_cast<uint32_t>(x));
  }

  void pos_to_intpos(const double *pos, MyIntPosType *intpos) const
  {
    for(int k = 0; k < 3; k++)
      intpos[k] = constrain_intpos((pos[k] - RegionCorner[k]) * FacCoordToInt);
  }

  // Wraps x into [0, 2^64) and converts it. The common case, x already in
  // range, stays inline and free of the error paths.
  static MyIntPosType constrain_intpos(double x)
  {
    if(x >= 0 && x < TWO_POW_64)
      return double_to_intpos(x);
    return wrap_intpos(x);
  }

  // static_cast<MyIntPosType>(x) for x in [0, 2^64). The plain cast branches on
  // x >= 2^63, which random positions mispredict half of the time; here both
  // signed conversions are done and one is selected without a branch.
  static MyIntPosType double_to_intpos(double x)
  {
#if defined(__x86_64__)
    const double two63 = 9223372036854775808.0;
    uint64_t lo        = static_cast<uint64_t>(_mm_cvttsd_si64(_mm_set_sd(x)));
    uint64_t hi        = static_cast<uint64_t>(_mm_cvttsd_si64(_mm_set_sd(x - two63))) ^ (uint64_t(1) << 63);
    uint64_t mask      = uint64_t(0) - static_cast<uint64_t>(x >= two63);
    return (lo & ~mask) | (hi & mask);
#else
    return static_cast<MyIntPosType>(x);
#endif
  }

  static MyIntPosType wrap_intpos(double x)
  {
    // NaN would pass both loops and convert to garbage; infinity would spin.
    if(!std::isfinite(x))
      FATAL_ERROR("non-finite coordinate (%g) cannot be mapped onto the integer frame", x);
    int rep = 0;
    while(x < 0)
      {
        x += TWO_POW_64;
        if(++rep > MAX_ITER)
          FATAL_ERROR("rep > MAX_ITER");
      }
    while(x >= TWO_POW_64)
      {
        x -= TWO_POW_64;
        if(++rep > MAX_ITER)
          FATAL_ERROR("rep > MAX_ITER");
      }
    return static_cast<MyIntPosType>(x);
  }

  void pos_to_signedintpos(const double *d, MySignedIntPosType *intpos) const
  {
    for(int k = 0; k < 3; k++)
      intpos[k] = static_cast<MySignedIntPosType>(llrint(d[k] * FacCoordToInt));
  }

  void signedintpos_to_distanceorigin(const MySignedIntPosType *intpos, double *pos) const
  {
    for(int k = 0; k < 3; k++)
      pos[k] = FacIntToCoord * static_cast<double>(intpos[k]);
  }

  // Adds a signed offset with unsigned wrap-around (the drift).
  static void intpos_add_offset(MyIntPosType *intpos, const MySignedIntPosType *delta)
  {
    for(int k = 0; k < 3; k++)
      intpos[k] += static_cast<MyIntPosType>(delta[k]);
  }

  static MySignedIntPosType intpos_diff(MyIntPosType a, MyIntPosType b) { return static_cast<MySignedIntPosType>(a - b); }

  void nearest_image_intpos_to_pos(const MyIntPosType *a, const MyIntPosType *b, double *posdiff) const
  {
    for(int k = 0; k < 3; k++)
      posdiff[k] = FacIntToCoord * static_cast<double>(intpos_diff(a[k], b[k]));
  }

  void nearest_image_intpos_to_pos(const MyIntPosType *a, const MyIntPosType *b, vector<double> &posdiff) const
  {
    nearest_image_intpos_to_pos(a, b, posdiff.da);
  }

  MyReal nearest_image_intpos_to_intpos_X(MyIntPosType a, MyIntPosType b) const
  {
    return FacIntToCoord * static_cast<double>(intpos_diff(a, b));
  }
  MyReal nearest_image_intpos_to_intpos_Y(MyIntPosType a, MyIntPosType b) const
  {
    return FacIntToCoord * static_cast<double>(intpos_diff(a, b));
  }
  MyReal nearest_image_intpos_to_intpos_Z(MyIntPosType a, MyIntPosType b) const
  {
    return FacIntToCoord * static_cast<double>(intpos_diff(a, b));
  }

  // Signed integer difference a - b per axis.
  static void intpos_to_intpos(const MyIntPosType *a, const MyIntPosType *b, MySignedIntPosType *delta)
  {
    for(int k = 0; k < 3; k++)
      delta[k] = intpos_diff(a[k], b[k]);
  }

  // Absolute integer distance per axis, read through the wrap-around.
  static void nearest_image_intpos_to_absolute_intdist(const MyIntPosType *a, const MyIntPosType *b, MyIntPosType *delta)
  {
    for(int k = 0; k < 3; k++)
      {
        MySignedIntPosType d = intpos_diff(a[k], b[k]);
        delta[k]             = d < 0 ? static_cast<MyIntPosType>(0) - static_cast<MyIntPosType>(d) : static_cast<MyIntPosType>(d);
      }
  }
};

#endif
