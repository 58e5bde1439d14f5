#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "alloc_setup.h"
#include "message_counter.h"
#include "mpi_utils/mpi_utils.h"

namespace
{
class Environment : public ::testing::Environment
{
  void SetUp() override
  {
    start_test_allocator(32);
    my_mpi_types_init();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new Environment);

int ntask()
{
  int n;
  MPI_Comm_size(MPI_COMM_WORLD, &n);
  return n;
}
int thistask()
{
  int r;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}
}  // namespace

TEST(Sums, LargeIntsDoNotOverflow)
{
  const int n = 5, P = ntask();
  int src[n];
  long long res[n];
  for(int j = 0; j < n; j++)
    src[j] = (j % 2 ? INT_MAX - j : INT_MIN + j);
  sumup_large_ints(n, src, res, MPI_COMM_WORLD);
  for(int j = 0; j < n; j++)
    EXPECT_EQ(res[j], (long long)P * src[j]) << j;
}

TEST(Sums, LongsAndMinimaInPlaceAndNot)
{
  const int n = 4, P = ntask(), me = thistask();
  auto value = [](int rank, int j) { return (long long)(rank + 1) * (1ll << 40) * (j % 2 ? -1 : 1) + j; };

  long long src[n], res[n], inplace[n];
  for(int j = 0; j < n; j++)
    src[j] = inplace[j] = value(me, j);

  sumup_longs(n, src, res, MPI_COMM_WORLD);
  sumup_longs(n, inplace, inplace, MPI_COMM_WORLD);
  for(int j = 0; j < n; j++)
    {
      long long sum = 0;
      for(int r = 0; r < P; r++)
        sum += value(r, j);
      EXPECT_EQ(res[j], sum);
      EXPECT_EQ(inplace[j], sum);
    }

  for(int j = 0; j < n; j++)
    inplace[j] = value(me, j);
  minimum_large_ints(n, src, res, MPI_COMM_WORLD);
  minimum_large_ints(n, inplace, inplace, MPI_COMM_WORLD);
  for(int j = 0; j < n; j++)
    {
      long long mi = LLONG_MAX;
      for(int r = 0; r < P; r++)
        mi = std::min(mi, value(r, j));
      EXPECT_EQ(res[j], mi);
      EXPECT_EQ(inplace[j], mi);
    }
}

TEST(Sums, CheckedAllreduceReduces)
{
  double v[3] = {1.0 * thistask(), 2.0, -1.0}, r[3];
  myMPI_Allreduce(v, r, 3, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  int P = ntask();
  EXPECT_EQ(r[0], P * (P - 1) / 2.0);
  EXPECT_EQ(r[1], 2.0 * P);
  EXPECT_EQ(r[2], -1.0 * P);
}

// Values whose order differs between the unsigned and the signed reading.
TEST(IntPosOperators, MinMaxSignedAndUnsigned)
{
  const int P = ntask(), me = thistask();
  auto value = [](int rank, int j) -> MyIntPosType {
    switch(j)
      {
        case 0:
          return rank;
        case 1:
          return ~0ull - rank;  // largest unsigned, -1 - rank signed
        case 2:
          return (1ull << 63) + rank;  // most negative signed
        default:
          return 12345;
      }
  };
  const int n = 4;
  MyIntPosType mine[n], out[n];
  for(int j = 0; j < n; j++)
    mine[j] = value(me, j);

  struct Case
  {
    MPI_Op op;
    bool is_signed, take_max;
  } cases[] = {{MPI_MIN_MyIntPosType, false, false},
               {MPI_MAX_MyIntPosType, false, true},
               {MPI_MIN_MySignedIntPosType, true, false},
               {MPI_MAX_MySignedIntPosType, true, true}};

  for(const Case &c : cases)
    {
      MPI_Allreduce(mine, out, n, MPI_MyIntPosType, c.op, MPI_COMM_WORLD);
      for(int j = 0; j < n; j++)
        {
          MyIntPosType expect = value(0, j);
          for(int r = 1; r < P; r++)
            {
              MyIntPosType v = value(r, j);
              bool better    = c.is_signed ? (c.take_max ? (MySignedIntPosType)v > (MySignedIntPosType)expect
                                                         : (MySignedIntPosType)v < (MySignedIntPosType)expect)
                                           : (c.take_max ? v > expect : v < expect);
              if(better)
                expect = v;
            }
          EXPECT_EQ(out[j], expect) << "signed=" << c.is_signed << " max=" << c.take_max << " j=" << j;
        }
    }
}

TEST(SparseSum, EqualsDenseSumIncludingEmptyBlocks)
{
  const int P = ntask(), me = thistask();
  for(int N : {0, 1, 2, 7, 1000})
    {
      std::vector<double> loc(N, 0.0), glob(N, -1.0), expected(N, 0.0);
      for(int n = 0; n < N; n++)
        {
          for(int r = 0; r < P; r++)
            if((n + r) % 5 == 0)
              expected[n] += r + 1 + n;
          if((n + me) % 5 == 0)
            loc[n] = me + 1 + n;
        }
      allreduce_sparse_double_sum(loc.data(), glob.data(), N, MPI_COMM_WORLD);
      EXPECT_EQ(glob, expected) << "N=" << N;
    }
}

// Partners are rank pairs (0,1), (2,3)...; an unpaired last rank exchanges
// with itself. Rounds of at most 4 ints each: both sides run
// max(ceil(a/4), ceil(b/4)) rounds, and a pair with nothing sends nothing.
TEST(Sendrecv, SplitsIntoRoundsAndSkipsEmptyExchanges)
{
  const int P = ntask(), me = thistask();
  int partner = me ^ 1;
  if(partner >= P)
    partner = me;

  struct Case
  {
    int from_even, from_odd;
  } cases[] = {{0, 0}, {4, 4}, {10, 3}, {5, 0}, {0, 9}, {1, 1}};

  for(const Case &c : cases)
    {
      bool even   = me % 2 == 0;
      int nsend   = partner == me ? c.from_even : (even ? c.from_even : c.from_odd);
      int nrecv   = partner == me ? c.from_even : (even ? c.from_odd : c.from_even);
      std::vector<int> sendb(nsend), recvb(nrecv + 1, -1);
      for(int k = 0; k < nsend; k++)
        sendb[k] = 1000 * me + k;

      message_counter before = Messages;
      mpi_utils_detail::sendrecv_in_rounds(sendb.data(), nsend, MPI_INT, partner, 5, recvb.data(), nrecv, MPI_INT, partner, 5,
                                           MPI_COMM_WORLD, MPI_STATUS_IGNORE, 4 * sizeof(int));

      for(int k = 0; k < nrecv; k++)
        EXPECT_EQ(recvb[k], 1000 * partner + k);
      EXPECT_EQ(recvb[nrecv], -1) << "wrote past the posted count";

      long rounds = partner == me ? 0 : std::max((nsend + 3) / 4, (nrecv + 3) / 4);
      EXPECT_EQ(Messages.sendrecv - before.sendrecv, rounds) << c.from_even << "/" << c.from_odd;
    }
}

TEST(Sendrecv, ByteLayoutCheckCatchesInt32Overflow)
{
  const size_t big = size_t(1) << 31;
  struct Case
  {
    size_t count, displ, len;
    bool fits;
  } cases[] = {
      {0, 0, 1, true},
      {INT_MAX, 0, 1, true},
      {size_t(INT_MAX) + 1, 0, 1, false},  // count alone
      {1, INT_MAX, 1, false},              // block ends past 2^31
      {big / 16, 0, 8, true},              // 2^30 bytes
      {big / 8, 0, 8, false},              // 2^31 bytes
      {1, big / 8, 8, false},              // displacement in bytes
      {size_t(1) << 62, 0, 8, false},      // 64-bit product overflows
  };
  for(const Case &c : cases)
    {
      size_t counts[2] = {1, c.count}, displs[2] = {0, c.displ};
      EXPECT_EQ(mpi_utils_detail::byte_layout_fits_int(2, counts, displs, c.len), c.fits)
          << "count=" << c.count << " displ=" << c.displ << " len=" << c.len;
    }
}
