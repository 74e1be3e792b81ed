/*
 * vabo -- the front end: command line, calibration data, run and report.
 *
 * vabo_main (vabo.cpp) prints the banner, classifies the arguments into
 * options and start values, reads the calibration lines, builds the
 * parameter and calibration tables, refines once (VaboOptimizeSteps, or
 * with method= or reject= VaboOptimizeEx or VaboOptimizeRobust), prints the
 * three result lines and returns the exit status (0, 1, 33 or 65); main
 * (vabo_main.cpp) is nothing but its call.  This header declares it and the
 * front end's texts and printers (vabo_print.cpp), which tests and other
 * programs can call.
 */
#ifndef VABO_FRONT_H
#define VABO_FRONT_H

#include <cstddef>
#include <cstdio>

/* One run of the program with the argument vector argv (argv[0] the
 * program path) and the calibration data from input when no input= option
 * names a file (null: standard input, which is never closed).  Writes to
 * standard output and standard error as the program does and returns its
 * exit status.  Every keyed list, the debug word and the expression
 * library's debug level are back at their start when it returns, so it may
 * be called again in the same process. */
int vabo_main(int argc, char *argv[], FILE *input);

/* The program's version, shown in the banner. */
extern const char *const VaboVersion;
/* The usage text (no argument, help, missing values, missing data). */
extern const char *const VaboUsageText;
/* The example shown by the help. */
extern const char *const VaboExampleText;

/* Defaults of the options: 100 steps are plenty for a Gauss-Newton fit that
 * converges at all (maxiter=); 1e-7 rad is below the accuracy of any
 * calibration (mindev=, the stopping threshold); the accepted final
 * deviation (maxdev=) is one degree to eleven digits, as the usage text
 * documents it ("1_deg"), not the exact quotient pi/180. */
inline constexpr int VaboDefaultMaxIter = 100;
inline constexpr double VaboDefaultMinDev = 1e-7;
inline constexpr double VaboDefaultMaxDev = 0.01745329252;

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

/* Refine mark of a start value: 1 for "~", 0 for "=" or "[", otherwise
 * defval.  *pvalue (if given) receives the text after the mark, or value. */
int get_par_mode(const char *value, const char **pvalue, int defval);

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

/* Table of the eight parameters with value and refine mode ("missing" for a
 * negative mode).  Returns 0. */
int fprint_parameters_verbose(FILE *out, const double *Par, const int *ParMode);
/* Table of the calibration points, numbered from 1.  Returns 0. */
int fprint_input_data(FILE *out, size_t ndata, const double *TwoTheta,
                      const double *Coord1, const double *Coord2,
                      const double *Weight);
/* A label right-aligned in 12 characters and the vector's text form. */
int fprint_parameters(FILE *out, const double *Par, const char *label);
int fprint_beam_parameters(FILE *out, const double *Par, const char *label);
int fprint_statistics(FILE *out, const double *Stat, const char *label);

#endif
