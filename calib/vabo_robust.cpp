/*
 * vabo_robust.cpp -- the options method= and reject= and the refinement
 * they ask for (vabo_robust.h).
 *
 * Reads the two options, runs the refinement (VaboOptimizeEx for the
 * method, VaboOptimizeRobust for the clipping; the plain VaboOptimizeSteps
 * without them), makes the lines that report the rounds of clipping and
 * records the method, the rounds and the rejected points for the result.
 * The numerical work is the refinement module's; nothing here changes a
 * run that gives neither option.
 */
#include "vabo_robust.h"

#include "vabo_run.h"

#include "numio.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

/* Names of the method= values, in VaboMethod order. */
constexpr const char *kMethodNames[] = {"gn", "lm"};

/* Appends one formatted line to text. */
[[gnu::format(printf, 2, 3)]] void append_line(std::string &text,
                                               const char *format, ...)
{
  char line[VaboLineSize];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  text += line;
}

/* Sizes the arrays of the clipping; false when there is no storage. */
bool prepare(VaboRobustRun &run, size_t ndata, const double *Weight)
{
  try {
    run.round.assign(ndata, 0);
    run.residual.assign(ndata, NAN);
    run.weight.assign(Weight, Weight + ndata);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

} // namespace

bool vabo_read_reject(const char *rest, VaboRobustOptions &options,
                      std::string *error)
{
  double value = 0.0;
  int errval = 0;
  char reason[VaboLineSize];
  if (vabo_positive_option(rest, " is not a positive, finite factor", &value,
                           &errval, reason, sizeof reason)) {
    options.has_reject = true;
    options.reject = value;
    return true;
  }
  try {
    error->clear();
    if (errval == NUM_ENOMEM)
      append_line(*error, "ERROR: reading reject=%s: %s", rest, reason);
    else
      append_line(*error,
                  "ERROR: reject=%s is not a factor of the robust scale: %s",
                  rest, reason);
  } catch (const std::exception &) { /* the failure stands without its text */
  }
  return false;
}

bool vabo_read_method(const char *rest, VaboRobustOptions &options,
                      std::string *error)
{
  for (int m = VaboGaussNewton; m <= VaboLevenbergMarquardt; ++m)
    if (strcmp(rest, kMethodNames[m]) == 0) {
      options.has_method = true;
      options.method = m;
      return true;
    }
  try {
    error->clear();
    append_line(*error,
                "ERROR: method=%s is not a method: use method=gn "
                "(Gauss-Newton) or method=lm (Levenberg-Marquardt)",
                rest);
  } catch (const std::exception &) { /* the failure stands without its text */
  }
  return false;
}

const char *vabo_method_name(int method)
{
  if (method < VaboGaussNewton || method > VaboLevenbergMarquardt)
    return "unknown";
  return kMethodNames[method];
}

VaboOptimizeFailure
vabo_robust_optimize(const VaboRobustOptions &options, VaboRobustRun &run,
                     double *ParOpt, double *ParDev, double *ParStat,
                     const double *ParStart, const int *ParMode, size_t ndata,
                     const double *TwoTheta, const double *Coord1,
                     const double *Coord2, const double *Weight, double mindev,
                     int maxiter, int *psteps)
{
  auto outcome = [](int status) {
    return status ? static_cast<VaboOptimizeFailure>(VaboOptimizeLastFailure())
                  : VaboOptimizeOk;
  };
  run.normal = VaboNormal{};
  VaboOptions method{};
  method.method = options.method;
  method.Normal = &run.normal;
  if (run.spacing.size() == ndata && ndata > 0) {
    method.Spacing = run.spacing.data();
    method.wavelength = run.wavelength_start;
    method.wavelength_refined = 1;
    method.WavelengthOpt = &run.wavelength;
    method.WavelengthDev = &run.wavelength_deviation;
  }
  if (!options.has_reject)
    return outcome(VaboOptimizeEx(ParOpt, ParDev, ParStat, ParStart, ParMode,
                                  ndata, TwoTheta, Coord1, Coord2, Weight,
                                  mindev, maxiter, &method, psteps));

  if (!prepare(run, ndata, Weight)) return VaboOptimizeNoMemory;
  run.rejection.k = options.reject;
  run.rejection.Round = run.round.data();
  run.rejection.Residual = run.residual.data();
  const int status = VaboOptimizeRobust(
      ParOpt, ParDev, ParStat, ParStart, ParMode, ndata, TwoTheta, Coord1,
      Coord2, Weight, mindev, maxiter, &method, &run.rejection, psteps);
  for (size_t i = 0; i < ndata; ++i)
    if (run.round[i] != 0) run.weight[i] = 0.0;
  run.clipped = true;
  run.refined = status == 0;
  return outcome(status);
}

void vabo_robust_print(FILE *out, const VaboRobustRun &run)
{
  if (!run.clipped) return;
  const VaboRejection &rejection = run.rejection;
  for (int r = 0; r < rejection.nrounds; ++r) {
    const VaboRejectRound &round = rejection.Rounds[r];
    fprintf(out, "reject: round %d: %zu points rejected, %zu kept, stdev %lg\n",
            round.round, round.rejected, round.kept, round.stddev);
  }
  if (rejection.nrounds == 0) return;
  const VaboRejectRound &last = rejection.Rounds[rejection.nrounds - 1];
  if (rejection.end == VaboRejectHalfGuard)
    fprintf(out,
            "reject: stopped: rejecting the %zu more points beyond %lg sigma "
            "would reject more than half of the points\n",
            last.candidates, rejection.k);
  else if (rejection.end == VaboRejectRoundLimit)
    fprintf(out,
            "reject: stopped after %d rounds; more points may lie beyond %lg "
            "sigma\n",
            rejection.nrounds, rejection.k);
}

const double *vabo_robust_weights(const VaboRobustRun &run,
                                  const double *Weight)
{
  return run.clipped ? run.weight.data() : Weight;
}

bool vabo_robust_set_result(VaboResult &result,
                            const VaboRobustOptions &options,
                            const VaboRobustRun &run, const double *TwoTheta,
                            const double *Coord1, const double *Coord2)
{
  try {
    if (options.has_method && options.method != VaboGaussNewton)
      result.method = vabo_method_name(options.method);
    if (!run.clipped) return true;
    const VaboRejection &rejection = run.rejection;
    result.has_rejection = true;
    result.reject_k = rejection.k;
    result.reject_end = rejection.end;
    result.reject_rounds.assign(rejection.Rounds,
                                rejection.Rounds + rejection.nrounds);
    for (size_t i = 0; i < run.round.size(); ++i) {
      if (run.round[i] == 0) continue;
      VaboRejectedPoint point;
      point.index = i;
      point.line = i < run.lines.size() ? run.lines[i] : 0;
      point.angle = TwoTheta[i];
      point.i1 = Coord1[i];
      point.i2 = Coord2[i];
      point.residual = run.refined ? run.residual[i] : NAN;
      point.round = run.round[i];
      result.rejected.push_back(point);
    }
  } catch (const std::exception &) { /* no storage for the list */
    return false;
  }
  return true;
}
