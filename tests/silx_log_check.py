#!/usr/bin/python3
"""Cross-check of vabo's iteration log with silx's SPEC-file reader.

  silx_log_check.py points            writes exact synthetic points to stdout
  silx_log_check.py check LOG POINTS NSCANS
                                      reads LOG with silx and checks scan
                                      numbers, labels and rows; exit 1 on
                                      the first mismatch

The points are made by a forward model written here (Rz Ry Rx applied to
the pixel vector), independent of vabo's own model.
"""
import math
import sys

TRUE = dict(pix1=75e-6, pix2=75e-6, cen1=1024.3, cen2=987.6, dis=0.2013,
            rot1=0.0312, rot2=-0.0207, rot3=0.0)
# The start values the shell script passes on vabo's command line.
START = dict(pix1=75e-6, pix2=75e-6, cen1=1030.1, cen2=981.9, dis=0.2051,
             rot1=0.0297, rot2=-0.0219, rot3=0.0)
LABELS = ["number", "angle/rad", "azimuth/rad", "Weight", "Target/rad",
          "Difference/rad"]
LABEL_LINE = ("#L number\t  angle/rad\t  azimuth/rad\t  Weight\t  "
              "Target/rad\t  Difference/rad")


def model(p, i1, i2):
    """Scattering angle and azimuth (rad) of pixel (i1, i2)."""
    x = (i1 - p["cen1"]) * p["pix1"]
    y = (i2 - p["cen2"]) * p["pix2"]
    z = -p["dis"]
    c, s = math.cos(p["rot1"]), math.sin(p["rot1"])
    y, z = c * y - s * z, s * y + c * z
    c, s = math.cos(p["rot2"]), math.sin(p["rot2"])
    x, z = c * x + s * z, -s * x + c * z
    c, s = math.cos(p["rot3"]), math.sin(p["rot3"])
    x, y = c * x - s * y, s * x + c * y
    return math.atan2(math.hypot(x, y), -z), math.atan2(y, x)


def points():
    """(angle, i1, i2, weight) on a 6 x 5 grid; weight None = default 1."""
    rows = []
    for a in range(6):
        for b in range(5):
            i1 = 57.3 + a * 371.9 + 11.3 * b
            i2 = 88.1 + b * 455.7 - 7.9 * a
            weight = None if (a + b) % 3 == 0 else 0.25 + 0.125 * ((a * 5 + b) % 7)
            rows.append((model(TRUE, i1, i2)[0], i1, i2, weight))
    return rows


def write_points():
    for angle, i1, i2, weight in points():
        line = "%r %r %r" % (angle, i1, i2)
        if weight is not None:
            line += " %r" % weight
        print(line)


def fail(message):
    print("silx_log_check: " + message)
    sys.exit(1)


def close(got, want, rel, absolute=0.0):
    return abs(got - want) <= rel * abs(want) + absolute


def check(log, nscans):
    from silx.io.specfile import SpecFile

    with open(log, "rb") as f:
        raw = f.read()
    if raw.count(b"\n") != raw.count(b"\r\n") or raw.count(b"\r") != raw.count(b"\r\n"):
        fail("line ends are not all CRLF")

    pts = points()
    sf = SpecFile(log)
    keys = list(sf.keys())
    want_keys = ["%d.1" % n for n in range(nscans)]
    if keys != want_keys:
        fail("scans %r, expected %r" % (keys, want_keys))
    for n in range(nscans):
        scan = sf[n]
        if scan.number != n:
            fail("scan %d reports number %d" % (n, scan.number))
        # silx keeps the tab (and the last label's CR) at the label ends.
        labels = [label.strip() for label in scan.labels]
        if labels != LABELS:
            fail("scan %d labels %r" % (n, scan.labels))
        header = [line.rstrip("\r") for line in scan.header]
        if LABEL_LINE not in header or "#N 6" not in header:
            fail("scan %d header %r" % (n, header))
        if not any(line.startswith("# Step%03d = " % n) for line in header):
            fail("scan %d has no Step%03d line" % (n, n))
        data = scan.data
        if data.shape != (6, len(pts)):
            fail("scan %d data shape %r" % (n, data.shape))
        for i, (angle, i1, i2, weight) in enumerate(pts):
            number, model_angle, azimuth, w, target, diff = data[:, i]
            if number != i:
                fail("scan %d row %d numbered %r" % (n, i, number))
            if not close(w, 1.0 if weight is None else weight, 1e-5):
                fail("scan %d row %d weight %r" % (n, i, w))
            if not close(target, angle, 1e-5):
                fail("scan %d row %d target %r, expected %r" % (n, i, target, angle))
            if not close(diff, target - model_angle, 0, 2e-6):
                fail("scan %d row %d difference %r" % (n, i, diff))
            if n == 0:
                want_angle, want_azimuth = model(START, i1, i2)
                if not close(model_angle, want_angle, 1e-5):
                    fail("row %d angle %r, model %r" % (i, model_angle, want_angle))
                if not close(azimuth, want_azimuth, 1e-5, 1e-6):
                    fail("row %d azimuth %r, model %r" % (i, azimuth, want_azimuth))
    print("silx_log_check: %d scans of %d rows read back by silx" % (nscans, len(pts)))


def main(argv):
    if len(argv) == 2 and argv[1] == "points":
        write_points()
    elif len(argv) == 5 and argv[1] == "check":
        check(argv[2], int(argv[4]))
    else:
        fail("usage: silx_log_check.py points | check LOG POINTS NSCANS")


if __name__ == "__main__":
    main(sys.argv)
