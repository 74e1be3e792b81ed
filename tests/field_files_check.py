#!/usr/bin/env python3
"""The program with the field's files, as a user meets it, against pyFAI.

    field_files_check.py VABO SOURCE_DIR

1. The shipped points matched to LaB6 (calibrant=, wavelength=) and
   written with npt=: pyFAI's ControlPoints loads the file and pyFAI's
   GeometryRefinement, started at vabo's geometry, stays there (each
   refined parameter within 0.01 of vabo's standard error).
2. The same points read back as a control-point file with start= of the
   PONI file vabo wrote refine to the same geometry.
3. A PONI file written by pyFAI, given as start= with nothing refined,
   reproduces pyFAI's TwoTheta at the control points to 1e-12 rad.
4. Bad input of every new option: one line, exit status 1, no file written.
Prints one line per check; exit status 1 when one fails.
"""

import json
import os
import subprocess
import sys
import tempfile

import numpy
from pyFAI.control_points import ControlPoints
from pyFAI.geometry import Geometry
from pyFAI.geometryRefinement import GeometryRefinement

FAILURES = []


def check(ok, what):
    print(("ok     " if ok else "FAILED ") + what)
    if not ok:
        FAILURES.append(what)


def run(vabo, args, cwd):
    return subprocess.run([vabo] + args, cwd=cwd, capture_output=True,
                          text=True)


def error_line(proc):
    """The run's error line: the line before "ERROR: status=1"."""
    lines = proc.stderr.splitlines()
    return lines[-2] if len(lines) >= 2 else ""


def round_trip(vabo, points, work):
    args = ["input=" + points, "75_um", "75_um", "1000", "1000", "20_cm",
            "0", "0", "0", "calibrant=LaB6", "wavelength=0.72932_Ao",
            "json=r.json", "npt=r.npt", "poni=r.poni"]
    proc = run(vabo, args, work)
    check(proc.returncode == 0, "calibrant= and npt= run succeeds")
    with open(os.path.join(work, "r.json")) as f:
        result = json.load(f)
    check(len(result["rings"]) >= 4 and result["warnings"] == [],
          "json has rings and no warnings")
    par = {k: v["value"] for k, v in result["parameters"].items()}
    err = {k: v["error"] for k, v in result["parameters"].items()}

    cp = ControlPoints(os.path.join(work, "r.npt"))
    data = numpy.array(cp.getList())
    check(len(data) == result["statistics"]["ndata"],
          "pyFAI loads every point of the npt file")
    poni = result["poni"]
    gr = GeometryRefinement(data, dist=poni["dist"], poni1=poni["poni1"],
                            poni2=poni["poni2"], rot1=poni["rot1"],
                            rot2=poni["rot2"], rot3=poni["rot3"],
                            pixel1=poni["pixel1"], pixel2=poni["pixel2"],
                            wavelength=cp.calibrant.wavelength,
                            calibrant=cp.calibrant)
    gr.refine2(1000000, fix=["wavelength", "rot3"])
    moved = {
        "dis": abs(gr.dist - poni["dist"]) / err["dis"],
        "cen1": abs(gr.poni1 - poni["poni1"]) / (err["cen1"] * par["pix1"]),
        "cen2": abs(gr.poni2 - poni["poni2"]) / (err["cen2"] * par["pix2"]),
        "rot1": abs(gr.rot1 - poni["rot1"]) / err["rot1"],
        "rot2": abs(gr.rot2 - poni["rot2"]) / err["rot2"],
    }
    worst = max(moved.values())
    check(worst < 0.01, "pyFAI's refinement of vabo's npt stays at vabo's "
          "geometry (largest move %.2e standard errors)" % worst)

    proc = run(vabo, ["input=r.npt", "start=r.poni", "json=r2.json"], work)
    check(proc.returncode == 0, "control points with start= succeed")
    with open(os.path.join(work, "r2.json")) as f:
        again = json.load(f)["parameters"]
    worst = max(abs(again[k]["value"] - par[k]) / max(err[k], 1e-300)
                for k in par if err[k])
    check(worst < 1e-3, "the npt file and the start= PONI give the same fit "
          "(%.1e standard errors apart)" % worst)
    return data


def pyfai_poni(vabo, data, work):
    geometry = Geometry(dist=0.21, poni1=0.071, poni2=0.079, rot1=0.031,
                        rot2=-0.027, rot3=0.4, pixel1=75e-6, pixel2=80e-6,
                        wavelength=7.2932e-11)
    geometry.save(os.path.join(work, "pyfai.poni"))
    tth = geometry.tth(data[:, 0], data[:, 1])
    with open(os.path.join(work, "tth.dat"), "w") as f:
        for t, (y, x) in zip(tth, data[:, :2]):
            f.write("%r %r %r\n" % (float(t), float(y), float(x)))
    proc = run(vabo, ["input=tth.dat", "start=pyfai.poni",
                      "keep=cen1,cen2,dis,rot1,rot2",
                      "json=p.json"], work)
    with open(os.path.join(work, "p.json")) as f:
        result = json.load(f)
    worst = abs(result["statistics"]["maxdev"])
    check(proc.returncode == 0 and worst < 1e-12,
          "a pyFAI PONI as start= gives pyFAI's TwoTheta (largest difference "
          "%.1e rad)" % worst)


BAD = [
    # (what, arguments, files to make, the error line)
    ("npt= without rings", ["input=P", "8", "npt=o.npt"], {},
     "ERROR: npt=o.npt needs the rings of the points: read a control-point "
     "file (input=) or give calibrant= and wavelength="),
    ("calibrant= without wavelength", ["input=P", "8", "calibrant=LaB6"], {},
     "ERROR: calibrant=LaB6 needs wavelength= to match the points to its "
     "rings"),
    ("start= and start values", ["input=P", "8", "start=r.poni"], {},
     "ERROR: start=r.poni gives the eight start values: give none on the "
     "command line (choose the refined ones with refine= and keep=)"),
    ("refine= of no parameter", ["input=P", "8", "refine=pix1,tilt"], {},
     "ERROR: refine=pix1,tilt: 'tilt' is not a parameter: use pix1, pix2, "
     "cen1, cen2, dis, rot1, rot2, rot3"),
    ("ring beyond the d-spacings", ["input=b.npt", "start=r.poni"],
     {"b.npt": "wavelength: 1e-10\ndspacing: 4.1 2.9\nring: 2\n"
               "point: x=1 y=2\n"},
     "ERROR: b.npt:4: ring 2 has no d-spacing (line 2 lists 2)"),
    ("control points without wavelength", ["input=b.npt", "8"],
     {"b.npt": "dspacing: 4.1 2.9\nring: 1\npoint: x=1 y=2\n"},
     "ERROR: b.npt: no wavelength: give wavelength="),
    ("ring out of reach", ["input=b.npt", "start=r.poni"],
     {"b.npt": "wavelength: 9e-10\ndspacing: 4.1 2.9\nring: 1\n"
               "point: x=1 y=2\n"},
     "ERROR: b.npt:4: ring 1 (d = 2.9 Angstrom) is beyond reach at "
     "wavelength 9e-10 m"),
    ("point between rings", ["input=d.dat", "8", "calibrant=LaB6",
                             "wavelength=0.72932_Ao"],
     {"d.dat": "# a point far inside the first ring\n0.1 1 2\n"},
     "ERROR: d.dat:2: TwoTheta 0.1 rad lies on no ring of LaB6: farther "
     "than half the distance to the next ring"),
    ("PONI of another orientation", ["input=P", "start=o.poni"],
     {"o.poni": "poni_version: 2.1\nDetector: Detector\nDetector_config: "
                "{\"pixel1\": 1e-4, \"pixel2\": 1e-4, \"max_shape\": null, "
                "\"orientation\": 2}\nDistance: 0.1\nPoni1: 0.01\n"
                "Poni2: 0.01\nRot1: 0\nRot2: 0\nRot3: 0\n"},
     None),
]


def bad_input(vabo, points, work):
    start = ["75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"]
    for what, args, files, expected in BAD:
        with tempfile.TemporaryDirectory() as case:
            for name, text in files.items():
                with open(os.path.join(case, name), "w") as f:
                    f.write(text)
            os.symlink(os.path.join(work, "r.poni"),
                       os.path.join(case, "r.poni"))
            full = []
            for a in args:
                full += start if a == "8" else [a.replace("input=P",
                                                          "input=" + points)]
            full += ["json=j.json", "poni=p.poni"]
            before = set(os.listdir(case))
            proc = run(vabo, full, case)
            line = error_line(proc)
            ok = (proc.returncode == 1 and set(os.listdir(case)) == before
                  and (line == expected if expected else
                       line.startswith("ERROR: start=o.poni: o.poni:")))
            check(ok, "bad input: %s (%s)" % (what, line))


def main():
    vabo, source = sys.argv[1], sys.argv[2]
    points = os.path.join(source, "examples", "points.dat")
    with tempfile.TemporaryDirectory() as work:
        data = round_trip(vabo, points, work)
        pyfai_poni(vabo, data, work)
        bad_input(vabo, points, work)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
