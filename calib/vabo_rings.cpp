/*
 * vabo_rings.cpp -- calibration points that know their rings (vabo_rings.h).
 */
#include "vabo_rings.h"

#include "vabo_fit2d.h"
#include "vabo_textfile.h"

#include <cmath>
#include <cstdio>
#include <new>

namespace {

/* Step of the central difference that gives the radial change of TwoTheta
 * per pixel: a hundredth of a pixel, where the model is smooth and the
 * rounding of the angles (~1e-16 rad) is far below the change (~1e-4 rad). */
constexpr double kPixelStep = 1e-2;

/* A number as "%g" writes it, for messages. */
std::string number_text(double value)
{
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

/* The model's TwoTheta at pixel (i1, i2). */
double model_angle(const VaboOrdered &ordered, double i1, double i2)
{
  return -DiffAngle(&ordered, 0.0, i1, i2);
}

/* Change of the model's TwoTheta per pixel across the ring at (i1, i2):
 * the length of its gradient, rad per pixel. */
double radial_change(const VaboOrdered &ordered, double i1, double i2)
{
  const double g1 = (model_angle(ordered, i1 + kPixelStep, i2) -
                     model_angle(ordered, i1 - kPixelStep, i2)) /
                    (2 * kPixelStep);
  const double g2 = (model_angle(ordered, i1, i2 + kPixelStep) -
                     model_angle(ordered, i1, i2 - kPixelStep)) /
                    (2 * kPixelStep);
  return std::hypot(g1, g2);
}

} // namespace

bool vabo_rings_from_npt(const VaboNpt &npt, const char *name,
                         const VaboCalibrant *calibrant, bool has_wavelength,
                         double wavelength, std::vector<double> *angle,
                         std::vector<double> *i1, std::vector<double> *i2,
                         std::vector<size_t> *lines, VaboRings *rings,
                         std::string *error)
{
  try {
    VaboRings out;
    if (calibrant) {
      out.calibrant = calibrant->name;
      for (const VaboRing &r : calibrant->rings) out.spacing.push_back(r.d);
    } else if (npt.has_dspacing) {
      out.calibrant = npt.calibrant;
      out.spacing = npt.dspacing;
    } else if (!npt.calibrant.empty()) {
      VaboCalibrant named;
      std::string why;
      if (!vabo_calibrant_load(npt.calibrant.c_str(), VaboCalibrantAllRings,
                               named, &why)) {
        *error =
            vabo_text_error(name, 0,
                            "no d-spacings, and calibrant " + npt.calibrant +
                                " is not built in: give calibrant=");
        return false;
      }
      out.calibrant = named.name;
      for (const VaboRing &r : named.rings) out.spacing.push_back(r.d);
    } else {
      *error = vabo_text_error(name, 0,
                               "no d-spacings and no calibrant: give "
                               "calibrant=");
      return false;
    }
    if (has_wavelength)
      out.wavelength = wavelength;
    else if (npt.has_wavelength)
      out.wavelength = npt.wavelength;
    else {
      *error = vabo_text_error(name, 0, "no wavelength: give wavelength=");
      return false;
    }

    const size_t n = npt.points.size();
    std::vector<double> a(n), p1(n), p2(n);
    std::vector<size_t> l(n);
    out.ring.resize(n);
    for (size_t i = 0; i < n; i++) {
      const VaboNptPoint &point = npt.points[i];
      if (point.ring < 0 || size_t(point.ring) >= out.spacing.size()) {
        *error = vabo_text_error(
            name, point.line,
            "ring " + std::to_string(point.ring) + " is beyond the " +
                std::to_string(out.spacing.size()) + " d-spacings");
        return false;
      }
      const double d = out.spacing[size_t(point.ring)];
      if (!vabo_ring_reachable(out.wavelength, d)) {
        *error = vabo_text_error(name, point.line,
                                 "ring " + std::to_string(point.ring) +
                                     " (d = " + number_text(d * 1e10) +
                                     " Angstrom) is beyond reach at "
                                     "wavelength " +
                                     number_text(out.wavelength) + " m");
        return false;
      }
      a[i] = vabo_ring_two_theta(out.wavelength, d);
      p1[i] = point.i1;
      p2[i] = point.i2;
      l[i] = point.line;
      out.ring[i] = point.ring;
    }
    angle->swap(a);
    i1->swap(p1);
    i2->swap(p2);
    lines->swap(l);
    *rings = std::move(out);
    return true;
  } catch (const std::bad_alloc &) {
    error->clear();
    return false;
  }
}

bool vabo_rings_match(size_t n, const double *angle,
                      const VaboCalibrant &calibrant, double wavelength,
                      VaboRings *rings, size_t *failed)
{
  try {
    /* The reachable rings' angles, increasing with their index (d
     * decreases). */
    std::vector<double> tth;
    for (const VaboRing &r : calibrant.rings) {
      if (!vabo_ring_reachable(wavelength, r.d)) break;
      tth.push_back(vabo_ring_two_theta(wavelength, r.d));
    }
    if (tth.empty()) {
      *failed = n;
      return false;
    }
    std::vector<int> ring(n);
    for (size_t i = 0; i < n; i++) {
      const double a = angle[i];
      size_t best = tth.size();
      if (std::isfinite(a)) {
        /* First ring at or beyond a, then the nearer of it and the one
         * before. */
        size_t k = 0;
        while (k < tth.size() && tth[k] < a) k++;
        if (k == tth.size() || (k > 0 && a - tth[k - 1] < tth[k] - a)) k--;
        /* Half the distance to the neighbouring ring on a's side (the
         * other side's at the first and last ring). */
        const size_t last = tth.size() - 1;
        const double below = k > 0      ? tth[k] - tth[k - 1]
                             : k < last ? tth[k + 1] - tth[k]
                                        : tth[k];
        const double above = k < last ? tth[k + 1] - tth[k] : below;
        const double gap = a < tth[k] ? below : above;
        if (std::fabs(a - tth[k]) < gap / 2) best = k;
      }
      if (best == tth.size()) {
        *failed = i;
        return false;
      }
      ring[i] = int(best);
    }
    VaboRings out;
    out.calibrant = calibrant.name;
    for (const VaboRing &r : calibrant.rings) out.spacing.push_back(r.d);
    out.ring.swap(ring);
    out.wavelength = wavelength;
    *rings = std::move(out);
    return true;
  } catch (const std::bad_alloc &) {
    *failed = n;
    return false;
  }
}

bool vabo_rings_refine_wavelength(const VaboRings &rings, VaboRobustRun &run,
                                  VaboResult &result)
{
  try {
    run.spacing.resize(rings.ring.size());
    for (size_t i = 0; i < rings.ring.size(); i++)
      run.spacing[i] = rings.spacing[size_t(rings.ring[i])];
  } catch (const std::bad_alloc &) {
    run.spacing.clear();
    return false;
  }
  run.wavelength_start = rings.wavelength;
  result.wavelength_refined = true;
  result.wavelength_start = rings.wavelength;
  return true;
}

void vabo_rings_take_wavelength(const VaboRobustRun &run, size_t n,
                                VaboRings &rings, VaboResult &result,
                                double *angle)
{
  result.wavelength = run.wavelength;
  result.has_wavelength = true;
  result.wavelength_deviation = run.wavelength_deviation;
  rings.wavelength = run.wavelength;
  for (size_t i = 0; i < n && i < run.spacing.size(); i++)
    angle[i] = vabo_ring_two_theta(run.wavelength, run.spacing[i]);
}

std::vector<VaboRingStat>
vabo_ring_statistics(const double *par, size_t n, const double *angle,
                     const double *i1, const double *i2, const double *weight,
                     const VaboRings &rings)
{
  std::vector<VaboRingStat> stats;
  try {
    VaboOrdered ordered;
    order_Par(&ordered, par, nullptr);
    const size_t nrings = rings.spacing.size();
    struct Sums {
      size_t points = 0;
      double w = 0, wr = 0, wrr = 0, wp = 0, wpp = 0;
    };
    std::vector<Sums> sums(nrings);
    for (size_t i = 0; i < n && i < rings.ring.size(); i++) {
      const double w = weight ? weight[i] : 1.0;
      const int k = rings.ring[i];
      if (!(w > 0) || k < 0 || size_t(k) >= nrings) continue;
      const double r = DiffAngle(&ordered, angle[i], i1[i], i2[i]);
      const double px = r / radial_change(ordered, i1[i], i2[i]);
      Sums &s = sums[size_t(k)];
      s.points++;
      s.w += w;
      s.wr += w * r;
      s.wrr += w * r * r;
      s.wp += w * px;
      s.wpp += w * px * px;
    }
    for (size_t k = 0; k < nrings; k++) {
      const Sums &s = sums[k];
      if (s.points == 0) continue;
      VaboRingStat stat;
      stat.ring = int(k);
      stat.d = rings.spacing[k];
      stat.two_theta = vabo_ring_two_theta(rings.wavelength, stat.d);
      stat.points = s.points;
      stat.mean = s.wr / s.w;
      stat.rms = std::sqrt(s.wrr / s.w);
      stat.mean_pixels = s.wp / s.w;
      stat.rms_pixels = std::sqrt(s.wpp / s.w);
      stats.push_back(stat);
    }
  } catch (const std::bad_alloc &) {
    stats.clear();
  }
  return stats;
}

bool vabo_rings_npt_text(size_t n, const double *i1, const double *i2,
                         const int *rejected, const VaboRings &rings,
                         std::string *text, std::string *error)
{
  try {
    VaboNpt npt;
    npt.calibrant = rings.calibrant;
    npt.has_wavelength = true;
    npt.wavelength = rings.wavelength;
    npt.has_dspacing = !rings.spacing.empty();
    npt.dspacing = rings.spacing;
    for (size_t i = 0; i < n && i < rings.ring.size(); i++) {
      if (rejected && rejected[i]) continue;
      VaboNptPoint point;
      point.i1 = i1[i];
      point.i2 = i2[i];
      point.ring = rings.ring[i];
      npt.points.push_back(point);
    }
    if (npt.points.empty()) {
      *error = "no points to write";
      return false;
    }
    return vabo_npt_text(npt, text, error);
  } catch (const std::bad_alloc &) {
    error->clear();
    return false;
  }
}

std::vector<std::string> vabo_result_warnings(const VaboResult &result,
                                              size_t nrings)
{
  std::vector<std::string> warnings;
  try {
    if (vabo_result_has_covariance(result)) {
      for (size_t a = 0; a < result.nopt; a++)
        for (size_t b = a + 1; b < result.nopt; b++) {
          const double c = vabo_result_correlation(result, a, b);
          if (std::fabs(c) > VaboWarnCorrelation) {
            char line[160];
            snprintf(line, sizeof line,
                     "%s and %s are correlated at %.6f: the points cannot "
                     "tell them apart",
                     vabo_result_covariance_name(result, a),
                     vabo_result_covariance_name(result, b), c);
            warnings.emplace_back(line);
          }
        }
    }
    if ((result.mode[Pix1] || result.mode[Pix2]) && result.mode[Dis])
      warnings.emplace_back("a pixel size and the distance are refined "
                            "together: on one image they scale the rings "
                            "alike");
    if (result.wavelength_refined && nrings < size_t(VaboWarnWavelengthRings)) {
      char line[160];
      snprintf(line, sizeof line,
               "the wavelength is refined on %zu ring%s: fewer than %d "
               "cannot tell it from the distance",
               nrings, nrings == 1 ? "" : "s", VaboWarnWavelengthRings);
      warnings.emplace_back(line);
    }
  } catch (const std::bad_alloc &) {
    warnings.clear();
  }
  return warnings;
}
