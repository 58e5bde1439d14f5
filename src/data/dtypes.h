#ifndef VORTAN_DATA_DTYPES_H
#define VORTAN_DATA_DTYPES_H

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

#endif
