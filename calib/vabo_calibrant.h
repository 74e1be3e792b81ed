/*
 * vabo_calibrant -- the calibrants: reference materials whose rings a
 * calibration uses, each as its list of rings (d-spacing, multiplicity,
 * label).
 *
 * vabo_calibrant_load gives a built-in calibrant by name or reads a
 * d-spacing file as pyFAI and Dioptas write them; vabo_calibrant_read_text
 * reads such a file's text from memory.  The rings of the built-ins are
 * computed from their certified cells and the reflection conditions of
 * their lattices, never typed in.  Nothing here knows a wavelength or an
 * angle: turning d into TwoTheta is the caller's.  Files are read with the
 * expression library, whose state is global: single-threaded, as numio.
 * Implemented in vabo_calibrant.cpp.
 */
#ifndef VABO_CALIBRANT_H
#define VABO_CALIBRANT_H

#include <cstddef>
#include <span>
#include <string>
#include <vector>

/* ---------------------------------------------------------------------
 * Limits and tolerances (all lengths in metres)
 * ------------------------------------------------------------------- */

/* The lower limit of d for callers that want all rings: 0.4 Angstrom.
 * pyFAI's lists of LaB6 and CeO2 end there, so that with it vabo gives
 * every ring they give; rings of shorter spacing are too weak, and too
 * crowded, to be picked at the energies calibrations use. */
inline constexpr double VaboCalibrantAllRings = 0.4e-10;

/* The shortest dmin for which a built-in calibrant computes its rings:
 * 0.1 Angstrom, below any ring a powder calibration resolves (at 100 keV,
 * lambda = 0.124 Angstrom, it lies at TwoTheta = 76 degrees).  It bounds
 * the search of reflections (about 2.5e6 indices for corundum). */
inline constexpr double VaboCalibrantMinDmin = 0.1e-10;

/* Two d-spacings that differ by at most this fraction of the larger are one
 * ring: equal d in double precision, whatever the rounding of the cell or
 * of a file's digits. */
inline constexpr double VaboCalibrantSameD = 1e-10;

/* The d-spacings a d-spacing file may hold, in metres: from 1e-3 Angstrom,
 * below half the wavelength of any source used for diffraction, to 1e7
 * Angstrom (1 mm), beyond the periods ultra-small-angle scattering sees.
 * A number outside is no d-spacing in Angstrom: an overflowed exponent, or
 * a length written with a unit (read in metres, 1e-10 for 1 Angstrom). */
inline constexpr double VaboCalibrantFileMinD = 1e-13;
inline constexpr double VaboCalibrantFileMaxD = 1e-3;

/* The largest d-spacing file read: 256 MiB, room for ten million lines of
 * pyFAI's form ("0.40185554 # (9, 5, 1) 72", 26 bytes); a larger file is
 * no list of d-spacings, and is refused before it is read. */
inline constexpr size_t VaboCalibrantMaxFileBytes = size_t{256} << 20;

/* The most d-spacings a file may list: ten million, where a list of rings
 * holds thousands (LaB6 down to 0.1 Angstrom); it bounds the rings kept while
 * reading (24 bytes each) where a file of short lines ("1\n") would ask for
 * gigabytes. */
inline constexpr size_t VaboCalibrantMaxSpacings = 10000000;

/* ---------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------- */

/* One ring: every reflection of one d-spacing.  d is positive and finite.
 * multiplicity counts the reflections (h k l), a reflection and its Friedel
 * mate (-h -k -l) as two; 0 when unknown (a ring of a file).  hkl is the
 * reflection pyFAI's calibrant files name the ring by: of the ring's
 * reflections the greatest in the order of (h, k, l), the last that pyFAI's
 * scan from negative to positive indices meets; 0 0 0 when unknown.  The
 * indices of the hexagonal cell are (h k l), i = -(h + k) left out. */
struct VaboRing {
  double d = 0.0;       /* d-spacing, m */
  int multiplicity = 0; /* reflections of this d; 0: unknown */
  int hkl[3] = {0, 0, 0};
};

/* A calibrant: its rings, distinct d-spacings in strictly decreasing order,
 * any two differing by more than VaboCalibrantSameD of the larger (the
 * d-spacings closer than that are merged into one ring: the largest d,
 * the sum of the multiplicities, the greatest label). */
struct VaboCalibrant {
  std::string name;            /* "LaB6", ..., or the file's name */
  std::vector<VaboRing> rings; /* decreasing d */
};

/* ---------------------------------------------------------------------
 * Calibrants
 * ------------------------------------------------------------------- */

/* The built-in calibrant named name_or_file (compared without case, so a
 * file of that name is not read), else the d-spacing file of that path;
 * with its rings of d >= dmin (m).  A built-in needs dmin >=
 * VaboCalibrantMinDmin; a file takes any dmin that is a number.  true,
 * also when no ring reaches dmin (out.rings then empty); false with one
 * line in *error (if given) and out untouched: "FILE:LINE: what is wrong"
 * for a line of a file, "FILE: what is wrong" for the whole file (it
 * cannot be read, is too large, holds no d-spacing), "unknown calibrant
 * NAME: ..." naming the built-ins when there is neither. */
bool vabo_calibrant_load(const char *name_or_file, double dmin,
                         VaboCalibrant &out, std::string *error);

/* Reads the text (size bytes, any bytes) of a d-spacing file named name:
 * one d in Angstrom per line, read by num_str2double, so that it may be an
 * expression ("58.380/7") but carries no unit (a '_' is an error); "#"
 * starts a comment, blank lines are skipped, a line may end in CR LF.
 * Nothing may follow the d on its line but white space and a comment: a
 * line of several numbers is an error, not a d and columns dropped.  Every
 * d must lie within VaboCalibrantFileMinD .. VaboCalibrantFileMaxD; a
 * control character (NUL, ...) anywhere is binary data, an error.  The
 * d-spacings are sorted decreasing and merged into rings of unknown
 * multiplicity and label, and those of d >= dmin (m) kept.  At most
 * VaboCalibrantMaxSpacings lines may hold a d.  Returns and fails as
 * vabo_calibrant_load, out.name = name. */
bool vabo_calibrant_read_text(const char *text, size_t size, const char *name,
                              double dmin, VaboCalibrant &out,
                              std::string *error);

/* The names of the built-in calibrants, as vabo_calibrant_load gives them
 * in out.name: LaB6, CeO2, Si, Al2O3, Au, Ni, AgBh. */
std::span<const char *const> vabo_calibrant_names();

#endif
