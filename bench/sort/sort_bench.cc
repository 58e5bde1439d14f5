// Serial merge sort next to std::sort and std::stable_sort, and the
// distributed sort in strong (N keys in total) and weak (N keys per task)
// scaling. Run under mpiexec with 1, 2, 4 tasks; argument N (default 1e7).
#include <mpi.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "alloc_setup.h"
#include "sort/cxxsort.h"
#include "sort/parallel_sort.h"
#include "sort/peano.h"

namespace
{
// CPU time of this thread, so that a busy machine does not skew the ratios
double cpu_now()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

template <typename T, typename F>
double time_it(std::vector<T> &v, const std::vector<T> &input, F sort)
{
  double best = 1e30;
  for(int r = 0; r < 3; r++)
    {
      v       = input;
      double t0 = cpu_now();
      sort(v);
      best = std::min(best, cpu_now() - t0);
    }
  return best;
}

template <typename T, typename Comp>
void serial(const char *name, const std::vector<T> &input, Comp comp)
{
  std::vector<T> v;
  size_t n      = input.size();
  double t_std  = time_it(v, input, [&](std::vector<T> &a) { std::sort(a.begin(), a.end(), comp); });
  double t_stab = time_it(v, input, [&](std::vector<T> &a) { std::stable_sort(a.begin(), a.end(), comp); });
  double t_my   = time_it(v, input, [&](std::vector<T> &a) { mycxxsort(a.begin(), a.end(), comp); });
  if(!std::is_sorted(v.begin(), v.end(), comp))
    printf("NOT SORTED\n");
  printf("%-22s n=%zu  std::sort %8.3g/s  std::stable_sort %8.3g/s  mycxxsort %8.3g/s  (%.2f x std::sort)\n", name, n, n / t_std,
         n / t_stab, n / t_my, t_std / t_my);
}
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  int ntask, thistask;
  MPI_Comm_size(MPI_COMM_WORLD, &ntask);
  MPI_Comm_rank(MPI_COMM_WORLD, &thistask);

  const long long N = argc > 1 ? atoll(argv[1]) : 10000000;

  // room for the weak-scaling array's scratch and exchange buffers
  int megabytes = (int)(3 * N * sizeof(peanokey) / (1024 * 1024)) + 64;
  start_test_allocator(megabytes);

  std::mt19937_64 rng(17 + thistask);

  if(ntask == 1)
    {
      std::vector<unsigned long long> u(N);
      for(auto &x : u)
        x = rng();
      serial("uint64 random", u, std::less<unsigned long long>());

      std::vector<peanokey> k(N);
      for(auto &x : k)
        x = peano_hilbert_key(rng(), rng(), rng(), 64);
      serial("peanokey random", k, std::less<peanokey>());

      std::sort(k.begin(), k.end());
      for(size_t i = 0; i + 1 < k.size(); i += 100)
        std::swap(k[i], k[i + 1]);
      serial("peanokey nearly sorted", k, std::less<peanokey>());
    }

  for(int weak : {0, 1})
    {
      long long nlocal = weak ? N : N / ntask + (thistask < N % ntask);
      std::vector<peanokey> k(nlocal);
      for(auto &x : k)
        x = peano_hilbert_key(rng(), rng(), rng(), 64);

      MPI_Barrier(MPI_COMM_WORLD);
      double t0 = MPI_Wtime();
      mycxxsort_parallel(k.begin(), k.end(), std::less<peanokey>(), MPI_COMM_WORLD);
      MPI_Barrier(MPI_COMM_WORLD);
      double t = MPI_Wtime() - t0;

      long long total = weak ? N * ntask : N;
      if(thistask == 0)
        printf("mycxxsort_parallel %-6s tasks=%d  keys=%lld  %.3f s  %8.3g keys/s  %8.3g keys/s/task\n", weak ? "weak" : "strong",
               ntask, total, t, total / t, total / t / ntask);
    }

  MPI_Finalize();
  return 0;
}
