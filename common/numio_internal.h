/*
 * numio_internal.h -- helpers shared by the sources of the expression
 * library and not part of its interface.  Defined in numio_grammar.cpp.
 */
#ifndef VABO_NUMIO_INTERNAL_H
#define VABO_NUMIO_INTERNAL_H

#include "numio.h"

/* The first character of s that is not white space. */
const char *numio_skip_white(const char *s);

/* Runs program and returns the value of its top register.  On failure
 * returns 0 with *perrval set: the run's error, 14 for a failed run without
 * one, 16 when the run leaves no value. */
double numio_run_value(NumProg *program, int *perrval);

/* Shows a program a reader or compiler built: on standard error after an
 * error value above 13, on standard output when NUMIO_debug is above 2. */
void numio_print_program(NumProg *program, int errval);

#endif
