/*
 * End-to-end tests of the program vabo: the built binary is run with
 * arguments, standard input and files in a scratch directory, and its
 * standard output, standard error and exit status are compared exactly.
 * Numerical results are checked against calibration points made here from the
 * independent implementation of the detector model in test_support.h.
 */
#include "test_program.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vabo_test::format;
using vabo_test::two_theta;

/* ------------------------------------------------------------------ */
/* The program's texts, as users and scripts see them.                */
/* ------------------------------------------------------------------ */

const std::string kProgram = VABO_BINARY;
const std::string &kBanner = vabo_test::kVaboBanner;
const std::string kSuccess = kProgram + " succesfully completed\n";

const std::string kUsage =
    "vabo [-h] [<options>] [debug=0|1|...] [input=<filename>] <start values>\n"
    "\n"
    "  <start values> := <pix1/m> <pix2/m> <cen1/pixel> <cen2/pixel> <dis/m> \n"
    "                    <rot1/rad> <rot2/rad> <rot3/rad>\n"
    "    defaults: pix1 and pix2 will not be refined, rot3 cannot be refined due\n"
    "              to rotational symmetry,\n"
    "    mark parameters with '~' to refine, '=' to keep constant\n"
    "  <options> := maxiter=nnn (number of loops, default 100) | mindev=ddd (min stddev to be reached, \n"
    "               default 1e-7), maxdev=mmm (maximum accepted final deviation, default 1_deg)\n"
    "\n"
    "  Each line of the input file must contain three values separated by spaces:\n"
    "   TwoTheta in radian and two image pixel coordinates.\n"
    "  Optionally, a weight (>=0) can be appended to each line (default 1).\n";

const std::string kExample =
    "  Example: \n"
    "     file: points.dat\n"
    "\n"
    "     #TwoTheta_rad   i1_I   i2_I\n"
    "     #3 1 0\n"
    "     0.19326         125.5  1013.5\n"
    "     0.19326         241.6   937.0\n"
    "     ...\n"
    "\n"
    "          >cat points.dat | vabo  50_um 50_um 500 500 11_cm -22_deg 0 0 debug=1\n"
    "           bin/LINUX64/vabo V1.1 2010-08-06 Kelvardo\n"
    "\n"
    "           step=8, stddev=0.000194115, change=1.60406e-18, mindev=-2.59197e-06, mindev=0.000511031\n"
    "           pix1=[5e-05] pix2=[5e-05] cen1=385.956 cen2=502.483 dis=0.0999409 rot1=-0.391358 rot2=0.00657904 rot3=[0]\n"
    "               Par = 5e-05 5e-05   385.956  502.483     0.0999409  -0.391358    0.00657904  0\n"
    "            ParDev =     0     0   0.69859  0.474283    0.000184965 0.000232974 0.000324257 0\n"
    "           BeamPar = 5e-05 5e-05   400.182  1327.28     0.108118    3.12435     0.391411    0.00130407\n"
    "               5e-05 5e-05 385.956 502.483  0.0999409  -0.391358    0.00657904  0\n"
    "                   0     0 0.69859 0.474283 0.000184965 0.000232974 0.000324257 0\n"
    "          0.00019411 -2.59197e-06  0.000511 20          20          5\n"
    "\n"
    "     The 1st and 2nd output line contains, in the order of the start values, the optimized values\n"
    "     and their (partial) standard deviations. The 3rd line contains the statistics of the fitted\n"
    "     data points: stdev, mindev, maxdev, total, ndata, nopt (average standard deviation per data point, \n"
    "     minimum and maximum standard deviation, total weight, number of data points, number of optimized parameters)\n";

const std::string kHelp =
    kUsage + "\n" +
    "  debug=(verbose=0x1,level=0x6,data=0x8,temp=0x10,vabo=0x20,list=0x40,"
    "savesteps=0x80)\n\n" +
    kExample + "\n" + "\n";

const char *const kNames[8] = {"pix1", "pix2", "cen1", "cen2",
                               "dis",  "rot1", "rot2", "rot3"};

/* The table of start values: "missing" where mode is negative. */
std::string parameter_table(const std::array<double, 8> &par,
                            const std::array<int, 8> &mode)
{
  std::string t = format("%14s %14s %14s\n", "Name", "Value", "Refine");
  for (int i = 0; i < 8; i++) {
    if (mode[i] < 0)
      t += format("%14s %14s %14s\n", kNames[i], "missing", "-");
    else
      t +=
          format("%14s %14g %14s\n", kNames[i], par[i], mode[i] ? "yes" : "no");
  }
  return t + "\n";
}

/* ------------------------------------------------------------------ */
/* Running the program (test_program.h).                               */
/* ------------------------------------------------------------------ */

using Result = vabo_test::RunOutput;
using vabo_test::count_prefix;
using vabo_test::run_in;
using vabo_test::run_vabo;
using vabo_test::ScratchDir;
using vabo_test::slurp;
using vabo_test::split_lines;
using vabo_test::words;

/* ------------------------------------------------------------------ */
/* Independent detector model and exact synthetic calibration points.  */
/* ------------------------------------------------------------------ */

struct Geometry {
  double par[8]; /* pix1 pix2 cen1 cen2 dis rot1 rot2 rot3 (m, px, rad) */
};

/* A truth whose values print exactly with six significant digits. */
const Geometry kTruth = {
    {7.5e-05, 7.5e-05, 1012.37, 987.654, 0.198765, 0.0312345, -0.0213579, 0}};

/* npoints calibration lines "TwoTheta i1 i2" with %.17g values. */
std::string synthetic_points(const Geometry &g, int npoints,
                             bool fixed_i1 = false)
{
  std::string s = "# TwoTheta_rad i1 i2 (exact)\n";
  for (int k = 0; k < npoints; k++) {
    double i1 = fixed_i1 ? g.par[2] : 150 + (k * 379) % 1700 + 0.25 * (k % 4);
    double i2 = 120 + (k * 617) % 1760 + 0.5 * (k % 3);
    s += format("%.17g %.17g %.17g\n", two_theta(g.par, i1, i2), i1, i2);
  }
  return s;
}

std::string g17(double v) { return format("%.17g", v); }

/* Start values a few percent off the truth; pix kept, rot3 kept (defaults). */
std::vector<std::string> start_values_off(const Geometry &g)
{
  return {g17(g.par[0]),         g17(g.par[1]),        g17(g.par[2] + 14.5),
          g17(g.par[3] - 11.25), g17(g.par[4] * 1.04), g17(g.par[5] + 0.012),
          g17(g.par[6] - 0.009), g17(g.par[7])};
}

std::vector<std::string> start_values_exact(const Geometry &g, char mark = 0)
{
  std::vector<std::string> v;
  for (double x : g.par)
    v.push_back(mark ? std::string(1, mark) + g17(x) : g17(x));
  return v;
}

std::vector<std::string> cat(std::vector<std::string> a,
                             const std::vector<std::string> &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/* The last three lines of standard output, split into fields. */
struct ResultLines {
  std::vector<std::string> par, dev, stat;
  std::vector<std::string> raw;
};

ResultLines result_lines(const std::string &out)
{
  ResultLines r;
  auto lines = split_lines(out);
  if (lines.size() < 3) return r;
  r.raw.assign(lines.end() - 3, lines.end());
  r.par = words(r.raw[0]);
  r.dev = words(r.raw[1]);
  r.stat = words(r.raw[2]);
  return r;
}

/* The three deviation lines and the status line of a fit judged too poor. */
std::string deviation_failure(const std::string &stddev_text, double maxdev)
{
  return "Standard deviation of optimized parameters exceeds maximum accepted "
         "deviation\n" +
         format("The standard deviation is %s rad, the maximum accepted "
                "deviation is %lg rad\n",
                stddev_text.c_str(), maxdev) +
         "The maximum accepted deviation can be changed with the option "
         "maxdev=<deviation>\n" +
         "ERROR: status=65\n";
}

const std::string kMissingData = kUsage + "\nMissing input data\n\n";
const std::string kStatus1 = "ERROR: status=1\n";

/* ------------------------------------------------------------------ */
/* Command line                                                        */
/* ------------------------------------------------------------------ */

/* Runs that stop on bad arguments or bad input: exact standard output, the
 * banner and then exact standard error, exit status 1.  Each runs in a
 * scratch directory holding a directory points.d; standard input is the
 * file stdin_name there (".stdin" holds input; "" is /dev/null). */
TEST(VaboCli, FailedRunsWriteExactTextsAndExitWith1)
{
  const std::string bytes = "\x01\x02\xff\xfe\x7f";
  const auto exact = start_values_exact(kTruth);
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string input, err, out = "";
    const char *stdin_name = ".stdin";
  } cases[] = {
      {"no arguments print the usage", {}, "", "", kUsage + "\n"},
      /* As the eighth start value "-x" is rot3, and it cannot be read. */
      {"-x is a start value",
       {"1", "2", "3", "4", "5", "6", "7", "-x"},
       "0.1 1 2\n",
       "ERROR 5 in numio reading rot3\n"
       "from line >>x<< when creating table with start parameters\n" +
           kStatus1},
      {"debug alone reports eight missing start values",
       {"debug=1"},
       "",
       kUsage + "\nMissing 8 start values\n\n" +
           parameter_table({}, {-1, -1, -1, -1, -1, -1, -1, -1})},
      {"seven start values report one missing without plural",
       {"7.5e-05", "~76_um", "1012.5", "=987.25", "[198.5_mm", "0.0125",
        "-0.0375"},
       "",
       kUsage + "\nMissing 1 start value\n\n" +
           parameter_table(
               {7.5e-05, 7.6e-05, 1012.5, 987.25, 0.1985, 0.0125, -0.0375, 0},
               {0, 1, 1, 0, 0, 1, 1, -1})},
      {"a conversion error is reported before missing values",
       {"?", "2", "3", "4", "5", "6", "7"},
       "",
       "ERROR 5 in numio reading pix1\n"
       "from line >>?<< when creating table with start parameters\n" +
           kStatus1},
      /* Blank, empty and comment-only lines take no index: the bad line is
       * the third kept one, index 2. */
      {"skipped lines keep the numbering", exact,
       "# header\n0.2 100 200\n\n   \t \n0.21 110 210\n"
       "   # only a comment\n0.22 120 ?\n0.23 130 230\n",
       "ERROR 5 in numio reading Coord2[2]\n"
       "from line >>?<< when creating input data tables.\n" +
           kStatus1},
      /* "  exit" is cleaned to "exit": the constant e, then "xit" for Coord1.
       */
      {"an indented exit is data", start_values_off(kTruth),
       synthetic_points(kTruth, 12) + "  exit\n",
       "ERROR 5 in numio reading Coord1[12]\n"
       "from line >>xit<< when creating input data tables.\n" +
           kStatus1},
      {"only comments", exact, "# one\n\n   # two\n", kMissingData + kStatus1},
      {"a stop line first", exact, "exit\n0.1 2 3\n", kMissingData + kStatus1},
      {"binary bytes are data, not a crash", start_values_off(kTruth),
       synthetic_points(kTruth, 20) + bytes + "\n",
       "ERROR 5 in numio reading TwoTheta[20]\nfrom line >>" + bytes +
           "<< when creating input data tables.\n" + kStatus1},
      {"an input file that does not exist", cat({"input=missing.dat"}, exact),
       "", "fopen(missing.dat,\"r\"): No such file or directory\n" + kStatus1,
       "", ""},
      {"an empty input file name", cat(exact, {"input="}), "",
       "fopen(,\"r\"): No such file or directory\n" + kStatus1, "", ""},
      /* An input that cannot be read is an error, not the end of the data. */
      {"an input file that is a directory", cat({"input=points.d"}, exact), "",
       "ERROR: reading points.d: Is a directory\n" + kStatus1, "", ""},
      {"standard input that is a directory", exact, "",
       "ERROR: reading (stdin): Is a directory\n" + kStatus1, "", "points.d"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    fs::create_directory(dir.file("points.d"));
    dir.write(".stdin", c.input);
    Result r = run_in(dir, c.args,
                      *c.stdin_name ? dir.file(c.stdin_name).string() : "");
    EXPECT_EQ(r.err, kBanner + c.err);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 1);
  }
}

TEST(VaboCli, ArgumentsBeginningWithHelpWordsShowTheHelp)
{
  const std::vector<std::vector<std::string>> cases = {
      {"-h"},
      {"-hello"},
      {"--help"},
      {"--helpful"},
      {"1", "2", "--help", "?bad"},
      {"maxiter=3", "-hx", "debug=0x20"}};
  for (auto &args : cases) {
    Result r = run_vabo(args, "0.1 1 2\n");
    EXPECT_EQ(r.err, kBanner + kHelp) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.status, 1) << args[0];
  }
}

TEST(VaboCli, MissingStartValuesLeaveStandardInputUnread)
{
  ScratchDir dir;
  dir.write("points.dat", synthetic_points(kTruth, 10));
  int fd = open(dir.file("points.dat").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Result r = run_in(dir, {"1", "2", "3"}, "", fd);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0) << "standard input was read";
  close(fd);
}

TEST(VaboCli, RefineMarksAndDefaultModesShowInTheStartTable)
{
  /* Marks on the first value; plain values take the defaults. */
  const std::string points = synthetic_points(kTruth, 12);
  struct Case {
    std::string first;
    int mode;
  } cases[] = {{"=75_um", 0}, {"~75_um", 1}, {"[75_um", 0}, {"75_um", 0}};
  for (auto &c : cases) {
    auto args = start_values_exact(kTruth);
    args[0] = c.first;
    args.insert(args.begin(), "debug=8");
    args.push_back("maxiter=0");
    Result r = run_vabo(args, points);
    std::array<double, 8> par;
    std::copy(kTruth.par, kTruth.par + 8, par.begin());
    par[0] = 75 * 1e-6;
    std::array<int, 8> mode = {c.mode, 0, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(r.out.substr(0, parameter_table(par, mode).size()),
              parameter_table(par, mode))
        << c.first;
    EXPECT_EQ(r.status, 0) << c.first << "\n" << r.err;
  }
}

/* Number of refinement steps shown by the verbose step lines. */
int steps_made(const std::vector<std::string> &options,
               const std::string &mindev)
{
  Result r =
      run_vabo(cat(cat({"debug=1", mindev}, options), start_values_off(kTruth)),
               synthetic_points(kTruth, 30));
  EXPECT_EQ(r.status, 0) << r.err;
  return count_prefix(r.out, "step=");
}

/* The step limit read from odd maxiter values: truncated toward zero,
 * clamped to the int range, 0 when unreadable or NaN.  With the default
 * threshold the run may stop early, so only a lower bound. */
TEST(VaboCli, MaxiterValuesAreTruncatedClampedOrZero)
{
  struct Case {
    std::vector<std::string> options;
    int steps;
    bool at_least = false;
  } cases[] = {
      {{"maxiter=1.9"}, 1},
      {{"maxiter=2.9"}, 2},
      {{"maxiter=-1.5"}, 0},
      {{"maxiter=3", "maxiter=1"}, 1}, /* the later one wins */
      {{"maxiter=xyz"}, 0},            /* cannot be read at all */
      {{"maxiter="}, 0},
      /* "abc" reads the unit "a" (are, 100) and stops there. */
      {{"maxiter=abc"}, 2, true},
      {{"maxiter=1e300*1e300-1e300*1e300"}, 0},
      {{"maxiter=-1e300*1e300"}, 0},
      {{"maxiter=1e300*1e300"}, 2, true},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.options.back());
    if (c.at_least) {
      EXPECT_GE(steps_made(c.options, "mindev=1e-7"), c.steps);
    } else {
      EXPECT_EQ(steps_made(c.options, "mindev=0"), c.steps);
    }
  }
}

TEST(VaboCli, UnreadableAndHugeOptionValuesStillSucceed)
{
  const std::string points = synthetic_points(kTruth, 10);
  Result r = run_vabo(cat({"maxiter=xyz"}, start_values_exact(kTruth)), points);
  EXPECT_EQ(r.err, kBanner + kSuccess);
  EXPECT_EQ(r.status, 0);
  r = run_vabo(cat({"debug=1e300*1e300"}, start_values_exact(kTruth)), points);
  EXPECT_EQ(r.status, 0);
}

TEST(VaboCli, DebugOptionIsTruncatedNotRounded)
{
  /* 3.7 -> 3: verbose on, level 1 (4 would switch verbose off). */
  Result r = run_vabo(cat({"debug=3.7"}, start_values_exact(kTruth)),
                      synthetic_points(kTruth, 10));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_prefix(r.out, "       Par ="), 1);
}

/* ------------------------------------------------------------------ */
/* Calibration data                                                    */
/* ------------------------------------------------------------------ */

/* Exact runs end with exactly these two outputs on standard error. */
void expect_success(const Result &r)
{
  EXPECT_EQ(r.err, kBanner + kSuccess);
  EXPECT_EQ(r.status, 0);
}

TEST(VaboCli, RefinesExactSyntheticDataToTheTrueGeometry)
{
  const int npoints = 40;
  Result r =
      run_vabo(start_values_off(kTruth), synthetic_points(kTruth, npoints));
  expect_success(r);
  auto lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  for (auto &l : lines) EXPECT_EQ(l.substr(0, 12), std::string(12, ' ')) << l;

  ResultLines res = result_lines(r.out);
  ASSERT_EQ(res.par.size(), 8u);
  ASSERT_EQ(res.dev.size(), 8u);
  ASSERT_EQ(res.stat.size(), 6u);
  for (int i = 0; i < 8; i++) {
    /* The result lines carry six significant digits: the refined value must
     * print exactly as the truth does, and agree to half a unit of the last
     * printed digit. */
    EXPECT_EQ(res.par[i], format("%lg", kTruth.par[i])) << kNames[i];
    double v = std::strtod(res.par[i].c_str(), nullptr);
    EXPECT_NEAR(v, kTruth.par[i], 5e-6 * std::fabs(kTruth.par[i]) + 1e-300)
        << kNames[i];
  }
  /* Kept parameters (pix1, pix2, rot3) have deviation 0. */
  EXPECT_EQ(res.dev[0], "0");
  EXPECT_EQ(res.dev[1], "0");
  EXPECT_EQ(res.dev[7], "0");
  for (int i = 2; i < 7; i++) {
    double d = std::strtod(res.dev[i].c_str(), nullptr);
    EXPECT_GE(d, 0) << kNames[i];
    EXPECT_LT(d, 1e-6 * std::fabs(kTruth.par[i]) + 1e-9) << kNames[i];
  }
  EXPECT_LE(std::strtod(res.stat[0].c_str(), nullptr), 1e-7);
  EXPECT_LE(std::fabs(std::strtod(res.stat[2].c_str(), nullptr)), 1e-7);
  EXPECT_EQ(res.stat[3], format("%d", npoints));
  EXPECT_EQ(res.stat[4], format("%d", npoints));
  EXPECT_EQ(res.stat[5], "5");
}

/* Pairs of runs that must be the same run: equal standard output, standard
 * error and exit status.  A run reads points.dat of its scratch directory,
 * as standard input or, where from_file, through input=points.dat. */
TEST(VaboCli, EquivalentRunsGiveTheSameOutput)
{
  struct Run {
    std::vector<std::string> args;
    std::string input;
    bool from_file = false;
  };
  const auto off = start_values_off(kTruth);
  const std::string points = synthetic_points(kTruth, 20);
  const std::string points15 = synthetic_points(kTruth, 15);
  const std::string points25 = synthetic_points(kTruth, 25);
  const std::string points30 = synthetic_points(kTruth, 30);
  const auto lines = split_lines(points);
  /* Numbers in parentheses go through the whole expression grammar, plain
   * literals are read directly. */
  std::string wrapped;
  for (const std::string &line : split_lines(points30)) {
    if (line[0] == '#') continue;
    for (const std::string &value : words(line)) wrapped += "(" + value + ") ";
    wrapped += "\n";
  }
  /* A point followed by a 6000-character comment, a point behind 6000
   * blanks, and a comment whose continuation would read as a stop line:
   * each is one line. */
  std::string longer = lines[0] + "\n" + lines[1] + " # " +
                       std::string(6000, 'x') + "\n" + std::string(6000, ' ') +
                       lines[2] + "\n" + "# " + std::string(1021, '-') +
                       "exit\n";
  for (size_t k = 3; k < lines.size(); k++) longer += lines[k] + "\n";
  /* A NUL byte ends the text of its line. */
  std::string with_nul;
  for (size_t k = 0; k < lines.size(); k++) {
    with_nul += lines[k];
    if (k == 5) with_nul += std::string("\0 ?junk\xff", 8);
    with_nul += "\n";
  }
  struct Case {
    const char *name;
    Run a, b;
    int status;
  } cases[] = {
      {"a ninth start value is ignored",
       {off, points},
       {cat(off, {"?nine", "-x"}), points},
       0},
      {"input file and standard input",
       {off, points25, true},
       {off, points25},
       0},
      {"plain and parenthesised numbers", {off, points30}, {off, wrapped}, 0},
      {"lines longer than any buffer are read whole",
       {off, points},
       {off, longer},
       0},
      {"a NUL byte ends the text of its line",
       {off, points},
       {off, with_nul},
       0},
      {"maxdev before or after the start values",
       {cat({"maxdev=0", "maxiter=1"}, off), points15},
       {cat(off, {"maxiter=1", "maxdev=0"}), points15},
       65},
  };
  auto run = [](const Run &run) {
    ScratchDir dir;
    dir.write("points.dat", run.input);
    if (run.from_file)
      return run_in(dir, cat({"input=points.dat"}, run.args), "");
    return run_in(dir, run.args, dir.file("points.dat").string());
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    Result a = run(c.a), b = run(c.b);
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(b.status, c.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    if (c.status == 0) {
      EXPECT_EQ(b.err, kBanner + kSuccess);
    }
  }
}

/* The vabo switch keeps the refinement on its point-by-point path (to show
 * its traces); without it the refinement takes its per-step path.  Result
 * lines and iteration log must be the same. */
TEST(VaboCli, TraceSwitchChangesNeitherResultsNorIterationLog)
{
  std::string data = synthetic_points(kTruth, 45);
  std::string noisy;
  int k = 0;
  for (const std::string &line : split_lines(data)) {
    std::vector<std::string> w = words(line);
    if (line[0] == '#' || w.size() != 3) continue;
    const double tth =
        std::strtod(w[0].c_str(), nullptr) + 1e-5 * ((k++ % 7) - 3);
    noisy += g17(tth) + " " + w[1] + " " + w[2] + " 0.75\n";
  }
  ScratchDir plain_dir, traced_dir;
  plain_dir.write(".stdin", noisy);
  traced_dir.write(".stdin", noisy);
  Result plain =
      run_in(plain_dir, cat({"debug=0x81"}, start_values_off(kTruth)),
             plain_dir.file(".stdin").string());
  Result traced =
      run_in(traced_dir, cat({"debug=0xa1"}, start_values_off(kTruth)),
             traced_dir.file(".stdin").string());
  expect_success(plain);
  EXPECT_EQ(traced.status, 0);
  EXPECT_EQ(result_lines(plain.out).raw, result_lines(traced.out).raw);
  const std::string log = slurp(plain_dir.file("vabo_iteration.spec"));
  EXPECT_GT(count_prefix(log, "#S "), 2);
  EXPECT_EQ(log, slurp(traced_dir.file("vabo_iteration.spec")));
  /* The verbose step lines, too, are the same. */
  auto steps = [](const std::string &out) {
    std::string s;
    for (const std::string &l : split_lines(out))
      if (l.rfind("step=", 0) == 0) s += l + "\n";
    return s;
  };
  EXPECT_NE(steps(plain.out), "");
  EXPECT_EQ(steps(plain.out), steps(traced.out));
}

TEST(VaboCli, FileMessagesWithTheVaboSwitch)
{
  ScratchDir dir;
  dir.write("points.dat", synthetic_points(kTruth, 12));
  Result r = run_in(
      dir, cat({"debug=0x20", "input=points.dat"}, start_values_exact(kTruth)),
      "");
  EXPECT_EQ(r.status, 0);
  auto open_at = r.out.find("opening >>points.dat<< for reading\n");
  auto close_at = r.out.find("closing >>points.dat<<\n");
  EXPECT_NE(open_at, std::string::npos);
  EXPECT_NE(close_at, std::string::npos);
  EXPECT_LT(open_at, close_at);
}

TEST(VaboCli, HelpExampleFileGivesTwoPointsOfWeightOne)
{
  Result r = run_vabo({"debug=8", "maxiter=0", "50_um", "50_um", "500", "500",
                       "11_cm", "-22_deg", "0", "0"},
                      "#TwoTheta_rad   i1_I   i2_I\n#3 1 0\n"
                      "0.19326         125.5  1013.5\n"
                      "0.19326         241.6   937.0\n");
  std::string table = format("%14s %14s %14s %14s %14s\n", "Num", "TwoTheta",
                             "i1", "i2", "Weight") +
                      format("%14lu %14lg %14lg %14lg %14lg\n", 1ul, 0.19326,
                             125.5, 1013.5, 1.0) +
                      format("%14lu %14lg %14lg %14lg %14lg\n", 2ul, 0.19326,
                             241.6, 937.0, 1.0) +
                      "\n";
  EXPECT_NE(r.out.find(table), std::string::npos) << r.out;
  ResultLines res = result_lines(r.out);
  ASSERT_EQ(res.stat.size(), 6u);
  EXPECT_EQ(res.stat[3], "2");
  EXPECT_EQ(res.stat[4], "2");
}

TEST(VaboCli, WeightsDefaultToOneAndNegativeOnesBecomeZero)
{
  Result r = run_vabo(
      cat({"debug=8", "maxiter=0", "maxdev=1e9"}, start_values_exact(kTruth)),
      "0.2 100 200 -2\n"
      "0.2 100 200 # note\n"
      "0.2 100 200 0.5\n"
      "11_deg 500 500\n"
      "0.25 300 400 0.75 trailing text\n");
  EXPECT_EQ(r.err, kBanner + "WARNING: negative Weight[0]==-2 set to zero.\n" +
                       kSuccess);
  EXPECT_EQ(r.status, 0);
  std::string rows =
      format("%14lu %14lg %14lg %14lg %14lg\n", 1ul, 0.2, 100.0, 200.0, 0.0) +
      format("%14lu %14lg %14lg %14lg %14lg\n", 2ul, 0.2, 100.0, 200.0, 1.0) +
      format("%14lu %14lg %14lg %14lg %14lg\n", 3ul, 0.2, 100.0, 200.0, 0.5) +
      format("%14lu %14lg %14lg %14lg %14lg\n", 4ul, 11 * M_PI / 180, 500.0,
             500.0, 1.0) +
      format("%14lu %14lg %14lg %14lg %14lg\n", 5ul, 0.25, 300.0, 400.0, 0.75);
  EXPECT_NE(r.out.find(rows), std::string::npos) << r.out;
  ResultLines res = result_lines(r.out);
  ASSERT_EQ(res.stat.size(), 6u);
  EXPECT_EQ(res.stat[3], "3.25"); /* total weight */
  EXPECT_EQ(res.stat[4], "5");
}

TEST(VaboCli, EachColumnNamesItsErrors)
{
  struct Case {
    std::string line;
    std::string message;
  } cases[] = {
      {"?x 100 200",
       "ERROR 5 in numio reading TwoTheta[1]\nfrom line >>?x 100 200<<"},
      {"0.2 (1 200", "ERROR 4 in numio reading Coord1[1]\nfrom line >>"},
      {"0.2 100 foo(1)", "ERROR 6 in numio reading Coord2[1]\nfrom line >>"},
      {"0.2 100 200 ?", "ERROR 5 in numio reading Weight[1]\nfrom line >>?<<"},
  };
  for (auto &c : cases) {
    Result r =
        run_vabo(start_values_exact(kTruth), "0.3 1 2\n" + c.line + "\n");
    EXPECT_EQ(r.err.substr(0, kBanner.size() + c.message.size()),
              kBanner + c.message)
        << c.line << "\n"
        << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kStatus1.size()), kStatus1);
    EXPECT_EQ(r.status, 1);
  }
}

TEST(VaboCli, StopLinesEndTheInput)
{
  const std::string points = synthetic_points(kTruth, 12);
  for (const char *stop : {"exit", "quit", "exiting now", "quit\r", "exit#"}) {
    Result r = run_vabo(start_values_off(kTruth),
                        points + stop + "\n?garbage\n0.1 2 3\n");
    expect_success(r);
    ResultLines res = result_lines(r.out);
    ASSERT_EQ(res.stat.size(), 6u) << stop;
    EXPECT_EQ(res.stat[4], "12") << stop;
  }
}

TEST(VaboCli, CapitalisedExitIsData)
{
  Result r = run_vabo(start_values_off(kTruth),
                      synthetic_points(kTruth, 12) + "Exit\n");
  EXPECT_EQ(r.err.substr(0, kBanner.size() + 37),
            kBanner + "ERROR 5 in numio reading TwoTheta[12]");
  EXPECT_EQ(r.status, 1);
}

/* ------------------------------------------------------------------ */
/* Run and report                                                      */
/* ------------------------------------------------------------------ */

TEST(VaboCli, VerboseLabelledLinesComeBeforeTheResultLines)
{
  Result r = run_vabo(cat({"debug=1"}, start_values_off(kTruth)),
                      synthetic_points(kTruth, 20));
  expect_success(r);
  auto lines = split_lines(r.out);
  ASSERT_GE(lines.size(), 7u);
  const size_t n = lines.size();
  EXPECT_EQ(lines[n - 7].substr(0, 12), "       Par =");
  EXPECT_EQ(lines[n - 6].substr(0, 12), "    ParDev =");
  EXPECT_EQ(lines[n - 5].substr(0, 12), "   BeamPar =");
  EXPECT_EQ(lines[n - 4].substr(0, 12), "   ParStat =");
  EXPECT_EQ(lines[n - 7].substr(12), lines[n - 3].substr(12));
  EXPECT_EQ(lines[n - 6].substr(12), lines[n - 2].substr(12));
  EXPECT_EQ(lines[n - 4].substr(12), lines[n - 1].substr(12));
  EXPECT_GE(count_prefix(r.out, "step="), 1);
  /* No rotation about the beam, so the beam tilt and the beam distance
   * follow from the model: distance = dis / (cos rot1 cos rot2). */
  auto beam = words(lines[n - 5].substr(12));
  ASSERT_EQ(beam.size(), 8u);
  double dist =
      kTruth.par[4] / (std::cos(kTruth.par[5]) * std::cos(kTruth.par[6]));
  EXPECT_NEAR(std::strtod(beam[4].c_str(), nullptr), dist, 1e-5 * dist);
}

/* Fits judged too poor: the three result lines, then the deviation
 * message with the printed standard deviation, status 65.  A NaN in the
 * data makes the deviation NaN, which no maxdev accepts. */
TEST(VaboCli, DeviationAboveMaxdevPrintsResultsThenFailsWith65)
{
  const std::string nan = "1e300*1e300-1e300*1e300";
  struct Case {
    const char *name;
    std::vector<std::string> options;
    std::string input;
    double maxdev;
    bool nan_deviation;
  } cases[] = {
      {"zero maxdev",
       {"maxdev=0", "maxiter=1"},
       synthetic_points(kTruth, 20),
       0,
       false},
      {"NaN angle",
       {},
       synthetic_points(kTruth, 15) + nan + " 500 600\n",
       0.01745329252,
       true},
      {"NaN weight",
       {},
       synthetic_points(kTruth, 15) + "0.2 500 600 " + nan + "\n",
       0.01745329252,
       true},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    Result r = run_vabo(cat(c.options, start_values_off(kTruth)), c.input);
    ResultLines res = result_lines(r.out);
    ASSERT_EQ(split_lines(r.out).size(), 3u);
    ASSERT_EQ(res.stat.size(), 6u);
    if (c.nan_deviation) {
      EXPECT_NE(res.stat[0].find("nan"), std::string::npos) << res.stat[0];
    }
    EXPECT_EQ(r.err, kBanner + deviation_failure(res.stat[0], c.maxdev));
    EXPECT_EQ(r.status, 65);
  }
}

TEST(VaboCli, DeviationEqualToMaxdevPasses)
{
  /* No rotation, everything kept, both points at the point of normal
   * incidence (model angle exactly 0): residuals 0.25 (weight 3) and 0
   * (weight 1) give sqrt(3 * 0.0625 / (4 - 1)) = 0.25 exactly. */
  const std::vector<std::string> sv = {"=75_um", "=75_um", "=1000.5", "=999.25",
                                       "=0.2",   "=0",     "=0",      "=0"};
  const std::string points = "0.25 1000.5 999.25 3\n0 1000.5 999.25\n";
  Result at = run_vabo(cat({"maxiter=0", "maxdev=0.25"}, sv), points);
  ResultLines res = result_lines(at.out);
  ASSERT_EQ(res.stat.size(), 6u);
  EXPECT_EQ(res.stat[0], "0.25");
  expect_success(at);
  Result below = run_vabo(cat({"maxiter=0", "maxdev=0.2499999"}, sv), points);
  EXPECT_EQ(below.err, kBanner + deviation_failure("0.25", 0.2499999));
  EXPECT_EQ(below.status, 65);
}

TEST(VaboCli, SingularNormalEquationsFailWith33WithoutResults)
{
  /* Every point lies on the column cen1 (kept), so pix1 (refined) acts on no
   * angle: its column of the normal matrix is exactly zero. */
  auto sv = start_values_off(kTruth);
  sv[0] = "~" + sv[0];
  sv[2] = "=" + g17(kTruth.par[2]);
  Result r = run_vabo(sv, synthetic_points(kTruth, 20, true));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kBanner + "ERROR: status=33\n"
                             "The optimization loop did not terminate "
                             "successfully.\n"
                             "Adjust the start parameters or modify the input "
                             "data.\n");
  EXPECT_EQ(r.status, 33);
}

TEST(VaboCli, NotANumberStartValueFailsTheDeviationCheck)
{
  auto sv = start_values_off(kTruth);
  sv[6] = "1e300*1e300-1e300*1e300";
  Result r = run_vabo(cat({"maxiter=3"}, sv), synthetic_points(kTruth, 15));
  EXPECT_EQ(r.status, 65) << r.err;
}

TEST(VaboCli, ListingsWithVerboseAndLevelShowDataBeforeStart)
{
  /* debug=3: verbose with level 1, the long listing of the two lists. */
  Result r = run_vabo(cat({"debug=3"}, start_values_exact(kTruth)),
                      "0.2 100 200\n0.3 400 900\n0.25 700 100\n");
  auto data_at = r.out.find("  Key                = data\n");
  auto start_at = r.out.find("  Key                = start\n");
  EXPECT_NE(data_at, std::string::npos) << r.out;
  EXPECT_NE(start_at, std::string::npos);
  EXPECT_LT(data_at, start_at);
}

} // namespace
