#!/usr/bin/env python3
"""Makes examples/points.npt: pyFAI control points of the geometry of
examples/points.dat, written by pyFAI itself.

The geometry, calibrant (LaB6, pyFAI's LaB6_SRM660c d-spacings) and
wavelength (0.72932 Angstrom) are those of examples/make_points.py.  For each
ring that falls on the 2000 x 2000 detector, at 24 azimuths, the script finds
with pyFAI's Geometry.tth the pixel on the ring along the ray from the beam
centre (bisection to 1e-9 pixel), adds Gaussian noise of 0.03 pixels (fixed
seed), and hands the points to pyFAI's ControlPoints, which writes the file:

    /usr/bin/python3 examples/make_npt.py examples/points.npt

pyFAI's pixel convention is vabo's: poni = (cen + 0.5) * pix.
"""

import math
import sys

import numpy
from pyFAI.calibrant import get_calibrant
from pyFAI.control_points import ControlPoints
from pyFAI.geometry import Geometry

PIX = 75e-6
CEN1, CEN2 = 1021.3, 978.6
NPIX = 2000
AZIMUTHS = 24
NOISE = 0.03
SEED = 20131209


def ring_pixel(geometry, tth, centre, direction):
    """The pixel at TwoTheta tth along the ray from centre, or None."""
    def angle(r):
        y, x = centre + r * direction
        return geometry.tth(numpy.array([y]), numpy.array([x]))[0]
    low, high = 0.0, 4.0 * NPIX
    if angle(high) < tth:
        return None
    for _ in range(80):
        mid = (low + high) / 2
        if angle(mid) < tth:
            low = mid
        else:
            high = mid
    y, x = centre + low * direction
    if 0 <= y < NPIX - 1 and 0 <= x < NPIX - 1:
        return y, x
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_npt.py OUTPUT.npt")
    wavelength = 0.72932e-10
    calibrant = get_calibrant("LaB6_SRM660c")
    calibrant.wavelength = wavelength
    geometry = Geometry(dist=0.2035, poni1=(CEN1 + 0.5) * PIX,
                        poni2=(CEN2 + 0.5) * PIX, rot1=math.radians(3.0),
                        rot2=math.radians(-2.0), rot3=0.0, pixel1=PIX,
                        pixel2=PIX, wavelength=wavelength)
    f2d = geometry.getFit2D()
    centre = numpy.array([f2d["centerY"] - 0.5, f2d["centerX"] - 0.5])
    rng = numpy.random.default_rng(SEED)
    points = ControlPoints(calibrant=calibrant, wavelength=wavelength)
    for ring, tth in enumerate(calibrant.get_2th()):
        found = []
        for k in range(AZIMUTHS):
            chi = 2 * math.pi * (k + 0.5) / AZIMUTHS
            direction = numpy.array([math.sin(chi), math.cos(chi)])
            pixel = ring_pixel(geometry, tth, centre, direction)
            if pixel is not None:
                found.append([pixel[0] + rng.normal(0, NOISE),
                              pixel[1] + rng.normal(0, NOISE)])
        if found:
            points.append(found, ring)
    points.save(sys.argv[1])


if __name__ == "__main__":
    main()
