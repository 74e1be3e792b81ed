/*
 * test_vabo_robust.cpp -- the options method= and reject= of vabo, tested
 * by running the built program: bad values end the run with one line; a
 * run with nothing to reject, or with method=gn, is the plain run (plus one
 * line per round); points planted on a neighbouring ring are rejected and
 * listed in the JSON result with their physical input lines; and
 * method=lm reaches the true geometry from a start where Gauss-Newton
 * fails.  Synthetic data comes from the independent forward model of
 * test_support.h.
 */
#include "test_program.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;
using vabo_test::format;
using vabo_test::Params;
using vabo_test::RunOutput;
using vabo_test::ScratchDir;
using vabo_test::split_lines;
using vabo_test::two_theta;

const std::string &kExample = vabo_test::kExamplePoints;
const std::vector<std::string> &kStart = vabo_test::kExampleStart;
const std::string &kBanner = vabo_test::kVaboBanner;
const std::string kSuccess =
    vabo_test::kVaboProgram + " succesfully completed\n";

const Params kTrue = {75e-6,  74.6e-6, 1024.3,  987.6,
                      0.2013, 0.0312,  -0.0207, 0.011};

std::vector<std::string> join(std::vector<std::string> a,
                              const std::vector<std::string> &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> start_of(const Params &p)
{
  std::vector<std::string> start;
  for (double v : p) start.push_back(format("%.17g", v));
  return start;
}

/* A calibration file of 15 x 14 pixels over the detector with the angles of
 * kTrue (noise of 1e-6 rad when noisy).  Every point i with planted(i) is
 * moved by 0.0113 to 0.0175 rad, as if picked on the neighbouring ring.
 * Comment and blank lines stand between the points, so that the physical
 * line of point i is 3 i + 3; lines[i] receives it. */
bool planted(size_t i) { return i % 19 == 4; }

std::string calibration_file(bool noisy, bool with_planted,
                             std::vector<size_t> *lines = nullptr)
{
  std::mt19937 rng(99);
  std::normal_distribution<double> noise(0.0, 1e-6);
  std::string text = "# synthetic points\n\n";
  size_t i = 0;
  for (int a = 0; a < 15; ++a)
    for (int b = 0; b < 14; ++b, ++i) {
      const double i1 = 31.7 + a * 139.3 + 3.1 * b;
      const double i2 = 17.9 + b * 147.1 + 1.7 * a;
      double angle = two_theta(kTrue.data(), i1, i2) + (noisy ? noise(rng) : 0);
      if (with_planted && planted(i))
        angle += (i % 2 ? 1.0 : -1.0) * (0.0113 + 0.0031 * (i % 3));
      text += format("%.17g %.17g %.17g\n# point %zu\n\n", angle, i1, i2, i);
      if (lines) lines->push_back(3 * i + 3);
    }
  return text;
}

RunOutput run_file(const ScratchDir &dir, const std::string &data,
                   const std::vector<std::string> &args)
{
  dir.write("points.dat", data);
  return vabo_test::run_in(dir, join({"input=points.dat"}, args), "");
}

} // namespace

TEST(RobustOptions, BadValuesEndTheRunBeforeTheData)
{
  const std::string reject = "is not a factor of the robust scale: ";
  const std::string method =
      " is not a method: use method=gn (Gauss-Newton) or method=lm "
      "(Levenberg-Marquardt)\n";
  struct Case {
    std::string arg, message;
  } cases[] = {
      {"reject=0",
       "reject=0 " + reject + "0 is not a positive, finite factor\n"},
      {"reject=-1",
       "reject=-1 " + reject + "-1 is not a positive, finite factor\n"},
      {"reject=4x",
       "reject=4x " + reject + "the text >>x<< follows the value\n"},
      {"reject=1/0", "reject=1/0 " + reject + "division by zero\n"},
      {"reject=", "reject= " + reject + "expression is not a float number\n"},
      {"method=foo", "method=foo" + method},
      {"method=LM", "method=LM" + method},
      {"method=", "method=" + method},
  };
  for (const Case &c : cases) {
    // The data would be read from standard input: it must stay unread.
    RunOutput r = vabo_test::run_vabo(join(kStart, {c.arg}), "0.2 ? 1\n");
    EXPECT_EQ(r.status, 1) << c.arg;
    EXPECT_EQ(r.out, "") << c.arg;
    EXPECT_EQ(r.err, kBanner + "ERROR: " + c.message + "ERROR: status=1\n")
        << c.arg;
  }
}

TEST(RobustOptions, NothingToRejectAndMethodGnChangeNothingButOneLine)
{
  for (const char *debug : {"debug=0", "debug=0x81"}) {
    ScratchDir dir;
    const auto args = join({"input=" + kExample, debug}, kStart);
    const RunOutput plain = vabo_test::run_in(dir, args, "");
    const std::string plain_log =
        vabo_test::slurp(dir.file("vabo_iteration.spec"));
    ASSERT_EQ(plain.status, 0) << debug;

    const RunOutput gn = vabo_test::run_in(dir, join(args, {"method=gn"}), "");
    EXPECT_EQ(gn.out, plain.out) << debug;
    EXPECT_EQ(gn.err, plain.err) << debug;
    EXPECT_EQ(vabo_test::slurp(dir.file("vabo_iteration.spec")), plain_log);

    const RunOutput clipped =
        vabo_test::run_in(dir, join(args, {"reject=4"}), "");
    EXPECT_EQ(clipped.status, 0);
    EXPECT_EQ(clipped.out, plain.out) << debug;
    EXPECT_EQ(vabo_test::slurp(dir.file("vabo_iteration.spec")), plain_log);
    // stdev as the statistics line prints it, over all 106 points.
    const std::string stdev =
        vabo_test::words(split_lines(plain.out).back())[0];
    EXPECT_EQ(clipped.err,
              kBanner + "reject: round 1: 0 points rejected, 106 kept, stdev " +
                  stdev + "\n" + kSuccess)
        << debug;
  }
}

TEST(RobustOptions, WrongRingPointsAreRejectedAndListedWithTheirInputLines)
{
  std::vector<size_t> lines;
  const std::string data = calibration_file(true, true, &lines);
  ScratchDir dir;
  const Params start = {75e-6,  74.6e-6, 1040.1,  975.2,
                        0.2051, 0.0288,  -0.0187, 0.011};
  const RunOutput r =
      run_file(dir, data,
               join(start_of(start),
                    {"reject=5", "method=lm", "json=r.json", "debug=0x80"}));
  ASSERT_EQ(r.status, 0) << r.err;

  std::set<size_t> planted_lines;
  for (size_t i = 0; i < lines.size(); ++i)
    if (planted(i)) planted_lines.insert(lines[i]);
  const size_t kept = lines.size() - planted_lines.size();
  EXPECT_EQ(
      r.err.rfind(
          kBanner + "reject: round 1: " + std::to_string(planted_lines.size()) +
              " points rejected, " + std::to_string(kept) + " kept, stdev ",
          0),
      0u)
      << r.err;

  const Json doc =
      Json::parse(vabo_test::slurp(dir.file("r.json")), nullptr, false);
  ASSERT_TRUE(doc.is_object());
  EXPECT_EQ(doc["method"], "lm");
  const Json &rejection = doc["rejection"];
  EXPECT_EQ(rejection["k"], 5.0);
  EXPECT_EQ(rejection["end"], "settled");
  EXPECT_EQ(rejection["rounds"].back()["rejected"], 0);
  EXPECT_EQ(rejection["rounds"].back()["kept"], kept);
  EXPECT_EQ(doc["statistics"]["ndata"], kept);

  // Each rejected point: its line, its values as read, its residual at the
  // refined parameters by the independent model.
  Params refined;
  const char *const names[NParams] = {"pix1", "pix2", "cen1", "cen2",
                                      "dis",  "rot1", "rot2", "rot3"};
  for (int p = 0; p < NParams; ++p) {
    const Json &parameter = doc["parameters"][names[p]];
    refined[p] = parameter["value"].get<double>();
    EXPECT_LE(std::fabs(refined[p] - kTrue[p]),
              4 * parameter["error"].get<double>())
        << names[p];
  }
  std::set<size_t> listed;
  const auto file_lines = split_lines(data);
  for (const Json &point : rejection["points"]) {
    const size_t line = point["line"].get<size_t>();
    listed.insert(line);
    EXPECT_EQ(point["round"], 1);
    const auto values = vabo_test::words(file_lines.at(line - 1));
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(point["angle"].get<double>(), std::stod(values[0]));
    EXPECT_EQ(point["i1"].get<double>(), std::stod(values[1]));
    EXPECT_EQ(point["i2"].get<double>(), std::stod(values[2]));
    const double residual =
        std::stod(values[0]) -
        two_theta(refined.data(), std::stod(values[1]), std::stod(values[2]));
    EXPECT_NEAR(point["residual"].get<double>(), residual, 1e-10);
  }
  EXPECT_EQ(listed, planted_lines);

  // The log runs on through the rounds: scans 0 ... steps, each once.
  int expected_scan = 0;
  for (const std::string &line :
       split_lines(vabo_test::slurp(dir.file("vabo_iteration.spec"))))
    if (line.rfind("#S ", 0) == 0) {
      EXPECT_EQ(line, "#S " + std::to_string(expected_scan++) + "\r");
    }
  EXPECT_EQ(expected_scan, doc["steps"].get<int>() + 1);
}

TEST(RobustOptions, LevenbergMarquardtReachesTheTruthWhereGaussNewtonFails)
{
  const std::string data = calibration_file(false, false);
  const Params far = {75e-6, 74.6e-6, 424.3, 1587.6, 0.3, -0.1, 0.1, 0.011};
  ScratchDir dir;
  const RunOutput gn = run_file(dir, data, join(start_of(far), {"mindev=0"}));
  EXPECT_EQ(gn.status, 33);
  const RunOutput lm =
      run_file(dir, data, join(start_of(far), {"mindev=0", "method=lm"}));
  ASSERT_EQ(lm.status, 0) << lm.err;
  std::string truth;
  for (double v : kTrue) truth += format("%12lg ", v);
  EXPECT_EQ(split_lines(lm.out).at(0), std::string(12, ' ') + truth);
}
