/*
 * vabo_order.cpp -- the ordered parameter record and the one-line texts.
 *
 * The refinement works on a copy of the parameter vector in which the
 * refined parameters come first (VaboOrdered).  Entry points: order_Par and
 * reorder_Par convert between natural and ordered form; sprint_parameters,
 * sprint_statistics, sprint_ordered_par, sprint_ordered_dev and
 * fprint_ordered make the texts that the front end, the loop and the
 * iteration log print.  This file owns the name and default-mode tables; it
 * computes nothing and never fails (a text that does not fit is cut).
 */
#include "vabo_base.h"
#include "vabo_internal.h"

#include <cmath>
#include <cstdio>

const char *const VaboParamNames[NParams + 1] = {
    "pix1", "pix2", "cen1", "cen2", "dis", "rot1", "rot2", "rot3", nullptr};

const int VaboParamDefault[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};

const char *const VaboStatNames[NStats + 1] = {
    "stdev", "mindev", "maxdev", "total", "ndata", "nopt", nullptr};

namespace {

/* Ordered position of parameter p, or -1 when the record's Index entry is
 * not a valid position (a record not made by order_Par). */
int ordered_position(const VaboOrdered *Ordered, int p)
{
  int j = Ordered->Index[p];
  return (j >= 0 && j < NParams) ? j : -1;
}

/* Calls visit(p, j) for every parameter p in natural order whose ordered
 * position j is valid. */
template <typename Visit>
void for_each_position(const VaboOrdered *Ordered, Visit visit)
{
  for (int p = 0; p < NParams; ++p) {
    const int j = ordered_position(Ordered, p);
    if (j >= 0) visit(p, j);
  }
}

/* One "%12lg " field for each of the n values (none for null values);
 * returns buffer (cut at bufsiz - 1). */
char *sprint_fields(char *buffer, size_t bufsiz, const double *values, int n)
{
  VaboTextAppender text(buffer, bufsiz);
  if (values)
    for (int k = 0; k < n; ++k) text.append("%12lg ", values[k]);
  return text.finish();
}

/* Whether ordered position j (not a parameter index) holds a refined
 * parameter: the refined ones fill positions 0 ... nopt-1. */
bool holds_refined(const VaboOrdered *Ordered, int j)
{
  return static_cast<size_t>(j) < Ordered->nopt;
}

/* Appends "<name><suffix>=<value> " for the parameter at ordered position
 * j, the value in brackets when the parameter is kept. */
void append_named(VaboTextAppender &text, const VaboOrdered *Ordered, int j,
                  const char *suffix, double value)
{
  const char *name = Ordered->Names[j] ? Ordered->Names[j] : "";
  if (holds_refined(Ordered, j))
    text.append("%s%s=%lg ", name, suffix, value);
  else
    text.append("%s%s=[%lg] ", name, suffix, value);
}

} // namespace

const char *const *VaboParamNamesArray(void) { return VaboParamNames; }

const int *VaboParamDefaultArray(void) { return VaboParamDefault; }

/* Fills the whole record: refined parameters (non-zero mode, or all when
 * ParMode is null) first, kept ones after, each group in natural order;
 * deviations and statistics -1.  Returns nopt (0 for a null record). */
size_t order_Par(VaboOrdered *Ordered, const double *Par, const int *ParMode)
{
  vabo_trace("order_Par");
  if (!Ordered) return 0;

  size_t j = 0;
  auto place = [&](int p) {
    Ordered->Index[p] = static_cast<int>(j);
    Ordered->Names[j] = VaboParamNames[p];
    Ordered->Par[j] = Par ? Par[p] : 0.0;
    Ordered->ParDev[j] = -1.0;
    ++j;
  };

  Ordered->nopt = 0;
  if (ParMode) {
    for (int p = 0; p < NParams; ++p)
      if (ParMode[p] != 0) place(p);
    Ordered->nopt = j;
    for (int p = 0; p < NParams; ++p)
      if (ParMode[p] == 0) place(p);
  } else {
    for (int p = 0; p < NParams; ++p) place(p);
    Ordered->nopt = NParams;
  }

  for (int k = 0; k < NStats; ++k) {
    Ordered->StatNames[k] = VaboStatNames[k];
    Ordered->Stat[k] = -1.0;
  }
  return Ordered->nopt;
}

/* Copies values and deviations back to natural order and the statistics
 * out; each null output is skipped.  Returns nopt (0 for a null record). */
size_t reorder_Par(const VaboOrdered *Ordered, double *Par, double *ParDev,
                   double *Stat)
{
  vabo_trace("reorder_Par");
  if (!Ordered) return 0;

  for_each_position(Ordered, [&](int p, int j) {
    if (Par) Par[p] = Ordered->Par[j];
    if (ParDev) ParDev[p] = Ordered->ParDev[j];
  });
  if (Stat)
    for (int k = 0; k < NStats; ++k) Stat[k] = Ordered->Stat[k];
  return Ordered->nopt;
}

/* Eight "%12lg " fields; returns buffer (cut at bufsiz - 1). */
char *sprint_parameters(char *buffer, size_t bufsiz, const double *Par)
{
  return sprint_fields(buffer, bufsiz, Par, NParams);
}

/* Six "%12lg " fields; returns buffer (cut at bufsiz - 1). */
char *sprint_statistics(char *buffer, size_t bufsiz, const double *Stat)
{
  return sprint_fields(buffer, bufsiz, Stat, NStats);
}

/* "name=value " per parameter in natural order, kept ones as
 * "name=[value] "; returns buffer (cut at bufsiz - 1). */
char *sprint_ordered_par(char *buffer, size_t bufsiz,
                         const VaboOrdered *Ordered)
{
  VaboTextAppender text(buffer, bufsiz);
  if (Ordered)
    for_each_position(Ordered, [&](int, int j) {
      append_named(text, Ordered, j, "", Ordered->Par[j]);
    });
  return text.finish();
}

/* "nameDev=value " per parameter with a deviation (negative or NaN means
 * none), kept ones in brackets; returns buffer, empty when none has one. */
char *sprint_ordered_dev(char *buffer, size_t bufsiz,
                         const VaboOrdered *Ordered)
{
  VaboTextAppender text(buffer, bufsiz);
  if (Ordered)
    for_each_position(Ordered, [&](int, int j) {
      const double d = Ordered->ParDev[j];
      if (!(std::isnan(d) || d < 0.0)) append_named(text, Ordered, j, "Dev", d);
    });
  return text.finish();
}

/* Writes the parameter line and, when any deviation has a value, the
 * deviation line.  Returns 0. */
int fprint_ordered(FILE *out, const VaboOrdered *Ordered)
{
  if (!out) return 0;
  char line[VaboLineSize];
  fprintf(out, "%s\n", sprint_ordered_par(line, sizeof line, Ordered));
  sprint_ordered_dev(line, sizeof line, Ordered);
  if (line[0] != '\0') fprintf(out, "%s\n", line);
  return 0;
}
