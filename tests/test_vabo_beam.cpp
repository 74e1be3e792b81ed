/*
 * Tests of the beam parameters: beam centre and distance against an
 * independent intersection of the beam with the detector plane, the pixel
 * of a direction as the inverse of the model, the tilt angles, and the
 * BeamPar text with its "-" fields and its bounded buffer.
 */
#include "tilt3d.h"
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

using vabo_test::capture;
using vabo_test::DebugGuard;
using vabo_test::detector_rotation;
using vabo_test::format;
using vabo_test::kPi;
using vabo_test::Mat3;

std::string field(double value) { return format("%12lg ", value); }

const std::string kMissing = "           - ";

/* Where the primary beam (along -axis 3) meets the detector plane:
 * centre in pixels and distance from the sample. */
void beam_by_intersection(const double *par, double centre[2], double *distance)
{
  Mat3 M;
  detector_rotation(par[Rot1], par[Rot2], par[Rot3], M);
  /* Plane through P = M (0, 0, -dis) with normal n = M (0, 0, 1). */
  const double P[3] = {-par[Dis] * M[0][2], -par[Dis] * M[1][2],
                       -par[Dis] * M[2][2]};
  const double n[3] = {M[0][2], M[1][2], M[2][2]};
  const double t = (n[0] * P[0] + n[1] * P[1] + n[2] * P[2]) / -n[2];
  const double Y[3] = {0, 0, -t};
  /* Back into the detector frame with the transpose. */
  const double u = M[0][0] * Y[0] + M[1][0] * Y[1] + M[2][0] * Y[2];
  const double v = M[0][1] * Y[0] + M[1][1] * Y[1] + M[2][1] * Y[2];
  centre[0] = par[Cen1] + u / par[Pix1];
  centre[1] = par[Cen2] + v / par[Pix2];
  *distance = t;
}

VaboOrdered all_refined(const double *par)
{
  VaboOrdered o;
  order_Par(&o, par, nullptr);
  return o;
}

TEST(Beam, ZeroRotationsGiveThePoniAndItsDistance)
{
  const double par[NParams] = {6.25e-5, 8.5e-5, 731.375, 402.8125,
                               0.2385,  0,      0,       0};
  double I[2] = {-1, -1};
  ASSERT_EQ(VaboBeamCenter(I, par), 0);
  EXPECT_EQ(I[0], 731.375);
  EXPECT_EQ(I[1], 402.8125);
  double distance = -1;
  ASSERT_EQ(VaboBeamDistance(&distance, par), 0);
  EXPECT_EQ(distance, 0.2385);
  EXPECT_EQ(VaboBeamDistance(nullptr, par), 0);
}

TEST(Beam, Rot1ShiftsTheCentreAlongAxis2)
{
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0.1, 0, 0};
  double I[2];
  ASSERT_EQ(VaboBeamCenter(I, par), 0);
  char text[64];
  snprintf(text, sizeof text, "%lg %lg", I[0], I[1]);
  EXPECT_STREQ(text, "500 399.665");
  EXPECT_NEAR(I[1], 500 - 1000 * std::tan(0.1), 1e-10);
  double distance;
  ASSERT_EQ(VaboBeamDistance(&distance, par), 0);
  snprintf(text, sizeof text, "%lg", distance);
  EXPECT_STREQ(text, "0.100502");
  EXPECT_NEAR(distance, 0.1 / std::cos(0.1), 1e-12);
}

TEST(Beam, CentreAndDistanceMatchTheIntersectionWithTheDetector)
{
  std::mt19937_64 rng(8080);
  std::uniform_real_distribution<double> pix(3e-5, 2e-4), cen(100, 1900),
      dis(0.05, 0.6), tilt(-0.6, 0.6), turn(-3.1, 3.1);
  for (int n = 0; n < 200; ++n) {
    const double par[NParams] = {pix(rng), pix(rng),  cen(rng),  cen(rng),
                                 dis(rng), tilt(rng), tilt(rng), turn(rng)};
    double expected[2], expected_distance;
    beam_by_intersection(par, expected, &expected_distance);
    double I[2], distance;
    ASSERT_EQ(VaboBeamCenter(I, par), 0);
    ASSERT_EQ(VaboBeamDistance(&distance, par), 0);
    EXPECT_NEAR(I[0], expected[0], 1e-9) << n;
    EXPECT_NEAR(I[1], expected[1], 1e-9) << n;
    EXPECT_NEAR(distance, expected_distance, 1e-13) << n;
  }
}

TEST(Beam, PixelOfADirectionInvertsTheModel)
{
  std::mt19937_64 rng(4711);
  std::uniform_real_distribution<double> pix(3e-5, 2e-4), cen(100, 1900),
      dis(0.05, 0.6), tilt(-0.6, 0.6), turn(-3.1, 3.1), pixel(0, 2048),
      scale(0.1, 30.0);
  for (int n = 0; n < 500; ++n) {
    const double par[NParams] = {pix(rng), pix(rng),  cen(rng),  cen(rng),
                                 dis(rng), tilt(rng), tilt(rng), turn(rng)};
    const double i1 = pixel(rng), i2 = pixel(rng);
    const VaboOrdered o = all_refined(par);
    double X[3];
    X_vector_3d(X, &o, i1, i2);
    /* Any multiple of the vector, also one pointing away from the
     * detector, lies on the same line through the pixel. */
    const double lambda = (n % 2 ? 1 : -1) * scale(rng);
    const double Y[3] = {lambda * X[0], lambda * X[1], lambda * X[2]};
    double I[2];
    ASSERT_EQ(Vabo2Image_X3(I, Y, par), 0);
    EXPECT_NEAR(I[0], i1, 1e-8) << n;
    EXPECT_NEAR(I[1], i2, 1e-8) << n;
  }
}

TEST(Beam, DirectionInTheDetectorPlaneHasNoPixel)
{
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0, 0, 0};
  const double along[3] = {0.3, -0.7, 0.0};
  double I[2] = {12.5, 34.5};
  EXPECT_EQ(Vabo2Image_X3(I, along, par), -1);
  EXPECT_EQ(I[0], 12.5);
  EXPECT_EQ(I[1], 34.5);

  const double no_pix2[NParams] = {1e-4, 0, 500, 500, 0.1, 0, 0, 0};
  const double beam[3] = {0, 0, -1};
  EXPECT_EQ(Vabo2Image_X3(I, beam, no_pix2), -1);
  EXPECT_EQ(VaboBeamCenter(I, no_pix2), -1);
  double distance = 77.0;
  EXPECT_EQ(VaboBeamDistance(&distance, no_pix2), -1);
  EXPECT_EQ(distance, 77.0);
  EXPECT_EQ(I[0], 12.5);
}

TEST(Beam, TiltOfTheDetectorRotation)
{
  const double flat[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0, 0, 0};
  double tilt[3];
  ASSERT_EQ(VaboTilt(tilt, flat), 0);
  EXPECT_DOUBLE_EQ(tilt[0], -kPi / 2);
  EXPECT_EQ(tilt[1], 0.0);
  EXPECT_EQ(tilt[2], 0.0);

  /* The tilt proper is the angle between axis 3 and the detector normal. */
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0.23, -0.41, 1.7};
  ASSERT_EQ(VaboTilt(tilt, par), 0);
  EXPECT_NEAR(tilt[1], std::acos(std::cos(0.23) * std::cos(-0.41)), 1e-14);
  /* The angles describe the array that the model fills. */
  double R[3][3], T[3][3];
  rotation_matrix_3d(R, 0.23, -0.41, 1.7);
  tilt3d_matrix(tilt, T);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(T[i][j], R[i][j], 1e-14);
}

TEST(Beam, TextOfAGeneralGeometry)
{
  const double par[NParams] = {7.5e-5, 5.5e-5, 1024.5,  987.25,
                               0.2375, 0.0873, -0.1517, 0.4321};
  double centre[2], distance;
  beam_by_intersection(par, centre, &distance);
  /* Tilt angles from the third column and row of the transposed rotation:
   * the z axis goes to (-cos T0 sin T1, -sin T0 sin T1, cos T1). */
  Mat3 M;
  detector_rotation(par[Rot1], par[Rot2], par[Rot3], M);
  const double T1 = std::acos(M[2][2]);
  const double T0 = std::atan2(-M[2][1], -M[2][0]);
  double T2 = std::atan2(M[0][2], -M[1][2]) - (T0 + kPi / 2);
  T2 = std::remainder(T2, 2 * kPi);
  const std::string expected =
      field(par[Pix1]) + field(par[Pix2]) + field(centre[0]) +
      field(centre[1]) + field(distance) + field(T0) + field(T1) + field(T2);
  char buffer[1024];
  EXPECT_EQ(sprint_beam_parameters(buffer, sizeof buffer, par), buffer);
  EXPECT_EQ(std::string(buffer), expected);
}

TEST(Beam, ZeroPixelSizeLeavesCentreAndDistanceOut)
{
  const double par[NParams] = {0, 1e-4, 500, 500, 0.1, 0.1, 0, 0};
  char buffer[1024];
  sprint_beam_parameters(buffer, sizeof buffer, par);
  const std::string expected = field(0) + field(1e-4) + kMissing + kMissing +
                               kMissing + field(-kPi / 2) + field(0.1) +
                               field(0);
  EXPECT_EQ(std::string(buffer), expected);
}

TEST(Beam, RotationThatIsNotANumberLeavesOnlyThePixelSizes)
{
  const double par[NParams] = {6e-5, 7e-5, 500, 500, 0.1, std::nan(""), 0, 0};
  char buffer[1024];
  const std::string err = capture(
      stderr, [&] { sprint_beam_parameters(buffer, sizeof buffer, par); });
  EXPECT_EQ(std::string(buffer), field(6e-5) + field(7e-5) + kMissing +
                                     kMissing + kMissing + kMissing + kMissing +
                                     kMissing);
  EXPECT_EQ(err, "ERROR: tilt3d_angles: R is not a rotation matrix\n");
}

TEST(Beam, TextNeverPassesTheBufferSize)
{
  const double par[NParams] = {7.5e-5, 5.5e-5, 1024.5,  987.25,
                               0.2375, 0.0873, -0.1517, 0.4321};
  char full[1024];
  sprint_beam_parameters(full, sizeof full, par);
  const size_t length = strlen(full);
  ASSERT_EQ(length, 8u * 13u);
  for (size_t bufsiz : {1u, 2u, 12u, 13u, 14u, 50u, 104u, 105u, 106u}) {
    char buffer[128];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(sprint_beam_parameters(buffer, bufsiz, par), buffer);
    const size_t kept = std::min(length, bufsiz - 1);
    EXPECT_EQ(std::string(buffer), std::string(full, kept)) << bufsiz;
    for (size_t k = bufsiz; k < sizeof buffer; ++k)
      ASSERT_EQ(buffer[k], '#') << bufsiz << " at " << k;
  }
  char untouched = '#';
  EXPECT_EQ(sprint_beam_parameters(&untouched, 0, par), &untouched);
  EXPECT_EQ(untouched, '#');
}

TEST(Beam, ShowtempPrintsCentreAndDistance)
{
  const double par[NParams] = {1e-4, 1e-4, 500, 500, 0.1, 0.1, 0, 0};
  DebugGuard guard(VABO_SHOWTEMP);
  const std::string text =
      capture(stdout, [&] { VaboBeamDistance(nullptr, par); });
  EXPECT_EQ(text.rfind("BeamCenter=(500,399.665)\n", 0), 0u) << text;
  const std::string last = "BeamDistance=0.100502\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

} // namespace
