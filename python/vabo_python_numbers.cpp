/*
 * vabo_python_numbers.cpp -- numbers with units in the Python module:
 * vabo.value, vabo.format, vabo.units and the reading of numbers given as
 * expressions (start values, thresholds, the wavelength).
 *
 * Reading is num_str2double, writing num_double2str, the table is the
 * expression library's own list of units and constants; errors become
 * ExpressionFailure (vabo.ExpressionError in Python).
 */
#include "vabo_python.h"

#include "numio.h"
#include "vabo_run.h"

#include <pybind11/stl.h>

#include <cctype>
#include <new>
#include <vector>

namespace vabo_python {

namespace {

/* The library's text of an error value. */
std::string error_text(int errval)
{
  char buffer[64];
  return num_errval2str(buffer, sizeof buffer, errval);
}

/* How many characters (UTF-8 code points) the first nbytes bytes of text
 * hold: the position a Python user counts in. */
size_t characters(const std::string &text, size_t nbytes)
{
  size_t count = 0;
  for (size_t i = 0; i < nbytes && i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++count;
  return count;
}

/* One entry of the units table as units() returns it. */
struct UnitEntry {
  std::string key;
  double value;
  std::optional<std::string> unit;
  std::optional<std::string> quantity;
};

std::optional<std::string> optional_text(const char *text)
{
  if (!text) return std::nullopt;
  return std::string(text);
}

/* The whole units table, head first (descending key order).  The table
 * stores the unit and quantity texts only for entries inserted while the
 * library's debug level is above 0, so the table is built (again: existing
 * keys keep their values and gain the texts) at level 1, which prints
 * nothing, and the level is restored.  Throws std::bad_alloc when the table
 * cannot be built. */
std::vector<UnitEntry> units_table()
{
  return with_library([] {
    const int saved_level = NUMIO_debug;
    numio_debug(1);
    const int status = dpconstant_init();
    numio_debug(saved_level);
    if (status != 0) throw std::bad_alloc();
    std::vector<UnitEntry> entries;
    for (const DPConstant *entry = DPConstantRoot; entry; entry = entry->Next)
      entries.push_back({entry->Key, entry->Value, optional_text(entry->Unit),
                         optional_text(entry->Quantity)});
    return entries;
  });
}

/* value written in unit with ndigits significant digits (num_double2str).
 * Throws ExpressionFailure (context "unit") when it cannot be written. */
std::string format_number(double value, const std::optional<std::string> &unit,
                          int ndigits)
{
  const std::string unit_text = unit.value_or(std::string());
  const size_t nul = unit_text.find('\0');
  if (nul != std::string::npos)
    throw ExpressionFailure{"unit", unit_text, NUM_EUNIT, error_text(NUM_EUNIT),
                            characters(unit_text, nul)};
  /* Room for any number (NUM_FORMAT_BUFLEN), the unit, "_" and "()". */
  std::string buffer(NUM_FORMAT_BUFLEN + unit_text.size() + 4, '\0');
  const int errval = with_library([&] {
    int error = 0;
    if (!num_double2str(buffer.data(), buffer.size(), value,
                        unit ? unit_text.c_str() : nullptr, ndigits, &error) &&
        error == 0)
      error = NUM_EWRITE;
    return error;
  });
  if (errval != 0)
    throw ExpressionFailure{"unit", unit_text, errval, error_text(errval),
                            std::nullopt};
  buffer.resize(buffer.find('\0'));
  return buffer;
}

constexpr const char *kValueDoc = R"doc(value(text)

The value of an expression of vabo's language, in SI units.

The same reading as the program's for every number it reads: units and
constants after "_" ("11_cm" is 0.11, "-22_deg" is -0.3839724354387525),
operators, functions ("atan2(1,2)", "min(3_mm,1_cm)"), conditions.

Parameters
----------
text : str
    One expression; white space around it is allowed, anything else after
    it is an error.

Returns
-------
float
    The value, lengths in m, angles in rad, energies in J and so on.

Raises
------
ExpressionError
    When the text is not one expression: its attributes carry the library's
    error value and text and the position where reading stopped.  Text
    after a complete expression ("2 cm") gives error value 2 at the end of
    the expression.
)doc";

constexpr const char *kFormatDoc = R"doc(format(value, unit=None, ndigits=0)

A number written in a unit, as text that reads back to the same value.

Parameters
----------
value : float
    The number, in SI units.
unit : str, optional
    The unit to write it in, itself an expression ("cm", "deg", "m/s").
    The number is divided by the unit's value and written before it as
    "11_cm", or as "2_(m+1)" where the unit would not bind to the number
    as a whole.  None or "" writes the plain number.
ndigits : int, optional
    Significant digits (the sign is ignored, at most 80); 0 writes six,
    as "%lg" does.

Returns
-------
str
    The text.

Raises
------
ExpressionError
    When the unit cannot be read (its error value), is followed by other
    text (17, "bad unit") or is 0 (10, "division by zero").
)doc";

constexpr const char *kUnitsDoc = R"doc(units()

The table of units and constants that expressions may name.

Returns
-------
list of Unit
    One named tuple (key, value, unit, quantity) per entry, in the
    table's order (descending byte order of the keys, so that the longest
    key that starts a text is found first): key as written after "_",
    value in the SI unit named by unit (a str, or None for pure numbers
    such as "pi"), and what it measures (quantity).  615 entries:
    prefixed units from "Ym" to "ym", "cm2", "keV", physical constants.
)doc";

constexpr const char *kUnitDoc =
    "One entry of the units table (see `units`): key, value, unit, "
    "quantity.";

} // namespace

double read_expression(const std::string &text, const std::string &context)
{
  struct Reading {
    double value;
    int errval;
    size_t stop; /* bytes read */
  };
  const Reading reading = with_library([&text] {
    Reading r{};
    r.value = vabo_whole_expression(text.c_str(), &r.errval, &r.stop);
    return r;
  });
  /* A NUL inside the text ends what the reader sees; the rest follows. */
  int errval = reading.errval;
  if (errval == 0 && text.find('\0') != std::string::npos) errval = NUM_ESCAN;
  if (errval == 0) return reading.value;
  throw ExpressionFailure{context, text, errval, error_text(errval),
                          characters(text, reading.stop)};
}

double number_or_expression(py::handle value, const std::string &what)
{
  if (py::isinstance<py::str>(value))
    return read_expression(value.cast<std::string>(), what);
  if (!PyNumber_Check(value.ptr()))
    throw py::type_error(
        what + " must be a number or an expression text, not " +
        std::string(py::str(value.get_type().attr("__name__"))));
  PyObject *number = PyNumber_Float(value.ptr());
  if (!number) throw py::error_already_set();
  return py::reinterpret_steal<py::float_>(number).cast<double>();
}

void bind_numbers(py::module_ &m)
{
  py::object unit_type =
      py::module_::import("collections")
          .attr("namedtuple")("Unit", "key value unit quantity",
                              py::arg("module") = "vabo");
  unit_type.attr("__doc__") = kUnitDoc;
  m.attr("Unit") = unit_type;

  m.def(
      "value",
      [](const py::str &text) {
        return read_expression(text.cast<std::string>(), std::string());
      },
      py::arg("text"), kValueDoc);
  m.def("format", &format_number, py::arg("value"),
        py::arg("unit") = py::none(), py::arg("ndigits") = 0, kFormatDoc);
  m.def(
      "units",
      [unit_type]() {
        py::list table;
        for (const UnitEntry &entry : units_table())
          table.append(
              unit_type(entry.key, entry.value, entry.unit, entry.quantity));
        return table;
      },
      kUnitsDoc);
}

} // namespace vabo_python
