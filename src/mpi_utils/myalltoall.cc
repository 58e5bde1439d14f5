#include <algorithm>
#include <climits>
#include <cstring>

#include "data/macros.h"
#include "data/mymalloc.h"
#include "mpi_utils/mpi_utils.h"

#define ALLTOALL_TAG 42

namespace
{
// Own block: the bytes that were sent, whatever the receive side claims.
void copy_own_block(const void *sendbuf, const int *sendcnt, const int *sdispls, void *recvbuf, const int *rdispls, int thistask,
                    MPI_Aint ext)
{
  if(sendcnt[thistask] > 0)
    std::memmove((char *)recvbuf + (size_t)rdispls[thistask] * ext, (const char *)sendbuf + (size_t)sdispls[thistask] * ext,
                 (size_t)sendcnt[thistask] * ext);
}
}  // namespace

void myMPI_Alltoallv_new(void *sendbuf, int *sendcnt, int *sdispls, MPI_Datatype sendtype, void *recvbuf, int *recvcnt, int *rdispls,
                         MPI_Datatype recvtype, MPI_Comm comm, int method)
{
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);

  if(method == 0)
    {
      MPI_Alltoallv(sendbuf, sendcnt, sdispls, sendtype, recvbuf, recvcnt, rdispls, recvtype, comm);
      return;
    }

  if(method != 1 && method != 2 && method != 10)
    FATAL_ERROR("bad communication method");

  if(sendtype != recvtype)
    FATAL_ERROR("bad MPI communication types");

  MPI_Aint lb, ext;
  MPI_Type_get_extent(sendtype, &lb, &ext);

  char *sbuf = (char *)sendbuf, *rbuf = (char *)recvbuf;
  const int ncube = mpi_utils_detail::hypercube_size(ntask);

  if(method == 1)
    {
      copy_own_block(sendbuf, sendcnt, sdispls, recvbuf, rdispls, thistask, ext);

      for(int i = 1; i < ncube; i++)
        {
          int partner = thistask ^ i;
          if(partner >= ntask)
            continue;
          if(sendcnt[partner] > 0 || recvcnt[partner] > 0)
            MPI_Sendrecv(sbuf + (size_t)sdispls[partner] * ext, sendcnt[partner], sendtype, partner, ALLTOALL_TAG,
                         rbuf + (size_t)rdispls[partner] * ext, recvcnt[partner], recvtype, partner, ALLTOALL_TAG, comm,
                         MPI_STATUS_IGNORE);
        }
    }
  else if(method == 2)
    {
      copy_own_block(sendbuf, sendcnt, sdispls, recvbuf, rdispls, thistask, ext);

      MPI_Request *requests = (MPI_Request *)mymalloc("requests", 2 * ntask * sizeof(MPI_Request));
      int n_requests        = 0;

      for(int i = 1; i < ncube; i++)
        {
          int partner = thistask ^ i;
          if(partner < ntask && recvcnt[partner] > 0)
            MPI_Irecv(rbuf + (size_t)rdispls[partner] * ext, recvcnt[partner], recvtype, partner, ALLTOALL_TAG, comm,
                      &requests[n_requests++]);
        }

      for(int i = 1; i < ncube; i++)
        {
          int partner = thistask ^ i;
          if(partner < ntask && sendcnt[partner] > 0)
            MPI_Issend(sbuf + (size_t)sdispls[partner] * ext, sendcnt[partner], sendtype, partner, ALLTOALL_TAG, comm,
                       &requests[n_requests++]);
        }

      MPI_Waitall(n_requests, requests, MPI_STATUSES_IGNORE);
      myfree(requests);
    }
  else /* method 10 */
    {
      int *disp_at_sender      = (int *)mymalloc("disp_at_sender", ntask * sizeof(int));
      disp_at_sender[thistask] = sdispls[thistask];

      MPI_Win win;
      MPI_Win_create(sdispls, ntask * sizeof(int), sizeof(int), MPI_INFO_NULL, comm, &win);
      MPI_Win_fence(0, win);
      for(int k = 1; k < ntask; k++)
        {
          int target = (thistask + k) % ntask;
          if(recvcnt[target] > 0)
            MPI_Get(&disp_at_sender[target], 1, MPI_INT, target, thistask, 1, MPI_INT, win);
        }
      MPI_Win_fence(0, win);
      MPI_Win_free(&win);

      // Expose every block that others may read, not just up to the end of the
      // last one: the blocks need not be stored in task order.
      MPI_Aint win_elements = 0;
      for(int i = 0; i < ntask; i++)
        if(sendcnt[i] > 0)
          win_elements = std::max(win_elements, (MPI_Aint)sdispls[i] + sendcnt[i]);

      MPI_Win_create(sendbuf, win_elements * ext, (int)ext, MPI_INFO_NULL, comm, &win);
      MPI_Win_fence(0, win);
      for(int k = 1; k < ntask; k++)
        {
          int target = (thistask + k) % ntask;
          if(recvcnt[target] > 0)
            MPI_Get(rbuf + (size_t)rdispls[target] * ext, recvcnt[target], recvtype, target, disp_at_sender[target], recvcnt[target],
                    sendtype, win);
        }
      MPI_Win_fence(0, win);
      MPI_Win_free(&win);

      copy_own_block(sendbuf, sendcnt, sdispls, recvbuf, rdispls, thistask, ext);

      myfree(disp_at_sender);
    }
}

int myMPI_Alltoallv_new_prep(int *sendcnt, int *recvcnt, int *rdispls, MPI_Comm comm, int method)
{
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);

  if(method == 0 || method == 1 || method == 2)
    MPI_Alltoall(sendcnt, 1, MPI_INT, recvcnt, 1, MPI_INT, comm);
  else if(method == 10)
    {
      for(int i = 0; i < ntask; i++)
        recvcnt[i] = 0;
      recvcnt[thistask] = sendcnt[thistask];

      MPI_Win win;
      MPI_Win_create(recvcnt, ntask * sizeof(int), sizeof(int), MPI_INFO_NULL, comm, &win);
      MPI_Win_fence(0, win);
      for(int i = 0; i < ntask; i++)
        if(i != thistask && sendcnt[i] != 0)
          MPI_Put(&sendcnt[i], 1, MPI_INT, i, thistask, 1, MPI_INT, win);
      MPI_Win_fence(0, win);
      MPI_Win_free(&win);
    }
  else
    FATAL_ERROR("bad communication method");

  long long total = 0;
  for(int i = 0; i < ntask; i++)
    {
      if(rdispls)
        rdispls[i] = (int)total;
      total += recvcnt[i];
    }

  if(total > INT_MAX)
    FATAL_ERROR("receive total of %lld elements does not fit the int displacements", total);

  return (int)total;
}
