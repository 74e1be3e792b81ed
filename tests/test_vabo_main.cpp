/*
 * Tests of vabo_main, the program's run called in-process: it reads its
 * calibration data from the stream it is given, writes what the program
 * writes, and leaves no state behind, so that a second run of the same
 * arguments in the same process writes the same bytes as the first -- also
 * after the exits that end a process without freeing (usage, help, missing
 * start values) and with every trace switch on.
 */
#include "vabo.h"
#include "vabo_base.h"
#include "numio.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using vabo_test::StreamCapture;

/* What one in-process run wrote and returned. */
struct InProcessRun {
  std::string out, err;
  int status = -1;
};

/* Runs vabo_main with args (the program path first) and data as the input
 * stream. */
InProcessRun run_main(std::vector<std::string> args, const std::string &data)
{
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string copy = data;
  FILE *input = fmemopen(copy.data(), copy.size() + 1, "r");
  InProcessRun r;
  if (!input) return r;
  StreamCapture out(stdout), err(stderr);
  r.status = vabo_main(static_cast<int>(args.size()), argv.data(), input);
  r.err = err.text();
  r.out = out.text();
  fclose(input);
  return r;
}

const std::string kPoints = "0.1756769954    1406.192     844.769\n"
                            "0.1756769954    1384.497     976.372\n"
                            "0.1756769954    1326.023    1099.502\n"
                            "0.1756769954     900.475    1314.612\n"
                            "0.2486790467    1560.040     706.290\n"
                            "0.2486790467     653.436    1434.553\n"
                            "0.3050740130    1716.357     974.993\n"
                            "0.3050740130    1190.924     330.434\n";

TEST(VaboMain, SecondRunInTheSameProcessWritesTheSameBytes)
{
  const std::vector<std::string> start = {"75_um", "75_um", "1000", "1000",
                                          "20_cm", "0",     "0",    "0"};
  auto with = [&](std::vector<std::string> options) {
    std::vector<std::string> args = {"vabo"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), start.begin(), start.end());
    return args;
  };
  const std::vector<std::vector<std::string>> cases = {
      {"vabo"},                                 /* usage */
      {"vabo", "debug=0x40", "-h"},             /* help with list tracing */
      {"vabo", "debug=0x67", "75_um", "75_um"}, /* missing start values */
      with({}),
      with({"debug=0x41", "maxiter=3"}), /* list tracing, verbose */
      with({"debug=0x2f", "maxdev=0"}),  /* 65 with every table */
  };
  for (const auto &args : cases) {
    const InProcessRun first = run_main(args, kPoints);
    const InProcessRun second = run_main(args, kPoints);
    EXPECT_EQ(second.out, first.out) << args[1];
    EXPECT_EQ(second.err, first.err) << args[1];
    EXPECT_EQ(second.status, first.status) << args[1];
    EXPECT_EQ(VABODebug(), 0) << args[1];
    EXPECT_EQ(NumProgRoot, nullptr) << args[1];
  }
}

TEST(VaboMain, ReadsTheCalibrationFromTheStreamItIsGiven)
{
  const InProcessRun r =
      run_main({"vabo", "=75_um", "=75_um", "1000", "1000", "20_cm", "0", "0",
                "=0", "debug=8", "maxiter=0", "maxdev=1"},
               "0.25 300 400 0.75\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(vabo_test::format("%14lu %14lg %14lg %14lg %14lg\n", 1ul,
                                         0.25, 300.0, 400.0, 0.75)),
            std::string::npos)
      << r.out;
}

} // namespace
