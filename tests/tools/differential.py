#!/usr/bin/env python3
"""Differential run of two vabo binaries: every byte must stay.

    tests/tools/differential.py OLD NEW [--source DIR] [--keep]

Runs both programs on the same table of cases -- plain runs, every debug
switch, the options, the result files, the robust options, failing runs
of every kind -- each in a fresh directory of its own, and compares
standard output, standard error (with the program path replaced), the exit
status, the iteration log and the result files (the PONI file's date line
excepted).  Prints one line per case and a summary; exit status 0 when
every case is the same, 1 otherwise.  A tool for changes that must not
change what the program writes for inputs that use no new option: build
the program before the change, keep the binary, build after it, run this.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))

START = ["75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"]
FILES = ("result.json", "result.poni", "vabo_iteration.spec")


def example_lines(source):
    with open(os.path.join(source, "examples", "points.dat")) as f:
        return f.read().splitlines(keepends=True)


def cases(source):
    """(label, arguments, standard input text or None, data files)."""
    lines = example_lines(source)
    points = [line for line in lines if line.strip() and line[0] != "#"]
    few = "".join(points[::4])
    outliers = few + "0.2 1400 845\n0.25 700 700\n"
    weighted = "".join(points[:20]) + points[20].rstrip("\n") + " -2\n" + \
        "".join(p.rstrip("\n") + " 0.5\n" for p in points[21:40])
    table = [
        ("defaults", [], None),
        ("debug=1", ["debug=1"], None),
        ("debug=3", ["debug=3"], None),
        ("debug=5", ["debug=5"], None),
        ("debug=7", ["debug=7"], None),
        ("debug=8", ["debug=8"], few),
        ("debug=16", ["debug=0x10"], few),
        ("debug=32", ["debug=0x20"], few),
        ("debug=64", ["debug=0x40"], few),
        ("debug=128", ["debug=128"], None),
        ("debug=129", ["debug=129"], None),
        ("debug=255", ["debug=255"], few),
        ("maxiter=2", ["maxiter=2"], None),
        ("maxiter=0", ["maxiter=0"], None),
        ("mindev", ["mindev=1_urad"], None),
        ("maxdev=0", ["maxdev=0"], None),
        ("maxdev=1_urad json", ["maxdev=1_urad", "json=result.json"], None),
        ("rot3 refined", ["json=result.json"], None, ["~0"]),
        ("pix refined", ["json=result.json", "poni=result.poni"], None,
         ["~75_um", "~75_um"]),
        ("all kept", ["json=result.json"], None,
         ["=75_um", "=75_um", "=1000", "=1000", "=20_cm", "=0", "=0", "=0"]),
        ("json poni wavelength", ["json=result.json", "poni=result.poni",
                                  "wavelength=0.72932_Ao"], None),
        ("json debug=129", ["json=result.json", "debug=129"], None),
        ("json trace", ["json=result.json", "debug=0x20"], few),
        ("json showtemp", ["json=result.json", "debug=0x10"], few),
        ("weights", ["json=result.json"], weighted),
        ("reject=4", ["reject=4", "json=result.json"], outliers),
        ("reject debug=129", ["reject=3", "debug=129", "json=result.json"],
         outliers),
        ("reject trace", ["reject=3", "debug=0x20"], outliers),
        ("method=lm", ["method=lm", "debug=1", "json=result.json"], None),
        ("method=lm log", ["method=lm", "debug=128"], few),
        ("method=gn", ["method=gn", "json=result.json"], None),
        ("lm reject", ["method=lm", "reject=5", "json=result.json"],
         outliers),
        ("bad reject", ["reject=0"], None),
        ("bad reject text", ["reject=abc"], None),
        ("bad reject trailing", ["reject=3 x"], None),
        ("bad method", ["method=foo"], None),
        ("bad wavelength", ["wavelength=0.72932Ao"], None),
        ("negative wavelength", ["wavelength=-1_Ao"], None),
        ("wavelength trailing", ["wavelength=1_Ao x"], None),
        ("no arguments", None, None),
        ("help", ["-h"], None),
        ("help long", ["--help"], None),
        ("missing start values", ["debug=1"], None, None, 5),
        ("missing one", [], None, None, 7),
        ("missing input file", ["input=missing.dat"], None),
        ("only comments", [], "# nothing\n\n# here\n"),
        ("stop line", [], few + "exit\n0.1 x y\n"),
        ("bad value", [], "0.2 100 zz\n"),
        ("bad weight", [], "0.2 100 200 1_xx\n"),
        ("bad start", [], None, ["75_um", "75_xm"]),
        ("units in data", [], "11_deg 500 500\n" + few),
        ("json unwritable", ["json=/nonexistent/result.json"], None),
        ("poni to dev full", ["poni=/dev/full"], None),
        ("extra start values", [], None, START + ["9", "10"]),
    ]
    for row in table:
        label, options, stdin = row[:3]
        start = list(START)
        if len(row) > 3 and row[3]:
            start[:len(row[3])] = row[3]
            if len(row[3]) > 8:
                start = row[3]
        if len(row) > 4:
            start = start[:row[4]]
        if options is None:
            yield label, [], stdin
            continue
        args = list(options) + start
        if stdin is None:
            args = ["input=" + os.path.join(source, "examples", "points.dat")] + args
        yield label, args, stdin


def run(binary, args, stdin, workdir):
    os.makedirs(workdir)
    done = subprocess.run([binary] + args, cwd=workdir, input=stdin or "",
                          capture_output=True, text=True, check=False,
                          timeout=120)
    err = done.stderr.replace(binary, "VABO")
    files = {}
    for name in FILES:
        path = os.path.join(workdir, name)
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                text = f.read()
            if name.endswith(".poni"):
                text = "".join(l for l in text.splitlines(keepends=True)
                               if not l.startswith("# Calibration done"))
            files[name] = text.replace(binary, "VABO")
    return done.returncode, done.stdout, err, files


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--source", default=SOURCE)
    parser.add_argument("--keep", action="store_true",
                        help="keep the working directories")
    args = parser.parse_args(argv)
    old, new = os.path.abspath(args.old), os.path.abspath(args.new)
    work = tempfile.mkdtemp(prefix="vabo-differential-")
    differ = 0
    total = 0
    for n, (label, arguments, stdin) in enumerate(cases(args.source)):
        total += 1
        a = run(old, arguments, stdin, os.path.join(work, f"{n}-old"))
        b = run(new, arguments, stdin, os.path.join(work, f"{n}-new"))
        what = [name for name, x, y in zip(
            ("status", "stdout", "stderr", "files"), a, b) if x != y]
        differ += bool(what)
        print(f"{'DIFFER' if what else 'same  '} {label}"
              + (f": {', '.join(what)}" if what else "")
              + f" (exit {a[0]})")
    if not args.keep:
        shutil.rmtree(work)
    print(f"{total - differ} of {total} cases the same")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
