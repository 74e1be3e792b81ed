/*
 * Tests of the tilt module: decomposition of known matrices, the tolerance
 * bands around tilt 0 and pi, the messages of every failure (compared byte
 * for byte on standard error), and round trips through tilt3d_matrix for
 * many random tilt vectors.
 */
#include "tilt3d.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace {

using vabo_test::capture;
using vabo_test::copy;
using vabo_test::kPi;
using vabo_test::Mat3;
using vabo_test::multiply;
using vabo_test::rot_y;
using vabo_test::rot_z;

/* The matrix of a tilt vector built from its factors
 * Rz(T0) Ry(-T1) Rz(-T0 - T2), independently of the closed form. */
void tilt_by_factors(const double T[3], Mat3 R)
{
  Mat3 a, b, c, ab;
  rot_z(T[0], a);
  rot_y(-T[1], b);
  rot_z(-T[0] - T[2], c);
  multiply(a, b, ab);
  multiply(ab, c, R);
}

double max_difference(const Mat3 A, const Mat3 B)
{
  double d = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) d = std::fmax(d, std::fabs(A[i][j] - B[i][j]));
  return d;
}

/* Difference of two angles, taken modulo 2 pi into [-pi, pi]. */
double angle_difference(double a, double b)
{
  return std::remainder(a - b, 2.0 * kPi);
}

TEST(Tilt3d, ConstantsAndVersion)
{
  EXPECT_EQ(tilt3d_eps, 1e-08);
  EXPECT_EQ(tilt3d_pi, 3.141592653589793);
  EXPECT_STREQ(tilt3d_version(), "tilt3d : Kelvardo V1.11 2011-06-16");
}

TEST(Tilt3d, DeterminantExpandsAlongTheFirstRow)
{
  const Mat3 A = {
      {2.385, -0.731, 1.094}, {0.417, 3.256, -2.118}, {-1.702, 0.883, 0.529}};
  /* Rule of Sarrus. */
  const double sarrus =
      A[0][0] * A[1][1] * A[2][2] + A[0][1] * A[1][2] * A[2][0] +
      A[0][2] * A[1][0] * A[2][1] - A[0][2] * A[1][1] * A[2][0] -
      A[0][0] * A[1][2] * A[2][1] - A[0][1] * A[1][0] * A[2][2];
  EXPECT_NEAR(tilt3d_determinante(A), sarrus, 1e-13);
}

TEST(Tilt3d, ScaleAndTransposeWorkInPlace)
{
  Mat3 A = {{1.5, 2.25, -3.125}, {0.5, -7.75, 4.0}, {9.5, 0.25, 6.0}};
  ASSERT_EQ(tilt3d_mat_scale(A, -2.0), 0);
  EXPECT_EQ(A[0][2], 6.25);
  EXPECT_EQ(A[1][1], 15.5);
  ASSERT_EQ(tilt3d_mat_transpose(A), 0);
  EXPECT_EQ(A[2][0], 6.25);
  EXPECT_EQ(A[0][2], -19.0);
  EXPECT_EQ(A[1][0], -4.5);
  EXPECT_EQ(A[0][1], -1.0);
  EXPECT_EQ(A[1][1], 15.5);
}

/* The identity, also scaled (normalised in place), gives the neutral
 * vector (-pi/2, 0, 0). */
TEST(Tilt3d, IdentityGivesTheNeutralVector)
{
  for (double scale : {1.0, 2.0}) {
    Mat3 R = {{scale, 0, 0}, {0, scale, 0}, {0, 0, scale}};
    double T[3] = {9, 9, 9};
    ASSERT_EQ(tilt3d_angles(T, R), 0) << scale;
    EXPECT_DOUBLE_EQ(T[0], -kPi / 2);
    EXPECT_EQ(T[1], 0.0);
    EXPECT_EQ(T[2], 0.0);
    EXPECT_DOUBLE_EQ(R[0][0], 1.0);
    EXPECT_DOUBLE_EQ(R[2][2], 1.0);
  }
}

TEST(Tilt3d, TurnAboutZGivesMinusTheTurnAsThirdAngle)
{
  for (double phi : {0.4172, -1.3859, 2.9177, -3.1, kPi}) {
    Mat3 R;
    rot_z(phi, R);
    double T[3];
    ASSERT_EQ(tilt3d_angles(T, R), 0) << "phi = " << phi;
    EXPECT_DOUBLE_EQ(T[0], -kPi / 2);
    EXPECT_EQ(T[1], 0.0);
    EXPECT_NEAR(angle_difference(T[2], -phi), 0.0, 1e-15) << "phi = " << phi;
    EXPECT_GT(T[2], -kPi);
    EXPECT_LE(T[2], kPi);
  }
}

TEST(Tilt3d, ScaledRotationGivesTheAnglesOfTheRotation)
{
  const double T0[3] = {0.6183, 1.2741, -2.0417};
  Mat3 R;
  ASSERT_EQ(tilt3d_matrix(T0, R), 0);
  tilt3d_mat_scale(R, 3.75);
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(T[k], T0[k], 1e-13) << k;
}

/* Matrices that are no rotation: status -1 and the message on standard
 * error.  A determinant failure leaves the vector untouched, a rotation
 * failure gives the neutral vector. */
TEST(Tilt3d, MatricesThatAreNoRotationAreRejectedWithTheirMessage)
{
  const double nan = std::nan("");
  const double untouched[3] = {0.25, 0.5, 0.75};
  const double neutral[3] = {-kPi / 2, 0, 0};
  const struct {
    const char *name;
    Mat3 R;
    const char *message;
    const double *T;
  } cases[] = {
      {"mirror",
       {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
       "ERROR: tilt3d_angles: Det(R) = -1 is not positive\n",
       untouched},
      {"singular",
       {{1, 2, 3}, {2, 4, 6}, {0.5, 0.25, 1}},
       "ERROR: tilt3d_angles: Det(R) = 0 is not positive\n",
       untouched},
      {"tiny",
       {{1e-3, 0, 0}, {0, 1e-3, 0}, {0, 0, 1e-3}},
       "ERROR: tilt3d_angles: Det(R) = 1e-09 is not positive\n",
       untouched},
      {"shear",
       {{1, 0.5, 0}, {0, 1, 0}, {0, 0, 1}},
       "ERROR: tilt3d_angles: R is not a rotation matrix\n",
       neutral},
      {"not a number",
       {{1, 0, 0}, {0, nan, 0}, {0, 0, 1}},
       "ERROR: tilt3d_angles: R is not a rotation matrix\n",
       neutral},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Mat3 R;
    copy(c.R, R);
    double T[3] = {0.25, 0.5, 0.75};
    int status = 0;
    const std::string err =
        capture(stderr, [&] { status = tilt3d_angles(T, R); });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(err, c.message);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(T[k], c.T[k]) << k;
  }
}

/* The rotation test looks at the determinant and the row lengths only. */
TEST(Tilt3d, RotationTestChecksDeterminantAndRowLengthsOnly)
{
  const double s = std::sqrt(0.5);
  const struct {
    const char *name;
    Mat3 R;
    int result;
  } cases[] = {
      {"identity", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 0},
      /* Determinant 1, but rows of length 2 and 0.5. */
      {"long row", {{2, 0, 0}, {0, 0.5, 0}, {0, 0, 1}}, 1},
      {"turned", {{s, -s, 0}, {s, s, 0}, {0, 0, 1}}, 0},
      {"off", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1 + 2e-8}}, 1},
      {"within", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1 + 4e-9}}, 0},
      {"not a number", {{1, 0, 0}, {0, std::nan(""), 0}, {0, 0, 1}}, 1},
  };
  for (const auto &c : cases)
    EXPECT_EQ(tilt3d_isnottilt(c.R), c.result) << c.name;
}

TEST(Tilt3d, NullArgumentsPrintTheirMessages)
{
  Mat3 R = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double T[3] = {0, 0, 0};
  struct Case {
    const char *message;
    std::function<double()> call;
    double result;
  };
  const Case cases[] = {
      {"ERROR: tilt3d_determinante: NULL pointer\n",
       [] { return tilt3d_determinante(nullptr); }, 0.0},
      {"ERROR: tilt3d_mat_scale: NULL pointer\n",
       [] { return double(tilt3d_mat_scale(nullptr, 2.5)); }, -1.0},
      {"ERROR:  tilt3d_isnottilt: NULL pointer\n",
       [] { return double(tilt3d_isnottilt(nullptr)); }, -1.0},
      {"ERROR: tilt3d_matrix: NULL pointer\n",
       [&] { return double(tilt3d_matrix(nullptr, R)); }, -1.0},
      {"ERROR: tilt3d_matrix: NULL pointer\n",
       [&] { return double(tilt3d_matrix(T, nullptr)); }, -1.0},
      {"ERROR: tilt3d_matrix: NULL pointer\n",
       [&] { return double(tilt3d_inverse_matrix(T, nullptr)); }, -1.0},
      {"ERROR: tilt3d_angles: NULL pointer\n",
       [&] { return double(tilt3d_angles(nullptr, R)); }, -1.0},
      {"ERROR: tilt3d_angles: NULL pointer\n",
       [&] { return double(tilt3d_angles(T, nullptr)); }, -1.0},
      {"ERROR: tilt3d_mat_transpose: NULL pointer\n",
       [] { return double(tilt3d_mat_transpose(nullptr)); }, -1.0},
  };
  for (const auto &c : cases) {
    double result = 99;
    const std::string err = capture(stderr, [&] { result = c.call(); });
    EXPECT_EQ(err, c.message);
    EXPECT_EQ(result, c.result) << c.message;
  }
}

TEST(Tilt3d, MatrixAgreesWithItsFactors)
{
  const double vectors[][3] = {{0.3, 0.7, -1.1},
                               {-2.4, 2.9, 0.05},
                               {3.0, 0.0001, 2.2},
                               {1.234, 1.5707963267948966, -0.333}};
  for (const auto &T : vectors) {
    Mat3 R, F;
    ASSERT_EQ(tilt3d_matrix(T, R), 0);
    tilt_by_factors(T, F);
    EXPECT_LT(max_difference(R, F), 1e-15);
  }
}

TEST(Tilt3d, ZAxisGoesToTheTiltedDirection)
{
  const double T[3] = {0.8123, 0.4567, -1.9};
  Mat3 R;
  tilt3d_matrix(T, R);
  /* Image of (0, 0, 1) is the third column. */
  EXPECT_NEAR(R[0][2], -std::cos(T[0]) * std::sin(T[1]), 1e-15);
  EXPECT_NEAR(R[1][2], -std::sin(T[0]) * std::sin(T[1]), 1e-15);
  EXPECT_NEAR(R[2][2], std::cos(T[1]), 1e-15);
}

TEST(Tilt3d, SmallTiltWithNegativeSecondRowTurnsTheDirectionByPi)
{
  const double T0[3] = {0.3, 1e-5, 0.2};
  Mat3 R;
  ASSERT_EQ(tilt3d_matrix(T0, R), 0);
  ASSERT_LT(R[1][2], 0.0);
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  EXPECT_DOUBLE_EQ(T[0], kPi / 2);
  /* The tilt seen in the second row only: asin(sin 0.3 * sin 1e-5). */
  EXPECT_GT(T[1], 0.0);
  EXPECT_NEAR(T[1], std::sin(0.3) * 1e-5, 1e-12);
}

TEST(Tilt3d, SmallTiltKeepsTheTurnAboutZ)
{
  /* The direction of a tilt below the band is given up, but not the turn
   * about z, which dominates the matrix: taking the turn from the third
   * row with the forced direction was off by the direction itself. */
  const double cases[][3] = {
      {0.3, 1e-5, 0.2}, {-1.9, 7e-5, -2.6}, {2.8, 2e-6, 0.05}};
  for (const auto &T0 : cases) {
    Mat3 R;
    tilt3d_matrix(T0, R);
    double T[3];
    ASSERT_EQ(tilt3d_angles(T, R), 0);
    EXPECT_NEAR(angle_difference(T[2], T0[2]), 0.0, 1e-9) << T0[0];
  }
  const double near_pi[3] = {0.3, kPi - 1e-5, 0.2};
  Mat3 R, R0;
  tilt3d_matrix(near_pi, R);
  copy(R, R0);
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  /* Near pi only 2 T0 + T2 is defined by the first two rows. */
  EXPECT_NEAR(angle_difference(2 * T[0] + T[2], 2 * near_pi[0] + near_pi[2]),
              0.0, 1e-9);
}

struct BandCase {
  double T[3];
  double tilt0; /* expected first angle */
};

TEST(Tilt3d, InTheSmallTiltBandTheDirectionIsPlusOrMinusHalfPi)
{
  const BandCase cases[] = {
      /* R[1][2] = -sin T0 sin T1: negative for T0 in (0, pi), which turns
       * the direction from -pi/2 to pi/2. */
      {{0.3, 1e-5, 0.2}, kPi / 2},   {{2.1, 3e-5, -0.9}, kPi / 2},
      {{-2.7, 1e-5, 1.4}, -kPi / 2}, {{-0.6, 4e-6, 2.5}, -kPi / 2},
      {{1.1, 0.0, 0.7}, -kPi / 2},
  };
  for (const auto &c : cases) {
    Mat3 R, R0;
    tilt3d_matrix(c.T, R);
    copy(R, R0);
    double T[3];
    ASSERT_EQ(tilt3d_angles(T, R), 0);
    EXPECT_DOUBLE_EQ(T[0], c.tilt0) << c.T[0];
    EXPECT_GE(T[1], 0.0);
    EXPECT_LT(T[1], 1.5e-4);
    /* The angles describe the matrix up to the tilt component that the
     * band gives up. */
    Mat3 back;
    tilt3d_matrix(T, back);
    EXPECT_LT(max_difference(back, R0), 2 * c.T[1] + 1e-15) << c.T[0];
  }
}

TEST(Tilt3d, NearPiTheTiltStaysInRangeAndDescribesTheMatrix)
{
  const double vectors[][3] = {{0.3, kPi - 1e-5, 0.2},
                               {-2.2, kPi - 4e-6, -1.3},
                               {1.7, kPi, 2.9},
                               {-0.9, kPi - 3e-5, 0.0}};
  for (const auto &T0 : vectors) {
    Mat3 R, R0;
    tilt3d_matrix(T0, R);
    copy(R, R0);
    double T[3];
    ASSERT_EQ(tilt3d_angles(T, R), 0);
    EXPECT_LE(T[1], kPi);
    EXPECT_GT(T[1], kPi - 1.5e-4);
    Mat3 back;
    tilt3d_matrix(T, back);
    EXPECT_LT(max_difference(back, R0), 2 * (kPi - T0[1]) + 1e-12) << T0[0];
  }
}

TEST(Tilt3d, HalfTurnAboutXHasTiltPi)
{
  Mat3 R = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  EXPECT_EQ(T[1], tilt3d_pi);
  Mat3 back;
  tilt3d_matrix(T, back);
  const Mat3 expected = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  EXPECT_LT(max_difference(back, expected), 1e-15);
}

TEST(Tilt3d, ExactTiltPiGivesSecondAnglePi)
{
  const double T0[3] = {0.7345, kPi, 0.2113};
  Mat3 R;
  tilt3d_matrix(T0, R);
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  EXPECT_EQ(T[1], tilt3d_pi);
}

TEST(Tilt3d, RandomVectorsOutsideTheBandsComeBack)
{
  std::mt19937_64 rng(20110616);
  std::uniform_real_distribution<double> turn(-kPi, kPi);
  std::uniform_real_distribution<double> tilt(1e-3, kPi - 1e-3);
  for (int n = 0; n < 2000; ++n) {
    const double T0[3] = {turn(rng), tilt(rng), turn(rng)};
    Mat3 R, R0;
    ASSERT_EQ(tilt3d_matrix(T0, R), 0);
    copy(R, R0);
    double T[3];
    ASSERT_EQ(tilt3d_angles(T, R), 0);
    EXPECT_GT(T[0], -kPi);
    EXPECT_LE(T[0], kPi);
    EXPECT_GT(T[2], -kPi);
    EXPECT_LE(T[2], kPi);
    EXPECT_NEAR(angle_difference(T[0], T0[0]), 0.0, 1e-11) << n;
    EXPECT_NEAR(T[1], T0[1], 1e-11) << n;
    EXPECT_NEAR(angle_difference(T[2], T0[2]), 0.0, 1e-11) << n;
    Mat3 back;
    tilt3d_matrix(T, back);
    EXPECT_LT(max_difference(back, R0), 1e-13) << n;
  }
}

TEST(Tilt3d, NegativeTiltIsFoldedIntoTheRange)
{
  const double T0[3] = {0.9182, -0.7311, 1.4402};
  Mat3 R, R0;
  tilt3d_matrix(T0, R);
  copy(R, R0);
  double T[3];
  ASSERT_EQ(tilt3d_angles(T, R), 0);
  EXPECT_NEAR(T[1], 0.7311, 1e-14);
  EXPECT_NEAR(angle_difference(T[0], T0[0] + kPi), 0.0, 1e-14);
  Mat3 back;
  tilt3d_matrix(T, back);
  EXPECT_LT(max_difference(back, R0), 1e-15);
}

TEST(Tilt3d, InverseMatrixTimesMatrixIsIdentity)
{
  const double T[3] = {-1.2345, 0.6789, 2.468};
  Mat3 R, Rinv, P;
  ASSERT_EQ(tilt3d_matrix(T, R), 0);
  ASSERT_EQ(tilt3d_inverse_matrix(T, Rinv), 0);
  multiply(R, Rinv, P);
  const Mat3 identity = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  EXPECT_LT(max_difference(P, identity), 1e-15);
  multiply(Rinv, R, P);
  EXPECT_LT(max_difference(P, identity), 1e-15);
}

} // namespace
