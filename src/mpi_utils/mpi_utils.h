#ifndef VORTAN_MPI_UTILS_MPI_UTILS_H
#define VORTAN_MPI_UTILS_MPI_UTILS_H

#include <mpi.h>

#include <cstddef>

#include "data/dtypes.h"

// Datatype and element-wise min/max operators for integer positions, created
// once at start-up by my_mpi_types_init() and released at the end of the run.
extern MPI_Datatype MPI_MyIntPosType;
extern MPI_Op MPI_MIN_MyIntPosType;
extern MPI_Op MPI_MAX_MyIntPosType;
extern MPI_Op MPI_MIN_MySignedIntPosType;
extern MPI_Op MPI_MAX_MySignedIntPosType;

void my_mpi_types_init(void);
void my_mpi_types_free(void);

// Sums and minima that cannot overflow 32 bits; sumup_longs and
// minimum_large_ints work in place when src == res.
void sumup_large_ints(int n, int *src, long long *res, MPI_Comm comm);
void sumup_longs(int n, long long *src, long long *res, MPI_Comm comm);
void minimum_large_ints(int n, long long *src, long long *res, MPI_Comm comm);

// MPI_Allreduce that first checks that every task passes the same count.
int myMPI_Allreduce(const void *sendbuf, void *recvbuf, int count, MPI_Datatype datatype, MPI_Op op, MPI_Comm comm);

// MPI_Sendrecv with 64-bit counts; no single message exceeds 200 MiB. dest must
// equal source. Types must be contiguous.
int myMPI_Sendrecv(void *sendb, size_t sendcount, MPI_Datatype sendtype, int dest, int sendtag, void *recvb, size_t recvcount,
                   MPI_Datatype recvtype, int source, int recvtag, MPI_Comm comm, MPI_Status *status);

// Personalised all-to-all. method: 0 MPI_Alltoallv, 1 hypercube pairs with
// MPI_Sendrecv, 2 non-blocking pairs, 10 one-sided gets. Types must be contiguous.
void myMPI_Alltoallv_new(void *sendbuf, int *sendcnt, int *sdispls, MPI_Datatype sendtype, void *recvbuf, int *recvcnt, int *rdispls,
                         MPI_Datatype recvtype, MPI_Comm comm, int method);

// Fills recvcnt from everybody's sendcnt (and rdispls as prefix sums when not
// null); returns the number of elements to receive.
int myMPI_Alltoallv_new_prep(int *sendcnt, int *recvcnt, int *rdispls, MPI_Comm comm, int method);

// Byte-wise all-to-all; counts and displacements in units of len bytes. Falls
// back to the pairwise path by itself when a byte count or offset does not fit
// a 32-bit MPI argument on any task.
void myMPI_Alltoallv(void *sendb, size_t *sendcounts, size_t *sdispls, void *recvb, size_t *recvcounts, size_t *rdispls, int len,
                     int big_flag, MPI_Comm comm);
void my_int_MPI_Alltoallv(void *sendb, int *sendcounts, int *sdispls, void *recvb, int *recvcounts, int *rdispls, int len,
                          int big_flag, MPI_Comm comm);

// glob = sum over tasks of loc; cheap when each task has few non-zero entries.
void allreduce_sparse_double_sum(double *loc, double *glob, int N, MPI_Comm Communicator);

namespace mpi_utils_detail
{
// Pairwise exchange in rounds of at most byte_limit bytes (myMPI_Sendrecv uses
// 200 MiB); separate so the splitting can be exercised with small data.
int sendrecv_in_rounds(void *sendb, size_t sendcount, MPI_Datatype sendtype, int dest, int sendtag, void *recvb, size_t recvcount,
                       MPI_Datatype recvtype, int source, int recvtag, MPI_Comm comm, MPI_Status *status, size_t byte_limit);

// True when every count*len and displ*len (and their sums) fits a signed 32-bit int.
bool byte_layout_fits_int(int ntask, const size_t *counts, const size_t *displs, size_t len);

// Smallest power of two not below n.
inline int hypercube_size(int n)
{
  int p = 1;
  while(p < n)
    p <<= 1;
  return p;
}
}  // namespace mpi_utils_detail

#endif
