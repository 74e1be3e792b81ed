#!/usr/bin/env python3
"""Cross-check of vabo's PONI reader (vabo_poni) against pyFAI.

PONI files that pyFAI writes (version 2) and files of versions 1, 2.1 and 3
written here as pyFAI's readers take them are read by vabo as start
values; vabo's model (vabo_model_probe) with these values must give the
TwoTheta of pyFAI's geometry of the same file within 1e-12 rad on pixels
all over the detector.  Files that describe what vabo cannot honour must be
refused with one line naming the file and the line.
"""

import argparse
import logging
import os
import random
import subprocess
import sys
import tempfile

import numpy
import pyFAI
import pyFAI.azimuthalIntegrator
import pyFAI.detectors

logging.disable(logging.CRITICAL)

TOLERANCE = 1e-12  # rad; both compute in double precision


def run(command, text=None):
    return subprocess.run(command, input=text, capture_output=True, text=True,
                          check=False)


def vabo_start(probe, path):
    out = run([probe, "poni", path])
    if out.returncode != 0:
        sys.exit("vabo_peers_probe poni %s failed: %s" % (path, out.stderr))
    start = wavelength = None
    for line in out.stdout.splitlines():
        w = line.split()
        if w[0] == "start":
            start = [float(v) for v in w[1:]]
        elif w[0] == "wavelength":
            wavelength = None if w[1] == "none" else float(w[1])
    return start, wavelength


def vabo_tth(model_probe, start, pixels):
    text = "".join(" ".join("%.17g" % v for v in list(start) + [i1, i2]) + "\n"
                   for i1, i2 in pixels)
    out = run([model_probe], text)
    if out.returncode != 0:
        sys.exit("vabo_model_probe failed: %s" % out.stderr)
    return numpy.array([float(v) for v in out.stdout.split()])


def random_geometry(rng):
    return dict(dist=rng.uniform(0.05, 0.8), poni1=rng.uniform(-0.05, 0.3),
                poni2=rng.uniform(-0.05, 0.3), rot1=rng.uniform(-0.4, 0.4),
                rot2=rng.uniform(-0.4, 0.4), rot3=rng.uniform(-3, 3),
                pixel1=rng.uniform(20, 200) * 1e-6,
                pixel2=rng.uniform(20, 200) * 1e-6)


def compare(label, ai, start, probes, rng):
    pixels = [(rng.uniform(-10, 3000), rng.uniform(-10, 3000)) for _ in range(40)]
    ours = vabo_tth(probes[1], start, pixels)
    d1 = numpy.array([p[0] for p in pixels])
    d2 = numpy.array([p[1] for p in pixels])
    theirs = ai.tth(d1, d2)
    worst = float(numpy.max(numpy.abs(ours - theirs)))
    if not worst <= TOLERANCE:
        print("%s: TwoTheta differs by %.3g rad" % (label, worst))
        return 1
    return 0


def hand_written(version, g, wavelength):
    """A PONI file of version 1, 2.1 or 3 as pyFAI's readers take it."""
    lines = ["# written by check_poni.py", "poni_version: %s" % version]
    if version == 1:
        lines += ["PixelSize1: %r" % g["pixel1"], "PixelSize2: %r" % g["pixel2"]]
    else:
        config = '{"pixel1": %r, "pixel2": %r, "max_shape": [1024, 2048]' % (
            g["pixel1"], g["pixel2"])
        if version == 3:
            config += ', "orientation": 3'
        lines += ["Detector: Detector", "Detector_config: %s}" % config]
    lines += ["Distance: %r" % g["dist"], "Poni1: %r" % g["poni1"],
              "Poni2: %r" % g["poni2"], "Rot1: %r" % g["rot1"],
              "Rot2: %r" % g["rot2"], "Rot3: %r" % g["rot3"],
              "Wavelength: %r" % wavelength]
    if version == 3:
        lines.insert(-1, "Parallax: False")
    return "\n".join(lines) + "\n"


REFUSED = [  # (what is changed, the line it is on, a word of the message)
    ('"orientation": 3', '"orientation": 2', 4, "orientation"),
    ('"max_shape": [1024, 2048]', '"splineFile": "d.spline"', 4, "spline"),
    ("Parallax: False", "Parallax: True", 11, "parallax"),
    ("poni_version: 3", "poni_version: 4", 2, "version"),
    ("Rot1:", "Bogus:", 8, "unknown"),
]


def check_refusals(probe, work, g):
    bad = 0
    text = hand_written(3, g, 1e-10)
    cases = REFUSED + [(None, 'Detector: Pilatus1M\nDetector_config: {}', 0, "pixel")]
    for old, new, line, word in cases:
        if old is None:
            changed = "\n".join(l for l in text.splitlines()
                                if not l.startswith("Detector")) + "\n" + new + "\n"
            line = len(changed.splitlines())
        else:
            changed = text.replace(old, new)
        path = os.path.join(work, "refused.poni")
        with open(path, "w") as f:
            f.write(changed)
        out = run([probe, "poni", path])
        prefix = "%s:%d: " % (path, line)
        if (out.returncode != 1 or out.stdout or out.stderr.count("\n") != 1
                or not out.stderr.startswith(prefix) or word not in out.stderr.lower()):
            print("%s -> %s: vabo says %r (status %d)" % (old, new, out.stderr, out.returncode))
            bad += 1
    return bad


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--probe", required=True, help="vabo_peers_probe")
    parser.add_argument("--model-probe", required=True, help="vabo_model_probe")
    parser.add_argument("--seed", type=int, default=20241210)
    args = parser.parse_args(argv)
    probes = (args.probe, args.model_probe)
    rng = random.Random(args.seed)
    bad = 0
    with tempfile.TemporaryDirectory() as work:
        for k in range(12):
            g = random_geometry(rng)
            if k == 0:
                g.update(rot1=0.0, rot2=0.0, rot3=0.0)
            wavelength = rng.uniform(0.3, 1.5) * 1e-10
            detector = pyFAI.detectors.Detector(pixel1=g["pixel1"], pixel2=g["pixel2"])
            ai = pyFAI.azimuthalIntegrator.AzimuthalIntegrator(
                dist=g["dist"], poni1=g["poni1"], poni2=g["poni2"], rot1=g["rot1"],
                rot2=g["rot2"], rot3=g["rot3"], detector=detector,
                wavelength=wavelength)
            path = os.path.join(work, "pyfai%d.poni" % k)
            ai.save(path)
            loaded = pyFAI.load(path)
            start, got_wavelength = vabo_start(args.probe, path)
            if got_wavelength != loaded.wavelength:
                print("%s: wavelength %r, pyFAI %r" % (path, got_wavelength, loaded.wavelength))
                bad += 1
            bad += compare(path, loaded, start, probes, rng)
            version = [1, 2.1, 3][k % 3]
            hand = os.path.join(work, "hand%d.poni" % k)
            with open(hand, "w") as f:
                f.write(hand_written(version, g, wavelength))
            start, got_wavelength = vabo_start(args.probe, hand)
            bad += compare("%s (version %s)" % (hand, version), ai, start, probes, rng)
            bad += got_wavelength != wavelength
        bad += check_refusals(args.probe, work, random_geometry(rng))
    print("check_poni: %s" % ("%d disagreements" % bad if bad else "vabo and pyFAI agree"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
