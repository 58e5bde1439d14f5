// Where the pointer arrays point, zero-filling, and the stateful routines.
#include <functional>

#include "lattice_program.h"

namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

// count pointers stepping `step` elements over a zero-filled block of
// `elems` elements.
template <class E>
AssertionResult field_layout(E *const *ptrs, const E *block, size_t count, size_t step, size_t elems)
{
  if(!ptrs || !block)
    return AssertionFailure() << "missing block or pointers";
  for(size_t k = 0; k < count; k++)
    if(ptrs[k] != block + k * step)
      return AssertionFailure() << "pointer " << k << " is " << (ptrs[k] - block) << " elements in, want " << k * step;
  if(!all_zero(block, elems * sizeof(E)))
    return AssertionFailure() << "block not zero-filled";
  return AssertionSuccess();
}

class Layout : public LatticeTest
{
};

struct FieldCase
{
  const char *name;
  std::function<int()> init;
  std::function<AssertionResult()> check;
};

TEST_P(Layout, FieldPointersAndZeroFill)
{
  const size_t v = V(), vol = VOLUME;
  const FieldCase cases[] = {
      {"gauge_field", [] { return init_gauge_field(VOLUME + RAND, 1); },
       [&] {
         if(g_gauge_field_copy[1] != g_gauge_field_copy[0] + vol / 2)
           return AssertionFailure() << "odd half of the copy does not follow the even half";
         auto r = field_layout(g_gauge_field, gauge_field, v, 4, 4 * v + 1);
         return r ? field_layout(g_gauge_field_copy[0], gauge_field_copy, vol, 4, 4 * vol + 1) : r;
       }},
      {"gauge_field_32", [] { return init_gauge_field_32(VOLUME + RAND, 1); },
       [&] {
         if(g_gauge_field_copy_32[1] != g_gauge_field_copy_32[0] + vol / 2)
           return AssertionFailure() << "odd half of the copy does not follow the even half";
         auto r = field_layout(g_gauge_field_32, gauge_field_32, v, 4, 4 * v + 1);
         return r ? field_layout(g_gauge_field_copy_32[0], gauge_field_copy_32, vol, 4, 4 * vol + 1) : r;
       }},
      {"gauge_tmp", [] { return init_gauge_tmp(VOLUME + RAND); },
       [&] { return field_layout(gauge_tmp, gauge_tmp_, v, 4, 4 * v + 1); }},
      {"spinor_field", [] { return init_spinor_field(VOLUME + RAND, 3); },
       [&] { return field_layout(g_spinor_field, sp, 3, v, 3 * v + 1); }},
      {"spinor_field_32", [] { return init_spinor_field_32(VOLUME + RAND, 3); },
       [&] { return field_layout(g_spinor_field32, sp32, 3, v, 3 * v + 1); }},
      {"bispinor_field", [] { return init_bispinor_field(VOLUME, 2); },
       [&] { return field_layout(g_bispinor_field, bisp, 2, vol, 2 * vol + 1); }},
      {"timslice_buffer", [] { return init_timslice_buffer_field(10); },
       [&] { return g_tbuff == sp_tbuff ? field_layout(&g_tbuff, sp_tbuff, 1, 0, 11) : AssertionFailure() << "g_tbuff"; }},
      {"moment_field", [] { return init_moment_field(VOLUME + RAND, 7); },
       [&] {
         auto r = field_layout(moment, mo, v, 4, 4 * v + 1);
         if(r)
           r = field_layout(df0, df, 7, 4, 29);
         return r ? field_layout(ddummy, du, 7, 4, 29) : r;
       }},
  };
  for(const FieldCase &c : cases)
    {
      SCOPED_TRACE(c.name);
      ASSERT_EQ(c.init(), 0);
      EXPECT_TRUE(c.check());
    }
  g_update_gauge_copy = 0;
  ASSERT_EQ(init_gauge_field(VOLUME, 0), 0);
  EXPECT_EQ(g_update_gauge_copy, 1);
  EXPECT_EQ(g_gauge_field_copy[0], nullptr);
}

TEST_P(Layout, GeometryTablesChain)
{
  const int v = V();
  ASSERT_EQ(init_geometry_indices(v), 0);
  EXPECT_TRUE(field_layout(g_idn, idn, v, 4, 4 * size_t(v)));
  EXPECT_TRUE(field_layout(g_iup, iup, v, 4, 4 * size_t(v)));
  EXPECT_TRUE(field_layout(g_coord, g_coord[0], VOLUME, 4, 4 * size_t(VOLUME)));
  EXPECT_TRUE(field_layout(g_iup_eo, g_iup_eo[0], v, 4, 4 * size_t(v)));
  EXPECT_TRUE(field_layout(g_idn_eo, g_idn_eo[0], v, 4, 4 * size_t(v)));
  EXPECT_TRUE(all_zero(g_hi, (16 * size_t(v) + 2) * sizeof(int)));

  const int t4 = T + 4, x4 = LX + 4, y4 = LY + 4, z4 = LZ + 4;
  EXPECT_TRUE(all_zero(ipt, size_t(t4) * x4 * y4 * z4 * sizeof(int)));
  long wrong = 0;
  for(int a = 0; a < t4; a++)
    for(int b = 0; b < x4; b++)
      for(int c = 0; c < y4; c++)
        for(int d = 0; d < z4; d++)
          wrong += &g_ipt[a][b][c][d] != ipt + ((size_t(a) * x4 + b) * y4 + c) * z4 + d;
  EXPECT_EQ(wrong, 0) << "four-index table entries off the flat block";
}

TEST_P(Layout, HistoryFieldsFollowTableOrder)
{
  no_monomials = 3;
  const int h[3][2] = {{2, 1}, {0, 3}, {1, 0}};
  for(int j = 0; j < 3; j++)
    monomial_list[j].csg_n = h[j][0], monomial_list[j].csg_n2 = h[j][1];
  ASSERT_EQ(init_csg_field(VOLUME), 0);

  // all first histories (slices 0..2), then all second ones (3..6)
  const int first[3][2] = {{0, 1}, {-1, -1}, {2, -1}}, second[3][3] = {{3, -1, -1}, {4, 5, 6}, {-1, -1, -1}};
  const int index1[3] = {0, 2, 2}, index2[3] = {3, 4, 7};
  const int *idx0     = monomial_list[0].csg_index;
  for(int j = 0; j < 3; j++)
    {
      SCOPED_TRACE(j);
      const lat_monomial &m = monomial_list[j];
      for(int i = 0; i < m.csg_n; i++)
        EXPECT_EQ(m.csg_field[i], sp_csg + size_t(first[j][i]) * VOLUME);
      EXPECT_EQ(m.csg_field[m.csg_n], nullptr);
      for(int i = 0; i < m.csg_n2; i++)
        EXPECT_EQ(m.csg_field2[i], sp_csg + size_t(second[j][i]) * VOLUME);
      EXPECT_EQ(m.csg_index, idx0 + index1[j]);
      EXPECT_EQ(m.csg_index2, idx0 + index2[j]);
    }
  EXPECT_TRUE(all_zero(sp_csg, (7 * size_t(VOLUME) + 1) * sizeof(lat_spinor)));

  free_csg_field();
  for(int j = 0; j < 3; j++)
    monomial_list[j].csg_n = monomial_list[j].csg_n2 = 0;
  const size_t before = spy.sizes.size();
  EXPECT_EQ(init_csg_field(VOLUME), 0);
  EXPECT_EQ(spy.sizes.size(), before) << "empty histories must allocate nothing";
  EXPECT_EQ(sp_csg, nullptr);
}

TEST_P(Layout, ChiFieldsGrowOnlyAndSurviveFailure)
{
  auto expect_chi = [&](int nr) {
    ASSERT_TRUE(field_layout(g_chi_up_spinor_field, sp_up, 2 * nr, VOLUME, 2 * size_t(nr) * VOLUME + 1));
    for(int k = 0; k < nr; k++)
      EXPECT_EQ(g_chi_dn_spinor_field[k], g_chi_up_spinor_field[nr + k]);
  };
  ASSERT_EQ(init_chi_spinor_field(VOLUME, 2), 0);
  expect_chi(2);
  lat_spinor *const first = sp_up;
  size_t calls            = spy.sizes.size();
  ASSERT_EQ(init_chi_spinor_field(VOLUME, 1), 0);
  EXPECT_EQ(spy.sizes.size(), calls) << "a smaller count keeps the fields";
  EXPECT_EQ(sp_up, first);
  ASSERT_EQ(init_chi_spinor_field(VOLUME, 3), 0);
  EXPECT_GT(spy.sizes.size(), calls);
  expect_chi(3);

  // A failed growth must not leave a claim on fields that are gone.
  spy.fail_at = long(spy.sizes.size()) + 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(init_chi_spinor_field(VOLUME, 4), 2);
  testing::internal::GetCapturedStdout();
  spy.fail_at = -1;
  EXPECT_EQ(sp_up, nullptr);
  EXPECT_EQ(g_chi_up_spinor_field, nullptr);
  calls = spy.sizes.size();
  ASSERT_EQ(init_chi_spinor_field(VOLUME, 1), 0);
  EXPECT_GT(spy.sizes.size(), calls) << "after a failure a smaller count must allocate again";
  expect_chi(1);
  free_chi_spinor_field();
  free_chi_spinor_field();
  EXPECT_EQ(sp_up, nullptr);
}

TEST_P(Layout, GaugeConversionToSinglePrecision)
{
  const int v = V();
  ASSERT_EQ(init_gauge_field(v, 0), 0);
  ASSERT_EQ(init_gauge_field_32(v, 0), 0);
  for(size_t k = 0; k < 4 * size_t(v); k++)
    for(int a = 0; a < 3; a++)
      for(int b = 0; b < 3; b++)
        gauge_field[k].c[a][b] = {1.0 / (k + 3) + a, -double(k) - 0.1 * b};

  convert_32_gauge_field(g_gauge_field_32, g_gauge_field, v - 1);
  long wrong = 0;
  for(size_t k = 0; k < 4 * size_t(v - 1); k++)
    for(int a = 0; a < 3; a++)
      for(int b = 0; b < 3; b++)
        wrong += gauge_field_32[k].c[a][b].re != float(gauge_field[k].c[a][b].re) ||
                 gauge_field_32[k].c[a][b].im != float(gauge_field[k].c[a][b].im);
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(all_zero(g_gauge_field_32[v - 1], 4 * sizeof(lat_link32))) << "site beyond n was written";
}

// Without a hook the blocks come cache-line aligned.
TEST_P(Layout, DefaultAllocatorAligns)
{
  lattora_set_allocator(nullptr, nullptr, nullptr);
  ASSERT_EQ(init_spinor_field(V(), 2), 0);
  ASSERT_EQ(init_gauge_field(V(), 1), 0);
  ASSERT_EQ(init_moment_field(V(), 3), 0);
  for(const void *p : {(const void *)sp, (const void *)gauge_field, (const void *)gauge_field_copy, (const void *)mo})
    EXPECT_TRUE(aligned(p));
  release_everything();
  spy.install();
}

INSTANTIATE_TEST_SUITE_P(Lattice, Layout, ::testing::ValuesIn(kGeometries),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
