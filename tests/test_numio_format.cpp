/*
 * Tests of numio's formatting: longs in decimal and hexadecimal, doubles
 * plain, in a unit (and read back through num_str2double) and in
 * hexadecimal, the error texts, the case-insensitive comparison, version and
 * debug level.  Buffers are heap blocks of exactly buflen characters so that
 * the sanitizer build catches every write past the end.
 */
#include "numio.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

/* A heap buffer of exactly len characters, pre-filled with '#'. */
struct Buffer {
  explicit Buffer(unsigned long len)
      : data(new char[len == 0 ? 1 : len]), size(len)
  {
    std::memset(data.get(), '#', len == 0 ? 1 : len);
  }
  char *get() { return size == 0 ? nullptr : data.get(); }
  std::unique_ptr<char[]> data;
  unsigned long size;
};

constexpr int kUnset = -12345;

/* Decimal texts cut to the buffer; hexadecimal ones show the 32-bit pattern
 * of negatives. */
TEST(Format, LongToTextCutsToTheBuffer)
{
  using Writer = char *(*)(char *, unsigned long, long, int *);
  struct LongCase {
    Writer write;
    long value;
    unsigned long buflen;
    const char *expected;
  };
  const LongCase cases[] = {
      {num_long2str, 12345, 4, "123"},
      {num_long2str, 12345, 6, "12345"},
      {num_long2str, 12345, 5, "1234"},
      {num_long2str, -2147483648L, 32, "-2147483648"},
      {num_long2str, -7, 1, ""},
      {num_long2str, -9000000000L, 32, "-9000000000"},
      {num_long2hex, -1, 32, "0xffffffff"},
      {num_long2hex, 255, 32, "0xff"},
      {num_long2hex, 0, 32, "0x0"},
      {num_long2hex, -2147483648L, 32, "0x80000000"},
      {num_long2hex, 2147483647, 32, "0x7fffffff"},
      {num_long2hex, -48879, 32, "0xffff4111"},
      {num_long2hex, 4294967296L, 32, "0x100000000"},
      {num_long2hex, -1, 5, "0xff"},
      {num_long2hex, -1, 1, ""},
  };
  for (const LongCase &c : cases) {
    Buffer buf(c.buflen);
    int err = kUnset;
    char *result = c.write(buf.get(), c.buflen, c.value, &err);
    EXPECT_EQ(err, 0) << c.value << " as " << c.expected;
    ASSERT_EQ(result, buf.get()) << c.value << " as " << c.expected;
    EXPECT_STREQ(result, c.expected) << c.value;
  }
}

TEST(Format, MissingBufferGivesError11EverywhereWithoutACrash)
{
  char one[1] = {'#'};
  int err = kUnset;
  EXPECT_EQ(num_long2str(nullptr, 16, 5, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  err = kUnset;
  EXPECT_EQ(num_long2str(one, 0, 5, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  err = kUnset;
  EXPECT_EQ(num_long2hex(one, 0, 5, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  err = kUnset;
  EXPECT_EQ(num_double2str(nullptr, 64, 2.5, nullptr, 0, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  err = kUnset;
  EXPECT_EQ(num_double2str(one, 0, 2.5, "cm", 0, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  err = kUnset;
  EXPECT_EQ(num_double2hex(nullptr, 64, 2.5, 3, &err), nullptr);
  EXPECT_EQ(err, NUM_EWRITE);
  EXPECT_EQ(double2s(nullptr, 2.5, 3), nullptr);
  EXPECT_EQ(num_errval2str(nullptr, 64, 1), nullptr);
  EXPECT_EQ(num_errval2str(one, 0, 1), nullptr);
  EXPECT_EQ(one[0], '#');
  /* A null perrval is fine. */
  EXPECT_EQ(num_long2str(nullptr, 16, 5, nullptr), nullptr);
}

TEST(Format, DoubleToTextUsesSignificantDigits)
{
  char buf[NUM_FORMAT_BUFLEN];
  EXPECT_STREQ(double2s(buf, 0.1, 0), "0.1");
  EXPECT_STREQ(double2s(buf, 1.0 / 3.0, 0), "0.333333");
  EXPECT_STREQ(double2s(buf, 1.0 / 3.0, -3), "0.333");
  EXPECT_STREQ(double2s(buf, 1.0 / 3.0, 3), "0.333");
  EXPECT_STREQ(double2s(buf, 2.385e-17, 2), "2.4e-17");
  EXPECT_STREQ(double2s(buf, 0.1, 17), "0.10000000000000001");

  char expected[NUM_FORMAT_BUFLEN];
  std::snprintf(expected, sizeof expected, "%.80lg", -1.0 / 7.0);
  EXPECT_STREQ(double2s(buf, -1.0 / 7.0, 200), expected);
  EXPECT_STREQ(double2s(buf, -1.0 / 7.0, INT_MIN), expected);
  std::snprintf(expected, sizeof expected, "%.80lg", -DBL_MAX);
  EXPECT_STREQ(double2s(buf, -DBL_MAX, INT_MAX), expected);
}

struct UnitCase {
  double value;
  const char *unit;
  int ndigits;
  unsigned long buflen;
  const char *expected; /* none: the call fails with errval */
  int errval;
};

TEST(Format, DoubleInAUnitOrPlainIsWrittenOrRefused)
{
  const UnitCase cases[] = {
      {0.11, "cm", 0, 64, "11_cm", 0},
      {0.11, "cm", 0, 6, "11_cm", 0},
      {0.11, "cm", 0, 5, nullptr, NUM_EWRITE},
      {0.11, "cm", 0, 1, nullptr, NUM_EWRITE},
      {4, "m+1", 0, 64, "2_(m+1)", 0},
      {4, "m+1", 0, 8, "2_(m+1)", 0},
      {4, "m+1", 0, 7, nullptr, NUM_EWRITE},
      {27.8, "m/s", 0, 64, "27.8_m/s", 0},
      {-0.3839724354387525, "deg", 0, 64, "-22_deg", 0},
      {0.11, "cm ", 0, 64, "11_cm ", 0},
      {2.385e-05, "um", 3, 64, "23.9_um", 0},
      {0.11, "cm xyz", 0, 64, nullptr, NUM_EUNIT},
      {0.11, "0", 0, 64, nullptr, NUM_EDIVZERO},
      {0.11, "m-m", 0, 64, nullptr, NUM_EDIVZERO},
      {0.11, "foo", 0, 64, nullptr, NUM_ENOTFLOAT},
      {0.11, "(cm", 0, 64, nullptr, NUM_EPAREN},
      {0.11, "log(0)", 0, 64, nullptr, NUM_EDOMAIN},
      /* Without a unit the text is cut without an error. */
      {3.14159, nullptr, 0, 4, "3.1", 0},
      {3.14159, nullptr, 0, 1, "", 0},
      {1.0 / 3.0, nullptr, -3, 64, "0.333", 0},
      {3.14159, "", 0, 4, "3.1", 0},
      {3.14159, "", 0, 1, "", 0},
      {1.0 / 3.0, "", -3, 64, "0.333", 0},
  };
  for (const UnitCase &c : cases) {
    Buffer buf(c.buflen);
    int err = kUnset;
    char *result =
        num_double2str(buf.get(), c.buflen, c.value, c.unit, c.ndigits, &err);
    EXPECT_EQ(err, c.errval) << c.unit << " buflen " << c.buflen;
    if (c.expected) {
      ASSERT_EQ(result, buf.get()) << c.unit;
      EXPECT_STREQ(result, c.expected) << c.unit;
    } else {
      EXPECT_EQ(result, nullptr) << c.unit;
      /* Nothing is written on failure, not even a cut text. */
      EXPECT_EQ(buf.data[0], '#') << c.unit << " buflen " << c.buflen;
    }
  }
}

/* Reads text fully with num_str2double; the whole text must be taken. */
double ReadBack(const char *text)
{
  const char *tail = nullptr;
  int err = kUnset;
  double value = num_str2double(text, &tail, &err);
  EXPECT_EQ(err, 0) << text;
  EXPECT_TRUE(tail && (*tail == '\0' || *tail == ' ')) << text;
  return value;
}

/* Random doubles: both signs, magnitudes over 30 decades, high entropy. */
std::vector<double> RandomValues(size_t count)
{
  std::mt19937_64 rng(2385);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> decade(-15, 15);
  std::vector<double> values;
  for (size_t i = 0; i < count; ++i) {
    double v = mantissa(rng) * std::pow(10.0, decade(rng));
    values.push_back(i % 2 ? -v : v);
  }
  return values;
}

struct RoundTripCase {
  int ndigits;
  std::vector<const char *> units;
  double reltol; /* allowed |read back - value| / |value| */
};

TEST(Format, DoubleInAUnitReadsBackToTheDigitsWritten)
{
  constexpr double eps = std::numeric_limits<double>::epsilon();
  /* 17 digits in a unit of value 1 are exact; in any other unit value/unit
   * is rounded once and number*unit once more when read (about one unit in
   * the last place); n digits add half a unit of the n-th digit. */
  const RoundTripCase cases[] = {
      {17, {"m", "rad", "J", "1/s", "m*s/s", "kg"}, 0.0},
      {17,
       {"cm", "um", "deg", "keV", "hPa", "m/s", "mm2", "m+1", "2*mm", "ft/min",
        "Torr"},
       2.5 * eps},
      {3, {"mm", "mrad", "eV", "bar", "m+1"}, 0.5e-2 + 4 * eps},
      {6, {"mm", "mrad", "eV", "bar", "m+1"}, 0.5e-5 + 4 * eps},
      {10, {"mm", "mrad", "eV", "bar", "m+1"}, 0.5e-9 + 4 * eps},
  };
  for (const RoundTripCase &c : cases) {
    for (const char *unit : c.units) {
      for (double v : RandomValues(150)) {
        char buf[256];
        int err = kUnset;
        ASSERT_NE(num_double2str(buf, sizeof buf, v, unit, c.ndigits, &err),
                  nullptr)
            << unit;
        ASSERT_EQ(err, 0);
        double back = ReadBack(buf);
        EXPECT_LE(std::fabs(back - v), c.reltol * std::fabs(v)) << buf;
      }
    }
  }
}

struct HexCase {
  double value;
  int ndigits;
  unsigned long buflen;
  const char *expected; /* none: error 11 */
};

TEST(Format, DoubleToHexWritesTruncatedDigits)
{
  const double inf = std::numeric_limits<double>::infinity();
  const HexCase cases[] = {
      {255, 2, 32, "0xff"},
      {-255, 2, 32, "-0xff"},
      {0.5, 4, 32, "0x0.8000"},
      {0, 3, 32, "0x0.00"},
      {0.5, 0, 32, "0x0"},
      {4096, 0, 7, "0x1000"},
      {4096, 0, 6, "0x100"},
      {2.385, 6, 32, "0x2.628f5"},
      {-2.385, -6, 32, "-0x2.628f5"},
      {4096.75, 6, 32, "0x1000.c0"},
      {15.9999, 1, 32, "0xf"},
      {16, 1, 32, "0x10"},
      {0.0009765625, 2, 32, "0x0.0040"},
      {-0.0, 2, 32, "0x0.0"},
      {std::nan(""), 5, 32, "0x"},
      {inf, 5, 32, "0x"},
      {-inf, 5, 32, "-0x"},
      {255, 2, 4, "0xf"},
      {-255, 2, 5, "-0xf"},
      {1.5, 4, 6, "0x1.8"},
      {1e300, 3, 20, "0x17e43c8800759c000"},
      /* "0x1" and room for one more character: writing the fraction digit
       * without its point would turn 1.5 into "0x18". */
      {1.5, 4, 5, "0x1"},
      {255, 2, 3, nullptr},
      {-1, 2, 4, nullptr},
      {1, 2, 0, nullptr},
  };
  for (const HexCase &c : cases) {
    Buffer buf(c.buflen);
    int err = kUnset;
    char *result =
        num_double2hex(buf.get(), c.buflen, c.value, c.ndigits, &err);
    if (!c.expected) {
      EXPECT_EQ(result, nullptr) << c.value << " buflen " << c.buflen;
      EXPECT_EQ(err, NUM_EWRITE);
      continue;
    }
    EXPECT_EQ(err, 0) << c.value;
    ASSERT_EQ(result, buf.get()) << c.value;
    EXPECT_STREQ(result, c.expected) << c.value << " ndigits " << c.ndigits;
  }
}

TEST(Format, HexOfTinyAndHugeRequestsStaysInTheBuffer)
{
  for (double v : {4.9e-324, 2.2250738585072014e-308, DBL_MAX, 0.0}) {
    for (int ndigits : {0, 3, 400, INT_MIN, INT_MAX}) {
      Buffer buf(40);
      int err = kUnset;
      char *result = num_double2hex(buf.get(), 40, v, ndigits, &err);
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(err, 0);
      EXPECT_LT(std::strlen(result), 40u);
      EXPECT_EQ(std::strncmp(result, "0x", 2), 0) << result;
    }
  }
}

TEST(Format, ErrorTextsMatchTheirValues)
{
  const char *const texts[] = {
      "success",
      "memory allocation failed",
      "error scanning expression",
      "missing comma in expression",
      "bad parenthesis in expression",
      "expression is not a float number",
      "unknown float function in expression",
      "domain error",
      "expression is not an integer number",
      "integer overflow",
      "division by zero",
      "error writing value",
      "undefined variable",
      "unknown error value",
      "error creating program",
      "unknown program instruction",
      "not enough program registers",
      "bad unit",
  };
  char buf[64];
  for (int errval = 0; errval <= 17; ++errval)
    EXPECT_STREQ(num_errval2str(buf, sizeof buf, errval), texts[errval])
        << errval;
  for (int errval : {-1, 18, 1000, INT_MIN, INT_MAX})
    EXPECT_STREQ(num_errval2str(buf, sizeof buf, errval), "unknown error value")
        << errval;
}

TEST(Format, ErrorTextIsCutToTheBuffer)
{
  Buffer eight(8);
  EXPECT_STREQ(num_errval2str(eight.get(), 8, 1), "memory ");
  Buffer one(1);
  EXPECT_STREQ(num_errval2str(one.get(), 1, 1), "");
}

struct CaseCompare {
  const char *s1;
  const char *s2;
  unsigned long n;
  int sign;
};

TEST(Format, CaseInsensitiveComparisonOverTheFirstNCharacters)
{
  // clang-format off
  const CaseCompare cases[] = {
      {"TRUE", "true", 4, 0},      {"yesterday", "yes", 3, 0},
      {"yesterday", "yes", 4, 1},  {"abc", "ABD", 3, -1},
      {"abc", "ab", 3, 1},         {"ab", "abc", 3, -1},
      {"ZZ", "a", 0, 0},           {"No", "nO", 100, 0},
      {"[", "{", 1, -1},           {"\xe4", "a", 1, 1},
      {nullptr, "", 5, 0},         {"x", nullptr, 5, 1},
  };
  // clang-format on
  for (const CaseCompare &c : cases) {
    int r = num_strncasecmp(c.s1, c.s2, c.n);
    int sign = (r > 0) - (r < 0);
    EXPECT_EQ(sign, c.sign) << (c.s1 ? c.s1 : "(null)") << " vs "
                            << (c.s2 ? c.s2 : "(null)") << " n " << c.n;
  }
}

TEST(Format, VersionAndDebugLevel)
{
  EXPECT_STREQ(numio_version(), "numio : V1.40 Kelvardo 2013-07-20");
  numio_debug(3);
  EXPECT_EQ(NUMIO_debug, 3);
  numio_debug(0);
  EXPECT_EQ(NUMIO_debug, 0);
}

} // namespace
