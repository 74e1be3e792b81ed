/*
 * vabo_robust -- the robust refinement of the front ends: method=gn|lm
 * (Gauss-Newton, the default, or Levenberg-Marquardt damping) and
 * reject=K (sigma clipping of outliers at K robust standard deviations).
 *
 * Reads the two options (a bad value comes back as its reason), runs the
 * refinement they ask for through the refinement module's VaboOptimizeEx
 * or VaboOptimizeRobust (VaboOptimizeSteps without either), and keeps what
 * the run did as data: the rounds of clipping, the rejected points, the
 * weights of the final fit and the normal equations it ended with.  The
 * texts of the rounds are made here, written to the caller's stream.
 * Implemented in vabo_robust.cpp.
 */
#ifndef VABO_ROBUST_H
#define VABO_ROBUST_H

#include "vabo_base.h"
#include "vabo_results.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

/* The robust options of a run. */
struct VaboRobustOptions {
  bool has_method = false;      /* method= given */
  int method = VaboGaussNewton; /* VaboMethod */
  bool has_reject = false;      /* reject= given */
  double reject = 0.0;          /* K: positive and finite when given */
};

/* What a robust run keeps of its points beside the calibration tables.
 * lines[i] is the physical input line of point i, filled by a reader that
 * has lines (empty otherwise: the points are known by their index).  Once
 * the clipping ran (clipped), round[i] is the round that rejected point i
 * (0: kept), residual[i] its residual at the refined parameters (when
 * refined) and weight[i] its weight in the final fit (0 when rejected).
 * normal holds the normal equations of the final fit when the refinement
 * succeeded and could hand them back (normal.valid). */
struct VaboRobustRun {
  std::vector<size_t> lines;
  /* A refined wavelength: spacing[i] is the d-spacing (m) of point i's
   * ring; when it holds one per point the targets are the rings' angles
   * at the wavelength, refined from wavelength_start (m) into wavelength
   * with its deviation (by the rule of the parameters' deviations) once
   * the refinement succeeded. */
  std::vector<double> spacing;
  double wavelength_start = 0.0;
  double wavelength = 0.0;
  double wavelength_deviation = 0.0;
  std::vector<int> round;
  std::vector<double> residual;
  std::vector<double> weight;
  VaboRejection rejection{};
  VaboNormal normal{};
  bool clipped = false; /* the clipping ran */
  bool refined = false; /* and its refinements succeeded */
};

/* The option reject=: the whole text must be one expression of a positive,
 * finite number.  false with the line to report (without its line end)
 * in *error. */
bool vabo_read_reject(const char *rest, VaboRobustOptions &options,
                      std::string *error);
/* The option method=: "gn" or "lm".  false with the line to report in
 * *error. */
bool vabo_read_method(const char *rest, VaboRobustOptions &options,
                      std::string *error);
/* The name of a VaboMethod ("gn", "lm"); "unknown" for any other value. */
const char *vabo_method_name(int method);

/* Refines as the options ask, with the arguments of VaboOptimizeSteps (the
 * same outputs and results), keeping the clipping and the final normal
 * equations in run.  VaboOptimizeOk, or why the refinement failed
 * (VaboOptimizeNoMemory when storage ran out). */
VaboOptimizeFailure
vabo_robust_optimize(const VaboRobustOptions &options, VaboRobustRun &run,
                     double *ParOpt, double *ParDev, double *ParStat,
                     const double *ParStart, const int *ParMode, size_t ndata,
                     const double *TwoTheta, const double *Coord1,
                     const double *Coord2, const double *Weight, double mindev,
                     int maxiter, int *psteps);

/* Writes to out the lines that report the rounds of clipping of run
 * (nothing when no clipping ran): "reject: round R: N points rejected, M
 * kept, stdev S" per round, then why the clipping stopped when it did not
 * settle.  Allocates nothing. */
void vabo_robust_print(FILE *out, const VaboRobustRun &run);

/* The weights the final fit used: Weight, or with the rejected points at 0
 * after clipping (for the covariance over the kept points). */
const double *vabo_robust_weights(const VaboRobustRun &run,
                                  const double *Weight);

/* Records the method and the clipping (rounds, rejected points with their
 * index and input line) in result; nothing without the options.  false
 * when there is no storage for the record. */
bool vabo_robust_set_result(VaboResult &result,
                            const VaboRobustOptions &options,
                            const VaboRobustRun &run, const double *TwoTheta,
                            const double *Coord1, const double *Coord2);

#endif
