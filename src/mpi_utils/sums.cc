#include "data/mymalloc.h"
#include "mpi_utils/mpi_utils.h"

void sumup_large_ints(int n, int *src, long long *res, MPI_Comm comm)
{
  // widen first: the totals over all tasks may exceed 32 bits
  long long *numlist = (long long *)mymalloc("numlist", n * sizeof(long long));

  for(int j = 0; j < n; j++)
    numlist[j] = src[j];

  MPI_Allreduce(numlist, res, n, MPI_LONG_LONG, MPI_SUM, comm);

  myfree(numlist);
}

void sumup_longs(int n, long long *src, long long *res, MPI_Comm comm)
{
  MPI_Allreduce(src == res ? MPI_IN_PLACE : src, res, n, MPI_LONG_LONG, MPI_SUM, comm);
}

void minimum_large_ints(int n, long long *src, long long *res, MPI_Comm comm)
{
  MPI_Allreduce(src == res ? MPI_IN_PLACE : src, res, n, MPI_LONG_LONG, MPI_MIN, comm);
}
