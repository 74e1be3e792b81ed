/*
 * Tests of the forward model: the rotation matrix against its factors,
 * every analytic derivative against a central finite difference for random
 * geometries, pixels and refine selections, the showtemp printouts, and the
 * model over many points (geometry computed once) against the same model
 * point by point, bit for bit.  The vector and matrix arithmetic under it
 * is tested in test_vabo_linalg.cpp.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using vabo_test::capture;
using vabo_test::DebugGuard;
using vabo_test::detector_rotation;
using vabo_test::detector_vector;
using vabo_test::kPi;
using vabo_test::Mat3;

/* ---------------------------------------------------------------------
 * Detector geometry model
 * ------------------------------------------------------------------- */

/* An ordered record built directly: refined parameters first, kept ones
 * after them, each group in natural order (null modes refine all). */
VaboOrdered make_ordered(const double *par, const int *modes)
{
  VaboOrdered o{};
  int j = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int p = 0; p < NParams; ++p) {
      const bool refined = !modes || modes[p] != 0;
      if (refined != (pass == 0)) continue;
      o.Index[p] = j;
      o.Names[j] = VaboParamNames[p];
      o.Par[j] = par[p];
      o.ParDev[j] = -1.0;
      ++j;
      if (pass == 0) o.nopt = static_cast<size_t>(j);
    }
  for (int k = 0; k < NStats; ++k) {
    o.StatNames[k] = VaboStatNames[k];
    o.Stat[k] = -1.0;
  }
  return o;
}

struct Geometry {
  double par[NParams];
  double i1, i2;
};

Geometry random_geometry(std::mt19937_64 &rng)
{
  std::uniform_real_distribution<double> pix(3e-5, 2e-4), cen(200, 1800),
      dis(0.05, 0.5), tilt(-0.7, 0.7), turn(-3.0, 3.0), pixel(0, 2048);
  Geometry g;
  g.par[Pix1] = pix(rng);
  g.par[Pix2] = pix(rng);
  g.par[Cen1] = cen(rng);
  g.par[Cen2] = cen(rng);
  g.par[Dis] = dis(rng);
  g.par[Rot1] = tilt(rng);
  g.par[Rot2] = tilt(rng);
  g.par[Rot3] = turn(rng);
  g.i1 = pixel(rng);
  g.i2 = pixel(rng);
  return g;
}

/* Typical size of each parameter: finite-difference steps and tolerances
 * scale with it. */
const double kScale[NParams] = {1e-4, 1e-4, 1e3, 1e3, 0.3, 1, 1, 1};
constexpr double kRelStep = 1e-5;

TEST(Model, RotationMatrixIsRzRyRxReadColumnMajor)
{
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> angle(-kPi, kPi);
  for (int n = 0; n < 50; ++n) {
    const double a = angle(rng), b = angle(rng), c = angle(rng);
    Mat3 M;
    detector_rotation(a, b, c, M);
    Mat3 R;
    rotation_matrix_3d(R, a, b, c);
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(R[k][r], M[r][k], 1e-15) << r << "," << k;
  }
}

TEST(Model, NormalIsThePixelInTheUnrotatedDetector)
{
  double V[3];
  i2normal_3d(V, 5e-5, 7.5e-5, 512.25, 300.5, 0.115, 612.25, 200.5);
  EXPECT_DOUBLE_EQ(V[0], 100 * 5e-5);
  EXPECT_DOUBLE_EQ(V[1], -100 * 7.5e-5);
  EXPECT_EQ(V[2], -0.115);
  i2normal_3d(nullptr, 1, 1, 1, 1, 1, 1, 1); /* nothing written */
}

TEST(Model, XIsTheRotatedPixelVector)
{
  std::mt19937_64 rng(1234);
  for (int n = 0; n < 50; ++n) {
    const Geometry g = random_geometry(rng);
    const VaboOrdered o = make_ordered(g.par, VaboParamDefault);
    double X[3];
    EXPECT_EQ(X_vector_3d(X, &o, g.i1, g.i2), X);
    /* The pixel vector rotated step by step: Rx, then Ry, then Rz. */
    double w[3];
    detector_vector(g.par, g.i1, g.i2, w);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(X[k], w[k], 1e-15) << k;
  }
}

struct Selection {
  const char *name;
  int modes[NParams];
  bool all; /* refine every parameter (null modes) */
};

const Selection kSelections[] = {
    {"default", {0, 0, 1, 1, 1, 1, 1, 0}, false},
    {"all (null modes)", {}, true},
    {"pix1 and rot3", {1, 0, 0, 0, 0, 0, 0, 1}, false},
    {"alternate", {0, 1, 0, 1, 0, 1, 0, 1}, false},
    {"missing counts as refine", {-1, 1, -1, 0, 1, 0, 0, -1}, false},
    {"none", {0, 0, 0, 0, 0, 0, 0, 0}, false},
};

TEST(Model, DerivativeColumnsMatchCentralDifferences)
{
  std::mt19937_64 rng(20131209);
  constexpr double kSentinel = 7.770625;
  for (const Selection &sel : kSelections)
    for (int n = 0; n < 40; ++n) {
      const Geometry g = random_geometry(rng);
      const VaboOrdered o = make_ordered(g.par, sel.all ? nullptr : sel.modes);
      double X[3];
      X_vector_3d(X, &o, g.i1, g.i2);
      const double length = std::sqrt(X[0] * X[0] + X[1] * X[1] + X[2] * X[2]);

      double DX[3 * NParams];
      for (double &d : DX) d = kSentinel;
      DX_matrix_3d(DX, &o, g.i1, g.i2);

      for (int p = 0; p < NParams; ++p) {
        const int j = o.Index[p];
        const double *column = DX + 3 * j;
        if (static_cast<size_t>(j) >= o.nopt) {
          for (int k = 0; k < 3; ++k)
            EXPECT_EQ(column[k], kSentinel) << sel.name << " kept " << p;
          continue;
        }
        const double h = kRelStep * kScale[p];
        VaboOrdered plus = o, minus = o;
        plus.Par[j] += h;
        minus.Par[j] -= h;
        double Xp[3], Xm[3];
        X_vector_3d(Xp, &plus, g.i1, g.i2);
        X_vector_3d(Xm, &minus, g.i1, g.i2);
        const double tol = 1e-8 * length / kScale[p];
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(column[k], (Xp[k] - Xm[k]) / (2 * h), tol)
              << sel.name << " parameter " << VaboParamNames[p] << " row " << k;
      }
    }
}

TEST(Model, DAngleMatchesCentralDifferencesOfTheAngle)
{
  std::mt19937_64 rng(16061011);
  for (const Selection &sel : kSelections)
    for (int n = 0; n < 40; ++n) {
      const Geometry g = random_geometry(rng);
      const VaboOrdered o = make_ordered(g.par, sel.all ? nullptr : sel.modes);
      double X[3], DX[3 * NParams] = {};
      X_vector_3d(X, &o, g.i1, g.i2);
      const double rho = std::hypot(X[0], X[1]);
      if (rho < 1e-3 * std::fabs(X[2])) continue; /* keep off the axis */
      DX_matrix_3d(DX, &o, g.i1, g.i2);
      for (int p = 0; p < NParams; ++p) {
        const int j = o.Index[p];
        if (static_cast<size_t>(j) >= o.nopt) continue;
        const double h = kRelStep * kScale[p];
        VaboOrdered plus = o, minus = o;
        plus.Par[j] += h;
        minus.Par[j] -= h;
        double Xp[3], Xm[3];
        X_vector_3d(Xp, &plus, g.i1, g.i2);
        X_vector_3d(Xm, &minus, g.i1, g.i2);
        const double fd = (Angle_3d(Xp) - Angle_3d(Xm)) / (2 * h);
        EXPECT_NEAR(DAngle_3d(X, DX, j), fd, 1e-8 / kScale[p])
            << sel.name << " parameter " << VaboParamNames[p];
      }
    }
}

TEST(Model, LastOrderedColumnIsFilledWhenAllAreRefined)
{
  const double par[NParams] = {6.1e-5, 8.3e-5, 511.7, 488.2,
                               0.1234, 0.21,   -0.13, 0.77};
  const VaboOrdered o = make_ordered(par, nullptr);
  ASSERT_EQ(o.Index[Rot3], 7);
  double DX[3 * NParams];
  for (double &d : DX) d = -5.5;
  DX_matrix_3d(DX, &o, 700.3, 250.9);
  EXPECT_NE(DX[21], -5.5);
  EXPECT_NE(DX[22], -5.5);
  EXPECT_EQ(DX[23], 0.0); /* a turn about axis 3 leaves X[2] */
}

TEST(Model, NullDerivativeMatrixIsAccepted)
{
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0.1, 0.2, 0.3};
  const VaboOrdered o = make_ordered(par, nullptr);
  DX_matrix_3d(nullptr, &o, 12, 34);
  const double X[3] = {0.1, 0.2, -0.3};
  const double DX[3 * NParams] = {1, 2, 3};
  EXPECT_EQ(DAngle_3d(nullptr, DX, 0), 0.0);
  EXPECT_EQ(DAngle_3d(X, nullptr, 0), 0.0);
  EXPECT_EQ(DAngle_3d(X, DX, -1), 0.0);
  EXPECT_EQ(DAngle_3d(X, DX, NParams), 0.0);
}

TEST(Model, PoniOnTheAxisGivesZeroAngleAndTheAxis2Derivative)
{
  const double par[NParams] = {7.5e-5, 1.25e-4, 612.5, 387.25, 0.135, 0, 0, 0};
  const VaboOrdered o = make_ordered(par, nullptr);
  double X[3], DX[3 * NParams];
  X_vector_3d(X, &o, par[Cen1], par[Cen2]);
  EXPECT_EQ(X[0], 0.0);
  EXPECT_EQ(X[1], 0.0);
  EXPECT_EQ(X[2], -0.135);
  EXPECT_EQ(Angle_3d(X), 0.0);
  EXPECT_EQ(Azimuth_3d(X), 0.0);
  DX_matrix_3d(DX, &o, par[Cen1], par[Cen2]);
  /* cen2 moves X along -axis 2 by pix2: the angle changes by
   * -dX[1] / X[2] = -pix2 / dis. */
  EXPECT_DOUBLE_EQ(DAngle_3d(X, DX, o.Index[Cen2]), -1.25e-4 / 0.135);
  /* Only the component along axis 2 is used. */
  EXPECT_EQ(DAngle_3d(X, DX, o.Index[Cen1]), 0.0);
}

TEST(Model, PointAtFortyFiveDegrees)
{
  const double par[NParams] = {1e-4, 1e-4, 433.5, 617.25, 0.1, 0, 0, 0};
  const VaboOrdered o = make_ordered(par, VaboParamDefault);
  double X[3];
  X_vector_3d(X, &o, 433.5 + 1000, 617.25);
  EXPECT_NEAR(X[0], 0.1, 1e-16);
  EXPECT_EQ(X[1], 0.0);
  EXPECT_EQ(X[2], -0.1);
  EXPECT_NEAR(Angle_3d(X), kPi / 4, 1e-15);
  EXPECT_EQ(Azimuth_3d(X), 0.0);
  EXPECT_NEAR(DiffAngle(&o, 0.8, 433.5 + 1000, 617.25), 0.8 - kPi / 4, 1e-15);
}

TEST(Model, AzimuthRunsFromAxis1TowardsAxis2)
{
  const double X1[3] = {0, 0.25, -1};
  const double X2[3] = {-0.5, -0.5, -1};
  const double X3[3] = {-0.5, 0.0, -1};
  EXPECT_DOUBLE_EQ(Azimuth_3d(X1), kPi / 2);
  EXPECT_DOUBLE_EQ(Azimuth_3d(X2), -3 * kPi / 4);
  EXPECT_DOUBLE_EQ(Azimuth_3d(X3), kPi);
}

TEST(Model, DetectorTurnedPastNinetyDegreesGivesAngleAboveHalfPi)
{
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.2, 0, 2.2, 0};
  const VaboOrdered o = make_ordered(par, VaboParamDefault);
  double X[3];
  X_vector_3d(X, &o, 500, 500);
  EXPECT_GT(X[2], 0.0);
  EXPECT_GT(Angle_3d(X), kPi / 2);
  EXPECT_NEAR(Angle_3d(X), 2.2, 1e-15);
}

TEST(Model, Rot1MovesThePoniTowardsAxis2)
{
  const double dis = 0.1375;
  const double par[NParams] = {1e-4, 1e-4, 321.5, 654.75, dis, 0.1, 0, 0};
  const VaboOrdered o = make_ordered(par, VaboParamDefault);
  double X[3];
  X_vector_3d(X, &o, 321.5, 654.75);
  EXPECT_EQ(X[0], 0.0);
  EXPECT_NEAR(X[1], dis * std::sin(0.1), 1e-17);
  EXPECT_NEAR(X[2], -dis * std::cos(0.1), 1e-17);
  EXPECT_NEAR(Angle_3d(X), 0.1, 1e-15);
}

TEST(Model, AngleDoesNotDependOnRot3)
{
  std::mt19937_64 rng(5);
  for (int n = 0; n < 100; ++n) {
    Geometry g = random_geometry(rng);
    const VaboOrdered o = make_ordered(g.par, nullptr);
    double X[3], DX[3 * NParams];
    X_vector_3d(X, &o, g.i1, g.i2);
    DX_matrix_3d(DX, &o, g.i1, g.i2);
    EXPECT_NEAR(DAngle_3d(X, DX, o.Index[Rot3]), 0.0, 1e-12);
    g.par[Rot3] += 1.2345;
    const VaboOrdered turned = make_ordered(g.par, nullptr);
    double Xt[3];
    X_vector_3d(Xt, &turned, g.i1, g.i2);
    EXPECT_NEAR(Angle_3d(Xt), Angle_3d(X), 1e-14);
  }
}

TEST(Model, ShowtempPrintsTheParametersOfTheDerivativeMatrix)
{
  const double par[NParams] = {5e-05, 7.5e-05, 512.5, 488.25,
                               0.115, -0.25,   0.125, 0};
  const VaboOrdered o = make_ordered(par, VaboParamDefault);
  DebugGuard guard(VABO_SHOWTEMP);
  const std::string text =
      capture(stdout, [&] { DX_matrix_3d(nullptr, &o, 600, 400); });
  EXPECT_EQ(text,
            "pix1=5e-05, pix2=7.5e-05, cen1=512.5, cen2=488.25, dis=0.115, "
            "rot1=-0.25, rot2=0.125, rot3=0\n"
            "IPix1=5, IPix2=6, ICen1=0, ICen2=1, IDis=2, IRot1=3, IRot2=4, "
            "IRot3=7\n");
}

TEST(Model, ShowtempPrintsNormalRotationAndX)
{
  const double par[NParams] = {0.5, 0.25, 10, 4, 2, 0, 0, 0};
  const VaboOrdered o = make_ordered(par, VaboParamDefault);
  DebugGuard guard(VABO_SHOWTEMP);
  const std::string text =
      capture(stdout, [&] { DiffAngle(&o, 0.5, 12.5, 7.25); });
  const std::string normal = "           Num Normal (i1=12.5, i2=7.25)\n"
                             "             0           1.25\n"
                             "             1         0.8125\n"
                             "             2             -2\n"
                             "\n";
  const std::string x_block = "           Num              X\n"
                              "             0           1.25\n"
                              "             1         0.8125\n"
                              "             2             -2\n"
                              "\n";
  ASSERT_GE(text.size(), normal.size() + x_block.size());
  EXPECT_EQ(text.substr(0, normal.size()), normal);
  const std::string r_header = "             R \n";
  EXPECT_EQ(text.substr(normal.size(), r_header.size()), r_header);
  EXPECT_EQ(text.substr(text.size() - x_block.size()), x_block);
}

/* ---------------------------------------------------------------------
 * The model over many points against the model point by point
 * ------------------------------------------------------------------- */

uint64_t bits(double value)
{
  uint64_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

/* get_VaboB and get_VaboA compute the geometry once for all points while
 * the vabo and showtemp switches are off; DiffAngle, X_vector_3d,
 * DX_matrix_3d and DAngle_3d compute everything for each point.  Both must
 * give the same bits for every refine selection, on random geometries and
 * on one with the point of normal incidence on the beam axis (the other
 * branch of DAngle_3d).  150 points leave a partial block at the end. */
TEST(Model, ManyPointsGiveTheBitsOfThePointByPointModel)
{
  std::mt19937_64 rng(20131209);
  std::uniform_real_distribution<double> pixel(-100, 2100), angle(0.05, 1.2);
  for (int g = 0; g < 5; ++g) {
    Geometry geometry = random_geometry(rng);
    if (g == 0)
      for (int p = Rot1; p <= Rot3; ++p) geometry.par[p] = 0.0;
    const size_t n = 150;
    std::vector<double> tth(n), i1(n), i2(n);
    for (size_t i = 0; i < n; ++i) {
      tth[i] = angle(rng);
      i1[i] = i == 7 ? geometry.par[Cen1] : pixel(rng);
      i2[i] = i == 7 ? geometry.par[Cen2] : pixel(rng);
    }
    for (int selection = 0; selection < (1 << NParams); ++selection) {
      int modes[NParams];
      for (int p = 0; p < NParams; ++p) modes[p] = (selection >> p) & 1;
      const VaboOrdered o = make_ordered(geometry.par, modes);
      std::vector<double> B(n), A(n * o.nopt);
      get_VaboB(n, B.data(), &o, tth.data(), i1.data(), i2.data());
      ASSERT_EQ(get_VaboA(n, A.data(), &o, tth.data(), i1.data(), i2.data()),
                static_cast<int>(o.nopt));
      int wrong = 0;
      for (size_t i = 0; i < n && wrong < 5; ++i) {
        double X[3], DX[3 * NParams] = {};
        X_vector_3d(X, &o, i1[i], i2[i]);
        DX_matrix_3d(DX, &o, i1[i], i2[i]);
        if (bits(B[i]) != bits(DiffAngle(&o, tth[i], i1[i], i2[i]))) ++wrong;
        EXPECT_EQ(bits(B[i]), bits(DiffAngle(&o, tth[i], i1[i], i2[i])))
            << "geometry " << g << " selection " << selection << " point " << i;
        for (size_t j = 0; j < o.nopt; ++j) {
          const double expected = DAngle_3d(X, DX, static_cast<int>(j));
          if (bits(A[i + n * j]) != bits(expected)) ++wrong;
          EXPECT_EQ(bits(A[i + n * j]), bits(expected))
              << "geometry " << g << " selection " << selection << " point "
              << i << " column " << j;
        }
      }
      ASSERT_EQ(wrong, 0);
    }
  }
}

} // namespace
