/*
 * gamma.cpp -- the gamma function by recursion into [2, 3).
 *
 * gamma and loggamma move the argument step by step into [2, 3) with
 * gamma(x+1) = x*gamma(x), where a fixed polynomial of degree 8 approximates
 * gamma(2 + y); from 20 on they use the Stirling series (_loggamma).  An
 * argument that lands within 1e-6 of 2 -- every whole number from 1 to 19 --
 * yields the accumulated product, so small factorials come out exact.
 * The library's own calls go through numio_gamma, which the C library's
 * gamma (ln |Gamma|) cannot displace however the library is loaded.
 */
#include "gamma.h"
#include "numio_internal.h"

namespace {

/* An argument this close to 2 ends the reduction: gamma(2) = 1. */
constexpr double kNearTwo = 1e-06;
/* Closer than this to zero the argument is taken as a pole. */
constexpr double kPole = 1e-30;
/* From here on the Stirling series is accurate to double precision. */
constexpr double kStirling = 20.0;

/* gamma(2 + y) for 0 <= y < 1, by Horner's rule from the highest
 * coefficient. */
double gamma_poly(double y)
{
  return 0.9999999758 +
         y * (0.4227874605 +
              y * (0.4117741955 +
                   y * (0.0821117404 +
                        y * (0.0721101567 +
                             y * (0.00445114 +
                                  y * (0.0051589951 + y * 0.0016063118))))));
}

} // namespace

extern "C" {

double _loggamma(double x) noexcept
{
  const double z = x - 1.0;
  if (z <= 1.0) return 1.0;
  const double z2 = z * z;
  const double z3 = z2 * z;
  const double z5 = z3 * z2;
  const double z7 = z5 * z2;
  return (z + 0.5) * std::log(z) - z + 0.5 * std::log(6.283185307179586) +
         1.0 / (12.0 * z) - 1.0 / (360.0 * z3) + 1.0 / (1260.0 * z5) -
         1.0 / (1680.0 * z7);
}

} // extern "C"

/* Far below zero the upward recursion would take one step per unit of
 * distance (and none at all once x + 1 == x); the true value there is far
 * below the smallest double, so such arguments give 0 at once, or the pole
 * value for whole numbers.  NaN and +infinity are passed through rather
 * than run through the reduction (which would give 1 and NaN). */
double numio_gamma(double X) noexcept
{
  if (std::isnan(X) || X == HUGE_VAL) return X;
  if (X <= GAMMA_NEGATIVE_LIMIT)
    return std::floor(X) == X ? GAMMA_POLE_VALUE : 0.0;
  double H = 1.0;
  double x = X;
  while (std::fabs(x - 2.0) >= kNearTwo) {
    if (std::fabs(x) < kPole) return GAMMA_POLE_VALUE;
    if (x < 2.0) {
      H = H / x;
      x = x + 1.0;
    } else if (x >= kStirling) {
      return std::exp(_loggamma(x));
    } else if (x < 3.0) {
      return H * gamma_poly(x - 2.0);
    } else {
      x = x - 1.0;
      H = H * x;
    }
  }
  return H;
}

extern "C" {

/* The interface name; the library itself calls numio_gamma. */
double gamma(double X) noexcept { return numio_gamma(X); }

double loggamma(double X) noexcept
{
  if (std::isnan(X) || X == HUGE_VAL) return X;
  double S = 0.0;
  double y = X;
  while (std::fabs(y - 2.0) >= kNearTwo) {
    if (y < kPole) return GAMMA_POLE_VALUE;
    if (y < 2.0) {
      S = S - std::log(y);
      y = y + 1.0;
    } else if (y >= kStirling) {
      return _loggamma(y);
    } else if (y >= 3.0) {
      y = y - 1.0;
      S = S + std::log(y);
    } else {
      return S + std::log(gamma_poly(y - 2.0));
    }
  }
  return S;
}

} // extern "C"
