/*
 * vabo_python.h -- pieces shared by the sources of the Python module vabo.
 *
 * The module (vabo_python.cpp) is a thin layer over the C++ libraries:
 * numbers with units (vabo_python_numbers.cpp: value, format, units), the
 * refinement (vabo_python_refine.cpp: refine and its Result, over the
 * calibration library vabo::calib that the program uses too), the
 * calibrants (vabo_python_calibrant.cpp: calibrant and its Calibrant), the
 * peers' files (vabo_python_peers.cpp: control points, PONI, Fit2D) and
 * detector images (vabo_python_image.cpp: read_image).  Its own work is
 * the conversion of Python arguments -- arrays to contiguous float64
 * columns, names to modes, the checks of values that the program reads
 * from text -- and of what comes back into Python objects and exceptions;
 * everything numerical is the libraries'.
 *
 * The libraries keep module state (program registry, units table, debug
 * word) and are single-threaded, so every call into them holds one mutex;
 * the GIL is released while a call waits for the mutex and while it runs,
 * so other Python threads go on meanwhile.
 */
#ifndef VABO_PYTHON_H
#define VABO_PYTHON_H

#include "vabo_base.h"
#include "vabo_fit2d.h"

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

namespace vabo_python {

namespace py = pybind11;

/* The mutex that every call into the libraries holds. */
std::mutex &library_mutex();

/* Runs f() with the GIL released and the library mutex held, and returns
 * what it returns.  f must not touch Python objects.  An exception of f
 * passes on after the mutex has been released and the GIL taken again. */
template <typename F> auto with_library(F &&f)
{
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(library_mutex());
  return f();
}

/* A text that the expression library could not read or write, raised in
 * Python as vabo.ExpressionError with these fields as its attributes. */
struct ExpressionFailure {
  std::string context;    /* what was read ("start value of dis"), or "" */
  std::string expression; /* the text given */
  int errval;             /* the library's numeric error value */
  std::string errtext;    /* its text ("bad unit") */
  std::optional<size_t> position; /* characters read before the stop */
};

/* The value of the expression text, which must be one expression as a
 * whole (white space around it allowed), by the program's rule
 * (vabo_whole_expression).  Throws ExpressionFailure with context when the
 * library reports an error, and with error value 2 ("error scanning
 * expression") at the first character that no expression takes when text
 * follows the expression. */
double read_expression(const std::string &text, const std::string &context);

/* A number given as a Python number or as an expression text: a str is
 * read with read_expression, anything else converted with float().  Throws
 * ExpressionFailure, or py::type_error naming what when it is neither. */
double number_or_expression(py::handle value, const std::string &what);

/* Define the functions and classes of each part in module m. */
/* The conversions of refine's arguments (vabo_python_refine.cpp), which
 * calibrate shares: the eight start values (numbers or expressions), the
 * modes of refine and keep (*wavelength: refine names the wavelength), and
 * the start values a Result reports. */
std::array<double, NParams> refine_start_values(py::handle start);
std::array<int, NParams>
refine_parameter_modes(py::handle refine, py::handle keep, bool *wavelength);
void result_set_start(py::handle result,
                      const std::array<double, NParams> &start);

/* Fit2D's geometry (vabo_fit2d.h) as the dictionary pyFAI's getFit2D
 * returns (vabo_python_peers.cpp). */
py::dict fit2d_dict(const VaboFit2D &fit2d);

void bind_numbers(py::module_ &m);
void bind_refine(py::module_ &m);
void bind_calibrant(py::module_ &m);
void bind_peers(py::module_ &m);
void bind_image(py::module_ &m);
void bind_calibrate(py::module_ &m);

} // namespace vabo_python

#endif
