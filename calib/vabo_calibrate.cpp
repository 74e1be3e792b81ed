/*
 * vabo_calibrate.cpp -- the loop of picking and refining (vabo_calibrate.h).
 *
 * Round 1 picks the innermost rings that cross the image, each searched up
 * to half the distance to its neighbours.  Every later round picks with the
 * geometry just refined: a ring joins when its predicted place is known to
 * a quarter of that distance -- how far the last refinement moved it, plus
 * three standard errors of the prediction from the covariance -- and each
 * ring is searched that far (at least a few pixels).  The loop ends when the
 * rings and the points stop changing; then the checks decide whether the
 * geometry explains the image.
 */
#include "vabo_calibrate.h"

#include "vabo_npt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace {

constexpr double kPi = 3.141592653589793;
/* Azimuths at which a ring's predicted place is compared between
 * geometries and its visibility tested. */
constexpr int kProbeAzimuths = 72;
/* A ring joins when its uncertainty (pixels) is at most this fraction of
 * half the distance to its neighbour: points on it then cannot belong to
 * the neighbour even from the edge of the search. */
constexpr double kTrust = 0.5;
/* The search reaches the uncertainty from the prediction (the geometry
 * just refined is closer than the one before it, whose error the last
 * move measures), and at least kMinSearch pixels (the peak's own width and
 * the rounding). */
constexpr double kMinSearch = 4.0;
/* Points of the first round are this far apart along the rings (pixels):
 * its wide searches read many pixels, and a rough fit needs few points. */
constexpr double kFirstStep = 3 * VABO_PICK_STEP;
/* Standard errors of the prediction added to the uncertainty. */
constexpr double kSigmas = 3.0;
/* The points have stopped changing when the rings are the same and no
 * ring moved by more than this (pixels) in the last refinement: a hundredth
 * of a pixel is below the accuracy of any point. */
constexpr double kSettledShift = 0.01;
/* The checks of a real fit.  A wrong geometry crosses the true rings only
 * here and there: less than a fifth of its predicted ring length finds a
 * peak, where a right one finds most of it (texture and shadows aside). */
constexpr double kMinFoundFraction = 0.3;
/* A ring counts as found when this fraction of its profiles has a point. */
constexpr double kMinRingFraction = 0.2;
/* Of the rings crossing the image (with at least kMinTried profiles), at
 * least this fraction must be found. */
constexpr double kMinRingsFound = 0.5;
constexpr size_t kMinTried = 20;
/* Residuals of a right fit are within their stated errors, chi2 about 1;
 * 16 leaves room for errors underestimated fourfold, a wrong ring gives
 * hundreds. */
constexpr double kMaxChi2 = 16.0;
/* At most this fraction of the points may be clipped. */
constexpr double kMaxRejected = 0.25;
/* Fewest rings and points of a calibration. */
constexpr size_t kMinRings = 2;
constexpr size_t kMinPoints = 30;

struct Ring {
  VaboPickRing pick;    /* search 0: not picked */
  bool visible = false; /* crosses the image */
  double halfgap = 0.0; /* half the distance to the nearest neighbour, px */
};

bool on_image(const VaboImage &image, double i1, double i2)
{
  return i1 >= 0.0 && i2 >= 0.0 && i1 <= static_cast<double>(image.rows) - 1 &&
         i2 <= static_cast<double>(image.columns) - 1;
}

/* The uncertainty of a ring's place is probed at every kSigmaStride-th
 * of the probe azimuths. */
constexpr int kSigmaStride = 4;
constexpr int kSigmaAzimuths = kProbeAzimuths / kSigmaStride;
static_assert(kSigmaAzimuths * kSigmaStride == kProbeAzimuths);

/* The azimuths at which rings are probed: all, and those of the
 * uncertainty. */
struct Probes {
  double azimuth[kProbeAzimuths];
  double sigma[kSigmaAzimuths];
  Probes()
  {
    for (int a = 0; a < kProbeAzimuths; ++a)
      azimuth[a] = -kPi + 2 * kPi * a / kProbeAzimuths;
    for (int a = 0; a < kSigmaAzimuths; ++a)
      sigma[a] = azimuth[a * kSigmaStride];
  }
};
const Probes kProbes;

/* A ring's predicted places under one geometry at the first count of
 * azimuths (the probes by default); ok[a] false where there is none. */
struct Path {
  double i1[kProbeAzimuths], i2[kProbeAzimuths];
  bool ok[kProbeAzimuths];

  Path(const double *Par, double tth, const double *azimuths = kProbes.azimuth,
       int count = kProbeAzimuths)
  {
    vabo_ring_pixels(Par, tth, azimuths, static_cast<size_t>(count), i1, i2,
                     ok);
  }
};

/* Visibility and half gaps of the sorted rings under Par. */
void survey(const VaboImage &image, const double *Par, std::vector<Ring> &rings)
{
  const size_t n = rings.size();
  std::vector<Path> paths;
  paths.reserve(n);
  for (const Ring &r : rings) paths.emplace_back(Par, r.pick.two_theta);
  for (size_t k = 0; k < n; ++k) {
    rings[k].visible = false;
    rings[k].halfgap = HUGE_VAL;
    const Path &p = paths[k];
    for (int a = 0; a < kProbeAzimuths; ++a) {
      if (!p.ok[a]) continue;
      if (on_image(image, p.i1[a], p.i2[a])) rings[k].visible = true;
      for (size_t j : {k - 1, k + 1}) {
        if (j >= n || !paths[j].ok[a]) continue; /* k - 1 wraps for k = 0 */
        rings[k].halfgap = std::min(rings[k].halfgap,
                                    0.5 * std::hypot(paths[j].i1[a] - p.i1[a],
                                                     paths[j].i2[a] - p.i2[a]));
      }
    }
  }
}

/* Largest move (pixels) of ring tth between geometries A and B. */
double ring_shift(const double *A, const double *B, double tth)
{
  const Path a(A, tth), b(B, tth);
  double shift = 0.0;
  for (int k = 0; k < kProbeAzimuths; ++k)
    if (a.ok[k] && b.ok[k])
      shift = std::max(shift, std::hypot(b.i1[k] - a.i1[k], b.i2[k] - a.i2[k]));
  return shift;
}

/* Largest standard error (pixels) of ring tth's predicted place under Par
 * with the covariance Cov of the refined parameters (natural order). */
double ring_sigma(const double *Par, const int *modes, const double *Cov,
                  size_t nopt, double tth)
{
  int refined[NParams];
  size_t m = 0;
  for (int p = 0; p < NParams && m < nopt; ++p)
    if (modes[p]) refined[m++] = p;
  /* The derivatives of the places by central differences, one pair of
   * geometries per refined parameter. */
  double J[2][NParams][kSigmaAzimuths];
  bool ok[kSigmaAzimuths];
  std::fill(ok, ok + kSigmaAzimuths, true);
  for (size_t j = 0; j < m; ++j) {
    const int p = refined[j];
    const double h = std::max(1e-7, 1e-6 * std::fabs(Par[p]));
    double P[NParams];
    std::copy(Par, Par + NParams, P);
    P[p] = Par[p] + h;
    const Path up(P, tth, kProbes.sigma, kSigmaAzimuths);
    P[p] = Par[p] - h;
    const Path down(P, tth, kProbes.sigma, kSigmaAzimuths);
    for (int a = 0; a < kSigmaAzimuths; ++a) {
      ok[a] = ok[a] && up.ok[a] && down.ok[a];
      if (!ok[a]) continue;
      J[0][j][a] = (up.i1[a] - down.i1[a]) / (2 * h);
      J[1][j][a] = (up.i2[a] - down.i2[a]) / (2 * h);
    }
  }
  double worst = 0.0;
  for (int a = 0; a < kSigmaAzimuths; ++a) {
    if (!ok[a]) continue;
    double var = 0.0;
    for (int c = 0; c < 2; ++c)
      for (size_t i = 0; i < m; ++i)
        for (size_t j = 0; j < m; ++j)
          var += J[c][i][a] * Cov[j * nopt + i] * J[c][j][a];
    if (var > 0.0) worst = std::max(worst, std::sqrt(var));
  }
  return worst;
}

int fail(VaboCalibrateResult &result, int status, const char *reason)
{
  result.status = status;
  try {
    result.reason = reason;
  } catch (const std::bad_alloc &) {
  }
  return status;
}

/* Refines from the points of picked with Par as start into result.  false
 * when the refinement fails. */
bool refine(const VaboCalibrateOptions &options, const double *Par,
            const VaboPickResult &picked, VaboCalibrateResult &result,
            std::vector<double> table[4])
{
  const size_t n = picked.points.size();
  for (int t = 0; t < 4; ++t) table[t].resize(n);
  for (size_t i = 0; i < n; ++i) {
    const VaboPickPoint &p = picked.points[i];
    table[0][i] = p.two_theta;
    table[1][i] = p.i1;
    table[2][i] = p.i2;
    table[3][i] = p.weight;
  }
  result.run = VaboRobustRun{};
  int steps = 0;
  const VaboOptimizeFailure outcome = vabo_robust_optimize(
      options.robust, result.run, result.Par, result.ParDev, result.Stat, Par,
      options.modes, n, table[0].data(), table[1].data(), table[2].data(),
      table[3].data(), options.mindev, options.maxiter, &steps);
  return outcome == VaboOptimizeOk;
}

size_t rings_with_points(const VaboPickResult &picked)
{
  size_t n = 0;
  for (const VaboPickRingCount &c : picked.rings) n += c.found > 0;
  return n;
}

int calibrate(const VaboImage &image, const double *Start,
              const VaboPickRing *given, size_t nrings,
              const VaboCalibrateOptions &options, VaboCalibrateResult &result)
{
  std::vector<Ring> rings;
  for (size_t k = 0; k < nrings; ++k)
    if (std::isfinite(given[k].two_theta) && given[k].two_theta > 0.0 &&
        given[k].two_theta < kPi) {
      Ring r;
      r.pick = given[k];
      r.pick.search = 0.0;
      rings.push_back(r);
    }
  std::sort(rings.begin(), rings.end(), [](const Ring &x, const Ring &y) {
    return x.pick.two_theta < y.pick.two_theta;
  });

  double picked_with[NParams];
  std::copy(Start, Start + NParams, picked_with);
  std::copy(Start, Start + NParams, result.Par);
  survey(image, Start, rings);
  size_t first = 0;
  for (Ring &r : rings)
    if (r.visible && first < VABO_CALIBRATE_FIRST_RINGS) {
      r.pick.search = r.halfgap;
      r.pick.step = kFirstStep;
      ++first;
    }
  if (first == 0)
    return fail(result, VaboCalibrateNoRing,
                "no ring of the calibrant crosses the image at the start "
                "geometry");

  std::vector<VaboPickRing> wanted;
  VaboPickResult picked;
  std::vector<double> table[4];
  std::string error;
  for (int round = 1; round <= options.max_rounds; ++round) {
    wanted.clear();
    for (const Ring &r : rings) wanted.push_back(r.pick);
    if (!vabo_pick(image, picked_with, wanted.data(), wanted.size(), picked,
                   &error))
      return fail(result, VaboCalibrateBadArgument, error.c_str());
    VaboCalibrateRound line;
    line.round = round;
    line.points = picked.points.size();
    line.rings = rings_with_points(picked);
    if (picked.points.size() < kMinPoints || line.rings < kMinRings) {
      result.rounds.push_back(line);
      return fail(result, VaboCalibrateNotFound,
                  "the rings of the calibrant were not found on the image "
                  "near the start geometry");
    }
    if (!refine(options, picked_with, picked, result, table)) {
      result.rounds.push_back(line);
      return fail(result, VaboCalibrateRefineFailed,
                  "the refinement from the picked points failed");
    }
    line.kept = static_cast<size_t>(result.Stat[RNData]);
    line.stdev = result.Stat[RStdDev];
    result.rounds.push_back(line);

    /* What the new geometry knows of each ring. */
    double Cov[NParams * NParams];
    double s2 = NAN;
    size_t nopt = 0;
    const bool have_cov =
        VaboCovarianceNormal(Cov, &s2, &result.run.normal) == VaboCovOk;
    nopt = result.run.normal.nopt;
    result.chi2 = s2;
    survey(image, result.Par, rings);
    bool same = true;
    double moved = 0.0;
    for (Ring &r : rings) {
      const double shift =
          ring_shift(picked_with, result.Par, r.pick.two_theta);
      double u = shift;
      if (have_cov)
        u += kSigmas *
             ring_sigma(result.Par, options.modes, Cov, nopt, r.pick.two_theta);
      const bool was = r.pick.search > 0.0;
      const bool now = r.visible && (was || u <= kTrust * r.halfgap);
      if (was) moved = std::max(moved, shift);
      if (now != was) same = false;
      r.pick.step = VABO_PICK_STEP;
      r.pick.search = now ? std::max(kMinSearch, u) : 0.0;
    }
    /* Picking again with the same rings from a geometry that moved them
     * this little would give the same points. */
    const bool settled = round > 1 && same && moved <= kSettledShift;
    std::copy(result.Par, result.Par + NParams, picked_with);
    if (settled) {
      result.settled = true;
      break;
    }
  }

  /* The points of the final fit, and the checks. */
  result.points = picked.points;
  size_t tried = 0, found = 0;
  result.rings_visible = 0;
  result.rings_found = 0;
  for (const VaboPickRingCount &c : picked.rings) {
    tried += c.tried;
    found += c.found;
  }
  for (const Ring &r : rings) {
    if (!r.visible) continue;
    const VaboPickRingCount *count = nullptr;
    for (const VaboPickRingCount &c : picked.rings)
      if (c.ring == r.pick.index) count = &c;
    if (count && count->tried < kMinTried) continue;
    ++result.rings_visible;
    if (count && static_cast<double>(count->found) >=
                     kMinRingFraction * static_cast<double>(count->tried))
      ++result.rings_found;
  }
  result.found_fraction =
      tried ? static_cast<double>(found) / static_cast<double>(tried) : 0.0;
  const double kept = result.Stat[RNData];
  const double rejected = static_cast<double>(picked.points.size()) - kept;
  if (result.found_fraction < kMinFoundFraction)
    return fail(result, VaboCalibrateUnreliable,
                "the geometry found does not explain the image: too little "
                "of the predicted ring length has a peak");
  if (static_cast<double>(result.rings_found) <
      kMinRingsFound * static_cast<double>(result.rings_visible))
    return fail(result, VaboCalibrateUnreliable,
                "the geometry found does not explain the image: most rings "
                "it predicts are not there");
  if (!(result.chi2 <= kMaxChi2))
    return fail(result, VaboCalibrateUnreliable,
                "the geometry found does not explain the image: the "
                "residuals are far beyond the points' errors");
  if (rejected > kMaxRejected * static_cast<double>(picked.points.size()))
    return fail(result, VaboCalibrateUnreliable,
                "the geometry found does not explain the image: too many "
                "points had to be rejected");
  result.status = VaboCalibrateOk;
  return VaboCalibrateOk;
}

} // namespace

int vabo_calibrate(const VaboImage &image, const double Start[NParams],
                   const VaboPickRing *rings, size_t nrings,
                   const VaboCalibrateOptions &options,
                   VaboCalibrateResult &result)
{
  result = VaboCalibrateResult{};
  if (!Start || !rings || nrings == 0)
    return fail(result, VaboCalibrateBadArgument,
                "calibrate: no start geometry or no rings");
  for (int p = 0; p < NParams; ++p)
    if (!std::isfinite(Start[p]))
      return fail(result, VaboCalibrateBadArgument,
                  "calibrate: the start geometry is not finite");
  try {
    return calibrate(image, Start, rings, nrings, options, result);
  } catch (const std::bad_alloc &) {
    return fail(result, VaboCalibrateNoMemory, "calibrate: out of memory");
  }
}

const char *vabo_calibrate_status_text(int status)
{
  switch (status) {
  case VaboCalibrateOk: return "calibrated";
  case VaboCalibrateBadArgument: return "bad argument";
  case VaboCalibrateNoMemory: return "out of memory";
  case VaboCalibrateNoRing: return "no ring crosses the image";
  case VaboCalibrateNotFound: return "the rings were not found";
  case VaboCalibrateRefineFailed: return "the refinement failed";
  case VaboCalibrateUnreliable:
    return "the geometry does not explain the image";
  default: return "unknown status";
  }
}

char *vabo_calibrate_round_line(char *buffer, size_t bufsiz,
                                const VaboCalibrateRound &round)
{
  if (!buffer || bufsiz == 0) return buffer;
  snprintf(buffer, bufsiz, "pick: round %d: %zu points on %zu rings, stdev %lg",
           round.round, round.points, round.rings, round.stdev);
  return buffer;
}

std::vector<VaboPickRing> vabo_calibrate_rings(const VaboCalibrant &calibrant,
                                               double wavelength)
{
  std::vector<VaboPickRing> rings;
  try {
    for (size_t k = 0; k < calibrant.rings.size(); k++) {
      const double tth = vabo_ring_two_theta(wavelength, calibrant.rings[k].d);
      if (!(tth < M_PI / 2)) break; /* NaN: out of reach */
      VaboPickRing ring;
      ring.two_theta = tth;
      ring.index = static_cast<int>(k);
      rings.push_back(ring);
    }
  } catch (const std::bad_alloc &) {
    rings.clear();
  }
  return rings;
}

bool vabo_calibrate_tables(const VaboCalibrateResult &result,
                           VaboCalibrateTables &tables)
{
  try {
    const size_t n = result.points.size();
    const bool clipped = result.run.weight.size() == n;
    tables.angle.resize(n);
    tables.i1.resize(n);
    tables.i2.resize(n);
    tables.weight.resize(n);
    tables.ring.resize(n);
    for (size_t i = 0; i < n; i++) {
      const VaboPickPoint &p = result.points[i];
      tables.angle[i] = p.two_theta;
      tables.i1[i] = p.i1;
      tables.i2[i] = p.i2;
      tables.weight[i] = clipped ? result.run.weight[i] : p.weight;
      tables.ring[i] = p.ring;
    }
    return true;
  } catch (const std::bad_alloc &) {
    tables = VaboCalibrateTables{};
    return false;
  }
}
