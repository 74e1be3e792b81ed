/*
 * vabo_debug.cpp -- the debug word of the refinement and the front end.
 *
 * One int switches all diagnostic output: its bits are named in vabo_base.h
 * (VABO_VERBOSE ... VABO_SAVESTEPS), its bits 0x06 form a two-bit level.
 * This file stores the word, prints it and formats the one-line description
 * of the switches shown by the help.  Bits are tested where the output is
 * produced, so changing the word changes the output from then on.
 */
#include "vabo_base.h"

#include <cstdio>

namespace {

int VABO_debug = 0;            /* the debug word */
int VABO_level = 0;            /* (VABO_debug & VABO_LEVEL) >> 1, 0 ... 3 */
char VABO_Usage[VaboLineSize]; /* the text of vabo_usage2str */

const char kUsageFormat[] =
    "verbose=0x%x,level=0x%x,data=0x%x,temp=0x%x,vabo=0x%x,list=0x%x,"
    "savesteps=0x%x";

} // namespace

int VaboDebugSet(int debug) { return vabo_debug_set(debug); }

int vabo_debug_set(int debug)
{
  VABO_debug = debug;
  VABO_level = (debug & VABO_LEVEL) >> 1;
  if (debug & VABO_VABO) fprint_debug(stdout);
  return 0;
}

int VABODebug(void) { return VABO_debug; }

int VABOLevel(void) { return VABO_level; }

const char *VaboUsage2str(void) { return vabo_usage2str(); }

const char *vabo_usage2str(void)
{
  snprintf(VABO_Usage, sizeof VABO_Usage, kUsageFormat, VABO_VERBOSE,
           VABO_LEVEL, VABO_DATA, VABO_SHOWTEMP, VABO_VABO, VABO_LIST,
           VABO_SAVESTEPS);
  return VABO_Usage;
}

int fprint_debug(FILE *out)
{
  fprintf(out, "debug      = 0x%x\n", (unsigned)VABO_debug);
  fprintf(out, "verbose    = %d\n", (VABO_debug & VABO_VERBOSE) ? 1 : 0);
  fprintf(out, "level      = %d\n", VABO_level);
  fprintf(out, "showdata   = %d\n", (VABO_debug & VABO_DATA) ? 1 : 0);
  fprintf(out, "showtemp   = %d\n", (VABO_debug & VABO_SHOWTEMP) ? 1 : 0);
  fprintf(out, "vabodebug  = %d\n", (VABO_debug & VABO_VABO) ? 1 : 0);
  fprintf(out, "listdebug  = %d\n", (VABO_debug & VABO_LIST) ? 1 : 0);
  fprintf(out, "savesteps   = %d\n", (VABO_debug & VABO_SAVESTEPS) ? 1 : 0);
  return 0;
}

int fprint_debug_usage(FILE *out)
{
  fprintf(out, "%s\n", vabo_usage2str());
  return 0;
}
