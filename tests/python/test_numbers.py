"""Numbers with units from Python: vabo.value, vabo.format, vabo.units."""

import math
import os
import subprocess

import pytest

import vabo
from conftest import EXAMPLE, START, VABO_BINARY

# text, value: values the expression language defines (units in SI).
VALUES = [
    ("11_cm", 0.11),
    ("-22_deg", -0.3839724354387525),
    ("  2.385_mm\t", 2.385 * 1e-3),
    ("0.72932_Ao", 0.72932 * 1e-10),
    ("atan2(1,2)", math.atan2(1, 2)),
    ("min(3_mm,1_cm)", 3e-3),
    ("(double)7/2", 3.5),
    ("1<2==1", 1.0),
    ("0?1:2", 2.0),
    ("gamma(5)", 24.0),
    ("1_keV", 1.60217653e-16),
]

# text, error value, position where reading stopped.
ERRORS = [
    ("", 5, 0),
    ("11_xx", 5, 3),
    ("_cm", 12, 1),
    ("2)", 4, 1),
    ("(2", 4, 2),
    ("sin(1", 4, 5),
    ("atan2(1)", 3, 7),
    ("foo(1)", 6, 0),
    ("log(0)", 7, 6),
    ("1/0", 10, 3),
    ("1?2", 2, 3),
    ("2*-3", 5, 2),
    # Text after a complete expression: error 2 where the expression ends.
    ("2 cm", 2, 1),
    ("1<2<3", 2, 3),
    ("1\x002", 2, 1),
    ("(" * 300 + "1" + ")" * 300, 4, None),
]

# The library's texts of the error values above.
ERROR_TEXTS = {
    2: "error scanning expression",
    3: "missing comma in expression",
    4: "bad parenthesis in expression",
    5: "expression is not a float number",
    6: "unknown float function in expression",
    7: "domain error",
    10: "division by zero",
    12: "undefined variable",
    17: "bad unit",
}


@pytest.mark.parametrize("text, expected", VALUES)
def test_value_reads_expressions_with_units(text, expected):
    assert vabo.value(text) == expected


@pytest.mark.parametrize("text, errval, position", ERRORS)
def test_value_raises_the_library_error_and_where_reading_stopped(
        text, errval, position):
    with pytest.raises(vabo.ExpressionError) as caught:
        vabo.value(text)
    error = caught.value
    assert isinstance(error, ValueError)
    assert error.errval == errval
    assert error.errtext == ERROR_TEXTS[errval]
    assert error.expression == text
    if position is not None:
        assert error.position == position
    assert ERROR_TEXTS[errval] in str(error)


def test_value_takes_only_text():
    with pytest.raises(TypeError):
        vabo.value(0.11)


# value, unit, ndigits, text
FORMATS = [
    (0.11, "cm", 0, "11_cm"),
    (4.0, "m+1", 0, "2_(m+1)"),
    (27.8, "m/s", 0, "27.8_m/s"),
    (1 / 3, None, -3, "0.333"),
    (0.5, "", 0, "0.5"),
    (-0.3839724354387525, "deg", 0, "-22_deg"),
]


@pytest.mark.parametrize("value, unit, ndigits, text", FORMATS)
def test_format_writes_in_the_unit(value, unit, ndigits, text):
    assert vabo.format(value, unit, ndigits) == text


def test_format_with_17_digits_reads_back_exactly():
    for value in (0.2035014504609545, -2.385e-7, 1021.1654321987):
        for unit in ("mm", "deg", "um/s"):
            assert vabo.value(vabo.format(value, unit, 17)) == value


@pytest.mark.parametrize("unit, errval", [
    ("cm xyz", 17), ("0", 10), ("foo", 5), ("c\x00m", 17)])
def test_format_raises_for_a_bad_unit(unit, errval):
    with pytest.raises(vabo.ExpressionError) as caught:
        vabo.format(1.0, unit)
    assert (caught.value.errval, caught.value.expression) == (errval, unit)


def test_units_lists_the_table_the_reader_uses(capfd):
    table = vabo.units()
    keys = [entry.key for entry in table]
    assert len(table) == 615
    # Descending byte order, no key twice.
    assert all(a.encode() > b.encode() for a, b in zip(keys, keys[1:]))
    by_key = {entry.key: entry for entry in table}
    assert by_key["km"] == ("km", 1000.0, "m", "length")
    assert by_key["keV"] == ("keV", 1.60217653e-16, "J", "energy")
    assert by_key["pi"] == ("pi", 3.141592653589793, None, "pi number")
    assert by_key["cm3"].unit == "m3" and by_key["cm3"].value == 1e-6
    # Every key reads as its own entry's value.
    assert all(vabo.value("1_" + entry.key) == entry.value for entry in table)
    # Listing the table leaves the library silent.
    assert vabo.units() == table
    assert capfd.readouterr() == ("", "")


# The texts of one value with white space or other text after it: the
# program's options and vabo.value must agree on what follows the value.
FOLLOWING = [
    ("1_Ao", False), (" 1_Ao", False), ("1_Ao ", False), ("1_Ao\t", False),
    ("1_Ao\n", False), ("1_Ao\v", False), ("1_Ao\f", False),
    ("1_Ao\r", False), ("1_Ao \t\r\n", False), ("1_Ao x", True),
    ("1_Ao\u00a0", True), ("1_Ao #", True), ("1_Ao\x1c", True),
]


@pytest.mark.parametrize("text, follows", FOLLOWING)
def test_program_and_value_agree_on_what_follows_a_value(text, follows):
    run = subprocess.run(
        [VABO_BINARY, "input=" + EXAMPLE, "wavelength=" + text] + START,
        capture_output=True, text=True, check=False)
    assert (run.returncode == 1) == follows
    assert ("follows the value" in run.stderr) == follows
    if follows:
        with pytest.raises(vabo.ExpressionError) as raised:
            vabo.value(text)
        assert raised.value.errval == 2
    else:
        assert vabo.value(text) == 1e-10
