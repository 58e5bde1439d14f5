#include <climits>

#include "data/mymalloc.h"
#include "mpi_utils/mpi_utils.h"

bool mpi_utils_detail::byte_layout_fits_int(int ntask, const size_t *counts, const size_t *displs, size_t len)
{
  for(int i = 0; i < ntask; i++)
    {
      size_t c, d, e;
      if(__builtin_mul_overflow(counts[i], len, &c) || __builtin_mul_overflow(displs[i], len, &d) || __builtin_add_overflow(c, d, &e))
        return false;
      if(e > (size_t)INT_MAX)
        return false;
    }
  return true;
}

namespace
{
template <typename Tcount>
void alltoallv_bytes(void *sendb, Tcount *sendcounts, Tcount *sdispls, void *recvb, Tcount *recvcounts, Tcount *rdispls, int len,
                     int big_flag, MPI_Comm comm)
{
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);

  if(!big_flag)
    {
      // A byte count or offset beyond 2^31 on any task sends everybody down the
      // pairwise path; the choice must be the same on all tasks.
      size_t *tmp = (size_t *)mymalloc("tmp_counts", 2 * ntask * sizeof(size_t));
      int fits    = 1;
      for(int pass = 0; pass < 2 && fits; pass++)
        {
          Tcount *cnt = pass ? recvcounts : sendcounts;
          Tcount *off = pass ? rdispls : sdispls;
          for(int i = 0; i < ntask; i++)
            {
              tmp[i]         = cnt[i];
              tmp[ntask + i] = off[i];
            }
          fits = mpi_utils_detail::byte_layout_fits_int(ntask, tmp, tmp + ntask, len);
        }
      myfree(tmp);

      int all_fit;
      MPI_Allreduce(&fits, &all_fit, 1, MPI_INT, MPI_MIN, comm);
      if(!all_fit)
        big_flag = 1;
    }

  if(big_flag)
    {
      char *sb = (char *)sendb, *rb = (char *)recvb;
      int ncube = mpi_utils_detail::hypercube_size(ntask);
      for(int i = 0; i < ncube; i++)
        {
          int partner = thistask ^ i;
          if(partner >= ntask)
            continue;
          if(sendcounts[partner] > 0 || recvcounts[partner] > 0)
            myMPI_Sendrecv(sb + (size_t)sdispls[partner] * len, (size_t)sendcounts[partner] * len, MPI_BYTE, partner, 12 + i,
                           rb + (size_t)rdispls[partner] * len, (size_t)recvcounts[partner] * len, MPI_BYTE, partner, 12 + i, comm,
                           MPI_STATUS_IGNORE);
        }
    }
  else
    {
      int *scount = (int *)mymalloc("scount", ntask * sizeof(int));
      int *rcount = (int *)mymalloc("rcount", ntask * sizeof(int));
      int *soff   = (int *)mymalloc("soff", ntask * sizeof(int));
      int *roff   = (int *)mymalloc("roff", ntask * sizeof(int));

      for(int i = 0; i < ntask; i++)
        {
          scount[i] = (int)((size_t)sendcounts[i] * len);
          soff[i]   = (int)((size_t)sdispls[i] * len);
          rcount[i] = (int)((size_t)recvcounts[i] * len);
          roff[i]   = (int)((size_t)rdispls[i] * len);
        }

      MPI_Alltoallv(sendb, scount, soff, MPI_BYTE, recvb, rcount, roff, MPI_BYTE, comm);

      myfree(roff);
      myfree(soff);
      myfree(rcount);
      myfree(scount);
    }
}
}  // namespace

void myMPI_Alltoallv(void *sendb, size_t *sendcounts, size_t *sdispls, void *recvb, size_t *recvcounts, size_t *rdispls, int len,
                     int big_flag, MPI_Comm comm)
{
  alltoallv_bytes(sendb, sendcounts, sdispls, recvb, recvcounts, rdispls, len, big_flag, comm);
}

void my_int_MPI_Alltoallv(void *sendb, int *sendcounts, int *sdispls, void *recvb, int *recvcounts, int *rdispls, int len,
                          int big_flag, MPI_Comm comm)
{
  alltoallv_bytes(sendb, sendcounts, sdispls, recvb, recvcounts, rdispls, len, big_flag, comm);
}
