/*
 * vabo_results -- the result of a run and its files: a PONI file for
 * azimuthal integration programs and a JSON document with the whole result.
 *
 * A front end fills one record, VaboResult, with what the run knows (its
 * arguments, start values, refined values, deviations, statistics, steps
 * and the covariance) and hands it to the writers.  The
 * JSON document is built from the record section by section
 * (vabo_results.cpp); a new piece of the result is a new field here and a
 * new section there.  Nothing of the JSON library shows in this header.
 * The Python module fills the same record and reads it through the
 * accessors below, so both report one result the same way.
 */
#ifndef VABO_RESULTS_H
#define VABO_RESULTS_H

#include "vabo_base.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

/* The files asked for on the command line and the wavelength for the PONI
 * file.  A null name: that file is not written. */
struct VaboResultFiles {
  const char *poni = nullptr;  /* poni=FILE */
  const char *json = nullptr;  /* json=FILE */
  bool has_wavelength = false; /* wavelength= was given */
  double wavelength = 0.0;     /* m, positive and finite when given */
};

/* A point that sigma clipping (reject=) took out of the fit. */
struct VaboRejectedPoint {
  size_t index = 0;   /* index in the calibration tables, from 0 */
  size_t line = 0;    /* physical line of the input, from 1 (0: none) */
  double angle = 0.0; /* measured TwoTheta, rad */
  double i1 = 0.0;    /* pixel coordinates */
  double i2 = 0.0;
  double residual = 0.0; /* measured minus model angle at the refined
                            parameters, rad (NaN when there are none) */
  int round = 0;         /* the round that rejected it, from 1 */
};

/* Residuals of one ring at the refined geometry, over its points of
 * positive weight.  The pixel figures divide each residual by the radial
 * change of TwoTheta per pixel at the point, so that they say how far the
 * ring lies from the points on the detector. */
struct VaboRingStat {
  int ring = 0;             /* ring number, from 0 in the calibrant's order */
  double d = 0.0;           /* d-spacing, m */
  double two_theta = 0.0;   /* rad, at the run's wavelength */
  size_t points = 0;        /* points of positive weight */
  double mean = 0.0;        /* weighted mean of measured - model, rad */
  double rms = 0.0;         /* weighted root mean square of it, rad */
  double mean_pixels = 0.0; /* the same in pixels */
  double rms_pixels = 0.0;
};

/* Everything the writers report of one run.  When refined is false (the
 * refinement failed) only the fields above it carry values; the PONI file is
 * then not written and the JSON shows null for what is unknown.  The
 * covariance is nopt x nopt, column-major, over the refined parameters in
 * natural order, and valid only when cov_status is VaboCovOk.  Everything
 * derived is computed when the record is filled, so that building the JSON
 * document calls nothing of the refinement module (and its trace stays
 * where the front end's output expects it). */
struct VaboResult {
  int status = 0;                     /* exit status of the run: 0, 1, 33, 65 */
  std::string message;                /* "succesfully completed" or why not */
  std::vector<std::string> arguments; /* the argument vector, program first */
  std::string input;                  /* the input file, or "(stdin)" */
  std::array<double, NParams> start{}; /* start values (m, pixel, rad) */
  std::array<int, NParams> mode{};     /* 0 kept, otherwise refined */
  int steps = 0;                       /* refinement steps completed */

  bool refined = false;                    /* the refinement succeeded */
  std::array<double, NParams> value{};     /* refined values */
  std::array<double, NParams> deviation{}; /* partial deviations, -1: none */
  std::array<double, NStats> stat{};       /* statistics (VaboStat order) */
  int cov_status = VaboCovFailed;          /* VaboCovStatus */
  size_t nopt = 0; /* refined parameters, with the wavelength when refined */
  /* covariance; a refined wavelength is its last row and column */
  std::array<double, VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS> cov{};
  std::array<double, NParams> beam{};   /* the BeamPar values */
  std::array<bool, NParams> has_beam{}; /* beam[k] could be derived */

  bool has_wavelength = false; /* the PONI geometry carries a wavelength */
  double wavelength = 0.0;     /* m; the refined one when refined */
  /* The wavelength was refined with the geometry (from wavelength_start,
   * m): it is then one more refined parameter of the document, after
   * rot3, with its deviation (m) and its row of the covariance. */
  bool wavelength_refined = false;
  double wavelength_start = 0.0;
  double wavelength_deviation = 0.0;

  /* The robust options, reported only when given: method is "lm" for
   * method=lm (empty: the default loop, not reported); the rejection when
   * reject= was given, with the rounds done and the rejected points in
   * input order.  The statistics and covariance above are then over the
   * kept points. */
  std::string method;
  bool has_rejection = false;
  double reject_k = 0.0;              /* the factor K */
  int reject_end = VaboRejectSettled; /* VaboRejectEnd */
  std::vector<VaboRejectRound> reject_rounds;
  std::vector<VaboRejectedPoint> rejected;
  /* The points came from lines of a file (the rejected points are written
   * with their line), not from arrays (written with their index). */
  bool has_lines = true;

  /* What runs with the field's files add to the JSON document, each only
   * when its flag is set (a run that uses none of those options writes
   * the document it always wrote): Fit2D's geometry of the refined values
   * ("fit2d"), the residuals per ring ("rings") and the warnings for the
   * reader ("warnings", a list that is empty when all is well). */
  bool has_fit2d = false;
  bool has_rings = false;
  std::vector<VaboRingStat> rings;
  bool has_warnings = false;
  std::vector<std::string> warnings;
};

/* Records the start values and the modes (which select the refined
 * parameters of the covariance). */
void vabo_result_set_start(VaboResult &result, const double *ParStart,
                           const int *ParMode);

/* Records the outputs of a successful refinement in result (refined
 * becomes true) and computes the beam parameters and the covariance at
 * ParOpt: from the normal equations the refinement ended with when Normal
 * is valid, otherwise from the calibration tables (the same numbers); call
 * after vabo_result_set_start.  Never fails: a covariance that cannot be
 * had keeps its status, a beam parameter that cannot be derived its mark. */
void vabo_result_set_refined(VaboResult &result, const double *ParOpt,
                             const double *ParDev, const double *ParStat,
                             const VaboNormal *Normal, size_t ndata,
                             const double *Angle, const double *I1,
                             const double *I2, const double *Weight);

/* The JSON document of result as text (two-space indentation, final line
 * end; texts that are not UTF-8 have their bad bytes replaced).  Empty
 * when it cannot be built (no storage). */
std::string vabo_result_json(const VaboResult &result);

/* Names of the eight beam parameters of the BeamPar line, in its order:
 * "pix1", "pix2", "beam_center1", "beam_center2", "beam_distance", "tilt1",
 * "tilt2", "tilt3". */
extern const char *const VaboBeamNames[NParams];

/* Whether result carries a covariance (refined, and cov_status VaboCovOk). */
bool vabo_result_has_covariance(const VaboResult &result);
/* Element (row, col) of the covariance and of the correlation
 * cov(row, col) / sqrt(cov(row, row) cov(col, col)), rows and columns
 * numbering the refined parameters; both need a covariance. */
double vabo_result_covariance(const VaboResult &result, size_t row, size_t col);
double vabo_result_correlation(const VaboResult &result, size_t row,
                               size_t col);
/* Standard error of parameter p (natural order): 0 for a kept parameter,
 * the root of its covariance diagonal for a refined one, NaN when there is
 * no covariance.  p = NParams is the wavelength (m): NaN unless it was
 * refined and there is a covariance. */
double vabo_result_error(const VaboResult &result, int p);
/* Name of row k of the covariance: the refined parameters in natural
 * order, then "wavelength" when it was refined; null beyond nopt. */
const char *vabo_result_covariance_name(const VaboResult &result, size_t k);
/* Whether statistic k (RStdDev ... RNopt) is a count -- ndata or nopt --
 * holding a whole number that a double keeps exactly (up to 2^53); then its
 * value is *count.  The result documents write such counts as integers. */
bool vabo_result_count(const VaboResult &result, int k,
                       unsigned long long *count);
/* result.message, followed by why there are no standard errors when a
 * refined result has none; empty when there is no storage for the text. */
std::string vabo_result_message(const VaboResult &result);

/* The program's three result lines of a refined result -- refined values,
 * deviations, statistics, each behind 12 blanks and with its line end --
 * as the front ends show them; empty when the result is not refined or
 * there is no storage. */
std::string vabo_result_lines(const VaboResult &result);

/* The PONI file's text of a refined result (with a Wavelength line when
 * result.has_wavelength); empty when the result is not refined or there is
 * no storage. */
std::string vabo_result_poni(const VaboResult &result);
/* Writes text to file, replacing it.  0, or the errno of the failure. */
int vabo_write_text(const char *file, const std::string &text);

/* Write the PONI file (only for a refined result) and the JSON file named in
 * files.  A file that cannot be written is reported on standard error as
 * "ERROR: writing <file>: <reason>"; result.status then becomes 1 where it
 * was 0 and result.message names the failure, so that a JSON file written
 * after a failed PONI file says so.  Returns 0, or -1 when a file failed. */
int vabo_write_result_files(const VaboResultFiles &files, VaboResult &result);

#endif
