/*
 * vabo_python_refine.cpp -- the refinement in the Python module:
 * vabo.refine and the class vabo.Result.
 *
 * refine converts its arguments once (columns to contiguous float64 arrays,
 * start values and thresholds through the expression reader, parameter
 * names to modes, the robust options), runs the calibration library's
 * robust refinement with the GIL released, and fills its result record
 * (vabo_results.h) as the program does, so that the Result, its dictionary
 * and its PONI file say what the program's json= and poni= files say.  The
 * status and its message come from the library's status rule (vabo_run.h),
 * the program's: 0, 33 (refinement failed) or 65 (deviation above maxdev).
 */
#include "vabo_python.h"

#include "vabo_base.h"
#include "vabo_fit2d.h"
#include "vabo_npt.h"
#include "vabo_results.h"
#include "vabo_rings.h"
#include "vabo_robust.h"
#include "vabo_run.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace vabo_python {

namespace {

/* The name of the wavelength among the parameters of refine and keep; its
 * index is NParams. */
constexpr const char *kWavelengthName = "wavelength";

/* What the result's dictionary names as its input. */
constexpr const char *kArraysInput = "(arrays)";

/* A calibration column as the refinement reads it: contiguous float64. */
using Column = py::array_t<double, py::array::c_style | py::array::forcecast>;

/* The result of one refinement: the program's record of a run and, when
 * the points know their rings, what a control-point file of them needs. */
struct Result {
  VaboResult record;
  bool has_rings = false;
  VaboRings rings;
  std::vector<double> i1, i2; /* the points' pixels */
  std::vector<int> rejected;  /* round that rejected point i, 0: kept */
};

/* str() of a Python object. */
std::string python_text(py::handle object) { return py::str(object); }

/* The number as Python shows it ("nan", "-inf", "0.5"). */
std::string number_text(double value) { return py::repr(py::float_(value)); }

/* values (an array-like of real numbers, any float or integer dtype, one
 * dimension) as a contiguous float64 array: converted once, not copied
 * when it already is one.  Every value must be finite.  Errors name the
 * argument. */
Column column(py::handle values, const std::string &name)
{
  py::array array = py::array::ensure(values);
  if (!array) throw py::type_error(name + " must be an array of numbers");
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(name + " must hold real numbers, not " +
                         python_text(array.dtype()));
  if (array.ndim() != 1)
    throw py::value_error(name + " must be one-dimensional, not of shape " +
                          python_text(array.attr("shape")));
  Column converted = Column::ensure(array);
  if (!converted)
    throw py::type_error(name + " cannot be converted to float64");
  const double *data = converted.data();
  for (py::ssize_t i = 0; i < converted.size(); ++i)
    if (!std::isfinite(data[i]))
      throw py::value_error(name + "[" + std::to_string(i) + "] is " +
                            number_text(data[i]) + ", not a finite number");
  return converted;
}

/* The columns of the calibration points, all of the length of tth. */
struct Points {
  Column tth, i1, i2, weight;
  std::vector<double> unit_weights; /* weight 1 each when none is given */
  size_t n = 0;

  const double *weights() const
  {
    return unit_weights.empty() ? weight.data() : unit_weights.data();
  }
};

void require_length(const Column &values, const char *name, size_t n)
{
  if (static_cast<size_t>(values.size()) != n)
    throw py::value_error(std::string(name) + " has " +
                          std::to_string(values.size()) + " values, tth has " +
                          std::to_string(n) +
                          ": the columns must be of one length");
}

Points points(py::handle tth, py::handle i1, py::handle i2, py::handle weight)
{
  Points p;
  p.tth = column(tth, "tth");
  p.n = static_cast<size_t>(p.tth.size());
  if (p.n == 0)
    throw py::value_error("tth is empty: there are no calibration points");
  p.i1 = column(i1, "i1");
  require_length(p.i1, "i1", p.n);
  p.i2 = column(i2, "i2");
  require_length(p.i2, "i2", p.n);
  if (weight.is_none()) {
    p.unit_weights.assign(p.n, 1.0);
    return p;
  }
  p.weight = column(weight, "weight");
  require_length(p.weight, "weight", p.n);
  const double *w = p.weight.data();
  for (size_t i = 0; i < p.n; ++i)
    if (w[i] < 0.0)
      throw py::value_error("weight[" + std::to_string(i) + "] is " +
                            number_text(w[i]) + ": weights must be >= 0");
  return p;
}

/* The rings of the points, from ring= (an index into dspacing= per point)
 * and the wavelength (m); has_rings false when ring is None.  Errors name
 * the argument. */
struct Rings {
  bool given = false;
  VaboRings rings;
};

Rings point_rings(py::handle ring, py::handle dspacing, py::handle wavelength,
                  size_t n)
{
  Rings r;
  if (ring.is_none()) {
    if (!dspacing.is_none())
      throw py::value_error("dspacing needs ring, the ring of each point");
    return r;
  }
  if (dspacing.is_none())
    throw py::value_error(
        "ring needs dspacing, the d-spacing of each ring (m)");
  if (wavelength.is_none()) throw py::value_error("ring needs wavelength (m)");
  const double lambda = number_or_expression(wavelength, "wavelength");
  if (!(lambda > 0.0) || !std::isfinite(lambda))
    throw py::value_error("wavelength is " + number_text(lambda) +
                          " m, not a positive length");
  const Column d = column(dspacing, "dspacing");
  for (py::ssize_t k = 0; k < d.size(); ++k)
    if (!(d.data()[k] > 0.0))
      throw py::value_error("dspacing[" + std::to_string(k) + "] is " +
                            number_text(d.data()[k]) +
                            ": d-spacings must be positive");
  using Index =
      py::array_t<long long, py::array::c_style | py::array::forcecast>;
  py::array raw = py::array::ensure(ring);
  if (!raw || raw.ndim() != 1 ||
      (raw.dtype().kind() != 'i' && raw.dtype().kind() != 'u'))
    throw py::type_error("ring must be a one-dimensional array of integers");
  const Index index = Index::ensure(raw);
  if (static_cast<size_t>(index.size()) != n)
    throw py::value_error("ring has " + std::to_string(index.size()) +
                          " elements, tth " + std::to_string(n));
  r.given = true;
  r.rings.wavelength = lambda;
  r.rings.spacing.assign(d.data(), d.data() + d.size());
  r.rings.ring.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const long long k = index.data()[i];
    if (k < 0 || k >= d.size())
      throw py::value_error("ring[" + std::to_string(i) + "] is " +
                            std::to_string(k) + ", not an index into dspacing");
    if (!vabo_ring_reachable(lambda, d.data()[k]))
      throw py::value_error("ring[" + std::to_string(i) + "] is " +
                            std::to_string(k) + ", which wavelength " +
                            number_text(lambda) + " m cannot reach");
    r.rings.ring[i] = static_cast<int>(k);
  }
  return r;
}

/* TwoTheta of each point from its ring, for a tth of None. */
py::array_t<double> ring_angles(const VaboRings &rings)
{
  py::array_t<double> tth(static_cast<py::ssize_t>(rings.ring.size()));
  double *t = tth.mutable_data();
  for (size_t i = 0; i < rings.ring.size(); ++i)
    t[i] = vabo_ring_two_theta(rings.wavelength,
                               rings.spacing[size_t(rings.ring[i])]);
  return tth;
}

/* The eight start values, each a number or an expression. */
std::array<double, NParams> start_values(py::handle start)
{
  if (py::isinstance<py::str>(start) || py::isinstance<py::bytes>(start))
    throw py::type_error("start must be a sequence of 8 numbers or "
                         "expressions, not one text");
  const py::list values(py::reinterpret_borrow<py::object>(start));
  if (values.size() != NParams)
    throw py::value_error("start must have 8 values (pix1 pix2 cen1 cen2 dis "
                          "rot1 rot2 rot3), not " +
                          std::to_string(values.size()));
  const char *const *names = VaboParamNamesArray();
  std::array<double, NParams> par{};
  for (int p = 0; p < NParams; ++p) {
    const std::string what = std::string("start value of ") + names[p];
    par[p] = number_or_expression(values[p], what);
    if (!std::isfinite(par[p]))
      throw py::value_error(what + " is " + number_text(par[p]) +
                            ", not a finite number");
  }
  return par;
}

/* Index of the parameter called name, or -1. */
int parameter_index(const std::string &name)
{
  const char *const *names = VaboParamNamesArray();
  for (int p = 0; p < NParams; ++p)
    if (name == names[p]) return p;
  return name == kWavelengthName ? NParams : -1;
}

/* The parameters named by names: None (none), one name, or an iterable of
 * names.  Errors name the argument what. */
std::vector<int> named_parameters(py::handle names, const char *what)
{
  std::vector<int> indexes;
  if (names.is_none()) return indexes;
  py::list list;
  if (py::isinstance<py::str>(names))
    list.append(names);
  else
    list = py::list(py::reinterpret_borrow<py::object>(names));
  for (py::handle item : list) {
    if (!py::isinstance<py::str>(item))
      throw py::type_error(std::string(what) + " takes parameter names, not " +
                           python_text(py::repr(item)));
    const int p = parameter_index(item.cast<std::string>());
    if (p < 0)
      throw py::value_error(std::string(what) + ": unknown parameter " +
                            python_text(py::repr(item)) +
                            " (the parameters are pix1 pix2 cen1 cen2 dis "
                            "rot1 rot2 rot3 wavelength)");
    indexes.push_back(p);
  }
  return indexes;
}

/* The modes: the program's defaults, then 1 for the names in refine and 0
 * for those in keep; a name in both is an error.  *wavelength tells
 * whether refine names the wavelength (kept by default). */
std::array<int, NParams> parameter_modes(py::handle refine, py::handle keep,
                                         bool *wavelength)
{
  const int *defaults = VaboParamDefaultArray();
  std::array<int, NParams> mode{};
  std::copy(defaults, defaults + NParams, mode.begin());
  const std::vector<int> refined = named_parameters(refine, "refine");
  *wavelength = false;
  for (int p : refined) {
    if (p == NParams)
      *wavelength = true;
    else
      mode[p] = 1;
  }
  for (int p : named_parameters(keep, "keep")) {
    if (std::find(refined.begin(), refined.end(), p) != refined.end())
      throw py::value_error(
          std::string("parameter ") +
          (p == NParams ? kWavelengthName : VaboParamNamesArray()[p]) +
          " is both in refine and in keep");
    if (p == NParams) continue;
    mode[p] = 0;
  }
  return mode;
}

/* A threshold (rad), a number or an expression; NaN is refused. */
double threshold(py::handle value, const char *name)
{
  const double v = number_or_expression(value, name);
  if (std::isnan(v))
    throw py::value_error(std::string(name) + " is not a number");
  return v;
}

/* The robust options: reject (None, or a positive finite factor given as
 * a number or an expression) and method ("gn" or "lm"). */
VaboRobustOptions robust_options(py::handle reject, py::handle method)
{
  VaboRobustOptions options;
  if (!reject.is_none()) {
    const double k = number_or_expression(reject, "reject");
    if (!(k > 0.0) || !std::isfinite(k))
      throw py::value_error("reject is " + number_text(k) +
                            ", not a positive, finite factor");
    options.has_reject = true;
    options.reject = k;
  }
  if (!py::isinstance<py::str>(method))
    throw py::type_error("method must be 'gn' or 'lm', not " +
                         python_text(py::repr(method)));
  const std::string name = method.cast<std::string>();
  std::string error;
  if (!vabo_read_method(name.c_str(), options, &error))
    throw py::value_error("method must be 'gn' (Gauss-Newton) or 'lm' "
                          "(Levenberg-Marquardt), not " +
                          python_text(py::repr(method)));
  return options;
}

Result refine(py::handle tth, py::handle i1, py::handle i2, py::handle start,
              py::handle weight, py::handle refine_names, py::handle keep_names,
              int maxiter, py::handle mindev, py::handle maxdev,
              py::handle reject, py::handle method, py::handle ring,
              py::handle dspacing, py::handle wavelength)
{
  const py::ssize_t count = py::len(i1);
  const Rings rings =
      point_rings(ring, dspacing, wavelength, static_cast<size_t>(count));
  if (tth.is_none() && !rings.given)
    throw py::value_error("tth is None: give ring, dspacing and wavelength");
  const py::object angles = tth.is_none()
                                ? py::object(ring_angles(rings.rings))
                                : py::reinterpret_borrow<py::object>(tth);
  const Points p = points(angles, i1, i2, weight);
  const std::array<double, NParams> par = start_values(start);
  bool wavelength_refined = false;
  const std::array<int, NParams> mode =
      parameter_modes(refine_names, keep_names, &wavelength_refined);
  if (wavelength_refined && !rings.given)
    throw py::value_error("refining the wavelength needs the rings of the "
                          "points: give ring, dspacing and wavelength");
  const double stop_deviation = threshold(mindev, "mindev");
  const double accepted_deviation = threshold(maxdev, "maxdev");
  const VaboRobustOptions options = robust_options(reject, method);

  Result result;
  VaboResult &record = result.record;
  vabo_result_set_start(record, par.data(), mode.data());
  record.input = kArraysInput;
  record.has_lines = false;
  const double *angle = p.tth.data(), *c1 = p.i1.data(), *c2 = p.i2.data(),
               *w = p.weights();
  const bool stored = with_library([&] {
    VaboRobustRun run;
    double opt[NParams], dev[NParams], stat[NStats];
    std::vector<double> targets; /* the rings' angles at a refined wavelength */
    if (wavelength_refined &&
        !vabo_rings_refine_wavelength(rings.rings, run, record))
      return false;
    const VaboOptimizeFailure failure = vabo_robust_optimize(
        options, run, opt, dev, stat, par.data(), mode.data(), p.n, angle, c1,
        c2, w, stop_deviation, maxiter, &record.steps);
    if (!vabo_robust_set_result(record, options, run, angle, c1, c2))
      return false;
    const VaboStatus outcome =
        vabo_status(failure, stat[RStdDev], accepted_deviation);
    record.status = outcome.status;
    record.message = outcome.message;
    if (failure == VaboOptimizeOk)
      vabo_result_set_refined(record, opt, dev, stat, &run.normal, p.n, angle,
                              c1, c2, vabo_robust_weights(run, w));
    if (!rings.given) return true;
    /* The points know their rings: the document gains what the program's
     * does with control points. */
    try {
      record.has_fit2d = record.has_rings = record.has_warnings = true;
      result.rings = rings.rings;
      const double *target = angle;
      if (record.refined && wavelength_refined) {
        targets.resize(p.n);
        vabo_rings_take_wavelength(run, p.n, result.rings, record,
                                   targets.data());
        target = targets.data();
      }
      if (record.refined) {
        record.rings =
            vabo_ring_statistics(record.value.data(), p.n, target, c1, c2,
                                 vabo_robust_weights(run, w), result.rings);
        record.warnings = vabo_result_warnings(record, record.rings.size());
      }
      result.has_rings = true;
      result.i1.assign(c1, c1 + p.n);
      result.i2.assign(c2, c2 + p.n);
      result.rejected = run.round;
    } catch (const std::bad_alloc &) {
      return false;
    }
    return true;
  });
  if (!stored) throw std::bad_alloc();
  return result;
}

/* ---- the attributes of Result ---- */

py::array_t<double> vector(const double *values, size_t n)
{
  return py::array_t<double>(static_cast<py::ssize_t>(n), values);
}

/* The result's message (vabo_result_message). */
std::string message(const VaboResult &record)
{
  std::string text = vabo_result_message(record);
  if (text.empty()) throw std::bad_alloc();
  return text;
}

int result_status(const Result &r) { return r.record.status; }
std::string result_message(const Result &r) { return message(r.record); }
int result_steps(const Result &r) { return r.record.steps; }

py::tuple parameter_names(const VaboResult &record, bool refined_only)
{
  const char *const *names = VaboParamNamesArray();
  py::list list;
  for (int p = 0; p < NParams; ++p)
    if (!refined_only || record.mode[p] != 0) list.append(names[p]);
  return py::tuple(list);
}

py::tuple result_names(const Result &r)
{
  return parameter_names(r.record, false);
}
py::tuple result_refined(const Result &r)
{
  return parameter_names(r.record, true);
}

py::array_t<double> result_start(const Result &r)
{
  return vector(r.record.start.data(), NParams);
}

py::object result_values(const Result &r)
{
  if (!r.record.refined) return py::none();
  return vector(r.record.value.data(), NParams);
}

py::object result_deviations(const Result &r)
{
  if (!r.record.refined) return py::none();
  return vector(r.record.deviation.data(), NParams);
}

py::object result_errors(const Result &r)
{
  if (!r.record.refined) return py::none();
  std::array<double, NParams> error{};
  for (int p = 0; p < NParams; ++p) error[p] = vabo_result_error(r.record, p);
  return vector(error.data(), NParams);
}

/* The covariance or the correlation, nopt x nopt, or None. */
py::object matrix(const VaboResult &record, bool correlation)
{
  if (!vabo_result_has_covariance(record)) return py::none();
  const auto n = static_cast<py::ssize_t>(record.nopt);
  py::array_t<double> m({n, n});
  auto cell = m.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < n; ++i)
    for (py::ssize_t j = 0; j < n; ++j)
      cell(i, j) = correlation ? vabo_result_correlation(record, i, j)
                               : vabo_result_covariance(record, i, j);
  return m;
}

py::object result_covariance(const Result &r)
{
  return matrix(r.record, false);
}
py::object result_correlation(const Result &r)
{
  return matrix(r.record, true);
}

py::object result_statistics(const Result &r)
{
  if (!r.record.refined) return py::none();
  py::dict section;
  for (int k = 0; k < NStats; ++k) {
    /* The counts as integers, as the JSON document writes them. */
    unsigned long long count = 0;
    if (vabo_result_count(r.record, k, &count))
      section[VaboStatNames[k]] = count;
    else
      section[VaboStatNames[k]] = r.record.stat[k];
  }
  return section;
}

py::object result_beam(const Result &r)
{
  if (!r.record.refined) return py::none();
  py::dict section;
  for (int k = 0; k < NParams; ++k)
    section[VaboBeamNames[k]] = r.record.has_beam[k]
                                    ? py::object(py::float_(r.record.beam[k]))
                                    : py::object(py::none());
  return section;
}

/* The program's three result lines (refined values, deviations,
 * statistics) without the last line end; the message when the refinement
 * failed. */
std::string result_lines(const Result &r)
{
  const VaboResult &record = r.record;
  if (!record.refined) return message(record);
  std::string lines = vabo_result_lines(record);
  if (lines.empty()) throw std::bad_alloc();
  lines.pop_back();
  return lines;
}

py::object to_dict(const Result &result)
{
  const std::string document = vabo_result_json(result.record);
  if (document.empty()) throw std::bad_alloc();
  return py::module_::import("json").attr("loads")(document);
}

/* Fit2D's geometry of the refined values as pyFAI's getFit2D gives it, or
 * None (not refined, or the beam misses the detector). */
py::object result_fit2d(const Result &r)
{
  VaboFit2D f;
  if (!r.record.refined ||
      !vabo_fit2d_from_parameters(r.record.value.data(), &f))
    return py::none();
  return fit2d_dict(f);
}

/* The residuals per ring, or None when the points know no rings. */
py::object result_rings(const Result &r)
{
  if (!r.has_rings) return py::none();
  py::list list;
  for (const VaboRingStat &s : r.record.rings) {
    py::dict d;
    d["ring"] = s.ring;
    d["d"] = s.d;
    d["tth"] = s.two_theta;
    d["points"] = s.points;
    d["mean"] = s.mean;
    d["rms"] = s.rms;
    d["mean_pixels"] = s.mean_pixels;
    d["rms_pixels"] = s.rms_pixels;
    list.append(d);
  }
  return list;
}

/* The refined wavelength and its standard error (m), or None when it was
 * not refined. */
py::object result_wavelength(const Result &r)
{
  if (!r.record.wavelength_refined || !r.record.refined) return py::none();
  return py::make_tuple(r.record.wavelength,
                        vabo_result_error(r.record, NParams));
}

/* What a reader of the result should be told. */
py::list result_warnings(const Result &r)
{
  py::list list;
  const std::vector<std::string> warnings =
      r.record.has_warnings ? r.record.warnings
      : r.record.refined    ? vabo_result_warnings(r.record, 0)
                            : std::vector<std::string>();
  for (const std::string &w : warnings) list.append(w);
  return list;
}

/* Writes text to the file path (str or path-like), raising OSError. */
void write_file(py::handle path, const std::string &text)
{
  const py::object file = py::module_::import("os").attr("fspath")(path);
  const std::string name = file.cast<std::string>();
  if (name.find('\0') != std::string::npos)
    throw py::value_error("path has an embedded null byte");
  int error = 0;
  {
    py::gil_scoped_release release;
    error = vabo_write_text(name.c_str(), text);
  }
  if (error != 0) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file.ptr());
    throw py::error_already_set();
  }
}

void to_npt(const Result &result, py::handle path)
{
  if (!result.has_rings)
    throw py::value_error("the points know no rings: give ring, dspacing "
                          "and wavelength to refine");
  std::string text, error;
  if (!vabo_rings_npt_text(result.i1.size(), result.i1.data(), result.i2.data(),
                           result.rejected.size() == result.i1.size()
                               ? result.rejected.data()
                               : nullptr,
                           result.rings, &text, &error)) {
    if (error.empty()) throw std::bad_alloc();
    throw py::value_error(error);
  }
  write_file(path, text);
}

/* The sigma clipping as the dictionary's "rejection", or None without
 * reject=. */
py::object result_rejection(const Result &r)
{
  if (!r.record.has_rejection) return py::none();
  return to_dict(r)["rejection"];
}

void to_poni(const Result &result, py::handle path, py::handle wavelength)
{
  if (!result.record.refined)
    throw py::value_error("no refined geometry to write: " +
                          message(result.record));
  VaboResult record = result.record;
  if (!wavelength.is_none()) {
    const double w = number_or_expression(wavelength, "wavelength");
    if (!(w > 0.0) || !std::isfinite(w))
      throw py::value_error("wavelength is " + number_text(w) +
                            " m, not a positive length");
    record.has_wavelength = true;
    record.wavelength = w;
  }
  const std::string text = vabo_result_poni(record);
  if (text.empty()) throw std::bad_alloc();
  write_file(path, text);
}

std::string result_repr(const Result &result)
{
  return "<vabo.Result status=" + std::to_string(result.record.status) +
         " steps=" + std::to_string(result.record.steps) + ": " +
         message(result.record) + ">";
}

constexpr const char *kRefineDoc =
    R"doc(refine(tth, i1, i2, start, weight=None, refine=None, keep=None, maxiter=100, mindev=1e-07, maxdev=0.01745329252, reject=None, method="gn", ring=None, dspacing=None, wavelength=None)

Refine a detector geometry from calibration points.

The refinement of the vabo program (weighted Gauss-Newton least squares),
on arrays instead of a file: the same points and start values give the
same numbers, bit for bit.

Parameters
----------
tth : array_like
    Scattering angles TwoTheta of the points, rad.  One dimension, real
    numbers of any float or integer dtype (converted to float64 once; an
    array that is float64 and contiguous is used as it is), all finite.
i1, i2 : array_like
    Pixel coordinates of the points along the first and the second image
    axis, as tth and of its length.
start : sequence of 8 numbers or str
    Start values of pix1 pix2 (m), cen1 cen2 (pixels), dis (m), rot1 rot2
    rot3 (rad), each a number or an expression ("75_um", "20_cm",
    "-2_deg").
weight : array_like, optional
    Weights of the points, >= 0, as tth (default: 1 each).
refine, keep : str or iterable of str, optional
    Names of parameters to refine and to keep constant, changing the
    defaults: cen1 cen2 dis rot1 rot2 refined, pix1 pix2 rot3 kept.
    "wavelength" (kept by default) refines the wavelength with the
    geometry, when the points know their rings (ring=).
maxiter : int, optional
    Largest number of steps (100).
mindev : float or str, optional
    The refinement stops when the standard deviation of the residuals
    (rad) is at or below it (1e-7).
maxdev : float or str, optional
    Largest accepted final standard deviation, rad (0.01745329252, the
    program's default: one degree to eleven digits, "1_deg" in its usage).
reject : float or str, optional
    Sigma clipping, as the program's reject=K: after the refinement, the
    points whose residual lies more than K robust standard deviations from
    the median get weight 0 and the refinement runs again, until a round
    rejects nothing (at most 10 rounds, never more than half the points).
    None (the default): no clipping.
method : {"gn", "lm"}, optional
    "gn" Gauss-Newton (the default), "lm" Levenberg-Marquardt damping, as
    the program's method=.
ring : array_like of int, optional
    The ring of each point, an index into dspacing (as a control-point
    file numbers them, from 0).  With it tth may be None: each point then
    lies at its ring's angle 2 asin(wavelength / 2d).  The result then
    has rings and can be written with to_npt.
dspacing : array_like, optional
    The d-spacing of each ring, m (vabo.calibrant(...).d).
wavelength : float or str, optional
    The wavelength, m or an expression ("0.72932_Ao"); needed with ring.
    With "wavelength" in refine it is the start of the wavelength's
    refinement: the points' targets follow it.

Returns
-------
Result
    status 0 with the refined geometry; 65 when the final standard
    deviation exceeds maxdev (the geometry is there all the same); 33 when
    the refinement failed (the normal equations cannot be solved): then
    only the start values and the steps are known.

Raises
------
ValueError
    Columns of different lengths, no points, a value that is not finite, a
    negative weight, not 8 start values, an unknown parameter name, a
    reject that is not a positive finite factor, an unknown method.
TypeError
    A column that does not hold real numbers, a start value that is
    neither a number nor a text.
ExpressionError
    A start value, mindev, maxdev or reject that is not an expression.

Notes
-----
The call releases the GIL while it refines.  The library is
single-threaded: refinements from several threads run one after the
other.
)doc";

constexpr const char *kResultDoc =
    R"doc(The result of `refine`, as the vabo program reports it.

Attributes
----------
status : int
    0 success, 33 refinement failed, 65 final deviation above maxdev: the
    program's exit status.
message : str
    The program's text for the status ("succesfully completed", spelled
    as the program spells it), followed by why there are no standard
    errors when the refined result has none.
steps : int
    Refinement steps made.
names : tuple of str
    The parameters, in the order of values, deviations and errors: pix1
    pix2 cen1 cen2 dis rot1 rot2 rot3.
refined : tuple of str
    The refined parameters, in the order of the covariance's rows.
start : numpy.ndarray
    The start values (m, pixels, rad).
values : numpy.ndarray or None
    Refined values; None when the refinement failed.
deviations : numpy.ndarray or None
    The program's partial deviations (its second result line): each from
    its own Jacobian column only; 0 for kept parameters.
errors : numpy.ndarray or None
    Standard errors from the covariance: 0 for kept parameters, NaN
    without a covariance.
covariance, correlation : numpy.ndarray or None
    s2 (J^T W J)^-1 over the refined parameters and its correlations;
    None when there are not more weighted points than refined parameters
    or the normal matrix is singular.
statistics : dict or None
    stdev, mindev, maxdev (rad), total weight, ndata, nopt.
beam : dict or None
    The beam parameters by name (pix1 pix2 beam_center1 beam_center2
    beam_distance tilt1 tilt2 tilt3), None for those that cannot be
    derived.
rejection : dict or None
    With reject: k, end ("settled", "round limit" or "half guard"), rounds
    (median, scale, candidates, rejected, kept, stdev of each) and points,
    every rejected point with its array index, angle, i1, i2, residual and
    the round that rejected it.  The statistics, errors and covariance are
    then over the kept points.  None without reject.
fit2d : dict or None
    The refined geometry as pyFAI's Geometry.getFit2D() gives it:
    directDist (mm), centerX (along i2) and centerY (along i1) in pixels
    from the detector's corner (pixel centre i at i + 0.5), tilt and
    tiltPlanRotation (degrees), pixelX and pixelY (um).
rings : list of dict or None
    With ring: per ring with points its ring, d (m), tth (rad), points and
    the weighted mean and RMS residual in rad (mean, rms) and in pixels at
    that ring (mean_pixels, rms_pixels).  None without ring.
wavelength : tuple of float or None
    With "wavelength" in refine: the refined wavelength and its standard
    error (m); to_dict() has it among the parameters and in the covariance
    (last).  None otherwise.
warnings : list of str
    Refined parameters correlated beyond 0.999, a pixel size refined with
    the distance, a wavelength refined on fewer than three rings; empty when
    all is well.

str(result) gives the program's three result lines.
)doc";

constexpr const char *kToPoniDoc = R"doc(to_poni(path, wavelength=None)

Write the refined geometry as a PONI file (version 2).

As the program's poni= option writes it, for pyFAI and the programs built
on it: distance, point of normal incidence in m from the corner of the
first pixel, rotations, pixel sizes.

Parameters
----------
path : str or os.PathLike
    The file, replaced if it exists.
wavelength : float or str, optional
    Wavelength in m, or an expression ("0.72932_Ao"); written when given.

Raises
------
ValueError
    The refinement failed (no geometry), or the wavelength is not a
    positive finite length.
OSError
    The file cannot be written.
)doc";

constexpr const char *kToNptDoc = R"doc(to_npt(path)

Write the points of the fit as a pyFAI control-point file.

Grouped by ring, with the d-spacings and the wavelength; points rejected
by reject are left out.  pyFAI's ControlPoints reads it.

Parameters
----------
path : str or os.PathLike
    The file to write (replaced).

Raises
------
ValueError
    The refinement was not given ring, dspacing and wavelength.
OSError
    The file cannot be written.
)doc";

constexpr const char *kToDictDoc = R"doc(to_dict()

The result as a dict: the document of the program's json= option.

Keys program, version, arguments (empty), input ("(arrays)"), status,
message, parameters (value, unit, refined, start, deviation, error of
each), statistics, steps, covariance and correlation (names and matrix),
beam and poni; None where the program writes null.
)doc";

} // namespace

std::array<double, NParams> refine_start_values(py::handle start)
{
  return start_values(start);
}

std::array<int, NParams>
refine_parameter_modes(py::handle refine, py::handle keep, bool *wavelength)
{
  return parameter_modes(refine, keep, wavelength);
}

void result_set_start(py::handle result,
                      const std::array<double, NParams> &start)
{
  py::cast<Result &>(result).record.start = start;
}

void bind_refine(py::module_ &m)
{
  py::class_<Result>(m, "Result", kResultDoc)
      .def_property_readonly("status", &result_status,
                             "0 success, 33 refinement failed, 65 final "
                             "deviation above maxdev.")
      .def_property_readonly("message", &result_message,
                             "The program's text for the status.")
      .def_property_readonly("steps", &result_steps, "Refinement steps made.")
      .def_property_readonly("names", &result_names,
                             "The eight parameter names, pix1 ... rot3.")
      .def_property_readonly("refined", &result_refined,
                             "The refined parameters' names.")
      .def_property_readonly("start", &result_start,
                             "Start values (m, pixels, rad).")
      .def_property_readonly("values", &result_values,
                             "Refined values, or None after a failure.")
      .def_property_readonly("deviations", &result_deviations,
                             "The program's partial deviations, or None.")
      .def_property_readonly("errors", &result_errors,
                             "Standard errors from the covariance, or None.")
      .def_property_readonly("covariance", &result_covariance,
                             "Covariance over `refined`, or None.")
      .def_property_readonly("correlation", &result_correlation,
                             "Correlation over `refined`, or None.")
      .def_property_readonly("statistics", &result_statistics,
                             "stdev mindev maxdev total ndata nopt, or None.")
      .def_property_readonly("beam", &result_beam,
                             "Beam parameters by name, or None.")
      .def_property_readonly("rejection", &result_rejection,
                             "The sigma clipping of reject=, or None.")
      .def_property_readonly("fit2d", &result_fit2d,
                             "Fit2D's geometry (pyFAI's getFit2D keys), or "
                             "None.")
      .def_property_readonly("rings", &result_rings,
                             "Residuals per ring (with ring=), or None.")
      .def_property_readonly("wavelength", &result_wavelength,
                             "(refined wavelength, its standard error) in m "
                             "when refine named it, else None.")
      .def_property_readonly("warnings", &result_warnings,
                             "What the reader should be told (list of str).")
      .def("to_npt", &to_npt, py::arg("path"), kToNptDoc)
      .def("to_poni", &to_poni, py::arg("path"),
           py::arg("wavelength") = py::none(), kToPoniDoc)
      .def("to_dict", &to_dict, kToDictDoc)
      .def("__str__", &result_lines, "The program's three result lines.")
      .def("__repr__", &result_repr);

  m.def("refine", &refine, py::arg("tth"), py::arg("i1"), py::arg("i2"),
        py::arg("start"), py::arg("weight") = py::none(),
        py::arg("refine") = py::none(), py::arg("keep") = py::none(),
        py::arg("maxiter") = VaboDefaultMaxIter,
        py::arg("mindev") = VaboDefaultMinDev,
        py::arg("maxdev") = VaboDefaultMaxDev, py::arg("reject") = py::none(),
        py::arg("method") = "gn", py::arg("ring") = py::none(),
        py::arg("dspacing") = py::none(), py::arg("wavelength") = py::none(),
        kRefineDoc);
}

} // namespace vabo_python
