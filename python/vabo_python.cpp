/*
 * vabo_python.cpp -- the Python module vabo: its entry, its lock and its
 * exception vabo.ExpressionError.
 *
 * PYBIND11_MODULE creates the module, the exception class (a ValueError
 * whose attributes carry the library's error value, its text and the
 * position where reading stopped) and the translator that raises it from
 * ExpressionFailure, then lets each part define its functions.  The parts:
 * vabo_python_numbers.cpp, vabo_python_refine.cpp,
 * vabo_python_calibrant.cpp, vabo_python_peers.cpp,
 * vabo_python_image.cpp and vabo_python_calibrate.cpp.
 */
#include "vabo_python.h"

#include <exception>

namespace vabo_python {

std::mutex &library_mutex()
{
  static std::mutex mutex;
  return mutex;
}

namespace {

/* The class vabo.ExpressionError, made once when the module is imported and
 * kept for the life of the process (as the module keeps it). */
PyObject *expression_error_type = nullptr;

constexpr const char *kExpressionErrorDoc =
    "A text that is not an expression vabo can read, or a number that cannot\n"
    "be written in the unit asked for.\n"
    "\n"
    "A subclass of ValueError.\n"
    "\n"
    "Attributes\n"
    "----------\n"
    "errval : int\n"
    "    The expression library's numeric error value, for example 5 for\n"
    "    \"expression is not a float number\" or 17 for \"bad unit\".  Text\n"
    "    after a complete expression gives 2, \"error scanning expression\".\n"
    "errtext : str\n"
    "    The library's text for errval.\n"
    "position : int or None\n"
    "    How many characters of `expression` were read before reading\n"
    "    stopped: the error lies at ``expression[position:]``.  None when\n"
    "    the library does not tell (errors of `vabo.format`).\n"
    "expression : str\n"
    "    The text that was read (for `vabo.format`, the unit).\n";

constexpr const char *kModuleDoc =
    R"doc(Detector geometry refinement and numbers with units.

The Python face of the vabo program and its libraries: every number may be
an expression of vabo's unit-aware language ("50_um", "11_cm", "-22_deg",
"atan2(1,2)"), and the refinement takes numpy arrays and gives the same
numbers as the program.

Functions
---------
value(text)                      the value of an expression, in SI units
format(value, unit, ndigits)     a number as text in a unit
units()                          the table of units and constants
refine(tth, i1, i2, start, ...)  refine a detector geometry -> Result
calibrant(name_or_file, dmin)    a calibrant's rings -> Calibrant
calibrant_names()                the built-in calibrants
read_npt(path)                   pyFAI's control points (rings, i1, i2)
read_poni(path)                  a PONI file's start values
read_fit2d(path)                 a Fit2D geometry file's start values
from_fit2d(...), to_fit2d(v)     Fit2D's geometry to and from vabo's
read_image(source, mask=None)    a detector image -> (pixels, invalid)
pick(image, calibrant, ...)      the points of the rings on an image
calibrate(image, calibrant, ...) from an image to a Result

The libraries are single-threaded: calls from several Python threads run
one after the other (a lock), with the GIL released while they wait and
while they run.
)doc";

/* The exception's message: where, what and the text from the stop on. */
std::string failure_message(const ExpressionFailure &failure)
{
  std::string message;
  if (!failure.context.empty()) message = failure.context + ": ";
  message += failure.errtext + " (error " + std::to_string(failure.errval) +
             ") in '" + failure.expression + "'";
  if (failure.position)
    message += " at position " + std::to_string(*failure.position);
  return message;
}

/* Raises vabo.ExpressionError for an ExpressionFailure. */
void translate_failure(std::exception_ptr thrown)
{
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const ExpressionFailure &failure) {
    py::object type = py::reinterpret_borrow<py::object>(expression_error_type);
    py::object error = type(failure_message(failure));
    error.attr("errval") = failure.errval;
    error.attr("errtext") = failure.errtext;
    error.attr("position") = failure.position
                                 ? py::object(py::int_(*failure.position))
                                 : py::object(py::none());
    error.attr("expression") = failure.expression;
    PyErr_SetObject(expression_error_type, error.ptr());
  }
}

} // namespace

} // namespace vabo_python

PYBIND11_MODULE(vabo, m)
{
  using namespace vabo_python;
  m.doc() = kModuleDoc;
  m.attr("__version__") = VABO_PYTHON_VERSION;

  expression_error_type = PyErr_NewExceptionWithDoc(
      "vabo.ExpressionError", kExpressionErrorDoc, PyExc_ValueError, nullptr);
  if (!expression_error_type) throw py::error_already_set();
  m.attr("ExpressionError") =
      py::reinterpret_borrow<py::object>(expression_error_type);
  py::register_exception_translator(translate_failure);

  /* Each docstring opens with its Python signature, as numpy's do; the
   * generated ones would show C++ types. */
  py::options options;
  options.disable_function_signatures();
  bind_numbers(m);
  bind_refine(m);
  bind_calibrant(m);
  bind_peers(m);
  bind_image(m);
  bind_calibrate(m);
}
