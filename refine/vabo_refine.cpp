/*
 * vabo_refine.cpp -- the weighted Gauss-Newton refinement and its statistics.
 *
 * Entry point VaboOptimize: orders the parameters (refined first), then
 * repeats residuals (get_VaboB), Jacobian (get_VaboA), normal equations and
 * their Cholesky solution (CholeskySolve) and a full correction, until one
 * stopping rule holds; finally computes deviations and statistics
 * (get_VaboParDev).  It owns its working arrays for one call.  The model
 * lives in vabo_model.cpp and the products in vabo_linalg.cpp; CholeskySolve
 * is plain algebra and knows nothing of detectors.
 */
#include "vabo_base.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

/* Most calibration points one refinement takes: the matrix arithmetic
 * indexes the ndata x nopt Jacobian with int, nopt is at most NParams. */
constexpr size_t kMaxPoints = static_cast<size_t>(INT_MAX) / NParams;

/* Smallest pivot of CholeskySolve relative to its diagonal entry of A. */
constexpr double kMinPivotRatio = VABO_MIN_PIVOT_RATIO;

/* Rows and columns of the derivative matrix DX of one point. */
constexpr int kDXRows = 3;

bool trace_on() { return (VABODebug() & VABO_VABO) != 0; }
bool showtemp_on() { return (VABODebug() & VABO_SHOWTEMP) != 0; }

/* Value of the statistics for arguments they cannot sum (a count beyond the
 * int range of the arithmetic, missing arrays): not a number, which fails
 * every comparison of the caller. */
const double kNoSum = NAN;

/* nopt of a record, never more than the eight parameters it holds. */
size_t refined_count(const VaboOrdered &Ordered)
{
  constexpr size_t kAll = NParams;
  return Ordered.nopt <= kAll ? Ordered.nopt : kAll;
}

bool countable(size_t n) { return n <= static_cast<size_t>(INT_MAX); }

/* Resizes every vector to its size; false (vectors left empty or partly
 * sized, released by their owner) when the storage cannot be obtained. */
bool obtain(std::initializer_list<std::pair<std::vector<double> *, size_t>> parts)
{
  try {
    for (const auto &part : parts) part.first->assign(part.second, 0.0);
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  } catch (const std::length_error &) {
    return false;
  }
}

/* Deviation of one refined parameter from the standard deviation and the
 * weighted norm of its Jacobian column.  Either one without a value (-1,
 * total weight <= 1) or a column that acts on no angle gives -1; a NaN
 * standard deviation stays NaN so that the caller can reject the fit. */
double parameter_deviation(double stddev, double parts)
{
  if (stddev < 0.0 || parts < 0.0) return -1.0;
  if (!(std::fabs(parts) > VABO_MIN_PARTS)) return -1.0;
  return stddev / parts;
}

/* The working arrays of one refinement: Jacobian, residuals, normal matrix,
 * right-hand side and correction. */
struct Workspace {
  std::vector<double> A, B, ATA, ATB, DOpt;

  bool obtain_for(size_t ndata, size_t nopt)
  {
    return obtain({{&A, ndata * nopt},
                   {&B, ndata},
                   {&ATA, nopt * nopt},
                   {&ATB, nopt},
                   {&DOpt, nopt}});
  }
};

bool tables_given(size_t ndata, const double *Angle, const double *I1,
                  const double *I2, const double *Weight)
{
  return ndata == 0 || (Angle && I1 && I2 && Weight);
}

/* 1 when a refined parameter acts on no angle: the weighted root mean
 * square of its Jacobian column, sqrt(ATA(j, j) / total), is at or below
 * VABO_MIN_INFLUENCE.  Such a column is rounding noise (rot3 at any tilt)
 * which the Cholesky pivots cannot tell from a real column, and solving with
 * it sends the parameter off by orders of magnitude. */
bool refines_a_parameter_without_influence(const std::vector<double> &ATA,
                                           size_t nopt, double total)
{
  if (!(total > 0.0)) return false; /* no weight: the solve fails anyway */
  for (size_t j = 0; j < nopt; ++j)
    if (!(std::sqrt(ATA[j * nopt + j] / total) > VABO_MIN_INFLUENCE))
      return true;
  return false;
}

/* Sum of the weights, without the arithmetic's trace line. */
double total_weight(size_t ndata, const double *Weight)
{
  double total = 0.0;
  for (size_t i = 0; i < ndata; ++i) total += Weight[i];
  return total;
}

/* One Gauss-Newton step from the residuals in ws.B: builds and solves the
 * weighted normal equations and adds the full correction to the refined
 * parameters.  -1 when the normal matrix is not positive definite or a
 * refined parameter acts on no angle (the parameters are then unchanged). */
int gauss_newton_step(Workspace &ws, VaboOrdered &Ordered, size_t ndata,
                      const double *Angle, const double *I1, const double *I2,
                      const double *Weight, double total)
{
  const int nopt = static_cast<int>(Ordered.nopt);
  const int npoints = static_cast<int>(ndata);

  get_VaboA(ndata, ws.A.data(), &Ordered, Angle, I1, I2);
  if (showtemp_on()) fprint_matrix(stdout, ndata, Ordered.nopt, ws.A.data(), "A");

  transpose_mul_weight(ws.ATB.data(), ws.A.data(), ws.B.data(), Weight, 1,
                       npoints, nopt);
  if (showtemp_on()) fprint_vector(stdout, Ordered.nopt, ws.ATB.data(), "ATB");

  transpose_mul_weight(ws.ATA.data(), ws.A.data(), ws.A.data(), Weight, nopt,
                       npoints, nopt);
  if (showtemp_on())
    fprint_matrix(stdout, Ordered.nopt, Ordered.nopt, ws.ATA.data(), "ATA");

  if (refines_a_parameter_without_influence(ws.ATA, Ordered.nopt, total))
    return -1;
  if (CholeskySolve(nopt, ws.ATA.data(), ws.ATB.data(), ws.DOpt.data()) != 0)
    return -1;
  if (showtemp_on()) fprint_vector(stdout, Ordered.nopt, ws.DOpt.data(), "DOpt");

  vec_add(Ordered.Par, Ordered.Par, ws.DOpt.data(), nopt);
  if (showtemp_on()) fprint_vector(stdout, NParams, Ordered.Par, "Ordered.Par");
  return 0;
}

} // namespace

/* 0 with ParOpt, ParDev and ParStat written (each may be null); 1 with them
 * untouched when an argument is missing, there are more points than the
 * arithmetic can index, storage fails, the normal matrix is not positive
 * definite or the iteration log cannot be written. */
int VaboOptimize(double *ParOpt, double *ParDev, double *ParStat,
                 const double *Par, const int *ParMode, size_t ndata,
                 const double *Angle, const double *I1, const double *I2,
                 const double *Weight, double maxdev, int maxstep)
{
  return VaboOptimizeSteps(ParOpt, ParDev, ParStat, Par, ParMode, ndata,
                           Angle, I1, I2, Weight, maxdev, maxstep, nullptr);
}

/* As VaboOptimize, counting the completed steps into *psteps (if given). */
int VaboOptimizeSteps(double *ParOpt, double *ParDev, double *ParStat,
                      const double *Par, const int *ParMode, size_t ndata,
                      const double *Angle, const double *I1, const double *I2,
                      const double *Weight, double maxdev, int maxstep,
                      int *psteps)
{
  int unused_steps = 0;
  int &step = psteps ? *psteps : unused_steps;
  step = 0;
  if (trace_on()) printf("VaboOptimize\n");
  if (!Par || !tables_given(ndata, Angle, I1, I2, Weight)) return 1;
  if (ndata > kMaxPoints) return 1;

  VaboOrdered Ordered;
  const size_t nopt = order_Par(&Ordered, Par, ParMode);

  Workspace ws;
  if (!ws.obtain_for(ndata, nopt)) return 1;

  get_VaboB(ndata, ws.B.data(), &Ordered, Angle, I1, I2);
  if (showtemp_on()) fprint_vector(stdout, ndata, ws.B.data(), "B");

  double stddev = VaboStdDev(ndata, ws.B.data(), Weight);
  const double total = total_weight(ndata, Weight);
  double diff_stddev = 1.0;

  if ((VABODebug() & VABO_SAVESTEPS) &&
      vabo_save_step(0, ndata, &Ordered, Angle, I1, I2, Weight, 1) != 0)
    return 1;

  /* A NaN deviation fails "stddev > maxdev" and a NaN change fails the last
   * test, so a diverging fit ends here too. */
  while (stddev > maxdev && step < maxstep &&
         std::fabs(diff_stddev) > VABO_MIN_CHANGE) {
    if (gauss_newton_step(ws, Ordered, ndata, Angle, I1, I2, Weight, total) != 0)
      return 1;

    get_VaboB(ndata, ws.B.data(), &Ordered, Angle, I1, I2);
    if (showtemp_on()) fprint_vector(stdout, ndata, ws.B.data(), "B");

    double previous_stddev = stddev;
    stddev = VaboStdDev(ndata, ws.B.data(), Weight);
    diff_stddev = stddev - previous_stddev;
    ++step;

    if (VABODebug() & VABO_VERBOSE) {
      printf("step=%d, stddev=%lg, change=%lg, mindev=%lg, maxdev=%lg\n", step,
             stddev, diff_stddev, VaboMinDev(ndata, ws.B.data()),
             VaboMaxDev(ndata, ws.B.data()));
      fprint_ordered(stdout, &Ordered);
    }

    if ((VABODebug() & VABO_SAVESTEPS) &&
        vabo_save_step(step, ndata, &Ordered, Angle, I1, I2, Weight, 0) != 0)
      return 1;
  }

  /* Without storage for the deviations they and the statistics stay -1. */
  (void)get_VaboParDev(ndata, &Ordered, Angle, I1, I2, Weight);
  reorder_Par(&Ordered, ParOpt, ParDev, ParStat);
  return 0;
}

/* VaboB[i] = measured minus model angle of point i (rad).  Writes nothing
 * when an argument is missing. */
void get_VaboB(size_t ndata, double *VaboB, const VaboOrdered *Ordered,
               const double *Angle, const double *I1, const double *I2)
{
  if (trace_on()) printf("get_VaboB\n");
  if (!VaboB || !Ordered || (ndata > 0 && !(Angle && I1 && I2))) return;
  for (size_t i = 0; i < ndata; ++i)
    VaboB[i] = DiffAngle(Ordered, Angle[i], I1[i], I2[i]);
}

/* Fills the ndata x nopt Jacobian of the model angle (column-major, element
 * (i, j) at i + ndata * j).  Returns nopt; 0 and nothing written when an
 * argument is missing.  Angle is not used. */
int get_VaboA(size_t ndata, double *VaboA, const VaboOrdered *Ordered,
              const double * /*Angle*/, const double *I1, const double *I2)
{
  if (trace_on()) printf("get_VaboA\n");
  if (!Ordered) return 0;
  const size_t nopt = refined_count(*Ordered);
  if (!VaboA || (ndata > 0 && !(I1 && I2))) return 0;

  for (size_t i = 0; i < ndata; ++i) {
    double X[3];
    double DX[kDXRows * NParams] = {};
    X_vector_3d(X, Ordered, I1[i], I2[i]);
    if (showtemp_on()) fprint_vector(stdout, 3, X, "X");
    DX_matrix_3d(DX, Ordered, I1[i], I2[i]);
    if (showtemp_on()) fprint_matrix(stdout, kDXRows, nopt, DX, "DX");
    for (size_t j = 0; j < nopt; ++j) {
      double value = DAngle_3d(X, DX, static_cast<int>(j));
      VaboA[i + ndata * j] = value;
      if (showtemp_on())
        printf("VaboA[%d][%d] = %lg = DAngle_3d(X,DX,%s)\n", static_cast<int>(j),
               static_cast<int>(i), value,
               Ordered->Names[j] ? Ordered->Names[j] : "");
    }
  }
  return static_cast<int>(nopt);
}

/* Solves A X = B for a symmetric positive definite n x n matrix A (only
 * the entries A[i*n + j] with j >= i are read) by A = G^T G, G upper
 * triangular.  0; -1 with X untouched when a pivot is not positive (or not
 * a number, or only rounding noise of its diagonal entry: A is singular to
 * working precision), an argument is missing or no workspace is obtained. */
int CholeskySolve(int n, const double *A, const double *B, double *X)
{
  if (trace_on()) printf("CholeskySolve\n");
  if (n < 0) return -1;
  if (n > 0 && !(A && B && X)) return -1;

  const size_t un = static_cast<size_t>(n);
  const bool showtemp = showtemp_on();
  std::vector<double> G, Y, GTG;
  if (!obtain({{&G, un * un}, {&Y, un}, {&GTG, showtemp ? un * un : 0}}))
    return -1;

  for (size_t i = 0; i < un; ++i) {
    for (size_t j = i; j < un; ++j) {
      double sum = A[i * un + j];
      for (size_t k = i; k-- > 0;) sum -= G[i * un + k] * G[j * un + k];
      if (j == i) {
        if (!(sum > 0.0) || sum <= kMinPivotRatio * A[i * un + i]) {
          if (showtemp) fprint_matrix(stdout, un, un, G.data(), "G");
          return -1;
        }
        G[i * un + i] = std::sqrt(sum);
      } else {
        G[j * un + i] = sum / G[i * un + i];
      }
    }
  }

  if (showtemp) {
    fprint_matrix(stdout, un, un, G.data(), "G");
    transpose_mul(GTG.data(), G.data(), G.data(), n, n, n);
    fprint_matrix(stdout, un, un, GTG.data(), "GTG");
  }

  /* G^T Y = B */
  for (size_t i = 0; i < un; ++i) {
    double sum = B[i];
    for (size_t k = 0; k < i; ++k) sum -= G[i * un + k] * Y[k];
    Y[i] = sum / G[i * un + i];
  }
  /* G X = Y */
  for (size_t i = un; i-- > 0;) {
    double sum = Y[i];
    for (size_t k = un - 1; k > i; --k) sum -= G[k * un + i] * X[k];
    X[i] = sum / G[i * un + i];
  }
  return 0;
}

/* Fills Ordered->ParDev (refined: stddev over the weighted norm of the
 * parameter's Jacobian column, or -1 without a value; kept: 0) and
 * Ordered->Stat at the current parameters.  0; -1 with the record unchanged
 * when an argument is missing or the storage cannot be obtained. */
int get_VaboParDev(size_t ndata, VaboOrdered *Ordered, const double *Angle,
                   const double *I1, const double *I2, const double *Weight)
{
  if (trace_on()) printf("get_VaboParDev\n");
  if (!Ordered || !tables_given(ndata, Angle, I1, I2, Weight)) return -1;
  if (ndata > kMaxPoints) return -1;
  const size_t nopt = refined_count(*Ordered);

  std::vector<double> A, B;
  if (!obtain({{&A, ndata * nopt}, {&B, ndata}})) return -1;

  get_VaboB(ndata, B.data(), Ordered, Angle, I1, I2);
  if (showtemp_on()) fprint_vector(stdout, ndata, B.data(), "B");

  const double stddev = VaboStdDev(ndata, B.data(), Weight);
  const double mindev = VaboMinDev(ndata, B.data());
  const double maxdev = VaboMaxDev(ndata, B.data());
  const double total = scalar_components_sum(Weight, static_cast<int>(ndata));

  get_VaboA(ndata, A.data(), Ordered, Angle, I1, I2);
  if (showtemp_on()) fprint_matrix(stdout, ndata, nopt, A.data(), "A");

  for (size_t j = 0; j < nopt; ++j)
    Ordered->ParDev[j] = parameter_deviation(
        stddev, vabo_parts(ndata, A.data(), Weight, static_cast<int>(j)));
  for (size_t j = nopt; j < NParams; ++j) Ordered->ParDev[j] = 0.0;

  if (showtemp_on()) {
    printf("stddev=%lg, mindev=%lg, maxdev=%lg\n", stddev, mindev, maxdev);
    fprint_ordered(stdout, Ordered);
  }

  for (int k = 0; k < NStats; ++k) Ordered->Stat[k] = 0.0;
  Ordered->Stat[RStdDev] = stddev;
  Ordered->Stat[RMinDev] = mindev;
  Ordered->Stat[RMaxDev] = maxdev;
  Ordered->Stat[RTotal] = total;
  Ordered->Stat[RNData] = static_cast<double>(ndata);
  Ordered->Stat[RNopt] = static_cast<double>(nopt);
  return 0;
}

/* sqrt(sum W B^2 / (total - 1)); -1 when the total weight is at most 1;
 * NaN when the total weight is NaN (a bad weight must not pass for "no
 * value"), the arrays are missing or n is beyond the arithmetic's range. */
double VaboStdDev(size_t n, const double *B, const double *Weight)
{
  if (!countable(n) || (n > 0 && !(B && Weight))) return kNoSum;
  const int count = static_cast<int>(n);
  const double total = scalar_components_sum(Weight, count);
  if (std::isnan(total)) return total;
  if (!(total > 1.0)) return -1.0;
  return std::sqrt(scalar_product_weight(B, B, Weight, count) / (total - 1.0));
}

/* sqrt(sum W B^2 / total); -1 when the total weight is not positive; NaN
 * when the total weight is NaN, the arrays are missing or n is beyond the
 * arithmetic's range. */
double VaboRMS(size_t n, const double *B, const double *Weight)
{
  if (!countable(n) || (n > 0 && !(B && Weight))) return kNoSum;
  const int count = static_cast<int>(n);
  const double total = scalar_components_sum(Weight, count);
  if (std::isnan(total)) return total;
  if (!(total > 0.0)) return -1.0;
  return std::sqrt(scalar_product_weight(B, B, Weight, count) / total);
}

/* The residual of smallest magnitude, sign kept, first on ties; 0 for
 * n = 0; NaN when B is missing or n is beyond the arithmetic's range. */
double VaboMinDev(size_t n, const double *B)
{
  if (!countable(n) || (n > 0 && !B)) return kNoSum;
  return scalar_absmin(B, static_cast<int>(n));
}

/* The residual of largest magnitude, sign kept, first on ties; 0 for
 * n = 0; NaN when B is missing or n is beyond the arithmetic's range. */
double VaboMaxDev(size_t n, const double *B)
{
  if (!countable(n) || (n > 0 && !B)) return kNoSum;
  return scalar_absmax(B, static_cast<int>(n));
}

/* sqrt(sum W A(i, Param)^2 / (total - 1)) over column Param of the n-row
 * Jacobian; -1 when the total weight is at most 1; NaN for a NaN total
 * weight, a negative Param, missing arrays or n beyond the arithmetic's
 * range. */
double vabo_parts(size_t n, const double *VaboA, const double *Weight,
                  int Param)
{
  if (Param < 0 || !countable(n) || (n > 0 && !(VaboA && Weight)))
    return kNoSum;
  const int count = static_cast<int>(n);
  const double total = scalar_components_sum(Weight, count);
  if (std::isnan(total)) return total;
  if (!(total > 1.0)) return -1.0;
  const double *column = VaboA + n * static_cast<size_t>(Param);
  return std::sqrt(scalar_product_weight(column, column, Weight, count) /
                   (total - 1.0));
}
