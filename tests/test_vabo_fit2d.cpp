/*
 * test_vabo_fit2d.cpp -- Fit2D's geometry: hand-computed conversions of
 * geometries tilted about one axis, the round trip both ways, the refusals,
 * and the reader of Fit2D files.  The agreement with pyFAI's getFit2D and
 * setFit2D on random geometries is tests/check_fit2d.sh.
 */
#include "vabo_fit2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr double kDeg = M_PI / 180.0;

void expect_fit2d(const VaboFit2D &got, const VaboFit2D &want, const char *what)
{
  EXPECT_NEAR(got.directDist, want.directDist, 1e-12) << what;
  EXPECT_NEAR(got.centerX, want.centerX, 1e-9) << what;
  EXPECT_NEAR(got.centerY, want.centerY, 1e-9) << what;
  EXPECT_NEAR(got.tilt, want.tilt, 1e-12) << what;
  EXPECT_NEAR(got.tiltPlanRotation, want.tiltPlanRotation, 1e-12) << what;
  EXPECT_EQ(got.pixelX, want.pixelX) << what;
  EXPECT_EQ(got.pixelY, want.pixelY) << what;
}

TEST(Fit2D, TiltAboutOneAxisByHand)
{
  /* pix1 = 100 um (pixelY), pix2 = 172 um (pixelX); the beam meets the
   * detector dis tan(rot) away from the point of normal incidence: towards
   * -i2 for rot1 (tilt plane at 180 degrees), +i1 for rot2 (at 90). */
  const double pix1 = 1e-4, pix2 = 172e-6, cen1 = 1001.25, cen2 = 487.5;
  const double dis = 0.2385, r = 0.1234;
  const struct {
    const char *what;
    double rot1, rot2;
    VaboFit2D want;
  } cases[] = {
      {"untilted", 0, 0, {238.5, cen2 + 0.5, cen1 + 0.5, 0, 0, 172, 100}},
      {"rot1",
       r,
       0,
       {238.5 / std::cos(r), cen2 + 0.5 - dis * std::tan(r) / pix2, cen1 + 0.5,
        r / kDeg, 180, 172, 100}},
      {"rot2",
       0,
       r,
       {238.5 / std::cos(r), cen2 + 0.5, cen1 + 0.5 + dis * std::tan(r) / pix1,
        r / kDeg, 90, 172, 100}},
      {"-rot2",
       0,
       -r,
       {238.5 / std::cos(r), cen2 + 0.5, cen1 + 0.5 - dis * std::tan(r) / pix1,
        r / kDeg, -90, 172, 100}},
  };
  for (const auto &c : cases) {
    const double par[NParams] = {pix1, pix2,   cen1,   cen2,
                                 dis,  c.rot1, c.rot2, 2.9};
    VaboFit2D f;
    ASSERT_TRUE(vabo_fit2d_from_parameters(par, &f)) << c.what;
    expect_fit2d(f, c.want, c.what);
    double back[NParams];
    ASSERT_TRUE(vabo_parameters_from_fit2d(f, back)) << c.what;
    for (int p = 0; p < Rot3; ++p)
      EXPECT_NEAR(back[p], par[p], 1e-12 * (1 + std::abs(par[p])))
          << c.what << p;
    if (c.rot1 == 0 || c.rot2 == 0) {
      EXPECT_NEAR(back[Rot3], 0.0, 1e-15) << c.what;
    }
    EXPECT_NEAR(back[Rot3], 0.0, 1e-15) << c.what;
  }
}

TEST(Fit2D, RoundTripKeepsTheFit2DNumbers)
{
  const VaboFit2D cases[] = {{150.5, 1024.3, -20.7, 12.5, 33.3, 79, 81},
                             {700.25, 3.5, 2047.5, 0.75, -147.5, 172, 172},
                             {95.125, 500, 600, 35, 179.5, 50, 200}};
  for (const VaboFit2D &f : cases) {
    double par[NParams];
    ASSERT_TRUE(vabo_parameters_from_fit2d(f, par));
    VaboFit2D back;
    ASSERT_TRUE(vabo_fit2d_from_parameters(par, &back));
    expect_fit2d(back, f, "round trip");
  }
}

TEST(Fit2D, RefusesGeometriesWithoutABeamCentre)
{
  double par[NParams] = {1e-4, 1e-4, 10, 20, 0.1, 1.6, 0, 0};
  VaboFit2D f{1, 2, 3, 4, 5, 6, 7};
  EXPECT_FALSE(vabo_fit2d_from_parameters(par, &f)); /* turned away */
  par[Rot1] = 0.1;
  par[Dis] = -0.1;
  EXPECT_FALSE(vabo_fit2d_from_parameters(par, &f));
  par[Dis] = NAN;
  EXPECT_FALSE(vabo_fit2d_from_parameters(par, &f));
  EXPECT_EQ(f.directDist, 1.0); /* unchanged */
  double kept[NParams] = {9, 9, 9, 9, 9, 9, 9, 9};
  for (const VaboFit2D &bad : {VaboFit2D{100, 1, 1, 90, 0, 100, 100},
                               VaboFit2D{0, 1, 1, 0, 0, 100, 100},
                               VaboFit2D{100, 1, 1, 0, 0, -100, 100},
                               VaboFit2D{100, INFINITY, 1, 0, 0, 100, 100}})
    EXPECT_FALSE(vabo_parameters_from_fit2d(bad, kept));
  EXPECT_EQ(kept[Cen1], 9.0);
}

TEST(Fit2D, FileTakesFit2DUnitsOrNamedOnes)
{
  VaboFit2DFile file;
  std::string error;
  ASSERT_TRUE(vabo_fit2d_parse("# from Fit2D\n"
                               "directDist = 0.2385_m\n"
                               "CENTERX = 487.5\n"
                               "centerY: 1001.25\n"
                               "tilt = 0.1234_rad\n"
                               "tiltPlanRotation = 90\n"
                               "pixelX = 172\n"
                               "pixelY = 0.1_mm\n"
                               "splineFile = None\n",
                               "g.fit2d", &file, &error))
      << error;
  expect_fit2d(file.fit2d, {238.5, 487.5, 1001.25, 0.1234 / kDeg, 90, 172, 100},
               "file");
  double par[NParams];
  ASSERT_TRUE(vabo_parameters_from_fit2d(file.fit2d, par));
  for (int p = 0; p < NParams; ++p) EXPECT_EQ(file.start[p], par[p]) << p;
  ASSERT_TRUE(vabo_fit2d_parse("directDist=100\ncenterX=1\ncenterY=2\n"
                               "pixelX=50\npixelY=60\n",
                               "g", &file, &error));
  EXPECT_EQ(file.start[Rot1], 0.0);
  EXPECT_DOUBLE_EQ(file.start[Cen1], 1.5); /* centre of pixel 1.5: corner */
}

TEST(Fit2D, FileErrorsNameTheLine)
{
  const std::string good = "directDist = 100\ncenterX = 1\ncenterY = 2\n"
                           "pixelX = 50\npixelY = 60\n";
  const struct {
    std::string text;
    const char *error;
  } cases[] = {
      {good + "tilt = 90\n", "g:6: tilt must lie between -90 and 90 degrees"},
      {good + "centerX = 3\n", "g:6: second centerX (the first is line 2)"},
      {good + "centerZ = 3\n", "g:6: unknown key 'centerz'"},
      {good + "splineFile = a.spline\n",
       "g:6: spline file 'a.spline': vabo has no distortion correction"},
      {good + "tilt 3\n", "g:6: not a \"key = value\" line"},
      {"centerX = 1_mm\n", "g:1: centerX is in pixels and takes no unit"},
      {"directDist = -1\ncenterX = 1\ncenterY = 2\npixelX = 50\npixelY = 60\n",
       "g:1: directDist must be positive"},
      {"directDist = 100\ncenterX = 1\npixelX = 50\npixelY = 60\n",
       "g: no centerY line"},
      {"", "g: the file is empty"},
  };
  for (const auto &c : cases) {
    VaboFit2DFile file;
    file.fit2d.directDist = 5;
    std::string error;
    EXPECT_FALSE(vabo_fit2d_parse(c.text, "g", &file, &error)) << c.text;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(file.fit2d.directDist, 0.0);
  }
}

} // namespace
