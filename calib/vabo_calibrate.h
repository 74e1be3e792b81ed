/*
 * vabo_calibrate -- from a calibrant image and a start geometry to a
 * refined geometry: the loop that alternates picking the rings
 * (vabo_pick) and refining from the points (vabo_robust_optimize with
 * sigma clipping), adding rings further out as the geometry earns them,
 * until the points stop changing.  Entry point: vabo_calibrate.
 *
 * It also judges the end: a geometry is only handed back as a success when
 * it explains the image (enough of the visible ring length found, residuals
 * within a few of the points' own errors, most visible rings found); a
 * start too poor to find the rings, or an image without rings, ends as a
 * failure with its reason.  Nothing here prints: each round comes back as
 * data, and vabo_calibrate_round_line makes its line.
 * Implemented in vabo_calibrate.cpp.
 */
#ifndef VABO_CALIBRATE_H
#define VABO_CALIBRATE_H

#include "vabo_base.h"
#include "vabo_calibrant.h"
#include "vabo_image.h"
#include "vabo_pick.h"
#include "vabo_robust.h"
#include "vabo_run.h"

#include <cstddef>
#include <string>
#include <vector>

/* Most rounds of picking and refining: each round adds the rings its
 * geometry can tell apart, and a dozen rings are all in after a few; the
 * rest is settling. */
inline constexpr int VABO_CALIBRATE_MAX_ROUNDS = 12;
/* The first round picks this many of the innermost rings that cross the
 * image: close to the beam a poor start still puts each ring nearer its
 * own place than its neighbour's, and three rings fix the distance and the
 * tilts. */
inline constexpr size_t VABO_CALIBRATE_FIRST_RINGS = 3;
/* Sigma clipping of the refinements (robust standard deviations): a point
 * on a neighbouring ring lies tens of them away, the noise's own tail
 * beyond 4 is one point in 10^4. */
inline constexpr double VABO_CALIBRATE_REJECT = 4.0;

/* The options of a calibration.  modes selects the refined parameters as
 * VaboOptimize's ParMode (default: cen1 cen2 dis rot1 rot2, the program's
 * default); robust the method and the clipping of every refinement
 * (default: Levenberg-Marquardt, which keeps to the right minimum from a
 * poor start, with clipping at VABO_CALIBRATE_REJECT). */
struct VaboCalibrateOptions {
  int modes[NParams] = {0, 0, 1, 1, 1, 1, 1, 0};
  VaboRobustOptions robust{true, VaboLevenbergMarquardt, true,
                           VABO_CALIBRATE_REJECT};
  int max_rounds = VABO_CALIBRATE_MAX_ROUNDS;
  int maxiter = VaboDefaultMaxIter; /* steps of each refinement */
  double mindev = 0.0; /* stopping threshold of each refinement, rad */
};

/* One round: the points picked and the refinement that followed. */
struct VaboCalibrateRound {
  int round = 0;      /* 1, 2, ... */
  size_t points = 0;  /* picked */
  size_t rings = 0;   /* rings with points */
  size_t kept = 0;    /* points kept by the clipping */
  double stdev = 0.0; /* weighted standard deviation of the fit, rad */
};

/* How a calibration ended. */
typedef enum VaboCalibrateStatus {
  VaboCalibrateOk = 0,
  VaboCalibrateBadArgument, /* missing rings, an image that does not hold
                               its pixels, a geometry not finite */
  VaboCalibrateNoMemory,
  VaboCalibrateNoRing,       /* no ring crosses the image at the start */
  VaboCalibrateNotFound,     /* the rings were not found on the image */
  VaboCalibrateRefineFailed, /* a refinement failed */
  VaboCalibrateUnreliable    /* the geometry does not explain the image */
} VaboCalibrateStatus;

/* The outcome.  On VaboCalibrateOk, Par, ParDev and Stat are those of the
 * final refinement (as VaboOptimize writes them), points the points it
 * used with their rings, run its clipping and weights (run.weight is 0 for
 * a rejected point).  The figures of the checks are filled as far as the
 * calibration got, also on failure; reason says in one line why it
 * failed (empty on success). */
struct VaboCalibrateResult {
  int status = VaboCalibrateOk;
  std::string reason;
  double Par[NParams] = {};
  double ParDev[NParams] = {};
  double Stat[NStats] = {};
  std::vector<VaboPickPoint> points;
  VaboRobustRun run;
  std::vector<VaboCalibrateRound> rounds;
  bool settled = false;      /* the points stopped changing */
  size_t rings_visible = 0;  /* rings crossing the image, final geometry */
  size_t rings_found = 0;    /* of them, found along enough length */
  double found_fraction = 0; /* profiles with a point / profiles tried */
  double chi2 = 0;           /* sum w r^2 / (N - nopt) of the final fit */
};

/* Calibrates from image, the start geometry Start (natural order) and the
 * calibrant's rings (their search is ignored).  VaboCalibrateOk with result
 * filled; otherwise the status, with result.reason and the rounds done;
 * result.Par is then the last geometry reached, which must not be taken
 * for a calibration. */
int vabo_calibrate(const VaboImage &image, const double Start[NParams],
                   const VaboPickRing *rings, size_t nrings,
                   const VaboCalibrateOptions &options,
                   VaboCalibrateResult &result);

/* The rings of calibrant at wavelength (m) that a calibration can pick:
 * those reachable below TwoTheta = pi/2, each with its index among the
 * calibrant's rings.  Empty when storage runs out. */
std::vector<VaboPickRing> vabo_calibrate_rings(const VaboCalibrant &calibrant,
                                               double wavelength);

/* The points of a successful calibration as calibration tables, for the
 * front ends' last refinement from result.Par: the rings' angles, the
 * pixels, the weights of the final fit (0 for a clipped point) and the
 * ring index of each point.  false when storage runs out (the tables are
 * then empty). */
struct VaboCalibrateTables {
  std::vector<double> angle, i1, i2, weight;
  std::vector<int> ring;
};
bool vabo_calibrate_tables(const VaboCalibrateResult &result,
                           VaboCalibrateTables &tables);

/* One line for a VaboCalibrateStatus (a static text). */
const char *vabo_calibrate_status_text(int status);

/* "pick: round R: N points on M rings, stdev S" (no line end) into buffer,
 * cut at bufsiz - 1; returns buffer. */
char *vabo_calibrate_round_line(char *buffer, size_t bufsiz,
                                const VaboCalibrateRound &round);

#endif
