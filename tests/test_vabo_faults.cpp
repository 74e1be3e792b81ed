/*
 * Faults of the machine under the program vabo, as a user meets them: the
 * built binary runs with standard output on a full device, with an
 * iteration log or result files that cannot be written, and with every
 * allocation of a whole run failing in turn (a shim preloaded into it,
 * tests/tools/fail_alloc.cpp).  A run may end with status 0 only when all
 * it wrote is what the clean run writes; otherwise it must end non-zero and
 * say what failed.  (An input that is a directory: VaboCli.)
 */
#include "test_program.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vabo_test::run_with;
using vabo_test::RunOutput;
using vabo_test::RunSetup;
using vabo_test::ScratchDir;
using vabo_test::slurp;
namespace fs = std::filesystem;

const std::string &kBanner = vabo_test::kVaboBanner;
const std::vector<std::string> &kStart = vabo_test::kExampleStart;
const std::string kRefineAdvice =
    "The optimization loop did not terminate successfully.\n"
    "Adjust the start parameters or modify the input data.\n";
const std::string kFull = "/dev/full";
const std::string kNoSpace = std::strerror(ENOSPC);

std::vector<std::string> with_start(std::vector<std::string> args,
                                    std::vector<std::string> start = kStart)
{
  args.insert(args.begin(), start.begin(), start.end());
  args.insert(args.begin(), "input=points.dat");
  return args;
}

/* A scratch directory holding points.dat with 30 points. */
struct PointsDir : ScratchDir {
  PointsDir() { write("points.dat", vabo_test::example_points(30)); }
};

/* ---- output that cannot be written -------------------------------------- */

TEST(VaboFaults, ResultLinesLostOnAFullDeviceAreNotASuccess)
{
  const std::string lost = "ERROR: writing standard output: " + kNoSpace + "\n";
  const std::string too_poor =
      "Standard deviation of optimized parameters exceeds maximum accepted "
      "deviation\n";
  auto singular = kStart;
  singular[7] = "~0"; /* rot3 acts on no angle */
  struct Case {
    const char *what;
    std::vector<std::string> args;
    int status;
    std::string err_start, err_end; /* after the banner; the end of it */
  } cases[] = {
      {"success", with_start({}), 1, lost, "ERROR: status=1\n"},
      {"usage", {}, 1, "", lost},
      {"fit too poor", with_start({"maxdev=0"}), 65, too_poor,
       lost + "ERROR: status=65\n"},
      {"refinement failed", with_start({"debug=8"}, singular), 33, lost,
       "ERROR: status=33\n" + kRefineAdvice},
  };
  for (const auto &c : cases) {
    PointsDir dir;
    RunSetup setup;
    setup.stdout_path = kFull;
    const RunOutput r = run_with(dir, c.args, setup);
    EXPECT_EQ(r.status, c.status) << c.what;
    const std::string err =
        r.err.substr(std::min(kBanner.size(), r.err.size()));
    EXPECT_EQ(err.substr(0, c.err_start.size()), c.err_start) << c.what << "\n"
                                                              << r.err;
    ASSERT_GE(err.size(), c.err_end.size()) << c.what << "\n" << r.err;
    EXPECT_EQ(err.substr(err.size() - c.err_end.size()), c.err_end)
        << c.what << "\n"
        << r.err;
  }

  /* The JSON result written after it says why the run failed. */
  PointsDir dir;
  RunSetup setup;
  setup.stdout_path = kFull;
  const RunOutput r = run_with(dir, with_start({"json=r.json"}), setup);
  EXPECT_EQ(r.status, 1);
  const auto json =
      nlohmann::json::parse(slurp(dir.file("r.json")), nullptr, false);
  ASSERT_TRUE(json.is_object()) << r.err;
  EXPECT_EQ(json["status"], 1);
  EXPECT_EQ(json["message"], "writing standard output: " + kNoSpace);
}

TEST(VaboFaults, IterationLogThatCannotBeWrittenFailsTheRefinement)
{
  struct Case {
    const char *what;
    void (*make_log)(const ScratchDir &);
    std::string reason;
  } cases[] = {
      {"a directory",
       [](const ScratchDir &d) {
         fs::create_directory(d.file("vabo_iteration.spec"));
       },
       std::strerror(EISDIR)},
      {"a full device",
       [](const ScratchDir &d) {
         fs::create_symlink(kFull, d.file("vabo_iteration.spec"));
       },
       kNoSpace},
  };
  for (const auto &c : cases) {
    PointsDir dir;
    c.make_log(dir);
    const RunOutput r = run_with(dir, with_start({"debug=128"}), RunSetup{});
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err, kBanner +
                         "ERROR: vabo_save_step: cannot write "
                         "vabo_iteration.spec: " +
                         c.reason + "\n" + "ERROR: status=33\n" + kRefineAdvice)
        << c.what;
    EXPECT_EQ(r.status, 33) << c.what;
  }
}

TEST(VaboFaults, ResultFilesOnAFullDeviceFailTheRun)
{
  PointsDir dir;
  const RunOutput plain = run_with(dir, with_start({}), RunSetup{});
  for (const std::string option : {"poni=", "json="}) {
    const RunOutput r = run_with(dir, with_start({option + kFull}), RunSetup{});
    EXPECT_EQ(r.out, plain.out) << option; /* the result lines stand */
    EXPECT_EQ(r.err, kBanner + "ERROR: writing " + kFull + ": " + kNoSpace +
                         "\nERROR: status=1\n")
        << option;
    EXPECT_EQ(r.status, 1) << option;
  }
}

/* ---- every allocation failing in turn ------------------------------------ */

#ifdef VABO_FAIL_ALLOC_SHIM
constexpr bool kHaveShim = true;
const std::string kShim = VABO_FAIL_ALLOC_SHIM;
#else
constexpr bool kHaveShim = false;
const std::string kShim;
#endif

/* A file the run wrote, for comparison; in the PONI file the line with the
 * date of the calibration is left out. */
std::string written(const ScratchDir &dir, const std::string &name)
{
  std::string text = slurp(dir.file(name));
  if (name.ends_with(".poni")) {
    const size_t date = text.find("# Calibration done by vabo at ");
    if (date != std::string::npos)
      text.erase(date, text.find('\n', date) - date);
  }
  return text;
}

bool says_memory_ran_out(const std::string &err)
{
  return err.find("memory allocation failed") != std::string::npos ||
         err.find(std::strerror(ENOMEM)) != std::string::npos;
}

/* Runs args once with the shim counting, then once for every allocation
 * with that one failing.  Returns the number of runs made. */
long sweep_allocations(const std::vector<std::string> &args,
                       const std::vector<std::string> &files)
{
  PointsDir dir;
  RunSetup setup;
  setup.env = {{"LD_PRELOAD", kShim},
               {"VABO_ALLOC_COUNT", dir.file(".count").string()}};
  const RunOutput clean = run_with(dir, args, setup);
  EXPECT_EQ(clean.status, 0) << clean.err;
  std::vector<std::string> clean_files;
  for (const auto &f : files) clean_files.push_back(written(dir, f));
  const long total = std::atol(slurp(dir.file(".count")).c_str());
  EXPECT_GT(total, 100) << "the shim counted no allocations";

  int reported = 0; /* failures listed in full; the rest only counted */
  long bad = 0;
  for (long n = 1; n <= total; ++n) {
    for (const auto &f : files) fs::remove(dir.file(f));
    setup.env = {{"LD_PRELOAD", kShim}, {"VABO_FAIL_ALLOC", std::to_string(n)}};
    const RunOutput r = run_with(dir, args, setup);
    bool same = r.status == 0 && r.out == clean.out && r.err == clean.err;
    for (size_t k = 0; same && k < files.size(); ++k)
      same = written(dir, files[k]) == clean_files[k];
    const bool sound = same || (r.status > 0 && says_memory_ran_out(r.err));
    if (!sound) {
      ++bad;
      if (reported++ < 5)
        ADD_FAILURE() << "allocation " << n << " of " << total
                      << " failing: status " << r.status << "\n"
                      << r.err;
    }
  }
  EXPECT_EQ(bad, 0) << "runs that crashed, hung, succeeded with other output "
                       "or failed without saying that memory ran out";
  return total;
}

TEST(VaboFaults, AllocationFailureIsNeverASuccessOrASilentError)
{
  if (!kHaveShim) GTEST_SKIP() << "the sanitized build has no allocation shim";
  sweep_allocations(with_start({}), {});
  sweep_allocations(
      with_start({"debug=0x81", "maxdev=2_deg", "json=r.json", "poni=r.poni"}),
      {"r.json", "r.poni", "vabo_iteration.spec"});
  sweep_allocations(with_start({"reject=3", "method=lm", "json=r.json"}),
                    {"r.json"});
}

} // namespace
