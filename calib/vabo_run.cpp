/*
 * vabo_run.cpp -- the shared texts, defaults, status rule and option
 * readers of the front ends (vabo_run.h).
 */
#include "vabo_run.h"

#include "numio.h"
#include "strlib.h"
#include "vabo_fit2d.h"
#include "vabo_poni.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

const char *const VaboVersion = "V1.6 2013-12-09 Kelvardo";

namespace {

/* What reading a text as one whole expression found. */
struct WholeReading {
  double value; /* the expression's value (0 on an error) */
  int errval;   /* the reader's error value, 0 when it read one */
  size_t stop;  /* bytes read before the reader stopped */
  bool follows; /* text other than white space follows a read value */
};

WholeReading read_whole(const char *text)
{
  WholeReading r{};
  const char *tail = text;
  r.value = num_str2double(text, &tail, &r.errval);
  if (!tail) tail = text;
  r.stop = static_cast<size_t>(tail - text);
  r.follows = r.errval == 0 && !strlib_is_empty(tail);
  if (r.errval || r.follows) r.value = 0.0;
  return r;
}

} // namespace

double vabo_whole_expression(const char *text, int *perrval, size_t *pstop)
{
  const WholeReading r = read_whole(text);
  if (perrval) *perrval = r.follows ? NUM_ESCAN : r.errval;
  if (pstop) *pstop = r.stop;
  return r.value;
}

bool vabo_option_expression(const char *rest, double *value, int *perrval,
                            char *reason, size_t size)
{
  const WholeReading r = read_whole(rest);
  *value = r.value;
  if (perrval) *perrval = r.errval;
  if (r.errval) {
    num_errval2str(reason, size, r.errval);
    return false;
  }
  if (r.follows) {
    snprintf(reason, size, "the text >>%s<< follows the value", rest + r.stop);
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

bool vabo_start_file(const char *spec, std::array<double, NParams> *start,
                     double *wavelength, std::string *error)
{
  static constexpr std::string_view kFit2D = "fit2d:";
  if (std::string_view(spec).substr(0, kFit2D.size()) == kFit2D) {
    VaboFit2DFile file;
    if (!vabo_fit2d_read(spec + kFit2D.size(), &file, error)) return false;
    *start = file.start;
    *wavelength = 0.0;
    return true;
  }
  VaboPoni poni;
  if (!vabo_poni_read(spec, &poni, error)) return false;
  *start = poni.start;
  *wavelength = poni.has_wavelength ? poni.wavelength : 0.0;
  return true;
}

bool vabo_parameter_list(const char *list, int mode, int *modes,
                         std::string *error)
{
  const char *const *names = VaboParamNamesArray();
  std::string_view rest(list);
  for (;;) {
    const size_t comma = rest.find(',');
    const std::string_view word = rest.substr(0, comma);
    int found = -1;
    for (int p = 0; p < NParams; p++)
      if (word == names[p]) found = p;
    if (found < 0) {
      try {
        *error = "'" + std::string(word) +
                 "' is not a parameter: use pix1, pix2, cen1, cen2, dis, "
                 "rot1, rot2, rot3";
      } catch (const std::bad_alloc &) {
        error->clear();
      }
      return false;
    }
    modes[found] = mode;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}
