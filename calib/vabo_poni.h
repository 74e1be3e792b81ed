/*
 * vabo_poni -- PONI files: the geometry of pyFAI and the integration
 * programs, converted to vabo's parameters and back, and read as start
 * values.
 *
 * A PONI file gives the point of normal incidence in metres from the
 * corner of the first pixel, whose centre lies half a pixel inside:
 * Poni1 = (cen1 + 0.5) pix1.  The conversion both ways lives here
 * (vabo_poni_geometry, vabo_poni_parameters); the result files
 * (vabo_results) write their PONI text from it.  The reader
 * (vabo_poni_read, vabo_poni_parse) takes the versions 1, 2, 2.1 and 3 of
 * the file and gives the eight start values and the wavelength, or refuses
 * the file with one line "FILE:LINE: what" -- malformed text as the other
 * readers (vabo_textfile.h), and whatever vabo cannot honour:
 * - an unknown version or key, a key given twice (Distance and Dist too);
 * - version 1: no PixelSize1 or PixelSize2, a SplineFile other than None,
 *   a Detector_config line (version 2's);
 * - versions 2, 2.1, 3: no Detector_config, one that is not a JSON object
 *   or gives no positive pixel1 and pixel2 (a named detector such as
 *   Pilatus1M whose sizes pyFAI knows but the file does not say), a
 *   splineFile other than null, an orientation other than 3, and the lines
 *   of version 1 (PixelSize1, PixelSize2, SplineFile);
 * - "Parallax: True" (vabo has no parallax correction);
 * - no Distance or no Poni1 or Poni2; a distance that is not positive.
 * Missing rotations are 0, as pyFAI takes them.  Keys are compared without
 * case; numbers are numio expressions in SI units (m, rad).
 */
#ifndef VABO_PONI_H
#define VABO_PONI_H

#include "vabo_base.h"

#include <array>
#include <string>
#include <string_view>

/* Deepest nesting of arrays and objects the reader takes in a
 * Detector_config.  pyFAI writes a flat object (max_shape one array deep);
 * the bound keeps a hostile line from costing stack or time. */
constexpr int VaboPoniMaxJsonDepth = 16;

/* The geometry as the integration programs describe it: the point of
 * normal incidence from the corner of the first pixel.  Lengths in m,
 * angles in rad. */
struct VaboPoniGeometry {
  double dist = 0.0;  /* distance sample -- point of normal incidence */
  double poni1 = 0.0; /* along i1, (cen1 + 0.5) pix1 */
  double poni2 = 0.0; /* along i2, (cen2 + 0.5) pix2 */
  double rot1 = 0.0;  /* rotations, as vabo's */
  double rot2 = 0.0;
  double rot3 = 0.0;
  double pixel1 = 0.0; /* pixel sizes, as vabo's pix1, pix2 */
  double pixel2 = 0.0;
};

/* What a PONI file gives vabo.  Invariants of a record the reader filled:
 * every start value finite, pix1, pix2 and dis positive; the wavelength
 * positive and finite when has_wavelength. */
struct VaboPoni {
  std::array<double, NParams> start{}; /* pix1 ... rot3 (m, pixel, rad) */
  bool has_wavelength = false;         /* the file gives the wavelength */
  double wavelength = 0.0;             /* m */
  double version = 1.0;                /* poni_version: 1, 2, 2.1 or 3 */
  std::string detector;                /* the Detector line, or empty */
};

/* The PONI geometry of vabo's parameters par (natural order).  Never
 * fails: values that are not numbers stay what they are. */
VaboPoniGeometry vabo_poni_geometry(const double *par);

/* vabo's parameters par (natural order) of the PONI geometry g:
 * cen = poni / pixel - 0.5.  Never fails, as above. */
void vabo_poni_parameters(const VaboPoniGeometry &g, double *par);

/* Reads the PONI file path.  True with *poni filled; false with *error the
 * one line "PATH:LINE: what" ("PATH: what" for what is missing from the
 * file, or when it cannot be read) and *poni left as a new record. */
bool vabo_poni_read(const char *path, VaboPoni *poni, std::string *error);

/* The same for text already in memory; name stands for the file in the
 * messages. */
bool vabo_poni_parse(std::string_view text, const char *name, VaboPoni *poni,
                     std::string *error);

#endif
