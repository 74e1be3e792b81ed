/*
 * vabo_python_calibrant.cpp -- the calibrants in the Python module:
 * vabo.calibrant, its record vabo.Calibrant, and vabo.calibrant_names.
 *
 * A thin layer over calib/vabo_calibrant.h: the name or path and dmin are
 * converted once, vabo_calibrant_load runs under the library lock, and its
 * rings come back as numpy arrays, d in metres like every length of the
 * module.  A failure is a ValueError carrying the library's one line.
 */
#include "vabo_python.h"

#include "vabo_calibrant.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace vabo_python {

namespace {

/* What vabo.calibrant returns: the calibrant's name and its rings as
 * arrays of equal length n (hkl n x 3), in decreasing order of d. */
struct Calibrant {
  std::string name;
  py::array_t<double> d;                  /* m */
  py::array_t<std::int64_t> multiplicity; /* 0: unknown */
  py::array_t<std::int64_t> hkl;          /* 0 0 0: unknown */
};

/* A library message as Python text: its bytes are UTF-8 where the file's
 * name or line was; any other byte is replaced, never an error. */
py::str message_text(const std::string &message)
{
  PyObject *text = PyUnicode_DecodeUTF8(
      message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (!text) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

Calibrant load_calibrant(py::object name_or_file, py::object dmin_value)
{
  py::object path = py::module_::import("os").attr("fspath")(name_or_file);
  if (!py::isinstance<py::str>(path))
    throw py::type_error(
        "name_or_file must be a str or a path of str, not " +
        std::string(py::str(path.get_type().attr("__name__"))));
  const std::string name = path.cast<std::string>();
  if (name.find('\0') != std::string::npos)
    throw py::value_error("name_or_file has an embedded null byte");
  const double dmin = dmin_value.is_none()
                          ? VaboCalibrantAllRings
                          : number_or_expression(dmin_value, "dmin");
  if (std::isnan(dmin)) throw py::value_error("dmin is not a number");

  VaboCalibrant loaded;
  std::string error;
  const bool ok = with_library(
      [&] { return vabo_calibrant_load(name.c_str(), dmin, loaded, &error); });
  if (!ok) {
    PyErr_SetObject(PyExc_ValueError, message_text(error).ptr());
    throw py::error_already_set();
  }

  const auto n = static_cast<py::ssize_t>(loaded.rings.size());
  Calibrant result{loaded.name, py::array_t<double>(n),
                   py::array_t<std::int64_t>(n),
                   py::array_t<std::int64_t>({n, py::ssize_t{3}})};
  auto d = result.d.mutable_unchecked<1>();
  auto multiplicity = result.multiplicity.mutable_unchecked<1>();
  auto hkl = result.hkl.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < n; ++i) {
    const VaboRing &ring = loaded.rings[static_cast<size_t>(i)];
    d(i) = ring.d;
    multiplicity(i) = ring.multiplicity;
    for (py::ssize_t j = 0; j < 3; ++j) hkl(i, j) = ring.hkl[j];
  }
  return result;
}

std::string calibrant_repr(const Calibrant &c)
{
  std::string repr = "<vabo.Calibrant " +
                     std::string(py::str(py::repr(py::str(c.name)))) + ": " +
                     std::to_string(c.d.size()) + " rings";
  if (c.d.size() > 0) {
    char range[96];
    std::snprintf(range, sizeof range, ", d %.6g to %.6g Angstrom",
                  c.d.at(0) * 1e10, c.d.at(c.d.size() - 1) * 1e10);
    repr += range;
  }
  return repr + ">";
}

constexpr const char *kCalibrantDoc =
    R"doc(calibrant(name_or_file, dmin=None)

A calibrant's rings: a built-in calibrant, or a d-spacing file.

Parameters
----------
name_or_file : str or os.PathLike
    The name of a built-in calibrant, compared without case (see
    `calibrant_names`: LaB6, CeO2, Si, Al2O3, Au, Ni, AgBh), else the path
    of a d-spacing file as pyFAI and Dioptas write them: one d in Angstrom
    per line, "#" starting a comment.  A name is tried first, so a file
    named like a built-in is read only through a path such as "./LaB6".
dmin : float or str, optional
    The shortest d-spacing kept, in metres, or an expression ("0.5_Ao").
    None keeps all rings down to 0.4 Angstrom, where pyFAI's lists of LaB6
    and CeO2 end.  Built-ins need dmin >= 0.1 Angstrom.

Returns
-------
Calibrant
    name : str
        The built-in's name ("LaB6") or the file's name without directory.
    d : numpy.ndarray of float
        The rings' d-spacings in metres, decreasing; equal d-spacings (to
        1e-10 relative) are one ring.
    multiplicity : numpy.ndarray of int
        The number of reflections (h k l) of each ring, Friedel mates
        counted; 0 for the rings of a file.
    hkl : numpy.ndarray of int, shape (n, 3)
        The reflection each ring is labelled with, as in pyFAI's calibrant
        files (for Al2O3, the indices h k l of the hexagonal cell); 0 0 0
        for the rings of a file.

Raises
------
ValueError
    With one line naming the file and line of a malformed d-spacing file
    ("mine.D:3: ..."), a file that cannot be read or holds no d-spacing,
    or "unknown calibrant NAME: ..." when there is neither a built-in nor
    a file of that name; dmin below 0.1 Angstrom for a built-in.
ExpressionError
    When dmin is a text that is no expression.

Examples
--------
>>> lab6 = vabo.calibrant("LaB6")
>>> lab6.d[:2] * 1e10, lab6.hkl[7], lab6.multiplicity[7]
(array([4.156826  , 2.93931985]), array([3, 0, 0]), 30)
)doc";

constexpr const char *kNamesDoc = R"doc(calibrant_names()

The names of the built-in calibrants.

Returns
-------
list of str
    LaB6, CeO2, Si, Al2O3, Au, Ni and AgBh, as `calibrant` names them.
)doc";

constexpr const char *kClassDoc =
    "A calibrant's rings, as vabo.calibrant returns them: name, and the\n"
    "arrays d (m, decreasing), multiplicity and hkl (n x 3) of its rings.\n";

} // namespace

void bind_calibrant(py::module_ &m)
{
  py::class_<Calibrant>(m, "Calibrant", kClassDoc)
      .def_readonly("name", &Calibrant::name, "The calibrant's name.")
      .def_readonly("d", &Calibrant::d, "d-spacings of the rings, m.")
      .def_readonly("multiplicity", &Calibrant::multiplicity,
                    "Reflections per ring; 0: unknown.")
      .def_readonly("hkl", &Calibrant::hkl,
                    "The label (h k l) of each ring, n x 3; 0 0 0: unknown.")
      .def("__len__", [](const Calibrant &c) { return c.d.size(); })
      .def("__repr__", &calibrant_repr);
  m.def("calibrant", &load_calibrant, py::arg("name_or_file"),
        py::arg("dmin") = py::none(), kCalibrantDoc);
  m.def(
      "calibrant_names",
      [] {
        std::vector<std::string> names;
        for (const char *name : vabo_calibrant_names()) names.push_back(name);
        return names;
      },
      kNamesDoc);
}

} // namespace vabo_python
