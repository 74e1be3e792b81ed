/*
 * vabo_internal.h -- what the sources of the refinement module share and
 * other programs do not see (internal to the module, not part of its
 * interface).
 */
#ifndef VABO_INTERNAL_H
#define VABO_INTERNAL_H

#include "vabo_base.h"

/* Records why a refinement fails, for VaboOptimizeLastFailure; returns the
 * refinement's failure status 1.  Defined in vabo_refine.cpp. */
int vabo_optimize_fail(VaboOptimizeFailure why);

#endif
