#include <gtest/gtest.h>
#include <mpi.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "alloc_env.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"

static ::testing::Environment *const env =
    ::testing::AddGlobalTestEnvironment(new vortan_test::AllocatorEnvironment(32, "particles_out"));

namespace
{
constexpr double TWO64 = 18446744073709551616.0;
}

TEST(IntPos, CoordinatesMapOntoTheFullIntegerRangeAndWrap)
{
  intposconvert c;
  const double center[3] = {1.0, -2.0, 10.0};
  c.set_region(center, 8.0); // corner (-3, -6, 6)

  struct
  {
    double offset; // from the corner, in units of RegionLen
    MyIntPosType expect;
  } cases[] = {
      {0.0, 0},                              // the corner itself
      {1.0, 0},                              // one side above wraps to 0
      {0.5, MyIntPosType(1) << 63},          // the centre
      {-0.25, MyIntPosType(3) << 62},        // below the corner wraps from the top
      {2.25, MyIntPosType(1) << 62},         // two wraps
      {0.125, MyIntPosType(1) << 61},
  };

  for(auto cs : cases)
    {
      double pos[3];
      MyIntPosType ip[3];
      for(int k = 0; k < 3; k++)
        pos[k] = c.RegionCorner[k] + cs.offset * c.RegionLen;
      c.pos_to_intpos(pos, ip);
      for(int k = 0; k < 3; k++)
        EXPECT_EQ(ip[k], cs.expect) << "offset " << cs.offset << " axis " << k;
    }

  // Round trip of arbitrary points inside the region, to one integer unit.
  const double pts[][3] = {{-2.999, -5.5, 6.001}, {0.3, -2.2, 9.9}, {4.9999, 1.9999, 13.999}};
  for(auto &p : pts)
    {
      MyIntPosType ip[3];
      double back[3];
      c.pos_to_intpos(p, ip);
      c.intpos_to_pos(ip, back);
      for(int k = 0; k < 3; k++)
        EXPECT_NEAR(back[k], p[k], 4 * c.FacIntToCoord + 1e-15 * std::fabs(p[k]));
    }
}

// The branch-free conversions must give exactly what the plain casts give,
// including the values where the low half decides a tie and the top of the range.
TEST(IntPos, ConversionsAgreeWithThePlainCasts)
{
  std::vector<MyIntPosType> xs = {0,
                                  1,
                                  (MyIntPosType(1) << 53) - 1,
                                  (MyIntPosType(1) << 53) + 1,
                                  (MyIntPosType(1) << 63) - 1,
                                  MyIntPosType(1) << 63,
                                  (MyIntPosType(1) << 63) + 1024,  // a tie, to even
                                  (MyIntPosType(1) << 63) + 1025,  // just above a tie
                                  (MyIntPosType(1) << 63) + 3072,  // a tie, to even upwards
                                  ~MyIntPosType(0),
                                  ~MyIntPosType(0) - 2047};
  MyIntPosType s = 0x9e3779b97f4a7c15ull;
  for(int i = 0; i < 100000; i++)
    xs.push_back(s = s * 6364136223846793005ull + 1442695040888963407ull);
  for(MyIntPosType x : xs)
    ASSERT_EQ(intposconvert::intpos_to_double(x), static_cast<double>(x)) << x;

  // and back: truncation on both sides of 2^63, where the two paths meet
  std::vector<double> ds = {0.0, 0.75, 1.0, 4503599627370495.5, 9223372036854774784.0, 9223372036854775808.0,
                            9223372036854777856.0, 18446744073709549568.0};
  for(MyIntPosType x : xs)
    ds.push_back(static_cast<double>(x >> 1) * 1.9999999);
  for(double d : ds)
    if(d < TWO64)
      ASSERT_EQ(intposconvert::double_to_intpos(d), static_cast<MyIntPosType>(d)) << d;
}

TEST(IntPos, DifferencesAndOffsetsWrapAroundTheRange)
{
  intposconvert c;
  const double center[3] = {0, 0, 0};
  c.set_region(center, 1.0);

  MyIntPosType a[3] = {1, 0, MyIntPosType(1) << 63};
  MyIntPosType b[3] = {~MyIntPosType(0), 5, 0}; // 2^64 - 1
  double d[3];
  c.nearest_image_intpos_to_pos(a, b, d);
  EXPECT_DOUBLE_EQ(d[0], 2 * c.FacIntToCoord);  // across the wrap, not -1
  EXPECT_DOUBLE_EQ(d[1], -5 * c.FacIntToCoord);
  EXPECT_DOUBLE_EQ(d[2], -0.5);                 // half the range reads as negative

  MyIntPosType dist[3];
  intposconvert::nearest_image_intpos_to_absolute_intdist(a, b, dist);
  EXPECT_EQ(dist[0], 2u);
  EXPECT_EQ(dist[1], 5u);

  // A drift by a negative displacement across the lower edge.
  double disp[3] = {-0.25, 0.25, 0};
  MySignedIntPosType off[3];
  c.pos_to_signedintpos(disp, off);
  MyIntPosType p[3] = {0, 0, 7};
  intposconvert::intpos_add_offset(p, off);
  EXPECT_EQ(p[0], MyIntPosType(3) << 62);
  EXPECT_EQ(p[1], MyIntPosType(1) << 62);
  EXPECT_EQ(p[2], 7u);
}

TEST(Particles, EntropyAndThermalEnergyAreInverse)
{
  struct
  {
    double u, density, a3inv;
  } cases[] = {{1.0, 1.0, 1.0}, {3.5e4, 0.02, 1.0}, {7.0, 5.0, 8.0}, {1e-6, 1e3, 0.125}};

  simparticles sp;
  sph_particle_data s[1] = {};
  sp.SphP               = s;
  double save           = All.cf_a3inv;
  for(auto c : cases)
    {
      All.cf_a3inv  = c.a3inv;
      s[0].Density  = c.density;
      sp.set_entropy_from_utherm(c.u, 0);
      EXPECT_NEAR(sp.get_utherm_from_entropy(0), c.u, 1e-12 * c.u);
      // A = (gamma-1) u / rho_phys^(gamma-1)
      EXPECT_NEAR(s[0].Entropy, (2.0 / 3.0) * c.u / std::pow(c.density * c.a3inv, 2.0 / 3.0), 1e-12 * s[0].Entropy);
    }
  All.cf_a3inv = 1;
  s[0].Density = 1;
  sp.set_entropy_from_utherm(6.0, 0);
  EXPECT_DOUBLE_EQ(s[0].Entropy, 4.0); // (2/3) u at unit density
  All.cf_a3inv = save;
  sp.SphP      = nullptr;
}

TEST(Particles, PressureAndSoundSpeed)
{
  struct
  {
    double entropypred, density, pressure, csnd;
  } cases[] = {
      {1.0, 0.0, 0.0, 0.0}, // empty gas: no sound speed, no error
      {2.0, 1.0, 2.0, std::sqrt(5.0 / 3.0 * 2.0)},
      {1.0, 8.0, 32.0, std::sqrt(5.0 / 3.0 * 4.0)},
  };
  for(auto c : cases)
    {
      sph_particle_data s{};
      s.EntropyPred = c.entropypred;
      s.Density     = c.density;
      s.set_thermodynamic_variables();
      EXPECT_NEAR(s.get_pressure(), c.pressure, 1e-12 * (1 + c.pressure));
      EXPECT_NEAR(s.get_sound_speed(), c.csnd, 1e-12 * (1 + c.csnd));
    }
}

TEST(Particles, IdFlagBitIsNeverPartOfTheValue)
{
  std::vector<MyIDStorage> ids(4);
  ids[0].set(7);
  ids[1].set(3u | (1u << 31));
  ids[2].set(5);
  ids[3].set(0x7fffffffu);
  ids[2].mark_as_formerly_most_bound();

  EXPECT_EQ(ids[1].get(), 3u);
  EXPECT_TRUE(ids[1].is_previously_most_bound());
  EXPECT_EQ(ids[2].get(), 5u);
  EXPECT_FALSE(ids[0].is_previously_most_bound());
  EXPECT_EQ(ids[3].get(), 0x7fffffffu);

  std::vector<MyIDType> vals;
  for(auto &i : ids)
    vals.push_back(i.get());
  std::sort(vals.begin(), vals.end(), simparticles::compare_IDs);
  EXPECT_EQ(vals, (std::vector<MyIDType>{3, 5, 7, 0x7fffffffu}));
}

TEST(Particles, SofteningClassKeepsTheEighthBit)
{
  particle_data p{};
  p.SofteningClassSpareBit = 1;
  p.setSofteningClass(1);
  EXPECT_EQ(p.getSofteningClass(), 1);
  EXPECT_EQ(p.SofteningClassSpareBit, 1);
  p.setSofteningClass(0);
  EXPECT_EQ(p.getSofteningClass(), 0);
  EXPECT_EQ(p.SofteningClassSpareBit, 1);
}

// Growing P moves SphP and the time-bin arrays above it; their contents and
// the container's pointers must follow.
TEST(Container, GrowingKeepsRecordsZeroFillsNewOnesAndMovesTheRest)
{
  simparticles sp(Shmem.SimulationComm);
  sp.MaxPart    = 10;
  sp.MaxPartSph = 4;
  sp.TimeBinsHydro.timebins_init("Hydro", &sp.MaxPartSph);
  sp.TimeBinsGravity.timebins_init("Gravity", &sp.MaxPart);
  sp.allocate_memory();

  for(int i = 0; i < sp.MaxPart; i++)
    {
      EXPECT_EQ(sp.P[i].getMass(), 0.0);
      sp.P[i].setMass(1.0 + i);
      sp.P[i].ID.set(100 + i);
    }
  for(int i = 0; i < sp.MaxPartSph; i++)
    sp.SphP[i].Entropy = 0.5 * i;
  for(int i = 0; i < sp.MaxPart; i++)
    sp.TimeBinsGravity.NextInTimeBin[i] = 1000 + i;

  sp.reallocate_memory_maxpart(50);
  ASSERT_EQ(sp.MaxPart, 50);
  for(int i = 0; i < 10; i++)
    {
      EXPECT_EQ(sp.P[i].getMass(), 1.0 + i);
      EXPECT_EQ(sp.P[i].ID.get(), 100u + i);
    }
  for(int i = 10; i < 50; i++)
    {
      EXPECT_EQ(sp.P[i].getMass(), 0.0) << i;
      EXPECT_EQ(sp.P[i].ID.get(), 0u) << i;
    }
  for(int i = 0; i < sp.MaxPartSph; i++)
    EXPECT_EQ(sp.SphP[i].Entropy, 0.5 * i);
  for(int i = 0; i < 10; i++)
    EXPECT_EQ(sp.TimeBinsGravity.NextInTimeBin[i], 1000 + i);
  EXPECT_GE(reinterpret_cast<char *>(sp.SphP), reinterpret_cast<char *>(sp.P + 50));

  sp.reallocate_memory_maxpartsph(20);
  for(int i = 0; i < 4; i++)
    EXPECT_EQ(sp.SphP[i].Entropy, 0.5 * i);
  for(int i = 4; i < 20; i++)
    EXPECT_EQ(sp.SphP[i].Entropy, 0.0);
  for(int i = 0; i < 10; i++)
    EXPECT_EQ(sp.TimeBinsGravity.NextInTimeBin[i], 1000 + i);

  // Every array is reachable up to its new capacity without touching a neighbour.
  for(int i = 0; i < sp.MaxPart; i++)
    sp.TimeBinsGravity.PrevInTimeBin[i] = -7;
  for(int i = 0; i < sp.MaxPartSph; i++)
    sp.TimeBinsHydro.PrevInTimeBin[i] = -9;
  EXPECT_EQ(sp.SphP[3].Entropy, 1.5);
  EXPECT_EQ(sp.TimeBinsGravity.NextInTimeBin[9], 1009);

  int nb = Mem.Nblocks;
  sp.free_memory();
  EXPECT_EQ(Mem.Nblocks, nb - 8);
  EXPECT_EQ(sp.P, nullptr);
  EXPECT_EQ(sp.TimeBinsGravity.NextInTimeBin, nullptr);
}
