#!/usr/bin/env python3
"""Cross-check of vabo's built-in calibrants against pyFAI.

Two independent sources of truth for every ring (d, label, multiplicity):

* the calibrant files pyFAI ships: every ring's d to 1e-8 relative (or
  half a unit of the file's last digit, which is larger below 0.5
  Angstrom), its label, and its multiplicity where the file gives one.
  Ni.D has another cell (3.52387 Angstrom), so its d-spacings are compared
  after scaling by the ratio of the cells; CeO2.D leaves out three allowed
  rings near 0.42 Angstrom, which must be the only ones it lacks;
* pyFAI's own enumeration of reflections, pyFAI.calibrant.Cell, fed with
  vabo's cells: d to 1e-12 relative, the label (the last reflection of the
  ring that pyFAI's scan meets) and the multiplicity.

Corundum differs.  pyFAI's alpha_Al2O3.D has another cell, so only its
sequence of labels and the ratios of its d-spacings are compared; its labels
and multiplicities are those of both settings of the rhombohedral lattice
(obverse and reverse) at once, so the labels are compared as (h, k, |l|),
and its multiplicities, twice vabo's where the settings differ, are left
out.  It also lists (2, 0, 7), which the c glides of R-3c forbid (l odd on
the zone h 0 l), where (3, 0, 0) stands.  The full comparison is with
pyFAI's Cell, given the reflection conditions of R-3c (obverse) as rules:
pyFAI's own "R" type is the reverse setting.

vabo's rings come from the probe program (vabo_calibrant_probe).
"""

import argparse
import os
import re
import subprocess
import sys

import pyFAI.calibrant

CALIBRATION_DIR = os.path.join(os.path.dirname(pyFAI.calibrant.__file__),
                               "resources", "calibration")
ANGSTROM = 1e-10
FILE_TOLERANCE = 1e-8   # relative, against the digits of pyFAI's files
CELL_TOLERANCE = 1e-12  # relative, against pyFAI's computation in double
RATIO_TOLERANCE = 5e-4  # relative; corundum's cells differ by 4e-4 in a
# pyFAI's Ni.D lists d of the cell a = 3.52387 Angstrom (its (1 1 1) is
# 2.03450729 = 3.52387 / sqrt(3)), not the 3.5239 of its header and of vabo.
NI_FILE_CELL = 3.52387
# Rings of fluorite that pyFAI's CeO2.D leaves out below 0.45 Angstrom,
# though they are allowed (all indices even) and pyFAI's own Cell lists them.
CEO2_OMITTED = ((12, 2, 0), (9, 9, 1), (10, 6, 6))
LABEL = re.compile(r"\(\s*(-?\d+)\s*,\s*(-?\d+)\s*,\s*(-?\d+)\s*\)\s*(\d+)?")


def corundum_cell(a, c):
    """pyFAI's hexagonal cell with the reflection conditions of R-3c on
    hexagonal axes, obverse setting."""
    cell = pyFAI.calibrant.Cell.hexagonal(a, c)
    cell.selection_rules.append(lambda h, k, l: (-h + k + l) % 3 == 0)
    cell.selection_rules.append(
        lambda h, k, l: (h != 0 and k != 0 and h + k != 0) or l % 2 == 0)
    return cell


# vabo's name, pyFAI's file (None: another cell), the ratio of the file's
# cell to vabo's, the rings vabo has that the file lacks, pyFAI's Cell with
# vabo's cell.
CELLS = [
    ("LaB6", "LaB6_SRM660c.D", 1.0, (), pyFAI.calibrant.Cell.cubic(4.156826)),
    ("CeO2", "CeO2.D", 1.0, CEO2_OMITTED,
     pyFAI.calibrant.Cell.cubic(5.411651, "F")),
    ("Si", "Si_SRM640e.D", 1.0, (), pyFAI.calibrant.Cell.diamond(5.431179)),
    ("Au", "Au.D", 1.0, (), pyFAI.calibrant.Cell.cubic(4.0782, "F")),
    ("Ni", "Ni.D", NI_FILE_CELL / 3.5239, (),
     pyFAI.calibrant.Cell.cubic(3.5239, "F")),
    ("AgBh", "AgBh.D", 1.0, (), None),
    ("Al2O3", None, 1.0, (), corundum_cell(4.759091, 12.991779)),
]


def probe_rings(probe, name, dmin):
    """vabo's rings of name down to dmin (m): [(d in Angstrom, hkl, m)]."""
    run = subprocess.run([probe, name, "%.17g" % dmin], capture_output=True,
                         text=True, check=False)
    if run.returncode != 0:
        sys.exit("vabo_calibrant_probe %s failed (%d): %s"
                 % (name, run.returncode, run.stderr.strip()))
    lines = run.stdout.splitlines()
    if lines[0] != name:
        sys.exit("vabo_calibrant_probe %s named it %r" % (name, lines[0]))
    rings = []
    for line in lines[1:]:
        d, h, k, l, m = line.split()
        rings.append((float(d) / ANGSTROM, (int(h), int(k), int(l)), int(m)))
    return rings


def half_unit(text):
    """Half a unit of the last digit of the number text."""
    mantissa, _, exponent = text.lower().partition("e")
    decimals = len(mantissa.partition(".")[2])
    return 0.5 * 10.0 ** (int(exponent or 0) - decimals)


def read_pyfai_file(path):
    """pyFAI's calibrant file: [(d text, d, hkl, multiplicity or None)]."""
    rings = []
    with open(path) as f:
        for line in f:
            value, _, comment = line.partition("#")
            if not value.strip():
                continue
            label = LABEL.search(comment)
            hkl = tuple(int(label.group(i)) for i in (1, 2, 3))
            m = int(label.group(4)) if label.group(4) else None
            rings.append((value.strip(), float(value), hkl, m))
    return rings


def cell_rings(cell, dmin):
    """pyFAI's rings of cell down to dmin (Angstrom): [(d, label, m)], the
    label being the last reflection pyFAI's scan adds to the ring."""
    found = cell.d_spacing(dmin).values()
    return sorted(((r[0], tuple(r[-1]), len(r) - 1) for r in found),
                  reverse=True)


class Report:
    """Counts the disagreements and prints them."""

    def __init__(self):
        self.failures = 0

    def check(self, holds, what):
        if not holds:
            self.failures += 1
            print("MISMATCH " + what)


def against_file(report, probe, name, path, scale, omitted):
    """Every ring of pyFAI's file against vabo's ring of the same d: d (times
    scale, the ratio of the file's cell to vabo's), label, multiplicity;
    the rings of vabo that the file lacks must be those of omitted."""
    expected = read_pyfai_file(path)
    dmin = min(r[1] for r in expected) * (1 - 1e-6) / scale
    ours = probe_rings(probe, name, dmin * ANGSTROM)
    unmatched = {r[1] for r in ours}
    worst = 0.0
    for text, fd, fhkl, fm in expected:
        d, hkl, m = min(ours, key=lambda r: abs(r[0] * scale - fd))
        d *= scale
        unmatched.discard(hkl)
        worst = max(worst, abs(d - fd) / fd)
        report.check(abs(d - fd) <= max(FILE_TOLERANCE * fd, half_unit(text)),
                     "%s: d %.10f, file %s" % (name, d, text))
        report.check(hkl == fhkl, "%s: %s at d %s, file %s" % (name, hkl, text, fhkl))
        report.check(fm is None or m == fm,
                     "%s: multiplicity %d of %s, file %s" % (name, m, hkl, fm))
    report.check(unmatched == set(omitted), "%s: rings %s not in %s"
                 % (name, sorted(unmatched), os.path.basename(path)))
    print("%s: %d rings as in %s (d within %.1e%s)"
          % (name, len(expected), os.path.basename(path), worst,
             ", its cell scaled by %.8f" % scale if scale != 1 else ""))


def against_cell(report, probe, name, cell, dmin):
    expected = cell_rings(cell, dmin)
    ours = probe_rings(probe, name, dmin * ANGSTROM)
    report.check(len(ours) == len(expected), "%s: %d rings, pyFAI's Cell %d"
                 % (name, len(ours), len(expected)))
    worst = 0.0
    for mine, theirs in zip(ours, expected):
        worst = max(worst, abs(mine[0] - theirs[0]) / theirs[0])
        report.check(abs(mine[0] - theirs[0]) <= CELL_TOLERANCE * theirs[0]
                     and mine[1:] == theirs[1:],
                     "%s: %s, pyFAI's Cell %s" % (name, mine, theirs))
    print("%s: %d rings as pyFAI's Cell computes them (d within %.1e)"
          % (name, len(expected), worst))


def silver_behenate(report, probe):
    """AgBh: d = 58.380 Angstrom / n, reflections (0 0 n) and (0 0 -n)."""
    ours = probe_rings(probe, "AgBh", 0.4 * ANGSTROM)
    report.check(len(ours) == 145, "AgBh: %d rings down to 0.4 A" % len(ours))
    for n, (d, hkl, m) in enumerate(ours, start=1):
        report.check(abs(d - 58.380 / n) <= 1e-14 * d and hkl == (0, 0, n)
                     and m == 2, "AgBh: ring %d is %s" % (n, (d, hkl, m)))


def corundum_file(report, probe):
    expected = read_pyfai_file(os.path.join(CALIBRATION_DIR, "alpha_Al2O3.D"))
    forbidden = {(2, 0, 7): (3, 0, 0)}  # see the module's docstring
    ours = probe_rings(probe, "Al2O3", 0.9 * ANGSTROM)[:len(expected)]
    for (d, hkl, _), (text, fd, fhkl, _) in zip(ours, expected):
        fhkl = forbidden.get(fhkl, fhkl)
        report.check((hkl[0], hkl[1], abs(hkl[2])) == fhkl,
                     "Al2O3: %s at d %.8f, alpha_Al2O3.D %s" % (hkl, d, fhkl))
        if fhkl == (3, 0, 0):
            continue
        ratio, fratio = d / ours[0][0], fd / expected[0][1]
        report.check(abs(ratio - fratio) <= RATIO_TOLERANCE * fratio,
                     "Al2O3: d ratio %.8f of %s, alpha_Al2O3.D %.8f"
                     % (ratio, hkl, fratio))
    print("Al2O3: the %d rings of alpha_Al2O3.D in order and ratio"
          % len(expected))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--probe", required=True,
                        help="the program vabo_calibrant_probe")
    args = parser.parse_args(argv)
    report = Report()
    for name, pyfai_file, scale, omitted, cell in CELLS:
        if pyfai_file:
            against_file(report, args.probe, name,
                         os.path.join(CALIBRATION_DIR, pyfai_file), scale,
                         omitted)
        if cell is not None:
            against_cell(report, args.probe, name, cell, 0.4)
    silver_behenate(report, args.probe)
    corundum_file(report, args.probe)
    if report.failures:
        print("%d disagreements" % report.failures)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
