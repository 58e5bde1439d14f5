// Neighbour tables of the half-spinor operator.
#include <set>

#include "lattice_program.h"

namespace {

enum Home { Field, Send, Recv, Stray };

struct Where
{
  Home home;
  long index;
};

template <class H>
Where locate(const H *p, const H *field, const H *send, const H *recv)
{
  const long nfield = 4L * VOLUME, nbuf = RAND / 2;
  if(p >= field && p < field + nfield)
    return {Field, p - field};
  if(nbuf > 0 && p >= send && p < send + nbuf)
    return {Send, p - send};
  if(nbuf > 0 && p >= recv && p < recv + nbuf)
    return {Recv, p - recv};
  return {Stray, 0};
}

Where locate64(int tab, long e) { return locate(NBPointer[tab][e], HalfSpinor, sendBuffer, recvBuffer); }

class HalfSpinorTables : public LatticeTest
{
 protected:
  void SetUp() override
  {
    LatticeTest::SetUp();
    ASSERT_EQ(init_geometry_indices(V()), 0);
    fill_geometry();
  }
  // lexicographic site of half-lattice site m of the given parity
  static int site(int m, int parity) { return g_eo2lexic[m + parity * ((VOLUME + RAND) / 2)]; }
};

// Each table reaches every field slot at most once and every boundary slot
// of its buffer exactly once; the scatter tables use only the send buffer,
// the gather tables only the receive buffer.
TEST_P(HalfSpinorTables, SlotsAreDistinctAndCoverTheBoundary)
{
  ASSERT_EQ(init_dirac_halfspinor(), 0);
  for(int tab = 0; tab < 4; tab++)
    {
      SCOPED_TRACE(tab);
      std::set<long> field, buffer;
      for(long e = 0; e < 8L * (VOLUME / 2); e++)
        {
          const Where w = locate64(tab, e);
          ASSERT_NE(w.home, Stray) << "entry " << e << " points outside the field and its buffer";
          ASSERT_NE(w.home, tab < 2 ? Recv : Send) << "entry " << e;
          EXPECT_TRUE((w.home == Field ? field : buffer).insert(w.index).second) << "slot reused by entry " << e;
        }
      EXPECT_EQ(long(buffer.size()), RAND / 2);
      EXPECT_EQ(long(field.size() + buffer.size()), 4L * VOLUME);
    }
}

// What a scatter table writes for a neighbour is exactly what the gather
// table reads at that neighbour; neighbours in the boundary go to the buffer
// slot of that boundary site.
TEST_P(HalfSpinorTables, ScatterMeetsGather)
{
  ASSERT_EQ(init_dirac_halfspinor(), 0);
  const int half = VOLUME / 2;
  for(int scatter = 0; scatter < 2; scatter++)
    {
      const int parity = scatter == 0 ? 1 : 0, gather = scatter == 0 ? 2 : 3;
      for(int m = 0; m < half; m++)
        {
          const int b = site(m, parity);
          for(int mu = 0; mu < 4; mu++)
            for(int up = 0; up < 2; up++)
              {
                const int o = 2 * mu + up, n = up ? g_iup[b][mu] : g_idn[b][mu];
                lat_halfspinor *const w = NBPointer[scatter][8 * m + o];
                if(n < VOLUME)
                  EXPECT_EQ(w, NBPointer[gather][8 * g_lexic2eosub[n] + o]) << "site " << b << " entry " << o;
                else
                  EXPECT_EQ(w, sendBuffer + g_lexic2eosub[n] - half) << "site " << b << " entry " << o;
              }
        }
    }
  // gather side: entry 2 mu comes from the up neighbour, 2 mu + 1 from the down one
  for(int gather = 2; gather < 4; gather++)
    for(int c = 0; c < half; c++)
      {
        const int b = site(c, gather - 2);
        for(int o = 0; o < 8; o++)
          {
            const int n = (o & 1) ? g_idn[b][o / 2] : g_iup[b][o / 2];
            EXPECT_EQ(NBPointer[gather][8 * c + o],
                      n < VOLUME ? HalfSpinor + 8 * c + o : recvBuffer + g_lexic2eosub[n] - half)
                << "table " << gather << " site " << b << " entry " << o;
          }
      }
  // half-lattice sites past the interior repeat each table's first entry
  for(int tab = 0; tab < 4; tab++)
    for(long e = 8L * half; e < 4L * (VOLUME + RAND); e++)
      ASSERT_EQ(NBPointer[tab][e], NBPointer[tab][0]) << "table " << tab << " entry " << e;
}

// The single-precision tables point at the same slots, counted in their own
// elements, and use the double-precision buffers.
TEST_P(HalfSpinorTables, SinglePrecisionMirrorsDouble)
{
  EXPECT_EQ(init_dirac_halfspinor32(), -1) << "needs the double-precision buffers first";
  EXPECT_EQ(NBPointer32_, nullptr);
  ASSERT_EQ(init_dirac_halfspinor(), 0);
  ASSERT_EQ(init_dirac_halfspinor32(), 0);
  EXPECT_EQ(HalfSpinor32, HalfSpinor32_);
  EXPECT_EQ((void *)sendBuffer32, (void *)sendBuffer);
  EXPECT_EQ((void *)recvBuffer32, (void *)recvBuffer);
  long mismatched = 0;
  for(int tab = 0; tab < 4; tab++)
    for(long e = 0; e < 4L * (VOLUME + RAND); e++)
      {
        const Where d = locate64(tab, e);
        const Where s = locate(NBPointer32[tab][e], HalfSpinor32, sendBuffer32, recvBuffer32);
        mismatched += d.home != s.home || d.index != s.index;
      }
  EXPECT_EQ(mismatched, 0);
}

// The working bases are aligned inside their blocks even when the blocks are
// not, and every slot a table names lies inside its block: writing through
// all of them stays in bounds (checked under AddressSanitizer).
TEST_P(HalfSpinorTables, WorkingBasesAlignedWithinBlocks)
{
  release_everything();
  spy.misalign = 16;
  ASSERT_EQ(init_geometry_indices(V()), 0);
  fill_geometry();
  ASSERT_EQ(init_dirac_halfspinor(), 0);
  ASSERT_FALSE(aligned(HalfSpinor_));
  auto ends_inside = [](const lat_halfspinor *base, size_t used, const lat_halfspinor *block, size_t elems) {
    return (const char *)(base + used) <= (const char *)(block + elems);
  };
  EXPECT_TRUE(aligned(HalfSpinor) && aligned(sendBuffer) && aligned(recvBuffer));
  EXPECT_TRUE(ends_inside(HalfSpinor, 4 * size_t(VOLUME), HalfSpinor_, 4 * size_t(VOLUME) + 1));
  EXPECT_TRUE(ends_inside(sendBuffer, RAND / 2, sendBuffer_, RAND / 2 + 8));
  EXPECT_TRUE(ends_inside(recvBuffer, RAND / 2, recvBuffer_, RAND / 2 + 8));
  for(int tab = 0; tab < 4; tab++)
    for(long e = 0; e < 4L * (VOLUME + RAND); e++)
      *NBPointer[tab][e] = lat_halfspinor{};
}

INSTANTIATE_TEST_SUITE_P(Lattice, HalfSpinorTables, ::testing::ValuesIn(kGeometries),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
