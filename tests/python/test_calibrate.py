"""vabo.pick and vabo.calibrate on an image made by pyFAI, against the
program's image= on the same file: the same numbers bit for bit."""

import json
import subprocess

import pytest

import vabo
from conftest import VABO_BINARY, require

START = ["150_um", "150_um", "530", "488", "16.2_cm", "0.018", "-0.02", "0"]


@pytest.fixture(scope="module")
def image(tmp_path_factory):
    """A LaB6 image of a tilted 1024 x 1024 detector, as EDF."""
    numpy = require("numpy")
    pyFAI = require("pyFAI")
    fabio = require("fabio")
    from pyFAI.azimuthalIntegrator import AzimuthalIntegrator
    from pyFAI.calibrant import get_calibrant
    detector = pyFAI.detector_factory(
        "Detector", {"pixel1": 150e-6, "pixel2": 150e-6,
                     "max_shape": (1024, 1024)})
    ai = AzimuthalIntegrator(dist=0.16, poni1=0.0801, poni2=0.0738,
                             rot1=0.021, rot2=-0.017, detector=detector,
                             wavelength=0.72932e-10)
    calibrant = get_calibrant("LaB6_SRM660c")
    calibrant.wavelength = 0.72932e-10
    fwhm = 2 * 150e-6 / 0.16
    rings = calibrant.fake_calibration_image(ai, shape=(1024, 1024), Imax=1,
                                             U=0, V=0, W=fwhm * fwhm)
    counts = numpy.random.default_rng(5).poisson(400 * rings + 60)
    path = tmp_path_factory.mktemp("image") / "lab6.edf"
    fabio.edfimage.EdfImage(data=counts.astype("float32")).write(str(path))
    return path


def test_calibrate_gives_the_programs_numbers(image, tmp_path):
    document = tmp_path / "r.json"
    run = subprocess.run([VABO_BINARY, "image=%s" % image, "calibrant=LaB6",
                          "wavelength=0.72932_Ao", "json=%s" % document]
                         + START, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    program = json.loads(document.read_text())
    result = vabo.calibrate(str(image), "LaB6", "0.72932_Ao", START)
    mine = result.to_dict()
    for key in ("parameters", "statistics", "covariance", "rings", "fit2d"):
        assert mine[key] == program[key], key
    # The array form of the same image gives the same fit.
    pixels, invalid = vabo.read_image(str(image))
    again = vabo.calibrate(pixels, "LaB6", "0.72932_Ao", START, mask=invalid)
    assert (again.values == result.values).all()


def test_pick_finds_the_rings_at_the_true_geometry(image):
    truth = [150e-6, 150e-6, 533.5, 491.5, 0.16, 0.021, -0.017, 0]
    points = vabo.pick(str(image), "LaB6", "0.72932_Ao", truth)
    assert len(points["tth"]) > 500
    assert set(points["ring"]) >= set(range(6))
    assert (points["sigma"] < 0.2).all()


def test_calibration_that_finds_nothing_raises(image):
    with pytest.raises(ValueError, match="calibration failed: "):
        vabo.calibrate(str(image), "LaB6", "0.72932_Ao",
                       START[:2] + ["100", "900"] + START[4:])
