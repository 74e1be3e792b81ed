/*
 * vabo_results.cpp -- the PONI file and the JSON document of a run.
 *
 * Entry points: vabo_result_set_refined (records a refinement and its
 * covariance), the accessors of its errors, covariance, correlation and
 * message, vabo_result_json (the record as a JSON document, written as text
 * section by section), vabo_result_poni (the PONI text) and
 * vabo_write_result_files (writes the files, reports those that cannot be
 * written).  The PONI file has version 2, with the point of normal
 * incidence in metres from the corner of the first pixel, as the
 * integration programs read it (the conversion is vabo_poni's).  Numbers are
 * written in the shortest form that reads back to the same double.  No
 * exception leaves this file: running out of memory gives an empty text (or
 * message), or, for the files, a report.
 */
#include "vabo_results.h"

#include "vabo_fit2d.h"
#include "vabo_poni.h"
#include "vabo_run.h"

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

/* result.message with why there are no standard errors; throws
 * std::bad_alloc when there is no storage for the text. */
std::string message_text(const VaboResult &result)
{
  if (!result.refined || result.cov_status == VaboCovOk) return result.message;
  return result.message +
         "; no standard errors: " + VaboCovStatusText(result.cov_status);
}

/* A JSON document written as text as it is made, in the layout of the JSON
 * library's dump with an indentation of two blanks (one member or element
 * a line, empty containers as {} and []).  Each scalar is formatted by the
 * library as a value of its own -- numbers in its shortest form, strings
 * escaped, bytes that are not UTF-8 replaced -- but no tree of the library
 * is ever built: destroying one allocates, and an allocation that fails
 * there ends the process.  Running out of memory while the text grows
 * throws std::bad_alloc, which leaves nothing behind but the text. */
class JsonWriter {
public:
  explicit JsonWriter(std::string &text) : text_(text) {}

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  /* The name of the next member of the open object. */
  void key(const char *name)
  {
    next_item();
    scalar(Json(name));
    text_ += ": ";
    after_key_ = true;
  }

  void value(const Json &scalar_value)
  {
    next_item();
    scalar(scalar_value);
  }

  /* A member whose value is a scalar. */
  void member(const char *name, const Json &scalar_value)
  {
    key(name);
    value(scalar_value);
  }

private:
  /* Deepest nesting of the result document, with room to spare. */
  static constexpr size_t kMaxDepth = 8;

  void scalar(const Json &v)
  {
    text_ += v.dump(-1, ' ', false, Json::error_handler_t::replace);
  }

  /* Starts an element or member: after a key nothing, otherwise the comma
   * behind the one before and a new indented line. */
  void next_item()
  {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (depth_ == 0) return;
    if (items_[depth_ - 1]++ > 0) text_ += ',';
    text_ += '\n';
    text_.append(2 * depth_, ' ');
  }

  void open(char bracket)
  {
    next_item();
    text_ += bracket;
    if (depth_ < kMaxDepth) items_[depth_] = 0;
    ++depth_;
  }

  void close(char bracket)
  {
    --depth_;
    if (depth_ < kMaxDepth && items_[depth_] > 0) {
      text_ += '\n';
      text_.append(2 * depth_, ' ');
    }
    text_ += bracket;
  }

  std::string &text_;
  size_t items_[kMaxDepth] = {};
  size_t depth_ = 0;
  bool after_key_ = false;
};

void write_parameters(JsonWriter &w, const VaboResult &r)
{
  const char *const *names = VaboParamNamesArray();
  w.begin_object();
  for (int p = 0; p < NParams; ++p) {
    const int j = refined_position(r, p);
    const double e = vabo_result_error(r, p);
    w.key(names[p]);
    w.begin_object();
    w.member("value", r.refined ? Json(r.value[p]) : Json(nullptr));
    w.member("unit", kParamUnits[p]);
    w.member("refined", j >= 0);
    w.member("start", r.start[p]);
    w.member("deviation", r.refined ? Json(r.deviation[p]) : Json(nullptr));
    w.member("error", std::isnan(e) ? Json(nullptr) : Json(e));
    w.end_object();
  }
  if (r.wavelength_refined) {
    const double e = vabo_result_error(r, NParams);
    w.key("wavelength");
    w.begin_object();
    w.member("value", r.refined ? Json(r.wavelength) : Json(nullptr));
    w.member("unit", "m");
    w.member("refined", true);
    w.member("start", r.wavelength_start);
    w.member("deviation",
             r.refined ? Json(r.wavelength_deviation) : Json(nullptr));
    w.member("error", std::isnan(e) ? Json(nullptr) : Json(e));
    w.end_object();
  }
  w.end_object();
}

void write_statistics(JsonWriter &w, const VaboResult &r)
{
  if (!r.refined) return w.value(nullptr);
  w.begin_object();
  for (int k = 0; k < NStats; ++k) {
    unsigned long long count = 0;
    w.member(VaboStatNames[k],
             vabo_result_count(r, k, &count) ? Json(count) : Json(r.stat[k]));
  }
  w.end_object();
}

/* {"names", "matrix"} of the covariance, or of the correlation
 * cov_ij / sqrt(cov_ii cov_jj); null without a covariance. */
void write_matrix(JsonWriter &w, const VaboResult &r, bool correlation)
{
  if (!vabo_result_has_covariance(r)) return w.value(nullptr);
  w.begin_object();
  w.key("names");
  w.begin_array();
  for (size_t k = 0; k < r.nopt; ++k)
    w.value(vabo_result_covariance_name(r, k));
  w.end_array();
  w.key("matrix");
  w.begin_array();
  for (size_t i = 0; i < r.nopt; ++i) {
    w.begin_array();
    for (size_t j = 0; j < r.nopt; ++j)
      w.value(correlation ? vabo_result_correlation(r, i, j)
                          : vabo_result_covariance(r, i, j));
    w.end_array();
  }
  w.end_array();
  w.end_object();
}

/* The beam parameters of the BeamPar line; null for those that cannot be
 * derived (beam parallel to the detector, no tilt decomposition). */
void write_beam(JsonWriter &w, const VaboResult &r)
{
  if (!r.refined) return w.value(nullptr);
  w.begin_object();
  for (int k = 0; k < NParams; ++k)
    w.member(VaboBeamNames[k], r.has_beam[k] ? Json(r.beam[k]) : Json(nullptr));
  w.end_object();
}

void write_poni(JsonWriter &w, const VaboResult &r)
{
  if (!r.refined) return w.value(nullptr);
  const VaboPoniGeometry g = vabo_poni_geometry(r.value.data());
  w.begin_object();
  w.member("dist", g.dist);
  w.member("poni1", g.poni1);
  w.member("poni2", g.poni2);
  w.member("rot1", g.rot1);
  w.member("rot2", g.rot2);
  w.member("rot3", g.rot3);
  w.member("pixel1", g.pixel1);
  w.member("pixel2", g.pixel2);
  if (r.has_wavelength) w.member("wavelength", r.wavelength);
  w.end_object();
}

/* A number that may be NaN (a residual without refined parameters). */
Json number_or_null(double value)
{
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

/* Fit2D's geometry of the refined values, with pyFAI's keys and units;
 * null when there is none (not refined, or the beam misses the
 * detector). */
void write_fit2d(JsonWriter &w, const VaboResult &r)
{
  VaboFit2D f;
  if (!r.refined || !vabo_fit2d_from_parameters(r.value.data(), &f))
    return w.value(nullptr);
  w.begin_object();
  w.member("directDist", f.directDist);
  w.member("centerX", f.centerX);
  w.member("centerY", f.centerY);
  w.member("tilt", f.tilt);
  w.member("tiltPlanRotation", f.tiltPlanRotation);
  w.member("pixelX", f.pixelX);
  w.member("pixelY", f.pixelY);
  w.end_object();
}

/* The residuals of each ring that has points. */
void write_rings(JsonWriter &w, const VaboResult &r)
{
  w.begin_array();
  for (const VaboRingStat &s : r.rings) {
    w.begin_object();
    w.member("ring", s.ring);
    w.member("d", s.d);
    w.member("tth", number_or_null(s.two_theta));
    w.member("points", s.points);
    w.member("mean", number_or_null(s.mean));
    w.member("rms", number_or_null(s.rms));
    w.member("mean_pixels", number_or_null(s.mean_pixels));
    w.member("rms_pixels", number_or_null(s.rms_pixels));
    w.end_object();
  }
  w.end_array();
}

/* The rounds of sigma clipping and every point they rejected. */
void write_rejection(JsonWriter &w, const VaboResult &r)
{
  w.begin_object();
  w.member("k", r.reject_k);
  w.member("end", VaboRejectEndName(r.reject_end));
  w.key("rounds");
  w.begin_array();
  for (const VaboRejectRound &round : r.reject_rounds) {
    w.begin_object();
    w.member("round", round.round);
    w.member("median", number_or_null(round.median));
    w.member("scale", number_or_null(round.scale));
    w.member("candidates", round.candidates);
    w.member("rejected", round.rejected);
    w.member("kept", round.kept);
    w.member("stdev", number_or_null(round.stddev));
    w.end_object();
  }
  w.end_array();
  w.key("points");
  w.begin_array();
  for (const VaboRejectedPoint &point : r.rejected) {
    w.begin_object();
    if (r.has_lines)
      w.member("line", point.line);
    else
      w.member("index", point.index);
    w.member("angle", point.angle);
    w.member("i1", point.i1);
    w.member("i2", point.i2);
    w.member("residual", number_or_null(point.residual));
    w.member("round", point.round);
    w.end_object();
  }
  w.end_array();
  w.end_object();
}

void write_document(JsonWriter &w, const VaboResult &r)
{
  w.begin_object();
  w.member("program", "vabo");
  w.member("version", VaboVersion);
  w.key("arguments");
  w.begin_array();
  for (const std::string &argument : r.arguments) w.value(argument);
  w.end_array();
  w.member("input", r.input);
  w.member("status", r.status);
  w.member("message", message_text(r));
  w.key("parameters");
  write_parameters(w, r);
  w.key("statistics");
  write_statistics(w, r);
  w.member("steps", r.steps);
  if (!r.method.empty()) w.member("method", r.method);
  if (r.has_rejection) {
    w.key("rejection");
    write_rejection(w, r);
  }
  w.key("covariance");
  write_matrix(w, r, false);
  w.key("correlation");
  write_matrix(w, r, true);
  w.key("beam");
  write_beam(w, r);
  w.key("poni");
  write_poni(w, r);
  if (r.has_fit2d) {
    w.key("fit2d");
    write_fit2d(w, r);
  }
  if (r.has_rings) {
    w.key("rings");
    write_rings(w, r);
  }
  if (r.has_warnings) {
    w.key("warnings");
    w.begin_array();
    for (const std::string &warning : r.warnings) w.value(warning);
    w.end_array();
  }
  w.end_object();
}

/* The PONI file's text. */
std::string poni_text(const VaboResult &r)
{
  const VaboPoniGeometry g = vabo_poni_geometry(r.value.data());
  /* A pixel size that is not a number would not be JSON; null is. */
  auto json_number = [](double v) {
    return std::isfinite(v) ? shortest(v) : std::string("null");
  };
  /* clang-format off */
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
  /* clang-format on */
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

double vabo_result_covariance(const VaboResult &result, size_t row, size_t col)
{
  return result.cov[col * result.nopt + row];
}

double vabo_result_correlation(const VaboResult &result, size_t row, size_t col)
{
  return vabo_result_covariance(result, row, col) /
         std::sqrt(vabo_result_covariance(result, row, row) *
                   vabo_result_covariance(result, col, col));
}

const char *vabo_result_covariance_name(const VaboResult &result, size_t k)
{
  const char *const *names = VaboParamNamesArray();
  size_t j = 0;
  for (int p = 0; p < NParams; ++p)
    if (result.mode[p] != 0 && j++ == k) return names[p];
  if (result.wavelength_refined && j == k && k < result.nopt)
    return "wavelength";
  return nullptr;
}

double vabo_result_error(const VaboResult &result, int p)
{
  if (p == NParams) {
    if (!result.wavelength_refined || !vabo_result_has_covariance(result) ||
        result.nopt == 0)
      return std::nan("");
    return std::sqrt(
        vabo_result_covariance(result, result.nopt - 1, result.nopt - 1));
  }
  const int j = refined_position(result, p);
  if (j < 0) return 0.0;
  if (!vabo_result_has_covariance(result)) return std::nan("");
  return std::sqrt(vabo_result_covariance(result, j, j));
}

bool vabo_result_count(const VaboResult &result, int k,
                       unsigned long long *count)
{
  constexpr double kLargestExactInteger = 9007199254740992.0;
  if (k != RNData && k != RNopt) return false;
  const double value = result.stat[k];
  if (!(value >= 0.0 && value <= kLargestExactInteger &&
        value == std::floor(value)))
    return false;
  *count = static_cast<unsigned long long>(value);
  return true;
}

std::string vabo_result_message(const VaboResult &result)
{
  try {
    return message_text(result);
  } catch (const std::exception &) {
    return std::string();
  }
}

std::string vabo_result_lines(const VaboResult &result)
{
  if (!result.refined) return std::string();
  /* The label field of the program's unlabelled lines: 12 blanks. */
  constexpr const char *kNoLabel = "            ";
  char buffer[VaboLineSize];
  try {
    std::string text;
    text.append(kNoLabel).append(
        sprint_parameters(buffer, sizeof buffer, result.value.data()));
    text.append("\n").append(kNoLabel);
    text.append(
        sprint_parameters(buffer, sizeof buffer, result.deviation.data()));
    text.append("\n").append(kNoLabel);
    text.append(sprint_statistics(buffer, sizeof buffer, result.stat.data()));
    text.append("\n");
    return text;
  } catch (const std::exception &) {
    return std::string();
  }
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
                             const VaboNormal *Normal, size_t ndata,
                             const double *Angle, const double *I1,
                             const double *I2, const double *Weight)
{
  std::copy(ParOpt, ParOpt + NParams, result.value.begin());
  std::copy(ParDev, ParDev + NParams, result.deviation.begin());
  std::copy(ParStat, ParStat + NStats, result.stat.begin());
  result.refined = true;

  VaboBeamValues(result.beam.data(), result.has_beam.data(), ParOpt);
  if (Normal && Normal->valid) {
    result.nopt = Normal->nopt;
    result.cov_status =
        VaboCovarianceNormal(result.cov.data(), nullptr, Normal);
  } else if (result.wavelength_refined) {
    /* The walk over the points knows no wavelength. */
    result.nopt = 0;
    result.cov_status = VaboCovFailed;
  } else {
    result.cov_status =
        VaboCovariance(result.cov.data(), nullptr, &result.nopt, ParOpt,
                       result.mode.data(), ndata, Angle, I1, I2, Weight);
  }
}

std::string vabo_result_json(const VaboResult &result)
{
  try {
    std::string text;
    JsonWriter writer(text);
    write_document(writer, result);
    text += '\n';
    return text;
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
