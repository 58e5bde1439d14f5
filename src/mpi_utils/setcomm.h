#ifndef VORTAN_MPI_UTILS_SETCOMM_H
#define VORTAN_MPI_UTILS_SETCOMM_H

#include <mpi.h>
#include <cstdarg>
#include <cstdio>

// Binding of an object to its communicator, plus the node layout of that
// communicator. Every class that communicates derives from it.
class setcomm
{
 public:
  explicit setcomm(MPI_Comm comm) { initcomm(comm); }
  // Leaves the object unbound until initcomm(); global objects are built this
  // way before MPI is started.
  explicit setcomm(const char *) {}

  MPI_Comm Communicator = MPI_COMM_NULL;
  int NTask    = 0;
  int ThisTask = 0;
  int PTask    = 0;

  int ThisNode            = 0;
  int NumNodes            = 0;
  int TasksInThisNode     = 0;
  int RankInThisNode      = 0;
  int MinTasksPerNode     = 0;
  int MaxTasksPerNode     = 0;
  long long MemoryOnNode       = 0;
  long long SharedMemoryOnNode = 0;

  struct node_data
  {
    int task, this_node, first_task_in_this_node;
    int first_index, rank_in_node, tasks_in_node;
    char name[MPI_MAX_PROCESSOR_NAME];
  };
  node_data loc_node{};
  node_data *list_of_nodes = nullptr;

  void initcomm(MPI_Comm comm)
  {
    Communicator = comm;
    MPI_Comm_rank(comm, &ThisTask);
    MPI_Comm_size(comm, &NTask);
    for(PTask = 0; NTask > (1 << PTask); PTask++)
      ;
  }

  void mpi_printf(const char *fmt, ...) const __attribute__((format(printf, 2, 3)))
  {
    if(ThisTask == 0)
      {
        va_list l;
        va_start(l, fmt);
        vprintf(fmt, l);
        va_end(l);
      }
  }

  // Collective over Communicator: groups tasks into nodes by processor name.
  void determine_compute_nodes();

  static bool system_compare_hostname(const node_data &a, const node_data &b);
  static bool system_compare_first_task(const node_data &a, const node_data &b);
  static bool system_compare_task(const node_data &a, const node_data &b);
};

#endif
