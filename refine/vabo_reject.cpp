/*
 * vabo_reject.cpp -- sigma clipping of outliers around the refinement.
 *
 * Entry points: VaboMedian; VaboRejectEndName; VaboRejectPass, one round of
 * clipping of given residuals (median, robust scale from the median absolute
 * deviation, the points beyond k times it, the guard against rejecting more
 * than half of the points); VaboOptimizeRobust, which refines with
 * VaboOptimizeEx and repeats rounds and refinements until nothing more is
 * rejected.  The scale is not weighted: weights only decide which points take
 * part (those of positive weight).  Rejected points keep their place in the
 * tables with weight 0 in a copy of the weights, so the iteration log and
 * the point numbers stay those of the input.  Owns its working arrays for
 * one call; prints nothing (the caller reports the rounds).  With
 * d-spacings each round refines from the wavelength the round before ended
 * with, and the residuals are taken at the targets of that wavelength.
 */
#include "vabo_base.h"
#include "vabo_internal.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace {

/* A point of positive weight that no round has rejected. */
bool takes_part(const double *Weight, const int *Round, size_t i)
{
  return Weight[i] > 0.0 && Round[i] == 0;
}

/* Residuals of all points at the parameters Par (natural order). */
void residuals_at(const double *Par, const int *ParMode, size_t ndata,
                  const double *Angle, const double *I1, const double *I2,
                  double *B)
{
  VaboOrdered Ordered;
  order_Par(&Ordered, Par, ParMode);
  get_VaboB(ndata, B, &Ordered, Angle, I1, I2);
}

/* The statistics that the weight-0 places of the rejected points would
 * falsify: ndata counts the kept points, mindev and maxdev are the kept
 * points' residuals of smallest and largest magnitude (first on ties, as
 * VaboMinDev and VaboMaxDev choose).  Weighted sums already leave the
 * rejected points out. */
void restrict_statistics(double *Stat, size_t ndata, const double *B,
                         const int *Round)
{
  size_t kept = 0;
  VaboExtremes extremes;
  for (size_t i = 0; i < ndata; ++i) {
    if (Round[i] != 0) continue;
    extremes.offer(B[i]);
    ++kept;
  }
  Stat[RMinDev] = extremes.min;
  Stat[RMaxDev] = extremes.max;
  Stat[RNData] = static_cast<double>(kept);
}

/* VaboRejectPass with its arguments checked; its storage may throw.
 * Candidates are found among the points taking part; the guard counts all
 * points of positive weight, the rejected ones of earlier rounds with them. */
int reject_pass(size_t n, const double *B, const double *Weight, int *Round,
                int round, double k, VaboRejectRound *Summary)
{
  std::vector<double> scratch(n);

  size_t weighted = 0, rejected_before = 0, finite = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!(Weight[i] > 0.0)) continue;
    ++weighted;
    if (Round[i] != 0)
      ++rejected_before;
    else if (std::isfinite(B[i]))
      scratch[finite++] = B[i];
  }
  const double median = VaboMedian(finite, scratch.data());
  for (size_t j = 0; j < finite; ++j)
    scratch[j] = std::fabs(scratch[j] - median);
  const double scale = VABO_MAD_TO_SIGMA * VaboMedian(finite, scratch.data());
  const double bound = k * std::max(scale, VABO_REJECT_MIN_SCALE);

  /* Not a number fails "<= bound": such residuals are beyond it. */
  auto beyond = [&](size_t i) { return !(std::fabs(B[i] - median) <= bound); };
  size_t candidates = 0;
  for (size_t i = 0; i < n; ++i)
    if (takes_part(Weight, Round, i) && beyond(i)) ++candidates;

  const bool guarded = 2 * (rejected_before + candidates) > weighted;
  const size_t rejected = guarded ? 0 : candidates;
  if (!guarded)
    for (size_t i = 0; i < n; ++i)
      if (takes_part(Weight, Round, i) && beyond(i)) Round[i] = round;

  if (Summary) {
    size_t rejected_total = 0;
    for (size_t i = 0; i < n; ++i)
      if (Round[i] != 0) ++rejected_total;
    Summary->round = round;
    Summary->median = median;
    Summary->scale = scale;
    Summary->candidates = candidates;
    Summary->rejected = rejected;
    Summary->kept = n - rejected_total;
    Summary->stddev = NAN;
  }
  return guarded ? 1 : 0;
}

/* VaboOptimizeRobust with its arguments checked; its storage may throw. */
int optimize_robust(double *ParOpt, double *ParDev, double *ParStat,
                    const double *Par, const int *ParMode, size_t ndata,
                    const double *Angle, const double *I1, const double *I2,
                    const double *Weight, double stopdev, int maxstep,
                    const VaboOptions *Options, VaboRejection *Rejection,
                    int &steps)
{
  int *Round = Rejection->Round;
  std::fill(Round, Round + ndata, 0);
  std::vector<double> weight(Weight, Weight + ndata), B(ndata);

  VaboOptions options = Options ? *Options : VaboOptions{};
  /* The wavelength each refinement ends with is where the next one starts;
   * the caller's outputs are written only at the end. */
  double wavelength = options.wavelength, wavelength_dev = 0.0;
  options.WavelengthOpt = &wavelength;
  options.WavelengthDev = &wavelength_dev;
  std::vector<double> targets(options.Spacing ? ndata : 0);
  /* The targets of the points at the current wavelength: Angle without
   * d-spacings; false when the wavelength reaches not every ring. */
  auto targets_now = [&]() -> const double * {
    if (!options.Spacing) return Angle;
    if (VaboTargetAngles(targets.data(), ndata, options.Spacing, wavelength))
      return nullptr;
    return targets.data();
  };
  double par[NParams], dev[NParams], stat[NStats];
  int done = 0;
  if (VaboOptimizeEx(par, dev, stat, Par, ParMode, ndata, Angle, I1, I2,
                     weight.data(), stopdev, maxstep, &options, &done))
    return 1;
  steps = done;

  for (int round = 1; round <= VABO_REJECT_MAX_ROUNDS; ++round) {
    const double *target = targets_now();
    if (!target) return vabo_optimize_fail(VaboOptimizeUnreachable);
    residuals_at(par, ParMode, ndata, target, I1, I2, B.data());
    VaboRejectRound &summary = Rejection->Rounds[round - 1];
    const int pass = reject_pass(ndata, B.data(), Weight, Round, round,
                                 Rejection->k, &summary);
    Rejection->nrounds = round;
    summary.stddev = stat[RStdDev];
    if (pass == 1) {
      Rejection->end = VaboRejectHalfGuard;
      break;
    }
    if (summary.rejected == 0) break;

    for (size_t i = 0; i < ndata; ++i)
      if (Round[i] == round) weight[i] = 0.0;
    options.continued = 1;
    options.first_step += done;
    options.wavelength = wavelength;
    const double from[NParams] = {par[0], par[1], par[2], par[3],
                                  par[4], par[5], par[6], par[7]};
    if (VaboOptimizeEx(par, dev, stat, from, ParMode, ndata, Angle, I1, I2,
                       weight.data(), stopdev, maxstep, &options, &done))
      return 1;
    steps += done;
    summary.stddev = stat[RStdDev];
    if (round == VABO_REJECT_MAX_ROUNDS) Rejection->end = VaboRejectRoundLimit;
  }

  const double *target = targets_now();
  if (!target) return vabo_optimize_fail(VaboOptimizeUnreachable);
  residuals_at(par, ParMode, ndata, target, I1, I2, B.data());
  if (std::any_of(Round, Round + ndata, [](int r) { return r != 0; }))
    restrict_statistics(stat, ndata, B.data(), Round);
  if (Rejection->Residual) std::copy(B.begin(), B.end(), Rejection->Residual);
  if (ParOpt) std::copy(par, par + NParams, ParOpt);
  if (ParDev) std::copy(dev, dev + NParams, ParDev);
  if (ParStat) std::copy(stat, stat + NStats, ParStat);
  if (Options && Options->Spacing) {
    if (Options->WavelengthOpt) *Options->WavelengthOpt = wavelength;
    if (Options->WavelengthDev) *Options->WavelengthDev = wavelength_dev;
  }
  return 0;
}

} // namespace

double VaboMedian(size_t n, double *values)
{
  if (n == 0 || !values) return NAN;
  const size_t middle = n / 2;
  std::nth_element(values, values + middle, values + n);
  const double upper = values[middle];
  if (n % 2 == 1) return upper;
  /* The lower middle value is the largest of those before the middle. */
  const double lower = *std::max_element(values, values + middle);
  return lower + (upper - lower) / 2.0;
}

const char *VaboRejectEndName(int end)
{
  switch (end) {
  case VaboRejectSettled: return "settled";
  case VaboRejectRoundLimit: return "round limit";
  case VaboRejectHalfGuard: return "half guard";
  default: return "unknown";
  }
}

int VaboRejectPass(size_t n, const double *B, const double *Weight, int *Round,
                   int round, double k, VaboRejectRound *Summary)
{
  if (n > 0 && !(B && Weight && Round)) return -1;
  try {
    return reject_pass(n, B, Weight, Round, round, k, Summary);
  } catch (const std::exception &) { /* no storage: nothing was marked */
    return -1;
  }
}

int VaboOptimizeRobust(double *ParOpt, double *ParDev, double *ParStat,
                       const double *Par, const int *ParMode, size_t ndata,
                       const double *Angle, const double *I1, const double *I2,
                       const double *Weight, double stopdev, int maxstep,
                       const VaboOptions *Options, VaboRejection *Rejection,
                       int *psteps)
{
  int unused_steps = 0;
  int &steps = psteps ? *psteps : unused_steps;
  steps = 0;
  if (!Rejection || !(Rejection->k > 0.0) || !Par)
    return vabo_optimize_fail(VaboOptimizeBadArgument);
  Rejection->nrounds = 0;
  Rejection->end = VaboRejectSettled;
  /* With d-spacings Angle is not read. */
  const double *target = Options && Options->Spacing ? Options->Spacing : Angle;
  if (ndata > 0 && !(Rejection->Round && target && I1 && I2 && Weight))
    return vabo_optimize_fail(VaboOptimizeBadArgument);
  try {
    return optimize_robust(ParOpt, ParDev, ParStat, Par, ParMode, ndata, Angle,
                           I1, I2, Weight, stopdev, maxstep, Options, Rejection,
                           steps);
  } catch (const std::exception &) { /* no storage: outputs untouched */
    return vabo_optimize_fail(VaboOptimizeNoMemory);
  }
}
