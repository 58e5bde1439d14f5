// The tests stand in for the outside lattice program: it owns the sizes,
// the field pointers and the monomial table, and builds the geometry tables
// the half-spinor operator reads.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "lattora.h"

constexpr int kMaxMonomials = 8;

struct Geometry
{
  const char *name;
  int t, lx, ly, lz;
  bool cut_time;  // time direction split over processes: boundary slices exist
};

inline void PrintTo(const Geometry &g, std::ostream *os) { *os << g.name; }

// A 4^4 lattice without boundary, and a lopsided one cut in time.
const Geometry kGeometries[] = {{"periodic4x4x4x4", 4, 4, 4, 4, false}, {"cut4x2x4x6", 4, 2, 4, 6, true}};

void set_geometry(const Geometry &g);
// After init_geometry_indices(VOLUME + RAND): neighbours and even/odd order.
void fill_geometry();
// Lexicographic index of a site, t in -1..T when the time direction is cut.
int site_index(int t, int x, int y, int z);
void release_everything();

// Allocation hook that logs every request, can fail the n-th one, hands out
// blocks at a chosen offset from a cache line and fills them with garbage so
// zero-filling is visible.
struct AllocSpy
{
  std::vector<size_t> sizes;
  long fail_at     = -1;  // index into sizes
  size_t misalign  = 0;
  long live        = 0;

  void install() { lattora_set_allocator(&AllocSpy::alloc, &AllocSpy::release, this); }
  static void *alloc(size_t bytes, void *ctx);
  static void release(void *block, void *ctx);
};

inline bool aligned(const void *p, size_t a = LATTORA_ALIGN) { return reinterpret_cast<uintptr_t>(p) % a == 0; }

inline bool all_zero(const void *p, size_t bytes)
{
  auto c = static_cast<const unsigned char *>(p);
  for(size_t i = 0; i < bytes; i++)
    if(c[i])
      return false;
  return true;
}

// Every test runs on both geometries with the spy installed and leaves no
// block behind.
class LatticeTest : public ::testing::TestWithParam<Geometry>
{
 protected:
  AllocSpy spy;
  void SetUp() override
  {
    set_geometry(GetParam());
    spy.install();
  }
  void TearDown() override
  {
    release_everything();
    EXPECT_EQ(spy.live, 0) << "blocks left after every free routine ran";
    lattora_set_allocator(nullptr, nullptr, nullptr);
  }
  int V() const { return VOLUME + RAND; }
};
