"""vabo.refine with points that know their rings, against the program on
the same control-point file: the same numbers bit for bit, with and
without a refined wavelength, and the control-point file it writes."""

import os

import pytest

import vabo
from conftest import SOURCE_DIR, START, run_program

NPT = os.path.join(SOURCE_DIR, "examples", "points.npt")

CASES = [
    # (id, program options, refine= of Python, wavelength)
    ("fixed wavelength", [], None, None),
    ("refined wavelength", ["wavelength=~0.7_Ao"], "wavelength", "0.7_Ao"),
    ("refined wavelength, lm, reject",
     ["wavelength=~0.73_Ao", "method=lm", "reject=3"], "wavelength",
     "0.73_Ao"),
]


@pytest.mark.parametrize("options, refine, wavelength",
                         [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_rings_give_the_programs_numbers(tmp_path, options, refine,
                                         wavelength):
    status, document = run_program(str(tmp_path), NPT, START, options)
    npt = vabo.read_npt(NPT)
    kwargs = {"refine": refine}
    if "method=lm" in options:
        kwargs.update(method="lm", reject=3)
    result = vabo.refine(None, npt["i1"], npt["i2"], START, ring=npt["ring"],
                         dspacing=npt["dspacing"],
                         wavelength=wavelength or npt["wavelength"], **kwargs)
    mine = result.to_dict()
    assert result.status == status
    for key in ("parameters", "statistics", "covariance", "rings",
                "warnings", "fit2d"):
        assert mine[key] == document[key], key
    if refine:
        assert result.wavelength == (
            document["parameters"]["wavelength"]["value"],
            document["parameters"]["wavelength"]["error"])
        assert document["covariance"]["names"][-1] == "wavelength"


def test_to_npt_writes_the_points_back(tmp_path):
    npt = vabo.read_npt(NPT)
    result = vabo.refine(None, npt["i1"], npt["i2"], START, ring=npt["ring"],
                         dspacing=npt["dspacing"],
                         wavelength=npt["wavelength"])
    path = tmp_path / "back.npt"
    result.to_npt(path)
    again = vabo.read_npt(str(path))
    assert (again["i1"] == npt["i1"]).all() and (again["i2"] == npt["i2"]).all()
    assert (again["ring"] == npt["ring"]).all()
    assert again["wavelength"] == npt["wavelength"]


@pytest.mark.parametrize("kwargs, text", [
    ({"refine": "wavelength"}, "refining the wavelength needs the rings"),
    ({"ring": [0, 0, 0]}, "ring needs dspacing"),
    ({"ring": [0, 0, 0], "dspacing": [4e-10]}, "ring needs wavelength"),
    ({"ring": [0, 1, 0], "dspacing": [4e-10], "wavelength": 1e-10},
     "ring[1] is 1, not an index into dspacing"),
    ({"ring": [0, 0, 0], "dspacing": [4e-10], "wavelength": 9e-10},
     "which wavelength 9e-10 m cannot reach"),
])
def test_ring_arguments_are_checked(kwargs, text):
    with pytest.raises(ValueError, match=text.replace("[", r"\[")):
        vabo.refine([0.1, 0.2, 0.3], [1, 2, 3], [4, 5, 6], START, **kwargs)
