/*
 * vabo_pick.cpp -- the picking of rings on an image (vabo_pick.h).
 *
 * For each ring: the azimuths where its predicted curve crosses the image,
 * its step apart (VABO_PICK_STEP pixels by default); at each, a profile of
 * the pixels along the direction in which TwoTheta grows fastest (across
 * the ring), its maximum inside the search window, a linear background from
 * both sides of the peak, the peak's centroid over the background, and from
 * it a Gaussian fitted by weighted least squares as the sub-pixel position.
 * Only the pixels of the profiles are read.
 */
#include "vabo_pick.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <thread>

namespace {

/* The ring's predicted curve is followed in this many azimuth steps to
 * find where it crosses the image and how long it is there; each step is
 * then divided into profiles the ring's step apart. */
constexpr int kCoarseSteps = 720;
/* Pixels sampled beyond the search window at either end for the
 * background: enough for the sides of a peak of up to 6 pixels FWHM. */
constexpr double kProfileMargin = 16.0;
/* Step along the profile line (pixels); each pixel near the line is met
 * at least once, the repeats are dropped. */
constexpr double kProfileStep = 0.5;
/* Most samples in one profile: a search window wider than this is cut
 * (a search of 400 pixels either side is far beyond any ring spacing). */
constexpr size_t kMaxSamples = 2000;
/* The centroid is taken over +-kWindowFwhm times the peak's full width at
 * half maximum (3.5 sigma of a Gaussian: 99.95 % of its area) and at
 * least kMinWindow pixels. */
constexpr double kWindowFwhm = 1.5;
constexpr double kMinWindow = 1.5;
/* Each side of the background spans at least this many pixels. */
constexpr double kMinSide = 4.0;
/* Samples each side needs for its median. */
constexpr size_t kMinSideSamples = 3;
/* Variance of the median of n normal samples over their variance, times
 * n: pi / 2 for large n. */
constexpr double kMedianVariance = 1.5707963267948966;
/* Steps of the Gaussian fit: from the centroid it converges in three or
 * four, to a relative change of kFitTolerance (a millionth of the width
 * is far below the position's error). */
constexpr int kFitSteps = 6;
constexpr double kFitTolerance = 1e-6;
/* The fitted width must stay within this factor of the width measured at
 * half maximum: a fit that narrows onto one noisy sample, or widens into
 * the background, would claim a precision it does not have. */
constexpr double kFitWidthRange = 2.0;
/* FWHM of a Gaussian over its standard deviation, 2 sqrt(2 ln 2). */
constexpr double kFwhmPerSigma = 2.3548200450309493;
/* Rounds of re-centring the centroid window on the centroid. */
constexpr int kCentroidRounds = 4;
/* The search never reaches further than this from the prediction (pixels):
 * far beyond any ring spacing, and it bounds the work of one profile. */
constexpr double kMaxSearch = 400.0;
constexpr double kPi = 3.141592653589793;

/* The model as the picker evaluates it many times: the rotation built
 * once, X = R^T N as in X_vector_3d. */
struct Model {
  double par[NParams];
  double R[3][3];

  explicit Model(const double *Par)
  {
    std::copy(Par, Par + NParams, par);
    rotation_matrix_3d(R, par[Rot1], par[Rot2], par[Rot3]);
  }

  void vector(double i1, double i2, double X[3]) const
  {
    const double n[3] = {(i1 - par[Cen1]) * par[Pix1],
                         (i2 - par[Cen2]) * par[Pix2], -par[Dis]};
    for (int k = 0; k < 3; ++k)
      X[k] = R[0][k] * n[0] + R[1][k] * n[1] + R[2][k] * n[2];
  }

  /* The pixel of the direction (two_theta, azimuth): false when the
   * direction does not meet the detector plane in front of the sample.
   * X = R^T n, so the direction in the detector's frame is R dir, and
   * the pixel lies where it reaches n3 = -dis. */
  bool pixel(double two_theta, double azimuth, double *i1, double *i2) const
  {
    return pixel(std::sin(two_theta), std::cos(two_theta), azimuth, i1, i2);
  }

  /* The same with the sine and cosine of two_theta given. */
  bool pixel(double sin_tth, double cos_tth, double azimuth, double *i1,
             double *i2) const
  {
    const double dir[3] = {sin_tth * std::cos(azimuth),
                           sin_tth * std::sin(azimuth), -cos_tth};
    double n[3];
    for (int j = 0; j < 3; ++j)
      n[j] = R[j][0] * dir[0] + R[j][1] * dir[1] + R[j][2] * dir[2];
    /* The distance along dir; positive in front of the sample. */
    const double lambda = -par[Dis] / n[2];
    if (!(lambda > 0.0) || !std::isfinite(lambda)) return false;
    const double p1 = par[Cen1] + lambda * n[0] / par[Pix1];
    const double p2 = par[Cen2] + lambda * n[1] / par[Pix2];
    if (!std::isfinite(p1) || !std::isfinite(p2)) return false;
    *i1 = p1;
    *i2 = p2;
    return true;
  }

  /* The gradient of TwoTheta at pixel (i1, i2), rad per pixel; false on
   * the beam axis, where it has none. */
  bool gradient(double i1, double i2, double *d1, double *d2) const
  {
    double X[3];
    vector(i1, i2, X);
    const double rho = std::sqrt(X[0] * X[0] + X[1] * X[1]);
    const double r2 = rho * rho + X[2] * X[2];
    if (!(rho > 0.0) || !(r2 > 0.0)) return false;
    /* TwoTheta = atan2(rho, -X3): its derivatives in X, then X's in the
     * pixel coordinates, pix * (row of R). */
    const double dX[3] = {-X[2] * X[0] / (rho * r2), -X[2] * X[1] / (rho * r2),
                          rho / r2};
    *d1 = par[Pix1] * (R[0][0] * dX[0] + R[0][1] * dX[1] + R[0][2] * dX[2]);
    *d2 = par[Pix2] * (R[1][0] * dX[0] + R[1][1] * dX[1] + R[1][2] * dX[2]);
    return std::isfinite(*d1) && std::isfinite(*d2);
  }
};

struct Sample {
  double s;     /* position along the profile, pixels */
  double value; /* intensity; meaningless when missing */
  bool missing; /* outside the image or an invalid pixel */
};

/* Median of v (reordered); v not empty. */
double median(std::vector<double> &v)
{
  const size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + h, v.end());
  double m = v[h];
  if (v.size() % 2 == 0)
    m = 0.5 * (m + *std::max_element(v.begin(), v.begin() + h));
  return m;
}

/* Scratch storage of one picking, reused by every profile. */
struct Scratch {
  std::vector<Sample> samples;
  std::vector<double> left, right, all;
};

/* The profile across the ring at P0 along the unit vector g, from a to b
 * (pixels): the pixels nearest the line, each once, by position. */
void sample_profile(const VaboImage &image, double p1, double p2,
                    const double g[2], double a, double b,
                    std::vector<Sample> &out)
{
  out.clear();
  long last1 = -1, last2 = -1;
  bool first = true;
  for (double t = a; t <= b && out.size() < kMaxSamples; t += kProfileStep) {
    const double x1 = p1 + t * g[0], x2 = p2 + t * g[1];
    const double r1 = std::floor(x1 + 0.5), r2 = std::floor(x2 + 0.5);
    const bool inside = r1 >= 0.0 && r2 >= 0.0 &&
                        r1 < static_cast<double>(image.rows) &&
                        r2 < static_cast<double>(image.columns);
    const long q1 = inside ? static_cast<long>(r1) : -2;
    const long q2 = inside ? static_cast<long>(r2) : -2;
    if (!first && q1 == last1 && q2 == last2 && inside) continue;
    first = false;
    last1 = q1;
    last2 = q2;
    Sample sample{t, 0.0, true};
    if (inside) {
      sample.s = (r1 - p1) * g[0] + (r2 - p2) * g[1];
      const size_t k =
          static_cast<size_t>(q1) * image.columns + static_cast<size_t>(q2);
      const float v = image.pixels[k];
      if (!image.invalid[k] && std::isfinite(v)) {
        sample.value = v;
        sample.missing = false;
      }
    }
    out.push_back(sample);
  }
  /* The rounding leaves the positions nearly in order: an insertion sort
   * takes one pass. */
  for (size_t k = 1; k < out.size(); ++k)
    for (size_t j = k; j > 0 && out[j].s < out[j - 1].s; --j)
      std::swap(out[j], out[j - 1]);
}

/* The samples of p (in order of position) that lie in [a, b]: the
 * indices from begin up to, not including, end. */
struct Span {
  size_t begin, end;
};

Span span(const std::vector<Sample> &p, double a, double b)
{
  const auto from = std::partition_point(
      p.begin(), p.end(), [a](const Sample &q) { return q.s < a; });
  const auto to = std::partition_point(
      from, p.end(), [b](const Sample &q) { return q.s <= b; });
  return {static_cast<size_t>(from - p.begin()),
          static_cast<size_t>(to - p.begin())};
}

/* The peak of one profile; false when there is none to trust. */
struct Peak {
  double c;      /* centroid, pixels along the profile */
  double sigma;  /* its standard error, pixels */
  double height; /* over the background */
};

/* Fits a Gaussian A exp(-(s - mu)^2 / (2 w^2)) over the background to the
 * samples of p in [a, b], each weighted by its inverse noise variance, by
 * Gauss-Newton from (height, mu, width).  true with mu and its variance
 * from the fit's normal equations; false when the fit does not converge to
 * a peak of positive height and width. */
template <typename Background>
bool fit_gaussian(const std::vector<Sample> &p, double a, double b,
                  Background background, double noise, double gain,
                  double height, double width, double &mu, double &var_mu)
{
  double x[3] = {height, mu, width};
  double N[3][3];
  const Span window = span(p, a, b);
  for (int iteration = 0; iteration < kFitSteps; ++iteration) {
    double g[3] = {0, 0, 0};
    for (auto &row : N) row[0] = row[1] = row[2] = 0.0;
    size_t used = 0;
    for (size_t k = window.begin; k < window.end; ++k) {
      const Sample &q = p[k];
      if (q.missing) continue;
      const double y = q.value - background(q.s);
      const double var = noise * noise + gain * std::max(0.0, y);
      if (!(var > 0.0)) return false;
      const double u = (q.s - x[1]) / x[2];
      const double e = std::exp(-0.5 * u * u);
      const double J[3] = {e, x[0] * e * u / x[2], x[0] * e * u * u / x[2]};
      const double r = y - x[0] * e;
      const double w = 1.0 / var;
      for (int i = 0; i < 3; ++i) {
        const double Jw = J[i] * w;
        g[i] += Jw * r;
        for (int j = i; j < 3; ++j) N[i][j] += Jw * J[j];
      }
      ++used;
    }
    if (used < 4) return false;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < i; ++j) N[i][j] = N[j][i];
    double d[3];
    if (CholeskySolve(3, &N[0][0], g, d) != 0) return false;
    for (int i = 0; i < 3; ++i) x[i] += d[i];
    if (!(x[0] > 0.0) || !std::isfinite(x[1])) return false;
    if (!(x[2] > width / kFitWidthRange && x[2] < width * kFitWidthRange))
      return false; /* a spike or a slope, not the peak */
    /* Converged: a further step would move nothing that matters, and the
     * normal equations just formed are those at the solution. */
    if (std::fabs(d[1]) <= kFitTolerance * x[2] &&
        std::fabs(d[2]) <= kFitTolerance * x[2] &&
        std::fabs(d[0]) <= kFitTolerance * x[0])
      break;
  }
  double inverse[9];
  if (CholeskyInverse(3, &N[0][0], inverse) != 0) return false;
  mu = x[1];
  var_mu = inverse[4];
  return std::isfinite(var_mu) && var_mu > 0.0;
}

bool find_peak(const std::vector<Sample> &p, double lo, double hi,
               Scratch &scratch, Peak &peak)
{
  const size_t n = p.size();
  /* The maximum inside the search window. */
  size_t m = n;
  for (size_t k = 0; k < n; ++k) {
    if (p[k].missing || p[k].s < lo || p[k].s > hi) continue;
    if (m == n || p[k].value > p[m].value) m = k;
  }
  if (m == n) return false;

  /* A first background, the median of the profile, for the width. */
  scratch.all.clear();
  for (const Sample &q : p)
    if (!q.missing) scratch.all.push_back(q.value);
  const double b0 = median(scratch.all);
  const double half = 0.5 * (p[m].value + b0);
  size_t l = m, r = m;
  while (l > 0 && !p[l - 1].missing && p[l - 1].value > half) --l;
  while (r + 1 < n && !p[r + 1].missing && p[r + 1].value > half) ++r;
  if (l == 0 || r + 1 == n) return false; /* no sides: no peak */
  const double fwhm =
      std::max(1.0, 0.5 * (p[r].s + p[r + 1].s) - 0.5 * (p[l].s + p[l - 1].s));
  const double hw = std::max(kMinWindow, kWindowFwhm * fwhm);
  const double side = std::max(kMinSide, hw);

  /* The linear background through the medians of both sides. */
  const double s_m = p[m].s;
  scratch.left.clear();
  scratch.right.clear();
  double sl = 0.0, sr = 0.0;
  for (const Sample &q : p) {
    if (q.missing) continue;
    const double d = q.s - s_m;
    if (d < -hw && d >= -hw - side) {
      scratch.left.push_back(q.value);
      sl += q.s;
    } else if (d > hw && d <= hw + side) {
      scratch.right.push_back(q.value);
      sr += q.s;
    }
  }
  const size_t nl = scratch.left.size(), nr = scratch.right.size();
  if (nl < kMinSideSamples || nr < kMinSideSamples) return false;
  sl /= static_cast<double>(nl);
  sr /= static_cast<double>(nr);
  const double bl = median(scratch.left), br = median(scratch.right);
  const double slope = (br - bl) / (sr - sl);
  auto background = [&](double s) { return bl + slope * (s - sl); };
  /* The noise from the differences of neighbouring samples off the peak:
   * all of the profile, so that it is not underestimated from a few
   * samples and noise passes for peaks, and blind to the slow changes of
   * the background along a long profile. */
  scratch.all.clear();
  for (size_t k = 1; k < n; ++k)
    if (!p[k].missing && !p[k - 1].missing && std::fabs(p[k].s - s_m) > hw &&
        std::fabs(p[k - 1].s - s_m) > hw)
      scratch.all.push_back(std::fabs(p[k].value - p[k - 1].value));
  if (scratch.all.size() < 2 * kMinSideSamples) return false;
  const double noise = VABO_MAD_TO_SIGMA * median(scratch.all) / std::sqrt(2.0);
  /* The error of the background's slope moves the centroid too: by the
   * slope's error times the second moment of the window over the area. */
  const double slope_var = noise * noise *
                           (kMedianVariance / static_cast<double>(nl) +
                            kMedianVariance / static_cast<double>(nr)) /
                           ((sr - sl) * (sr - sl));

  const double height = p[m].value - background(s_m);
  if (!(height > VABO_PICK_MIN_SNR * noise) || !(height > 0.0)) return false;

  /* Noise of a sample: the background's, growing with the signal as
   * counting noise does when the background is counts. */
  const double b_m = background(s_m);
  const double gain = b_m > 0.0 ? noise * noise / b_m : 0.0;

  double c = s_m;
  double var = 0.0;
  for (int round = 0; round < kCentroidRounds; ++round) {
    const double a = c - hw, b = c + hw;
    double area = 0.0, moment = 0.0;
    const Span near = span(p, a - 1.0, b + 1.0);
    for (size_t k = near.begin; k < near.end; ++k)
      if (p[k].missing) return false; /* a gap at the peak */
    const Span inside = span(p, a, b);
    if (inside.end < inside.begin + 2) return false;
    const size_t first = inside.begin, last = inside.end - 1;
    /* Trapezoid weights on the unevenly spaced samples. */
    auto weight = [&](size_t k) {
      const double left = k == first ? a : p[k - 1].s;
      const double right = k == last ? b : p[k + 1].s;
      return 0.5 * (right - left);
    };
    for (size_t k = first; k <= last; ++k) {
      const double w = weight(k) * (p[k].value - background(p[k].s));
      area += w;
      moment += w * p[k].s;
    }
    if (!(area > 0.0)) return false;
    const double next = moment / area;
    var = 0.0;
    for (size_t k = first; k <= last; ++k) {
      const double w = weight(k) * (p[k].s - next);
      const double signal = std::max(0.0, p[k].value - background(p[k].s));
      var += w * w * (noise * noise + gain * signal);
    }
    double second = 0.0;
    for (size_t k = first; k <= last; ++k)
      second += weight(k) * (p[k].s - next) * (p[k].s - next);
    var = (var + slope_var * second * second) / (area * area);
    c = next;
    if (std::fabs(c - s_m) > hw) return false;
  }
  /* The centroid weighs the noise of the wings as much as the peak; a
   * Gaussian fitted by weighted least squares from it weighs each sample
   * by what it says of the position. */
  double mu = c, var_mu = var;
  if (fit_gaussian(p, c - hw, c + hw, background, noise, gain, height,
                   fwhm / kFwhmPerSigma, mu, var_mu) &&
      std::fabs(mu - c) <= 0.5 * hw) {
    c = mu;
    var = var_mu;
  }
  if (c < lo || c > hi) return false;
  peak.c = c;
  peak.sigma = std::max(VABO_PICK_MIN_SIGMA, std::sqrt(var));
  peak.height = height;
  return std::isfinite(peak.c) && std::isfinite(peak.sigma);
}

bool is_on_image(const VaboImage &image, double i1, double i2, double margin)
{
  return i1 >= -margin && i2 >= -margin &&
         i1 <= static_cast<double>(image.rows) - 1.0 + margin &&
         i2 <= static_cast<double>(image.columns) - 1.0 + margin;
}

/* The pixel nearest (i1, i2) is on the image and valid. */
bool pixel_valid(const VaboImage &image, double i1, double i2)
{
  const double r1 = std::floor(i1 + 0.5), r2 = std::floor(i2 + 0.5);
  if (!(r1 >= 0.0 && r2 >= 0.0 && r1 < static_cast<double>(image.rows) &&
        r2 < static_cast<double>(image.columns)))
    return false;
  const size_t k =
      static_cast<size_t>(r1) * image.columns + static_cast<size_t>(r2);
  return !image.invalid[k] && std::isfinite(image.pixels[k]);
}

/* Picks ring k of the sorted rings; appends to result. */
void pick_ring(const VaboImage &image, const Model &model,
               const std::vector<VaboPickRing> &sorted, size_t k,
               Scratch &scratch, VaboPickResult &result)
{
  const VaboPickRing &ring = sorted[k];
  VaboPickRingCount count;
  count.ring = ring.index;
  const double tth = ring.two_theta;
  const double st = std::sin(tth), ct = std::cos(tth);
  const double tth_prev = k > 0 ? sorted[k - 1].two_theta : -HUGE_VAL;
  const double tth_next =
      k + 1 < sorted.size() ? sorted[k + 1].two_theta : HUGE_VAL;
  const double reach = kProfileMargin;
  const double step = ring.step >= 1.0 ? ring.step : VABO_PICK_STEP;
  const double two_pi = 2.0 * kPi;

  double a1 = 0.0, a2 = 0.0;
  bool have_a = model.pixel(st, ct, -kPi, &a1, &a2);
  const double perimeter = 2.0 * (static_cast<double>(image.rows) +
                                  static_cast<double>(image.columns));
  double ahead = 0.0; /* arc length to the next profile, pixels */
  for (int coarse = 1; coarse <= kCoarseSteps; ++coarse) {
    const double az0 = -kPi + two_pi * (coarse - 1) / kCoarseSteps;
    const double az1 = -kPi + two_pi * coarse / kCoarseSteps;
    double b1 = 0.0, b2 = 0.0;
    const bool have_b = model.pixel(st, ct, az1, &b1, &b2);
    /* A coarse step longer than the image's perimeter is a ring running
     * off to infinity (near 90 degrees to the detector): not followed. */
    const bool cross = have_a && have_b &&
                       (is_on_image(image, a1, a2, reach) ||
                        is_on_image(image, b1, b2, reach)) &&
                       std::hypot(b1 - a1, b2 - a2) <= perimeter;
    if (cross) {
      /* Profiles every step along the curve, the arc length carried from
       * one coarse step to the next. */
      const double length = std::hypot(b1 - a1, b2 - a2);
      for (; ahead < length; ahead += step) {
        const double az = az0 + (az1 - az0) * (ahead / length);
        double p1, p2;
        if (!model.pixel(st, ct, az, &p1, &p2)) continue;
        if (!pixel_valid(image, p1, p2)) continue;
        double d1, d2;
        if (!model.gradient(p1, p2, &d1, &d2)) continue;
        const double G = std::hypot(d1, d2); /* rad per pixel */
        if (!(G > 0.0) || !std::isfinite(G)) continue;
        const double g[2] = {d1 / G, d2 / G};
        const double search = std::min(ring.search, kMaxSearch);
        const double lo = std::max(-search, 0.5 * (tth_prev - tth) / G);
        const double hi = std::min(search, 0.5 * (tth_next - tth) / G);
        if (!(hi - lo >= 2.0)) continue; /* neighbours too close to tell */
        sample_profile(image, p1, p2, g, lo - kProfileMargin,
                       hi + kProfileMargin, scratch.samples);
        ++count.tried;
        Peak peak;
        if (!find_peak(scratch.samples, lo, hi, scratch, peak)) continue;
        VaboPickPoint point;
        point.two_theta = tth;
        point.i1 = p1 + peak.c * g[0];
        point.i2 = p2 + peak.c * g[1];
        point.sigma = peak.sigma;
        point.weight = 1.0 / ((peak.sigma * G) * (peak.sigma * G));
        point.azimuth = az;
        point.height = peak.height;
        point.ring = ring.index;
        result.points.push_back(point);
        ++count.found;
      }
    }
    ahead = cross ? ahead - std::hypot(b1 - a1, b2 - a2) : 0.0;
    have_a = have_b;
    a1 = b1;
    a2 = b2;
  }
  result.rings.push_back(count);
}

/* Picks the rings todo (indices into sorted), ring k into parts[k], on
 * up to VABO_PICK_THREADS threads: each takes the next ring not yet
 * taken.  The rings share nothing but the image, which none writes, so
 * that the parts are the same however many threads picked them.  A
 * thread that cannot be started leaves its rings to the others.  false
 * when storage ran out. */
bool pick_rings(const VaboImage &image, const Model &model,
                const std::vector<VaboPickRing> &sorted,
                const std::vector<size_t> &todo,
                std::vector<VaboPickResult> &parts)
{
  if (todo.empty()) return true;
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() noexcept {
    try {
      Scratch scratch;
      scratch.samples.reserve(kMaxSamples);
      for (size_t j; (j = next.fetch_add(1)) < todo.size();)
        pick_ring(image, model, sorted, todo[j], scratch, parts[todo[j]]);
    } catch (...) {
      failed = true;
      next = todo.size();
    }
  };
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t helpers =
      std::min({cores, todo.size(), size_t{VABO_PICK_THREADS}}) - 1;
  std::vector<std::thread> threads;
  threads.reserve(helpers);
  for (size_t t = 0; t < helpers; ++t) {
    try {
      threads.emplace_back(work);
    } catch (...) {
      break;
    }
  }
  work();
  for (std::thread &thread : threads) thread.join();
  return !failed;
}

} // namespace

bool vabo_ring_pixel(const double Par[NParams], double two_theta,
                     double azimuth, double *i1, double *i2)
{
  if (!Par || !i1 || !i2) return false;
  return Model(Par).pixel(two_theta, azimuth, i1, i2);
}

void vabo_ring_pixels(const double Par[NParams], double two_theta,
                      const double *azimuths, size_t n, double *i1, double *i2,
                      bool *ok)
{
  if (!Par || !azimuths || !i1 || !i2 || !ok) return;
  const Model model(Par);
  const double st = std::sin(two_theta), ct = std::cos(two_theta);
  for (size_t k = 0; k < n; ++k)
    ok[k] = model.pixel(st, ct, azimuths[k], &i1[k], &i2[k]);
}

bool vabo_pick(const VaboImage &image, const double Par[NParams],
               const VaboPickRing *rings, size_t nrings, VaboPickResult &result,
               std::string *error)
{
  result.points.clear();
  result.rings.clear();
  auto fail = [&](const char *why) {
    result.points.clear();
    result.rings.clear();
    try {
      if (error) *error = why;
    } catch (const std::bad_alloc &) {
    }
    return false;
  };
  if (!Par || (nrings > 0 && !rings)) return fail("pick: missing argument");
  if (image.columns != 0 && image.rows > image.pixels.size() / image.columns)
    return fail("pick: the image holds fewer pixels than rows x columns");
  if (image.pixels.size() != image.rows * image.columns ||
      image.invalid.size() != image.pixels.size())
    return fail("pick: the image holds fewer pixels than rows x columns");
  for (int p = 0; p < NParams; ++p)
    if (!std::isfinite(Par[p])) return fail("pick: the geometry is not finite");
  if (!(Par[Pix1] > 0.0) || !(Par[Pix2] > 0.0) || !(Par[Dis] > 0.0))
    return fail("pick: pixel sizes and distance must be positive");
  try {
    std::vector<VaboPickRing> sorted;
    for (size_t k = 0; k < nrings; ++k)
      if (std::isfinite(rings[k].two_theta) && rings[k].two_theta > 0.0 &&
          rings[k].two_theta < kPi)
        sorted.push_back(rings[k]);
    std::sort(sorted.begin(), sorted.end(),
              [](const VaboPickRing &x, const VaboPickRing &y) {
                return x.two_theta < y.two_theta;
              });
    std::vector<size_t> todo;
    for (size_t k = 0; k < sorted.size(); ++k)
      if (sorted[k].search > 0.0 && image.rows > 0 && image.columns > 0)
        todo.push_back(k);
    std::vector<VaboPickResult> parts(sorted.size());
    if (!pick_rings(image, Model(Par), sorted, todo, parts))
      return fail("pick: out of memory");
    for (size_t k : todo) {
      result.points.insert(result.points.end(), parts[k].points.begin(),
                           parts[k].points.end());
      result.rings.insert(result.rings.end(), parts[k].rings.begin(),
                          parts[k].rings.end());
    }
  } catch (const std::bad_alloc &) {
    return fail("pick: out of memory");
  }
  return true;
}
