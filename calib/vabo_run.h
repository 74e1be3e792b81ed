/*
 * vabo_run -- what every front end of a refinement shares: the program's
 * version and defaults, the texts that end a run, the one status rule that
 * turns a refinement's outcome and the check of its final deviation into
 * an exit status with its message, and the reading of an option that must
 * be one whole expression (or one positive quantity).
 *
 * The program (src/) and the Python module (python/) both take their
 * statuses, messages and defaults from here, so that the two report one run
 * the same way.  Nothing here prints.  Implemented in vabo_run.cpp.
 */
#ifndef VABO_RUN_H
#define VABO_RUN_H

#include "vabo_base.h"

#include <array>
#include <cstddef>
#include <string>

/* The program's version, shown in its banner and written into the JSON
 * result. */
extern const char *const VaboVersion;

/* Defaults of the options: 100 steps are plenty for a Gauss-Newton fit that
 * converges at all (maxiter=); 1e-7 rad is below the accuracy of any
 * calibration (mindev=, the stopping threshold); the accepted final
 * deviation (maxdev=) is one degree to eleven digits, as the usage text
 * documents it ("1_deg"), not the exact quotient pi/180. */
inline constexpr int VaboDefaultMaxIter = 100;
inline constexpr double VaboDefaultMinDev = 1e-7;
inline constexpr double VaboDefaultMaxDev = 0.01745329252;

/* Exit statuses of a run.  Each failure's status includes VaboStatusFailed,
 * so that the statuses of several failures combine with | into the status
 * of the run: 0, 1, 33 or 65. */
inline constexpr int VaboStatusOk = 0;
inline constexpr int VaboStatusFailed = 0x01;            /* bad input, no
                                                    storage, a file unwritten */
inline constexpr int VaboStatusRefineFailed = 0x21;      /* 33 */
inline constexpr int VaboStatusDeviationTooLarge = 0x41; /* 65 */

/* How a run that reached the refinement ends: the success message (spelled
 * as scripts in the field expect it) and the first lines of the two
 * failures, which the result files repeat as their message. */
extern const char *const VaboSuccessText;
extern const char *const VaboRefineFailedText;
extern const char *const VaboDeviationTooLargeText;

/* Whether a final standard deviation (rad) passes the check against maxdev:
 * a deviation equal to maxdev passes; NaN (NaN or infinite data or start
 * values) is no fit and fails. */
bool vabo_deviation_accepted(double stddev, double maxdev);

/* The status of a refinement and its message (a static text). */
struct VaboStatus {
  int status;          /* VaboStatusOk, ...Failed, ...RefineFailed,
                          ...DeviationTooLarge */
  const char *message; /* VaboSuccessText or the failure's text */
};

/* The status rule: a refinement that ran out of memory fails with
 * VaboStatusFailed ("refinement: memory allocation failed"), one that
 * failed otherwise with VaboStatusRefineFailed; a refined fit whose final
 * standard deviation stddev (rad) does not pass maxdev
 * (vabo_deviation_accepted) ends with VaboStatusDeviationTooLarge;
 * everything else succeeds. */
VaboStatus vabo_status(VaboOptimizeFailure failure, double stddev,
                       double maxdev);

/* Reads text as one whole expression: its value, or 0 with the error value
 * in *perrval -- the reader's, or NUM_ESCAN ("error scanning expression")
 * when anything but white space (strlib_is_white) follows the expression.
 * *pstop (if given) receives the number of bytes read before the stop.
 * The one rule of both front ends for "text follows the value". */
double vabo_whole_expression(const char *text, int *perrval, size_t *pstop);

/* Reads the whole text of an option as one expression into *value, its
 * error value into *perrval (if given).  true; false with the reason written
 * into reason (size characters: the error value's text, or the text that
 * follows the value). */
bool vabo_option_expression(const char *rest, double *value, int *perrval,
                            char *reason, size_t size);
/* As vabo_option_expression, for an option whose value must be positive and
 * finite: false also for any other value, with the reason "<value><suffix>"
 * (the value as "%lg", e.g. suffix " is not positive"). */
bool vabo_positive_option(const char *rest, const char *suffix, double *value,
                          int *perrval, char *reason, size_t size);

/* Start values from a file (start=): a PONI file, or with the prefix
 * "fit2d:" a file of Fit2D's geometry (vabo_fit2d.h).  True with the eight
 * values in natural order in *start and the file's wavelength (m) in
 * *wavelength (0 when it gives none); false with the reader's one line in
 * *error. */
bool vabo_start_file(const char *spec, std::array<double, NParams> *start,
                     double *wavelength, std::string *error);

/* Sets modes[p] = mode for every parameter p named in list, names
 * ("pix1" ... "rot3") separated by commas (refine=, keep=).  True; false
 * with *error naming the first word that is no parameter (modes then
 * partly set). */
bool vabo_parameter_list(const char *list, int mode, int *modes,
                         std::string *error);

#endif
