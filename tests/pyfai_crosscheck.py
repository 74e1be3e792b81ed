#!/usr/bin/env python3
"""Cross-check of vabo's detector model against pyFAI.

Generates random detector geometries and pixels, evaluates the scattering
angle TwoTheta with vabo's model (through the vabo_model_probe program) and
with pyFAI's Geometry.tth, and fails when they differ by more than 1e-12 rad.

The two programs describe the same geometry: pyFAI's first pixel index d1
and pixel size pixel1 are vabo's i1 and pix1, its rotations rot1, rot2, rot3
are vabo's, and its point of normal incidence poni1, poni2 is given in metres
from the detector corner, where pyFAI puts the centre of pixel (d1, d2) at
((d1 + 0.5) pixel1, (d2 + 0.5) pixel2).  So poni = (cen + 0.5) pix.  The
convention is checked first: without rotations the PONI pixel has TwoTheta 0
in both, and a pixel displaced along one axis only has the angle given by
its distance from the PONI.
"""

import argparse
import math
import random
import subprocess
import sys

import numpy
import pyFAI.geometry

TOLERANCE = 1e-12  # rad; both compute in double precision


def probe_angles(probe, rows):
    """vabo's TwoTheta for rows of (pix1 pix2 cen1 cen2 dis rot1 rot2 rot3 i1 i2)."""
    text = "".join(" ".join("%.17g" % v for v in row) + "\n" for row in rows)
    run = subprocess.run([probe], input=text, capture_output=True, text=True,
                         check=False)
    if run.returncode != 0:
        sys.exit("vabo_model_probe failed (%d): %s" % (run.returncode, run.stderr))
    values = [float(line) for line in run.stdout.split()]
    if len(values) != len(rows):
        sys.exit("vabo_model_probe gave %d values for %d rows" % (len(values), len(rows)))
    return values


def pyfai_angles(geometry, pixels):
    """pyFAI's TwoTheta for one geometry (pix1 ... rot3) and its pixels."""
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = geometry
    g = pyFAI.geometry.Geometry(dist=dis, poni1=(cen1 + 0.5) * pix1,
                                poni2=(cen2 + 0.5) * pix2, rot1=rot1,
                                rot2=rot2, rot3=rot3, pixel1=pix1,
                                pixel2=pix2)
    d1 = numpy.array([p[0] for p in pixels], dtype=numpy.float64)
    d2 = numpy.array([p[1] for p in pixels], dtype=numpy.float64)
    return [float(v) for v in g.tth(d1, d2)]


def compare(probe, cases, label):
    """Compares both models on cases [(geometry, [pixels])]; returns the
    number of disagreements and prints the largest difference."""
    rows = [list(geometry) + list(pixel) for geometry, pixels in cases
            for pixel in pixels]
    ours = probe_angles(probe, rows)
    theirs = [a for geometry, pixels in cases for a in pyfai_angles(geometry, pixels)]
    failures, worst = 0, 0.0
    for row, a, b in zip(rows, ours, theirs):
        difference = abs(a - b)
        worst = max(worst, difference)
        if not difference <= TOLERANCE:
            failures += 1
            if failures <= 10:
                print("MISMATCH %s: %s vabo=%.17g pyFAI=%.17g diff=%.3g"
                      % (label, " ".join("%.17g" % v for v in row), a, b, difference))
    print("%s: %d points, largest difference %.3g rad" % (label, len(rows), worst))
    return failures


def convention_cases():
    """Geometries without rotation whose angles are known in closed form."""
    pix1, pix2, cen1, cen2, dis = 7.5e-5, 5.5e-5, 612.25, 387.5, 0.2385
    geometry = (pix1, pix2, cen1, cen2, dis, 0.0, 0.0, 0.0)
    pixels = [(cen1, cen2), (cen1 + 1000, cen2), (cen1, cen2 - 700)]
    expected = [0.0, math.atan2(1000 * pix1, dis), math.atan2(700 * pix2, dis)]
    return geometry, pixels, expected


def random_cases(rng, count, per_geometry):
    cases = []
    for _ in range(count):
        geometry = (rng.uniform(2e-5, 3e-4), rng.uniform(2e-5, 3e-4),
                    rng.uniform(-500, 2500), rng.uniform(-500, 2500),
                    rng.uniform(0.03, 1.5), rng.uniform(-0.8, 0.8),
                    rng.uniform(-0.8, 0.8), rng.uniform(-math.pi, math.pi))
        pixels = [(rng.uniform(-100, 3000), rng.uniform(-100, 3000))
                  for _ in range(per_geometry)]
        cases.append((geometry, pixels))
    return cases


def steep_cases(rng, count):
    """Detectors turned far, some past 90 degrees (angles above pi/2)."""
    cases = []
    for _ in range(count):
        geometry = (1e-4, 1e-4, 1000.0, 1000.0, rng.uniform(0.05, 0.3),
                    rng.uniform(-1.5, 1.5), rng.uniform(1.0, 2.6),
                    rng.uniform(-math.pi, math.pi))
        pixels = [(rng.uniform(0, 2000), rng.uniform(0, 2000)) for _ in range(10)]
        cases.append((geometry, pixels))
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--probe", required=True, help="path of vabo_model_probe")
    parser.add_argument("--geometries", type=int, default=300)
    parser.add_argument("--pixels", type=int, default=20)
    parser.add_argument("--seed", type=int, default=20131209)
    args = parser.parse_args()

    failures = 0
    geometry, pixels, expected = convention_cases()
    ours = probe_angles(args.probe, [list(geometry) + list(p) for p in pixels])
    theirs = pyfai_angles(geometry, pixels)
    for pixel, a, b, e in zip(pixels, ours, theirs, expected):
        if not (abs(a - e) <= TOLERANCE and abs(b - e) <= TOLERANCE):
            failures += 1
            print("CONVENTION pixel %s: vabo=%.17g pyFAI=%.17g expected=%.17g"
                  % (pixel, a, b, e))
    print("convention: PONI at (cen + 0.5) pix, first index along pix1: %s"
          % ("ok" if failures == 0 else "FAILED"))

    rng = random.Random(args.seed)
    failures += compare(args.probe, random_cases(rng, args.geometries, args.pixels),
                        "random geometries")
    failures += compare(args.probe, steep_cases(rng, 50), "steep detectors")
    if failures:
        print("pyFAI cross-check FAILED: %d disagreements" % failures)
        return 1
    print("pyFAI cross-check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
