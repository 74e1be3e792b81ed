#!/usr/bin/python3
"""Time of vabo.refine on numpy arrays next to the program's whole run.

For each size (default 10^4, 10^5 and 10^6 points) writes a LaB6 calibration
file with examples/make_points.py --points N into a temporary directory,
times the program on it (start values of scripts/example.sh, default
options, as a script runs it) and vabo.refine on the same points, read into
numpy arrays beforehand (refine also computes the covariance, which the
program computes only for json=).  One row per size: the program's best
wall time, the module's best time of refine alone, their ratio, and whether
the refined values and deviations are bit-identical to the program's (from
one more run of the program with json=, which writes them in full
precision).

    usage: bench/python_refine.py [--build DIR] [--runs K] [N ...]

DIR is the build tree with the program and the module (default
build-tests, configured with -DVABO_PYTHON=ON).
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
START = ["75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"]
NAMES = ["pix1", "pix2", "cen1", "cen2", "dis", "rot1", "rot2", "rot3"]


def read_columns(path):
    """TwoTheta, i1, i2 of a calibration file as float64 arrays."""
    import numpy
    rows = [line.split("#", 1)[0].split() for line in open(path)]
    values = [[float(v) for v in fields[:3]] for fields in rows if fields]
    return numpy.array(values).T.copy()


def best_time(runs, function):
    """The shortest wall time of runs calls, and the last call's result."""
    best, result = None, None
    for _ in range(runs):
        start = time.perf_counter()
        result = function()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-tests"),
                        help="build tree with vabo and python/vabo*.so")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs per size; the best counts (default 3)")
    parser.add_argument("sizes", type=int, nargs="*",
                        default=[10000, 100000, 1000000])
    args = parser.parse_args(argv)
    program = os.path.join(args.build, "vabo")
    if not os.access(program, os.X_OK):
        print("python_refine: no program at %s" % program, file=sys.stderr)
        return 1
    sys.path.insert(0, os.path.join(args.build, "python"))
    try:
        import vabo
    except ImportError as error:
        print("python_refine: cannot import the module: %s" % error,
              file=sys.stderr)
        return 1

    print("%9s %10s %10s %8s %10s" % ("points", "program_s", "refine_s",
                                      "ratio", "identical"))
    with tempfile.TemporaryDirectory() as work:
        for n in args.sizes:
            data = os.path.join(work, "points_%d.dat" % n)
            maker = os.path.join(ROOT, "examples", "make_points.py")
            with open(data, "w") as f:
                subprocess.run([sys.executable, maker, "--points", str(n)],
                               stdout=f, check=True)
            command = [program, "input=" + data] + START
            program_s, _ = best_time(args.runs, lambda: subprocess.run(
                command, capture_output=True, check=True))
            document = os.path.join(work, "result.json")
            subprocess.run(command + ["json=" + document], capture_output=True,
                           check=True)
            tth, i1, i2 = read_columns(data)
            refine_s, result = best_time(
                args.runs, lambda: vabo.refine(tth, i1, i2, START))
            with open(document) as f:
                parameters = json.load(f)["parameters"]
            values = [parameters[p]["value"] for p in NAMES]
            deviations = [parameters[p]["deviation"] for p in NAMES]
            identical = (result.values.tolist() == values
                         and result.deviations.tolist() == deviations)
            print("%9d %10.4f %10.4f %8.2f %10s"
                  % (n, program_s, refine_s, program_s / refine_s,
                     "yes" if identical else "NO"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
