#include "mpi_utils/setcomm.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool setcomm::system_compare_hostname(const node_data &a, const node_data &b)
{
  int c = strncmp(a.name, b.name, MPI_MAX_PROCESSOR_NAME);
  if(c != 0)
    return c < 0;
  return a.task < b.task;
}

bool setcomm::system_compare_first_task(const node_data &a, const node_data &b)
{
  if(a.first_task_in_this_node != b.first_task_in_this_node)
    return a.first_task_in_this_node < b.first_task_in_this_node;
  return a.task < b.task;
}

bool setcomm::system_compare_task(const node_data &a, const node_data &b) { return a.task < b.task; }

void setcomm::determine_compute_nodes()
{
  memset(&loc_node, 0, sizeof(loc_node));
  int len = 0;
  MPI_Get_processor_name(loc_node.name, &len);
  loc_node.task = ThisTask;

  std::vector<node_data> nodes(NTask);
  list_of_nodes = nodes.data();
  MPI_Allgather(&loc_node, sizeof(node_data), MPI_BYTE, list_of_nodes, sizeof(node_data), MPI_BYTE, Communicator);

  std::sort(nodes.begin(), nodes.end(), system_compare_hostname);
  int nnodes = 0;
  for(int i = 0; i < NTask; i++)
    {
      if(i == 0 || strncmp(nodes[i].name, nodes[i - 1].name, MPI_MAX_PROCESSOR_NAME) != 0)
        {
          nodes[i].first_task_in_this_node = nodes[i].task;
          nnodes++;
        }
      else
        nodes[i].first_task_in_this_node = nodes[i - 1].first_task_in_this_node;
    }

  std::sort(nodes.begin(), nodes.end(), system_compare_first_task);
  int node = -1, first = 0;
  for(int i = 0; i < NTask; i++)
    {
      if(i == 0 || nodes[i].first_task_in_this_node != nodes[i - 1].first_task_in_this_node)
        {
          node++;
          first                  = i;
          nodes[i].tasks_in_node = 0;
        }
      nodes[i].this_node    = node;
      nodes[i].first_index  = first;
      nodes[i].rank_in_node = i - first;
      nodes[first].tasks_in_node++;
    }
  MinTasksPerNode = 1 << 30;
  MaxTasksPerNode = 0;
  for(int i = 0; i < NTask; i++)
    {
      nodes[i].tasks_in_node = nodes[nodes[i].first_index].tasks_in_node;
      MinTasksPerNode        = std::min(MinTasksPerNode, nodes[i].tasks_in_node);
      MaxTasksPerNode        = std::max(MaxTasksPerNode, nodes[i].tasks_in_node);
    }

  std::sort(nodes.begin(), nodes.end(), system_compare_task);
  TasksInThisNode = nodes[ThisTask].tasks_in_node;
  RankInThisNode  = nodes[ThisTask].rank_in_node;
  ThisNode        = nodes[ThisTask].this_node;
  NumNodes        = nnodes;
  list_of_nodes   = nullptr;
}
