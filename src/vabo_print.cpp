/*
 * vabo_print.cpp -- the front end's texts and printers.
 *
 * The banner version, the usage and example texts, the refine marks of
 * start values, and the printers that put the parameter, beam and
 * statistics vectors on one labelled line or show the start values and the
 * calibration points as tables.  All printers write to the stream given.
 */
#include "vabo.h"

#include "vabo_base.h"
