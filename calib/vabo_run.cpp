/*
 * vabo_run.cpp -- the shared texts, defaults, status rule and option
 * readers of the front ends (vabo_run.h).
 */
#include "vabo_run.h"

#include "numio.h"
#include "strlib.h"

#include <cmath>
#include <cstdio>

const char *const VaboVersion = "V1.6 2013-12-09 Kelvardo";

bool vabo_option_expression(const char *rest, double *value, int *perrval,
                            char *reason, size_t size)
{
  int errval = 0;
  const char *tail = rest;
  *value = num_str2double(rest, &tail, &errval);
  if (perrval) *perrval = errval;
  if (!tail) tail = rest;
  if (errval) {
    num_errval2str(reason, size, errval);
    return false;
  }
  if (!strlib_is_empty(tail)) {
    snprintf(reason, size, "the text >>%s<< follows the value", tail);
    return false;
  }
  return true;
}

bool vabo_positive_option(const char *rest, const char *suffix, double *value,
                          int *perrval, char *reason, size_t size)
{
  if (!vabo_option_expression(rest, value, perrval, reason, size)) return false;
  if (*value > 0.0 && std::isfinite(*value)) return true;
  snprintf(reason, size, "%lg%s", *value, suffix);
  return false;
}

const char *const VaboSuccessText = "succesfully completed";
const char *const VaboRefineFailedText =
    "The optimization loop did not terminate successfully.";
const char *const VaboDeviationTooLargeText =
    "Standard deviation of optimized parameters exceeds maximum accepted "
    "deviation";

bool vabo_deviation_accepted(double stddev, double maxdev)
{
  return !(std::isnan(stddev) || stddev > maxdev);
}

VaboStatus vabo_status(VaboOptimizeFailure failure, double stddev,
                       double maxdev)
{
  if (failure == VaboOptimizeNoMemory)
    return {VaboStatusFailed, "refinement: memory allocation failed"};
  if (failure != VaboOptimizeOk)
    return {VaboStatusRefineFailed, VaboRefineFailedText};
  if (!vabo_deviation_accepted(stddev, maxdev))
    return {VaboStatusDeviationTooLarge, VaboDeviationTooLargeText};
  return {VaboStatusOk, VaboSuccessText};
}
