/*
 * vabo_covariance.cpp -- covariance and standard errors of a refinement.
 *
 * Entry points: VaboCovariance, which evaluates s2 (J^T W J)^-1 at given
 * parameters from the model's analytic Jacobian and residuals (in one walk
 * over the points, as the refinement's steps take them), with the status
 * that says why it could not; VaboCovarianceNormal, the same from the
 * normal equations a refinement ended with, without that walk; and
 * VaboCovStatusText.  The inversion of the normal matrix, CholeskyInverse,
 * is plain algebra (vabo_linalg.cpp).  The partial deviations of get_VaboParDev
 * stay as they are: these standard errors take the correlations between
 * parameters into account, the deviations do not. Owns its working arrays for
 * one call; writes no output of its own.
 */
#include "vabo_base.h"
#include "vabo_geometry.h"
#include "vabo_internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

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

  VaboNormal normal{};
  normal.nopt = nopt;
  normal.npoints = vabo_weighted_points(ndata, Weight);
  if (normal.npoints <= nopt) return VaboCovTooFewPoints;

  std::vector<double> ATA;
  if (!vabo_obtain(ATA, nopt * nopt)) return VaboCovNoMemory;
  if (!normal_matrix(normal.squares, ATA, Ordered, ndata, Angle, I1, I2,
                     Weight))
    return VaboCovNoMemory;
  std::copy(ATA.begin(), ATA.end(), normal.ATA);
  /* The total weight is summed (and traced) only for a fit whose sums are
   * finite numbers; the others end as not finite without it. */
  const double s2 = normal.squares / static_cast<double>(normal.npoints - nopt);
  const bool finite = std::isfinite(s2) &&
                      std::all_of(ATA.begin(), ATA.end(),
                                  [](double x) { return std::isfinite(x); });
  normal.total =
      finite ? scalar_components_sum(Weight, static_cast<int>(ndata)) : NAN;
  normal.valid = 1;
  return VaboCovarianceNormal(Cov, ps2, &normal);
}

int VaboCovarianceNormal(double *Cov, double *ps2, const VaboNormal *Normal)
{
  if (ps2) *ps2 = NAN;
  if (!Normal || !Normal->valid || Normal->nopt > VABO_MAX_UNKNOWNS)
    return VaboCovFailed;
  const size_t nopt = Normal->nopt;
  if (Normal->npoints <= nopt) return VaboCovTooFewPoints;

  const double s2 =
      Normal->squares / static_cast<double>(Normal->npoints - nopt);
  if (ps2) *ps2 = s2;
  if (!std::isfinite(s2) ||
      !std::all_of(Normal->ATA, Normal->ATA + nopt * nopt,
                   [](double x) { return std::isfinite(x); }))
    return VaboCovNotFinite;

  /* The test the refinement applies before each step: a parameter that acts
   * on no angle has a column of rounding noise, which the pivots of the
   * inversion cannot tell from a real column. */
  if (vabo_without_influence(Normal->ATA, nopt, Normal->total))
    return VaboCovSingular;
  double inverse[VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS];
  if (CholeskyInverse(static_cast<int>(nopt), Normal->ATA, inverse) != 0)
    return VaboCovSingular;

  if (Cov)
    for (size_t k = 0; k < nopt * nopt; ++k) Cov[k] = s2 * inverse[k];
  return VaboCovOk;
}

const char *VaboCovStatusText(int status)
{
  switch (status) {
  case VaboCovOk: return "success";
  case VaboCovTooFewPoints:
    return "no more points of positive weight than refined parameters";
  case VaboCovSingular:
    return "the refined parameters are not determined by the points "
           "(singular normal matrix)";
  case VaboCovNotFinite:
    return "residuals or derivatives are not finite numbers";
  case VaboCovFailed: return "missing argument";
  case VaboCovNoMemory: return "memory allocation failed";
  default: return "unknown status";
  }
}
