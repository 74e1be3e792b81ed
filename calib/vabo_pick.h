/*
 * vabo_pick -- finds the rings of a calibrant on a detector image.
 *
 * From a geometry (the eight parameters of the refinement's model) the
 * picker predicts where each ring crosses the detector, searches across the
 * ring at closely spaced azimuths for the intensity maximum, and returns a
 * point (TwoTheta of the ring, sub-pixel i1 and i2, weight) for every
 * profile whose peak stands out of its background and noise.  It reads
 * only the pixels along the predicted rings.  Entry point: vabo_pick.
 * It knows nothing of least squares: the loop that refines from the points
 * and picks again is vabo_calibrate.  Implemented in vabo_pick.cpp.
 */
#ifndef VABO_PICK_H
#define VABO_PICK_H

#include "vabo_base.h"
#include "vabo_image.h"

#include <cstddef>
#include <string>
#include <vector>

/* Points are taken about this far apart along a ring (pixels): the
 * profiles of neighbouring points share no pixel, so that their errors are
 * independent, and a ring of radius 1000 pixels still gives 1000 points;
 * the work of the picking is proportional to their number. */
inline constexpr double VABO_PICK_STEP = 6.0;
/* A peak must rise this many standard deviations of the background noise
 * above the background: the largest of some 100 samples of pure noise
 * stays below 4 sigma in all but one profile in 10^4. */
inline constexpr double VABO_PICK_MIN_SNR = 6.0;
/* The position error of a point is taken as at least this (pixels): the
 * profile's pixels sit up to half a pixel beside the line across the ring,
 * which the noise estimate does not see. */
inline constexpr double VABO_PICK_MIN_SIGMA = 0.02;

/* Rings are picked side by side on up to this many threads (no more than
 * the processor's cores); the points are the same however many there are. */
inline constexpr unsigned VABO_PICK_THREADS = 4;

/* One ring of the calibrant.  two_theta (rad) is its scattering angle;
 * index its number in the caller's list (kept in the points); step how far
 * apart its points are taken along it.  search is
 * how far from its predicted position the ring is sought (pixels, across
 * the ring); 0 or less: the ring is not picked but still bounds the
 * search of its neighbours.  The search never reaches beyond half the
 * distance to a neighbouring ring. */
struct VaboPickRing {
  double two_theta = 0.0; /* rad, in (0, pi/2) to be picked */
  int index = 0;
  double search = 0.0;          /* pixels */
  double step = VABO_PICK_STEP; /* between points along the ring, pixels;
                                   below 1: VABO_PICK_STEP */
};

/* One point found on a ring: (i1, i2) is the sub-pixel position of the
 * ring's maximum across it, two_theta the ring's angle.  sigma is the
 * standard error of the position across the ring (pixels) from the noise
 * of the profile; weight = 1 / (sigma * dtth)^2 with dtth the change of
 * TwoTheta per pixel across the ring, the inverse variance of the point's
 * TwoTheta residual (rad^-2), so that the weighted fit is a chi-square
 * fit. */
struct VaboPickPoint {
  double two_theta = 0.0; /* rad */
  double i1 = 0.0;        /* pixels */
  double i2 = 0.0;        /* pixels */
  double weight = 0.0;    /* rad^-2 */
  double sigma = 0.0;     /* pixels */
  double azimuth = 0.0;   /* rad, as Azimuth_3d */
  double height = 0.0;    /* peak over background, counts */
  int ring = 0;           /* VaboPickRing::index */
};

/* What the picking did on one ring: tried counts the profiles whose search
 * lay wholly on valid pixels of the detector (the length of the ring that
 * could be seen), found the points among them. */
struct VaboPickRingCount {
  int ring = 0; /* VaboPickRing::index */
  size_t tried = 0;
  size_t found = 0;
};

/* The picking's result: the points (ring by ring, in ascending azimuth)
 * and one count per ring picked. */
struct VaboPickResult {
  std::vector<VaboPickPoint> points;
  std::vector<VaboPickRingCount> rings;
};

/* Picks the rings (any order; those with a positive search) on image with
 * the geometry Par (natural order).  true with result filled; false with
 * the reason in *error (no storage, an image whose vectors do not hold
 * rows x columns values, a geometry that is not finite) and result empty.
 * An image without rings gives true and no points. */
bool vabo_pick(const VaboImage &image, const double Par[NParams],
               const VaboPickRing *rings, size_t nrings, VaboPickResult &result,
               std::string *error);

/* The pixel where the ring of angle two_theta (rad) meets the azimuth
 * (rad, as Azimuth_3d) for Par; false when that direction does not meet
 * the detector plane in front of the sample. */
bool vabo_ring_pixel(const double Par[NParams], double two_theta,
                     double azimuth, double *i1, double *i2);

/* vabo_ring_pixel at n azimuths, the geometry's rotation built once:
 * ok[k] and the pixel (i1[k], i2[k]) for azimuths[k]. */
void vabo_ring_pixels(const double Par[NParams], double two_theta,
                      const double *azimuths, size_t n, double *i1, double *i2,
                      bool *ok);

#endif
