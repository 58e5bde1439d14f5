// Sizes, failure codes and the allocate/free cycle of every allocator, as
// one table of routines run on both geometries.
#include <cerrno>
#include <functional>

#include "lattice_program.h"

namespace {

constexpr size_t P = sizeof(void *);

struct Step
{
  size_t bytes;
  int code;  // returned when this allocation fails
};

enum class Message { Stdout, Stderr, Accumulators, None };

struct Routine
{
  const char *name;
  std::function<void()> prepare;  // what must exist before (not under test)
  std::function<int()> init;
  std::function<void()> release;
  std::function<std::vector<Step>()> steps;
  std::function<bool()> released;  // every pointer the routine owns is null
  Message message;
  bool owns_previous = true;  // a second init releases the first
};

lat_spinor **array_fields;
lat_spinor *array_block;

void set_monomials()
{
  const int h[][2] = {{2, 1}, {0, 3}, {1, 0}};
  no_monomials     = 3;
  for(int j = 0; j < 3; j++)
    monomial_list[j].csg_n = h[j][0], monomial_list[j].csg_n2 = h[j][1];
}

void geometry_ready()
{
  ASSERT_EQ(init_geometry_indices(VOLUME + RAND), 0);
  fill_geometry();
}

std::vector<Routine> routines()
{
  auto V   = [] { return size_t(VOLUME + RAND); };
  auto VOL = [] { return size_t(VOLUME); };
  auto none = [] {};
  return {
      {"gauge_field_with_copy", none, [] { return init_gauge_field(VOLUME + RAND, 1); }, free_gauge_field,
       [=] {
         return std::vector<Step>{{V() * P, 1}, {(4 * V() + 1) * 144, 2}, {VOL() * P, 3}, {(4 * VOL() + 1) * 144, 4}};
       },
       [] { return !gauge_field && !g_gauge_field && !gauge_field_copy && !g_gauge_field_copy[0] && !g_gauge_field_copy[1]; },
       Message::Stdout},
      {"gauge_field", none, [] { return init_gauge_field(VOLUME + RAND, 0); }, free_gauge_field,
       [=] { return std::vector<Step>{{V() * P, 1}, {(4 * V() + 1) * 144, 2}}; },
       [] { return !gauge_field && !g_gauge_field; }, Message::Stdout},
      {"gauge_field_32", none, [] { return init_gauge_field_32(VOLUME + RAND, 1); }, free_gauge_field_32,
       [=] {
         return std::vector<Step>{{V() * P, 1}, {(4 * V() + 1) * 72, 2}, {VOL() * P, 3}, {(4 * VOL() + 1) * 72, 4}};
       },
       [] {
         return !gauge_field_32 && !g_gauge_field_32 && !gauge_field_copy_32 && !g_gauge_field_copy_32[0] &&
                !g_gauge_field_copy_32[1];
       },
       Message::Stdout},
      {"geometry_indices", none, [] { return init_geometry_indices(VOLUME + RAND); }, free_geometry_indices,
       [=] {
         const size_t t4 = T + 4, x4 = LX + 4, y4 = LY + 4, z4 = LZ + 4, v = V(), vr = size_t(VOLUME + RAND);
         const size_t slab = size_t(T) * LX * LY, I = sizeof(int);
         return std::vector<Step>{{v * P, 1},
                                  {v * P, 2},
                                  {4 * v * I, 6},
                                  {4 * v * I, 7},
                                  {t4 * P, 5},
                                  {t4 * x4 * P, 4},
                                  {t4 * x4 * y4 * P, 3},
                                  {t4 * x4 * y4 * z4 * I, 8},
                                  {v * I, 9},
                                  {(v + 2) * I, 10},
                                  {v * I, 11},
                                  {slab * I, 12},
                                  {slab * I, 13},
                                  {slab / 2 * I, 14},
                                  {slab / 2 * I, 15},
                                  {slab / 2 * I, 16},
                                  {slab / 2 * I, 17},
                                  {VOL() * P, 19},
                                  {4 * VOL() * I, 19},
                                  {vr * P, 21},
                                  {4 * vr * I, 21},
                                  {vr * P, 22},
                                  {4 * vr * I, 22},
                                  {(16 * vr + 2) * I, 40}};
       },
       [] {
         return !g_idn && !g_iup && !idn && !iup && !g_ipt && !ipt__ && !ipt_ && !ipt && !g_lexic2eo && !g_lexic2eosub &&
                !g_eo2lexic && !g_field_z_ipt_even && !g_field_z_ipt_odd && !g_field_z_disp_even_dn &&
                !g_field_z_disp_even_up && !g_field_z_disp_odd_dn && !g_field_z_disp_odd_up && !g_coord && !g_iup_eo &&
                !g_idn_eo && !g_hi;
       },
       Message::Stdout},
      {"spinor_field", none, [] { return init_spinor_field(VOLUME + RAND, 3); }, free_spinor_field,
       [=] { return std::vector<Step>{{(3 * V() + 1) * 192, 1}, {3 * P, 2}}; }, [] { return !sp && !g_spinor_field; },
       Message::Stdout},
      {"spinor_field_32", none, [] { return init_spinor_field_32(VOLUME + RAND, 3); }, free_spinor_field_32,
       [=] { return std::vector<Step>{{(3 * V() + 1) * 96, 1}, {3 * P, 2}}; }, [] { return !sp32 && !g_spinor_field32; },
       Message::Stdout},
      {"spinor_field_array", none, [] { return allocate_spinor_field_array(&array_fields, &array_block, VOLUME, 1); },
       [] { free_spinor_field_array(&array_fields, &array_block); },
       [=] { return std::vector<Step>{{(VOL() + 1) * 192, 1}, {P, 2}}; }, [] { return !array_fields && !array_block; },
       Message::Stdout, false},
      // first histories 2, 0, 1 and second 1, 3, 0: seven slices
      {"csg_field", set_monomials, [] { return init_csg_field(VOLUME); }, free_csg_field,
       [=] {
         return std::vector<Step>{{(7 * VOL() + 1) * 192, 1}, {3 * P, 2}, {1 * P, 2}, {1 * P, 2},
                                  {3 * P, 2},                 {2 * P, 2}, {7 * sizeof(int), 3}};
       },
       [] {
         for(int j = 0; j < no_monomials; j++)
           if(monomial_list[j].csg_field || monomial_list[j].csg_field2 || monomial_list[j].csg_index)
             return false;
         return !sp_csg;
       },
       Message::None},
      {"timslice_buffer", none, [] { return init_timslice_buffer_field(10); }, free_timslice_buffer_field,
       [] { return std::vector<Step>{{11 * 192, 3}}; }, [] { return !sp_tbuff && !g_tbuff; }, Message::Stdout},
      {"moment_field", none, [] { return init_moment_field(VOLUME + RAND, 7); }, free_moment_field,
       [=] {
         return std::vector<Step>{{(4 * V() + 1) * 64, 1}, {V() * P, 2}, {29 * 64, 3},
                                  {7 * P, 4},               {29 * 64, 5}, {7 * P, 6}};
       },
       [] { return !mo && !moment && !df && !df0 && !du && !ddummy; }, Message::Stdout},
      {"chi_spinor_field", none, [] { return init_chi_spinor_field(VOLUME, 2); }, free_chi_spinor_field,
       [=] { return std::vector<Step>{{(4 * VOL() + 1) * 192, 1}, {4 * P, 2}, {2 * P, 2}}; },
       [] { return !sp_up && !g_chi_up_spinor_field && !g_chi_dn_spinor_field; }, Message::Stdout},
      {"gauge_tmp", none, [] { return init_gauge_tmp(VOLUME + RAND); }, free_gauge_tmp,
       [=] { return std::vector<Step>{{V() * P, 1}, {(4 * V() + 1) * 144, 1}}; },
       [] { return !gauge_tmp && !gauge_tmp_; }, Message::Stderr},
      {"bispinor_field", none, [] { return init_bispinor_field(VOLUME, 2); }, free_bispinor_field,
       [=] { return std::vector<Step>{{(2 * VOL() + 1) * 384, 1}, {2 * P, 2}}; },
       [] { return !bisp && !g_bispinor_field; }, Message::Stdout},
      {"omp_accumulators", none, [] { return init_omp_accumulators(3); }, free_omp_accumulators,
       [] { return std::vector<Step>{{3 * 16, 1}, {3 * 8, 2}}; }, [] { return !g_omp_acc_cp && !g_omp_acc_re; },
       Message::Accumulators},
      {"dirac_halfspinor", geometry_ready, init_dirac_halfspinor, free_dirac_halfspinor,
       [=] {
         const size_t vr = size_t(VOLUME + RAND), buf = (size_t(RAND) / 2 + 8) * 96;
         return std::vector<Step>{{16 * vr * P, 1}, {4 * P, 1}, {(4 * VOL() + 1) * 96, 1}, {buf, 1}, {buf, 1}};
       },
       [] {
         return !NBPointer_ && !NBPointer && !HalfSpinor_ && !HalfSpinor && !sendBuffer_ && !sendBuffer &&
                !recvBuffer_ && !recvBuffer && !NBPointer32;
       },
       Message::Stdout},
      {"dirac_halfspinor32",
       [] {
         geometry_ready();
         ASSERT_EQ(init_dirac_halfspinor(), 0);
       },
       init_dirac_halfspinor32, free_dirac_halfspinor32,
       [=] {
         const size_t vr = size_t(VOLUME + RAND);
         return std::vector<Step>{{16 * vr * P, -1}, {4 * P, -1}, {(4 * VOL() + 1) * 48, -1}};
       },
       [] { return !NBPointer32_ && !NBPointer32 && !HalfSpinor32_ && !HalfSpinor32 && !sendBuffer32 && !recvBuffer32; },
       Message::Stdout},
  };
}

class Allocators : public LatticeTest
{
};

// Requested sizes in order, and allocate -> free -> allocate -> free with a
// re-allocation over a live field in between: nothing leaks, frees are
// repeatable and leave null pointers.
TEST_P(Allocators, SizesAndCycle)
{
  for(const Routine &r : routines())
    {
      SCOPED_TRACE(r.name);
      r.prepare();
      const long live0  = spy.live;
      const size_t mark = spy.sizes.size();
      ASSERT_EQ(r.init(), 0);
      const std::vector<Step> steps = r.steps();
      std::vector<size_t> want, got(spy.sizes.begin() + mark, spy.sizes.end());
      for(const Step &s : steps)
        want.push_back(s.bytes);
      EXPECT_EQ(got, want);

      for(int round = 0; round < 2; round++)
        {
          r.release();
          EXPECT_TRUE(r.released());
          EXPECT_EQ(spy.live, live0);
          r.release();
          EXPECT_EQ(spy.live, live0);
          ASSERT_EQ(r.init(), 0);
          if(r.owns_previous)
            {
              ASSERT_EQ(r.init(), 0);
            }
        }
      r.release();
      EXPECT_EQ(spy.live, live0);
      release_everything();
    }
}

// Failing each allocation in turn returns its code, prints the failure line
// with errno where the routine reports, and the free routine then leaves
// nothing behind.
TEST_P(Allocators, EveryFailureCode)
{
  for(const Routine &r : routines())
    for(size_t k = 0;; k++)
      {
        r.prepare();
        const std::vector<Step> steps = r.steps();
        if(k == steps.size())
          {
            release_everything();
            break;
          }
        SCOPED_TRACE(std::string(r.name) + " allocation " + std::to_string(k));
        const long live0 = spy.live;
        spy.fail_at      = long(spy.sizes.size() + k);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int rc          = r.init();
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        spy.fail_at           = -1;
        EXPECT_EQ(rc, steps[k].code);
        const std::string line = "malloc errno : " + std::to_string(ENOMEM) + "\n";
        switch(r.message)
          {
            case Message::Stdout:
              EXPECT_EQ(out, line);
              EXPECT_EQ(err, "");
              break;
            case Message::Stderr:
              EXPECT_EQ(out, "");
              EXPECT_EQ(err, line);
              break;
            case Message::Accumulators:
              EXPECT_EQ(out, "init_omp_accumulators " + line);
              break;
            case Message::None:
              EXPECT_EQ(out + err, "");
              break;
          }
        if(r.message != Message::None)
          {
            EXPECT_EQ(errno, 0);
          }
        r.release();
        EXPECT_TRUE(r.released());
        EXPECT_EQ(spy.live, live0);
        release_everything();
      }
}

INSTANTIATE_TEST_SUITE_P(Lattice, Allocators, ::testing::ValuesIn(kGeometries),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
