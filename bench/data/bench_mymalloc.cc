// Block allocator against the system allocator, and the cost of releasing a
// movable block from under 1 GB of other movable blocks against a bare memmove.
#include <benchmark/benchmark.h>
#include <mpi.h>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../../tests/data/alloc_start.h"
#include "data/mymalloc.h"

namespace
{
constexpr size_t GB      = size_t(1) << 30;
constexpr size_t SLAB    = size_t(64) << 20; // 16 movable blocks make 1 GB
constexpr size_t VICTIM  = size_t(64) << 10;

void BM_mymalloc_myfree(benchmark::State &state)
{
  size_t n = state.range(0);
  for(auto _ : state)
    {
      void *p = mymalloc("bench", n);
      benchmark::DoNotOptimize(p);
      myfree(p);
    }
  state.SetItemsProcessed(state.iterations());
}

void BM_malloc_free(benchmark::State &state)
{
  size_t n = state.range(0);
  for(auto _ : state)
    {
      void *p = malloc(n);
      benchmark::DoNotOptimize(p);
      free(p);
    }
  state.SetItemsProcessed(state.iterations());
}

void BM_myfree_movable_under_1GB(benchmark::State &state)
{
  char *victim = nullptr;
  std::vector<char *> slabs(GB / SLAB, nullptr);

  // Fault the pages in once, as the memmove benchmark does with its buffer.
  char *warm = static_cast<char *>(mymalloc("warm", GB + VICTIM));
  memset(warm, 1, GB + VICTIM);
  myfree(warm);
  for(auto _ : state)
    {
      state.PauseTiming();
      victim = static_cast<char *>(mymalloc_movable(&victim, "victim", VICTIM));
      for(auto &s : slabs)
        s = static_cast<char *>(mymalloc_movable(&s, "slab", SLAB));
      state.ResumeTiming();

      myfree_movable(victim);

      state.PauseTiming();
      for(size_t k = slabs.size(); k-- > 0;)
        myfree_movable(slabs[k]);
      state.ResumeTiming();
    }
  state.SetBytesProcessed(state.iterations() * GB);
}

void BM_memmove_1GB(benchmark::State &state)
{
  char *buf = static_cast<char *>(malloc(GB + VICTIM));
  memset(buf, 1, GB + VICTIM);
  for(auto _ : state)
    {
      memmove(buf, buf + VICTIM, GB);
      benchmark::ClobberMemory();
    }
  free(buf);
  state.SetBytesProcessed(state.iterations() * GB);
}
}  // namespace

BENCHMARK(BM_mymalloc_myfree)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_malloc_free)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_myfree_movable_under_1GB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_memmove_1GB)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  vortan_test::start_allocator(1100, "bench_mymalloc_out");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  MPI_Finalize();
  return 0;
}
