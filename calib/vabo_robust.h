/*
 * vabo_robust -- the front end's robust refinement options: method=gn|lm
 * (Gauss-Newton, the default, or Levenberg-Marquardt damping) and
 * reject=K (sigma clipping of outliers at K robust standard deviations).
 *
 * The options are read here (a bad value is reported in one line), the
 * refinement is run through the refinement module's VaboOptimizeEx or
 * VaboOptimizeRobust, the rounds of clipping are reported on standard error
 * ("reject: round R: N points rejected, M kept, stdev S") and recorded in
 * the result of json=.  Without either option the run is VaboOptimizeSteps.
 * Implemented in vabo_robust.cpp.
 */
#ifndef VABO_ROBUST_H
#define VABO_ROBUST_H

#include "vabo_base.h"
#include "vabo_results.h"

#include <cstddef>
#include <vector>

/* The robust options of the command line. */
struct VaboRobustOptions {
  bool has_method = false;      /* method= given */
  int method = VaboGaussNewton; /* VaboMethod */
  bool has_reject = false;      /* reject= given */
  double reject = 0.0;          /* K: positive and finite when given */
};

/* What a robust run keeps of its points beside the calibration tables.
 * lines[i] is the physical input line of point i, filled while reading
 * (only with reject=).  Once the clipping ran (clipped), round[i] is the
 * round that rejected point i (0: kept), residual[i] its residual at the
 * refined parameters (when refined) and weight[i] its weight in the final
 * fit (0 when rejected). */
struct VaboRobustRun {
  std::vector<size_t> lines;
  std::vector<int> round;
  std::vector<double> residual;
  std::vector<double> weight;
  VaboRejection rejection{};
  bool clipped = false; /* the clipping ran */
  bool refined = false; /* and its refinements succeeded */
};

/* The option reject=: the whole text must be one expression of a positive,
 * finite number.  false after reporting it on standard error. */
bool vabo_read_reject(const char *rest, VaboRobustOptions &options);
/* The option method=: "gn" or "lm".  false after reporting it. */
bool vabo_read_method(const char *rest, VaboRobustOptions &options);

/* Refines as the options ask, with the arguments of VaboOptimizeSteps (the
 * same outputs and results), and with reject= reports the rounds on
 * standard error, also when a refinement fails.  VaboOptimizeOk, or why the
 * refinement failed (VaboOptimizeNoMemory when storage ran out). */
VaboOptimizeFailure
vabo_robust_optimize(const VaboRobustOptions &options, VaboRobustRun &run,
                     double *ParOpt, double *ParDev, double *ParStat,
                     const double *ParStart, const int *ParMode, size_t ndata,
                     const double *TwoTheta, const double *Coord1,
                     const double *Coord2, const double *Weight, double mindev,
                     int maxiter, int *psteps);

/* The weights the final fit used: Weight, or with the rejected points at 0
 * after clipping (for the covariance over the kept points). */
const double *vabo_robust_weights(const VaboRobustRun &run,
                                  const double *Weight);

/* Records the method and the clipping (rounds, rejected points with their
 * input lines) in result; nothing without the options.  false when there is
 * no storage for the record. */
bool vabo_robust_set_result(VaboResult &result,
                            const VaboRobustOptions &options,
                            const VaboRobustRun &run, const double *TwoTheta,
                            const double *Coord1, const double *Coord2);

#endif
