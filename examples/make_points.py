#!/usr/bin/env python3
"""Makes examples/points.dat: calibration points of a LaB6 powder pattern on a
flat 2000 x 2000 detector with 75 um pixels, seen from a known geometry.

For each Debye-Scherrer ring of the calibrant the script walks round the ring
in azimuth, finds the pixel where the scattered ray meets the tilted detector,
adds a little Gaussian noise to that pixel position and writes the line
"TwoTheta/rad i1 i2".  The ring angles are exact (from the lattice constant
and the wavelength); only the pixel positions are noisy, as in a real
calibration where rings are found on the image.  Pure python3 with math and a
fixed seed, so the file is the same on every run (the angles agree with
pyFAI's Geometry.tth for poni = (cen + 0.5) * pix, to the rounding of the
written pixel positions):

    python3 examples/make_points.py > examples/points.dat

With --points N it writes N points of the same geometry instead, spread
evenly over the rings (walking round all rings again with new azimuths until
N points are written); bench/scale.sh makes its large files this way:

    python3 examples/make_points.py --points 1000000 > points.dat

Geometry model (that of vabo): a pixel (i1, i2) sits at
X = Rz(rot3) Ry(rot2) Rx(rot1) ((i1 - cen1) pix1, (i2 - cen2) pix2, -dis),
the beam runs along -axis 3, and TwoTheta = atan2(sqrt(X0^2 + X1^2), -X2).
"""

import argparse
import math
import random
import sys

# Calibrant: LaB6 (NIST SRM 660c), simple cubic, every (h k l) reflects.
LATTICE_A = 4.156826e-10          # m
WAVELENGTH = 0.72932e-10          # m (17.0 keV)

# The true geometry of the example.
PIX1 = 75e-6                      # m
PIX2 = 75e-6                      # m
CEN1 = 1021.3                     # pixels
CEN2 = 978.6                      # pixels
DIS = 0.2035                      # m
ROT1 = math.radians(3.0)          # rad
ROT2 = math.radians(-2.0)         # rad
ROT3 = 0.0                        # rad (a turn about the beam: not refinable)

NPIX1 = 2000                      # detector size, pixels along i1
NPIX2 = 2000                      # and along i2
POINTS_PER_RING = 24              # azimuths tried on each ring
PIXEL_NOISE = 0.03                # pixels, about 1.1e-5 rad at this distance
SEED = 20131209


class OneLineParser(argparse.ArgumentParser):
    """argparse that reports bad arguments in one line on standard error."""

    def error(self, message):
        sys.stderr.write("%s: %s\n" % (self.prog, message))
        sys.exit(2)


def rotation(rot1, rot2, rot3):
    """Rz(rot3) Ry(rot2) Rx(rot1) as a list of rows."""
    c1, s1 = math.cos(rot1), math.sin(rot1)
    c2, s2 = math.cos(rot2), math.sin(rot2)
    c3, s3 = math.cos(rot3), math.sin(rot3)
    rx = [[1, 0, 0], [0, c1, -s1], [0, s1, c1]]
    ry = [[c2, 0, s2], [0, 1, 0], [-s2, 0, c2]]
    rz = [[c3, -s3, 0], [s3, c3, 0], [0, 0, 1]]
    return matmul(rz, matmul(ry, rx))


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)]
            for i in range(3)]


# The rotation of the true geometry, computed once.
TRUE_ROTATION = rotation(ROT1, ROT2, ROT3)


def two_theta(i1, i2):
    """Scattering angle of pixel (i1, i2) in the true geometry, radians."""
    r = TRUE_ROTATION
    n = [(i1 - CEN1) * PIX1, (i2 - CEN2) * PIX2, -DIS]
    x = [sum(r[i][j] * n[j] for j in range(3)) for i in range(3)]
    return math.atan2(math.hypot(x[0], x[1]), -x[2])


def pixel_of(tth, chi):
    """Pixel hit by the ray of scattering angle tth at azimuth chi, or None
    when the ray misses the detector plane."""
    d = [math.sin(tth) * math.cos(chi), math.sin(tth) * math.sin(chi),
         -math.cos(tth)]
    r = TRUE_ROTATION
    # N = t R^T d with N[2] = -dis.
    rtd = [sum(r[j][i] * d[j] for j in range(3)) for i in range(3)]
    if rtd[2] >= 0:
        return None
    t = -DIS / rtd[2]
    return CEN1 + t * rtd[0] / PIX1, CEN2 + t * rtd[1] / PIX2


def ring_angles():
    """(hkl text, TwoTheta) of the LaB6 rings, ascending angle."""
    rings = {}
    for h in range(0, 8):
        for k in range(0, h + 1):
            for l in range(0, k + 1):
                m = h * h + k * k + l * l
                if m == 0 or m in rings:
                    continue
                s = WAVELENGTH * math.sqrt(m) / (2 * LATTICE_A)
                if s < 1:
                    rings[m] = ("%d%d%d" % (h, k, l), 2 * math.asin(s))
    return [rings[m] for m in sorted(rings)]


def on_detector(tth):
    """Whether some of POINTS_PER_RING evenly spaced azimuths of the ring of
    angle tth hit the detector."""
    for n in range(POINTS_PER_RING):
        hit = pixel_of(tth, 2 * math.pi * n / POINTS_PER_RING)
        if hit is not None and 0 <= hit[0] < NPIX1 and 0 <= hit[1] < NPIX2:
            return True
    return False


def ring_lines(rng, tth, count):
    """Lines of up to count points at about evenly spaced azimuths on the
    ring of angle tth; azimuths whose pixel is off the detector give none."""
    lines = []
    for n in range(count):
        chi = 2 * math.pi * (n + rng.uniform(-0.3, 0.3)) / count
        hit = pixel_of(tth, chi)
        if hit is None:
            continue
        i1 = hit[0] + rng.gauss(0, PIXEL_NOISE)
        i2 = hit[1] + rng.gauss(0, PIXEL_NOISE)
        if not (0 <= i1 < NPIX1 and 0 <= i2 < NPIX2):
            continue
        # The noise-free pixel lies on the ring: a check of pixel_of.
        assert abs(two_theta(*hit) - tth) < 1e-12
        lines.append("%.10f  %10.3f  %10.3f" % (tth, i1, i2))
    return lines


def main(argv=None):
    parser = OneLineParser(
        description="Write LaB6 calibration points of a known detector "
                    "geometry to standard output.")
    parser.add_argument("--points", type=int, metavar="N",
                        help="write exactly N points (default: %d azimuths "
                             "per ring, once round the rings)"
                             % POINTS_PER_RING)
    args = parser.parse_args(argv)
    if args.points is not None and args.points < 1:
        parser.error("--points must be at least 1, not %d" % args.points)

    rng = random.Random(SEED)
    print("# Calibration points of LaB6 (SRM 660c, a = 4.156826 A) at a "
          "wavelength of 0.72932 A (17.0 keV),")
    print("# made by examples/make_points.py from a known geometry:")
    print("#   detector %d x %d pixels of 75 um, pix1=75_um pix2=75_um "
          "cen1=%g cen2=%g" % (NPIX1, NPIX2, CEN1, CEN2))
    print("#   dis=%g_mm rot1=3_deg rot2=-2_deg rot3=0" % (DIS * 1e3))
    print("# truth: " + " ".join(repr(v) for v in
                                 (PIX1, PIX2, CEN1, CEN2, DIS, ROT1, ROT2,
                                  ROT3)))
    print("# Pixel positions carry Gaussian noise of %g pixels "
          "(about 1e-5 rad); the ring angles are exact." % PIXEL_NOISE)
    print("#TwoTheta_rad     i1_pixel    i2_pixel    (ring hkl)")
    rings = ring_angles()
    wanted = args.points
    per_ring = POINTS_PER_RING
    if wanted is not None:
        rings = [ring for ring in rings if on_detector(ring[1])]
        per_ring = max(1, -(-wanted // len(rings)))
    npoints = 0
    while True:
        for hkl, tth in rings:
            lines = ring_lines(rng, tth, per_ring)
            if wanted is not None:
                lines = lines[:wanted - npoints]
            if lines:
                print("# ring %s: %d points" % (hkl, len(lines)))
                print("\n".join(lines))
                npoints += len(lines)
        if wanted is None or npoints >= wanted:
            break
    print("# %d points" % npoints)
    return 0


if __name__ == "__main__":
    sys.exit(main())
