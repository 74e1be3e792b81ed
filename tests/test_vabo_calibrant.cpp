/*
 * test_vabo_calibrant.cpp -- the calibrants (calib/vabo_calibrant.h): rings
 * of the built-ins against d-spacings computed by hand from their cells,
 * the reflections their lattices forbid, names and failures, and the reader
 * of d-spacing files with a table of malformed inputs.  Every ring of every
 * built-in is compared with pyFAI in check_calibrants.sh.
 */
#include "test_program.h"
#include "vabo_calibrant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using vabo_test::ScratchDir;

constexpr double kAngstrom = 1e-10;

VaboCalibrant load(const std::string &name, double dmin = VaboCalibrantAllRings)
{
  VaboCalibrant calibrant;
  std::string error;
  EXPECT_TRUE(vabo_calibrant_load(name.c_str(), dmin, calibrant, &error))
      << error;
  return calibrant;
}

/* The ring of d (m, to 1e-12 relative), or none. */
const VaboRing *find_ring(const VaboCalibrant &calibrant, double d)
{
  for (const VaboRing &ring : calibrant.rings)
    if (std::abs(ring.d - d) <= 1e-12 * d) return &ring;
  return nullptr;
}

struct RingCase {
  const char *name;
  double d; /* m, from the cell by hand */
  int h, k, l, multiplicity;
};

TEST(Calibrant, BuiltInRingsFollowFromTheCell)
{
  const double lab6 = 4.156826 * kAngstrom, ceo2 = 5.411651 * kAngstrom;
  const double si = 5.431179 * kAngstrom, a = 4.759091 * kAngstrom,
               c = 12.991779 * kAngstrom;
  const RingCase cases[] = {
      {"LaB6", lab6, 1, 0, 0, 6},
      {"LaB6", lab6 / 3, 3, 0, 0, 30},               /* (3 0 0) and (2 2 1) */
      {"LaB6", lab6 / std::sqrt(50.0), 7, 1, 0, 84}, /* 710, 550, 543 */
      {"CeO2", ceo2 / std::sqrt(3.0), 1, 1, 1, 8},
      {"CeO2", ceo2 / std::sqrt(27.0), 5, 1, 1, 32}, /* (5 1 1), (3 3 3) */
      {"Si", si / std::sqrt(8.0), 2, 2, 0, 12},
      {"Si", si / 4, 4, 0, 0, 6},
      {"Au", 4.0782 * kAngstrom / 2, 2, 0, 0, 6},
      {"Ni", 3.5239 * kAngstrom / std::sqrt(11.0), 3, 1, 1, 24},
      {"AgBh", 58.380 * kAngstrom / 7, 0, 0, 7, 2},
      {"Al2O3", 1 / std::sqrt(4 / (3 * a * a) + 4 / (c * c)), 1, 0, -2, 6},
      {"Al2O3", c / 6, 0, 0, 6, 2},
      {"Al2O3", a / 2, 2, -1, 0, 6}, /* 1/d^2 = 4 (4 - 2 + 1) / (3 a^2) */
      {"Al2O3", 1 / std::sqrt(4 * 7 / (3 * a * a) + 4 / (c * c)), 3, -1, -2,
       12},
  };
  for (const RingCase &t : cases) {
    SCOPED_TRACE(std::string(t.name) + " " + std::to_string(t.d));
    const VaboCalibrant calibrant = load(t.name);
    const VaboRing *ring = find_ring(calibrant, t.d);
    ASSERT_NE(ring, nullptr);
    EXPECT_NEAR(ring->d, t.d, 1e-15 * t.d);
    EXPECT_EQ(std::vector<int>(ring->hkl, ring->hkl + 3),
              std::vector<int>({t.h, t.k, t.l}));
    EXPECT_EQ(ring->multiplicity, t.multiplicity);
  }
}

TEST(Calibrant, LatticesSkipTheirForbiddenReflections)
{
  const double ceo2 = 5.411651 * kAngstrom, si = 5.431179 * kAngstrom;
  const double c = 12.991779 * kAngstrom;
  const struct {
    const char *name;
    double d;
  } absent[] = {
      {"CeO2", ceo2},
      {"CeO2", ceo2 / std::sqrt(2.0)}, /* mixed parity */
      {"Si", si / 2},
      {"Si", si / std::sqrt(12.0)}, /* h + k + l = 4n + 2 */
      {"Al2O3", c / 3},
      {"Al2O3", c / 2}, /* (0 0 l): l = 6n */
      {"AgBh", 58.380 * kAngstrom * 2},
  };
  for (const auto &t : absent)
    EXPECT_EQ(find_ring(load(t.name), t.d), nullptr) << t.name << " " << t.d;
}

TEST(Calibrant, RingsAreDistinctDecreasingAndReachDmin)
{
  for (const char *name : vabo_calibrant_names()) {
    const double dmin = 0.7385 * kAngstrom;
    const VaboCalibrant calibrant = load(name, dmin);
    EXPECT_EQ(calibrant.name, name);
    ASSERT_FALSE(calibrant.rings.empty()) << name;
    EXPECT_GE(calibrant.rings.back().d, dmin) << name;
    for (size_t i = 1; i < calibrant.rings.size(); ++i)
      EXPECT_LT(calibrant.rings[i].d,
                calibrant.rings[i - 1].d * (1 - VaboCalibrantSameD))
          << name << " ring " << i;
  }
  /* AgBh's rings down to the default limit: 58.380 / 0.4 = 145.95. */
  EXPECT_EQ(load("AgBh").rings.size(), 145u);
}

TEST(Calibrant, NamesCompareWithoutCase)
{
  EXPECT_EQ(load("lab6").name, "LaB6");
  EXPECT_EQ(load("AL2O3").name, "Al2O3");
  EXPECT_EQ(load("agbh").rings.size(), load("AgBh").rings.size());
}

TEST(Calibrant, FailuresLeaveTheCalibrantUntouched)
{
  const struct {
    const char *name;
    double dmin;
    const char *message; /* the start of the one line */
  } cases[] = {
      {"Quartz", VaboCalibrantAllRings,
       "unknown calibrant Quartz: neither a built-in one (LaB6, CeO2, Si, "
       "Al2O3, Au, Ni, AgBh) nor a file"},
      {"", VaboCalibrantAllRings, "unknown calibrant : "},
      {"LaB6", 0.05 * kAngstrom, "LaB6: dmin = 5e-12 m is below 1e-11 m"},
      {"Si", std::nan(""), "Si: dmin is not a number"},
      {"/", VaboCalibrantAllRings, "/: cannot read: Is a directory"},
  };
  for (const auto &t : cases) {
    VaboCalibrant out{"kept", {{2.5e-10, 3, {1, 2, 3}}}};
    std::string error;
    EXPECT_FALSE(vabo_calibrant_load(t.name, t.dmin, out, &error)) << t.name;
    EXPECT_EQ(error.rfind(t.message, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(out.name, "kept");
    EXPECT_EQ(out.rings.size(), 1u);
  }
  VaboCalibrant out;
  EXPECT_FALSE(vabo_calibrant_load(nullptr, 1e-10, out, nullptr));
}

/* ---- d-spacing files --------------------------------------------------- */

TEST(CalibrantFile, ReadsSortsAndMergesSpacings)
{
  ScratchDir dir;
  dir.write("mine.D", "# Calibrant: mine\n"
                      "2.0837 # (2, 0, 0)\n"
                      "\n"
                      "  4.1674\t\r\n"
                      "58.380/7   # an expression\n"
                      "2.0837\n"
                      "0.3512");
  VaboCalibrant calibrant;
  std::string error;
  ASSERT_TRUE(
      vabo_calibrant_load(dir.file("mine.D").c_str(), 1e-10, calibrant, &error))
      << error;
  EXPECT_EQ(calibrant.name, "mine.D");
  const double expected[] = {58.380 / 7, 4.1674, 2.0837};
  ASSERT_EQ(calibrant.rings.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_NEAR(calibrant.rings[i].d, expected[i] * kAngstrom,
                1e-15 * expected[i] * kAngstrom);
    EXPECT_EQ(calibrant.rings[i].multiplicity, 0);
    EXPECT_EQ(calibrant.rings[i].hkl[0] | calibrant.rings[i].hkl[1] |
                  calibrant.rings[i].hkl[2],
              0);
  }
}

TEST(CalibrantFile, MalformedFilesFailNamingTheLine)
{
  using namespace std::string_literals;
  const struct {
    std::string text;
    const char *message;
  } cases[] = {
      {"", "x.D: no d-spacing in the file"},
      {"# only a comment\n\n  \n", "x.D: no d-spacing in the file"},
      {"4.1\n*2.5\n", "x.D:2: '*2.5' is not a d-spacing"},
      {"4.1\n\nnan\n", "x.D:3: "},
      {"inf\n", "x.D:1: "},
      {"1e400\n", "x.D:1: d = inf is not a positive d-spacing"},
      {"1e-400\n", "x.D:1: d = 0 is not a positive d-spacing"},
      {"0\n", "x.D:1: d = 0 is not a positive d-spacing"},
      {"-2.35\n", "x.D:1: d = -2.35 is not a positive d-spacing"},
      {"2.35 100\n", "x.D:1: '100' follows the d-spacing 2.35"},
      {"2.35, 100\n", "x.D:1: ', 100' follows the d-spacing 2.35"},
      {"3.1\n2.3e", "x.D:2: 'e' follows the d-spacing 2.3"},
      {"3.1\n(2.3", "x.D:2: '(2.3' is not a d-spacing"},
      {"2.35_nm\n", "x.D:1: '2.35_nm' carries a unit"},
      {"1e-4\n", "x.D:1: d = 0.0001 Angstrom is outside 0.001 to 1e+07"},
      {"3e8\n", "x.D:1: d = 3e+08 Angstrom is outside"},
      {"3.1\n2.3\0\n"s, "x.D:2: control character 0x00 in column 4"},
      {"\x7f"
       "ELF\x02\x01",
       "x.D:1: control character 0x7F in column 1"},
      {"3.1\r2.3\n", "x.D:1: control character 0x0D in column 4"},
      {"3.1\n\xff\xfe 2\n", "x.D:2: '\xff\xfe 2' is not a d-spacing"},
      {std::string(300, '(') + "1", "x.D:1: '((((("},
  };
  for (const auto &t : cases) {
    VaboCalibrant out{"kept", {}};
    std::string error;
    EXPECT_FALSE(vabo_calibrant_read_text(t.text.data(), t.text.size(), "x.D",
                                          0.0, out, &error))
        << t.text;
    EXPECT_EQ(error.rfind(t.message, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u) << error;
    EXPECT_EQ(out.name, "kept");
  }
}

TEST(CalibrantFile, AMillionLinesAreRead)
{
  std::string text;
  for (int i = 0; i < 1000000; ++i)
    text += std::to_string(1.0 + i * 1e-6) + "\n"; /* 6 decimals */
  VaboCalibrant calibrant;
  std::string error;
  ASSERT_TRUE(vabo_calibrant_read_text(text.data(), text.size(), "big", 0.0,
                                       calibrant, &error))
      << error;
  ASSERT_EQ(calibrant.rings.size(), 1000000u);
  EXPECT_DOUBLE_EQ(calibrant.rings.front().d, 1.999999e-10);
  EXPECT_DOUBLE_EQ(calibrant.rings.back().d, 1e-10);
  /* dmin keeps the rings at or above it */
  ASSERT_TRUE(vabo_calibrant_read_text(text.data(), text.size(), "big", 1.5e-10,
                                       calibrant, &error));
  EXPECT_EQ(calibrant.rings.size(), 500000u);
}

} // namespace
