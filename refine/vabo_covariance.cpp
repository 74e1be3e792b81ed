/*
 * vabo_covariance.cpp -- covariance and standard errors of a refinement.
 *
 * Entry points: VaboCovariance, which evaluates s2 (J^T W J)^-1 at given
 * parameters from the model's analytic Jacobian and residuals (in one walk
 * over the points, as the refinement's steps take them), with the status
 * that says why it could not; VaboCovStatusText;
 * and CholeskyInverse, the plain-algebra inversion it uses.  The partial
 * deviations of get_VaboParDev stay as they are: these standard errors take
 * the correlations between parameters into account, the deviations do not.
 * Owns its working arrays for one call; writes no output of its own.
 */
#include "vabo_base.h"
#include "vabo_geometry.h"
#include "vabo_internal.h"
#include "vabo_scratch.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

bool all_finite(const std::vector<double> &v)
{
  for (double x : v)
    if (!std::isfinite(x)) return false;
  return true;
}

/* Number of points that take part in the fit: those of positive weight. */
size_t weighted_points(size_t ndata, const double *Weight)
{
  size_t n = 0;
  for (size_t i = 0; i < ndata; ++i)
    if (Weight[i] > 0.0) ++n;
  return n;
}

/* The weighted sum of squared residuals and the normal matrix J^T W J
 * (nopt x nopt, column-major) at the parameters of Ordered.  In one walk
 * over the points (vabo_point_sums) unless the vabo trace or the showtemp
 * printouts are on; then with the residuals and the Jacobian of every point
 * (get_VaboB, get_VaboA) and their products, whose traces those switches
 * show.  Both give the same bits.  false when the storage of the per-point
 * arrays cannot be obtained. */
bool normal_matrix(double &squares, std::vector<double> &ATA,
                   const VaboOrdered &Ordered, size_t ndata,
                   const double *Angle, const double *I1, const double *I2,
                   const double *Weight)
{
  const size_t nopt = Ordered.nopt;
  if (vabo_per_step_model()) {
    VaboPointSums sums;
    vabo_point_sums(&sums, &Ordered, ndata, Angle, I1, I2, Weight);
    squares = sums.squares;
    std::copy(sums.ATA, sums.ATA + nopt * nopt, ATA.begin());
    return true;
  }
  std::vector<double> A, B;
  if (!vabo_obtain(A, ndata * nopt) || !vabo_obtain(B, ndata)) return false;
  const int rows = static_cast<int>(ndata);
  const int cols = static_cast<int>(nopt);
  get_VaboB(ndata, B.data(), &Ordered, Angle, I1, I2);
  squares = scalar_product_weight(B.data(), B.data(), Weight, rows);
  get_VaboA(ndata, A.data(), &Ordered, Angle, I1, I2);
  transpose_mul_weight(ATA.data(), A.data(), A.data(), Weight, cols, rows,
                       cols);
  return true;
}

} // namespace

/* Scales A to C = D^-1/2 A D^-1/2 (unit diagonal), factorises C = G^T G
 * with G upper triangular, and forms A^-1 = D^-1/2 C^-1 D^-1/2, C^-1
 * column by column from the unit vectors and made exactly symmetric.
 * 0; -1 with Ainv untouched. */
int CholeskyInverse(int n, const double *A, double *Ainv)
{
  if (n < 0) return -1;
  if (n > 0 && !(A && Ainv)) return -1;
  const size_t un = static_cast<size_t>(n);

  ScratchArray<NParams> scale, Y;
  ScratchArray<NParams * NParams> G, X;
  if (!scale.obtain(un) || !G.obtain(un * un) || !Y.obtain(un) ||
      !X.obtain(un * un))
    return -1;

  for (size_t i = 0; i < un; ++i) {
    const double diagonal = A[i * un + i];
    if (!(diagonal > 0.0) || !std::isfinite(diagonal)) return -1;
    scale[i] = 1.0 / std::sqrt(diagonal);
  }

  /* C = G^T G, row by row of G: the factorisation of CholeskySolve. */
  for (size_t i = 0; i < un; ++i) {
    for (size_t j = i; j < un; ++j) {
      double sum = A[i * un + j] * scale[i] * scale[j];
      for (size_t k = i; k-- > 0;) sum -= G[i * un + k] * G[j * un + k];
      if (j == i) {
        if (!(sum > VABO_MIN_PIVOT_RATIO) || !std::isfinite(sum)) return -1;
        G[i * un + i] = std::sqrt(sum);
      } else {
        G[j * un + i] = sum / G[i * un + i];
      }
    }
  }

  /* Column c of C^-1 solves G^T Y = e_c, then G x = Y. */
  for (size_t c = 0; c < un; ++c) {
    for (size_t i = 0; i < un; ++i) {
      double sum = (i == c) ? 1.0 : 0.0;
      for (size_t k = 0; k < i; ++k) sum -= G[i * un + k] * Y[k];
      Y[i] = sum / G[i * un + i];
    }
    double *x = &X[c * un];
    for (size_t i = un; i-- > 0;) {
      double sum = Y[i];
      for (size_t k = un - 1; k > i; --k) sum -= G[k * un + i] * x[k];
      x[i] = sum / G[i * un + i];
    }
  }

  /* The two triangles differ by rounding; their mean, times a product of
   * scales formed in one multiplication, is exactly symmetric. */
  for (size_t c = 0; c < un; ++c)
    for (size_t r = 0; r < un; ++r)
      Ainv[c * un + r] =
          (0.5 * (X[c * un + r] + X[r * un + c])) * (scale[r] * scale[c]);
  return 0;
}

int VaboCovariance(double *Cov, double *ps2, size_t *pnopt, const double *Par,
                   const int *ParMode, size_t ndata, const double *Angle,
                   const double *I1, const double *I2, const double *Weight)
{
  if (ps2) *ps2 = NAN;
  if (pnopt) *pnopt = 0;
  if (!Par) return VaboCovFailed;

  VaboOrdered Ordered;
  const size_t nopt = order_Par(&Ordered, Par, ParMode);
  if (pnopt) *pnopt = nopt;
  if (!vabo_tables_given(ndata, Angle, I1, I2, Weight)) return VaboCovFailed;
  if (ndata > kVaboMaxPoints) return VaboCovFailed;

  const size_t npoints = weighted_points(ndata, Weight);
  if (npoints <= nopt) return VaboCovTooFewPoints;

  std::vector<double> ATA, inverse;
  if (!vabo_obtain(ATA, nopt * nopt) || !vabo_obtain(inverse, nopt * nopt))
    return VaboCovNoMemory;
  const int rows = static_cast<int>(ndata);
  const int cols = static_cast<int>(nopt);
  double squares = 0.0;
  if (!normal_matrix(squares, ATA, Ordered, ndata, Angle, I1, I2, Weight))
    return VaboCovNoMemory;
  const double s2 = squares / static_cast<double>(npoints - nopt);
  if (ps2) *ps2 = s2;
  if (!std::isfinite(s2) || !all_finite(ATA)) return VaboCovNotFinite;

  const double total = scalar_components_sum(Weight, rows);
  /* The test the refinement applies before each step: a parameter that acts
   * on no angle has a column of rounding noise, which the pivots of the
   * inversion cannot tell from a real column. */
  if (vabo_without_influence(ATA.data(), nopt, total))
    return VaboCovSingular;
  if (CholeskyInverse(cols, ATA.data(), inverse.data()) != 0)
    return VaboCovSingular;

  if (Cov)
    for (size_t k = 0; k < nopt * nopt; ++k) Cov[k] = s2 * inverse[k];
  return VaboCovOk;
}

const char *VaboCovStatusText(int status)
{
  switch (status) {
  case VaboCovOk:
    return "success";
  case VaboCovTooFewPoints:
    return "no more points of positive weight than refined parameters";
  case VaboCovSingular:
    return "the refined parameters are not determined by the points "
           "(singular normal matrix)";
  case VaboCovNotFinite:
    return "residuals or derivatives are not finite numbers";
  case VaboCovFailed:
    return "missing argument";
  case VaboCovNoMemory:
    return "memory allocation failed";
  default:
    return "unknown status";
  }
}
