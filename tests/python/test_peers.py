"""The peers' files from Python: vabo.read_npt, read_poni, read_fit2d,
from_fit2d and to_fit2d, with pyFAI as the oracle where it is installed."""

import math
import os

import numpy
import pytest

import vabo

from conftest import require

NPT = """# written by pyFAI
calibrant: LaB6 Calibrant with 3 reflections at wavelength 1.0332e-10
wavelength: 1.0332e-10
dspacing:4.156826 2.93931985 2.39994461

New group of points: 0
ring: 2
point: x=200.5 y=100.25
point: x=202.0 y=101.0
"""

PONI = """poni_version: 2
Detector: Detector
Detector_config: {"pixel1": 7.5e-05, "pixel2": 8e-05, "max_shape": null}
Distance: 0.1234
Poni1: 0.02
Poni2: 0.03
Rot1: 0.1
Rot2: -0.2
Rot3: 0.3
"""


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return path


def test_read_npt_gives_arrays_in_vabo_axes(tmp_path):
    npt = vabo.read_npt(write(tmp_path, "a.npt", NPT))
    assert npt["calibrant"] == "LaB6"
    assert npt["wavelength"] == 1.0332e-10
    numpy.testing.assert_allclose(npt["dspacing"], [4.156826e-10, 2.93931985e-10,
                                                    2.39994461e-10], rtol=1e-15)
    assert npt["ring"].tolist() == [2, 2]
    assert npt["i1"].tolist() == [100.25, 101.0]  # y, slow axis
    assert npt["i2"].tolist() == [200.5, 202.0]
    assert npt["line"].tolist() == [8, 9]


def test_read_npt_without_wavelength_or_dspacing(tmp_path):
    npt = vabo.read_npt(str(write(tmp_path, "b.npt", "ring: 0\npoint: x=1 y=2")))
    assert npt["wavelength"] is None and npt["dspacing"] is None
    assert npt["calibrant"] == ""


@pytest.mark.parametrize("reader", [vabo.read_npt, vabo.read_poni, vabo.read_fit2d])
def test_readers_raise_value_error_with_file_and_line(tmp_path, reader):
    path = write(tmp_path, "bad.txt", "# comment\nnot a key value line\n")
    with pytest.raises(ValueError) as raised:
        reader(path)
    assert str(raised.value).startswith(str(path) + ":2: ")
    assert "\n" not in str(raised.value)


@pytest.mark.parametrize("reader", [vabo.read_npt, vabo.read_poni, vabo.read_fit2d])
def test_readers_raise_os_error_for_missing_files(tmp_path, reader):
    with pytest.raises(FileNotFoundError) as raised:
        reader(tmp_path / "missing")
    assert raised.value.filename == str(tmp_path / "missing")


def test_read_poni_gives_start_values(tmp_path):
    poni = vabo.read_poni(write(tmp_path, "p.poni", PONI))
    assert poni["start"] == [poni[name] for name in
                             ["pix1", "pix2", "cen1", "cen2", "dis", "rot1", "rot2", "rot3"]]
    assert poni["cen1"] == pytest.approx(0.02 / 7.5e-5 - 0.5, rel=1e-15)
    assert poni["cen2"] == pytest.approx(0.03 / 8e-5 - 0.5, rel=1e-15)
    assert poni["rot2"] == -0.2
    assert poni["wavelength"] is None
    assert poni["version"] == 2 and poni["detector"] == "Detector"


def test_read_poni_refuses_orientation(tmp_path):
    text = PONI.replace("null}", 'null, "orientation": 1}')
    with pytest.raises(ValueError, match=r":3: detector orientation 1"):
        vabo.read_poni(write(tmp_path, "o.poni", text))


def test_fit2d_round_trip_and_file(tmp_path):
    values = [1e-4, 172e-6, 1001.25, 487.5, 0.2385, 0.05, -0.08, 0.0]
    fit2d = vabo.to_fit2d(values)
    assert fit2d["pixelX"] == 172.0 and fit2d["pixelY"] == 100.0
    assert fit2d["splineFile"] is None
    back = vabo.from_fit2d(**fit2d)
    numpy.testing.assert_allclose(back[:7], values[:7], rtol=1e-12, atol=1e-15)
    text = "".join("%s = %r\n" % (k, v) for k, v in fit2d.items() if k != "splineFile")
    read = vabo.read_fit2d(write(tmp_path, "g.fit2d", text))
    numpy.testing.assert_allclose(read["start"], back, rtol=1e-13, atol=1e-15)
    assert read["fit2d"] == pytest.approx(fit2d)


def test_fit2d_untilted_centre_is_half_a_pixel_out():
    values = vabo.from_fit2d(100.0, 20.5, 10.5, pixelX=50.0, pixelY=60.0)
    assert values == pytest.approx([60e-6, 50e-6, 10.0, 20.0, 0.1, 0, 0, 0],
                                   abs=1e-15)
    assert vabo.to_fit2d(["60_um", "50_um", 10, 20, "10_cm", 0, 0, 0])["centerX"] == 20.5


@pytest.mark.parametrize("call", [
    lambda: vabo.from_fit2d(100, 1, 1, tilt=90, pixelX=1, pixelY=1),
    lambda: vabo.from_fit2d(100, 1, 1, pixelX=0, pixelY=1),
    lambda: vabo.from_fit2d(100, 1, 1, pixelX=1, pixelY=1, splineFile="a.spline"),
    lambda: vabo.to_fit2d([1e-4, 1e-4, 1, 1, 0.1, 1.6, 0, 0]),
    lambda: vabo.to_fit2d([1e-4, 1e-4, 1, 1, 0.1]),
])
def test_fit2d_refusals_are_value_errors(call):
    with pytest.raises(ValueError):
        call()


def test_fit2d_agrees_with_pyfai():
    geometry = require("pyFAI.geometry")
    rng = numpy.random.default_rng(7)
    for _ in range(20):
        values = [rng.uniform(50e-6, 200e-6), rng.uniform(50e-6, 200e-6),
                  rng.uniform(0, 2000), rng.uniform(0, 2000), rng.uniform(0.1, 0.5),
                  rng.uniform(-0.3, 0.3), rng.uniform(-0.3, 0.3), rng.uniform(-1, 1)]
        pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = values
        g = geometry.Geometry(dist=dis, poni1=(cen1 + 0.5) * pix1, poni2=(cen2 + 0.5) * pix2,
                              rot1=rot1, rot2=rot2, rot3=rot3, pixel1=pix1, pixel2=pix2)
        theirs = g.getFit2D()
        ours = vabo.to_fit2d(values)
        for key in ["directDist", "centerX", "centerY", "pixelX", "pixelY"]:
            assert ours[key] == pytest.approx(theirs[key], rel=1e-9), key
        for key in ["tilt", "tiltPlanRotation"]:
            assert ours[key] == pytest.approx(theirs[key], abs=1e-9), key


def test_npt_written_by_pyfai_reads_the_same(tmp_path):
    control_points = require("pyFAI.control_points")
    calibrant = require("pyFAI.calibrant").get_calibrant("CeO2")
    calibrant.wavelength = 0.7085e-10
    cp = control_points.ControlPoints(calibrant=calibrant)
    cp.append([[10.5, 20.25], [11.0, 21.0]], ring=1)
    cp.append([[300.125, 400.0625]], ring=4)
    path = str(tmp_path / "c.npt")
    cp.save(path)
    npt = vabo.read_npt(path)
    assert [[a, b, r] for a, b, r in zip(npt["i1"], npt["i2"], npt["ring"])] == cp.getList()
    assert npt["wavelength"] == 0.7085e-10


def test_poni_written_by_pyfai_gives_its_angles(tmp_path):
    azimuthal = require("pyFAI.azimuthalIntegrator")
    detectors = require("pyFAI.detectors")
    ai = azimuthal.AzimuthalIntegrator(dist=0.21, poni1=0.03, poni2=0.04, rot1=0.11,
                                       rot2=-0.07, rot3=0.5,
                                       detector=detectors.Detector(75e-6, 80e-6),
                                       wavelength=1e-10)
    path = str(tmp_path / "p.poni")
    ai.save(path)
    poni = vabo.read_poni(path)
    assert poni["wavelength"] == 1e-10
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = poni["start"]
    assert (cen1 + 0.5) * pix1 == pytest.approx(0.03, rel=1e-15)
    assert (dis, rot1, rot2, rot3) == (0.21, 0.11, -0.07, 0.5)
