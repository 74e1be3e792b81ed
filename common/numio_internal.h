/*
 * numio_internal.h -- helpers shared by the sources of the expression
 * library and not part of its interface.  Defined in numio_grammar.cpp,
 * numio_gamma in gamma.cpp.
 */
#ifndef VABO_NUMIO_INTERNAL_H
#define VABO_NUMIO_INTERNAL_H

#include "numio.h"

/* pi to the precision of a double: the value of the PI instruction, of
 * "pi()" and of the units table's "pi". */
inline constexpr double kNumioPi = 3.141592653589793;

/* White space, wherever the library reads text: the six characters of the
 * "C" locale (blank, \t, \n, \v, \f, \r), whatever locale the calling
 * program has set, so that a text reads the same in every process. */
inline bool numio_is_white(char c)
{
  return c == ' ' || (c >= '\t' && c <= '\r');
}

/* The order of a chain that descends by strcmp (the registry, the units
 * table) as chain_seek takes it: a record whose key compares greater
 * (cmp > 0) comes before the one sought. */
inline int numio_descending(int cmp) { return cmp > 0 ? -1 : cmp < 0 ? 1 : 0; }

/* The first character of s that is not white space. */
const char *numio_skip_white(const char *s);

/* Runs program and returns the value of its top register.  On failure
 * returns 0 with *perrval set: the run's error, NUM_EPROGRAM for a failed run
 * without one, NUM_EREGISTERS when the run leaves no value. */
double numio_run_value(NumProg *program, int *perrval);

/* Shows a program a reader or compiler built: on standard error after an
 * error value above NUM_EBADVAR, on standard output when NUMIO_debug is
 * above 2. */
void numio_print_program(NumProg *program, int errval);

/* gamma(X) of gamma.h under a name that always binds inside the library.
 * The C library exports a gamma of its own (the logarithm of |Gamma|); in a
 * process where it was loaded first -- a Python interpreter, any program
 * that opens a module linked with this library -- a call by the name gamma
 * from position-independent code reaches that one.  A hidden symbol cannot
 * be preempted, so the GAMMA instruction calls this. */
[[gnu::visibility("hidden")]] double numio_gamma(double X) noexcept;

/* When the text at s (white space already skipped) is one plain decimal
 * literal with at most one leading sign, ended by white space or the end of
 * the text, stores in *value and *tail exactly what the grammar would read
 * and returns true; otherwise returns false and changes nothing. */
bool numio_plain_literal(const char *s, double *value, const char **tail);

/* num_str2double through the grammar alone: translates, runs and frees the
 * temporary program "str2double", whatever the text. */
double numio_str2double_grammar(const char *str, const char **tail,
                                int *perrval);

#endif
