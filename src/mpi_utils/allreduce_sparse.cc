#include "data/macros.h"
#include "data/mymalloc.h"
#include "mpi_utils/mpi_utils.h"

namespace
{
struct sparse_entry
{
  int index;
  double val;
};
}  // namespace

void allreduce_sparse_double_sum(double *loc, double *glob, int N, MPI_Comm Communicator)
{
  int ntask, thistask;
  MPI_Comm_size(Communicator, &ntask);
  MPI_Comm_rank(Communicator, &thistask);

  // one block of indices per task; the first rmd blocks are one longer
  const int blk   = N / ntask;
  const int rmd   = N % ntask;
  const int pivot = rmd * (blk + 1);

  int *blocksize  = (int *)mymalloc("blocksize", ntask * sizeof(int));
  int *blockstart = (int *)mymalloc("blockstart", ntask * sizeof(int));
  for(int i = 0, start = 0; i < ntask; i++)
    {
      blocksize[i]  = i < rmd ? blk + 1 : blk;
      blockstart[i] = start;
      start += blocksize[i];
    }

  auto owner = [&](int n) { return n < pivot ? n / (blk + 1) : rmd + (n - pivot) / blk; };

  int *send_count  = (int *)mymalloc("send_count", ntask * sizeof(int));
  int *send_offset = (int *)mymalloc("send_offset", ntask * sizeof(int));
  int *recv_count  = (int *)mymalloc("recv_count", ntask * sizeof(int));
  int *recv_offset = (int *)mymalloc("recv_offset", ntask * sizeof(int));

  for(int i = 0; i < ntask; i++)
    send_count[i] = 0;

  int nexport = 0;
  for(int n = 0; n < N; n++)
    if(loc[n] != 0)
      {
        send_count[owner(n)]++;
        nexport++;
      }

  MPI_Alltoall(send_count, 1, MPI_INT, recv_count, 1, MPI_INT, Communicator);

  int nimport    = 0;
  send_offset[0] = recv_offset[0] = 0;
  for(int i = 0; i < ntask; i++)
    {
      nimport += recv_count[i];
      if(i > 0)
        {
          send_offset[i] = send_offset[i - 1] + send_count[i - 1];
          recv_offset[i] = recv_offset[i - 1] + recv_count[i - 1];
        }
    }

  sparse_entry *export_data = (sparse_entry *)mymalloc("export_data", nexport * sizeof(sparse_entry));
  sparse_entry *import_data = (sparse_entry *)mymalloc("import_data", nimport * sizeof(sparse_entry));

  for(int i = 0; i < ntask; i++)
    send_count[i] = 0;

  for(int n = 0; n < N; n++)
    if(loc[n] != 0)
      {
        int task                                             = owner(n);
        export_data[send_offset[task] + send_count[task]++] = sparse_entry{n, loc[n]};
      }

  my_int_MPI_Alltoallv(export_data, send_count, send_offset, import_data, recv_count, recv_offset, sizeof(sparse_entry), 0,
                       Communicator);

  double *loc_data = (double *)mymalloc_clear("loc_data", blocksize[thistask] * sizeof(double));

  for(int i = 0; i < nimport; i++)
    {
      int j = import_data[i].index - blockstart[thistask];
      if(j < 0 || j >= blocksize[thistask])
        FATAL_ERROR("j=%d < 0 || j>= blocksize[thistask]=%d", j, blocksize[thistask]);
      loc_data[j] += import_data[i].val;
    }

  // element counts rather than byte counts: no 2 GB limit on N
  MPI_Allgatherv(loc_data, blocksize[thistask], MPI_DOUBLE, glob, blocksize, blockstart, MPI_DOUBLE, Communicator);

  myfree(loc_data);
  myfree(import_data);
  myfree(export_data);
  myfree(recv_offset);
  myfree(recv_count);
  myfree(send_offset);
  myfree(send_count);
  myfree(blockstart);
  myfree(blocksize);
}
