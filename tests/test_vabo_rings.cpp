/*
 * test_vabo_rings.cpp -- points that know their rings: matching points to a
 * calibrant's rings, the points of a control-point file at the angles of
 * their rings, and the residuals per ring in radians and pixels, against
 * points placed on the rings by hand.
 */
#include "vabo_rings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kLambda = 0.72932e-10; /* m */

VaboCalibrant lab6()
{
  VaboCalibrant c;
  std::string error;
  EXPECT_TRUE(vabo_calibrant_load("LaB6", VaboCalibrantAllRings, c, &error))
      << error;
  return c;
}

double ring_angle(const VaboCalibrant &c, size_t k)
{
  return 2 * std::asin(kLambda / (2 * c.rings[k].d));
}

} // namespace

TEST(Rings, MatchTakesTheNearestRingWithinHalfTheGap)
{
  const VaboCalibrant c = lab6();
  const double t0 = ring_angle(c, 0), t1 = ring_angle(c, 1);
  const double t2 = ring_angle(c, 2);
  struct Case {
    const char *what;
    double angle;
    int ring; /* -1: no ring claims it */
  } cases[] = {
      {"on the first ring", t0, 0},
      {"just inside the midpoint, first side", t0 + 0.49 * (t1 - t0), 0},
      {"just beyond the midpoint", t0 + 0.51 * (t1 - t0), 1},
      {"on the third ring", t2, 2},
      {"inside the first ring by less than half its gap", t0 - 0.4 * (t1 - t0),
       0},
      {"inside the first ring by more than half its gap", t0 - 0.6 * (t1 - t0),
       -1},
      {"not a number", NAN, -1},
  };
  for (const Case &k : cases) {
    const double angles[] = {t1, k.angle};
    VaboRings rings;
    size_t failed = 99;
    const bool ok = vabo_rings_match(2, angles, c, kLambda, &rings, &failed);
    if (k.ring < 0) {
      EXPECT_FALSE(ok) << k.what;
      EXPECT_EQ(failed, 1u) << k.what;
      EXPECT_TRUE(rings.ring.empty()) << k.what;
    } else {
      ASSERT_TRUE(ok) << k.what;
      EXPECT_EQ(rings.ring[1], k.ring) << k.what;
      EXPECT_EQ(rings.spacing.size(), c.rings.size());
    }
  }
  /* No ring within reach of a wavelength longer than twice every d. */
  VaboRings rings;
  size_t failed = 0;
  const double angle = t0;
  EXPECT_FALSE(vabo_rings_match(1, &angle, c, 1e-8, &rings, &failed));
  EXPECT_EQ(failed, 1u);
}

TEST(Rings, ControlPointsTakeTheAngleOfTheirRingAndTheGivenWavelength)
{
  VaboNpt npt;
  std::string error;
  ASSERT_TRUE(vabo_npt_parse("wavelength: 1e-10\ndspacing: 4 2\nring: 1\n"
                             "point: x=3 y=5\n",
                             "f.npt", &npt, &error))
      << error;
  std::vector<double> angle, i1, i2;
  std::vector<size_t> lines;
  VaboRings rings;
  ASSERT_TRUE(vabo_rings_from_npt(npt, "f.npt", nullptr, false, 0, &angle, &i1,
                                  &i2, &lines, &rings, &error));
  EXPECT_EQ(angle[0], 2 * std::asin(1e-10 / (2 * 2e-10)));
  EXPECT_EQ(i1[0], 5.0);
  EXPECT_EQ(i2[0], 3.0);
  EXPECT_EQ(lines[0], 4u);
  /* wavelength= goes before the file's */
  ASSERT_TRUE(vabo_rings_from_npt(npt, "f.npt", nullptr, true, 2e-10, &angle,
                                  &i1, &i2, &lines, &rings, &error));
  EXPECT_EQ(angle[0], 2 * std::asin(2e-10 / (2 * 2e-10)));
  EXPECT_EQ(rings.wavelength, 2e-10);
  /* and a ring it cannot reach is an error naming the point's line */
  EXPECT_FALSE(vabo_rings_from_npt(npt, "f.npt", nullptr, true, 5e-10, &angle,
                                   &i1, &i2, &lines, &rings, &error));
  EXPECT_EQ(error.rfind("f.npt:4: ring 1 (d = 2 Angstrom)", 0), 0u) << error;
}

/* On an untilted detector the ring of angle t is a circle of radius
 * dis tan(t) / pix about the point of normal incidence: points moved out
 * by s pixels lie s pixels from the ring. */
TEST(Rings, StatisticsGiveTheResidualsInRadiansAndPixels)
{
  const VaboCalibrant c = lab6();
  const double par[NParams] = {75e-6, 75e-6, 1000, 1020, 0.2, 0, 0, 0};
  VaboRings rings;
  rings.spacing = {c.rings[0].d, c.rings[1].d, c.rings[2].d};
  rings.wavelength = kLambda;
  std::vector<double> angle, i1, i2, weight;
  const double shift[] = {0.0, 0.5, -0.25}; /* pixels, per ring */
  for (int k = 0; k < 3; k++)
    for (int a = 0; a < 12; a++) {
      const double t = ring_angle(c, size_t(k));
      const double r = par[Dis] * std::tan(t) / par[Pix1] + shift[k];
      const double chi = 2 * M_PI * a / 12;
      angle.push_back(t);
      i1.push_back(par[Cen1] + r * std::cos(chi));
      i2.push_back(par[Cen2] + r * std::sin(chi));
      weight.push_back(a == 0 && k == 1 ? 0.0 : 1.0);
      rings.ring.push_back(k);
    }
  const std::vector<VaboRingStat> stats =
      vabo_ring_statistics(par, angle.size(), angle.data(), i1.data(),
                           i2.data(), weight.data(), rings);
  ASSERT_EQ(stats.size(), 3u);
  for (int k = 0; k < 3; k++) {
    const VaboRingStat &s = stats[size_t(k)];
    EXPECT_EQ(s.ring, k);
    EXPECT_EQ(s.points, k == 1 ? 11u : 12u); /* weight 0 takes no part */
    /* Moved out, the model's angle grows: measured - model < 0. */
    EXPECT_NEAR(s.mean_pixels, -shift[k], 1e-3) << k;
    EXPECT_NEAR(s.rms_pixels, std::fabs(shift[k]), 1e-3) << k;
    EXPECT_EQ(s.mean<0, shift[k]> 0) << k;
    EXPECT_NEAR(s.rms, std::fabs(s.mean), 1e-12) << k;
  }
}
