/*
 * test_vabo_steplog.cpp -- the iteration log "vabo_iteration.spec".
 *
 * Runs refinements with the savesteps switch in a temporary directory and
 * reads the log back: scan numbers and layout, CRLF line ends, the exact
 * header lines, the rows against a forward model written here, replacement
 * by a second run, and the failure when the file cannot be written.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using vabo_test::format;
using vabo_test::Params;
using vabo_test::Points;
using vabo_test::Result;

const Params kTrue = {75e-6,  74.6e-6, 1024.3,  987.6,
                      0.2013, 0.0312,  -0.0207, 0.011};
const Params kStart = {75e-6,  74.6e-6, 1044.7,  968.2,
                       0.2071, 0.0327,  -0.0199, 0.011};
const int kDefaultModes[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};

const char kLabels[] = "#L number\t  angle/rad\t  azimuth/rad\t  Weight\t  "
                       "Target/rad\t  Difference/rad";

/* Scattering angle and azimuth of pixel (i1, i2) by the independent
 * forward model. */
void model(const Params &p, double i1, double i2, double *angle,
           double *azimuth)
{
  double x[3];
  vabo_test::detector_vector(p.data(), i1, i2, x);
  *angle = vabo_test::beam_angle(x);
  *azimuth = atan2(x[1], x[0]);
}

Points make_points()
{
  Points pts;
  for (int k = 0; k < 23; ++k) {
    double i1 = 41.3 + 89.7 * k, i2 = 2011.5 - 83.9 * k + 400 * sin(k * 1.7);
    double angle, azimuth;
    model(kTrue, i1, i2, &angle, &azimuth);
    pts.i1.push_back(i1);
    pts.i2.push_back(i2);
    pts.angle.push_back(angle);
    pts.weight.push_back(0.5 + 0.125 * (k % 5));
  }
  return pts;
}

/* The file split at "\r\n"; false if any "\n" or "\r" stands alone. */
bool read_crlf_lines(const char *path, std::vector<std::string> *lines)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  lines->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false; // last line unterminated
    std::string line = text.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    lines->push_back(line);
    start = end + 2;
  }
  return true;
}

Result optimize(const Params &start, const Points &pts, double maxdev,
                int maxstep)
{
  return vabo_test::optimize_points(start, kDefaultModes, pts, maxdev, maxstep,
                                    -7.5);
}

/* Runs each test in a fresh temporary directory with savesteps set. */
class StepLog : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(getcwd(home_, sizeof home_), nullptr);
    char pattern[] = "/tmp/vabo_steplog_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    VaboDebugSet(VABO_SAVESTEPS);
  }
  void TearDown() override
  {
    VaboDebugSet(0);
    EXPECT_EQ(chdir(home_), 0);
    std::string cleanup = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cleanup.c_str()), 0);
  }

  char home_[4096] = {};
  std::string dir_;
};

/* Header lines of the scan that starts at line index first. */
void expect_scan_header(const std::vector<std::string> &lines, size_t first,
                        int step, const Params &par, const int *modes)
{
  ASSERT_GE(lines.size(), first + 29);
  EXPECT_EQ(lines[first], "");
  EXPECT_EQ(lines[first + 1], "#S " + std::to_string(step));

  char number[8];
  snprintf(number, sizeof number, "%03d", step);
  std::string ordered = std::string("# Step") + number + " = ";
  for (int p = 0; p < NParams; ++p)
    ordered +=
        std::string(VaboParamNames[p]) + "=" +
        (modes[p] ? format("%lg", par[p]) : "[" + format("%lg", par[p]) + "]") +
        " ";
  EXPECT_EQ(lines[first + 2], ordered);

  char beam[1024];
  ASSERT_NE(sprint_beam_parameters(beam, sizeof beam, par.data()), nullptr);
  EXPECT_EQ(lines[first + 3], std::string("# BeamPar = ") + beam);

  std::string values = "#     Par = ";
  for (int p = 0; p < NParams; ++p) values += format("%12lg", par[p]) + " ";
  EXPECT_EQ(lines[first + 4], values);

  for (size_t k = first + 5; k < first + 27; ++k)
    EXPECT_EQ(lines[k], "") << "line " << k - first + 1;
  EXPECT_EQ(lines[first + 27], "#N 6");
  EXPECT_EQ(lines[first + 28], kLabels);
}

/* Rows of a scan against the model at par. */
void expect_scan_rows(const std::vector<std::string> &lines, size_t first,
                      const Points &pts, const Params &par)
{
  ASSERT_GE(lines.size(), first + 29 + pts.size());
  for (size_t i = 0; i < pts.size(); ++i) {
    const std::string &row = lines[first + 29 + i];
    double angle, azimuth;
    model(par, pts.i1[i], pts.i2[i], &angle, &azimuth);
    unsigned long number = 99;
    double got[5];
    ASSERT_EQ(sscanf(row.c_str(), "%lu\t  %lg\t  %lg\t  %lg\t  %lg\t  %lg",
                     &number, &got[0], &got[1], &got[2], &got[3], &got[4]),
              6)
        << row;
    EXPECT_EQ(number, i);
    EXPECT_NEAR(got[0], angle, 1e-5 * angle);
    EXPECT_NEAR(got[1], azimuth, 1e-5 * fabs(azimuth));
    EXPECT_EQ(format("%lg", got[2]), format("%lg", pts.weight[i]));
    EXPECT_EQ(format("%lg", got[3]), format("%lg", pts.angle[i]));
    double residual = pts.angle[i] - angle;
    EXPECT_NEAR(got[4], residual, 1e-5 * fabs(residual) + 1e-15);
    std::string head = std::to_string(i) + "\t  ";
    EXPECT_EQ(row.compare(0, head.size(), head), 0) << row;
  }
}

} // namespace

TEST_F(StepLog, TwoStepsGiveThreeScansWithCRLF)
{
  const Points pts = make_points();
  fflush(stdout);
  testing::internal::CaptureStdout();
  Result r = optimize(kStart, pts, 0.0, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // the log only
  ASSERT_EQ(r.status, 0);

  std::vector<std::string> lines;
  ASSERT_TRUE(read_crlf_lines(VABO_ITERATION_LOG, &lines));
  const size_t scan = 29 + pts.size();
  ASSERT_EQ(lines.size(), 3 * scan);
  for (int step = 0; step < 3; ++step)
    EXPECT_EQ(lines[step * scan + 1], "#S " + std::to_string(step));

  expect_scan_header(lines, 0, 0, kStart, kDefaultModes);
  expect_scan_rows(lines, 0, pts, kStart);
  // The last scan holds the parameters the refinement returned.
  expect_scan_header(lines, 2 * scan, 2, r.par, kDefaultModes);
  expect_scan_rows(lines, 2 * scan, pts, r.par);
  EXPECT_EQ(lines[scan + 28], kLabels);
}

TEST_F(StepLog, SecondRunReplacesTheFile)
{
  const Points pts = make_points();
  ASSERT_EQ(optimize(kStart, pts, 0.0, 3).status, 0);
  // Already within maxdev: no step, the new file holds scan 0 only.
  ASSERT_EQ(optimize(kStart, pts, 1.0, 100).status, 0);
  std::vector<std::string> lines;
  ASSERT_TRUE(read_crlf_lines(VABO_ITERATION_LOG, &lines));
  ASSERT_EQ(lines.size(), 29 + pts.size());
  expect_scan_header(lines, 0, 0, kStart, kDefaultModes);
}

TEST_F(StepLog, AppendsOneScanPerCall)
{
  const Points pts = make_points();
  VaboOrdered ordered;
  order_Par(&ordered, kTrue.data(), kDefaultModes);
  ASSERT_EQ(vabo_save_step(0, pts.size(), &ordered, pts.angle.data(),
                           pts.i1.data(), pts.i2.data(), pts.weight.data(), 1),
            0);
  ASSERT_EQ(
      vabo_save_step(17, 0, &ordered, nullptr, nullptr, nullptr, nullptr, 0),
      0);
  std::vector<std::string> lines;
  ASSERT_TRUE(read_crlf_lines(VABO_ITERATION_LOG, &lines));
  ASSERT_EQ(lines.size(), 29 + pts.size() + 29);
  expect_scan_rows(lines, 0, pts, kTrue);
  expect_scan_header(lines, 29 + pts.size(), 17, kTrue, kDefaultModes);
}

TEST_F(StepLog, DampedStepsNoteTheirDampingAndContinuedRunsNumberOn)
{
  // Two damped steps (damping 100, then halved), then a continued run of
  // one Gauss-Newton step after the two: scans 0, 1, 2 and 3, the damping
  // in the first of the empty lines of scans 1 and 2 only.
  const Points pts = make_points();
  VaboOptions options{};
  options.method = VaboLevenbergMarquardt;
  double par[NParams], more[NParams];
  int steps = 0;
  ASSERT_EQ(VaboOptimizeEx(par, nullptr, nullptr, kStart.data(), kDefaultModes,
                           pts.size(), pts.angle.data(), pts.i1.data(),
                           pts.i2.data(), pts.weight.data(), 0.0, 2, &options,
                           &steps),
            0);
  ASSERT_EQ(steps, 2);
  VaboOptions continued{};
  continued.continued = 1;
  continued.first_step = 2;
  ASSERT_EQ(VaboOptimizeEx(more, nullptr, nullptr, par, kDefaultModes,
                           pts.size(), pts.angle.data(), pts.i1.data(),
                           pts.i2.data(), pts.weight.data(), 0.0, 1, &continued,
                           nullptr),
            0);

  std::vector<std::string> lines;
  ASSERT_TRUE(read_crlf_lines(VABO_ITERATION_LOG, &lines));
  const size_t scan = 29 + pts.size();
  ASSERT_EQ(lines.size(), 4 * scan);
  const char *const damping[] = {"", "# Damping = 100", "# Damping = 50", ""};
  for (int step = 0; step < 4; ++step) {
    EXPECT_EQ(lines[step * scan + 1], "#S " + std::to_string(step));
    EXPECT_EQ(lines[step * scan + 5], damping[step]) << step;
    for (size_t k = 6; k < 27; ++k) EXPECT_EQ(lines[step * scan + k], "");
    EXPECT_EQ(lines[step * scan + 27], "#N 6");
  }
  Params last;
  std::copy(more, more + NParams, last.begin());
  expect_scan_header(lines, 3 * scan, 3, last, kDefaultModes);
}

TEST_F(StepLog, RefinedWavelengthIsNotedAfterTheDamping)
{
  // Two damped steps with the wavelength refined: every scan notes the
  // wavelength of its parameters, after the damping where there is one,
  // the header keeps its 27 lines, and the targets are the rings' angles.
  const vabo_test::RingPoints pts = vabo_test::ring_points(
      kTrue.data(), 0.7293e-10, vabo_test::lab6_spacings(), 6);
  VaboOptions options{};
  options.method = VaboLevenbergMarquardt;
  options.Spacing = pts.spacing.data();
  options.wavelength = 0.7301e-10;
  options.wavelength_refined = 1;
  double wavelength = 0.0, par[NParams];
  options.WavelengthOpt = &wavelength;
  ASSERT_EQ(VaboOptimizeEx(par, nullptr, nullptr, kStart.data(), kDefaultModes,
                           pts.size(), nullptr, pts.i1.data(), pts.i2.data(),
                           pts.weight.data(), 0.0, 2, &options, nullptr),
            0);
  std::vector<std::string> lines;
  ASSERT_TRUE(read_crlf_lines(VABO_ITERATION_LOG, &lines));
  const size_t scan = 29 + pts.size();
  ASSERT_EQ(lines.size(), 3 * scan);
  EXPECT_EQ(lines[5], "# Wavelength = 7.301e-11");
  EXPECT_EQ(lines[scan + 5], "# Damping = 100");
  EXPECT_EQ(lines[scan + 6].rfind("# Wavelength = ", 0), 0u);
  EXPECT_EQ(lines[2 * scan + 5], "# Damping = 50");
  EXPECT_EQ(lines[2 * scan + 6], format("# Wavelength = %lg", wavelength));
  for (int step = 0; step < 3; ++step)
    EXPECT_EQ(lines[step * scan + 27], "#N 6");
  for (size_t i = 0; i < pts.size(); ++i) {
    std::istringstream row(lines[2 * scan + 29 + i]);
    double number, angle, azimuth, weight, target;
    row >> number >> angle >> azimuth >> weight >> target;
    const double want = 2.0 * std::asin(wavelength / (2.0 * pts.spacing[i]));
    EXPECT_NEAR(target, want, 1e-5 * want) << i;
  }
}

TEST_F(StepLog, UnwritableLogFailsTheRefinement)
{
  const Points pts = make_points();
  ASSERT_EQ(mkdir(VABO_ITERATION_LOG, 0755), 0); // a directory in its way
  testing::internal::CaptureStderr();
  Result r = optimize(kStart, pts, 0.0, 2);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.par[Cen1], -7.5);
  EXPECT_EQ(r.stat[RStdDev], -7.5);
  EXPECT_EQ(err, std::string("ERROR: vabo_save_step: cannot write "
                             "vabo_iteration.spec: ") +
                     strerror(EISDIR) + "\n");
}

TEST_F(StepLog, UnwritableDirectoryFailsTheRefinement)
{
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  const Points pts = make_points();
  ASSERT_EQ(chmod(".", 0555), 0);
  testing::internal::CaptureStderr();
  Result r = optimize(kStart, pts, 0.0, 2);
  std::string err = testing::internal::GetCapturedStderr();
  chmod(".", 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(err, std::string("ERROR: vabo_save_step: cannot write "
                             "vabo_iteration.spec: ") +
                     strerror(EACCES) + "\n");
}

TEST_F(StepLog, FullDeviceFailsTheRefinement)
{
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Points pts = make_points();
  ASSERT_EQ(symlink("/dev/full", VABO_ITERATION_LOG), 0);
  testing::internal::CaptureStderr();
  Result r = optimize(kStart, pts, 0.0, 2);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.par[Dis], -7.5);
  EXPECT_EQ(err, std::string("ERROR: vabo_save_step: cannot write "
                             "vabo_iteration.spec: ") +
                     strerror(ENOSPC) + "\n");
}
