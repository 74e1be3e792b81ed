/*
 * Allocation failure in the libraries and the front end, one allocation at
 * a time: every entry point that allocates is run once to count its calls
 * of malloc, calloc and realloc, then once for every N with the N-th of
 * them failing.  Each run must end exactly like the clean one (when the
 * allocation that failed was not needed) or report the exhausted heap as
 * such -- error value 1, VaboOptimizeNoMemory, VaboCovNoMemory, a non-zero
 * exit status of vabo_main (whose messages test_vabo_faults checks) -- with
 * the outputs untouched and every byte it took given back.  The failing
 * allocator (tools/failing_allocator.h) is this program's own malloc, which
 * forwards to glibc's and keeps count of the bytes in use; the sanitized
 * build, whose allocator it would fight, skips the sweep.
 */
#include "numio.h"
#include "vabo.h"
#include "vabo_base.h"
#include "vabo_results.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

/* The address sanitizer, as gcc and as clang announce it. */
#if defined(__SANITIZE_ADDRESS__)
#define VABO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VABO_ASAN 1
#endif
#endif

#if defined(VABO_ASAN)
#define VABO_ALLOCATOR_REPLACED 0
#else
#define VABO_ALLOCATOR_REPLACED 1

#include "tools/failing_allocator.h"

namespace {
long FailAt = 0;  /* the counted call that fails; 0: none */
long Counted = 0; /* calls counted while armed */
bool Armed = false;
size_t InUse = 0; /* usable bytes of the blocks not yet freed */
} // namespace

namespace vabo_alloc {
bool fails_now() { return Armed && ++Counted == FailAt; }
void taken(void *block) { InUse += malloc_usable_size(block); }
void released(size_t usable_bytes) { InUse -= usable_bytes; }
} // namespace vabo_alloc
#endif

namespace {

/* How one run of an entry point ended, as comparable values; a plain
 * array, since making it must not allocate while the failure is armed. */
struct Outcome {
  bool out_of_memory = false;      /* the entry point reported no memory */
  std::array<double, 24> values{}; /* everything else it returned */
  size_t count = 0;
  Outcome(bool no_memory, std::initializer_list<double> list)
      : out_of_memory(no_memory)
  {
    for (double v : list) add(v);
  }
  Outcome() = default;
  void add(double v)
  {
    if (count < values.size()) values[count++] = v;
  }
  bool operator==(const Outcome &) const = default;
};

/* A standard stream goes to /dev/null while it lives (file descriptors
 * only: nothing is allocated, so it may stand inside an armed run). */
class Silenced {
public:
  explicit Silenced(FILE *stream)
      : stream_(stream), fd_(fileno(stream)), saved_(dup(fd_))
  {
    std::fflush(stream_);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, fd_);
      close(null);
    }
  }
  ~Silenced()
  {
    std::fflush(stream_);
    if (saved_ >= 0) {
      dup2(saved_, fd_);
      close(saved_);
    }
  }
  Silenced(const Silenced &) = delete;
  Silenced &operator=(const Silenced &) = delete;

private:
  FILE *stream_;
  int fd_;
  int saved_;
};

/* Bytes the heap has handed out and not got back. */
size_t heap_in_use()
{
#if VABO_ALLOCATOR_REPLACED
  return InUse;
#else
  return 0;
#endif
}

/* Runs body with the n-th allocation failing (0: none); returns its
 * outcome and in *count the allocations it made. */
Outcome run_failing(long n, const std::function<Outcome()> &body, long *count)
{
#if VABO_ALLOCATOR_REPLACED
  FailAt = n;
  Counted = 0;
  Armed = true;
#endif
  Outcome outcome = body();
#if VABO_ALLOCATOR_REPLACED
  Armed = false;
  *count = Counted;
#else
  (void)n;
  *count = 0;
#endif
  return outcome;
}

/* The sweep: body once cleanly, then once per allocation with that one
 * failing.  Each failing run ends as the clean one or out of memory; with
 * gives_back, the heap holds no more afterwards than before. */
void sweep(const char *name, const std::function<Outcome()> &body,
           bool gives_back = true)
{
  if (!VABO_ALLOCATOR_REPLACED) GTEST_SKIP() << "allocator not replaceable";
  long total = 0;
  const Outcome clean = run_failing(0, body, &total);
  ASSERT_FALSE(clean.out_of_memory) << name;
  ASSERT_GT(total, 0) << name << " allocates nothing";
  int failures = 0;
  for (long n = 1; n <= total; ++n) {
    const size_t before = heap_in_use();
    long count = 0;
    const Outcome failed = run_failing(n, body, &count);
    const size_t after = heap_in_use();
    if (failed.out_of_memory) {
      ++failures;
    } else {
      EXPECT_EQ(failed, clean) << name << ": allocation " << n;
    }
    if (gives_back) {
      EXPECT_EQ(after, before) << name << ": allocation " << n;
    }
  }
  EXPECT_GT(failures, 0) << name << ": no failure was reported";
}

/* ---- the numbers library ------------------------------------------------ */

Outcome read_double(const char *text)
{
  int errval = -1;
  const char *tail = nullptr;
  const double value = num_str2double(text, &tail, &errval);
  if (errval == NUM_ENOMEM) return {true, {value}};
  return {
      false,
      {value, static_cast<double>(errval), static_cast<double>(tail - text)}};
}

Outcome read_long(const char *text)
{
  int errval = -1;
  const long value = num_str2long(text, nullptr, &errval);
  if (errval == NUM_ENOMEM) return {true, {}};
  return {false, {static_cast<double>(value), static_cast<double>(errval)}};
}

class NumioAllocation : public ::testing::Test {
protected:
  /* The units table is built before the sweeps that do not build it. */
  void SetUp() override { num_str2double("1_m", nullptr, nullptr); }
};

TEST_F(NumioAllocation, ReadersReportNoMemoryAsErrorOne)
{
  const char *const doubles[] = {"11_cm", "-22_deg*2+atan2(1,2)",
                                 "1?(double)(7/2):2", "min(3_mm,1_cm)",
                                 "(((((1+2)*3)-4)/5)+gamma(5))_keV"};
  for (const char *text : doubles)
    sweep(text, [text] { return read_double(text); });
  const char *const longs[] = {"(long int)(2.7*3)+(round)2.5",
                               "(round)(1_km/1_m)*sin(1)+true"};
  for (const char *text : longs)
    sweep(text, [text] { return read_long(text); });
}

TEST_F(NumioAllocation, CompiledFormulasReportNoMemoryAsErrorOne)
{
  sweep("_x*(2+3)+log(_y)", [] {
    int errval = -1;
    NumProg *program = num_str2prog("alloc", "_x*(2+3)+log(_y)", nullptr,
                                    &errval, 2, "x", "y");
    if (!program) return Outcome{errval == NUM_ENOMEM, {double(errval)}};
    const double value = num_runprog(program, &errval, 2.385, 7.25);
    num_rmprog(program, nullptr);
    if (errval == NUM_ENOMEM) return Outcome{true, {}};
    return Outcome{false, {value, double(errval)}};
  });
}

TEST_F(NumioAllocation, UnitFormattingReportsNoMemoryAsErrorOne)
{
  sweep("num_double2str", [] {
    char buffer[64];
    int errval = -1;
    const char *text =
        num_double2str(buffer, sizeof buffer, 0.11, "cm/s", 0, &errval);
    if (errval == NUM_ENOMEM) return Outcome{true, {}};
    return Outcome{false,
                   {text ? std::strtod(text, nullptr) : -1.0,
                    static_cast<double>(errval)}};
  });
}

/* A table whose building stops part-way must not be searched: with "cm"
 * still missing, "3_cm" would read as 3 times the speed of light "c". */
TEST(UnitsTableAllocation, HalfBuiltTableReportsNoMemoryAndIsNeverUsed)
{
  sweep(
      "units table",
      [] {
        dpconstant_free();
        DPConstantInit = 0;
        return read_double("3_cm");
      },
      false);
  /* After all those partial tables, the next lookup completes it. */
  int errval = -1;
  EXPECT_EQ(num_str2double("3_cm", nullptr, &errval), 0.03);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(DPConstantInit, 1);
}

/* ---- the refinement ----------------------------------------------------- */

const vabo_test::Params kTruth = {75e-6,  75e-6,  1021.3,  978.6,
                                  0.2035, 0.0524, -0.0349, 0.0};

vabo_test::Points grid_points()
{
  vabo_test::Points pts;
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 3; ++b) {
      const double i1 = 211.3 + 487.1 * a + 13.7 * b;
      const double i2 = 157.9 + 611.3 * b + 7.9 * a;
      pts.i1.push_back(i1);
      pts.i2.push_back(i2);
      pts.angle.push_back(vabo_test::two_theta(kTruth.data(), i1, i2));
      pts.weight.push_back(0.5 + 0.125 * a);
    }
  return pts;
}

Outcome refine(const vabo_test::Points &pts)
{
  vabo_test::Params start = kTruth;
  start[Cen1] += 3.25;
  start[Dis] -= 0.0015;
  const vabo_test::Result r =
      vabo_test::optimize_points(start, nullptr, pts, 1e-12, 6, 7.777);
  if (r.status != 0) {
    const bool untouched =
        r.par[0] == 7.777 && r.dev[0] == 7.777 && r.stat[0] == 7.777;
    return {VaboOptimizeLastFailure() == VaboOptimizeNoMemory && untouched,
            {double(VaboOptimizeLastFailure())}};
  }
  Outcome outcome;
  for (double v : r.par) outcome.add(v);
  for (double v : r.dev) outcome.add(v);
  for (double v : r.stat) outcome.add(v);
  return outcome;
}

TEST(RefineAllocation, RefinementReportsNoMemoryWithOutputsUntouched)
{
  const vabo_test::Points pts = grid_points();
  const int modes[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};
  sweep("VaboOptimize", [&pts] { return refine(pts); });
  /* The path point by point, with its showtemp printouts. */
  vabo_test::DebugGuard showtemp(VABO_SHOWTEMP);
  sweep("VaboOptimize point by point", [&pts] {
    Silenced silent(stdout);
    return refine(pts);
  });
  sweep("VaboCovariance", [&pts, &modes] {
    Silenced silent(stdout);
    double cov[NParams * NParams];
    size_t nopt = 0;
    const int status = VaboCovariance(
        cov, nullptr, &nopt, kTruth.data(), modes, pts.size(), pts.angle.data(),
        pts.i1.data(), pts.i2.data(), pts.weight.data());
    if (status == VaboCovNoMemory) return Outcome{true, {}};
    return Outcome{false, {double(status), cov[0], cov[nopt * nopt - 1]}};
  });
}

/* ---- the result record ------------------------------------------------- */

/* Destroying a tree of the JSON library allocates, and a failure there ended
 * the process; the document is now written as text. */
TEST(ResultAllocation, JsonDocumentSurvivesEveryFailedAllocation)
{
  const vabo_test::Points pts = grid_points();
  VaboResult result;
  const int modes[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};
  vabo_result_set_start(result, kTruth.data(), modes);
  double dev[NParams] = {0, 0, 0.25, 0.5, 1e-5, 2e-5, 3e-5, 0};
  double stat[NStats] = {1e-5, -2e-6, 3e-5, 9, 12, 5};
  vabo_result_set_refined(result, kTruth.data(), dev, stat, nullptr, pts.size(),
                          pts.angle.data(), pts.i1.data(), pts.i2.data(),
                          pts.weight.data());
  result.arguments = {"vabo", "x\xff", "json=r.json"};
  result.message = "succesfully completed";
  sweep("vabo_result_json", [&result] {
    const std::string text = vabo_result_json(result);
    if (text.empty()) return Outcome{true, {}};
    return Outcome{false,
                   {static_cast<double>(text.size()),
                    static_cast<double>(std::hash<std::string>{}(text))}};
  });
}

/* A whole run of vabo_main may fail anywhere -- lists, readers, tables,
 * refinement, covariance, result files -- and must leave nothing behind. */
TEST(FrontEndAllocation, EveryFailureGivesEveryByteBack)
{
  std::string points = vabo_test::example_points(30);
  FILE *input = fmemopen(points.data(), points.size(), "r");
  ASSERT_NE(input, nullptr);
  setvbuf(input, nullptr, _IONBF, 0); /* no buffer made inside a run */
  const std::vector<std::vector<std::string>> cases = {
      {"vabo", "75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"},
      {"vabo", "75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0",
       "debug=0x13", "maxdev=2_deg", "json=/dev/null", "poni=/dev/null"},
  };
  for (auto args : cases) {
    std::vector<char *> argv;
    for (auto &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    sweep(args.back().c_str(), [&argv, input] {
      Silenced out(stdout), err(stderr);
      std::rewind(input);
      const int status =
          vabo_main(static_cast<int>(argv.size() - 1), argv.data(), input);
      return Outcome{status != 0, {static_cast<double>(status)}};
    });
  }
  std::fclose(input);
}

} // namespace
