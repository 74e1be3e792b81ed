#!/usr/bin/python3
"""Checks tools/vabo-plot on an iteration log written by vabo.

  vabo_plot_check.py TOOL LOG

Runs the tool in the log's directory: a picture in each format (PNG of at
least 1000 x 700 pixels), the per-ring table against sums computed here from
the text of the log, and every kind of bad input (one line on standard
error, exit status 2, no picture).  Exit 1 on the first mismatch.
"""
import math
import os
import struct
import subprocess
import sys

URAD = 1e6


def fail(message):
    print("vabo_plot_check: " + message)
    sys.exit(1)


def run(tool, args, cwd):
    return subprocess.run([tool] + args, cwd=cwd, capture_output=True,
                          text=True, timeout=120)


def raw_scans(text):
    """{scan number: data rows as tuples of floats}, from the log's text."""
    scans, rows = {}, None
    for line in text.split("\r\n"):
        if line.startswith("#S "):
            rows = scans.setdefault(int(line[3:]), [])
        elif line and not line.startswith("#") and rows is not None:
            rows.append(tuple(float(field) for field in line.split()))
    return scans


def expected_table(rows):
    """(weighted stdev, [(target deg, points, mean, rms)]) in urad; mean and
    rms are None for a ring whose weights add up to 0."""
    rings = {}
    for _, _, _, weight, target, diff in rows:
        rings.setdefault(target, []).append((weight, diff))
    table = []
    for target in sorted(rings):
        points = rings[target]
        total = sum(w for w, _ in points)
        mean = rms = None
        if total > 0:
            mean = sum(w * d for w, d in points) / total * URAD
            rms = math.sqrt(sum(w * d * d for w, d in points) / total) * URAD
        table.append((math.degrees(target), len(points), mean, rms))
    total = sum(row[3] for row in rows)
    stdev = math.sqrt(sum(row[3] * row[5] ** 2 for row in rows) / (total - 1))
    return stdev * URAD, table


def check_table(name, stdout, rows):
    stdev, want = expected_table(rows)
    lines = stdout.splitlines()
    head = lines[0].split()
    if not math.isclose(float(head[head.index("stdev") + 1]), stdev,
                        rel_tol=1e-5):
        fail("%s: header %r, expected stdev %.6g urad" % (name, lines[0],
                                                          stdev))
    got = [line.split() for line in lines if not line.startswith("#")]
    if len(got) != len(want):
        fail("%s: %d rings in the table, expected %d" % (name, len(got),
                                                         len(want)))
    for fields, (angle, points, mean, rms) in zip(got, want):
        ok = (math.isclose(float(fields[0]), angle, abs_tol=1e-5)
              and int(fields[1]) == points)
        for text, value in ((fields[2], mean), (fields[3], rms)):
            ok = ok and (text == "-" if value is None else
                         math.isclose(float(text), value, abs_tol=1e-3))
        if not ok:
            fail("%s: ring %r, expected %r" % (name, fields,
                                               (angle, points, mean, rms)))


def check_picture(name, path, fmt):
    with open(path, "rb") as stream:
        data = stream.read()
    if fmt == "png":
        if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
            fail("%s: %s is not a PNG" % (name, path))
        width, height = struct.unpack(">II", data[16:24])
        if width < 1000 or height < 700:
            fail("%s: picture of %d x %d pixels" % (name, width, height))
    elif fmt == "svg" and b"<svg" not in data[:2000]:
        fail("%s: %s is not an SVG picture" % (name, path))
    elif fmt == "pdf" and not data.startswith(b"%PDF"):
        fail("%s: %s is not a PDF" % (name, path))


def check_pictures(tool, log, scans):
    cwd = os.path.dirname(log)
    last = max(scans)
    # name, arguments, picture, format, step whose rings the table shows
    cases = [
        ("defaults", [], "vabo_fit.png", "png", last),
        ("step 0 as SVG", ["--step", "0", "-o", "fit.svg"], "fit.svg", "svg",
         0),
        ("step 1 as PDF", [log, "--step=1", "--output", "fit.pdf"],
         "fit.pdf", "pdf", 1),
    ]
    for name, args, picture, fmt, step in cases:
        result = run(tool, args, cwd)
        if result.returncode != 0 or result.stderr:
            fail("%s: exit %d, stderr %r" % (name, result.returncode,
                                             result.stderr))
        check_table(name, result.stdout, scans[step])
        check_picture(name, os.path.join(cwd, picture), fmt)


def check_bad_input(tool, log, text):
    bad = os.path.join(os.path.dirname(log), "bad")
    os.mkdir(bad)
    last_field = text.rindex("\t", 0, len(text) - 2)
    second_scan = text.index("\r\n#S 1\r\n")
    second_row = text.index("\r\n1\t") + 2
    files = {
        "text.txt": "calibration done\nstdev small\n",
        "other.spec": "\r\n#S 1\r\n#N 2\r\n#L a  b\r\n1 2\r\n",
        "empty.spec": "",
        "header.spec": "#F run.spec\r\n#E 1386547200\r\n",
        # silx leaves a row of the wrong length out: the last, the second
        "short_last.spec": text[:last_field] + "\r\n",
        "short_row.spec": text[:second_row + 1] + text[text.index(
            "\r\n", second_row):],
        # silx reads the nan of a diverged refinement as 0
        "nan.spec": text[:second_scan].replace("rot1=0 ", "rot1=-nan ", 1),
        # silx raises on a header that is not UTF-8 (here a Latin-1 mu)
        "latin1.spec": text[:second_scan].replace("# Step", "# \xb5Step", 1),
        # silx joins two label lines with a line end
        "two_labels.spec": text[:second_scan].replace("#L ", "#L x\r\n#L ", 1),
    }
    for name, content in files.items():
        with open(os.path.join(bad, name), "w", newline="",
                  encoding="latin-1") as stream:
            stream.write(content)
    with open(os.path.join(bad, "vabo_iteration.spec"), "w",
              newline="") as stream:
        stream.write(text)
    cases = [
        (["missing.spec"], "cannot read missing.spec: No such file"),
        (["text.txt"], "text.txt is not an iteration log of vabo"),
        (["other.spec"], "other.spec is not an iteration log of vabo"),
        (["empty.spec"], "empty.spec holds no scans"),
        (["header.spec"], "header.spec holds no scans"),
        (["--step", "99"], "has no step 99"),
        (["--step", "-1"], "has no step -1"),
        (["short_last.spec"], "a data row cannot be read"),
        (["short_row.spec"], "does not number its rows"),
        (["nan.spec"], "step 0 has parameters that are not finite"),
        (["latin1.spec"], "latin1.spec is not an iteration log of vabo"),
        (["two_labels.spec"], "two_labels.spec is not an iteration log"),
        (["--step", "two"], "invalid int value"),
        (["-o", "fit.jpg"], "cannot tell the format of fit.jpg"),
    ]
    before = sorted(os.listdir(bad))
    for args, message in cases:
        result = run(tool, args, bad)
        if (result.returncode != 2 or result.stdout
                or result.stderr.count("\n") != 1
                or not result.stderr.startswith("vabo-plot: ")
                or message not in result.stderr):
            fail("%r: exit %d, stdout %r, stderr %r" % (
                args, result.returncode, result.stdout, result.stderr))
        if sorted(os.listdir(bad)) != before:
            fail("%r left %r" % (args, sorted(os.listdir(bad))))
    result = run(tool, ["--help"], bad)
    if result.returncode != 0 or not result.stdout.startswith("usage: "):
        fail("--help: exit %d, stdout %r" % (result.returncode,
                                             result.stdout))


def main(argv):
    if len(argv) != 3:
        fail("usage: vabo_plot_check.py TOOL LOG")
    tool, log = argv[1], os.path.abspath(argv[2])
    with open(log, newline="") as stream:
        text = stream.read()
    scans = raw_scans(text)
    if len(scans) < 3:
        fail("the log holds %d scans; the checks need 3" % len(scans))
    check_pictures(tool, log, scans)
    check_bad_input(tool, log, text)
    print("vabo_plot_check: pictures, ring tables and bad input checked")


if __name__ == "__main__":
    main(sys.argv)
