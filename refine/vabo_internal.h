/*
 * vabo_internal.h -- what the sources of the refinement module share and
 * other programs do not see (internal to the module, not part of its
 * interface): the trace and showtemp tests, the limit on the number of
 * points, the storage and argument checks, the bounded text appender, the
 * Cholesky solution with its reason of failure and the record of why a
 * refinement failed.
 *
 * Two concerns keep focused headers of their own, each included only by
 * the sources that need it: vabo_geometry.h, the detector model at one
 * parameter set evaluated for many points (the model, the loop and the
 * covariance), and vabo_scratch.h, the working arrays of the linear algebra
 * that need no heap up to NParams unknowns.
 */
#ifndef VABO_INTERNAL_H
#define VABO_INTERNAL_H

#include "vabo_base.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <vector>

/* ---------------------------------------------------------------------
 * Debug output
 * ------------------------------------------------------------------- */

/* With the vabo switch every traced entry point writes its name and a line
 * end to standard output on entry. */
inline void vabo_trace(const char *name)
{
  if (VABODebug() & VABO_VABO) printf("%s\n", name);
}

/* Whether the showtemp switch asks for the intermediate vectors and
 * matrices. */
inline bool vabo_showtemp() { return (VABODebug() & VABO_SHOWTEMP) != 0; }

/* ---------------------------------------------------------------------
 * Dimension, limits, storage and arguments
 * ------------------------------------------------------------------- */

/* Components of a laboratory vector X: the rows of a derivative column of
 * DX and of the rotation. */
inline constexpr int kVaboDim = 3;

/* Most calibration points one refinement or covariance takes: the matrix
 * arithmetic indexes the ndata x nopt Jacobian with int, and nopt is at most
 * NParams. */
inline constexpr size_t kVaboMaxPoints = static_cast<size_t>(INT_MAX) / NParams;

/* Sizes v to size zeros; false (v unusable, released by its owner) when
 * the storage cannot be obtained. */
bool vabo_obtain(std::vector<double> &v, size_t size);

/* Whether the four calibration tables of ndata points are all given (none
 * are needed for no points). */
inline bool vabo_tables_given(size_t ndata, const double *Angle,
                              const double *I1, const double *I2,
                              const double *Weight)
{
  return ndata == 0 || (Angle && I1 && I2 && Weight);
}

/* Whether a refined parameter acts on no angle: the weighted root mean
 * square of its Jacobian column, sqrt(ATA(j, j) / total) for the normal
 * matrix ATA (nopt x nopt) and the total weight, is at or below
 * VABO_MIN_INFLUENCE (or not a number).  Such a column is rounding noise
 * (rot3 at any tilt), which the Cholesky pivots cannot tell from a real
 * column. */
bool vabo_without_influence(const double *ATA, size_t nopt, double total);

/* The values of smallest and of largest magnitude among those offered,
 * sign kept, the first of equal magnitudes: a value replaces the kept one
 * only when its magnitude beats it strictly (a NaN offered first stays).
 * Both are 0 before any value is offered. */
struct VaboExtremes {
  double min = 0.0;
  double max = 0.0;
  bool any = false;

  void offer(double value)
  {
    if (!any || std::fabs(value) < std::fabs(min)) min = value;
    if (!any || std::fabs(value) > std::fabs(max)) max = value;
    any = true;
  }
};

/* Sum of W[0] ... W[n-1], ascending from 0 (scalar_components_sum without
 * its trace line). */
inline double vabo_sum(const double *W, size_t n)
{
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) sum += W[i];
  return sum;
}

/* Number of points of positive weight: those that take part in a fit. */
inline size_t vabo_weighted_points(size_t ndata, const double *Weight)
{
  size_t n = 0;
  for (size_t i = 0; i < ndata; ++i)
    if (Weight[i] > 0.0) ++n;
  return n;
}

/* ---------------------------------------------------------------------
 * Text forms
 * ------------------------------------------------------------------- */

/* Appends formatted pieces to a caller's buffer of bufsiz characters: never
 * writes past bufsiz - 1, keeps the text terminated, and drops what does
 * not fit.  A null buffer or a bufsiz of 0 takes nothing. */
class VaboTextAppender {
public:
  VaboTextAppender(char *buffer, size_t bufsiz)
      : buffer_(buffer), bufsiz_(bufsiz)
  {
    if (buffer_ && bufsiz_ > 0) buffer_[0] = '\0';
  }

  [[gnu::format(printf, 2, 3)]] void append(const char *format, ...)
  {
    if (!buffer_ || used_ + 1 >= bufsiz_) return;
    const size_t room = bufsiz_ - used_;
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(buffer_ + used_, room, format, args);
    va_end(args);
    if (written < 0) {
      buffer_[used_] = '\0';
      return;
    }
    const size_t n = static_cast<size_t>(written);
    used_ += (n < room) ? n : room - 1;
  }

  /* Stores the terminating null at bufsiz - 1 in any case; returns the
   * buffer. */
  char *finish()
  {
    if (buffer_ && bufsiz_ > 0) buffer_[bufsiz_ - 1] = '\0';
    return buffer_;
  }

private:
  char *buffer_;
  size_t bufsiz_;
  size_t used_ = 0;
};

/* ---------------------------------------------------------------------
 * Linear algebra with its reasons of failure (vabo_linalg.cpp)
 * ------------------------------------------------------------------- */

/* How a Cholesky solution ended. */
enum class VaboCholesky {
  Solved,
  NotPositiveDefinite, /* a pivot not above the pivot test: A is singular */
  NoWorkspace,         /* more unknowns than fit locally, and no heap */
  BadArgument          /* a negative order or a missing array */
};

/* CholeskySolve, telling why it failed; X untouched unless Solved. */
VaboCholesky vabo_cholesky_solve(int n, const double *A, const double *B,
                                 double *X);

/* ---------------------------------------------------------------------
 * Failures of a refinement (vabo_refine.cpp)
 * ------------------------------------------------------------------- */

/* Records why a refinement fails, for VaboOptimizeLastFailure; returns the
 * refinement's failure status 1. */
int vabo_optimize_fail(VaboOptimizeFailure why);

#endif
