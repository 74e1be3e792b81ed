/*
 * vabo_results.cpp -- the PONI file and the JSON document of a run.
 *
 * Entry points: vabo_result_set_refined (records a refinement and its
 * covariance), the accessors of its errors, covariance, correlation and
 * message, vabo_result_json (the record as a JSON document, one builder per
 * section), vabo_result_poni (the PONI text) and vabo_write_result_files
 * (writes the files, reports those that cannot be written).  The PONI file
 * has version 2, with the point of normal incidence in metres from the
 * corner of the first pixel, as the integration programs read it.  Numbers
 * are written in the shortest form that reads back to the same double.  No
 * exception leaves this file.
 */
#include "vabo_results.h"

#include "vabo.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>

namespace {

using Json = nlohmann::ordered_json;

/* Units of the parameters in natural order. */
constexpr const char *kParamUnits[NParams] = {"m", "m",   "pixel", "pixel",
                                              "m", "rad", "rad",   "rad"};

/* The geometry as integration programs describe it: the point of normal
 * incidence from the corner of the first pixel, whose centre lies half a
 * pixel inside.  All lengths in m, angles in rad. */
struct PoniGeometry {
  double dist, poni1, poni2, rot1, rot2, rot3, pixel1, pixel2;
};

PoniGeometry poni_geometry(const std::array<double, NParams> &par)
{
  return {.dist = par[Dis],
          .poni1 = (par[Cen1] + 0.5) * par[Pix1],
          .poni2 = (par[Cen2] + 0.5) * par[Pix2],
          .rot1 = par[Rot1],
          .rot2 = par[Rot2],
          .rot3 = par[Rot3],
          .pixel1 = par[Pix1],
          .pixel2 = par[Pix2]};
}

/* The shortest text that reads back to value ("nan", "inf" as they are). */
std::string shortest(double value)
{
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "nan";
  return std::string(buffer, end);
}

/* The date in the layout of C's ctime, without its line end. */
std::string calibration_date()
{
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char buffer[64];
  if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local) ||
      std::strftime(buffer, sizeof buffer, "%a %b %e %H:%M:%S %Y", &local) == 0)
    return "an unknown date";
  return buffer;
}

/* Ordered position of parameter p among the refined ones (natural order),
 * or -1 when p is kept. */
int refined_position(const VaboResult &r, int p)
{
  if (r.mode[p] == 0) return -1;
  int j = 0;
  for (int q = 0; q < p; ++q)
    if (r.mode[q] != 0) ++j;
  return j;
}

Json parameters_section(const VaboResult &r)
{
  const char *const *names = VaboParamNamesArray();
  Json section = Json::object();
  for (int p = 0; p < NParams; ++p) {
    const int j = refined_position(r, p);
    const double e = vabo_result_error(r, p);
    const Json error = std::isnan(e) ? Json(nullptr) : Json(e);
    section[names[p]] = {
        {"value", r.refined ? Json(r.value[p]) : Json(nullptr)},
        {"unit", kParamUnits[p]},
        {"refined", j >= 0},
        {"start", r.start[p]},
        {"deviation", r.refined ? Json(r.deviation[p]) : Json(nullptr)},
        {"error", error}};
  }
  return section;
}

/* A count kept in a statistics vector, as a JSON integer when it is one
 * (a double holds every integer up to 2^53 exactly). */
Json count_value(double value)
{
  constexpr double kLargestExactInteger = 9007199254740992.0;
  if (value >= 0.0 && value <= kLargestExactInteger && value == std::floor(value))
    return static_cast<unsigned long long>(value);
  return value;
}

Json statistics_section(const VaboResult &r)
{
  if (!r.refined) return nullptr;
  const char *const names[NStats] = {"stdev", "mindev", "maxdev",
                                     "total", "ndata",  "nopt"};
  Json section = Json::object();
  for (int k = 0; k < NStats; ++k)
    section[names[k]] =
        (k == RNData || k == RNopt) ? count_value(r.stat[k]) : Json(r.stat[k]);
  return section;
}

Json refined_names(const VaboResult &r)
{
  const char *const *names = VaboParamNamesArray();
  Json list = Json::array();
  for (int p = 0; p < NParams; ++p)
    if (r.mode[p] != 0) list.push_back(names[p]);
  return list;
}

/* {"names", "matrix"} of the covariance, or of the correlation
 * cov_ij / sqrt(cov_ii cov_jj); null without a covariance. */
Json matrix_section(const VaboResult &r, bool correlation)
{
  if (!vabo_result_has_covariance(r)) return nullptr;
  Json matrix = Json::array();
  for (size_t i = 0; i < r.nopt; ++i) {
    Json row = Json::array();
    for (size_t j = 0; j < r.nopt; ++j)
      row.push_back(correlation ? vabo_result_correlation(r, i, j)
                                : vabo_result_covariance(r, i, j));
    matrix.push_back(std::move(row));
  }
  return {{"names", refined_names(r)}, {"matrix", std::move(matrix)}};
}

/* The beam parameters of the BeamPar line; null for those that cannot be
 * derived (beam parallel to the detector, no tilt decomposition). */
Json beam_section(const VaboResult &r)
{
  if (!r.refined) return nullptr;
  Json section = Json::object();
  for (int k = 0; k < NParams; ++k)
    section[VaboBeamNames[k]] = r.has_beam[k] ? Json(r.beam[k]) : Json(nullptr);
  return section;
}

Json poni_section(const VaboResult &r)
{
  if (!r.refined) return nullptr;
  const PoniGeometry g = poni_geometry(r.value);
  Json section = {{"dist", g.dist},     {"poni1", g.poni1},
                  {"poni2", g.poni2},   {"rot1", g.rot1},
                  {"rot2", g.rot2},     {"rot3", g.rot3},
                  {"pixel1", g.pixel1}, {"pixel2", g.pixel2}};
  if (r.has_wavelength) section["wavelength"] = r.wavelength;
  return section;
}

/* A number that may be NaN (a residual without refined parameters). */
Json number_or_null(double value)
{
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

/* The rounds of sigma clipping and every point they rejected. */
Json rejection_section(const VaboResult &r)
{
  const char *const ends[] = {"settled", "round limit", "half guard"};
  const bool known_end = r.reject_end >= 0 && r.reject_end < 3;
  Json rounds = Json::array();
  for (const VaboRejectRound &round : r.reject_rounds)
    rounds.push_back({{"round", round.round},
                      {"median", number_or_null(round.median)},
                      {"scale", number_or_null(round.scale)},
                      {"candidates", round.candidates},
                      {"rejected", round.rejected},
                      {"kept", round.kept},
                      {"stdev", number_or_null(round.stddev)}});
  Json points = Json::array();
  for (const VaboRejectedPoint &point : r.rejected)
    points.push_back({{"line", point.line},
                      {"angle", point.angle},
                      {"i1", point.i1},
                      {"i2", point.i2},
                      {"residual", number_or_null(point.residual)},
                      {"round", point.round}});
  return {{"k", r.reject_k},
          {"end", known_end ? ends[r.reject_end] : "unknown"},
          {"rounds", std::move(rounds)},
          {"points", std::move(points)}};
}

Json result_document(const VaboResult &r)
{
  Json doc = Json::object();
  doc["program"] = "vabo";
  doc["version"] = VaboVersion;
  doc["arguments"] = r.arguments;
  doc["input"] = r.input;
  doc["status"] = r.status;
  doc["message"] = vabo_result_message(r);
  doc["parameters"] = parameters_section(r);
  doc["statistics"] = statistics_section(r);
  doc["steps"] = r.steps;
  if (!r.method.empty()) doc["method"] = r.method;
  if (r.has_rejection) doc["rejection"] = rejection_section(r);
  doc["covariance"] = matrix_section(r, false);
  doc["correlation"] = matrix_section(r, true);
  doc["beam"] = beam_section(r);
  doc["poni"] = poni_section(r);
  return doc;
}

/* The PONI file's text. */
std::string poni_text(const VaboResult &r)
{
  const PoniGeometry g = poni_geometry(r.value);
  /* A pixel size that is not a number would not be JSON; null is. */
  auto json_number = [](double v) {
    return std::isfinite(v) ? shortest(v) : std::string("null");
  };
  std::string text =
      "# Nota: C-Order, 1 refers to the Y axis, 2 to the X axis\n"
      "# Calibration done by vabo at " + calibration_date() + "\n"
      "poni_version: 2\n"
      "Detector: Detector\n"
      "Detector_config: {\"pixel1\": " + json_number(g.pixel1) +
      ", \"pixel2\": " + json_number(g.pixel2) + ", \"max_shape\": null}\n"
      "Distance: " + shortest(g.dist) + "\n"
      "Poni1: " + shortest(g.poni1) + "\n"
      "Poni2: " + shortest(g.poni2) + "\n"
      "Rot1: " + shortest(g.rot1) + "\n"
      "Rot2: " + shortest(g.rot2) + "\n"
      "Rot3: " + shortest(g.rot3) + "\n";
  if (r.has_wavelength) text += "Wavelength: " + shortest(r.wavelength) + "\n";
  return text;
}

struct FileCloser {
  void operator()(FILE *f) const { fclose(f); }
};

/* Writes one file; on failure reports it and records it in result. */
int write_reported(const char *file, const std::string &text,
                   VaboResult &result)
{
  const int error = text.empty() ? ENOMEM : vabo_write_text(file, text);
  if (error == 0) return 0;
  const char *reason = strerror(error);
  fprintf(stderr, "ERROR: writing %s: %s\n", file, reason);
  try {
    if (result.status == 0) {
      result.status = 1;
      result.message = std::string("writing ") + file + ": " + reason;
    }
  } catch (const std::exception &) {
    /* The status stands; only the message could not be changed. */
  }
  return -1;
}

} // namespace

const char *const VaboBeamNames[NParams] = {
    "pix1",          "pix2",  "beam_center1", "beam_center2",
    "beam_distance", "tilt1", "tilt2",        "tilt3"};

bool vabo_result_has_covariance(const VaboResult &result)
{
  return result.refined && result.cov_status == VaboCovOk;
}

double vabo_result_covariance(const VaboResult &result, size_t row,
                              size_t col)
{
  return result.cov[col * result.nopt + row];
}

double vabo_result_correlation(const VaboResult &result, size_t row,
                               size_t col)
{
  return vabo_result_covariance(result, row, col) /
         std::sqrt(vabo_result_covariance(result, row, row) *
                   vabo_result_covariance(result, col, col));
}

double vabo_result_error(const VaboResult &result, int p)
{
  const int j = refined_position(result, p);
  if (j < 0) return 0.0;
  if (!vabo_result_has_covariance(result)) return std::nan("");
  return std::sqrt(vabo_result_covariance(result, j, j));
}

std::string vabo_result_message(const VaboResult &result)
{
  if (!result.refined || result.cov_status == VaboCovOk) return result.message;
  return result.message + "; no standard errors: " +
         VaboCovStatusText(result.cov_status);
}

std::string vabo_result_poni(const VaboResult &result)
{
  if (!result.refined) return std::string();
  try {
    return poni_text(result);
  } catch (const std::exception &) {
    return std::string();
  }
}

int vabo_write_text(const char *file, const std::string &text)
{
  errno = 0;
  std::unique_ptr<FILE, FileCloser> out(fopen(file, "w"));
  if (!out) return errno ? errno : EIO;
  if (fwrite(text.data(), 1, text.size(), out.get()) != text.size() ||
      fflush(out.get()) != 0)
    return errno ? errno : EIO;
  if (fclose(out.release()) != 0) return errno ? errno : EIO;
  return 0;
}

void vabo_result_set_start(VaboResult &result, const double *ParStart,
                           const int *ParMode)
{
  std::copy(ParStart, ParStart + NParams, result.start.begin());
  std::copy(ParMode, ParMode + NParams, result.mode.begin());
}

void vabo_result_set_refined(VaboResult &result, const double *ParOpt,
                             const double *ParDev, const double *ParStat,
                             size_t ndata, const double *Angle,
                             const double *I1, const double *I2,
                             const double *Weight)
{
  std::copy(ParOpt, ParOpt + NParams, result.value.begin());
  std::copy(ParDev, ParDev + NParams, result.deviation.begin());
  std::copy(ParStat, ParStat + NStats, result.stat.begin());
  result.refined = true;

  double center[2] = {0.0, 0.0}, distance = 0.0, tilt[3] = {0.0, 0.0, 0.0};
  const bool has_center = VaboBeamCenter(center, ParOpt) == 0;
  const bool has_distance = VaboBeamDistance(&distance, ParOpt) == 0;
  const bool has_tilt = VaboTilt(tilt, ParOpt) == 0;
  result.beam = {ParOpt[Pix1], ParOpt[Pix2], center[0], center[1],
                 distance,     tilt[0],      tilt[1],   tilt[2]};
  result.has_beam = {true,         true,     has_center, has_center,
                     has_distance, has_tilt, has_tilt,   has_tilt};
  result.cov_status =
      VaboCovariance(result.cov.data(), nullptr, &result.nopt, ParOpt,
                     result.mode.data(), ndata, Angle, I1, I2, Weight);
}

std::string vabo_result_json(const VaboResult &result)
{
  try {
    return result_document(result).dump(2, ' ', false,
                                        Json::error_handler_t::replace) +
           "\n";
  } catch (const std::exception &) {
    return std::string();
  }
}

int vabo_write_result_files(const VaboResultFiles &files, VaboResult &result)
{
  int failed = 0;
  result.has_wavelength = files.has_wavelength;
  result.wavelength = files.wavelength;
  if (files.poni && result.refined &&
      write_reported(files.poni, vabo_result_poni(result), result))
    failed = -1;
  if (files.json &&
      write_reported(files.json, vabo_result_json(result), result))
    failed = -1;
  return failed;
}
