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

#include "vabo_run.h"

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

/* The usage text (no argument, help, missing values, missing data). */
extern const char *const VaboUsageText;
/* The example shown by the help. */
extern const char *const VaboExampleText;

/* Refine mark of a start value: 1 for "~", 0 for "=" or "[", otherwise
 * defval.  *pvalue (if given) receives the text after the mark, or value. */
int get_par_mode(const char *value, const char **pvalue, int defval);

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
