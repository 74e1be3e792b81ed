/*
 * test_vabo_npt.cpp -- pyFAI's control-point files: what the reader takes
 * (a file laid out as pyFAI-calib2 writes it, numbers with units), what it
 * refuses with which line, the writer's text read back, and the TwoTheta
 * of a ring against hand-computed values.  The exchange with pyFAI itself
 * is tests/check_npt.sh.
 */
#include "vabo_npt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

/* A file as pyFAI 0.21's ControlPoints.save writes it (no final line end). */
const std::string kPyFaiFile =
    "# set of control point used by pyFAI to calibrate the geometry of a "
    "scattering experiment\n"
    "#angles are in radians, wavelength in meter and positions in pixels\n"
    "calibrant: LaB6 Calibrant with 3 reflections at wavelength 1.0332e-10\n"
    "wavelength: 1.0332e-10\n"
    "dspacing:4.156826 2.93931985 2.39994461\n"
    "\n"
    "New group of points: 0\n"
    "2theta: 0.2491993334439546\n"
    "ring: 0\n"
    "point: x=200.5 y=100.25\n"
    "point: x=202.0 y=101.0\n"
    "\n"
    "New group of points: 1\n"
    "ring: 2\n"
    "point: x=400.0625 y=300.125";

VaboNpt parse_ok(const std::string &text)
{
  VaboNpt npt;
  std::string error;
  EXPECT_TRUE(vabo_npt_parse(text, "t.npt", &npt, &error)) << error;
  return npt;
}

TEST(Npt, ReadsAFileOfPyFai)
{
  const VaboNpt npt = parse_ok(kPyFaiFile);
  EXPECT_EQ(npt.calibrant, "LaB6");
  EXPECT_TRUE(npt.has_wavelength);
  EXPECT_EQ(npt.wavelength, 1.0332e-10);
  ASSERT_EQ(npt.dspacing.size(), 3u);
  EXPECT_DOUBLE_EQ(npt.dspacing[1], 2.93931985e-10);
  ASSERT_EQ(npt.points.size(), 3u);
  const struct {
    double i1, i2;
    int ring;
    size_t line;
  } want[] = {
      {100.25, 200.5, 0, 10}, {101, 202, 0, 11}, {300.125, 400.0625, 2, 15}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(npt.points[k].i1, want[k].i1) << k; /* y: slow axis, unshifted */
    EXPECT_EQ(npt.points[k].i2, want[k].i2) << k;
    EXPECT_EQ(npt.points[k].ring, want[k].ring) << k;
    EXPECT_EQ(npt.points[k].line, want[k].line) << k;
  }
}

TEST(Npt, TakesUnitsCaseAndWhatPyFaiLeavesOpen)
{
  const VaboNpt npt = parse_ok("CALIBRANT: undefined Calibrant \r\n"
                               "Wavelength: 0.0827_nm\r\n"
                               "dspacing: 0.3_nm 2.1\n"
                               "  # indented comment\n"
                               "new group of points: 7\n"
                               "Ring: 1\n"
                               "point: y=1.5   x=-2.25\n");
  EXPECT_EQ(npt.calibrant, "");
  EXPECT_DOUBLE_EQ(npt.wavelength, 0.827e-10);
  EXPECT_DOUBLE_EQ(npt.dspacing[0], 3e-10);
  EXPECT_DOUBLE_EQ(npt.dspacing[1], 2.1e-10);
  EXPECT_EQ(npt.points[0].i1, 1.5);
  EXPECT_EQ(npt.points[0].i2, -2.25);
  const VaboNpt bare = parse_ok("calibrant: CeO2 at wavelength 7e-11\n"
                                "ring: 4\npoint: x=1 y=2\n");
  EXPECT_TRUE(bare.has_wavelength); /* from the calibrant's description */
  EXPECT_EQ(bare.wavelength, 7e-11);
  EXPECT_FALSE(bare.has_dspacing);
  EXPECT_EQ(bare.points[0].ring, 4);
  EXPECT_FALSE(parse_ok("ring: 0\npoint: x=1 y=2").has_wavelength);
}

TEST(Npt, RefusesWithOneLineNamingFileAndLine)
{
  const struct {
    const char *text, *error;
  } cases[] = {
      {"", "t.npt: the file is empty"},
      {"# only a comment\n\n", "t.npt: no control points in the file"},
      {"ring: 0\npoint x=1 y=2\n", "t.npt:2: not a \"key: value\" line"},
      {"ring: 0\npoint: x=1\n", "t.npt:2: point: its y= is missing"},
      {"ring: 0\npoint: x=1 y=2 x=3\n", "t.npt:2: point: a second x="},
      {"ring: 0\npoint: x=1 z=2\n",
       "t.npt:2: point: 'z=2' is neither x=... nor y=..."},
      {"ring: 0\npoint: x=1_mm y=2\n",
       "t.npt:2: point x: pixel coordinates take no unit"},
      {"ring: 0\npoint: x=nan y=2\n", nullptr},
      {"ring: 0\npoint: x=1e999 y=2\n", nullptr},
      {"point: x=1 y=2\n",
       "t.npt:1: point without a ring (its group has no \"ring:\" line)"},
      {"ring: None\npoint: x=1 y=2\n",
       "t.npt:2: point of a group whose ring is None"},
      {"ring: 0\nring: 1\npoint: x=1 y=2\n", nullptr},
      {"ring: -1\npoint: x=1 y=2\n", nullptr},
      {"ring: 1.5\npoint: x=1 y=2\n", nullptr},
      {"dspacing: 3 2\nring: 2\npoint: x=1 y=2\n",
       "t.npt:3: ring 2 has no d-spacing (line 1 lists 2)"},
      {"dspacing: 3 -2\nring: 0\npoint: x=1 y=2\n", nullptr},
      {"wavelength: 0\nring: 0\npoint: x=1 y=2\n", nullptr},
      {"wavelength: 1e-10\nwavelength: 1e-10\n", nullptr},
      {"calibrant: Si at wavelength 1e-10\nwavelength: 2e-10\nring: 0\npoint: x=1 y=2\n",
       "t.npt:1: the calibrant's wavelength 1e-10 m differs from the "
       "wavelength of line 2, 2e-10 m"},
      {"ring: 0\nlabel: a\npoint: x=1 y=2\n", "t.npt:2: unknown key 'label'"},
      {"ring: 0\npoint: x=1 y=2\n\x01\x02\n",
       "t.npt:3: a control byte: not a text file"},
  };
  for (const auto &c : cases) {
    VaboNpt npt;
    npt.calibrant = "left over";
    std::string error;
    EXPECT_FALSE(vabo_npt_parse(c.text, "t.npt", &npt, &error)) << c.text;
    EXPECT_TRUE(npt.points.empty() && npt.calibrant.empty()) << c.text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    if (c.error)
      EXPECT_EQ(error, c.error) << c.text;
    else
      EXPECT_EQ(error.rfind("t.npt:", 0), 0u) << c.text << " -> " << error;
  }
}

TEST(Npt, NulByteInTheMiddleIsALineOfBinary)
{
  VaboNpt npt;
  std::string error;
  const std::string text("ring: 0\npoint: x=1\0 y=2\n", 24);
  EXPECT_FALSE(vabo_npt_parse(text, "t.npt", &npt, &error));
  EXPECT_EQ(error, "t.npt:2: a control byte: not a text file");
}

TEST(Npt, MissingFileNamesItsPath)
{
  VaboNpt npt;
  std::string error;
  EXPECT_FALSE(vabo_npt_read("/nonexistent/x.npt", &npt, &error));
  EXPECT_EQ(error, "/nonexistent/x.npt: No such file or directory");
}

TEST(Npt, WrittenTextReadsBackGroupedByRing)
{
  VaboNpt npt;
  npt.calibrant = "CeO2";
  npt.has_wavelength = true;
  npt.wavelength = 0.7085e-10;
  npt.has_dspacing = true;
  npt.dspacing = {3.1243e-10, 2.7057e-10, 1.9132e-10, 0.3e-10};
  npt.points = {{12.5, 0.1 + 0.2, 2, 0},
                {-3.0, 1e-300, 0, 0},
                {1234.0625, 7.0 / 3.0, 2, 0},
                {5, 6, 3, 0}};
  std::string text, error;
  ASSERT_TRUE(vabo_npt_text(npt, &text, &error)) << error;
  EXPECT_NE(text.find("ring: 0\npoint: x=1e-300 y=-3\n"), std::string::npos)
      << text;
  /* Ring 3 is beyond reach (lambda / 2d > 1): no 2theta line for it. */
  EXPECT_NE(text.find("New group of points: 2\nring: 3\n"), std::string::npos)
      << text;
  const VaboNpt back = parse_ok(text);
  EXPECT_EQ(back.calibrant, "CeO2");
  EXPECT_EQ(back.wavelength, npt.wavelength);
  ASSERT_EQ(back.dspacing.size(), 4u);
  for (size_t k = 0; k < 4; ++k)
    EXPECT_NEAR(back.dspacing[k], npt.dspacing[k], 1e-25);
  const size_t order[] = {1, 0, 2, 3}; /* by ring, stable within a ring */
  ASSERT_EQ(back.points.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(back.points[k].i1, npt.points[order[k]].i1) << k;
    EXPECT_EQ(back.points[k].i2, npt.points[order[k]].i2) << k;
    EXPECT_EQ(back.points[k].ring, npt.points[order[k]].ring) << k;
  }
}

TEST(Npt, WriterRefusesWhatCannotBeReadBack)
{
  const struct {
    const char *what;
    void (*spoil)(VaboNpt *);
  } cases[] = {
      {"blank in name", [](VaboNpt *n) { n->calibrant = "La B6"; }},
      {"nan point", [](VaboNpt *n) { n->points[0].i1 = std::nan(""); }},
      {"negative ring", [](VaboNpt *n) { n->points[0].ring = -1; }},
      {"ring without d", [](VaboNpt *n) { n->points[0].ring = 1; }},
      {"zero wavelength", [](VaboNpt *n) { n->wavelength = 0; }},
  };
  for (const auto &c : cases) {
    VaboNpt npt;
    npt.has_wavelength = true;
    npt.wavelength = 1e-10;
    npt.has_dspacing = true;
    npt.dspacing = {2e-10};
    npt.points = {{1, 2, 0, 0}};
    c.spoil(&npt);
    std::string text = "old", error;
    EXPECT_FALSE(vabo_npt_text(npt, &text, &error)) << c.what;
    EXPECT_TRUE(text.empty()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(Npt, RingTwoThetaIsTwiceTheBraggAngle)
{
  /* lambda / 2d = 0.5 -> 2 asin(0.5) = pi / 3; = 1 -> pi; beyond -> NaN. */
  EXPECT_DOUBLE_EQ(vabo_ring_two_theta(1.2345e-10, 1.2345e-10), M_PI / 3.0);
  EXPECT_DOUBLE_EQ(vabo_ring_two_theta(2e-10, 1e-10), M_PI);
  EXPECT_NEAR(vabo_ring_two_theta(1.0332e-10, 4.156826e-10), 0.2491993334439546,
              1e-15); /* pyFAI's, LaB6 ring 0 */
  EXPECT_TRUE(vabo_ring_reachable(2e-10, 1e-10));
  EXPECT_FALSE(vabo_ring_reachable(2.000001e-10, 1e-10));
  EXPECT_FALSE(vabo_ring_reachable(1e-10, 0.0));
  EXPECT_TRUE(std::isnan(vabo_ring_two_theta(3e-10, 1e-10)));
  EXPECT_TRUE(std::isnan(vabo_ring_two_theta(-1e-10, 1e-10)));
}

} // namespace
