"""Calibrants from Python: vabo.calibrant and vabo.calibrant_names.

The rings themselves are compared with pyFAI's in check_calibrants.sh; here
the binding: arrays, units, dmin, files and errors.
"""

import pathlib

import numpy
import pytest

import vabo

ANGSTROM = 1e-10


def test_names_are_the_builtins():
    assert vabo.calibrant_names() == ["LaB6", "CeO2", "Si", "Al2O3", "Au",
                                      "Ni", "AgBh"]


def test_builtin_rings_are_arrays_in_metres():
    ceo2 = vabo.calibrant("ceo2")
    assert ceo2.name == "CeO2"
    n = len(ceo2)
    assert ceo2.d.shape == (n,) and ceo2.d.dtype == numpy.float64
    assert ceo2.multiplicity.shape == (n,)
    assert ceo2.hkl.shape == (n, 3)
    assert numpy.all(numpy.diff(ceo2.d) < 0)
    assert ceo2.d[-1] >= 0.4 * ANGSTROM
    a = 5.411651 * ANGSTROM
    squares = (ceo2.hkl ** 2).sum(axis=1)
    numpy.testing.assert_allclose(ceo2.d, a / numpy.sqrt(squares), rtol=1e-15)
    assert ceo2.hkl[:3].tolist() == [[1, 1, 1], [2, 0, 0], [2, 2, 0]]
    assert ceo2.multiplicity[:3].tolist() == [8, 6, 12]


@pytest.mark.parametrize("dmin", [1.2385 * ANGSTROM, "1.2385_Ao"])
def test_dmin_in_metres_or_as_expression(dmin):
    si = vabo.calibrant("Si", dmin=dmin)
    assert si.hkl.tolist() == [[1, 1, 1], [2, 2, 0], [3, 1, 1], [4, 0, 0],
                               [3, 3, 1]]


def test_file_rings_are_sorted_and_merged(tmp_path):
    path = tmp_path / "mine.D"
    path.write_text("# mine\n2.0837 # (2,0,0)\n4.1674\n\n2.0837\n")
    for name in (path, str(path)):
        mine = vabo.calibrant(name)
        assert mine.name == "mine.D"
        numpy.testing.assert_allclose(mine.d, [4.1674e-10, 2.0837e-10],
                                      rtol=1e-15)
        assert mine.multiplicity.tolist() == [0, 0]
        assert mine.hkl.tolist() == [[0, 0, 0], [0, 0, 0]]


@pytest.mark.parametrize("text, message", [
    ("2.1\n-3\n", "bad.D:2: d = -3 is not a positive d-spacing"),
    ("# nothing\n", "bad.D: no d-spacing in the file"),
    ("2.1\n\xe9t\xe9\n", "bad.D:2: '\ufffdt\ufffd' is not a d-spacing"),
])
def test_malformed_file_is_value_error(tmp_path, text, message):
    path = tmp_path / "bad.D"
    path.write_bytes(text.encode("latin-1"))
    with pytest.raises(ValueError) as error:
        vabo.calibrant(path)
    assert str(error.value).startswith(str(path) + message[5:])


def test_unknown_and_bad_arguments():
    with pytest.raises(ValueError, match=r"^unknown calibrant Quartz: .*LaB6"):
        vabo.calibrant("Quartz")
    with pytest.raises(ValueError, match="below"):
        vabo.calibrant("LaB6", dmin=0.01 * ANGSTROM)
    with pytest.raises(ValueError, match="not a number"):
        vabo.calibrant("LaB6", dmin=float("nan"))
    with pytest.raises(vabo.ExpressionError):
        vabo.calibrant("LaB6", dmin="1_xx")
    with pytest.raises(TypeError):
        vabo.calibrant(pathlib.Path("x").as_posix().encode())
