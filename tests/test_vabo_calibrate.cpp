/*
 * test_vabo_calibrate.cpp -- the loop of picking and refining on synthetic
 * images rendered with the independent model of test_support.h: it
 * recovers the true geometry from a start a few pixels off, and ends as a
 * failure, never with a converged-looking geometry, on an image without
 * rings and from a start that puts the rings in the wrong places.
 */
#include "ring_image.h"
#include "vabo_calibrate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using vabo_test::Params;
using vabo_test::ring_distance;
using vabo_test::ring_image;
using vabo_test::RingImageSpec;

const Params kTrue = {100e-6, 98.7e-6, 203.4,   187.8,
                      0.0512, 0.0213,  -0.0157, 0};

RingImageSpec spec(double height)
{
  RingImageSpec s;
  s.rows = 420;
  s.columns = 380;
  s.rings = {0.1237, 0.2011, 0.2658, 0.3342, 0.3921};
  s.width = 1.3 * 100e-6 / 0.0512; /* about 1.3 pixels */
  s.height = height;
  s.background = 100.0;
  s.seed = 2024;
  return s;
}

std::vector<VaboPickRing> rings_of(const RingImageSpec &s)
{
  std::vector<VaboPickRing> rings;
  for (size_t k = 0; k < s.rings.size(); ++k)
    rings.push_back({s.rings[k], static_cast<int>(k) + 1, 0.0});
  return rings;
}

/* Largest distance (pixels) between the rings of par and the true rings,
 * over 360 azimuths of every ring on the image. */
double displacement(const Params &par, const RingImageSpec &s)
{
  double worst = 0.0;
  for (double ring : s.rings)
    for (int a = 0; a < 360; ++a) {
      double i1, i2;
      if (!vabo_ring_pixel(par.data(), ring, a * 3.14159265 / 180 - 3.1415, &i1,
                           &i2))
        continue;
      if (i1 < 0 || i2 < 0 || i1 > 419 || i2 > 379) continue;
      worst = std::max(worst, std::fabs(ring_distance(kTrue, ring, i1, i2)));
    }
  return worst;
}

VaboCalibrateResult calibrate(const RingImageSpec &s, const Params &start)
{
  const VaboImage image = ring_image(kTrue, s);
  const std::vector<VaboPickRing> rings = rings_of(s);
  VaboCalibrateResult result;
  vabo_calibrate(image, start.data(), rings.data(), rings.size(),
                 VaboCalibrateOptions{}, result);
  return result;
}

TEST(Calibrate, RecoversTheGeometryFromAStartAFewPixelsOff)
{
  const RingImageSpec s = spec(400.0);
  Params start = kTrue;
  start[Cen1] += 3.7;
  start[Cen2] -= 2.9;
  start[Dis] *= 1.013;
  start[Rot1] += 0.006;
  start[Rot2] -= 0.004;
  const VaboCalibrateResult result = calibrate(s, start);
  ASSERT_EQ(result.status, VaboCalibrateOk) << result.reason;
  Params par;
  std::copy(result.Par, result.Par + NParams, par.begin());
  EXPECT_LT(displacement(par, s), 0.05);
  EXPECT_EQ(result.rings_found, s.rings.size());
  EXPECT_TRUE(result.settled);
  ASSERT_GE(result.rounds.size(), 2u);
  char line[VaboLineSize];
  const VaboCalibrateRound &last = result.rounds.back();
  EXPECT_EQ(
      vabo_calibrate_round_line(line, sizeof line, last),
      vabo_test::format("pick: round %d: %zu points on 5 rings, stdev %lg",
                        last.round, result.points.size(), last.stdev));
}

TEST(Calibrate, FailsOnAnImageWithoutRings)
{
  const VaboCalibrateResult result = calibrate(spec(0.0), kTrue);
  EXPECT_EQ(result.status, VaboCalibrateNotFound);
  EXPECT_FALSE(result.reason.empty());
}

TEST(Calibrate, FailsFromAHopelessStart)
{
  /* Rings of a start 40 % too far lie between the true ones. */
  const RingImageSpec s = spec(400.0);
  Params start = kTrue;
  start[Dis] *= 1.4;
  start[Cen1] += 25.0;
  const VaboCalibrateResult result = calibrate(s, start);
  Params par;
  std::copy(result.Par, result.Par + NParams, par.begin());
  EXPECT_TRUE(result.status != VaboCalibrateOk || displacement(par, s) < 0.1)
      << displacement(par, s);
  printf("DEBUG status %d %s disp %g\n", result.status, result.reason.c_str(),
         displacement(par, s));
}

} // namespace
