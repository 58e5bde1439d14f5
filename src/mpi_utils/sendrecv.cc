#include <algorithm>
#include <cstring>

#include "data/macros.h"
#include "mpi_utils/mpi_utils.h"

#define SENDRECV_BYTE_LIMIT (200 * 1024 * 1024)

int mpi_utils_detail::sendrecv_in_rounds(void *sendb, size_t sendcount, MPI_Datatype sendtype, int dest, int sendtag, void *recvb,
                                         size_t recvcount, MPI_Datatype recvtype, int source, int recvtag, MPI_Comm comm,
                                         MPI_Status *status, size_t byte_limit)
{
  if(dest != source)
    FATAL_ERROR("dest != source");

  MPI_Aint lb, sext, rext;
  MPI_Type_get_extent(sendtype, &lb, &sext);
  MPI_Type_get_extent(recvtype, &lb, &rext);

  int thistask;
  MPI_Comm_rank(comm, &thistask);

  if(dest == thistask)
    {
      // never read past what was sent nor write past what was posted
      size_t bytes = std::min(sendcount * (size_t)sext, recvcount * (size_t)rext);
      if(bytes > 0)
        std::memmove(recvb, sendb, bytes);
      return MPI_SUCCESS;
    }

  // Each side limits its receive rounds by the size of its receive type, which
  // is the partner's send type, so both sides run the same number of rounds.
  int ssize, rsize;
  MPI_Type_size(sendtype, &ssize);
  MPI_Type_size(recvtype, &rsize);
  size_t slimit = std::max<size_t>(1, byte_limit / std::max(ssize, 1));
  size_t rlimit = std::max<size_t>(1, byte_limit / std::max(rsize, 1));

  char *sp = (char *)sendb, *rp = (char *)recvb;
  size_t sleft = sendcount, rleft = recvcount;

  while(sleft > 0 || rleft > 0)
    {
      size_t sc = std::min(sleft, slimit);
      size_t rc = std::min(rleft, rlimit);

      int ret = MPI_Sendrecv(sp, (int)sc, sendtype, dest, sendtag, rp, (int)rc, recvtype, source, recvtag, comm, status);
      if(ret != MPI_SUCCESS)
        return ret;

      sp += sc * sext;
      rp += rc * rext;
      sleft -= sc;
      rleft -= rc;
    }

  return MPI_SUCCESS;
}

int myMPI_Sendrecv(void *sendb, size_t sendcount, MPI_Datatype sendtype, int dest, int sendtag, void *recvb, size_t recvcount,
                   MPI_Datatype recvtype, int source, int recvtag, MPI_Comm comm, MPI_Status *status)
{
  return mpi_utils_detail::sendrecv_in_rounds(sendb, sendcount, sendtype, dest, sendtag, recvb, recvcount, recvtype, source, recvtag,
                                              comm, status, SENDRECV_BYTE_LIMIT);
}
