#ifndef VORTAN_SORT_CXXSORT_H
#define VORTAN_SORT_CXXSORT_H

#include <mpi.h>

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "data/mymalloc.h"

// Ranges up to this size are finished by insertion, which is stable and
// avoids the recursion overhead of the merge near the leaves.
#define CXXSORT_INSERTION_THRESHOLD 16

namespace cxxsort_detail
{
// Stable insertion sort of [src, src+n) into dst; src == dst sorts in place.
template <typename In, typename Out, typename Tcomp>
inline void insertion_sort_into(In src, std::size_t n, Out dst, Tcomp &comp)
{
  for(std::size_t i = 0; i < n; i++)
    {
      auto x        = src[i];
      std::size_t j = i;
      while(j > 0 && comp(x, dst[j - 1]))
        {
          dst[j] = dst[j - 1];
          j--;
        }
      dst[j] = x;
    }
}

// Merges two sorted runs into out. A second-run element is taken only when it
// strictly precedes the head of the first run, so equal elements keep their
// input order.
template <typename In, typename Out, typename Tcomp>
inline void merge_runs(In a, In a_end, In b, In b_end, Out out, Tcomp &comp)
{
  if(a != a_end && b != b_end && !comp(*b, *(a_end - 1)))
    {
      // runs already in order (typical for presorted input)
      out = std::copy(a, a_end, out);
      std::copy(b, b_end, out);
      return;
    }

  // branch-free selection: on random keys the outcome of comp is a coin
  // toss, and a mispredicted branch per element costs more than the compare
  while(a != a_end && b != b_end)
    {
      bool take_b = comp(*b, *a);
      *out++      = take_b ? *b : *a;
      b += take_b;
      a += !take_b;
    }
  out = std::copy(a, a_end, out);
  std::copy(b, b_end, out);
}
}  // namespace cxxsort_detail

// Sorts [begin, end) with buf (same length) as the other array. With
// res_into_buf the result lands in buf and [begin, end) is scratch, otherwise
// the result is left in [begin, end).
template <typename Tit, typename Tbuf, typename Tcomp>
void mycxxsort_internal_serial(Tit begin, Tit end, Tbuf buf, bool res_into_buf, Tcomp comp)
{
  std::size_t n = end - begin;
  if(n <= CXXSORT_INSERTION_THRESHOLD)
    {
      if(res_into_buf)
        cxxsort_detail::insertion_sort_into(begin, n, buf, comp);
      else
        cxxsort_detail::insertion_sort_into(begin, n, begin, comp);
      return;
    }

  std::size_t h = n / 2;
  mycxxsort_internal_serial(begin, begin + h, buf, !res_into_buf, comp);
  mycxxsort_internal_serial(begin + h, end, buf + h, !res_into_buf, comp);

  if(res_into_buf)
    cxxsort_detail::merge_runs(begin, begin + h, begin + h, end, buf, comp);
  else
    cxxsort_detail::merge_runs(buf, buf + h, buf + h, buf + n, begin, comp);
}

// Stable sort in place; the scratch array comes from the block allocator.
// Returns the elapsed wall-clock seconds.
template <typename Tit, typename Tcomp>
double mycxxsort(Tit begin, Tit end, Tcomp comp)
{
  typedef typename std::iterator_traits<Tit>::value_type T;

  const std::ptrdiff_t n = end - begin;
  if(n <= 1)
    return 0;

  double t0 = MPI_Wtime();

  T *buf = (T *)mymalloc("buf", n * sizeof(T));
  mycxxsort_internal_serial(begin, end, buf, false, comp);
  myfree(buf);

  return MPI_Wtime() - t0;
}

template <typename T, typename Tcomp>
struct IdxComp__
{
  T base;
  Tcomp comp;

  IdxComp__(T base_, Tcomp comp_) : base(base_), comp(comp_) {}

  bool operator()(std::size_t a, std::size_t b) const { return comp(*(base + a), *(base + b)); }
};

// Fills idx with the permutation that orders [begin, end) by comp (stable);
// the data themselves stay where they are.
template <typename Tit, typename Tidx, typename Tcomp>
void buildIndex(Tit begin, Tit end, Tidx *idx, Tcomp comp)
{
  std::size_t n = end - begin;
  for(std::size_t i = 0; i < n; i++)
    idx[i] = i;
  mycxxsort(idx, idx + n, IdxComp__<Tit, Tcomp>(begin, comp));
}

#endif
