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

--seed and --noise (pixels) change the random draw and the noise, and
--wrong-ring F moves the fraction F of the points, chosen at random, to the
angle of a neighbouring ring (the commonest error of automatic ring
picking), each such line ending in the comment "# wrong ring"; bench/
robust.py makes its data this way:

    python3 examples/make_points.py --points 2000 --noise 0.27 --seed 3 \
        --wrong-ring 0.05 > points.dat

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


def ring_pixels(rng, tth, count, noise):
    """Noisy pixels (i1, i2) of up to count points at about evenly spaced
    azimuths on the ring of angle tth; azimuths whose pixel is off the
    detector give none."""
    pixels = []
    for n in range(count):
        chi = 2 * math.pi * (n + rng.uniform(-0.3, 0.3)) / count
        hit = pixel_of(tth, chi)
        if hit is None:
            continue
        i1 = hit[0] + rng.gauss(0, noise)
        i2 = hit[1] + rng.gauss(0, noise)
        if not (0 <= i1 < NPIX1 and 0 <= i2 < NPIX2):
            continue
        # The noise-free pixel lies on the ring: a check of pixel_of.
        assert abs(two_theta(*hit) - tth) < 1e-12
        pixels.append((i1, i2))
    return pixels


def plant_wrong_rings(batches, all_rings, fraction, seed):
    """Gives round(fraction * points) points, chosen at random, the angle of
    a ring next to their own in all_rings.  batches: [ring position in
    all_rings, hkl, points], each point a list [tth, i1, i2, comment]."""
    points = [(position, point) for position, _, ring_points in batches
              for point in ring_points]
    rng = random.Random("wrong ring %d" % seed)
    for position, point in rng.sample(points, round(fraction * len(points))):
        neighbours = [p for p in (position - 1, position + 1)
                      if 0 <= p < len(all_rings)]
        point[0] = all_rings[rng.choice(neighbours)][1]
        point[3] = "  # wrong ring"


def approximate(value):
    """value with one significant digit, as 1e-5 (no padded exponent)."""
    mantissa, exponent = ("%.0e" % value).split("e")
    return "%se%d" % (mantissa, int(exponent))


def main(argv=None):
    parser = OneLineParser(
        description="Write LaB6 calibration points of a known detector "
                    "geometry to standard output.")
    parser.add_argument("--points", type=int, metavar="N",
                        help="write exactly N points (default: %d azimuths "
                             "per ring, once round the rings)"
                             % POINTS_PER_RING)
    parser.add_argument("--seed", type=int, default=SEED,
                        help="seed of the random draws (default %d)" % SEED)
    parser.add_argument("--noise", type=float, default=PIXEL_NOISE,
                        metavar="PIXELS",
                        help="standard deviation of the Gaussian noise of "
                             "the pixel positions (default %g)" % PIXEL_NOISE)
    parser.add_argument("--wrong-ring", type=float, default=0.0,
                        metavar="F",
                        help="move the fraction F of the points to the angle "
                             "of a neighbouring ring (default 0)")
    args = parser.parse_args(argv)
    if args.points is not None and args.points < 1:
        parser.error("--points must be at least 1, not %d" % args.points)
    if not args.noise >= 0:
        parser.error("--noise must be at least 0, not %g" % args.noise)
    if not 0 <= args.wrong_ring <= 1:
        parser.error("--wrong-ring must lie between 0 and 1, not %g"
                     % args.wrong_ring)

    rng = random.Random(args.seed)
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
          "(about %s rad); the ring angles are exact."
          % (args.noise, approximate(args.noise * PIX1 / DIS)))
    if args.wrong_ring > 0:
        print("# A fraction %g of the points carries the angle of a "
              "neighbouring ring." % args.wrong_ring)
    print("#TwoTheta_rad     i1_pixel    i2_pixel    (ring hkl)")
    all_rings = ring_angles()
    rings = list(enumerate(all_rings))
    wanted = args.points
    per_ring = POINTS_PER_RING
    if wanted is not None:
        rings = [ring for ring in rings if on_detector(ring[1][1])]
        per_ring = max(1, -(-wanted // len(rings)))
    batches = []
    npoints = 0
    while True:
        for position, (hkl, tth) in rings:
            pixels = ring_pixels(rng, tth, per_ring, args.noise)
            if wanted is not None:
                pixels = pixels[:wanted - npoints]
            if pixels:
                batches.append((position, hkl, [[tth, i1, i2, ""]
                                                for i1, i2 in pixels]))
                npoints += len(pixels)
        if wanted is None or npoints >= wanted:
            break
    if args.wrong_ring > 0:
        plant_wrong_rings(batches, all_rings, args.wrong_ring, args.seed)
    for _, hkl, points in batches:
        print("# ring %s: %d points" % (hkl, len(points)))
        print("\n".join("%.10f  %10.3f  %10.3f%s" % tuple(point)
                        for point in points))
    print("# %d points" % npoints)
    return 0


if __name__ == "__main__":
    sys.exit(main())
