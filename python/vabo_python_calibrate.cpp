/*
 * vabo_python_calibrate.cpp -- the image end in the Python module:
 * vabo.pick (the points of a calibrant's rings on an image, from a
 * geometry) and vabo.calibrate (from an image to a Result, as the
 * program's image= gives it).
 *
 * An image is a path (read as the program reads it, vabo_image.h) or a
 * two-dimensional array; the calibrant a name or a d-spacing file
 * (vabo_calibrant.h).  calibrate runs the library's loop
 * (vabo_calibrate.h) and then the last refinement through vabo.refine on
 * the points it settled on, as the program does, so that the numbers are
 * the program's.
 */
#include "vabo_python.h"

#include "vabo_calibrant.h"
#include "vabo_calibrate.h"
#include "vabo_image.h"
#include "vabo_pick.h"

#include <pybind11/numpy.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vabo_python {

namespace {

/* The text of a path argument, or empty when value is no path. */
bool path_argument(py::handle value, std::string *text)
{
  if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) &&
      !py::hasattr(value, "__fspath__"))
    return false;
  *text = py::module_::import("os").attr("fsdecode")(value).cast<std::string>();
  return true;
}

/* Raises the reader's one line: OSError when the system refused the file,
 * ValueError otherwise. */
[[noreturn]] void raise_reader_error(const std::string &error)
{
  PyErr_SetString(error.find(": cannot open: ") != std::string::npos
                      ? PyExc_OSError
                      : PyExc_ValueError,
                  error.c_str());
  throw py::error_already_set();
}

using Pixels = py::array_t<float, py::array::c_style | py::array::forcecast>;

/* The image of image (a path or a 2-D array) and mask (None, a path, or an
 * array of the image's shape whose non-zero values are invalid).  An
 * array's pixels that are not finite or negative are invalid, as the
 * readers mark them. */
VaboImage image_argument(py::handle image, py::handle mask)
{
  VaboImage out;
  std::string path, mask_path, error;
  if (path_argument(image, &path)) {
    /* A mask file is read with the image, in less memory. */
    const bool mask_file = path_argument(mask, &mask_path);
    if (!with_library([&] {
          return vabo_read_masked_image(path.c_str(),
                                        mask_file ? mask_path.c_str() : nullptr,
                                        out, &error);
        }))
      raise_reader_error(error);
    if (mask_file) return out;
  } else {
    const Pixels pixels = Pixels::ensure(image);
    if (!pixels || pixels.ndim() != 2)
      throw py::type_error("image must be a path or a two-dimensional array");
    out.rows = static_cast<size_t>(pixels.shape(0));
    out.columns = static_cast<size_t>(pixels.shape(1));
    const size_t n = out.rows * out.columns;
    out.pixels.assign(pixels.data(), pixels.data() + n);
    out.invalid.resize(n);
    for (size_t i = 0; i < n; ++i)
      out.invalid[i] =
          !(out.pixels[i] >= 0.0f) || !std::isfinite(out.pixels[i]);
  }
  if (mask.is_none()) return out;
  if (path_argument(mask, &path)) {
    if (!with_library(
            [&] { return vabo_apply_mask(out, path.c_str(), &error); }))
      raise_reader_error(error);
    return out;
  }
  const py::array_t<double, py::array::c_style | py::array::forcecast> marks =
      py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(
          mask);
  if (!marks || marks.ndim() != 2 ||
      static_cast<size_t>(marks.shape(0)) != out.rows ||
      static_cast<size_t>(marks.shape(1)) != out.columns)
    throw py::value_error("mask must have the image's shape (" +
                          std::to_string(out.rows) + ", " +
                          std::to_string(out.columns) + ")");
  for (size_t i = 0; i < out.pixels.size(); ++i)
    if (marks.data()[i] != 0) out.invalid[i] = 1;
  return out;
}

VaboCalibrant calibrant_argument(py::handle calibrant)
{
  std::string name, error;
  if (!path_argument(calibrant, &name))
    throw py::type_error("calibrant must be a name or a d-spacing file");
  VaboCalibrant out;
  if (!vabo_calibrant_load(name.c_str(), VaboCalibrantAllRings, out, &error))
    throw py::value_error(error);
  return out;
}

double wavelength_argument(py::handle wavelength)
{
  const double w = number_or_expression(wavelength, "wavelength");
  if (!(w > 0.0) || !std::isfinite(w))
    throw py::value_error("wavelength is not a positive length");
  return w;
}

py::array_t<double> column(const std::vector<double> &values)
{
  return py::array_t<double>(static_cast<py::ssize_t>(values.size()),
                             values.data());
}

py::dict pick(py::handle image, py::handle calibrant, py::handle wavelength,
              py::handle start, py::handle mask)
{
  const VaboImage picture = image_argument(image, mask);
  const VaboCalibrant rings_of = calibrant_argument(calibrant);
  const double lambda = wavelength_argument(wavelength);
  const std::array<double, NParams> par = refine_start_values(start);
  std::vector<VaboPickRing> rings = vabo_calibrate_rings(rings_of, lambda);
  /* Each ring searched as far as the picker goes: up to half the distance
   * to its neighbours. */
  for (VaboPickRing &ring : rings)
    ring.search = std::numeric_limits<double>::infinity();
  VaboPickResult result;
  std::string error;
  if (!with_library([&] {
        return vabo_pick(picture, par.data(), rings.data(), rings.size(),
                         result, &error);
      }))
    throw py::value_error(error);
  std::vector<double> tth, i1, i2, weight, sigma, azimuth;
  std::vector<long long> ring;
  for (const VaboPickPoint &p : result.points) {
    tth.push_back(p.two_theta);
    i1.push_back(p.i1);
    i2.push_back(p.i2);
    weight.push_back(p.weight);
    sigma.push_back(p.sigma);
    azimuth.push_back(p.azimuth);
    ring.push_back(p.ring);
  }
  py::dict d;
  d["tth"] = column(tth);
  d["i1"] = column(i1);
  d["i2"] = column(i2);
  d["weight"] = column(weight);
  d["sigma"] = column(sigma);
  d["azimuth"] = column(azimuth);
  d["ring"] = py::array_t<long long>(static_cast<py::ssize_t>(ring.size()),
                                     ring.data());
  return d;
}

py::object calibrate(py::handle image, py::handle calibrant,
                     py::handle wavelength, py::handle start, py::handle mask,
                     py::handle refine, py::handle keep, int maxiter)
{
  const VaboImage picture = image_argument(image, mask);
  const VaboCalibrant rings_of = calibrant_argument(calibrant);
  const double lambda = wavelength_argument(wavelength);
  const std::array<double, NParams> par = refine_start_values(start);
  bool wavelength_refined = false;
  const std::array<int, NParams> modes =
      refine_parameter_modes(refine, keep, &wavelength_refined);
  const std::vector<VaboPickRing> rings =
      vabo_calibrate_rings(rings_of, lambda);
  VaboCalibrateOptions options;
  std::copy(modes.begin(), modes.end(), options.modes);
  options.maxiter = maxiter;
  VaboCalibrateResult result;
  const int status = with_library([&] {
    return vabo_calibrate(picture, par.data(), rings.data(), rings.size(),
                          options, result);
  });
  if (status != VaboCalibrateOk)
    throw py::value_error("calibration failed: " +
                          (result.reason.empty()
                               ? std::string(vabo_calibrate_status_text(status))
                               : result.reason));
  VaboCalibrateTables tables;
  if (!vabo_calibrate_tables(result, tables)) throw std::bad_alloc();
  std::vector<double> spacing;
  for (const VaboRing &r : rings_of.rings) spacing.push_back(r.d);
  py::list reached;
  for (double value : result.Par) reached.append(value);
  py::object refined = py::module_::import("vabo").attr("refine")(
      column(tables.angle), column(tables.i1), column(tables.i2), reached,
      py::arg("weight") = column(tables.weight), py::arg("refine") = refine,
      py::arg("keep") = keep, py::arg("maxiter") = maxiter,
      py::arg("ring") = py::array_t<int>(
          static_cast<py::ssize_t>(tables.ring.size()), tables.ring.data()),
      py::arg("dspacing") = column(spacing), py::arg("wavelength") = lambda);
  result_set_start(refined, par);
  return refined;
}

constexpr const char *kPickDoc =
    R"doc(pick(image, calibrant, wavelength, start, mask=None)

Find the rings of a calibrant on a detector image, from a geometry.

From the geometry each ring is predicted on the detector and its
intensity maximum across the ring is sought at closely spaced azimuths,
with a sub-pixel position; invalid pixels and peaks that do not stand out
of the local background and noise are skipped.  No refinement.

Parameters
----------
image : str, os.PathLike or array_like
    A file (TIFF, EDF, CBF, or HDF5 as "file::/dataset[n]"), read as the
    program reads it, or a two-dimensional array (rows = i1); pixels that
    are negative or not finite are invalid.
calibrant : str
    A built-in calibrant ("LaB6", "CeO2", "Si", "Al2O3", "Au", "Ni",
    "AgBh") or a d-spacing file.
wavelength : float or str
    m, or an expression ("0.72932_Ao").
start : sequence of 8 numbers or str
    The geometry: pix1 pix2 cen1 cen2 dis rot1 rot2 rot3.
mask : str, os.PathLike or array_like, optional
    A mask file or array of the image's shape; non-zero is invalid.

Returns
-------
dict
    numpy arrays tth (the ring's angle, rad), i1, i2 (pixels), weight
    (rad^-2: the inverse variance of the point's angle), sigma (the
    position's standard error across the ring, pixels), azimuth (rad) and
    ring (the index among the calibrant's rings).

Raises
------
OSError
    The file cannot be opened.
ValueError
    A file that is not an image of these formats, a mask of another
    shape, an unknown calibrant, a bad wavelength or start value.
)doc";

constexpr const char *kCalibrateDoc =
    R"doc(calibrate(image, calibrant, wavelength, start, mask=None, refine=None, keep=None, maxiter=100)

Calibrate a detector geometry from an image of a calibrant.

Picks the rings from the start geometry (the inner ones first), refines
with sigma clipping, and picks again from the refined geometry, adding
rings further out as the geometry earns them, until the points stop
changing; then refines once more from there as `refine` does.  The same
numbers as the program's image=.

Parameters
----------
image, calibrant, wavelength, start, mask
    As for `pick`.
refine, keep : str or iterable of str, optional
    As for `refine` ("wavelength" refines it in the last refinement).
maxiter : int, optional
    Steps of each refinement (100).

Returns
-------
Result
    As `refine` gives it, with rings and to_npt; start is the given start.

Raises
------
ValueError
    As `pick`, and "calibration failed: <reason>" when no geometry that
    explains the image was found (the program's exit status 33).
)doc";

} // namespace

void bind_calibrate(py::module_ &m)
{
  m.def("pick", &pick, py::arg("image"), py::arg("calibrant"),
        py::arg("wavelength"), py::arg("start"), py::arg("mask") = py::none(),
        kPickDoc);
  m.def("calibrate", &calibrate, py::arg("image"), py::arg("calibrant"),
        py::arg("wavelength"), py::arg("start"), py::arg("mask") = py::none(),
        py::arg("refine") = py::none(), py::arg("keep") = py::none(),
        py::arg("maxiter") = 100, kCalibrateDoc);
}

} // namespace vabo_python
