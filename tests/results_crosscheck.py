#!/usr/bin/env python3
"""Cross-check of vabo's result files against pyFAI, numpy and scipy.

Runs vabo with poni=, json= and wavelength= on the example calibration, as
it is and with uneven weights (one point of weight 0) and pix1 refined too,
and checks:

1. pyFAI loads the PONI file; its TwoTheta at the calibration pixels equals
   vabo's model angle at the JSON's values (vabo_model_probe) within
   1e-12 rad, and its geometry and wavelength equal the JSON's exactly.
2. The standard errors and correlations of the JSON agree with
   s2 (J^T W J)^-1, s2 = sum w r^2 / (N - p) over the N points of positive
   weight, computed here from a central-difference Jacobian of a model
   written here, and with scipy's curve_fit (relative weights) on the same
   points: errors within 1 %, correlations within 0.01.  Kept parameters
   have error 0 and no row.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

import numpy

NAMES = ["pix1", "pix2", "cen1", "cen2", "dis", "rot1", "rot2", "rot3"]
START = ["75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"]
WAVELENGTH = ("0.72932_Ao", 0.72932 * 1e-10)
ANGLE_TOLERANCE = 1e-12  # rad; both compute in double precision
ERROR_TOLERANCE = 0.01   # relative
CORRELATION_TOLERANCE = 0.01


def read_points(path):
    """Rows (TwoTheta, i1, i2, weight) of a calibration file."""
    rows = []
    with open(path) as f:
        for line in f:
            fields = line.split("#", 1)[0].split()
            if fields:
                weight = float(fields[3]) if len(fields) > 3 else 1.0
                rows.append([float(v) for v in fields[:3]] + [weight])
    return numpy.array(rows)


def model_angles(par, i1, i2):
    """TwoTheta of pixels (i1, i2): the angle between -axis 3 and
    Rz(rot3) Ry(rot2) Rx(rot1) ((i1 - cen1) pix1, (i2 - cen2) pix2, -dis)."""
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = par
    n = numpy.stack([(i1 - cen1) * pix1, (i2 - cen2) * pix2,
                     numpy.full_like(i1, -dis)])
    c1, s1 = numpy.cos(rot1), numpy.sin(rot1)
    c2, s2 = numpy.cos(rot2), numpy.sin(rot2)
    c3, s3 = numpy.cos(rot3), numpy.sin(rot3)
    rx = numpy.array([[1, 0, 0], [0, c1, -s1], [0, s1, c1]])
    ry = numpy.array([[c2, 0, s2], [0, 1, 0], [-s2, 0, c2]])
    rz = numpy.array([[c3, -s3, 0], [s3, c3, 0], [0, 0, 1]])
    x = rz @ ry @ rx @ n
    return numpy.arctan2(numpy.hypot(x[0], x[1]), -x[2])


def run_vabo(vabo, workdir, data, start, label):
    """Runs vabo on data; returns the JSON document and the PONI path."""
    poni = os.path.join(workdir, label + ".poni")
    result = os.path.join(workdir, label + ".json")
    args = [vabo, "input=" + data] + start + [
        "poni=" + poni, "json=" + result, "wavelength=" + WAVELENGTH[0]]
    run = subprocess.run(args, capture_output=True, text=True, check=False)
    if run.returncode != 0:
        sys.exit("%s: vabo failed (%d): %s"
                 % (label, run.returncode, run.stderr))
    try:
        with open(result) as f:
            return json.load(f), poni
    except (OSError, ValueError) as error:
        sys.exit("%s: cannot read the JSON file: %s" % (label, error))


def check_poni(label, doc, poni, points, probe):
    """Failures of the PONI file against pyFAI and the probe."""
    # After the arguments are checked: slow imports, and the cross-check
    # module needs pyFAI to load.
    import pyFAI
    from pyfai_crosscheck import probe_angles
    failures = 0
    par = [doc["parameters"][name]["value"] for name in NAMES]
    ours = numpy.array(probe_angles(
        probe, [par + [i1, i2] for i1, i2 in points[:, 1:3]]))
    ai = pyFAI.load(poni)
    theirs = ai.tth(points[:, 1], points[:, 2])
    worst = float(numpy.max(numpy.abs(ours - theirs)))
    if not worst <= ANGLE_TOLERANCE:
        failures += 1
        print("%s: pyFAI's TwoTheta differs by %.3g rad" % (label, worst))
    geometry = doc["poni"]
    loaded = {"dist": ai.dist, "poni1": ai.poni1, "poni2": ai.poni2,
              "rot1": ai.rot1, "rot2": ai.rot2, "rot3": ai.rot3,
              "pixel1": ai.pixel1, "pixel2": ai.pixel2,
              "wavelength": ai.wavelength}
    for key, value in loaded.items():
        if value != geometry[key]:
            failures += 1
            print("%s: PONI %s %r, JSON %r"
                  % (label, key, value, geometry[key]))
    if geometry["wavelength"] != WAVELENGTH[1]:
        failures += 1
        print("%s: wavelength %r" % (label, geometry["wavelength"]))
    print("%s: pyFAI loads the PONI file, TwoTheta within %.3g rad"
          % (label, worst))
    return failures


def covariance_here(par, refined, points):
    """s2 (J^T W J)^-1 from central differences, over positive weights."""
    use = points[:, 3] > 0
    angle, i1, i2, w = (points[use, k] for k in range(4))
    jac = numpy.empty((len(angle), len(refined)))
    for col, k in enumerate(refined):
        h = 1e-6 * abs(par[k]) if par[k] != 0 else 1e-7
        up, down = list(par), list(par)
        up[k] += h
        down[k] -= h
        jac[:, col] = (model_angles(up, i1, i2)
                       - model_angles(down, i1, i2)) / (2 * h)
    r = angle - model_angles(par, i1, i2)
    s2 = numpy.sum(w * r * r) / (len(angle) - len(refined))
    return s2 * numpy.linalg.inv(jac.T @ (w[:, None] * jac))


def covariance_curve_fit(par, refined, points):
    """scipy's curve_fit with relative weights, started at vabo's values."""
    from scipy.optimize import curve_fit
    use = points[:, 3] > 0
    angle, i1, i2, w = (points[use, k] for k in range(4))

    def f(_, *values):
        full = list(par)
        for k, v in zip(refined, values):
            full[k] = v
        return model_angles(full, i1, i2)

    _, pcov = curve_fit(f, numpy.arange(len(angle)), angle,
                        p0=[par[k] for k in refined], sigma=1 / numpy.sqrt(w))
    return pcov


def check_covariance(label, doc, points):
    """Failures of the JSON's errors and correlations."""
    failures = 0
    params = doc["parameters"]
    par = [params[name]["value"] for name in NAMES]
    refined = [k for k, name in enumerate(NAMES) if params[name]["refined"]]
    names = [NAMES[k] for k in refined]
    for name in NAMES:
        if not params[name]["refined"] and params[name]["error"] != 0:
            failures += 1
            print("%s: kept %s has error %r"
                  % (label, name, params[name]["error"]))
    rows = doc["covariance"]["names"]
    if rows != names or doc["correlation"]["names"] != names:
        failures += 1
        print("%s: rows %s, refined %s" % (label, rows, names))
        return failures
    errors = numpy.array([params[name]["error"] for name in names])
    correlation = numpy.array(doc["correlation"]["matrix"])
    references = (
        ("finite differences", covariance_here(par, refined, points)),
        ("curve_fit", covariance_curve_fit(par, refined, points)))
    for how, cov in references:
        expected = numpy.sqrt(numpy.diag(cov))
        relative = numpy.abs(errors / expected - 1)
        expected_corr = cov / numpy.outer(expected, expected)
        corr_diff = numpy.abs(correlation - expected_corr)
        for name, d in zip(names, relative):
            if not d <= ERROR_TOLERANCE:
                failures += 1
                print("%s: %s error differs from %s by %.3g"
                      % (label, name, how, d))
        if not numpy.max(corr_diff) <= CORRELATION_TOLERANCE:
            failures += 1
            print("%s: correlations differ from %s by %.3g"
                  % (label, how, numpy.max(corr_diff)))
        print("%s: errors within %.2g %% of %s, correlations within %.2g"
              % (label, 100 * numpy.max(relative), how, numpy.max(corr_diff)))
    return failures


def weighted_copy(points, path):
    """The points with uneven weights, one of them 0 with a wrong angle."""
    with open(path, "w") as f:
        for k, (angle, i1, i2, _) in enumerate(points):
            weight = 0.0 if k == 17 else 0.5 + 0.5 * (k % 4)
            if k == 17:
                angle += 0.05
            f.write("%.17g %.17g %.17g %.17g\n" % (angle, i1, i2, weight))
    return read_points(path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vabo", required=True, help="path of vabo")
    parser.add_argument("--probe", required=True,
                        help="path of vabo_model_probe")
    parser.add_argument("--example", required=True, help="calibration file")
    args = parser.parse_args(argv)
    for path in (args.vabo, args.probe, args.example):
        if not os.path.exists(path):
            print("results_crosscheck: %s not found" % path, file=sys.stderr)
            return 2

    failures = 0
    with tempfile.TemporaryDirectory() as workdir:
        points = read_points(args.example)
        weighted_file = os.path.join(workdir, "weighted.dat")
        weighted = weighted_copy(points, weighted_file)
        cases = [("example", args.example, points, START),
                 ("weighted, pix1 refined", weighted_file, weighted,
                  ["~" + START[0]] + START[1:])]
        for k, (label, path, data, start) in enumerate(cases):
            doc, poni = run_vabo(args.vabo, workdir, path, start, "case%d" % k)
            failures += check_poni(label, doc, poni, data, args.probe)
            failures += check_covariance(label, doc, data)
    if failures:
        print("result files cross-check FAILED: %d disagreements" % failures)
        return 1
    print("result files cross-check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
