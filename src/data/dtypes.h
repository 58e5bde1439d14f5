#ifndef VORTAN_DATA_DTYPES_H
#define VORTAN_DATA_DTYPES_H

#include <cmath>
#include <cstdint>
#include <mpi.h>

#include "data/constants.h"

typedef std::uint64_t MyIntPosType;      // integer coordinate; 2^64 spans the region
typedef std::int64_t MySignedIntPosType; // coordinate differences with wrap-around
typedef std::uint32_t MyIDType;          // particle identifier (31 bits used)

typedef double MyFloat;
typedef double MyDouble;
typedef double MyReal;
typedef double MyNgbTreeFloat;

typedef std::int32_t integertime; // point or interval on the integer timeline

#define MPI_MyIntPosType_raw MPI_UINT64_T
#define MPI_MYFLOAT MPI_DOUBLE
#define MPI_MYDOUBLE MPI_DOUBLE

#define BITS_FOR_POSITIONS 64

typedef std::int64_t largeint;

// Three-component vector of the particle and tree code.
template <typename T>
struct vector
{
  T da[3];

  vector() = default;
  vector(T x, T y, T z) : da{x, y, z} {}
  explicit vector(const T *x) : da{x[0], x[1], x[2]} {}
  template <typename U>
  explicit vector(const vector<U> &v) : da{static_cast<T>(v.da[0]), static_cast<T>(v.da[1]), static_cast<T>(v.da[2])}
  {
  }

  T &operator[](int i) { return da[i]; }
  const T &operator[](int i) const { return da[i]; }

  vector &operator+=(const vector &v)
  {
    da[0] += v.da[0];
    da[1] += v.da[1];
    da[2] += v.da[2];
    return *this;
  }
  vector &operator-=(const vector &v)
  {
    da[0] -= v.da[0];
    da[1] -= v.da[1];
    da[2] -= v.da[2];
    return *this;
  }
  vector &operator*=(T f)
  {
    da[0] *= f;
    da[1] *= f;
    da[2] *= f;
    return *this;
  }

  T r2() const { return da[0] * da[0] + da[1] * da[1] + da[2] * da[2]; }
  T norm() const { return std::sqrt(r2()); }
};

// One particle ID. Bit 31 is a flag, not part of the value: every comparison,
// sort and output goes through get().
struct MyIDStorage
{
  MyIDType id;

  static constexpr MyIDType FLAG_BIT = MyIDType(1) << 31;

  MyIDType get() const { return id & ~FLAG_BIT; }
  void set(MyIDType v) { id = v; }
  void mark_as_formerly_most_bound() { id |= FLAG_BIT; }
  bool is_previously_most_bound() const { return (id & FLAG_BIT) != 0; }
};

#endif
