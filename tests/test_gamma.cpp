/*
 * Tests of the gamma function: exact factorials from the recursion, the
 * polynomial and Stirling ranges against the C library's tgamma/lgamma, poles,
 * and arguments far below zero returning in bounded time.
 */
#include "gamma.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Gamma, WholeNumbersGiveExactFactorials)
{
  double factorial = 1.0;
  for (int n = 1; n <= 19; ++n) {
    EXPECT_EQ(gamma(n), factorial) << "n = " << n;
    factorial *= n;
  }
  EXPECT_EQ(gamma(10), 362880.0);
}

TEST(Gamma, NearTwoYieldsTheAccumulatedFactor)
{
  EXPECT_EQ(gamma(2.0000005), 1.0);
}

struct GammaCase {
  double x;
  double expected;
  double reltol;
};

TEST(Gamma, AgreesWithTheLibraryToAboutEightDigits)
{
  const GammaCase cases[] = {
      {0.5, 1.77245382, 5e-8},           {-0.5, -3.54490764, 5e-8},
      {2.385, std::tgamma(2.385), 5e-8}, {7.77, std::tgamma(7.77), 5e-8},
      {19.5, std::tgamma(19.5), 5e-8},   {25, 6.2044840e23, 1e-7},
      {33.3, std::tgamma(33.3), 1e-12},  {-3.3, std::tgamma(-3.3), 5e-8},
  };
  for (const auto &c : cases)
    EXPECT_NEAR(gamma(c.x) / c.expected, 1.0, c.reltol) << "x = " << c.x;
}

TEST(Gamma, PolesGiveTheLargestDouble)
{
  for (double x : {0.0, -1.0, -2.0, -17.0})
    EXPECT_EQ(gamma(x), 1.7976931348623157e308) << "x = " << x;
}

TEST(Gamma, FarNegativeArgumentsReturnAtOnce)
{
  EXPECT_EQ(gamma(-1e300), 1.7976931348623157e308); /* a whole number */
  EXPECT_EQ(gamma(-1e16), 1.7976931348623157e308);
  EXPECT_EQ(gamma(-123456.5), 0.0);
  /* Just above the limit the recursion itself runs and underflows to 0. */
  EXPECT_EQ(std::fabs(gamma(-999.5)), 0.0);
}

TEST(Gamma, NaNAndInfinityPassThrough)
{
  EXPECT_TRUE(std::isnan(gamma(NAN)));
  EXPECT_EQ(gamma(HUGE_VAL), HUGE_VAL);
  EXPECT_TRUE(std::isnan(loggamma(NAN)));
}

TEST(LogGamma, AgreesWithTheLibrary)
{
  EXPECT_EQ(loggamma(1), 0.0);
  EXPECT_EQ(loggamma(2), 0.0);
  for (double x : {0.37, 1.5, 2.385, 6.02, 19.9, 20.0, 123.4, 1e6})
    EXPECT_NEAR(loggamma(x), std::lgamma(x),
                2e-8 * std::fmax(1.0, std::fabs(std::lgamma(x))))
        << "x = " << x;
}

TEST(LogGamma, NonPositiveArgumentsGiveTheLargestDouble)
{
  EXPECT_EQ(loggamma(0), 1.7976931348623157e308);
  EXPECT_EQ(loggamma(-2.5), 1.7976931348623157e308);
}

TEST(LogGamma, StirlingSeriesOutsideItsRangeGivesOne)
{
  EXPECT_EQ(_loggamma(2.0), 1.0);
  EXPECT_NEAR(_loggamma(30.0), std::lgamma(30.0), 1e-12);
}

} // namespace
