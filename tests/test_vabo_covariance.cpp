/*
 * test_vabo_covariance.cpp -- covariance and standard errors.
 *
 * VaboCovariance against a normal matrix built here from a
 * central-difference Jacobian of the independent model of test_support.h,
 * on noisy points with uneven and zero weights; the status of every case
 * without a covariance.  The inversion under it (CholeskyInverse) is tested
 * in test_vabo_linalg.cpp.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vabo_test::Params;
using vabo_test::Points;
using vabo_test::two_theta;
using Modes = std::array<int, NParams>;

const Params kTrue = {75e-6,  74.6e-6, 1024.3,  987.6,
                      0.2013, 0.0312,  -0.0207, 0.0113};

/* A 12 x 11 grid over a 2048 x 2048 detector; angles of kTrue with a
 * deterministic noise of ~1e-5 rad, uneven weights, and point 7 an outlier
 * of weight 0, which must count for nothing. */
Points noisy_points(size_t count = 132)
{
  Points pts;
  for (size_t k = 0; k < count; ++k) {
    const double i1 = 41.3 + (k % 12) * 163.7 + 2.9 * (k / 12);
    const double i2 = 23.9 + (k / 12) * 181.3 + 1.3 * (k % 12);
    pts.i1.push_back(i1);
    pts.i2.push_back(i2);
    pts.angle.push_back(two_theta(kTrue.data(), i1, i2) +
                        1.3e-5 * std::sin(2.385 * k + 0.7));
    pts.weight.push_back(k == 7 ? 0.0 : 0.45 + 0.35 * ((k * 5) % 7));
  }
  if (count > 7) pts.angle[7] += 0.1;
  return pts;
}

struct Covariance {
  int status;
  double s2;
  size_t nopt;
  std::array<double, NParams * NParams> cov;
};

Covariance covariance(const Params &par, const int *modes, const Points &pts)
{
  Covariance c;
  c.cov.fill(7.777);
  c.status = VaboCovariance(c.cov.data(), &c.s2, &c.nopt, par.data(), modes,
                            pts.size(), pts.angle.data(), pts.i1.data(),
                            pts.i2.data(), pts.weight.data());
  return c;
}

/* ---- VaboCovariance ---------------------------------------------------------
 */

TEST(Covariance, IsTheScaledInverseOfAFiniteDifferenceNormalMatrix)
{
  /* pix1 refined besides the defaults: six parameters, strongly correlated
   * pairs (cen1 and rot2, cen2 and rot1). */
  const Modes modes = {1, 0, 1, 1, 1, 1, 1, 0};
  const Points pts = noisy_points();
  vabo_test::Result fit =
      vabo_test::optimize_points(kTrue, modes.data(), pts, 0.0, 20, 7.777);
  ASSERT_EQ(fit.status, 0);
  const Params &par = fit.par;

  std::vector<int> refined;
  for (int k = 0; k < NParams; ++k)
    if (modes[k]) refined.push_back(k);
  const size_t p = refined.size();

  /* Normal matrix, residuals and s2 from central differences of the model;
   * the outlier of weight 0 counts in neither sum nor N. */
  std::vector<double> M(p * p, 0.0);
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double w = pts.weight[i];
    std::vector<double> J(p);
    for (size_t a = 0; a < p; ++a) {
      const int k = refined[a];
      const double h = 1e-6 * std::max(std::fabs(par[k]), 1e-3);
      Params up = par, down = par;
      up[k] += h;
      down[k] -= h;
      J[a] = (two_theta(up.data(), pts.i1[i], pts.i2[i]) -
              two_theta(down.data(), pts.i1[i], pts.i2[i])) /
             (2 * h);
    }
    for (size_t a = 0; a < p; ++a)
      for (size_t b = 0; b < p; ++b) M[b * p + a] += w * J[a] * J[b];
    const double r = pts.angle[i] - two_theta(par.data(), pts.i1[i], pts.i2[i]);
    sum += w * r * r;
    n += w > 0 ? 1 : 0;
  }
  const double s2 = sum / static_cast<double>(n - p);

  Covariance c = covariance(par, modes.data(), pts);
  ASSERT_EQ(c.status, VaboCovOk);
  EXPECT_EQ(c.nopt, p);
  EXPECT_NEAR(c.s2, s2, 1e-9 * s2);

  /* Cov M = s2 I, compared in units of each parameter's own scale (the
   * square roots of the diagonals), where the finite differences leave an
   * error of about 1e-9 times the condition of the correlations. */
  for (size_t a = 0; a < p; ++a)
    for (size_t b = 0; b < p; ++b) {
      double product = 0.0;
      for (size_t k = 0; k < p; ++k) product += c.cov[k * p + a] * M[b * p + k];
      product *= std::sqrt(M[a * p + a] / M[b * p + b]);
      EXPECT_NEAR(product / s2, a == b ? 1.0 : 0.0, 1e-4) << a << "," << b;
    }
}

TEST(Covariance, NoParameterRefinedLeavesTheResidualVariance)
{
  const Modes none = {0, 0, 0, 0, 0, 0, 0, 0};
  const Points pts = noisy_points();
  Covariance c = covariance(kTrue, none.data(), pts);
  EXPECT_EQ(c.status, VaboCovOk);
  EXPECT_EQ(c.nopt, 0u);
  double sum = 0.0;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double r =
        pts.angle[i] - two_theta(kTrue.data(), pts.i1[i], pts.i2[i]);
    sum += pts.weight[i] * r * r;
  }
  EXPECT_NEAR(c.s2, sum / 131.0, 1e-12 * c.s2);
}

TEST(Covariance, StatusSaysWhyThereIsNone)
{
  const Modes defaults = {0, 0, 1, 1, 1, 1, 1, 0};
  const Modes with_rot3 = {0, 0, 1, 1, 1, 1, 1, 1};
  /* Scaling pix1, pix2 and dis together leaves every angle unchanged. */
  const Modes all_lengths = {1, 1, 1, 1, 1, 0, 0, 0};
  Points nan_angle = noisy_points();
  nan_angle.angle[3] = NAN;
  struct Case {
    const char *what;
    const Modes &modes;
    Points pts;
    int status;
  } cases[] = {
      {"five points for five parameters", defaults, noisy_points(5),
       VaboCovTooFewPoints},
      /* eight points, three of them of weight 0 */
      {"five weighted points", defaults,
       [] {
         Points p = noisy_points(8);
         p.weight[0] = p.weight[1] = 0.0;
         return p;
       }(),
       VaboCovTooFewPoints},
      {"rot3 acts on no angle", with_rot3, noisy_points(), VaboCovSingular},
      {"pixel sizes and distance act alike", all_lengths, noisy_points(),
       VaboCovSingular},
      {"an angle that is not a number", defaults, nan_angle, VaboCovNotFinite},
  };
  for (const auto &c : cases) {
    Covariance got = covariance(kTrue, c.modes.data(), c.pts);
    EXPECT_EQ(got.status, c.status) << c.what;
    EXPECT_EQ(got.cov[0], 7.777) << c.what << ": covariance written";
    EXPECT_NE(std::string(VaboCovStatusText(c.status)), "unknown status");
  }
  double s2 = 0.0;
  size_t nopt = 9;
  EXPECT_EQ(VaboCovariance(nullptr, &s2, &nopt, nullptr, nullptr, 0, nullptr,
                           nullptr, nullptr, nullptr),
            VaboCovFailed);
  EXPECT_TRUE(std::isnan(s2));
  EXPECT_EQ(nopt, 0u);
  EXPECT_EQ(std::string(VaboCovStatusText(NVaboCovStatus)), "unknown status");
}

/* The normal equations a refinement hands back give the covariance of a
 * fresh walk over the points, bit for bit: plain, damped and clipped runs,
 * with a point of weight 0 and several sets of refined parameters. */
TEST(Covariance, NormalEquationsOfTheRefinementGiveTheSameBits)
{
  const Modes defaults = {0, 0, 1, 1, 1, 1, 1, 0};
  const Modes with_pix = {1, 0, 1, 1, 1, 1, 1, 0};
  const Modes three = {0, 0, 1, 1, 1, 0, 0, 0};
  Points outliers = noisy_points();
  outliers.angle[20] += 3e-3;
  outliers.angle[41] -= 2e-3;
  struct Case {
    const char *what;
    const Modes &modes;
    const Points pts;
    int method;
    double reject; /* 0: no clipping */
  } cases[] = {
      {"Gauss-Newton", defaults, noisy_points(), VaboGaussNewton, 0.0},
      {"pix1 too", with_pix, noisy_points(), VaboGaussNewton, 0.0},
      {"three parameters", three, noisy_points(), VaboGaussNewton, 0.0},
      {"Levenberg-Marquardt", defaults, noisy_points(), VaboLevenbergMarquardt,
       0.0},
      {"clipped", defaults, outliers, VaboGaussNewton, 4.0},
      {"clipped and damped", with_pix, outliers, VaboLevenbergMarquardt, 4.0},
  };
  Params start = kTrue;
  start[Cen1] += 7.3;
  start[Dis] *= 1.012;
  start[Rot1] -= 0.004;
  for (const Case &c : cases) {
    const Points &pts = c.pts;
    const size_t n = pts.size();
    VaboNormal normal{};
    VaboOptions options{};
    options.method = c.method;
    options.Normal = &normal;
    double par[NParams], dev[NParams], stat[NStats];
    std::vector<int> round(n, 0);
    std::vector<double> weight = pts.weight;
    int status = 0;
    if (c.reject > 0.0) {
      VaboRejection rejection{};
      rejection.k = c.reject;
      rejection.Round = round.data();
      status = VaboOptimizeRobust(par, dev, stat, start.data(), c.modes.data(),
                                  n, pts.angle.data(), pts.i1.data(),
                                  pts.i2.data(), pts.weight.data(), 1e-12, 50,
                                  &options, &rejection, nullptr);
      EXPECT_GT(rejection.Rounds[0].rejected, 0u) << c.what;
      for (size_t i = 0; i < n; ++i)
        if (round[i]) weight[i] = 0.0;
    } else {
      status = VaboOptimizeEx(par, dev, stat, start.data(), c.modes.data(), n,
                              pts.angle.data(), pts.i1.data(), pts.i2.data(),
                              pts.weight.data(), 1e-12, 50, &options, nullptr);
    }
    ASSERT_EQ(status, 0) << c.what;
    ASSERT_TRUE(normal.valid) << c.what;

    double walked[NParams * NParams], handed[NParams * NParams];
    double s2_walked = 0.0, s2_handed = 0.0;
    size_t nopt = 0;
    ASSERT_EQ(VaboCovariance(walked, &s2_walked, &nopt, par, c.modes.data(), n,
                             pts.angle.data(), pts.i1.data(), pts.i2.data(),
                             weight.data()),
              VaboCovOk)
        << c.what;
    ASSERT_EQ(VaboCovarianceNormal(handed, &s2_handed, &normal), VaboCovOk)
        << c.what;
    ASSERT_EQ(normal.nopt, nopt) << c.what;
    EXPECT_EQ(std::memcmp(&s2_walked, &s2_handed, sizeof s2_walked), 0)
        << c.what;
    EXPECT_EQ(std::memcmp(walked, handed, nopt * nopt * sizeof(double)), 0)
        << c.what;
  }
  EXPECT_EQ(VaboCovarianceNormal(nullptr, nullptr, nullptr), VaboCovFailed);
  VaboNormal invalid{};
  EXPECT_EQ(VaboCovarianceNormal(nullptr, nullptr, &invalid), VaboCovFailed);
}

} // namespace
