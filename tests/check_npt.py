#!/usr/bin/env python3
"""Cross-check of vabo's control-point files (vabo_npt) against pyFAI.

pyFAI's ControlPoints writes files that vabo reads (every point, its ring
and its line, the wavelength and the d-spacings); vabo writes files that
ControlPoints loads back with the same points and rings, bit for bit; and
vabo's TwoTheta of a ring is pyFAI's Calibrant.get_2th().  Both programs
take a whole pixel coordinate as a pixel centre, so the numbers of the file
are the coordinates, unshifted: the check below that pyFAI's own geometry
puts TwoTheta 0 at the point of normal incidence, written as a control
point, shows it for pyFAI.
"""

import argparse
import logging
import math
import os
import random
import subprocess
import sys
import tempfile

import numpy
import pyFAI.calibrant
import pyFAI.control_points
import pyFAI.geometry

logging.disable(logging.CRITICAL)  # pyFAI logs what it cannot compute

RELATIVE = 1e-15  # d-spacings pass through a division by 1e10
TTH = 1e-15  # rad; asin of arguments that differ in the last bit, which
# near TwoTheta = pi is magnified by 1 / cos(TwoTheta / 2)


def run(probe, args, text=None):
    out = subprocess.run([probe] + args, input=text, capture_output=True,
                         text=True, check=False)
    if out.returncode != 0:
        sys.exit("vabo_peers_probe %s failed: %s" % (" ".join(args), out.stderr))
    return out.stdout


def parse(text):
    """The probe's record: calibrant, wavelength, dspacing, points, tth."""
    rec = {"points": [], "tth": {}}
    for line in text.splitlines():
        w = line.split()
        if w[0] == "calibrant":
            rec["calibrant"] = None if w[1] == "-" else w[1]
        elif w[0] == "wavelength":
            rec["wavelength"] = None if w[1] == "none" else float(w[1])
        elif w[0] == "dspacing":
            rec["dspacing"] = None if w[1:] == ["none"] else [float(v) for v in w[1:]]
        elif w[0] == "point":
            rec["points"].append((int(w[1]), float(w[2]), float(w[3]), int(w[4])))
        elif w[0] == "tth":
            rec["tth"][int(w[1])] = float(w[2])
    return rec


def random_points(rng, rings):
    points = []
    for ring in rings:
        for _ in range(rng.randint(1, 6)):
            points.append((ring, rng.uniform(-5, 2048), rng.uniform(-5, 2048)))
    rng.shuffle(points)
    return points


def check_pyfai_written(probe, rng, work):
    """Files written by pyFAI, read by vabo."""
    bad = 0
    cases = [("LaB6", 1.0332e-10), ("CeO2", 0.7085e-10), ("Si", None), (None, None)]
    for k, (name, wavelength) in enumerate(cases):
        calibrant = pyFAI.calibrant.get_calibrant(name) if name else None
        if calibrant is not None and wavelength:
            calibrant.wavelength = wavelength
        cp = pyFAI.control_points.ControlPoints(calibrant=calibrant)
        rings = rng.sample(range(12), 4)
        points = random_points(rng, rings)
        for ring in rings:
            cp.append([[i1, i2] for r, i1, i2 in points if r == ring], ring=ring)
        path = os.path.join(work, "pyfai%d.npt" % k)
        cp.save(path)
        rec = parse(run(probe, ["npt", path]))
        lines = open(path).read().split("\n")
        expected = [(ring, y, x) for y, x, ring in cp.getList()]
        got = [(r, i1, i2) for r, i1, i2, _ in rec["points"]]
        if got != expected:
            print("pyFAI file %s: points differ" % path)
            bad += 1
        for _, i1, i2, line in rec["points"]:
            if lines[line - 1] != "point: x=%s y=%s" % (i2, i1):
                print("pyFAI file %s: point line %d is %r" % (path, line, lines[line - 1]))
                bad += 1
        if rec["calibrant"] != name or rec["wavelength"] != wavelength:
            print("pyFAI file %s: calibrant %s, wavelength %s" % (path, rec["calibrant"], rec["wavelength"]))
            bad += 1
        if name:
            ref = calibrant.dSpacing
            if len(rec["dspacing"]) != len(ref) or any(
                    abs(d * 1e10 - r) > RELATIVE * r for d, r in zip(rec["dspacing"], ref)):
                print("pyFAI file %s: d-spacings differ" % path)
                bad += 1
        if wavelength:
            for ring, tth in enumerate(calibrant.get_2th()):
                if abs(rec["tth"][ring] - tth) > TTH / math.cos(tth / 2):
                    print("%s ring %d: TwoTheta %.17g, pyFAI %.17g" % (name, ring, rec["tth"][ring], tth))
                    bad += 1
    return bad


def check_vabo_written(probe, rng, work):
    """Files written by vabo, loaded by pyFAI."""
    bad = 0
    for k in range(6):
        name = ["LaB6", "CeO2", "-", "AgBh", "Si", "-"][k]
        rings = rng.sample(range(15), rng.randint(1, 6))
        points = random_points(rng, rings)
        dspacing = sorted((rng.uniform(0.5, 40) * 1e-10 for _ in range(15)), reverse=True)
        wavelength = rng.uniform(0.3, 1.5) * 1e-10
        text = "calibrant %s\nwavelength %.17g\ndspacing %s\n" % (
            name, wavelength, " ".join("%.17g" % d for d in dspacing))
        text += "".join("point %d %.17g %.17g\n" % p for p in points)
        path = os.path.join(work, "vabo%d.npt" % k)
        with open(path, "w") as f:
            f.write(run(probe, ["npt-write"], text))
        cp = pyFAI.control_points.ControlPoints(path)
        loaded = sorted((ring, y, x) for y, x, ring in cp.getList())
        if loaded != sorted(points):
            print("vabo file %s: pyFAI loads other points or rings" % path)
            bad += 1
        if cp.calibrant is None or cp.calibrant.wavelength != wavelength:
            print("vabo file %s: pyFAI's wavelength differs" % path)
            bad += 1
        if name == "-" and [d * 1e-10 for d in cp.calibrant.dSpacing] != [
                float("%r" % (d * 1e10)) * 1e-10 for d in dspacing]:
            print("vabo file %s: pyFAI's d-spacings differ" % path)
            bad += 1
        again = parse(run(probe, ["npt", path]))
        if sorted(p[:3] for p in again["points"]) != sorted(points):
            print("vabo file %s: vabo reads back other points" % path)
            bad += 1
    return bad


def check_pixel_centre():
    """pyFAI: pixel (d1, d2) = (i1, i2) at the point of normal incidence
    poni = (i + 0.5) pixel has TwoTheta 0 -- whole numbers are centres."""
    g = pyFAI.geometry.Geometry(dist=0.1, poni1=10.5 * 1e-4, poni2=20.5 * 1e-4,
                                pixel1=1e-4, pixel2=1e-4)
    tth = float(g.tth(numpy.array([10.0]), numpy.array([20.0]))[0])
    if abs(tth) > 1e-15:
        print("pyFAI puts TwoTheta %g at the point of normal incidence" % tth)
        return 1
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--probe", required=True)
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args(argv)
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory() as work:
        bad = check_pixel_centre()
        bad += check_pyfai_written(args.probe, rng, work)
        bad += check_vabo_written(args.probe, rng, work)
    print("check_npt: %s" % ("%d disagreements" % bad if bad else "vabo and pyFAI agree"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
