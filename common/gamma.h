/*
 * gamma -- the gamma function and its logarithm.
 *
 * Entry points: gamma (the GAMMA instruction of the expression machine),
 * loggamma (ln of gamma for positive arguments) and _loggamma (the Stirling
 * series both switch to from 20 on).  The argument is reduced by
 * gamma(x+1) = x*gamma(x) into [2, 3), where a fixed polynomial approximates
 * gamma to about eight significant digits; whole numbers 1 ... 19 give exact
 * factorials.  No errors are reported: poles give the largest double.
 *
 * The C library already declares a function gamma (the old name of lgamma);
 * this header declares ours with the same C linkage and signature, so that
 * the program's definition is the one that is linked.
 */
#ifndef VABO_GAMMA_H
#define VABO_GAMMA_H

#include <cmath>

/* Value returned at a pole (and for arguments beyond the recursion's reach). */
#define GAMMA_POLE_VALUE 1.7976931348623157e308

/* Negative arguments at or below this bound are not reduced step by step:
 * the recursion would need a step per unit of distance (and makes no
 * progress at all from about -9e15 on), while the true value has underflowed
 * below the smallest double from about -180 on.  gamma returns 0 there, or
 * the pole value for whole numbers. */
#define GAMMA_NEGATIVE_LIMIT (-1000.0)

extern "C" {

/* Gamma(X).  Returns GAMMA_POLE_VALUE within 1e-30 of a pole reached by the
 * recursion; NaN for NaN, +inf for +inf; for X at or below
 * GAMMA_NEGATIVE_LIMIT 0, or GAMMA_POLE_VALUE if X is a whole number. */
double gamma(double X) noexcept;

/* ln Gamma(X) for X > 0; GAMMA_POLE_VALUE for X below 1e-30 (negative
 * arguments included); NaN for NaN, +inf for +inf. */
double loggamma(double X) noexcept;

/* The Stirling series for ln Gamma(x), meant for x >= 20; returns 1 for
 * x - 1 <= 1 (outside its range of use). */
double _loggamma(double x) noexcept;
}

#endif
