/*
 * vabo_rings -- calibration points that know their rings.
 *
 * A point knows its ring when it comes from a control-point file (the file
 * says it) or when a point of the plain data format is matched to the
 * nearest ring of a calibrant.  Then its target angle is the ring's,
 * TwoTheta = 2 asin(lambda / 2d), and a run can report per ring how well
 * the geometry fits and write the points back as control points.  One
 * record, VaboRings, carries what a front end needs for that: the
 * d-spacings, the ring of every point and the wavelength.  Entry points:
 * vabo_rings_from_npt (the points of a control-point file),
 * vabo_rings_match (points of known angle to a calibrant's rings),
 * vabo_ring_statistics (the per-ring residuals at a geometry),
 * vabo_rings_npt_text (the points of a fit as a control-point file) and
 * vabo_result_warnings (what a result should tell its reader).  Nothing
 * here prints; errors are one line in *error.
 */
#ifndef VABO_RINGS_H
#define VABO_RINGS_H

#include "vabo_calibrant.h"
#include "vabo_npt.h"
#include "vabo_results.h"
#include "vabo_robust.h"

#include <cstddef>
#include <string>
#include <vector>

/* Correlation of two refined parameters beyond which a result warns: the
 * points then cannot tell the two apart, and their standard errors say
 * more about each other than about the detector. */
constexpr double VaboWarnCorrelation = 0.999;

/* Fewest rings that determine a refined wavelength apart from the
 * distance: on one or two rings lambda and dis trade against each other
 * along the whole ring. */
constexpr int VaboWarnWavelengthRings = 3;

/* Rings of a run's points.  Invariants: every ring[i] indexes spacing;
 * spacing positive and finite, in the order the rings are numbered (a
 * calibrant's decreasing d, or a file's own order); wavelength positive
 * and finite; every ring a point uses reachable (wavelength <= 2 d). */
struct VaboRings {
  std::string calibrant;       /* name written to a control-point file */
  std::vector<double> spacing; /* d of ring k, m */
  std::vector<int> ring;       /* ring of point i */
  double wavelength = 0.0;     /* m */
};

/* The calibration points of a control-point file: *angle, *i1, *i2 and
 * *lines (physical lines) filled point by point, *rings with their rings.
 * The d-spacings come from calibrant when given (non-null), else from the
 * file's own list, else from the built-in calibrant the file names; the
 * wavelength from has_wavelength/wavelength when given, else from the file.
 * False with the one line *error naming the file (as name) and, for a
 * point, its line: no d-spacings, no wavelength, a ring beyond the
 * d-spacings, a ring the wavelength cannot reach.  The outputs are then
 * empty. */
bool vabo_rings_from_npt(const VaboNpt &npt, const char *name,
                         const VaboCalibrant *calibrant, bool has_wavelength,
                         double wavelength, std::vector<double> *angle,
                         std::vector<double> *i1, std::vector<double> *i2,
                         std::vector<size_t> *lines, VaboRings *rings,
                         std::string *error);

/* Matches the n points of measured angle[i] (rad) to the rings of
 * calibrant at wavelength (m): each to the reachable ring nearest its
 * angle, which must lie closer than half the distance to the neighbouring
 * ring on its side.  True with *rings filled (spacing = the calibrant's
 * d-spacings).  False with *failed the index of the first point that no
 * ring claims (angle not finite, or between rings) and *rings untouched;
 * *failed is n when the calibrant has no reachable ring. */
bool vabo_rings_match(size_t n, const double *angle,
                      const VaboCalibrant &calibrant, double wavelength,
                      VaboRings *rings, size_t *failed);

/* Prepares run to refine the wavelength with the geometry: the d-spacing
 * of each point's ring (run.spacing) and the start, rings.wavelength;
 * result learns that the wavelength is refined.  false when storage runs
 * out (run.spacing then empty). */
bool vabo_rings_refine_wavelength(const VaboRings &rings, VaboRobustRun &run,
                                  VaboResult &result);

/* After such a refinement succeeded: the refined wavelength and its
 * deviation into result (which then carries it) and rings, and each of the
 * n points' target, its ring's angle at it, into angle[0 .. n). */
void vabo_rings_take_wavelength(const VaboRobustRun &run, size_t n,
                                VaboRings &rings, VaboResult &result,
                                double *angle);

/* The statistics of every ring that has points of positive weight, in
 * ring order, at the parameters par (natural order) for the n points
 * (angle, i1, i2, weight; angle the target of each point).  Empty when no
 * ring has such a point. */
std::vector<VaboRingStat>
vabo_ring_statistics(const double *par, size_t n, const double *angle,
                     const double *i1, const double *i2, const double *weight,
                     const VaboRings &rings);

/* The text of a control-point file of the n points (i1, i2) with their
 * rings, leaving out those whose rejected[i] is not zero (the round that
 * rejected it; rejected null: none left out).  False with *error saying why
 * when the record cannot be written (no point left, a calibrant name with
 * blanks). */
bool vabo_rings_npt_text(size_t n, const double *i1, const double *i2,
                         const int *rejected, const VaboRings &rings,
                         std::string *text, std::string *error);

/* What a reader of result should be told: refined parameters correlated
 * beyond VaboWarnCorrelation, a pixel size refined together with the
 * distance, a wavelength refined on fewer than VaboWarnWavelengthRings
 * rings (nrings: rings with points).  Each a sentence without a line end; empty
 * when all is well. */
std::vector<std::string> vabo_result_warnings(const VaboResult &result,
                                              size_t nrings);

#endif
