#ifndef VORTAN_TESTS_MPI_UTILS_MESSAGE_COUNTER_H
#define VORTAN_TESTS_MPI_UTILS_MESSAGE_COUNTER_H

// Counts the point-to-point calls the helpers make, through the profiling
// interface; include in exactly one source of a test executable.

#include <mpi.h>

struct message_counter
{
  long sendrecv = 0, issend = 0, irecv = 0;
};
inline message_counter Messages;

extern "C" int MPI_Sendrecv(const void *sendbuf, int sendcount, MPI_Datatype sendtype, int dest, int sendtag, void *recvbuf,
                            int recvcount, MPI_Datatype recvtype, int source, int recvtag, MPI_Comm comm, MPI_Status *status)
{
  Messages.sendrecv++;
  return PMPI_Sendrecv(sendbuf, sendcount, sendtype, dest, sendtag, recvbuf, recvcount, recvtype, source, recvtag, comm, status);
}

extern "C" int MPI_Issend(const void *buf, int count, MPI_Datatype datatype, int dest, int tag, MPI_Comm comm, MPI_Request *request)
{
  Messages.issend++;
  return PMPI_Issend(buf, count, datatype, dest, tag, comm, request);
}

extern "C" int MPI_Irecv(void *buf, int count, MPI_Datatype datatype, int source, int tag, MPI_Comm comm, MPI_Request *request)
{
  Messages.irecv++;
  return PMPI_Irecv(buf, count, datatype, source, tag, comm, request);
}

#endif
