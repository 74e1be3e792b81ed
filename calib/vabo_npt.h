/*
 * vabo_npt -- pyFAI's control-point files (".npt"): reading, writing, and
 * the scattering angle of a ring.
 *
 * pyFAI-calib2 saves the points it picked on the rings of a calibrant as
 * "key: value" lines: calibrant, wavelength (m), dspacing (Angstrom, one
 * per ring), then groups of points, each opened by "New group of points:"
 * with its "ring:" (numbered from 0, an index into the d-spacings) and its
 * "point: x=... y=..." lines.  Entry points: vabo_npt_read and
 * vabo_npt_parse fill one record, VaboNpt, or refuse the whole file with
 * one line "FILE:LINE: what is wrong"; vabo_npt_text writes a record back
 * in pyFAI's layout; vabo_ring_two_theta gives a ring's TwoTheta.  This
 * module assigns no rings and reads no calibrant tables: the points come
 * with the ring the file gives them.
 *
 * What the reader takes:
 * - '#' lines and blank lines are skipped; keys are compared without case;
 *   numbers are numio expressions ("0.1_nm").  A bare number is in pyFAI's
 *   unit: metres for the wavelength, Angstrom for a d-spacing; one with a
 *   unit ('_') is converted from it.  Pixel coordinates and rings take no
 *   unit.
 * - "calibrant:" names the calibrant by its first word (pyFAI's own
 *   description of it may follow; "undefined", pyFAI's word for none, gives
 *   an empty name); a description ending "at wavelength W" gives the
 *   wavelength when no "wavelength:" line does, and must agree with it when
 *   one does.  "2theta:" lines, which pyFAI writes and no longer reads, are
 *   skipped; so is the number after "New group of points:".
 * What it refuses: any other key, a line that is not "key: value", a key
 *   given twice (a "ring:" twice in one group too), a number it cannot
 *   read or that is not finite, a wavelength or d-spacing that is not
 *   positive, a ring that is negative, above VaboNptMaxRing or (when the
 *   file lists d-spacings) without one, "ring: None" or no ring for a group
 *   that has points, a point without its x= or y= or with more, control
 *   bytes, and a file without points.
 */
#ifndef VABO_NPT_H
#define VABO_NPT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/* Highest ring number the reader and the writer take.  No calibrant lists
 * that many reflections; the bound keeps ring numbers far from int's
 * limits. */
constexpr int VaboNptMaxRing = 1000000;

/* One control point: a pixel on a ring.  Whole coordinates are pixel
 * centres in both pyFAI and vabo, so the file's numbers are kept as they
 * are. */
struct VaboNptPoint {
  double i1 = 0.0; /* slow axis, the file's y, pixels */
  double i2 = 0.0; /* fast axis, the file's x, pixels */
  int ring = 0;    /* ring number as the file gives it, from 0 */
  size_t line = 0; /* physical line of its "point:" in the file, from 1
                      (0: not from a file) */
};

/* A control-point file.  Invariants of a record the reader filled: at
 * least one point, all coordinates finite, 0 <= ring <= VaboNptMaxRing and
 * ring < dspacing.size() when has_dspacing; the wavelength positive and
 * finite when has_wavelength; every d-spacing positive and finite.  Points
 * stand in file order. */
struct VaboNpt {
  std::string calibrant;        /* name, empty when the file names none */
  bool has_wavelength = false;  /* the file gives the wavelength */
  double wavelength = 0.0;      /* m */
  bool has_dspacing = false;    /* the file lists at least one d-spacing */
  std::vector<double> dspacing; /* m, that of ring k at index k */
  std::vector<VaboNptPoint> points;
};

/* Reads the control-point file path.  True with *npt filled; false with
 * *error the one line "PATH:LINE: what is wrong" ("PATH: what" when the file
 * cannot be read, is empty or has no points) and *npt left empty. */
bool vabo_npt_read(const char *path, VaboNpt *npt, std::string *error);

/* The same for text already in memory; name stands for the file in the
 * messages. */
bool vabo_npt_parse(std::string_view text, const char *name, VaboNpt *npt,
                    std::string *error);

/* The text of a control-point file of npt in pyFAI's layout: one group per
 * ring in ascending ring order, the points of a ring in their order, with
 * "2theta:" where the ring is reachable; numbers in the shortest form that
 * reads back to the same double.  False with *error saying why when npt
 * breaks the record's invariants (no points aside) or names its calibrant
 * with blanks or control bytes; *text is then empty. */
bool vabo_npt_text(const VaboNpt &npt, std::string *text, std::string *error);

/* Whether X-rays of wavelength (m) reach the ring of d-spacing d (m):
 * wavelength / 2d <= 1, both positive and finite. */
bool vabo_ring_reachable(double wavelength, double d);

/* The scattering angle TwoTheta (rad) of the ring of d-spacing d (m) at
 * wavelength (m): 2 asin(wavelength / 2d).  NaN when the ring is not
 * reachable. */
double vabo_ring_two_theta(double wavelength, double d);

/* Whether the file path is a control-point file by its content: its first
 * line that is neither blank nor a comment is "key: value" with one of the
 * format's keys.  False also when the file cannot be read (the caller's
 * reader then says why). */
bool vabo_npt_recognise(const char *path);

#endif
