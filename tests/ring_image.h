/*
 * ring_image.h -- synthetic calibrant images for the tests of the picking
 * and of the calibration loop: Gaussian rings in TwoTheta on a flat
 * background with counting noise from a seeded generator, rendered pixel
 * by pixel with the independent forward model of test_support.h.
 */
#ifndef VABO_TEST_RING_IMAGE_H
#define VABO_TEST_RING_IMAGE_H

#include "test_support.h"
#include "vabo_image.h"

#include <cmath>
#include <random>
#include <vector>

namespace vabo_test {

struct RingImageSpec {
  size_t rows = 0, columns = 0;
  std::vector<double> rings; /* TwoTheta of each ring, rad */
  double width = 0.0;        /* standard deviation of a ring, rad */
  double height = 0.0;       /* peak height over the background, counts */
  double background = 0.0;   /* counts */
  unsigned seed = 0;         /* 0: no noise */
};

/* The image of spec seen with the geometry par. */
inline VaboImage ring_image(const Params &par, const RingImageSpec &spec)
{
  VaboImage image;
  image.rows = spec.rows;
  image.columns = spec.columns;
  image.pixels.assign(spec.rows * spec.columns, 0.0f);
  image.invalid.assign(spec.rows * spec.columns, 0);
  std::mt19937 generator(spec.seed);
  for (size_t i1 = 0; i1 < spec.rows; ++i1)
    for (size_t i2 = 0; i2 < spec.columns; ++i2) {
      const double t = two_theta(par.data(), static_cast<double>(i1),
                                 static_cast<double>(i2));
      double value = spec.background;
      for (double ring : spec.rings) {
        const double u = (t - ring) / spec.width;
        value += spec.height * std::exp(-0.5 * u * u);
      }
      if (spec.seed != 0) {
        std::normal_distribution<double> noise(0.0, std::sqrt(value));
        value += noise(generator);
      }
      image.pixels[i1 * spec.columns + i2] = static_cast<float>(value);
    }
  return image;
}

/* Distance (pixels, across the ring) of (i1, i2) from the ring of angle
 * ring under par: the TwoTheta difference over its local gradient. */
inline double ring_distance(const Params &par, double ring, double i1,
                            double i2)
{
  const double h = 0.01;
  const double d1 =
      (two_theta(par.data(), i1 + h, i2) - two_theta(par.data(), i1 - h, i2)) /
      (2 * h);
  const double d2 =
      (two_theta(par.data(), i1, i2 + h) - two_theta(par.data(), i1, i2 - h)) /
      (2 * h);
  return (two_theta(par.data(), i1, i2) - ring) / std::hypot(d1, d2);
}

} // namespace vabo_test

#endif
