// Keys per second for positions with 21 significant bits per dimension, next
// to a plain loop that streams the same arrays (the memory-bound ceiling).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "sort/peano.h"

namespace
{
// CPU time of this thread: the figure is per core, and the machine may be shared
double cpu_now()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}
}  // namespace

int main(int argc, char **argv)
{
  const size_t n = argc > 1 ? atol(argv[1]) : 4000000;
  const int reps = 7;

  std::mt19937_64 rng(1);
  std::vector<MyIntPosType> x(n), y(n), z(n);
  for(size_t i = 0; i < n; i++)
    {
      // 21 significant bits, placed at the top as in the integer frame
      x[i] = (rng() >> 43) << 43;
      y[i] = (rng() >> 43) << 43;
      z[i] = (rng() >> 43) << 43;
    }
  std::vector<peanokey> keys(n);

  double best_ref = 1e30;
  for(int r = 0; r < reps; r++)
    {
      double t0 = cpu_now();
      for(size_t i = 0; i < n; i++)
        keys[i] = peanokey{x[i], y[i], z[i]};
      best_ref = std::min(best_ref, cpu_now() - t0);
    }

  printf("%-40s %10.3g items/s\n", "reference: copy x,y,z into key array", n / best_ref);

  for(int bits : {64, 21})
    {
      int shift    = 64 - bits;
      double best  = 1e30;
      for(int r = 0; r < reps; r++)
        {
          double t0 = cpu_now();
          for(size_t i = 0; i < n; i++)
            keys[i] = peano_hilbert_key(x[i] >> shift, y[i] >> shift, z[i] >> shift, bits);
          best = std::min(best, cpu_now() - t0);
        }
      unsigned long long check = 0;
      for(size_t i = 0; i < n; i++)
        check ^= keys[i].hs ^ keys[i].is ^ keys[i].ls;
      printf("peano_hilbert_key, bits=%-2d               %10.3g keys/s  (%.2f of reference)  [%llx]\n", bits, n / best,
             best_ref / best, check);
    }
  return 0;
}
