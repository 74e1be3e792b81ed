/*
 * test_vabo_poni.cpp -- PONI files as start values: the conversion between
 * vabo's parameters and the PONI geometry (hand-computed), files of every
 * version vabo reads, and the refusals of what vabo cannot honour, each
 * with its line.  TwoTheta against pyFAI on pyFAI's own files is
 * tests/check_poni.sh.
 */
#include "vabo_poni.h"

#include <gtest/gtest.h>

#include <string>

namespace {

/* As pyFAI 0.21 writes it (AzimuthalIntegrator.save). */
const std::string kVersion2 =
    "# Nota: C-Order, 1 refers to the Y axis, 2 to the X axis \n"
    "# Calibration done at Thu Dec 10 09:44:23 2026\n"
    "poni_version: 2\n"
    "Detector: Detector\n"
    "Detector_config: {\"pixel1\": 7.5e-05, \"pixel2\": 8e-05, \"max_shape\": "
    "null}\n"
    "Distance: 0.1234\n"
    "Poni1: 0.02\n"
    "Poni2: 0.03\n"
    "Rot1: 0.1\n"
    "Rot2: -0.2\n"
    "Rot3: 0.3\n"
    "Wavelength: 1e-10\n";

std::string replaced(std::string text, const std::string &from,
                     const std::string &to)
{
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(Poni, GeometryPutsPixelCentresHalfAPixelIn)
{
  const double par[NParams] = {7.5e-5, 8e-5, 265.6, -12.25,
                               0.1234, 0.1,  -0.2,  0.3};
  const VaboPoniGeometry g = vabo_poni_geometry(par);
  EXPECT_DOUBLE_EQ(g.poni1, 266.1 * 7.5e-5);
  EXPECT_DOUBLE_EQ(g.poni2, -11.75 * 8e-5);
  EXPECT_EQ(g.dist, 0.1234);
  EXPECT_EQ(g.rot2, -0.2);
  double back[NParams];
  vabo_poni_parameters(g, back);
  for (int p = 0; p < NParams; ++p)
    EXPECT_NEAR(back[p], par[p], 1e-13 * (1 + std::abs(par[p]))) << p;
}

TEST(Poni, ReadsEveryVersion)
{
  const std::string v1 = "PixelSize1: 7.5e-05\nPixelSize2: 8e-05\n"
                         "SplineFile: None\nDist: 12.34_cm\nPoni1: 0.02\n"
                         "Poni2: 0.03\nRot1: 0.1\nRot2: -0.2\nRot3: 0.3\n"
                         "Wavelength: 1e-10\n";
  const std::string v3 =
      replaced(replaced(kVersion2, "poni_version: 2", "poni_version: 3"),
               "null}", "[1024, 2048], \"orientation\": 3}\nParallax: False");
  const struct {
    const char *name;
    std::string text;
    double version;
  } cases[] = {{"v1", v1, 1.0},
               {"v2", kVersion2, 2.0},
               {"v2.1", replaced(kVersion2, "version: 2", "version: 2.1"), 2.1},
               {"v3", v3, 3.0}};
  for (const auto &c : cases) {
    VaboPoni poni;
    std::string error;
    ASSERT_TRUE(vabo_poni_parse(c.text, c.name, &poni, &error)) << error;
    EXPECT_EQ(poni.version, c.version);
    EXPECT_EQ(poni.start[Pix1], 7.5e-5) << c.name;
    EXPECT_EQ(poni.start[Pix2], 8e-5) << c.name;
    EXPECT_DOUBLE_EQ(poni.start[Cen1], 0.02 / 7.5e-5 - 0.5) << c.name;
    EXPECT_DOUBLE_EQ(poni.start[Cen2], 0.03 / 8e-5 - 0.5) << c.name;
    EXPECT_DOUBLE_EQ(poni.start[Dis], 0.1234) << c.name;
    EXPECT_EQ(poni.start[Rot1], 0.1) << c.name;
    EXPECT_EQ(poni.start[Rot2], -0.2) << c.name;
    EXPECT_EQ(poni.start[Rot3], 0.3) << c.name;
    EXPECT_TRUE(poni.has_wavelength) << c.name;
    EXPECT_EQ(poni.wavelength, 1e-10) << c.name;
  }
}

TEST(Poni, MissingRotationsAndWavelengthAreAllowed)
{
  VaboPoni poni;
  std::string error;
  ASSERT_TRUE(vabo_poni_parse("pixelsize1: 1e-4\npixelsize2: 2e-4\n"
                              "distance: 0.5\nponi1: 0.01\nponi2: 0.02\n",
                              "p", &poni, &error))
      << error;
  EXPECT_EQ(poni.start[Rot1], 0.0);
  EXPECT_EQ(poni.start[Rot3], 0.0);
  EXPECT_FALSE(poni.has_wavelength);
  EXPECT_DOUBLE_EQ(poni.start[Cen2], 99.5);
}

TEST(Poni, RefusesWhatVaboCannotHonourNamingTheLine)
{
  const struct {
    const char *from, *to, *error;
  } cases[] = {
      {"null}", "null, \"orientation\": 2}",
       "p:5: detector orientation 2: vabo's pixel axes are those of "
       "orientation 3"},
      {"null}", "null, \"splineFile\": \"frelon.spline\"}",
       "p:5: Detector_config names a spline file: vabo has no distortion "
       "correction"},
      {"Wavelength", "Parallax: True\nWavelength",
       "p:12: parallax correction: vabo has none"},
      {"version: 2", "version: 4",
       "p:3: PONI version '4' is not one vabo reads (1, 2, 2.1, 3)"},
      {"Detector_config: {\"pixel1\": 7.5e-05, \"pixel2\": 8e-05, "
       "\"max_shape\": null}",
       "Detector_config: {}",
       "p:5: detector Detector: the file gives no pixel sizes (pixel1 and "
       "pixel2 in Detector_config)"},
      {"\"max_shape\": null}",
       "\"max_shape\": [[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]}",
       "p:5: Detector_config: nested too deeply"},
      {"null}", "null", "p:5: Detector_config is not a JSON object"},
      {"7.5e-05", "\"75um\"",
       "p:5: Detector_config: pixel1 and pixel2 must be numbers"},
      {"7.5e-05", "-7.5e-05", "p:5: pixel sizes must be positive"},
      {"Distance: 0.1234", "Distance: 0", "p:6: Distance must be positive"},
      {"Distance: 0.1234", "Distance: 0.1234\nDist: 0.2",
       "p:7: a second distance (line 6)"},
      {"Rot1: 0.1", "Rot1: 0.1\nrot1: 0.2",
       "p:10: second \"rot1:\" line (the first is line 9)"},
      {"Poni1: 0.02", "Poni1: 0.02 m", nullptr},
      {"Poni1: 0.02\n", "", "p: no Poni1 line"},
      {"Rot2: -0.2", "Rot2 -0.2", "p:10: not a \"key: value\" line"},
      {"Rot2", "Tilt", "p:10: unknown key 'tilt'"},
      {"Rot3: 0.3", "Rot3: 0.3\nPixelSize1: 1e-4",
       "p:12: PixelSize1 is a line of version 1; this file's pixel sizes come "
       "from Detector_config"},
      {"Rot3: 0.3", "Rot3: \x1b[0m", "p:11: a control byte: not a text file"},
  };
  for (const auto &c : cases) {
    VaboPoni poni;
    poni.start[Dis] = 7.0;
    std::string error;
    const std::string text = replaced(kVersion2, c.from, c.to);
    EXPECT_FALSE(vabo_poni_parse(text, "p", &poni, &error)) << c.to;
    EXPECT_EQ(poni.start[Dis], 0.0) << c.to; /* a new record */
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    if (c.error)
      EXPECT_EQ(error, c.error);
    else
      EXPECT_EQ(error.rfind("p:", 0), 0u) << error;
  }
}

TEST(Poni, Version1RefusesSplineAndMissingPixelSizes)
{
  const struct {
    const char *text, *error;
  } cases[] = {
      {"PixelSize1: 1e-4\nPixelSize2: 1e-4\nSplineFile: /x/d.spline\n"
       "Distance: 0.1\nPoni1: 0\nPoni2: 0\n",
       "p:3: spline file '/x/d.spline': vabo has no distortion correction"},
      {"Detector: Pilatus1M\nDistance: 0.1\nPoni1: 0\nPoni2: 0\n",
       "p: no PixelSize1 line"},
      {"", "p: the file is empty"},
  };
  for (const auto &c : cases) {
    VaboPoni poni;
    std::string error;
    EXPECT_FALSE(vabo_poni_parse(c.text, "p", &poni, &error));
    EXPECT_EQ(error, c.error);
  }
}

} // namespace
