#!/usr/bin/python3
"""Refined wavelength on generated control points: is it right, and is its
standard error honest?

    PYTHONPATH=build-tests/python bench/wavelength.py [--seeds N]

For LaB6 and CeO2 (vabo's built-in calibrants) and N seeds each, makes
control points on the first 20 rings of a tilted detector (24 azimuths per
ring, Gaussian pixel noise of 0.3 pixels) from a known geometry and
wavelength (0.72932 Angstrom), and refines the geometry and the wavelength
with vabo.refine from a start off by a few pixels, 1 % in distance and
0.5 % in wavelength.  Prints per calibrant: the fraction of seeds whose
wavelength lies within 2 standard errors of the truth (target >= 90 %), and
the mean standard error against the spread of the wavelength over the seeds
(target: agree to +-30 %), and the correlation of wavelength and distance.
Exit status 1 when a target is missed.  The points are made by the model
written out here in numpy (that of examples/make_points.py), not by vabo.
"""

import argparse
import math
import sys

import numpy

import vabo

WAVELENGTH = 0.72932e-10
TRUTH = [75e-6, 75e-6, 2010.3, 1985.6, 0.12, 0.03, -0.02, 0.0]
RINGS = 20
AZIMUTHS = 24
NOISE = 0.3  # pixels


def rotation(rot1, rot2, rot3):
    c1, s1 = math.cos(rot1), math.sin(rot1)
    c2, s2 = math.cos(rot2), math.sin(rot2)
    c3, s3 = math.cos(rot3), math.sin(rot3)
    rx = numpy.array([[1, 0, 0], [0, c1, -s1], [0, s1, c1]])
    ry = numpy.array([[c2, 0, s2], [0, 1, 0], [-s2, 0, c2]])
    rz = numpy.array([[c3, -s3, 0], [s3, c3, 0], [0, 0, 1]])
    return rz @ ry @ rx


def points(d, rng):
    """i1, i2, ring of noisy points on the first RINGS rings."""
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = TRUTH
    r = rotation(rot1, rot2, rot3)
    i1, i2, ring = [], [], []
    for k in range(RINGS):
        tth = 2 * math.asin(WAVELENGTH / (2 * d[k]))
        for a in range(AZIMUTHS):
            chi = 2 * math.pi * (a + rng.uniform()) / AZIMUTHS
            u = numpy.array([math.sin(tth) * math.cos(chi),
                             math.sin(tth) * math.sin(chi), -math.cos(tth)])
            n = r.T @ u
            if n[2] >= 0:
                continue
            t = -dis / n[2]
            i1.append(cen1 + t * n[0] / pix1 + rng.normal(0, NOISE))
            i2.append(cen2 + t * n[1] / pix2 + rng.normal(0, NOISE))
            ring.append(k)
    return numpy.array(i1), numpy.array(i2), numpy.array(ring)


def run(name, seeds):
    calibrant = vabo.calibrant(name)
    d = calibrant.d[:RINGS]
    found, errors, correlations = [], [], []
    for seed in range(seeds):
        rng = numpy.random.default_rng(seed)
        i1, i2, ring = points(d, rng)
        start = list(TRUTH)
        start[2] += 3
        start[3] -= 2
        start[4] *= 1.01
        result = vabo.refine(None, i1, i2, start, ring=ring, dspacing=d,
                             wavelength=WAVELENGTH * 1.005,
                             refine="wavelength")
        if result.status != 0 or result.wavelength is None:
            print("%s seed %d: status %d" % (name, seed, result.status))
            continue
        value, error = result.wavelength
        found.append(value)
        errors.append(error)
        names = result.to_dict()["correlation"]["names"]
        matrix = result.to_dict()["correlation"]["matrix"]
        correlations.append(matrix[names.index("dis")][names.index("wavelength")])
    found, errors = numpy.array(found), numpy.array(errors)
    within = float(numpy.mean(numpy.abs(found - WAVELENGTH) < 2 * errors))
    spread = float(numpy.std(found, ddof=1))
    ratio = float(numpy.mean(errors)) / spread
    print("%-5s %2d seeds: within 2 standard errors %5.1f %%  (>= 90 %%); "
          "mean error %.3e m, spread %.3e m, ratio %.2f (0.7 .. 1.3); "
          "corr(dis, wavelength) %.4f"
          % (name, len(found), 100 * within, float(numpy.mean(errors)),
             spread, ratio, float(numpy.mean(correlations))))
    return within >= 0.9 and 0.7 <= ratio <= 1.3


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=100)
    args = parser.parse_args()
    ok = all([run("LaB6", args.seeds), run("CeO2", args.seeds)])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
