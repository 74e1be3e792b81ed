#!/usr/bin/env python3
"""Cross-check of vabo's Fit2D geometry (vabo_fit2d) against pyFAI.

On random geometries, tilted and untilted, vabo's Fit2D numbers must be
those of pyFAI's Geometry.getFit2D() within 1e-9 relative (angles within
1e-9 degrees), and vabo's parameters of Fit2D numbers those that pyFAI's
setFit2D() sets: pixel sizes, point of normal incidence, distance, rot1
and rot2.  pyFAI 0.21's rot3 of setFit2D has a slip (sqrt(10 - ...)); rot3
moves no ring, so vabo's is checked instead by what it is for: with it the
whole rotation turns about an axis in the detector's plane, perpendicular
to the beam.  The tilts are kept above 0.5 degrees, or exactly 0:
getFit2D takes the tilt's sine as sqrt(1 - cos^2), which loses digits on
small tilts, and drops the centre's tilt term below 1e-5 degrees.
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
import pyFAI.geometry

logging.disable(logging.CRITICAL)

RELATIVE = 1e-9
FIT2D_KEYS = ["directDist", "centerX", "centerY", "tilt", "tiltPlanRotation",
              "pixelX", "pixelY"]
ANGLES = {"tilt", "tiltPlanRotation"}  # degrees, compared absolutely
MIN_TILT = 0.5  # degrees; see above


def probe_lines(probe, command, rows):
    text = "".join(" ".join("%.17g" % v for v in row) + "\n" for row in rows)
    out = subprocess.run([probe, command], input=text, capture_output=True,
                         text=True, check=False)
    if out.returncode != 0:
        sys.exit("vabo_peers_probe %s failed: %s" % (command, out.stderr))
    return [line.split()[1:] if line != "fail" else None
            for line in out.stdout.splitlines()]


def close(a, b, absolute=False):
    scale = 1.0 if absolute else max(abs(a), abs(b), 1e-300)
    return abs(a - b) <= RELATIVE * scale


def random_parameters(rng, tilted):
    while True:
        par = [rng.uniform(20, 200) * 1e-6, rng.uniform(20, 200) * 1e-6,
               rng.uniform(-100, 3000), rng.uniform(-100, 3000),
               rng.uniform(0.05, 0.8), 0.0, 0.0, rng.uniform(-3, 3)]
        if tilted:
            par[5] = rng.uniform(-0.5, 0.5)
            par[6] = rng.uniform(-0.5, 0.5)
            if math.degrees(math.acos(math.cos(par[5]) * math.cos(par[6]))) < MIN_TILT:
                continue
        return par


def geometry(par):
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = par
    return pyFAI.geometry.Geometry(dist=dis, poni1=(cen1 + 0.5) * pix1,
                                   poni2=(cen2 + 0.5) * pix2, rot1=rot1,
                                   rot2=rot2, rot3=rot3, pixel1=pix1, pixel2=pix2)


def check_to_fit2d(probe, cases):
    bad = 0
    for par, got in zip(cases, probe_lines(probe, "to-fit2d", cases)):
        want = geometry(par).getFit2D()
        for key, value in zip(FIT2D_KEYS, [float(v) for v in got or [math.nan] * 7]):
            ref = want[key]
            if key == "tiltPlanRotation" and want["tilt"] == 0:
                ref = 0.0
            if not close(value, ref, key in ANGLES):
                print("to-fit2d %s: %s %.17g, pyFAI %.17g" % (par, key, value, ref))
                bad += 1
    return bad


def axis_in_plane(par):
    """Whether the rotation of par turns about an axis perpendicular to the
    beam (its z component, R10 - R01, vanishes)."""
    r = geometry(par).rotation_matrix()
    return abs(r[1, 0] - r[0, 1]) <= 1e-12


def check_from_fit2d(probe, fits):
    bad = 0
    for fit, got in zip(fits, probe_lines(probe, "from-fit2d", fits)):
        g = pyFAI.geometry.Geometry()
        g.setFit2D(*fit)
        pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = [float(v) for v in got or [math.nan] * 8]
        want = [(pix1, g.pixel1, False), (pix2, g.pixel2, False),
                ((cen1 + 0.5) * pix1, g.poni1, False), ((cen2 + 0.5) * pix2, g.poni2, False),
                (dis, g.dist, False), (rot1, g.rot1, True), (rot2, g.rot2, True)]
        for k, (value, ref, absolute) in enumerate(want):
            if not close(value, ref, absolute):
                print("from-fit2d %s: parameter %d %.17g, pyFAI %.17g" % (fit, k, value, ref))
                bad += 1
        if got and not axis_in_plane([pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3]):
            print("from-fit2d %s: rot3 %.17g turns the tilt axis out of the plane" % (fit, rot3))
            bad += 1
    return bad


def check_file(probe, fits, work):
    """The file reader: bare numbers in Fit2D's units, or with units."""
    bad = 0
    starts = probe_lines(probe, "from-fit2d", fits)
    for k, (fit, start) in enumerate(zip(fits, starts)):
        path = os.path.join(work, "g%d.fit2d" % k)
        d, cx, cy, tilt, tpr, px, py = fit
        with open(path, "w") as f:
            f.write("# Fit2D geometry\ndirectDist = %r_mm\ncenterX = %r\ncenterY: %r\n"
                    "TILT = %r\ntiltPlanRotation = %r_rad\npixelX = %r\npixelY = %r_m\n"
                    % (d, cx, cy, tilt, math.radians(tpr), px, py * 1e-6))
        out = subprocess.run([probe, "fit2d", path], capture_output=True, text=True)
        got = out.stdout.splitlines()[0].split()[1:] if out.returncode == 0 else None
        if got is None or any(not close(float(a), float(b)) and abs(float(a) - float(b)) > 1e-15
                              for a, b in zip(got, start)):
            print("%s: start values %s, expected %s (%s)" % (path, got, start, out.stderr))
            bad += 1
    return bad


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--probe", required=True, help="vabo_peers_probe")
    parser.add_argument("--seed", type=int, default=1996)
    args = parser.parse_args(argv)
    rng = random.Random(args.seed)
    cases = [random_parameters(rng, k % 4 != 0) for k in range(200)]
    bad = check_to_fit2d(args.probe, cases)
    fits = []
    for k in range(200):
        tilt = 0.0 if k % 4 == 0 else rng.uniform(MIN_TILT, 40)
        fits.append([rng.uniform(50, 800), rng.uniform(-100, 3000), rng.uniform(-100, 3000),
                     tilt, rng.uniform(-179, 179), rng.uniform(20, 200), rng.uniform(20, 200)])
    bad += check_from_fit2d(args.probe, fits)
    with tempfile.TemporaryDirectory() as work:
        bad += check_file(args.probe, fits[:8], work)
    print("check_fit2d: %s" % ("%d disagreements" % bad if bad else "vabo and pyFAI agree"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
