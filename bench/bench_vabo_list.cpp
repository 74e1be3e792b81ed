/*
 * Benchmark of the keyed lists as the data reader uses them: N lines stored
 * with write_element_value under the ascending keys "1" ... "N" into a fresh
 * list.  With the append at the list's end each line costs constant time,
 * so the time per line should stay flat from 1e3 to 1e5 lines.
 */
#include "vabo_list.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

void BM_WriteAscendingKeys(benchmark::State &state)
{
  const long n = state.range(0);
  char key[32];
  for (auto _ : state) {
    LList *data = nullptr;
    if (new_list("data", &data) != 0) {
      state.SkipWithError("new_list failed");
      break;
    }
    for (long i = 1; i <= n; ++i) {
      std::snprintf(key, sizeof key, "%ld", i);
      if (write_element_value(data, key, "0.3841 512.75 498.125") != 0) {
        state.SkipWithError("write_element_value failed");
        break;
      }
    }
    benchmark::DoNotOptimize(number_of_elements(data));
    state.PauseTiming();
    free_lists();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetComplexityN(n);
}

} // namespace

BENCHMARK(BM_WriteAscendingKeys)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
