#!/usr/bin/env python3
"""The program's image= as a user meets it, on images made by pyFAI.

    image_calibration_check.py VABO SOURCE_DIR

1. A LaB6 image of a tilted 1024 x 1024 detector (pyFAI's
   fake_calibration_image, background, Poisson noise), written by fabio as
   EDF and TIFF and by h5py as a frame of a 3-D HDF5 dataset, calibrated
   from a start a few pixels off: one "pick: round" line per round, exit 0,
   the ring displacement of the refined geometry (its PONI file read by
   pyFAI) below 0.05 pixels, and the JSON's rings.
2. A mask of another shape: one line, exit 1, nothing written.
3. An image without rings and a hopeless start: one line, exit 33,
   nothing written.
4. vabo-plot --image draws the image with the points and rings.
Prints one line per check; exit status 1 when one fails.
"""

import importlib.util
import json
import os
import subprocess
import sys
import tempfile

import fabio
import h5py
import numpy
import pyFAI
from pyFAI.azimuthalIntegrator import AzimuthalIntegrator
from pyFAI.calibrant import get_calibrant

FAILURES = []
SHAPE = (1024, 1024)
PIXEL = 150e-6
WAVELENGTH = 0.72932e-10
TRUTH = dict(dist=0.16, poni1=0.0801, poni2=0.0738, rot1=0.021, rot2=-0.017,
             rot3=0.0)
START = ["150_um", "150_um", "530", "488", "16.2_cm", "0.018", "-0.02", "0"]


def check(ok, what):
    print(("ok     " if ok else "FAILED ") + what)
    if not ok:
        FAILURES.append(what)


def truth():
    detector = pyFAI.detector_factory(
        "Detector", {"pixel1": PIXEL, "pixel2": PIXEL, "max_shape": SHAPE})
    return AzimuthalIntegrator(detector=detector, wavelength=WAVELENGTH,
                               **TRUTH)


def make_image(ai):
    calibrant = get_calibrant("LaB6_SRM660c")
    calibrant.wavelength = WAVELENGTH
    fwhm = 2 * PIXEL / TRUTH["dist"]
    rings = calibrant.fake_calibration_image(ai, shape=SHAPE, Imax=1.0, U=0,
                                             V=0, W=fwhm * fwhm)
    rng = numpy.random.default_rng(5)
    return rng.poisson(400 * rings + 60).astype(numpy.float32)


def displacement(ai, poni):
    """Largest ring displacement (pixels) of the geometry of a PONI file
    over the pixels near the true rings."""
    estimate = pyFAI.load(poni)
    tth_true = ai.twoThetaArray(SHAPE)
    tth = estimate.twoThetaArray(SHAPE)
    g1, g2 = numpy.gradient(tth_true)
    grad = numpy.hypot(g1, g2)
    calibrant = get_calibrant("LaB6_SRM660c")
    calibrant.wavelength = WAVELENGTH
    near = numpy.zeros(SHAPE, bool)
    for t in calibrant.get_2th():
        if t is not None:
            near |= numpy.abs(tth_true - t) < 0.5 * grad
    return float((numpy.abs(tth - tth_true)[near] / grad[near]).max())


def run(vabo, args, cwd):
    return subprocess.run([vabo] + args, cwd=cwd, capture_output=True,
                          text=True)


def calibrations(vabo, source, work, ai, image):
    fabio.edfimage.EdfImage(data=image).write(os.path.join(work, "i.edf"))
    fabio.tifimage.TifImage(data=image).write(os.path.join(work, "i.tif"))
    with h5py.File(os.path.join(work, "i.h5"), "w") as f:
        f["entry/data"] = numpy.stack([image * 0, image])
    for name in ("i.edf", "i.tif", "i.h5::/entry/data[1]"):
        proc = run(vabo, ["image=" + name, "calibrant=LaB6",
                          "wavelength=0.72932_Ao", "poni=o.poni",
                          "json=o.json", "debug=128"] + START, work)
        rounds = [l for l in proc.stderr.splitlines()
                  if l.startswith("pick: round ")]
        ok = proc.returncode == 0 and rounds
        moved = displacement(ai, os.path.join(work, "o.poni")) if ok else -1
        check(ok and moved < 0.05,
              "%s: %d rounds, largest ring displacement %.4f px"
              % (name, len(rounds), moved))
    with open(os.path.join(work, "o.json")) as f:
        rings = json.load(f)["rings"]
    check(len(rings) >= 6 and all(abs(r["mean_pixels"]) < 0.05 for r in rings),
          "json has %d rings, each within 0.05 px" % len(rings))
    if importlib.util.find_spec("vabo") is None:
        print("skip   vabo-plot --image: no Python module in this build")
        return
    plot = subprocess.run(
        [sys.executable, os.path.join(source, "tools", "vabo-plot"),
         "--image", "i.edf", "-o", "p.png"], cwd=work, capture_output=True,
        text=True)
    check(plot.returncode == 0 and os.path.getsize(
        os.path.join(work, "p.png")) > 10000,
        "vabo-plot --image draws the picture (%s)" % plot.stderr.strip())


def failures(vabo, work, image):
    fabio.edfimage.EdfImage(data=image[:512]).write(
        os.path.join(work, "half.edf"))
    blank = numpy.random.default_rng(1).poisson(
        60, SHAPE).astype(numpy.float32)
    fabio.edfimage.EdfImage(data=blank).write(os.path.join(work, "b.edf"))
    cases = [
        ("a mask of another shape", ["image=i.edf", "mask=half.edf"], 1,
         "ERROR: half.edf: mask of 512 x 1024 pixels, the image has "
         "1024 x 1024"),
        ("an image without rings", ["image=b.edf"], 33,
         "ERROR: image=b.edf: "),
        ("a hopeless start", ["image=i.edf", "cen1=0"], 33,
         "ERROR: image=i.edf: "),
    ]
    for what, args, status, line in cases:
        with tempfile.TemporaryDirectory() as case:
            for name in ("i.edf", "half.edf", "b.edf"):
                os.symlink(os.path.join(work, name),
                           os.path.join(case, name))
            start = list(START)
            if "cen1=0" in args:
                args = [a for a in args if a != "cen1=0"]
                start[2], start[3] = "100", "900"
            proc = run(vabo, args + ["calibrant=LaB6",
                                     "wavelength=0.72932_Ao", "json=j.json",
                                     "poni=p.poni"] + start, case)
            errors = [l for l in proc.stderr.splitlines()
                      if l.startswith("ERROR: ") and "status=" not in l]
            written = {"j.json", "p.poni"} & set(os.listdir(case))
            check(proc.returncode == status and len(errors) == 1
                  and errors[0].startswith(line) and not written,
                  "%s: exit %d, %s" % (what, proc.returncode,
                                       errors[0] if errors else "no line"))


def main():
    vabo, source = sys.argv[1], sys.argv[2]
    ai = truth()
    image = make_image(ai)
    with tempfile.TemporaryDirectory() as work:
        calibrations(vabo, source, work, ai, image)
        failures(vabo, work, image)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
