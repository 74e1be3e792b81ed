/*
 * vabo_fit2d -- Fit2D's description of a detector geometry, as pyFAI's
 * Geometry.getFit2D() and setFit2D() give and take it, converted to and
 * from vabo's eight parameters, and read from a small text file.
 *
 * Fit2D describes the geometry from the beam's side: the distance from the
 * sample to where the direct beam meets the detector (directDist, mm), that
 * point in pixels (centerX along the fast axis i2, centerY along the slow
 * axis i1), the tilt of the detector (tilt, degrees) and the rotation of
 * the plane of the tilt about the beam (tiltPlanRotation, degrees), and
 * the pixel sizes (pixelX along i2, pixelY along i1, um).
 *
 * The centre is in pyFAI's Fit2D convention: measured from the corner of
 * the detector, so that the centre of pixel (i1, i2) is at centerY = i1 +
 * 0.5, centerX = i2 + 0.5 -- half a pixel more than vabo's coordinate of
 * the same point (vabo's whole coordinates are pixel centres).
 *
 * vabo_fit2d_from_parameters and vabo_parameters_from_fit2d convert; the
 * reader (vabo_fit2d_read, vabo_fit2d_parse) takes "key = value" (or
 * "key: value") lines with the keys of getFit2D (without case): directDist,
 * centerX, centerY, pixelX, pixelY required, tilt and tiltPlanRotation 0
 * when absent, splineFile only as None.  A bare number is in Fit2D's unit
 * (mm, pixels, degrees, um); one with a unit ('_', numio) is converted
 * ("0.2385_m", "0.5_deg"); the centre takes no unit.  Errors as the other
 * readers: one line "FILE:LINE: what", nothing half-filled.
 */
#ifndef VABO_FIT2D_H
#define VABO_FIT2D_H

#include "vabo_base.h"

#include <array>
#include <string>
#include <string_view>

/* A geometry in Fit2D's terms, in Fit2D's units. */
struct VaboFit2D {
  double directDist = 0.0; /* sample to beam centre along the beam, mm */
  double centerX = 0.0;    /* beam centre along i2, pixels, corner origin */
  double centerY = 0.0;    /* beam centre along i1, pixels, corner origin */
  double tilt = 0.0;       /* detector tilt, degrees */
  double tiltPlanRotation = 0.0; /* rotation of the tilt plane, degrees,
                                    in (-180, 180] */
  double pixelX = 0.0;           /* pixel size along i2, um */
  double pixelY = 0.0;           /* pixel size along i1, um */
};

/* Fit2D's geometry of vabo's parameters par (natural order), as pyFAI's
 * getFit2D gives it; rot3, a rotation about the beam, changes no angle
 * and is not part of it.  Without tilt, tiltPlanRotation is 0.  False,
 * with *fit2d unchanged, when a parameter is not finite, a pixel size or
 * the distance not positive, or the detector is turned 90 degrees or more
 * (the beam meets it nowhere). */
bool vabo_fit2d_from_parameters(const double *par, VaboFit2D *fit2d);

/* vabo's parameters par (natural order) of Fit2D's geometry, as pyFAI's
 * setFit2D sets them.  rot3 is the one that makes the detector's tilt a
 * rotation about an axis in its plane, as Fit2D means it (pyFAI 0.21
 * computes it with a slip, sqrt(10 - ...) for sqrt(1 - ...)); it moves no
 * ring.  False, with par unchanged, when a value is not finite, directDist
 * or a pixel size not positive, or |tilt| is 90 degrees or more. */
bool vabo_parameters_from_fit2d(const VaboFit2D &fit2d, double *par);

/* What a Fit2D file gives: its numbers and the start values they mean. */
struct VaboFit2DFile {
  VaboFit2D fit2d;
  std::array<double, NParams> start{}; /* pix1 ... rot3 (m, pixel, rad) */
};

/* Reads the Fit2D file path.  True with *file filled; false with *error
 * the one line "PATH:LINE: what" ("PATH: what" for a missing key or a file
 * that cannot be read) and *file left as a new record. */
bool vabo_fit2d_read(const char *path, VaboFit2DFile *file, std::string *error);

/* The same for text already in memory; name stands for the file in the
 * messages. */
bool vabo_fit2d_parse(std::string_view text, const char *name,
                      VaboFit2DFile *file, std::string *error);

#endif
