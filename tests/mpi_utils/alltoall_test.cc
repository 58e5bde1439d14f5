#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_setup.h"
#include "message_counter.h"
#include "mpi_utils/mpi_utils.h"

namespace
{
class AllocatorEnvironment : public ::testing::Environment
{
  void SetUp() override { start_test_allocator(32); }
};
::testing::Environment *const alloc_env = ::testing::AddGlobalTestEnvironment(new AllocatorEnvironment);

// Three ints per element, so that extents other than one byte are exercised.
struct elem
{
  int from, to, k;
};
bool operator==(const elem &a, const elem &b) { return a.from == b.from && a.to == b.to && a.k == b.k; }
const elem SENTINEL{-7, -7, -7};

// Elements sent from task i to task j; known to every task. About a third
// of the pairs (including some self pairs) exchange nothing.
int pair_count(int pattern, int i, int j)
{
  if(pattern == 0)
    return 0;
  unsigned h = (unsigned)(i * 7919 + j * 104729 + pattern * 31337);
  h ^= h >> 7;
  h *= 2654435761u;
  return (h >> 13) % 3 == 0 ? 0 : 1 + (h >> 17) % 9;
}

// Send and receive buffers of one exchange. Send blocks are stored either in
// task order or in reverse task order; receive blocks have a one-element gap
// after each block, so writes outside the blocks show up.
struct exchange
{
  int ntask, me;
  std::vector<int> sendcnt, sdispls, recvcnt, rdispls;
  std::vector<elem> sendbuf, recvbuf;

  exchange(int pattern, bool reversed_send_layout)
  {
    MPI_Comm_size(MPI_COMM_WORLD, &ntask);
    MPI_Comm_rank(MPI_COMM_WORLD, &me);
    sendcnt.resize(ntask);
    sdispls.resize(ntask);
    recvcnt.resize(ntask);
    rdispls.resize(ntask);

    int off = 0;
    for(int n = 0; n < ntask; n++)
      {
        int j      = reversed_send_layout ? ntask - 1 - n : n;
        sendcnt[j] = pair_count(pattern, me, j);
        sdispls[j] = off;
        off += sendcnt[j];
      }
    sendbuf.resize(off);
    for(int j = 0; j < ntask; j++)
      for(int k = 0; k < sendcnt[j]; k++)
        sendbuf[sdispls[j] + k] = elem{me, j, k};

    off = 0;
    for(int i = 0; i < ntask; i++)
      {
        recvcnt[i] = pair_count(pattern, i, me);
        rdispls[i] = off;
        off += recvcnt[i] + 1;
      }
    recvbuf.assign(off, SENTINEL);
  }

  // partners other than this task with something to exchange in either direction
  int busy_partners() const
  {
    int n = 0;
    for(int j = 0; j < ntask; j++)
      if(j != me && (sendcnt[j] > 0 || recvcnt[j] > 0))
        n++;
    return n;
  }
};

MPI_Datatype elem_type()
{
  static MPI_Datatype t = MPI_DATATYPE_NULL;
  if(t == MPI_DATATYPE_NULL)
    {
      MPI_Type_contiguous(3, MPI_INT, &t);
      MPI_Type_commit(&t);
    }
  return t;
}

std::vector<elem> reference(exchange &x)
{
  std::vector<elem> out(x.recvbuf.size(), SENTINEL);
  MPI_Alltoallv(x.sendbuf.data(), x.sendcnt.data(), x.sdispls.data(), elem_type(), out.data(), x.recvcnt.data(), x.rdispls.data(),
                elem_type(), MPI_COMM_WORLD);
  return out;
}
}  // namespace

TEST(AlltoallvNew, EveryMethodMatchesMpiAlltoallv)
{
  for(int method : {0, 1, 2, 10})
    for(int pattern : {0, 1, 2, 3})
      for(bool reversed : {false, true})
        {
          SCOPED_TRACE("method " + std::to_string(method) + " pattern " + std::to_string(pattern) + (reversed ? " reversed" : ""));
          exchange x(pattern, reversed);
          std::vector<elem> expected = reference(x);

          message_counter before = Messages;
          myMPI_Alltoallv_new(x.sendbuf.data(), x.sendcnt.data(), x.sdispls.data(), elem_type(), x.recvbuf.data(), x.recvcnt.data(),
                              x.rdispls.data(), elem_type(), MPI_COMM_WORLD, method);

          EXPECT_TRUE(x.recvbuf == expected);

          // one exchange per busy pair; pairs with nothing to move stay silent
          if(method == 1)
            EXPECT_EQ(Messages.sendrecv - before.sendrecv, x.busy_partners());
          if(method == 2)
            {
              int nrecv = 0, nsend = 0;
              for(int j = 0; j < x.ntask; j++)
                if(j != x.me)
                  {
                    nrecv += x.recvcnt[j] > 0;
                    nsend += x.sendcnt[j] > 0;
                  }
              EXPECT_EQ(Messages.irecv - before.irecv, nrecv);
              EXPECT_EQ(Messages.issend - before.issend, nsend);
            }
        }
}

TEST(AlltoallvNew, PrepFillsCountsAndDisplacements)
{
  for(int method : {0, 1, 2, 10})
    for(int pattern : {0, 1, 3})
      {
        exchange x(pattern, false);
        std::vector<int> recvcnt(x.ntask, -1), rdispls(x.ntask, -1);
        int total = myMPI_Alltoallv_new_prep(x.sendcnt.data(), recvcnt.data(), rdispls.data(), MPI_COMM_WORLD, method);

        int off = 0;
        for(int i = 0; i < x.ntask; i++)
          {
            EXPECT_EQ(recvcnt[i], pair_count(pattern, i, x.me)) << "method " << method << " from " << i;
            EXPECT_EQ(rdispls[i], off) << "method " << method;
            off += recvcnt[i];
          }
        EXPECT_EQ(total, off);

        // without displacements only the counts are filled
        std::vector<int> recvcnt2(x.ntask, -1);
        EXPECT_EQ(myMPI_Alltoallv_new_prep(x.sendcnt.data(), recvcnt2.data(), nullptr, MPI_COMM_WORLD, method), off);
        EXPECT_EQ(recvcnt2, recvcnt);
      }
}

// The byte-wise forms, with 64-bit and with 32-bit counts, on the single
// MPI_Alltoallv path and on the pairwise path.
TEST(AlltoallvBytes, BothPathsMatchMpiAlltoallv)
{
  for(int pattern : {0, 1, 2})
    for(int big_flag : {0, 1})
      for(bool reversed : {false, true})
        {
          SCOPED_TRACE("pattern " + std::to_string(pattern) + " big_flag " + std::to_string(big_flag));
          exchange x(pattern, reversed);
          std::vector<elem> expected = reference(x);

          std::vector<size_t> sc(x.sendcnt.begin(), x.sendcnt.end()), sd(x.sdispls.begin(), x.sdispls.end());
          std::vector<size_t> rc(x.recvcnt.begin(), x.recvcnt.end()), rd(x.rdispls.begin(), x.rdispls.end());

          message_counter before = Messages;
          myMPI_Alltoallv(x.sendbuf.data(), sc.data(), sd.data(), x.recvbuf.data(), rc.data(), rd.data(), sizeof(elem), big_flag,
                          MPI_COMM_WORLD);
          EXPECT_TRUE(x.recvbuf == expected);
          EXPECT_EQ(Messages.sendrecv - before.sendrecv, big_flag ? x.busy_partners() : 0);

          x.recvbuf.assign(x.recvbuf.size(), SENTINEL);
          my_int_MPI_Alltoallv(x.sendbuf.data(), x.sendcnt.data(), x.sdispls.data(), x.recvbuf.data(), x.recvcnt.data(),
                               x.rdispls.data(), sizeof(elem), big_flag, MPI_COMM_WORLD);
          EXPECT_TRUE(x.recvbuf == expected);
        }
}
