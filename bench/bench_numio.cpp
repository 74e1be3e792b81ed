/*
 * Benchmark of num_str2double, through which every number vabo reads
 * passes: plain literals as a calibration file holds them (read directly,
 * without a program), literals with units and signs (a program of a few
 * instructions each), and longer expressions with functions, operators
 * and parentheses.  Items per second count numbers read.
 */
#include "numio.h"

#include <benchmark/benchmark.h>

#include <cstddef>

namespace {

/* clang-format off */
const char *const kPlainLiterals[] = {
    "0.1756769954", "1406.192", "844.769", "0.3527280637  1876.049",
    "-0.0349065850398866", "75e-6", "1021.3", "2.385E+2", ".5", "978.6"};

const char *const kLiteralsWithUnits[] = {
    "50_um", "11_cm", "-22_deg", "203.5_mm", "17_keV",
    "0.72932_Ao", "3_mrad", "-2_deg", "1_deg", "75_um"};
/* clang-format on */

const char *const kExpressions[] = {
    "atan2(1,2)*180/pi()+min(3_mm,1_cm)", "(1+2)*3-4/5+sqrt(2.385)_cm",
    "1<2 ? 2*asin(0.72932_Ao/(2*4.156826_Ao)) : 0",
    "pow(2,10)//3%7+round(2.5)-abs(-1.5)_deg",
    "exp(log(10))*gamma(5)/max(1,2)"};

template <size_t N>
void read_all(benchmark::State &state, const char *const (&texts)[N])
{
  for (auto _ : state) {
    for (const char *text : texts) {
      const char *tail = nullptr;
      int errval = 0;
      benchmark::DoNotOptimize(num_str2double(text, &tail, &errval));
      if (errval != 0) {
        state.SkipWithError(text);
        return;
      }
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(N));
}

void BM_PlainLiterals(benchmark::State &state)
{
  read_all(state, kPlainLiterals);
}

void BM_LiteralsWithUnits(benchmark::State &state)
{
  read_all(state, kLiteralsWithUnits);
}

void BM_Expressions(benchmark::State &state) { read_all(state, kExpressions); }

} // namespace

BENCHMARK(BM_PlainLiterals);
BENCHMARK(BM_LiteralsWithUnits);
BENCHMARK(BM_Expressions);
