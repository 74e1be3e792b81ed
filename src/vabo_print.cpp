/*
 * vabo_print.cpp -- the front end's texts and printers.
 *
 * The banner version, the usage and example texts, the messages that end a
 * run and the judgement of its final deviation, the refine marks of start
 * values, the reading of an option that is one whole expression (or one
 * positive number), and the printers that put the parameter, beam and
 * statistics vectors on one labelled line or show the start values and the
 * calibration points as tables.  All printers write to the stream given;
 * none of them allocates or fails.
 */
#include "vabo.h"

#include "vabo_base.h"

#include "numio.h"
#include "strlib.h"

#include <cmath>

const char *const VaboUsageText =
    "vabo [-h] [<options>] [debug=0|1|...] [input=<filename>] <start values>\n"
    "\n"
    "  <start values> := <pix1/m> <pix2/m> <cen1/pixel> <cen2/pixel> <dis/m> \n"
    "                    <rot1/rad> <rot2/rad> <rot3/rad>\n"
    "    defaults: pix1 and pix2 will not be refined, rot3 cannot be refined due\n"
    "              to rotational symmetry,\n"
    "    mark parameters with '~' to refine, '=' to keep constant\n"
    "  <options> := maxiter=nnn (number of loops, default 100) | mindev=ddd (min stddev to be reached, \n"
    "               default 1e-7), maxdev=mmm (maximum accepted final deviation, default 1_deg)\n"
    "\n"
    "  Each line of the input file must contain three values separated by spaces:\n"
    "   TwoTheta in radian and two image pixel coordinates.\n"
    "  Optionally, a weight (>=0) can be appended to each line (default 1).\n";

const char *const VaboExampleText =
    "  Example: \n"
    "     file: points.dat\n"
    "\n"
    "     #TwoTheta_rad   i1_I   i2_I\n"
    "     #3 1 0\n"
    "     0.19326         125.5  1013.5\n"
    "     0.19326         241.6   937.0\n"
    "     ...\n"
    "\n"
    "          >cat points.dat | vabo  50_um 50_um 500 500 11_cm -22_deg 0 0 debug=1\n"
    "           bin/LINUX64/vabo V1.1 2010-08-06 Kelvardo\n"
    "\n"
    "           step=8, stddev=0.000194115, change=1.60406e-18, mindev=-2.59197e-06, mindev=0.000511031\n"
    "           pix1=[5e-05] pix2=[5e-05] cen1=385.956 cen2=502.483 dis=0.0999409 rot1=-0.391358 rot2=0.00657904 rot3=[0]\n"
    "               Par = 5e-05 5e-05   385.956  502.483     0.0999409  -0.391358    0.00657904  0\n"
    "            ParDev =     0     0   0.69859  0.474283    0.000184965 0.000232974 0.000324257 0\n"
    "           BeamPar = 5e-05 5e-05   400.182  1327.28     0.108118    3.12435     0.391411    0.00130407\n"
    "               5e-05 5e-05 385.956 502.483  0.0999409  -0.391358    0.00657904  0\n"
    "                   0     0 0.69859 0.474283 0.000184965 0.000232974 0.000324257 0\n"
    "          0.00019411 -2.59197e-06  0.000511 20          20          5\n"
    "\n"
    "     The 1st and 2nd output line contains, in the order of the start values, the optimized values\n"
    "     and their (partial) standard deviations. The 3rd line contains the statistics of the fitted\n"
    "     data points: stdev, mindev, maxdev, total, ndata, nopt (average standard deviation per data point, \n"
    "     minimum and maximum standard deviation, total weight, number of data points, number of optimized parameters)\n";

/* Mode from the refine mark: "~" refines (1), "=" and "[" keep (0), anything
 * else takes defval.  *pvalue gets the text behind the mark, or value. */
int get_par_mode(const char *value, const char **pvalue, int defval)
{
  int mode = defval;
  const char *rest = value;
  switch (value[0]) {
  case '~':
    mode = 1;
    rest = value + 1;
    break;
  case '=':
  case '[':
    mode = 0;
    rest = value + 1;
    break;
  default: break;
  }
  if (pvalue) *pvalue = rest;
  return mode;
}

/* Name, value and refine flag of the eight parameters, then an empty line.
 * A negative mode shows the parameter as missing.  Returns 0. */
int fprint_parameters_verbose(FILE *out, const double *Par, const int *ParMode)
{
  const char *const *names = VaboParamNamesArray();
  fprintf(out, "%14s %14s %14s\n", "Name", "Value", "Refine");
  for (int i = 0; i < NParams; i++) {
    if (ParMode[i] < 0)
      fprintf(out, "%14s %14s %14s\n", names[i], "missing", "-");
    else
      fprintf(out, "%14s %14g %14s\n", names[i], Par[i],
              ParMode[i] ? "yes" : "no");
  }
  fprintf(out, "\n");
  return 0;
}

/* Header, one row per point (numbered from 1), then an empty line.
 * Returns 0. */
int fprint_input_data(FILE *out, size_t ndata, const double *TwoTheta,
                      const double *Coord1, const double *Coord2,
                      const double *Weight)
{
  fprintf(out, "%14s %14s %14s %14s %14s\n", "Num", "TwoTheta", "i1", "i2",
          "Weight");
  for (size_t i = 0; i < ndata; i++)
    fprintf(out, "%14lu %14lg %14lg %14lg %14lg\n",
            static_cast<unsigned long>(i + 1), TwoTheta[i], Coord1[i],
            Coord2[i], Weight[i]);
  fprintf(out, "\n");
  return 0;
}

/* One line: the label (null: empty) right-aligned in 12 characters, then
 * the formatted values.  Returns 0. */
static int fprint_labelled(FILE *out, const char *label, const char *text)
{
  fprintf(out, "%12s%s\n", label ? label : "", text ? text : "");
  return 0;
}

/* The 8 parameter values behind the label.  Returns 0. */
int fprint_parameters(FILE *out, const double *Par, const char *label)
{
  char buffer[VaboLineSize];
  return fprint_labelled(out, label,
                         sprint_parameters(buffer, sizeof buffer, Par));
}

/* The beam parameters derived from Par behind the label, "-" for each one
 * that cannot be derived.  Returns 0. */
int fprint_beam_parameters(FILE *out, const double *Par, const char *label)
{
  char buffer[VaboLineSize];
  return fprint_labelled(out, label,
                         sprint_beam_parameters(buffer, sizeof buffer, Par));
}

/* The 6 statistics behind the label.  Returns 0. */
int fprint_statistics(FILE *out, const double *Stat, const char *label)
{
  char buffer[VaboLineSize];
  return fprint_labelled(out, label,
                         sprint_statistics(buffer, sizeof buffer, Stat));
}
