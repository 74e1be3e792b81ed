#!/usr/bin/python3
"""Makes examples/lab6.cbf: a detector image of LaB6 rings, made by pyFAI.

A Pilatus-like detector of 640 x 600 pixels of 172 um with a gap of 17
invalid rows across its middle (-1, as Pilatus marks them), 0.12 m from the
sample, tilted by 1.5 and -1 degrees, at 0.72932 Angstrom (17 keV).  The
rings are pyFAI's Calibrant.fake_calibration_image of LaB6 SRM 660c (about
two pixels wide), with intensity varying along the rings, a background
falling off from the beam, a beamstop shadow and Poisson noise (fixed
seed); fabio writes it as CBF with Pilatus' byte-offset compression:

    /usr/bin/python3 examples/make_image.py examples/lab6.cbf

The true geometry, in vabo's terms: pix1 = pix2 = 172 um, cen1 = 318.4,
cen2 = 289.7, dis = 0.12 m, rot1 = 1.5 deg, rot2 = -1 deg, rot3 = 0.
"""

import math
import sys

import fabio
import numpy
import pyFAI
from pyFAI.azimuthalIntegrator import AzimuthalIntegrator
from pyFAI.calibrant import get_calibrant

SHAPE = (640, 600)
PIXEL = 172e-6
CEN1, CEN2, DIS = 318.4, 289.7, 0.12
WAVELENGTH = 0.72932e-10


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_image.py OUTPUT.cbf")
    detector = pyFAI.detector_factory(
        "Detector", {"pixel1": PIXEL, "pixel2": PIXEL, "max_shape": SHAPE})
    ai = AzimuthalIntegrator(dist=DIS, poni1=(CEN1 + 0.5) * PIXEL,
                             poni2=(CEN2 + 0.5) * PIXEL,
                             rot1=math.radians(1.5), rot2=math.radians(-1),
                             rot3=0, detector=detector, wavelength=WAVELENGTH)
    calibrant = get_calibrant("LaB6_SRM660c")
    calibrant.wavelength = WAVELENGTH
    fwhm = 2 * PIXEL / DIS
    rings = calibrant.fake_calibration_image(ai, shape=SHAPE, Imax=1, U=0,
                                             V=0, W=fwhm * fwhm)
    chi = ai.chiArray(SHAPE)
    rows, columns = numpy.meshgrid(numpy.arange(SHAPE[0]) - CEN1,
                                   numpy.arange(SHAPE[1]) - CEN2,
                                   indexing="ij")
    radius = numpy.hypot(rows, columns)
    texture = 0.4 + 0.6 * numpy.cos(chi + 0.7) ** 2
    signal = 300 * rings * texture + 20 + 150 * numpy.exp(-radius / 120)
    signal[(radius < 15) | ((abs(columns) < 5) & (rows > 0))] *= 0.02
    rng = numpy.random.default_rng(20131209)
    counts = rng.poisson(signal).astype(numpy.int32)
    counts[312:329, :] = -1
    fabio.cbfimage.CbfImage(data=counts).write(sys.argv[1])


if __name__ == "__main__":
    main()
