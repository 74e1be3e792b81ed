/*
 * vabo_refine.cpp -- the refinement loop, its stopping rules and the
 * statistics of the fit.
 *
 * Entry points: VaboOptimize (with VaboOptimizeSteps and VaboOptimizeEx)
 * orders the parameters (refined first), then repeats residuals
 * (get_VaboB), Jacobian (get_VaboA), normal equations, their Cholesky
 * solution and a full correction, until one stopping rule holds; finally it
 * computes deviations and statistics (get_VaboParDev, VaboStdDev and the
 * other statistics).  On request VaboOptimizeEx runs the Levenberg-
 * Marquardt loop instead, which damps each step and keeps only those that
 * lower the standard deviation.  It owns its working arrays for one call.
 * The model lives in vabo_model.cpp, the products and the Cholesky
 * solution in vabo_linalg.cpp.  Unless the vabo trace or the showtemp
 * printouts are on, the model runs with its geometry computed once per
 * parameter set (vabo_geometry.h), and the loop takes the residual
 * statistics and normal equations of a step in one walk over the points
 * (vabo_point_sums), without the per-point arrays A and B: the same sums in
 * the same order, so the same bits.
 *
 * With d-spacings (VaboOptions.Spacing) the targets are the rings' angles
 * at the wavelength (VaboTargetAngles); a refined wavelength is one more
 * unknown after the refined parameters, whose Jacobian column is minus
 * the slope of the target (the columns are those of the model angle, which
 * the residual subtracts), and each evaluation first recomputes the
 * targets.  Without a refined wavelength none of this runs.
 */
#include "vabo_base.h"
#include "vabo_internal.h"
#include "vabo_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

/* Why the last call of VaboOptimize failed (VaboOptimizeFailure). */
int LastFailure = VaboOptimizeOk;

int fail(VaboOptimizeFailure why) { return vabo_optimize_fail(why); }

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

/* The working arrays of one refinement: Jacobian and residuals (only on
 * the per-point path), normal matrix, right-hand side and correction. */
struct Workspace {
  std::vector<double> A, B, ATA, ATB, DOpt;

  bool obtain_for(size_t ndata, size_t nopt, bool per_point)
  {
    const size_t npoints = per_point ? ndata : 0;
    return vabo_obtain(A, npoints * nopt) && vabo_obtain(B, npoints) &&
           vabo_obtain(ATA, nopt * nopt) && vabo_obtain(ATB, nopt) &&
           vabo_obtain(DOpt, nopt);
  }
};

/* The rule of VaboStdDev and vabo_parts: sqrt(squares / (total - 1)), -1
 * when the total weight is at most 1, the total itself when it is NaN.
 * squares() (the weighted sum of squares) is taken only when it is used. */
template <typename Squares> double deviation_rule(double total, Squares squares)
{
  if (std::isnan(total)) return total;
  if (!(total > 1.0)) return -1.0;
  return std::sqrt(squares() / (total - 1.0));
}

/* The Jacobian entry of the refined wavelength at a point of ring spacing
 * d: the residual is target minus model angle and the other columns are
 * derivatives of the model angle, so this one is minus the target's. */
double wavelength_column(double spacing, double wavelength)
{
  return -VaboTargetSlope(spacing, wavelength);
}

/* The wavelength of a refinement that refines it: the ring spacings, the
 * current value and the targets of the points at that value (the Angle
 * table the refinement reads). */
struct WavelengthFit {
  const double *Spacing; /* d-spacing of each point's ring, m */
  double value;          /* current wavelength, m */
  double *Target;        /* targets at value, rad */
};

/* Puts the sums of a walk over N unknowns into sums: A^T W A, summed on
 * and below its diagonal, mirrored whole. */
void store_sums(VaboPointSums &sums, size_t N, double squares,
                const VaboExtremes &extremes, const double *ATA,
                const double *ATB)
{
  sums.squares = squares;
  sums.mindev = extremes.min;
  sums.maxdev = extremes.max;
  for (size_t n = 0; n < N; ++n) {
    sums.ATB[n] = ATB[n];
    for (size_t l = n; l < N; ++l)
      sums.ATA[l * N + n] = sums.ATA[n * N + l] = ATA[l * N + n];
  }
}

/* The walk of vabo_point_sums for nopt = N, so that the sums can stay in
 * registers: A^T W A is summed on and above its diagonal only (the products
 * a_n a_l and a_l a_n are the same number) and mirrored at the end. */
template <size_t N>
void sum_points(VaboPointSums &sums, const VaboGeometry &geometry, size_t ndata,
                const double *Angle, const double *I1, const double *I2,
                const double *Weight)
{
  constexpr size_t kBlock = VABO_GEOMETRY_BLOCK;
  double squares = 0.0;
  VaboExtremes extremes;
  double ATA[N * N + 1] = {};
  double ATB[N + 1] = {};
  double angle[kBlock];
  double a[N * kBlock + 1];
  for (size_t first = 0; first < ndata; first += kBlock) {
    const size_t count = std::min(kBlock, ndata - first);
    vabo_geometry_block(&geometry, count, I1 + first, I2 + first, angle, a);
    for (size_t k = 0; k < count; ++k) {
      const size_t i = first + k;
      const double b = Angle[i] - angle[k];
      const double w = Weight[i];
      squares += b * b * w;
      extremes.offer(b);
#pragma GCC unroll 8
      for (size_t n = 0; n < N; ++n) {
        const double a_n = a[n * kBlock + k];
        ATB[n] += a_n * b * w;
#pragma GCC unroll 8
        for (size_t l = n; l < N; ++l)
          ATA[l * N + n] += a_n * a[l * kBlock + k] * w;
      }
    }
  }
  store_sums(sums, N, squares, extremes, ATA, ATB);
}

/* The walk of sum_points with the refined wavelength as unknown nopt,
 * after the refined parameters of the geometry: the same sums in the same
 * order, with the targets of fit and the column wavelength_column. */
void sum_points_wavelength(VaboPointSums &sums, const VaboGeometry &geometry,
                           size_t ndata, const WavelengthFit &fit,
                           const double *I1, const double *I2,
                           const double *Weight)
{
  constexpr size_t kBlock = VABO_GEOMETRY_BLOCK;
  const size_t nopt = geometry.nopt;
  const size_t N = nopt + 1;
  double squares = 0.0;
  VaboExtremes extremes;
  double ATA[VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS] = {};
  double ATB[VABO_MAX_UNKNOWNS] = {};
  double angle[kBlock];
  double a[VABO_MAX_UNKNOWNS * kBlock];
  for (size_t first = 0; first < ndata; first += kBlock) {
    const size_t count = std::min(kBlock, ndata - first);
    vabo_geometry_block(&geometry, count, I1 + first, I2 + first, angle, a);
    for (size_t k = 0; k < count; ++k)
      a[nopt * kBlock + k] =
          wavelength_column(fit.Spacing[first + k], fit.value);
    for (size_t k = 0; k < count; ++k) {
      const size_t i = first + k;
      const double b = fit.Target[i] - angle[k];
      const double w = Weight[i];
      squares += b * b * w;
      extremes.offer(b);
      for (size_t n = 0; n < N; ++n) {
        const double a_n = a[n * kBlock + k];
        ATB[n] += a_n * b * w;
        for (size_t l = n; l < N; ++l)
          ATA[l * N + n] += a_n * a[l * kBlock + k] * w;
      }
    }
  }
  store_sums(sums, N, squares, extremes, ATA, ATB);
}

/* Stores the deviations of the refined parameters (stddev over parts[j],
 * see parameter_deviation), 0 for the kept ones, and the statistics into
 * Ordered; with showtemp prints them. */
void store_deviations(VaboOrdered &Ordered, size_t ndata, double stddev,
                      double mindev, double maxdev, double total,
                      const double *parts)
{
  const size_t nopt = refined_count(Ordered);
  for (size_t j = 0; j < nopt; ++j)
    Ordered.ParDev[j] = parameter_deviation(stddev, parts[j]);
  for (size_t j = nopt; j < NParams; ++j) Ordered.ParDev[j] = 0.0;

  if (vabo_showtemp()) {
    printf("stddev=%lg, mindev=%lg, maxdev=%lg\n", stddev, mindev, maxdev);
    fprint_ordered(stdout, &Ordered);
  }

  for (int k = 0; k < NStats; ++k) Ordered.Stat[k] = 0.0;
  Ordered.Stat[RStdDev] = stddev;
  Ordered.Stat[RMinDev] = mindev;
  Ordered.Stat[RMaxDev] = maxdev;
  Ordered.Stat[RTotal] = total;
  Ordered.Stat[RNData] = static_cast<double>(ndata);
  Ordered.Stat[RNopt] = static_cast<double>(nopt);
}

/* The model over all points as the refinement loop uses it, at the current
 * parameters of Ordered: the standard deviation of the residuals, one
 * Gauss-Newton step, the deviations at the end.  Point by point with the
 * public functions, their traces and printouts, keeping the residuals B
 * and the Jacobian A, while the vabo or showtemp switch is on; otherwise in
 * one walk per parameter set (vabo_point_sums), which keeps no per-point
 * arrays and gives the same bits.  With a refined wavelength (fit not
 * null; its Target is the Angle table) the unknowns are the refined
 * parameters and the wavelength after them. */
class Refinement {
public:
  Refinement(VaboOrdered &Ordered, size_t ndata, const double *Angle,
             const double *I1, const double *I2, const double *Weight,
             WavelengthFit *fit = nullptr)
      : Ordered_(Ordered), ndata_(ndata), Angle_(Angle), I1_(I1), I2_(I2),
        Weight_(Weight), per_point_(!vabo_per_step_model()),
        total_(vabo_sum(Weight, ndata)), fit_(fit)
  {
  }

  /* The working storage; false when it cannot be obtained. */
  bool obtain() { return ws_.obtain_for(ndata_, unknowns(), per_point_); }

  /* Number of unknowns: the refined parameters and a refined wavelength. */
  size_t unknowns() const { return Ordered_.nopt + (fit_ ? 1 : 0); }

  /* Whether the wavelength is refined, and its value (m, 0 when it is
   * not); set_wavelength moves it. */
  bool refines_wavelength() const { return fit_ != nullptr; }
  double wavelength() const { return fit_ ? fit_->value : 0.0; }
  void set_wavelength(double value)
  {
    if (fit_) fit_->value = value;
  }

  /* Whether the last evaluation found a ring that the wavelength does not
   * reach (its standard deviation was then NaN). */
  bool unreachable() const { return unreachable_; }

  /* Evaluates the model at the current parameters; returns the standard
   * deviation of the residuals (VaboStdDev).  With a refined wavelength
   * the targets are recomputed first; where that fails it returns NaN and
   * unreachable() holds. */
  double evaluate()
  {
    if (fit_) {
      unreachable_ = VaboTargetAngles(fit_->Target, ndata_, fit_->Spacing,
                                      fit_->value) != 0;
      if (unreachable_) return NAN;
    }
    if (!per_point_) {
      if (fit_) {
        VaboGeometry geometry;
        vabo_geometry_init(&geometry, &Ordered_);
        sum_points_wavelength(sums_, geometry, ndata_, *fit_, I1_, I2_,
                              Weight_);
      } else {
        vabo_point_sums(&sums_, &Ordered_, ndata_, Angle_, I1_, I2_, Weight_);
      }
      return deviation_rule(total_, [this] { return sums_.squares; });
    }
    get_VaboB(ndata_, ws_.B.data(), &Ordered_, Angle_, I1_, I2_);
    if (vabo_showtemp()) fprint_vector(stdout, ndata_, ws_.B.data(), "B");
    return VaboStdDev(ndata_, ws_.B.data(), Weight_);
  }

  /* The progress line of a step, from the last evaluation, with the
   * damping the step was made with when it has one. */
  void print_step(int step, double stddev, double diff_stddev,
                  const double *damping)
  {
    if (per_point_)
      printf("step=%d, stddev=%lg, change=%lg, mindev=%lg, maxdev=%lg", step,
             stddev, diff_stddev, VaboMinDev(ndata_, ws_.B.data()),
             VaboMaxDev(ndata_, ws_.B.data()));
    else
      printf("step=%d, stddev=%lg, change=%lg, mindev=%lg, maxdev=%lg", step,
             stddev, diff_stddev, sums_.mindev, sums_.maxdev);
    if (damping) printf(", lambda=%lg", *damping);
    if (fit_) printf(", wavelength=%lg", fit_->value);
    printf("\n");
    fprint_ordered(stdout, &Ordered_);
  }

  /* The weighted normal equations at the last evaluation, into ATA and
   * ATB.  VaboOptimizeOk, or VaboOptimizeNoInfluence when a refined
   * parameter acts on no angle. */
  VaboOptimizeFailure normal_equations()
  {
    const size_t nopt = unknowns();
    if (per_point_) {
      normal_equations_per_point();
    } else {
      std::copy(sums_.ATB, sums_.ATB + nopt, ws_.ATB.begin());
      std::copy(sums_.ATA, sums_.ATA + nopt * nopt, ws_.ATA.begin());
    }
    /* Without weight the solution fails anyway; with it, solving with a
     * parameter that acts on no angle would send that parameter off by
     * orders of magnitude. */
    if (total_ > 0.0 && vabo_without_influence(ws_.ATA.data(), nopt, total_))
      return VaboOptimizeNoInfluence;
    return VaboOptimizeOk;
  }

  /* One Gauss-Newton step from the last evaluation: builds and solves the
   * weighted normal equations and adds the full correction to the refined
   * parameters.  VaboOptimizeOk, or the failure, with the parameters
   * unchanged: VaboOptimizeNoInfluence, VaboOptimizeSingular (the normal
   * matrix is not positive definite) or VaboOptimizeNoMemory (no workspace
   * for the solution). */
  VaboOptimizeFailure step()
  {
    const VaboOptimizeFailure failure = normal_equations();
    if (failure != VaboOptimizeOk) return failure;
    return correct(ws_.ATA.data());
  }

  /* Whether the undamped normal equations of normal_equations() can be
   * solved: VaboOptimizeOk when their matrix is positive definite to working
   * precision, otherwise why not, as for step(). */
  VaboOptimizeFailure solvable()
  {
    double x[VABO_MAX_UNKNOWNS];
    const int n = static_cast<int>(unknowns());
    return solution_failure(
        vabo_cholesky_solve(n, ws_.ATA.data(), ws_.ATB.data(), x));
  }

  /* One Levenberg-Marquardt step from the equations of normal_equations():
   * solves them with the diagonal of the matrix raised by damping times
   * itself and adds the correction.  VaboOptimizeOk, or as for step() with
   * the parameters unchanged (VaboOptimizeSingular: the damped matrix is not
   * positive definite). */
  VaboOptimizeFailure damped_step(double damping)
  {
    const size_t nopt = unknowns();
    double damped[VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS];
    std::copy(ws_.ATA.begin(), ws_.ATA.end(), damped);
    for (size_t j = 0; j < nopt; ++j)
      damped[j * nopt + j] += damping * ws_.ATA[j * nopt + j];
    return correct(damped);
  }

  /* The normal equations of the last evaluation into normal, when the walk
   * over the points summed them (not point by point); false otherwise. */
  bool hand_back(VaboNormal &normal) const
  {
    if (per_point_) return false;
    const size_t nopt = refined_count(Ordered_) + (fit_ ? 1 : 0);
    normal.nopt = nopt;
    std::copy(sums_.ATA, sums_.ATA + nopt * nopt, normal.ATA);
    normal.squares = sums_.squares;
    normal.total = total_;
    normal.npoints = vabo_weighted_points(ndata_, Weight_);
    normal.wavelength = fit_ ? 1 : 0;
    normal.valid = 1;
    return true;
  }

  /* Deviations and statistics at the current parameters.  false when the
   * storage of get_VaboParDev (the per-point path) cannot be obtained. */
  bool deviations()
  {
    if (per_point_) {
      if (get_VaboParDev(ndata_, &Ordered_, Angle_, I1_, I2_, Weight_) != 0)
        return false;
      if (fit_) {
        std::vector<double> column;
        if (!vabo_obtain(column, ndata_)) return false;
        for (size_t i = 0; i < ndata_; ++i)
          column[i] = wavelength_column(fit_->Spacing[i], fit_->value);
        wavelength_dev_ =
            parameter_deviation(Ordered_.Stat[RStdDev],
                                vabo_parts(ndata_, column.data(), Weight_, 0));
        Ordered_.Stat[RNopt] += 1.0;
      }
      return true;
    }
    const double stddev =
        deviation_rule(total_, [this] { return sums_.squares; });
    const size_t nopt = refined_count(Ordered_);
    const size_t n = nopt + (fit_ ? 1 : 0);
    double parts[VABO_MAX_UNKNOWNS];
    for (size_t j = 0; j < n; ++j)
      parts[j] = deviation_rule(total_, [&] { return sums_.ATA[j * n + j]; });
    store_deviations(Ordered_, ndata_, stddev, sums_.mindev, sums_.maxdev,
                     total_, parts);
    if (fit_) {
      wavelength_dev_ = parameter_deviation(stddev, parts[nopt]);
      Ordered_.Stat[RNopt] += 1.0;
    }
    return true;
  }

  /* The deviation of the refined wavelength from deviations() (m). */
  double wavelength_deviation() const { return wavelength_dev_; }

private:
  /* The refinement's failure for a Cholesky solution that ended so. */
  static VaboOptimizeFailure solution_failure(VaboCholesky outcome)
  {
    switch (outcome) {
    case VaboCholesky::Solved: return VaboOptimizeOk;
    case VaboCholesky::NotPositiveDefinite: return VaboOptimizeSingular;
    case VaboCholesky::NoWorkspace: return VaboOptimizeNoMemory;
    case VaboCholesky::BadArgument: break;
    }
    return VaboOptimizeBadArgument;
  }

  /* Solves matrix DOpt = ATB and adds DOpt to the refined parameters.
   * VaboOptimizeOk, or why the solution failed (parameters unchanged). */
  VaboOptimizeFailure correct(const double *matrix)
  {
    const size_t nopt = unknowns();
    const int n = static_cast<int>(nopt);
    const VaboOptimizeFailure failure = solution_failure(
        vabo_cholesky_solve(n, matrix, ws_.ATB.data(), ws_.DOpt.data()));
    if (failure != VaboOptimizeOk) return failure;
    if (vabo_showtemp()) fprint_vector(stdout, nopt, ws_.DOpt.data(), "DOpt");

    vec_add(Ordered_.Par, Ordered_.Par, ws_.DOpt.data(),
            static_cast<int>(Ordered_.nopt));
    if (fit_) fit_->value += ws_.DOpt[Ordered_.nopt];
    if (vabo_showtemp())
      fprint_vector(stdout, NParams, Ordered_.Par, "Ordered.Par");
    return VaboOptimizeOk;
  }

  /* A by get_VaboA, then A^T W B and A^T W A, each shown with showtemp. */
  void normal_equations_per_point()
  {
    const int nopt = static_cast<int>(unknowns());
    const int npoints = static_cast<int>(ndata_);
    get_VaboA(ndata_, ws_.A.data(), &Ordered_, Angle_, I1_, I2_);
    if (fit_) /* the wavelength's column after those of the parameters */
      for (size_t i = 0; i < ndata_; ++i)
        ws_.A[ndata_ * Ordered_.nopt + i] =
            wavelength_column(fit_->Spacing[i], fit_->value);
    if (vabo_showtemp())
      fprint_matrix(stdout, ndata_, unknowns(), ws_.A.data(), "A");

    transpose_mul_weight(ws_.ATB.data(), ws_.A.data(), ws_.B.data(), Weight_, 1,
                         npoints, nopt);
    if (vabo_showtemp())
      fprint_vector(stdout, unknowns(), ws_.ATB.data(), "ATB");

    transpose_mul_weight(ws_.ATA.data(), ws_.A.data(), ws_.A.data(), Weight_,
                         nopt, npoints, nopt);
    if (vabo_showtemp())
      fprint_matrix(stdout, unknowns(), unknowns(), ws_.ATA.data(), "ATA");
  }

  VaboOrdered &Ordered_;
  const size_t ndata_;
  const double *const Angle_, *const I1_, *const I2_, *const Weight_;
  const bool per_point_;
  const double total_;
  Workspace ws_;
  VaboPointSums sums_{};
  WavelengthFit *const fit_;
  bool unreachable_ = false;
  double wavelength_dev_ = -1.0;
};

/* One refinement loop at work: the model, the tables, the stopping rules
 * and the numbering and logging of its steps. */
struct Loop {
  Refinement &refinement;
  VaboOrdered &Ordered;
  size_t ndata;
  const double *Angle, *I1, *I2, *Weight;
  double stopdev; /* stopping threshold: stddev at or below it ends the loop,
                     rad */
  int maxstep;
  const VaboOptions &options;

  /* The step's scan of the iteration log, when savesteps is on; damping is
   * the step's, if it has one.  false when the log cannot be written. */
  bool save(int step, const double *damping) const
  {
    if (!(VABODebug() & VABO_SAVESTEPS)) return true;
    const int number = options.first_step + step;
    if (refinement.refines_wavelength())
      return vabo_save_step_wavelength(number, ndata, &Ordered, Angle, I1, I2,
                                       Weight, 0, damping,
                                       refinement.wavelength()) == 0;
    if (damping)
      return vabo_save_step_damping(number, ndata, &Ordered, Angle, I1, I2,
                                    Weight, 0, *damping) == 0;
    return vabo_save_step(number, ndata, &Ordered, Angle, I1, I2, Weight, 0) ==
           0;
  }

  /* The progress line of step, with verbose. */
  void show(int step, double stddev, double diff_stddev,
            const double *damping) const
  {
    if (VABODebug() & VABO_VERBOSE)
      refinement.print_step(options.first_step + step, stddev, diff_stddev,
                            damping);
  }
};

/* Full Gauss-Newton steps from the evaluation whose standard deviation is
 * stddev, while it is above stopdev, fewer than maxstep steps are done and
 * the last step changed it by more than VABO_MIN_CHANGE.  A NaN deviation
 * fails "stddev > stopdev" and a NaN change fails the last test, so a
 * diverging fit ends here too.  VaboOptimizeOk, or the failure: a step
 * that cannot be solved or logged, or one that takes a refined wavelength
 * where it reaches not every ring. */
VaboOptimizeFailure gauss_newton(Loop &loop, double stddev, int &step)
{
  double diff_stddev = 1.0;
  while (stddev > loop.stopdev && step < loop.maxstep &&
         std::fabs(diff_stddev) > VABO_MIN_CHANGE) {
    const VaboOptimizeFailure failure = loop.refinement.step();
    if (failure != VaboOptimizeOk) return failure;

    double previous_stddev = stddev;
    stddev = loop.refinement.evaluate();
    if (loop.refinement.unreachable()) return VaboOptimizeUnreachable;
    diff_stddev = stddev - previous_stddev;
    ++step;

    loop.show(step, stddev, diff_stddev, nullptr);
    if (!loop.save(step, nullptr)) return VaboOptimizeLogFailed;
  }
  return VaboOptimizeOk;
}

/* Damped steps under the same rules, each taken only when it lowers the
 * standard deviation; the loop also ends after VABO_LM_MAX_REJECTED
 * rejected steps in a row.  Ends with the model evaluated at the
 * parameters it keeps.  A step that takes a refined wavelength where it
 * reaches not every ring evaluates to NaN and is rejected as any step that
 * does not improve.  VaboOptimizeOk, or the failure: undamped equations
 * that are singular at a point reached, or a step that cannot be logged. */
VaboOptimizeFailure levenberg_marquardt(Loop &loop, double stddev, int &step)
{
  Refinement &refinement = loop.refinement;
  double damping =
      loop.options.damping > 0.0 ? loop.options.damping : VABO_LM_START_DAMPING;
  double diff_stddev = 1.0;
  int rejected = 0;
  bool equations_here = false; /* normal equations built at these parameters */
  bool evaluated_here = true;  /* the last evaluation is at these parameters */
  while (stddev > loop.stopdev && step < loop.maxstep &&
         std::fabs(diff_stddev) > VABO_MIN_CHANGE &&
         rejected < VABO_LM_MAX_REJECTED) {
    if (!equations_here) {
      VaboOptimizeFailure failure = refinement.normal_equations();
      if (failure == VaboOptimizeOk) failure = refinement.solvable();
      if (failure != VaboOptimizeOk) return failure;
      equations_here = true;
    }
    double saved[NParams];
    std::copy(loop.Ordered.Par, loop.Ordered.Par + NParams, saved);
    const double saved_wavelength = refinement.wavelength();
    /* A damped matrix that cannot be solved rejects the step. */
    double trial = NAN;
    const VaboOptimizeFailure failure = refinement.damped_step(damping);
    if (failure == VaboOptimizeOk) {
      trial = refinement.evaluate();
      evaluated_here = false;
    } else if (failure != VaboOptimizeSingular) {
      return failure;
    }
    if (trial < stddev) {
      diff_stddev = trial - stddev;
      stddev = trial;
      ++step;
      evaluated_here = true;
      equations_here = false;
      rejected = 0;
      loop.show(step, stddev, diff_stddev, &damping);
      if (!loop.save(step, &damping)) return VaboOptimizeLogFailed;
      damping /= VABO_LM_LOWER;
    } else {
      if (VABODebug() & VABO_VERBOSE)
        printf("rejected step: stddev=%lg, lambda=%lg\n", trial, damping);
      std::copy(saved, saved + NParams, loop.Ordered.Par);
      refinement.set_wavelength(saved_wavelength);
      damping *= VABO_LM_RAISE;
      ++rejected;
    }
  }
  if (!evaluated_here) refinement.evaluate();
  return VaboOptimizeOk;
}

} // namespace

bool vabo_per_step_model(void)
{
  return (VABODebug() & (VABO_VABO | VABO_SHOWTEMP)) == 0;
}

/* The sums over all points in one walk, by the walk made for nopt. */
void vabo_point_sums(VaboPointSums *psums, const VaboOrdered *Ordered,
                     size_t ndata, const double *Angle, const double *I1,
                     const double *I2, const double *Weight)
{
  VaboPointSums &sums = *psums;
  VaboGeometry geometry;
  vabo_geometry_init(&geometry, Ordered);
  switch (geometry.nopt) {
  case 0: sum_points<0>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 1: sum_points<1>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 2: sum_points<2>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 3: sum_points<3>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 4: sum_points<4>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 5: sum_points<5>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 6: sum_points<6>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  case 7: sum_points<7>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  default: sum_points<8>(sums, geometry, ndata, Angle, I1, I2, Weight); break;
  }
}

/* 0 with ParOpt, ParDev and ParStat written (each may be null); 1 with them
 * untouched when an argument is missing, there are more points than the
 * arithmetic can index, storage fails (for the steps or for the deviations),
 * a refined parameter acts on no angle, the normal matrix is not positive
 * definite or the iteration log cannot be written; VaboOptimizeLastFailure
 * then tells which. */
int VaboOptimize(double *ParOpt, double *ParDev, double *ParStat,
                 const double *Par, const int *ParMode, size_t ndata,
                 const double *Angle, const double *I1, const double *I2,
                 const double *Weight, double maxdev, int maxstep)
{
  return VaboOptimizeSteps(ParOpt, ParDev, ParStat, Par, ParMode, ndata, Angle,
                           I1, I2, Weight, maxdev, maxstep, nullptr);
}

/* As VaboOptimize, counting the completed steps into *psteps (if given). */
int VaboOptimizeSteps(double *ParOpt, double *ParDev, double *ParStat,
                      const double *Par, const int *ParMode, size_t ndata,
                      const double *Angle, const double *I1, const double *I2,
                      const double *Weight, double stopdev, int maxstep,
                      int *psteps)
{
  return VaboOptimizeEx(ParOpt, ParDev, ParStat, Par, ParMode, ndata, Angle, I1,
                        I2, Weight, stopdev, maxstep, nullptr, psteps);
}

/* The loop of Options->method from Par; also 1 for a method it does not
 * know. */
int VaboOptimizeEx(double *ParOpt, double *ParDev, double *ParStat,
                   const double *Par, const int *ParMode, size_t ndata,
                   const double *Angle, const double *I1, const double *I2,
                   const double *Weight, double stopdev, int maxstep,
                   const VaboOptions *Options, int *psteps)
{
  int unused_steps = 0;
  int &step = psteps ? *psteps : unused_steps;
  step = 0;
  LastFailure = VaboOptimizeOk;
  vabo_trace("VaboOptimize");
  const VaboOptions options = Options ? *Options : VaboOptions{};
  if (options.Normal) options.Normal->valid = 0;
  if (options.method != VaboGaussNewton &&
      options.method != VaboLevenbergMarquardt)
    return fail(VaboOptimizeBadArgument);
  /* With d-spacings the targets replace Angle, which is then not read. */
  std::vector<double> targets;
  if (options.Spacing) {
    if (!vabo_tables_given(ndata, options.Spacing, I1, I2, Weight) ||
        ndata > kVaboMaxPoints)
      return fail(VaboOptimizeBadArgument);
    if (!vabo_obtain(targets, ndata)) return fail(VaboOptimizeNoMemory);
    if (VaboTargetAngles(targets.data(), ndata, options.Spacing,
                         options.wavelength) != 0)
      return fail(VaboOptimizeUnreachable);
    Angle = targets.data();
  }
  if (!Par || !vabo_tables_given(ndata, Angle, I1, I2, Weight))
    return fail(VaboOptimizeBadArgument);
  if (ndata > kVaboMaxPoints) return fail(VaboOptimizeBadArgument);

  VaboOrdered Ordered;
  order_Par(&Ordered, Par, ParMode);

  WavelengthFit fit{options.Spacing, options.wavelength, targets.data()};
  const bool refine_wavelength = options.Spacing && options.wavelength_refined;
  Refinement refinement(Ordered, ndata, Angle, I1, I2, Weight,
                        refine_wavelength ? &fit : nullptr);
  if (!refinement.obtain()) return fail(VaboOptimizeNoMemory);

  const double stddev = refinement.evaluate();

  if ((VABODebug() & VABO_SAVESTEPS) && !options.continued &&
      (refine_wavelength
           ? vabo_save_step_wavelength(0, ndata, &Ordered, Angle, I1, I2,
                                       Weight, 1, nullptr, fit.value)
           : vabo_save_step(0, ndata, &Ordered, Angle, I1, I2, Weight, 1)) != 0)
    return fail(VaboOptimizeLogFailed);

  Loop loop{refinement, Ordered, ndata,   Angle,   I1,
            I2,         Weight,  stopdev, maxstep, options};
  const VaboOptimizeFailure failure =
      options.method == VaboLevenbergMarquardt
          ? levenberg_marquardt(loop, stddev, step)
          : gauss_newton(loop, stddev, step);
  if (failure != VaboOptimizeOk) return fail(failure);

  /* Without storage for the deviations the refinement has no result to
   * report: -1 for every deviation and statistic would pass for one. */
  if (!refinement.deviations()) return fail(VaboOptimizeNoMemory);
  if (options.Normal) refinement.hand_back(*options.Normal);
  reorder_Par(&Ordered, ParOpt, ParDev, ParStat);
  if (options.Spacing) {
    if (options.WavelengthOpt) *options.WavelengthOpt = fit.value;
    if (options.WavelengthDev)
      *options.WavelengthDev =
          refine_wavelength ? refinement.wavelength_deviation() : 0.0;
  }
  return 0;
}

int VaboTargetAngles(double *TwoTheta, size_t ndata, const double *Spacing,
                     double wavelength)
{
  if (ndata > 0 && !(TwoTheta && Spacing)) return -1;
  if (!(wavelength > 0.0) || !std::isfinite(wavelength)) return -1;
  /* Not a number fails the test as a spacing too short does. */
  for (size_t i = 0; i < ndata; ++i)
    if (!(2.0 * Spacing[i] > wavelength) || !std::isfinite(Spacing[i]))
      return -1;
  for (size_t i = 0; i < ndata; ++i)
    TwoTheta[i] = 2.0 * std::asin(wavelength / (2.0 * Spacing[i]));
  return 0;
}

double VaboTargetSlope(double spacing, double wavelength)
{
  return 2.0 / std::sqrt(4.0 * spacing * spacing - wavelength * wavelength);
}

int VaboOptimizeLastFailure(void) { return LastFailure; }

int vabo_optimize_fail(VaboOptimizeFailure why)
{
  LastFailure = why;
  return 1;
}

/* VaboB[i] = measured minus model angle of point i (rad).  Writes nothing
 * when an argument is missing. */
void get_VaboB(size_t ndata, double *VaboB, const VaboOrdered *Ordered,
               const double *Angle, const double *I1, const double *I2)
{
  vabo_trace("get_VaboB");
  if (!VaboB || !Ordered || (ndata > 0 && !(Angle && I1 && I2))) return;
  if (vabo_per_step_model()) {
    VaboGeometry geometry;
    vabo_geometry_init(&geometry, Ordered);
    double angle[VABO_GEOMETRY_BLOCK];
    for (size_t first = 0; first < ndata; first += VABO_GEOMETRY_BLOCK) {
      const size_t count = std::min<size_t>(VABO_GEOMETRY_BLOCK, ndata - first);
      vabo_geometry_block(&geometry, count, I1 + first, I2 + first, angle,
                          nullptr);
      for (size_t k = 0; k < count; ++k)
        VaboB[first + k] = Angle[first + k] - angle[k];
    }
    return;
  }
  for (size_t i = 0; i < ndata; ++i)
    VaboB[i] = DiffAngle(Ordered, Angle[i], I1[i], I2[i]);
}

/* Fills the ndata x nopt Jacobian of the model angle (column-major, element
 * (i, j) at i + ndata * j).  Returns nopt; 0 and nothing written when an
 * argument is missing.  Angle is not used. */
int get_VaboA(size_t ndata, double *VaboA, const VaboOrdered *Ordered,
              const double * /*Angle*/, const double *I1, const double *I2)
{
  vabo_trace("get_VaboA");
  if (!Ordered) return 0;
  const size_t nopt = refined_count(*Ordered);
  if (!VaboA || (ndata > 0 && !(I1 && I2))) return 0;

  VaboGeometry geometry;
  if (vabo_per_step_model()) vabo_geometry_init(&geometry, Ordered);
  /* The geometry serves a record whose refined parameters fill positions
   * 0 ... nopt-1, as order_Par makes it. */
  if (vabo_per_step_model() && geometry.nopt == nopt) {
    double angle[VABO_GEOMETRY_BLOCK];
    double dangle[NParams * VABO_GEOMETRY_BLOCK];
    for (size_t first = 0; first < ndata; first += VABO_GEOMETRY_BLOCK) {
      const size_t count = std::min<size_t>(VABO_GEOMETRY_BLOCK, ndata - first);
      vabo_geometry_block(&geometry, count, I1 + first, I2 + first, angle,
                          dangle);
      for (size_t j = 0; j < nopt; ++j)
        for (size_t k = 0; k < count; ++k)
          VaboA[first + k + ndata * j] = dangle[j * VABO_GEOMETRY_BLOCK + k];
    }
    return static_cast<int>(nopt);
  }

  for (size_t i = 0; i < ndata; ++i) {
    double X[kVaboDim];
    double DX[kVaboDim * NParams] = {};
    X_vector_3d(X, Ordered, I1[i], I2[i]);
    if (vabo_showtemp()) fprint_vector(stdout, kVaboDim, X, "X");
    DX_matrix_3d(DX, Ordered, I1[i], I2[i]);
    if (vabo_showtemp()) fprint_matrix(stdout, kVaboDim, nopt, DX, "DX");
    for (size_t j = 0; j < nopt; ++j) {
      double value = DAngle_3d(X, DX, static_cast<int>(j));
      VaboA[i + ndata * j] = value;
      if (vabo_showtemp())
        printf("VaboA[%d][%d] = %lg = DAngle_3d(X,DX,%s)\n",
               static_cast<int>(j), static_cast<int>(i), value,
               Ordered->Names[j] ? Ordered->Names[j] : "");
    }
  }
  return static_cast<int>(nopt);
}

/* Fills Ordered->ParDev (refined: stddev over the weighted norm of the
 * parameter's Jacobian column, or -1 without a value; kept: 0) and
 * Ordered->Stat at the current parameters.  0; -1 with the record unchanged
 * when an argument is missing or the storage cannot be obtained. */
int get_VaboParDev(size_t ndata, VaboOrdered *Ordered, const double *Angle,
                   const double *I1, const double *I2, const double *Weight)
{
  vabo_trace("get_VaboParDev");
  if (!Ordered || !vabo_tables_given(ndata, Angle, I1, I2, Weight)) return -1;
  if (ndata > kVaboMaxPoints) return -1;
  const size_t nopt = refined_count(*Ordered);

  std::vector<double> A, B;
  if (!vabo_obtain(A, ndata * nopt) || !vabo_obtain(B, ndata)) return -1;

  get_VaboB(ndata, B.data(), Ordered, Angle, I1, I2);
  if (vabo_showtemp()) fprint_vector(stdout, ndata, B.data(), "B");

  const double stddev = VaboStdDev(ndata, B.data(), Weight);
  const double mindev = VaboMinDev(ndata, B.data());
  const double maxdev = VaboMaxDev(ndata, B.data());
  const double total = scalar_components_sum(Weight, static_cast<int>(ndata));

  get_VaboA(ndata, A.data(), Ordered, Angle, I1, I2);
  if (vabo_showtemp()) fprint_matrix(stdout, ndata, nopt, A.data(), "A");

  double parts[NParams];
  for (size_t j = 0; j < nopt; ++j)
    parts[j] = vabo_parts(ndata, A.data(), Weight, static_cast<int>(j));
  store_deviations(*Ordered, ndata, stddev, mindev, maxdev, total, parts);
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
  return deviation_rule(
      total, [&] { return scalar_product_weight(B, B, Weight, count); });
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
  const double *column = VaboA + n * static_cast<size_t>(Param);
  return deviation_rule(total, [&] {
    return scalar_product_weight(column, column, Weight, count);
  });
}

bool vabo_obtain(std::vector<double> &v, size_t size)
{
  try {
    v.assign(size, 0.0);
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  } catch (const std::length_error &) {
    return false;
  }
}

bool vabo_without_influence(const double *ATA, size_t nopt, double total)
{
  for (size_t j = 0; j < nopt; ++j)
    if (!(std::sqrt(ATA[j * nopt + j] / total) > VABO_MIN_INFLUENCE))
      return true;
  return false;
}
