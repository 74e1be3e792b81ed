/*
 * test_vabo_pick.cpp -- the picking of rings on synthetic images rendered
 * with the independent model of test_support.h: from the true geometry
 * every ring is found along its whole length to sub-pixel accuracy, the
 * stated position errors match the scatter, invalid pixels are never
 * read as a ring, and an image without rings gives no point.
 */
#include "ring_image.h"
#include "vabo_pick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using vabo_test::Params;
using vabo_test::ring_distance;
using vabo_test::ring_image;
using vabo_test::RingImageSpec;

const Params kTrue = {100e-6, 98.7e-6, 203.4,   187.8,
                      0.0512, 0.0213,  -0.0157, 0.3};

RingImageSpec spec(unsigned seed)
{
  RingImageSpec s;
  s.rows = 420;
  s.columns = 380;
  s.rings = {0.1237, 0.2011, 0.2658, 0.3342};
  s.width = 1.3 * 100e-6 / 0.0512; /* about 1.3 pixels */
  s.height = 400.0;
  s.background = 100.0;
  s.seed = seed;
  return s;
}

std::vector<VaboPickRing> rings_of(const RingImageSpec &s, double search)
{
  std::vector<VaboPickRing> rings;
  for (size_t k = 0; k < s.rings.size(); ++k)
    rings.push_back({s.rings[k], static_cast<int>(k) + 7, search});
  return rings;
}

VaboPickResult pick(const VaboImage &image, const Params &par,
                    const std::vector<VaboPickRing> &rings)
{
  VaboPickResult result;
  std::string error;
  EXPECT_TRUE(
      vabo_pick(image, par.data(), rings.data(), rings.size(), result, &error))
      << error;
  return result;
}

TEST(Pick, FindsEveryRingToSubPixelFromTheTrueGeometry)
{
  const RingImageSpec s = spec(4711);
  const VaboPickResult result =
      pick(ring_image(kTrue, s), kTrue, rings_of(s, 20.0));
  ASSERT_EQ(result.rings.size(), s.rings.size());
  for (const VaboPickRingCount &count : result.rings) {
    EXPECT_GT(count.tried, 40u) << count.ring;
    EXPECT_GE(count.found, count.tried * 95 / 100) << count.ring;
  }
  /* Each point lies on its ring within a few of its own standard errors,
   * and the normalised scatter is about one. */
  double chi2 = 0.0, worst = 0.0;
  for (const VaboPickPoint &p : result.points) {
    const double d = ring_distance(kTrue, s.rings[p.ring - 7], p.i1, p.i2);
    worst = std::max(worst, std::fabs(d));
    chi2 += (d / p.sigma) * (d / p.sigma);
  }
  chi2 /= static_cast<double>(result.points.size());
  EXPECT_LT(worst, 0.35);
  EXPECT_GT(chi2, 0.5);
  EXPECT_LT(chi2, 2.0);
}

TEST(Pick, NoiselessRingsAreFoundToAFewHundredthsOfAPixel)
{
  /* What is left without noise is the sampling of the ring on the pixel
   * grid, which varies along the ring and averages out. */
  const RingImageSpec s = spec(0);
  const VaboPickResult result =
      pick(ring_image(kTrue, s), kTrue, rings_of(s, 20.0));
  ASSERT_GT(result.points.size(), 450u);
  double sum = 0.0, squares = 0.0, worst = 0.0;
  for (const VaboPickPoint &p : result.points) {
    const double d = ring_distance(kTrue, s.rings[p.ring - 7], p.i1, p.i2);
    sum += d;
    squares += d * d;
    worst = std::max(worst, std::fabs(d));
  }
  const double n = static_cast<double>(result.points.size());
  EXPECT_LT(std::fabs(sum / n), 0.005);
  EXPECT_LT(std::sqrt(squares / n), 0.03);
  EXPECT_LT(worst, 0.1);
}

TEST(Pick, FindsRingsWithinTheSearchFromAShiftedGeometry)
{
  const RingImageSpec s = spec(99);
  Params start = kTrue;
  start[Cen1] += 4.3;
  start[Cen2] -= 3.1;
  const VaboPickResult result =
      pick(ring_image(kTrue, s), start, rings_of(s, 12.0));
  size_t found = 0;
  for (const VaboPickPoint &p : result.points) {
    ++found;
    ASSERT_LT(std::fabs(ring_distance(kTrue, s.rings[p.ring - 7], p.i1, p.i2)),
              0.5);
  }
  EXPECT_GT(found, 400u);
}

TEST(Pick, InvalidPixelsAreNeverAPeak)
{
  RingImageSpec s = spec(17);
  VaboImage image = ring_image(kTrue, s);
  /* A band of invalid pixels holding huge values across all rings, and
   * every pixel of the second ring marked invalid. */
  for (size_t i1 = 0; i1 < image.rows; ++i1)
    for (size_t i2 = 0; i2 < image.columns; ++i2) {
      const size_t k = i1 * image.columns + i2;
      const double d = ring_distance(kTrue, s.rings[1], static_cast<double>(i1),
                                     static_cast<double>(i2));
      if ((i2 >= 250 && i2 < 257) || std::fabs(d) < 3.0) {
        image.invalid[k] = 1;
        image.pixels[k] = 1e9f;
      }
    }
  const VaboPickResult result = pick(image, kTrue, rings_of(s, 20.0));
  size_t on_ring1 = 0;
  for (const VaboPickPoint &p : result.points) {
    EXPECT_NE(p.ring, 8);
    EXPECT_FALSE(p.i2 > 249.5 && p.i2 < 256.5) << p.i1 << " " << p.i2;
    on_ring1 += p.ring == 7;
  }
  EXPECT_GT(on_ring1, 40u);
}

TEST(Pick, ImageWithoutRingsGivesNoPoint)
{
  RingImageSpec s = spec(5);
  s.height = 0.0;
  const VaboPickResult result =
      pick(ring_image(kTrue, s), kTrue, rings_of(s, 30.0));
  EXPECT_TRUE(result.points.empty());
  EXPECT_EQ(result.rings.size(), s.rings.size());
}

TEST(Pick, ImageSmallerThanItsDimensionsIsRefused)
{
  VaboImage image;
  image.rows = 1u << 20;
  image.columns = 1u << 20;
  image.pixels.resize(16);
  image.invalid.resize(16);
  VaboPickResult result;
  std::string error;
  const VaboPickRing ring{0.2, 1, 10.0};
  EXPECT_FALSE(vabo_pick(image, kTrue.data(), &ring, 1, result, &error));
  EXPECT_FALSE(error.empty());
}

TEST(Pick, DegenerateInputsGiveNoPointAndNoCrash)
{
  struct Case {
    size_t rows, columns;
    float value;
    unsigned char invalid;
    double two_theta, search;
  };
  const Case cases[] = {
      {0, 0, 1.0f, 0, 0.2, 10.0},        /* empty image */
      {1, 1, 5.0f, 0, 0.2, 10.0},        /* one pixel */
      {40, 30, NAN, 0, 0.2, 10.0},       /* not numbers */
      {40, 30, 3.0f, 1, 0.2, 10.0},      /* all invalid */
      {40, 30, 3.0f, 0, NAN, 10.0},      /* ring not a number */
      {40, 30, 3.0f, 0, 1.9, 10.0},      /* ring behind the detector plane */
      {40, 30, 3.0f, 0, 0.01, 1e300},    /* search beyond all bounds */
      {40, 30, INFINITY, 0, 0.01, 10.0}, /* infinite pixels */
  };
  const Params par = {100e-6, 100e-6, 20.3, 15.2, 0.05, 0.01, 0.02, 0.0};
  for (const Case &c : cases) {
    VaboImage image;
    image.rows = c.rows;
    image.columns = c.columns;
    image.pixels.assign(c.rows * c.columns, c.value);
    image.invalid.assign(c.rows * c.columns, c.invalid);
    const VaboPickRing ring{c.two_theta, 1, c.search};
    VaboPickResult result;
    std::string error;
    EXPECT_TRUE(vabo_pick(image, par.data(), &ring, 1, result, &error));
    EXPECT_TRUE(result.points.empty()) << c.rows << " " << c.two_theta;
  }
}

} // namespace
