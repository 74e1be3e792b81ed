/*
 * test_vabo_reject.cpp -- sigma clipping of outliers around the refinement.
 *
 * The median and one round of clipping against values worked out by hand
 * (centre, robust scale, the points beyond, the half guard, weight 0 and
 * residuals that are not numbers); the rounds around the refinement on
 * synthetic data from the independent forward model of test_support.h, with
 * points planted on a neighbouring ring: they must all go, no clean point
 * with them, and the fit must be the one made without them.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using vabo_test::Params;
using vabo_test::Points;
using vabo_test::two_theta;

const Params kTrue = {75e-6,  75e-6,  1012.7,  993.4,
                      0.1875, 0.0417, -0.0236, 0.0};
const int kModes[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};
const Params kStart = {75e-6,  75e-6,  1031.2,  979.9,
                       0.1913, 0.0388, -0.0251, 0.0};

/* 320 pixels scattered over a 2048 x 2048 detector, angles of kTrue with
 * Gaussian noise of 2e-6 rad, weights between 0.6 and 1.4.  Every point i
 * with planted(i) carries instead the angle of a ring 0.0113 to 0.0175 rad
 * away, as a point picked on the neighbouring ring. */
bool planted(size_t i) { return i % 23 == 5; }

Points make_points(bool with_planted)
{
  std::mt19937 rng(4242);
  std::normal_distribution<double> noise(0.0, 2e-6);
  Points pts;
  for (size_t i = 0; i < 320; ++i) {
    const double i1 = 24.5 + std::fmod(i * 613.37, 2000.0);
    const double i2 = 31.25 + std::fmod(i * 347.91 + 0.13 * i * i, 1990.0);
    double angle = two_theta(kTrue.data(), i1, i2) + noise(rng);
    if (with_planted && planted(i))
      angle += (i % 2 ? 1.0 : -1.0) * (0.0113 + 0.0031 * (i % 3));
    pts.i1.push_back(i1);
    pts.i2.push_back(i2);
    pts.angle.push_back(angle);
    pts.weight.push_back(0.6 + 0.1 * (i % 9));
  }
  return pts;
}

struct RobustResult {
  int status = -1;
  Params par{}, dev{};
  std::array<double, NStats> stat{};
  std::vector<int> round;
  std::vector<double> residual;
  VaboRejection rejection{};
};

RobustResult optimize_robust(const Points &pts, double k)
{
  RobustResult r;
  r.round.assign(pts.size(), -5);
  r.residual.assign(pts.size(), NAN);
  r.rejection.k = k;
  r.rejection.Round = r.round.data();
  r.rejection.Residual = r.residual.data();
  r.status = VaboOptimizeRobust(
      r.par.data(), r.dev.data(), r.stat.data(), kStart.data(), kModes,
      pts.size(), pts.angle.data(), pts.i1.data(), pts.i2.data(),
      pts.weight.data(), 1e-7, 100, nullptr, &r.rejection, nullptr);
  return r;
}

bool same_bits(double a, double b)
{
  return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(VaboMedian, MiddleValueOrMeanOfTheTwoMiddleValues)
{
  struct Case {
    std::vector<double> values;
    double median;
  };
  const Case cases[] = {
      {{3.25}, 3.25},
      {{2.5, -1.75}, 0.375},
      {{0.5, 7.25, -2.125}, 0.5},
      {{4.5, -3.0, 9.75, 1.25}, 2.875},
      {{1.5, 1.5, 1.5, 8.0, -6.0}, 1.5},
  };
  for (const Case &c : cases) {
    std::vector<double> v = c.values;
    EXPECT_EQ(VaboMedian(v.size(), v.data()), c.median) << c.values.size();
  }
  EXPECT_TRUE(std::isnan(VaboMedian(0, nullptr)));
}

/* Six residuals of weight 1: median (0.05 + 0.1) / 2 = 0.075; distances
 * from it 0.025 0.275 0.075 0.025 0.175 4.925, whose median is
 * (0.075 + 0.175) / 2 = 0.125, so the scale is 1.4826 * 0.125. */
TEST(VaboRejectPass, RejectsWhatLiesBeyondKRobustDeviations)
{
  const double scale = 1.4826 * 0.125;
  struct Case {
    const char *what;
    std::vector<double> b, w;
    std::vector<int> before, after;
    double k;
    int status;
    double median, scale;
  };
  // clang-format off
  const Case cases[] = {
      {"one outlier", {0.1, -0.2, 0.15, 0.05, -0.1, 5.0}, {1, 1, 1, 1, 1, 1},
       {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 3}, 3.0, 0, 0.075, scale},
      {"weight 0 takes no part in the scale and is never rejected",
       {0.1, -0.2, 0.15, 40.0, 0.05, -0.1, 5.0}, {1, 1, 1, 0, 1, 1, 1},
       {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 3}, 3.0, 0, 0.075, scale},
      {"rejected before: out of the scale, keeps its round",
       {0.1, -0.2, 0.15, -30.0, 0.05, -0.1, 5.0}, {1, 1, 1, 1, 1, 1, 1},
       {0, 0, 0, 2, 0, 0, 0}, {0, 0, 0, 2, 0, 0, 3}, 3.0, 0, 0.075, scale},
      {"a larger K keeps it", {0.1, -0.2, 0.15, 0.05, -0.1, 5.0},
       {1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, 30.0, 0,
       0.075, scale},
      {"not a number is beyond any bound", {0.1, -0.2, NAN, 0.15, 0.05, -0.1, 5.0},
       {1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 3, 0, 0, 0, 3},
       3.0, 0, 0.075, scale},
      {"rounding noise of exact data stays", {1e-17, -2e-17, 3e-17, 0.0, 5e-16},
       {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, 3.0, 0, 1e-17,
       1.4826 * 2e-17},
      // Median 1 (five ones of nine taking part); the four zeros are beyond
      // any bound, and with the two rejected before they would be 6 of 11.
      {"more than half in all rounds: none", {0, 0, 0, 0, 1, 1, 1, 1, 1, 7, 7},
       {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2}, 4.0, 1, 1.0, 0.0},
      // The same four of ten points: exactly half, allowed.
      {"exactly half: rejected", {0, 0, 0, 0, 1, 1, 1, 1, 1, 7},
       {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
       {3, 3, 3, 3, 0, 0, 0, 0, 0, 1}, 4.0, 0, 1.0, 0.0},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> round = c.before;
    VaboRejectRound summary{};
    ASSERT_EQ(VaboRejectPass(c.b.size(), c.b.data(), c.w.data(), round.data(),
                             3, c.k, &summary),
              c.status);
    EXPECT_EQ(round, c.after);
    EXPECT_NEAR(summary.median, c.median, 1e-14 * std::fabs(c.median));
    EXPECT_NEAR(summary.scale, c.scale, 1e-14 * c.scale);
    size_t newly = 0, rejected = 0;
    for (size_t i = 0; i < round.size(); ++i) {
      newly += round[i] == 3 && c.before[i] == 0;
      rejected += round[i] != 0;
    }
    EXPECT_EQ(summary.rejected, newly);
    EXPECT_EQ(summary.kept, round.size() - rejected);
    EXPECT_EQ(summary.round, 3);
  }
  int round[1] = {0};
  EXPECT_EQ(VaboRejectPass(1, nullptr, nullptr, round, 1, 3.0, nullptr), -1);
}

TEST(VaboRobust, PlantedWrongRingPointsGoAndTheFitIsTheOneWithoutThem)
{
  const Points pts = make_points(true);
  const RobustResult r = optimize_robust(pts, 5.0);
  ASSERT_EQ(r.status, 0);

  size_t planted_count = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    planted_count += planted(i);
    EXPECT_EQ(r.round[i] != 0, planted(i)) << "point " << i;
  }
  ASSERT_GE(r.rejection.nrounds, 2);
  EXPECT_EQ(r.rejection.end, VaboRejectSettled);
  EXPECT_EQ(r.rejection.Rounds[r.rejection.nrounds - 1].rejected, 0u);

  // The fit made here without the planted points (weight 0).
  Points masked = pts;
  for (size_t i = 0; i < pts.size(); ++i)
    if (planted(i)) masked.weight[i] = 0.0;
  const vabo_test::Result want =
      vabo_test::optimize_points(kStart, kModes, masked, 1e-7, 100, -1.0);
  ASSERT_EQ(want.status, 0);
  for (int p = 0; p < NParams; ++p) {
    EXPECT_NEAR(r.par[p], want.par[p], 1e-9 * std::fabs(want.par[p]))
        << VaboParamNames[p];
    EXPECT_NEAR(r.par[p], kTrue[p], 1e-4 * std::fabs(kTrue[p]) + 1e-6)
        << VaboParamNames[p];
  }
  EXPECT_NEAR(r.stat[RStdDev], want.stat[RStdDev], 1e-9 * want.stat[RStdDev]);
  EXPECT_DOUBLE_EQ(r.stat[RTotal], want.stat[RTotal]);

  // ndata, mindev and maxdev over the kept points, from residuals of the
  // independent model at the refined parameters.
  EXPECT_EQ(r.stat[RNData], static_cast<double>(pts.size() - planted_count));
  double mindev = INFINITY, maxdev = 0.0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double b =
        pts.angle[i] - two_theta(r.par.data(), pts.i1[i], pts.i2[i]);
    EXPECT_NEAR(r.residual[i], b, 1e-12);
    if (planted(i)) continue;
    if (std::fabs(b) < std::fabs(mindev)) mindev = b;
    if (std::fabs(b) > std::fabs(maxdev)) maxdev = b;
  }
  EXPECT_NEAR(r.stat[RMinDev], mindev, 1e-12);
  EXPECT_NEAR(r.stat[RMaxDev], maxdev, 1e-12);
}

TEST(VaboRobust, NothingToRejectIsOneRoundAndTheSameFit)
{
  const Points pts = make_points(false);
  const RobustResult r = optimize_robust(pts, 5.0);
  const vabo_test::Result plain =
      vabo_test::optimize_points(kStart, kModes, pts, 1e-7, 100, -1.0);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(r.rejection.nrounds, 1);
  EXPECT_EQ(r.rejection.end, VaboRejectSettled);
  EXPECT_EQ(r.rejection.Rounds[0].rejected, 0u);
  EXPECT_EQ(r.rejection.Rounds[0].kept, pts.size());
  EXPECT_TRUE(same_bits(r.rejection.Rounds[0].stddev, plain.stat[RStdDev]));
  for (int p = 0; p < NParams; ++p) {
    EXPECT_TRUE(same_bits(r.par[p], plain.par[p])) << VaboParamNames[p];
    EXPECT_TRUE(same_bits(r.dev[p], plain.dev[p])) << VaboParamNames[p];
  }
  for (int s = 0; s < NStats; ++s)
    EXPECT_TRUE(same_bits(r.stat[s], plain.stat[s])) << VaboStatNames[s];
}

TEST(VaboRobust, HalfGuardStopsTheFirstRoundAndKeepsTheFit)
{
  // A factor far below the noise puts nearly every point beyond the bound.
  const Points pts = make_points(false);
  const RobustResult r = optimize_robust(pts, 1e-3);
  const vabo_test::Result plain =
      vabo_test::optimize_points(kStart, kModes, pts, 1e-7, 100, -1.0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.rejection.nrounds, 1);
  EXPECT_EQ(r.rejection.end, VaboRejectHalfGuard);
  EXPECT_GT(2 * r.rejection.Rounds[0].candidates, pts.size());
  EXPECT_EQ(r.rejection.Rounds[0].rejected, 0u);
  for (int v : r.round) EXPECT_EQ(v, 0);
  EXPECT_EQ(r.par, plain.par);
  EXPECT_EQ(r.stat, plain.stat);
}

TEST(VaboRobust, FailuresLeaveTheOutputsUntouched)
{
  const Points pts = make_points(true);
  for (double k : {0.0, -3.0, static_cast<double>(NAN)}) {
    RobustResult r = optimize_robust(pts, k);
    EXPECT_EQ(r.status, 1) << k;
    EXPECT_EQ(r.par[Cen1], 0.0) << k;
  }
  // rot3 acts on no angle: the first refinement fails.
  int modes[NParams] = {0, 0, 1, 1, 1, 1, 1, 1};
  std::vector<int> round(pts.size());
  VaboRejection rejection{};
  rejection.k = 4.0;
  rejection.Round = round.data();
  Params par{};
  par.fill(-2.5);
  EXPECT_EQ(VaboOptimizeRobust(par.data(), nullptr, nullptr, kStart.data(),
                               modes, pts.size(), pts.angle.data(),
                               pts.i1.data(), pts.i2.data(), pts.weight.data(),
                               1e-7, 100, nullptr, &rejection, nullptr),
            1);
  EXPECT_EQ(par[Cen1], -2.5);
  EXPECT_EQ(rejection.nrounds, 0);
}

/* ---- with the wavelength refined ----------------------------------------- */

namespace {

const double kWavelength = 0.7293e-10; /* m */

/* Points on six LaB6 rings of kTrue, pixels with a noise of 0.05 pixel;
 * every point i with planted(i) moved by 31 to 49 pixels along i1, as if
 * picked off its ring. */
vabo_test::RingPoints ring_points_planted()
{
  vabo_test::RingPoints pts = vabo_test::ring_points(
      kTrue.data(), kWavelength, vabo_test::lab6_spacings(), 40);
  std::mt19937 rng(2385);
  std::normal_distribution<double> noise(0.0, 0.05);
  for (size_t i = 0; i < pts.size(); ++i) {
    pts.i1[i] += noise(rng);
    pts.i2[i] += noise(rng);
    if (planted(i)) pts.i1[i] += (i % 2 ? 1.0 : -1.0) * (31.0 + 9.0 * (i % 3));
  }
  return pts;
}

struct WavelengthRobust {
  RobustResult r;
  double wavelength = NAN, deviation = NAN;
};

/* VaboOptimizeRobust with the wavelength refined from 0.4 % off, at most
 * maxstep steps in each round. */
WavelengthRobust robust_wavelength(const vabo_test::RingPoints &pts,
                                   int maxstep)
{
  WavelengthRobust w;
  RobustResult &r = w.r;
  r.round.assign(pts.size(), -5);
  r.residual.assign(pts.size(), NAN);
  r.rejection.k = 5.0;
  r.rejection.Round = r.round.data();
  r.rejection.Residual = r.residual.data();
  VaboOptions options{};
  options.Spacing = pts.spacing.data();
  options.wavelength = kWavelength * 1.004;
  options.wavelength_refined = 1;
  options.WavelengthOpt = &w.wavelength;
  options.WavelengthDev = &w.deviation;
  r.status = VaboOptimizeRobust(
      r.par.data(), r.dev.data(), r.stat.data(), kStart.data(), kModes,
      pts.size(), nullptr, pts.i1.data(), pts.i2.data(), pts.weight.data(),
      1e-15, maxstep, &options, &r.rejection, nullptr);
  return w;
}

} // namespace

/* Points picked off their rings go; wavelength and geometry are
 * those of the fit without them, and the residuals those at the refined
 * wavelength.  Rounds of one step each reach that fit too: each round
 * starts from the wavelength the one before reached. */
TEST(VaboRobust, RefinedWavelengthCarriesFromRoundToRound)
{
  const vabo_test::RingPoints pts = ring_points_planted();
  vabo_test::RingPoints masked = pts;
  for (size_t i = 0; i < pts.size(); ++i)
    if (planted(i)) masked.weight[i] = 0.0;
  VaboOptions options{};
  options.Spacing = pts.spacing.data();
  options.wavelength = kWavelength * 1.004;
  options.wavelength_refined = 1;
  double want_wavelength = NAN;
  options.WavelengthOpt = &want_wavelength;
  const vabo_test::Result want = vabo_test::optimize_points(
      kStart, kModes, masked, 1e-15, 100, -1.0, &options);
  ASSERT_EQ(want.status, 0);
  EXPECT_NEAR(want_wavelength, kWavelength, 1e-3 * kWavelength);

  const WavelengthRobust w = robust_wavelength(pts, 100);
  ASSERT_EQ(w.r.status, 0);
  for (size_t i = 0; i < pts.size(); ++i)
    EXPECT_EQ(w.r.round[i] != 0, planted(i)) << "point " << i;
  EXPECT_NEAR(w.wavelength, want_wavelength, 1e-10 * kWavelength);
  EXPECT_GT(w.deviation, 0.0);
  for (int p = 0; p < NParams; ++p)
    EXPECT_NEAR(w.r.par[p], want.par[p], 1e-9 * std::fabs(want.par[p]))
        << VaboParamNames[p];
  for (size_t i = 0; i < pts.size(); ++i)
    EXPECT_NEAR(w.r.residual[i],
                2.0 * std::asin(w.wavelength / (2.0 * pts.spacing[i])) -
                    two_theta(w.r.par.data(), pts.i1[i], pts.i2[i]),
                1e-12);

  /* Round 1 is the refinement of all points; the first step of round 2
   * starts where it ended (not at the start wavelength, 4 % from there),
   * so its change is below round 1's deviation, which the planted points
   * dominate. */
  int first_round = 0;
  ASSERT_EQ(VaboOptimizeEx(nullptr, nullptr, nullptr, kStart.data(), kModes,
                           pts.size(), nullptr, pts.i1.data(), pts.i2.data(),
                           pts.weight.data(), 1e-15, 100, &options,
                           &first_round),
            0);
  std::string out;
  {
    vabo_test::DebugGuard verbose(VABO_VERBOSE);
    out = vabo_test::capture(stdout, [&] { robust_wavelength(pts, 100); });
  }
  double stddev = NAN, change = NAN;
  const std::string end = vabo_test::format("step=%d, ", first_round);
  const std::string next = vabo_test::format("step=%d, ", first_round + 1);
  for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
    if (out.compare(at, end.size(), end) == 0)
      stddev = std::stod(out.substr(out.find("stddev=", at) + 7));
    if (out.compare(at, next.size(), next) == 0)
      change = std::stod(out.substr(out.find("change=", at) + 7));
    if (out.find('\n', at) == std::string::npos) break;
  }
  EXPECT_LT(std::fabs(change), stddev) << out;
}
