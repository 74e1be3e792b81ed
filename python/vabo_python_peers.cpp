/*
 * vabo_python_peers.cpp -- the peers' files in the Python module:
 * vabo.read_npt (pyFAI's control points), vabo.read_poni (PONI start
 * values), vabo.read_fit2d, vabo.from_fit2d and vabo.to_fit2d (Fit2D's
 * geometry).
 *
 * Each reader reads the file itself (vabo_text_read_file), so that a file
 * that cannot be read raises OSError with its errno, and parses it with
 * the calibration library's reader in memory; what the reader refuses
 * raises ValueError with its one line "FILE:LINE: what".  Both run with the
 * GIL released and the library mutex held (numbers go through numio).
 */
#include "vabo_python.h"

#include "vabo_base.h"
#include "vabo_fit2d.h"
#include "vabo_npt.h"
#include "vabo_poni.h"
#include "vabo_textfile.h"

#include <pybind11/numpy.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

namespace vabo_python {

/* Fit2D's geometry as the dictionary pyFAI's getFit2D returns. */
py::dict fit2d_dict(const VaboFit2D &f)
{
  py::dict d;
  d["directDist"] = f.directDist;
  d["centerX"] = f.centerX;
  d["centerY"] = f.centerY;
  d["tilt"] = f.tilt;
  d["tiltPlanRotation"] = f.tiltPlanRotation;
  d["pixelX"] = f.pixelX;
  d["pixelY"] = f.pixelY;
  d["splineFile"] = py::none();
  return d;
}

namespace {

/* The file's text and the path as given; raises OSError (errno, strerror,
 * path) when it cannot be read and ValueError when it is too large. */
struct FileText {
  std::string name;
  std::string text;
};

FileText read_file(py::handle path)
{
  const py::object file = py::module_::import("os").attr("fsdecode")(
      py::module_::import("os").attr("fspath")(path));
  FileText f;
  f.name = file.cast<std::string>();
  if (f.name.find('\0') != std::string::npos)
    throw py::value_error("path has an embedded null byte");
  std::string error;
  int os_error = 0;
  const bool ok = with_library([&] {
    return vabo_text_read_file(f.name.c_str(), &f.text, &error, &os_error);
  });
  if (ok) return f;
  if (os_error == 0) throw py::value_error(error);
  errno = os_error;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file.ptr());
  throw py::error_already_set();
}

py::object optional(bool has, double value)
{
  return has ? py::object(py::float_(value)) : py::object(py::none());
}

/* The eight values as a list, and by name into d. */
py::list start_list(const double *start, py::dict *d)
{
  py::list list;
  const char *const *names = VaboParamNamesArray();
  for (int p = 0; p < NParams; ++p) {
    list.append(start[p]);
    (*d)[names[p]] = start[p];
  }
  return list;
}

py::dict read_npt(py::handle path)
{
  const FileText f = read_file(path);
  VaboNpt npt;
  std::string error;
  const bool ok = with_library(
      [&] { return vabo_npt_parse(f.text, f.name.c_str(), &npt, &error); });
  if (!ok) throw py::value_error(error);
  const auto n = static_cast<py::ssize_t>(npt.points.size());
  py::array_t<int> ring(n);
  py::array_t<double> i1(n), i2(n);
  py::array_t<long long> line(n);
  auto r = ring.mutable_unchecked<1>();
  auto a = i1.mutable_unchecked<1>();
  auto b = i2.mutable_unchecked<1>();
  auto l = line.mutable_unchecked<1>();
  for (py::ssize_t k = 0; k < n; ++k) {
    const VaboNptPoint &p = npt.points[static_cast<size_t>(k)];
    r(k) = p.ring;
    a(k) = p.i1;
    b(k) = p.i2;
    l(k) = static_cast<long long>(p.line);
  }
  py::dict d;
  d["calibrant"] = npt.calibrant;
  d["wavelength"] = optional(npt.has_wavelength, npt.wavelength);
  d["dspacing"] = npt.has_dspacing
                      ? py::object(py::array_t<double>(
                            static_cast<py::ssize_t>(npt.dspacing.size()),
                            npt.dspacing.data()))
                      : py::object(py::none());
  d["ring"] = ring;
  d["i1"] = i1;
  d["i2"] = i2;
  d["line"] = line;
  return d;
}

py::dict read_poni(py::handle path)
{
  const FileText f = read_file(path);
  VaboPoni poni;
  std::string error;
  const bool ok = with_library(
      [&] { return vabo_poni_parse(f.text, f.name.c_str(), &poni, &error); });
  if (!ok) throw py::value_error(error);
  py::dict d;
  d["start"] = start_list(poni.start.data(), &d);
  d["wavelength"] = optional(poni.has_wavelength, poni.wavelength);
  d["version"] = poni.version;
  d["detector"] = poni.detector;
  return d;
}

py::dict read_fit2d(py::handle path)
{
  const FileText f = read_file(path);
  VaboFit2DFile file;
  std::string error;
  const bool ok = with_library(
      [&] { return vabo_fit2d_parse(f.text, f.name.c_str(), &file, &error); });
  if (!ok) throw py::value_error(error);
  py::dict d;
  d["start"] = start_list(file.start.data(), &d);
  d["fit2d"] = fit2d_dict(file.fit2d);
  return d;
}

py::list from_fit2d(double directDist, double centerX, double centerY,
                    double tilt, double tiltPlanRotation, double pixelX,
                    double pixelY, py::handle splineFile)
{
  if (!splineFile.is_none())
    throw py::value_error("splineFile must be None: vabo has no distortion "
                          "correction");
  const VaboFit2D f{directDist,       centerX, centerY, tilt,
                    tiltPlanRotation, pixelX,  pixelY};
  double par[NParams];
  if (!vabo_parameters_from_fit2d(f, par))
    throw py::value_error("not a Fit2D geometry: every value must be finite, "
                          "directDist, pixelX and pixelY positive and |tilt| "
                          "below 90 degrees");
  py::dict unused;
  return start_list(par, &unused);
}

py::dict to_fit2d(py::handle values)
{
  if (py::isinstance<py::str>(values) || py::isinstance<py::bytes>(values))
    throw py::type_error("values must be a sequence of 8 numbers, not a text");
  const py::list list(py::reinterpret_borrow<py::object>(values));
  if (list.size() != NParams)
    throw py::value_error("values must have 8 numbers (pix1 pix2 cen1 cen2 "
                          "dis rot1 rot2 rot3), not " +
                          std::to_string(list.size()));
  double par[NParams];
  const char *const *names = VaboParamNamesArray();
  for (int p = 0; p < NParams; ++p)
    par[p] = number_or_expression(list[p], std::string("value of ") + names[p]);
  VaboFit2D f;
  if (!vabo_fit2d_from_parameters(par, &f))
    throw py::value_error("no Fit2D geometry: every value must be finite, "
                          "pix1, pix2 and dis positive, and the beam must "
                          "meet the detector (tilt below 90 degrees)");
  return fit2d_dict(f);
}

constexpr const char *kReadNptDoc = R"doc(read_npt(path)

Read a control-point file of pyFAI (".npt", as pyFAI-calib2 saves it).

Parameters
----------
path : str or os.PathLike
    The file.

Returns
-------
dict
    calibrant : str
        The calibrant's name, "" when the file names none.
    wavelength : float or None
        In m; None when the file gives none.
    dspacing : numpy.ndarray or None
        d-spacing of ring k at index k, in m; None when the file lists none.
    ring : numpy.ndarray of int
        Each point's ring, numbered from 0 as in the file (an index into
        dspacing).
    i1, i2 : numpy.ndarray of float
        Each point's pixel coordinates: i1 the file's y (slow axis, rows),
        i2 its x (fast axis).  Whole numbers are pixel centres in both
        pyFAI and vabo, so the file's numbers are kept as they are.
    line : numpy.ndarray of int
        The line of each point in the file, from 1.

Raises
------
ValueError
    The file is not a control-point file vabo reads; the message is one
    line "PATH:LINE: what is wrong".
OSError
    The file cannot be read.
)doc";

constexpr const char *kReadPoniDoc = R"doc(read_poni(path)

Read a PONI file (versions 1, 2, 2.1 and 3) as start values.

Parameters
----------
path : str or os.PathLike
    The file.

Returns
-------
dict
    start : list of float
        The eight start values in vabo's order (pix1 pix2 cen1 cen2 dis
        rot1 rot2 rot3: m, m, pixel, pixel, m, rad, rad, rad), with
        cen = poni / pixel - 0.5.
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 : float
        The same by name.
    wavelength : float or None
        In m; None when the file gives none.
    version : float
        The file's poni_version.
    detector : str
        Its Detector line, "" without one.

Raises
------
ValueError
    The file is malformed or describes what vabo cannot honour (an
    orientation other than 3, a spline file, parallax, a detector without
    pixel sizes, an unknown version); one line "PATH:LINE: what".
OSError
    The file cannot be read.
)doc";

constexpr const char *kReadFit2dDoc = R"doc(read_fit2d(path)

Read a Fit2D geometry from a "key = value" file as start values.

The keys are those of pyFAI's getFit2D (directDist, centerX, centerY,
tilt, tiltPlanRotation, pixelX, pixelY, splineFile = None), without case;
a bare number is in Fit2D's unit (mm, pixels, degrees, um), an expression
with a unit ("0.2385_m") is converted.

Returns
-------
dict
    start : list of float
        The eight start values in vabo's order, and the same by name.
    fit2d : dict
        The file's numbers in Fit2D's units, keys as getFit2D's.

Raises
------
ValueError
    The file is malformed; one line "PATH:LINE: what".
OSError
    The file cannot be read.
)doc";

constexpr const char *kFromFit2dDoc =
    R"doc(from_fit2d(directDist, centerX, centerY, tilt=0, tiltPlanRotation=0, *, pixelX, pixelY, splineFile=None)

vabo's eight parameters of a Fit2D geometry, as pyFAI's setFit2D sets them.

``vabo.from_fit2d(**geometry.getFit2D())`` takes pyFAI's dictionary as it
is.  The centre is in pyFAI's Fit2D convention, from the detector's
corner: vabo's cen = center - 0.5 without tilt.  rot3 is the rotation that
makes the tilt one about an axis in the detector's plane, as Fit2D means
it (pyFAI 0.21's differs by a slip); it moves no ring.

Parameters
----------
directDist : float
    Sample to the beam centre along the beam, mm.
centerX, centerY : float
    Beam centre along the fast axis i2 and the slow axis i1, pixels.
tilt, tiltPlanRotation : float
    Detector tilt and the rotation of its plane, degrees.
pixelX, pixelY : float
    Pixel sizes along i2 and i1, um.
splineFile : None
    Only None: vabo has no distortion correction.

Returns
-------
list of float
    pix1 pix2 cen1 cen2 dis rot1 rot2 rot3 (m, m, pixel, pixel, m, rad).

Raises
------
ValueError
    A value is not finite, directDist or a pixel size not positive,
    |tilt| 90 degrees or more, or a spline file is given.
)doc";

constexpr const char *kToFit2dDoc = R"doc(to_fit2d(values)

Fit2D's geometry of vabo's eight parameters, as pyFAI's getFit2D gives it.

Parameters
----------
values : sequence of 8 float or str
    pix1 pix2 cen1 cen2 dis rot1 rot2 rot3 (m, m, pixel, pixel, m, rad),
    numbers or expressions.

Returns
-------
dict
    directDist (mm), centerX, centerY (pixels, from the detector's corner:
    a pixel's centre is at its index + 0.5), tilt, tiltPlanRotation
    (degrees, the latter in (-180, 180], 0 without tilt), pixelX, pixelY
    (um) and splineFile (None).  rot3 does not enter.

Raises
------
ValueError
    Not 8 values, a value not finite, a pixel size or the distance not
    positive, or a detector turned 90 degrees or more from the beam.
vabo.ExpressionError
    An expression cannot be read.
)doc";

} // namespace

void bind_peers(py::module_ &m)
{
  m.def("read_npt", &read_npt, py::arg("path"), kReadNptDoc);
  m.def("read_poni", &read_poni, py::arg("path"), kReadPoniDoc);
  m.def("read_fit2d", &read_fit2d, py::arg("path"), kReadFit2dDoc);
  m.def("from_fit2d", &from_fit2d, py::arg("directDist"), py::arg("centerX"),
        py::arg("centerY"), py::arg("tilt") = 0.0,
        py::arg("tiltPlanRotation") = 0.0, py::kw_only(), py::arg("pixelX"),
        py::arg("pixelY"), py::arg("splineFile") = py::none(), kFromFit2dDoc);
  m.def("to_fit2d", &to_fit2d, py::arg("values"), kToFit2dDoc);
}

} // namespace vabo_python
