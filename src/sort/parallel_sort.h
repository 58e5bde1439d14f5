#ifndef VORTAN_SORT_PARALLEL_SORT_H
#define VORTAN_SORT_PARALLEL_SORT_H

#include <mpi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "data/macros.h"
#include "data/mymalloc.h"
#include "mpi_utils/mpi_utils.h"
#include "sort/cxxsort.h"

#define MAX_ITER_PARALLEL_SORT 500

namespace parallel_sort_detail
{
// Order of (value, global rank): a strict total order even for repeated values.
template <typename T, typename Tcomp>
inline bool before(const T &a, long long rank_a, const T &b, long long rank_b, Tcomp &comp)
{
  if(comp(a, b))
    return true;
  if(comp(b, a))
    return false;
  return rank_a < rank_b;
}

// A candidate split element with its global rank, the task holding it and the
// length of the window it was taken from; travels as raw bytes.
template <typename T>
struct candidate
{
  long long range_len;
  long long tie_breaking_rank;
  int source;
  T element;
};
}  // namespace parallel_sort_detail

// Number of elements of the sorted local array that precede (element,
// tie_breaking_rank), knowing that it lies in [left, right]. A guess from
// outside the window clamps to its ends, which is what the split search wants.
template <typename T, typename Tcomp>
void get_local_rank(const T &element, long long tie_breaking_rank, const T *base, long long nmemb, long long noffs_thistask,
                    long long left, long long right, long long *loc, Tcomp comp)
{
  using parallel_sort_detail::before;

  if(right < left)
    FATAL_ERROR("right < left");

  if(right == left)
    {
      *loc = left;
      return;
    }

  if(before(base[right - 1], right - 1 + noffs_thistask, element, tie_breaking_rank, comp))
    {
      *loc = right;
      return;
    }
  if(before(element, tie_breaking_rank, base[left], left + noffs_thistask, comp))
    {
      *loc = left;
      return;
    }

  // base[left] is not after the guess and base[right-1] not before it: find
  // the first position in [left, right-1] that does not precede the guess.
  long long lo = left, hi = right - 1;
  while(lo < hi)
    {
      long long mid = lo + (hi - lo) / 2;
      if(before(base[mid], mid + noffs_thistask, element, tie_breaking_rank, comp))
        lo = mid + 1;
      else
        hi = mid;
    }
  *loc = lo;
}

// Sorts an array distributed over comm: afterwards the tasks' arrays, taken in
// rank order, are globally sorted, and every task holds as many elements as
// before. Stable: equal elements keep their global input order. Collective,
// also for tasks without elements. Returns the elapsed seconds.
template <typename Tit, typename Tcomp>
double mycxxsort_parallel(Tit begin, Tit end, Tcomp comp, MPI_Comm comm)
{
  typedef typename std::iterator_traits<Tit>::value_type T;
  using parallel_sort_detail::before;

  const double t0      = MPI_Wtime();
  const long long nmemb = end - begin;
  T *base              = nmemb > 0 ? &*begin : nullptr; // never dereference an empty range

  mycxxsort(begin, end, comp);

  int ThisTask;
  MPI_Comm_rank(comm, &ThisTask);

  MPI_Comm MPI_CommLocal;
  int Color = nmemb > 0;
  MPI_Comm_split(comm, Color, ThisTask, &MPI_CommLocal);

  int Local_ThisTask, Local_NTask;
  MPI_Comm_rank(MPI_CommLocal, &Local_ThisTask);
  MPI_Comm_size(MPI_CommLocal, &Local_NTask);

  if(Color == 0 || Local_NTask == 1)
    {
      MPI_Comm_free(&MPI_CommLocal);
      return MPI_Wtime() - t0;
    }

  const int LN = Local_NTask, LT = Local_ThisTask;

  long long *nlist = (long long *)mymalloc("nlist", LN * sizeof(long long));
  long long *noffs = (long long *)mymalloc("noffs", LN * sizeof(long long));

  MPI_Allgather(&nmemb, 1, MPI_LONG_LONG, nlist, 1, MPI_LONG_LONG, MPI_CommLocal);

  noffs[0] = 0;
  for(int i = 1; i < LN; i++)
    noffs[i] = noffs[i - 1] + nlist[i - 1];

  // Per split point i (between task i and i+1); sized LN so that the
  // collectives can carry one entry per task.
  typedef parallel_sort_detail::candidate<T> candidate;
  candidate *guess                     = (candidate *)mymalloc("element_guess", LN * sizeof(candidate));
  long long *desired_glob_rank         = (long long *)mymalloc("desired_glob_rank", LN * sizeof(long long));
  long long *current_glob_rank         = (long long *)mymalloc("current_glob_rank", LN * sizeof(long long));
  long long *current_loc_rank          = (long long *)mymalloc("current_loc_rank", LN * sizeof(long long));
  long long *range_left                = (long long *)mymalloc("range_left", LN * sizeof(long long));
  long long *range_right               = (long long *)mymalloc("range_right", LN * sizeof(long long));
  candidate *proposal_list             = (candidate *)mymalloc("median_element_list", LN * sizeof(candidate));
  candidate *source_proposal_list      = (candidate *)mymalloc("source_median_element_list", LN * sizeof(candidate));
  T *source_median_element_list        = (T *)mymalloc("list", LN * sizeof(T));
  int *index_list                      = (int *)mymalloc("index_list", LN * sizeof(int));

  std::memset((void *)guess, 0, LN * sizeof(candidate));
  std::memset((void *)proposal_list, 0, LN * sizeof(candidate));

  for(int i = 0; i < LN; i++)
    {
      // the last entry is no split point; it counts as found
      desired_glob_rank[i] = (i < LN - 1) ? noffs[i + 1] : 0;
      current_glob_rank[i] = 0;
      current_loc_rank[i]  = 0;
      range_left[i]        = 0;
      range_right[i]       = nmemb;
    }

  // Drops candidates of zero length (each replaced by the last remaining one),
  // returns how many remain, and picks either the one with the largest window
  // (first of equal maxima) or the median of their elements.
  auto select = [&](candidate *list, int n, bool largest) -> int {
    for(int k = 0; k < n;)
      {
        if(list[k].range_len == 0)
          list[k] = list[--n];
        else
          k++;
      }
    if(n == 0)
      return -1;
    if(largest)
      {
        int sel = 0;
        for(int k = 1; k < n; k++)
          if(list[k].range_len > list[sel].range_len)
            sel = k;
        return sel;
      }
    for(int k = 0; k < n; k++)
      source_median_element_list[k] = list[k].element;
    buildIndex(source_median_element_list, source_median_element_list + n, index_list, comp);
    return index_list[n / 2];
  };

  // First guess: the median of the tasks' medians, used for every split point.
  {
    candidate mine;
    std::memset((void *)&mine, 0, sizeof(mine));
    long long mid          = nmemb / 2;
    mine.range_len         = nmemb;
    mine.element           = base[mid];
    mine.tie_breaking_rank = mid + noffs[LT];
    mine.source            = LT;
    MPI_Gather(&mine, sizeof(candidate), MPI_BYTE, source_proposal_list, sizeof(candidate), MPI_BYTE, 0, MPI_CommLocal);

    if(LT == 0)
      guess[0] = source_proposal_list[select(source_proposal_list, LN, false)];
    MPI_Bcast(&guess[0], sizeof(candidate), MPI_BYTE, 0, MPI_CommLocal);

    for(int i = 1; i < LN; i++)
      guess[i] = guess[0];
  }

  for(int iter = 0;; iter++)
    {
      for(int i = 0; i < LN - 1; i++)
        if(current_glob_rank[i] != desired_glob_rank[i])
          get_local_rank(guess[i].element, guess[i].tie_breaking_rank, base, nmemb, noffs[LT], range_left[i], range_right[i],
                         &current_loc_rank[i], comp);

      // the sum over tasks of the local ranks is the global rank of each guess
      MPI_Allreduce(current_loc_rank, current_glob_rank, LN, MPI_LONG_LONG, MPI_SUM, MPI_CommLocal);
      current_glob_rank[LN - 1] = desired_glob_rank[LN - 1];

      int ranks_not_found = 0;
      for(int i = 0; i < LN - 1; i++)
        if(current_glob_rank[i] != desired_glob_rank[i])
          {
            ranks_not_found++;
            if(current_glob_rank[i] < desired_glob_rank[i])
              range_left[i] = current_loc_rank[i] + (guess[i].source == LT ? 1 : 0);
            else
              range_right[i] = current_loc_rank[i];
          }

      // identical on all tasks, so every task leaves in the same iteration
      if(ranks_not_found == 0)
        break;

      if(iter + 1 > 400 && LT == 0)
        printf("PSORT: iter=%d: ranks_not_found=%d  Local_NTask=%d\n", iter + 1, ranks_not_found, LN);
      if(iter + 1 > MAX_ITER_PARALLEL_SORT)
        FATAL_ERROR("can't find the split points. That's odd");

      // each task proposes the middle of its window; proposal i goes to task i
      for(int i = 0; i < LN; i++)
        {
          proposal_list[i].range_len = 0;
          if(i < LN - 1 && current_glob_rank[i] != desired_glob_rank[i])
            {
              proposal_list[i].range_len = range_right[i] - range_left[i];
              if(proposal_list[i].range_len > 0)
                {
                  long long mid                      = (range_left[i] + range_right[i]) / 2;
                  proposal_list[i].element           = base[mid];
                  proposal_list[i].tie_breaking_rank = mid + noffs[LT];
                  proposal_list[i].source            = LT;
                }
            }
        }

      MPI_Alltoall(proposal_list, sizeof(candidate), MPI_BYTE, source_proposal_list, sizeof(candidate), MPI_BYTE, MPI_CommLocal);

      // alternate between the largest remaining window and the median of medians
      if(LT < LN - 1 && current_glob_rank[LT] != desired_glob_rank[LT])
        {
          int sel = select(source_proposal_list, LN, iter % 2 == 1);
          if(sel >= 0)
            guess[LT] = source_proposal_list[sel];
        }

      MPI_Allgather(MPI_IN_PLACE, sizeof(candidate), MPI_BYTE, guess, sizeof(candidate), MPI_BYTE, MPI_CommLocal);
    }

  // Counts are 64-bit and the exchange splits by itself where a byte count
  // would not fit an MPI int, so there is no limit on the local data size.
  size_t *send_count  = (size_t *)mymalloc("send_count", LN * sizeof(size_t));
  size_t *send_offset = (size_t *)mymalloc("send_offset", LN * sizeof(size_t));
  size_t *recv_count  = (size_t *)mymalloc("recv_count", LN * sizeof(size_t));
  size_t *recv_offset = (size_t *)mymalloc("recv_offset", LN * sizeof(size_t));

  for(int k = 0; k < LN; k++)
    send_count[k] = 0;

  int k = 0;
  for(long long j = 0; j < nmemb; j++)
    {
      while(k < LN - 1 && !before(base[j], j + noffs[LT], guess[k].element, guess[k].tie_breaking_rank, comp))
        k++;
      send_count[k]++;
    }

  MPI_Alltoall(send_count, sizeof(size_t), MPI_BYTE, recv_count, sizeof(size_t), MPI_BYTE, MPI_CommLocal);

  long long nimport = 0;
  send_offset[0] = recv_offset[0] = 0;
  for(int j = 0; j < LN; j++)
    {
      nimport += recv_count[j];
      if(j > 0)
        {
          send_offset[j] = send_offset[j - 1] + send_count[j - 1];
          recv_offset[j] = recv_offset[j - 1] + recv_count[j - 1];
        }
    }

  if(nimport != nmemb)
    FATAL_ERROR("nimport=%lld != nmemb=%lld", nimport, nmemb);

  T *basetmp = (T *)mymalloc("basetmp", nmemb * sizeof(T));

  myMPI_Alltoallv(base, send_count, send_offset, basetmp, recv_count, recv_offset, sizeof(T), 0, MPI_CommLocal);

  std::copy(basetmp, basetmp + nmemb, begin);

  myfree(basetmp);
  myfree(recv_offset);
  myfree(recv_count);
  myfree(send_offset);
  myfree(send_count);

  // the received runs are each sorted and come in task order, so a stable
  // local sort keeps equal elements in their global input order
  mycxxsort(begin, end, comp);

  myfree(index_list);
  myfree(source_median_element_list);
  myfree(source_proposal_list);
  myfree(proposal_list);
  myfree(range_right);
  myfree(range_left);
  myfree(current_loc_rank);
  myfree(current_glob_rank);
  myfree(desired_glob_rank);
  myfree(guess);
  myfree(noffs);
  myfree(nlist);

  MPI_Comm_free(&MPI_CommLocal);

  return MPI_Wtime() - t0;
}

#endif
