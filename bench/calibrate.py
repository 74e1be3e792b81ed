#!/usr/bin/python3
"""Benchmark of the calibration from an image, vabo's loop beside pyFAI's.

Images are made by pyFAI itself (Calibrant.fake_calibration_image) for
LaB6, CeO2 and Si on two detectors: 2048 x 2048 pixels of 75 um and
pyFAI's Pilatus2M (1679 x 1475 pixels of 172 um, its module gaps invalid).
Each image gets an azimuthal texture (intensity 0.35 to 1 along the rings),
a background falling off from the beam, a beamstop (a disc and its arm at a
hundredth of the intensity) and Poisson noise from a seeded generator.

From each of --starts starts off by up to 6 pixels in the centre, 2 % in
the distance and 0.01 rad in rot1 and rot2 (uniform, seeded):

- vabo: the program, as a user runs it: `vabo image=image.edf
  mask=mask.edf calibrant=<pyFAI's d-spacings as a file> wavelength=...
  json=...` with the eight start values and the default modes (cen1 cen2
  dis rot1 rot2); the whole process is timed (start, reading the image,
  picking, refining, every round, writing the result), with its processor
  time and peak memory from os.wait4.
- pyFAI, as its careful users run it: SingleGeometry.extract_cp with the
  three innermost rings from the start geometry, GeometryRefinement.refine2
  with rot3 and the wavelength fixed (the same five parameters), then
  extract_cp of every ring from that geometry and refine2 again.  Timed
  around those calls only (the image already in memory).

A geometry is scored by its ring displacement: over the valid pixels within
half a pixel of a true ring, |2theta_estimated - 2theta_true| divided by
the change of the true 2theta per pixel across the ring; maximum and RMS in
pixels.  A run that ends as a failure (vabo's status 33, pyFAI's exception)
is counted as failed, not scored.  Speed and memory figures are printed,
never asserted: wall and processor time (the latter tells more on a shared
machine, whose load the summary prints; vabo picks on up to four threads,
so that its processor time exceeds its wall time), and vabo's peak
resident memory over the image's float32 size.

usage: /usr/bin/python3 bench/calibrate.py --vabo BUILD/vabo
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time


def parse(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--vabo", required=True, help="the program")
    p.add_argument("--starts", type=int, default=10, help="starts per image")
    p.add_argument("--seed", type=int, default=7, help="random seed")
    p.add_argument("--no-pyfai", action="store_true", help="vabo only")
    p.add_argument("--corners", action="store_true",
                   help="starts off by the full amounts, random signs")
    p.add_argument("--calibrants", default="LaB6,CeO2,Si")
    p.add_argument("--detectors", default="flat2048,Pilatus2M")
    return p.parse_args(argv)


def make_detector(name):
    import pyFAI.detectors
    if name == "flat2048":
        return pyFAI.detectors.Detector(pixel1=75e-6, pixel2=75e-6,
                                        max_shape=(2048, 2048))
    return pyFAI.detectors.detector_factory(name)


def make_case(np, det_name, cal_name, rng):
    """True geometry (vabo's eight parameters), image, mask, rings."""
    import pyFAI.azimuthalIntegrator
    import pyFAI.calibrant
    det = make_detector(det_name)
    shape = det.max_shape
    pix = det.pixel1
    wavelength = 0.7e-10
    dist = 0.16 if det_name == "flat2048" else 0.35
    cen1 = shape[0] * rng.uniform(0.42, 0.58)
    cen2 = shape[1] * rng.uniform(0.42, 0.58)
    rot1, rot2 = rng.uniform(-0.03, 0.03, 2)
    par = [det.pixel1, det.pixel2, cen1, cen2, dist, rot1, rot2, 0.0]
    ai = pyFAI.azimuthalIntegrator.AzimuthalIntegrator(
        dist=dist, poni1=(cen1 + 0.5) * det.pixel1,
        poni2=(cen2 + 0.5) * det.pixel2, rot1=rot1, rot2=rot2, rot3=0.0,
        detector=det, wavelength=wavelength)
    cal = pyFAI.calibrant.get_calibrant(cal_name)
    cal.wavelength = wavelength
    fwhm = 2.0 * pix / dist  # about 2 pixels
    img = cal.fake_calibration_image(ai, shape=shape, Imax=1.0, U=0, V=0,
                                     W=fwhm * fwhm)
    chi = ai.chiArray(shape)
    tth = ai.twoThetaArray(shape)
    texture = 0.35 + 0.65 * np.cos(chi + rng.uniform(0, np.pi)) ** 2
    radius = np.hypot(*np.meshgrid(np.arange(shape[0]) - cen1,
                                   np.arange(shape[1]) - cen2, indexing="ij"))
    signal = 400.0 * img * texture + 60.0 + 200.0 * np.exp(-radius / 300.0)
    stop = radius < 40
    stop |= (np.abs(np.arange(shape[1])[None, :] - cen2) < 12) & \
        (np.arange(shape[0])[:, None] > cen1)
    signal[stop] *= 0.01
    counts = rng.poisson(signal).astype(np.float32)
    mask = np.zeros(shape, np.uint8)
    if det.mask is not None:
        mask[det.mask.astype(bool)] = 1
        counts[mask.astype(bool)] = -1
    rings = [t for t in cal.get_2th() if t is not None and t < tth.max()]
    return par, counts, mask, np.array(rings), tth, ai, cal


def displacement(np, tth_true, tth_est, rings, mask):
    g1, g2 = np.gradient(tth_true)
    grad = np.hypot(g1, g2)
    near = np.zeros(tth_true.shape, bool)
    for t in rings:
        near |= np.abs(tth_true - t) < 0.5 * grad
    near &= mask == 0
    d = np.abs(tth_est[near] - tth_true[near]) / grad[near]
    return float(d.max()), float(np.sqrt(np.mean(d * d)))


def vabo_tth(par, shape, det):
    import pyFAI.geometry
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = par
    g = pyFAI.geometry.Geometry(dist=dis, poni1=(cen1 + 0.5) * pix1,
                                poni2=(cen2 + 0.5) * pix2, rot1=rot1,
                                rot2=rot2, rot3=rot3, detector=det)
    return g.twoThetaArray(shape)


def run_vabo(args, tmp, counts, mask, cal, start):
    """Runs the program on the image; its result and figures."""
    import fabio
    image = os.path.join(tmp, "image.edf")
    maskf = os.path.join(tmp, "mask.edf")
    dfile = os.path.join(tmp, "calibrant.D")
    result = os.path.join(tmp, "result.json")
    fabio.edfimage.EdfImage(data=counts).write(image)
    fabio.edfimage.EdfImage(data=mask).write(maskf)
    with open(dfile, "w") as f:
        f.write("\n".join("%r" % d for d in cal.dSpacing) + "\n")
    if os.path.exists(result):
        os.remove(result)
    cmd = [args.vabo, "image=" + image, "mask=" + maskf,
           "calibrant=" + dfile, "wavelength=%r" % cal.wavelength,
           "json=" + result] + ["%r" % v for v in start]
    # timed_run (bench/timed_run.c) forks the program from a small process,
    # so that its peak memory is its own, not this interpreter's.
    out = subprocess.run([args.timed_run, os.path.join(tmp, "stdout")] + cmd,
                         capture_output=True, text=True).stdout.split()
    seconds, rss, code, cpu = float(out[0]), int(out[1]), int(out[2]), \
        float(out[3])
    res = {"ok": code == 0, "seconds": seconds, "cpu": cpu, "rss": rss,
           "par": None}
    if res["ok"]:
        with open(result) as f:
            parameters = json.load(f)["parameters"]
        res["par"] = [parameters[n]["value"] for n in
                      ("pix1", "pix2", "cen1", "cen2", "dis", "rot1", "rot2",
                       "rot3")]
    return res


def run_pyfai(counts, mask, start, cal_name, det):
    import pyFAI.calibrant
    import pyFAI.geometry
    import pyFAI.goniometer
    cal = pyFAI.calibrant.get_calibrant(cal_name)
    cal.wavelength = 0.7e-10
    pix1, pix2, cen1, cen2, dis, rot1, rot2, rot3 = start
    geo = pyFAI.geometry.Geometry(dist=dis, poni1=(cen1 + 0.5) * pix1,
                                  poni2=(cen2 + 0.5) * pix2, rot1=rot1,
                                  rot2=rot2, rot3=rot3, detector=det,
                                  wavelength=0.7e-10)
    img = counts.astype("float64")
    img[mask.astype(bool)] = 0
    begin = time.perf_counter()
    cpu = time.process_time()
    try:
        sg = pyFAI.goniometer.SingleGeometry("bench", img, calibrant=cal,
                                             detector=det, geometry=geo)
        sg.extract_cp(max_rings=3, pts_per_deg=1.0)
        sg.geometry_refinement.refine2(fix=["wavelength", "rot3"])
        sg.geometry_refinement.reset()
        sg.extract_cp(pts_per_deg=1.0)
        sg.geometry_refinement.refine2(fix=["wavelength", "rot3"])
        gr = sg.geometry_refinement
        par = [pix1, pix2, gr.poni1 / pix1 - 0.5, gr.poni2 / pix2 - 0.5,
               gr.dist, gr.rot1, gr.rot2, gr.rot3]
        ok = True
    except Exception:  # a failed extraction or refinement
        par, ok = None, False
    return {"ok": ok, "par": par, "seconds": time.perf_counter() - begin,
            "cpu": time.process_time() - cpu}


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    if not os.access(args.vabo, os.X_OK):
        print("calibrate.py: no program at %s" % args.vabo, file=sys.stderr)
        return 1
    import numpy as np
    rng = np.random.default_rng(args.seed)
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        args.timed_run = os.path.join(tmp, "timed_run")
        subprocess.run(["cc", "-O2", "-o", args.timed_run,
                        os.path.join(os.path.dirname(os.path.abspath(
                            __file__)), "timed_run.c")], check=True)
        for det_name in args.detectors.split(","):
            det = make_detector(det_name)
            for cal_name in args.calibrants.split(","):
                par, counts, mask, rings, tth, ai, cal = make_case(
                    np, det_name, cal_name, rng)
                for k in range(args.starts):
                    off = rng.uniform(-1, 1, 5)
                    if args.corners:
                        off = np.sign(off)
                    start = list(par)
                    start[2] += 6 * off[0]
                    start[3] += 6 * off[1]
                    start[4] *= 1 + 0.02 * off[2]
                    start[5] += 0.01 * off[3]
                    start[6] += 0.01 * off[4]
                    row = {"case": "%s %s" % (det_name, cal_name),
                           "rings": len(rings), "bytes": counts.nbytes}
                    for who in ("vabo", "pyfai"):
                        if who == "pyfai" and args.no_pyfai:
                            continue
                        if who == "vabo":
                            res = run_vabo(args, tmp, counts, mask, cal,
                                           start)
                        else:
                            res = run_pyfai(counts, mask, start, cal_name,
                                            det)
                        if res["ok"]:
                            est = vabo_tth(res["par"], counts.shape, det)
                            res["max"], res["rms"] = displacement(
                                np, tth, est, rings, mask)
                        row[who] = res
                    rows.append(row)
                    report_row(row)
    summary(np, rows)
    return 0


def fmt(res):
    if res is None:
        return "%37s" % "-"
    times = "%6.3fs cpu %6.3fs" % (res["seconds"] or 0, res.get("cpu") or 0)
    if not res["ok"]:
        return "%37s" % ("FAILED " + times)
    return "max %6.3f rms %6.3f %s" % (res["max"], res["rms"], times)


def report_row(row):
    print("%-18s vabo: %s   pyFAI: %s" % (row["case"], fmt(row.get("vabo")),
                                          fmt(row.get("pyfai"))), flush=True)


def summary(np, rows):
    print()
    for who in ("vabo", "pyfai"):
        res = [r[who] for r in rows if who in r]
        if not res:
            continue
        ok = [r for r in res if r["ok"]]
        good = [r for r in ok if r["max"] < 0.2]
        wrong = [r for r in ok if r["max"] >= 0.2]
        print("%-6s runs %d: below 0.2 px %d, converged wrongly %d, "
              "failed %d" % (who, len(res), len(good), len(wrong),
                             len(res) - len(ok)))
        if ok:
            print("       median max displacement %.4f px, median rms %.4f px"
                  % (np.median([r["max"] for r in ok]),
                     np.median([r["rms"] for r in ok])))
        for det in ("flat2048", "Pilatus2M"):
            sel = [r[who] for r in rows if who in r and
                   r["case"].startswith(det)]
            if not sel:
                continue
            print("       %-9s wall median %.3f s (max %.3f), processor "
                  "median %.3f s (max %.3f)" % (
                      det, np.median([r["seconds"] for r in sel]),
                      max(r["seconds"] for r in sel),
                      np.median([r["cpu"] for r in sel]),
                      max(r["cpu"] for r in sel)))
        if who == "vabo":
            ratio = [r["rss"] / row["bytes"] for r, row in
                     zip(res, [x for x in rows if who in x]) if r["rss"]]
            print("       peak memory of the whole process %.2f x the "
                  "image's float32 size" % max(ratio))
    print("load average during the run: %.1f (%d processors)"
          % (os.getloadavg()[0], os.cpu_count()))
    print("targets (vabo): median max displacement <= 0.05 px; >= 9 of 10 "
          "below 0.2 px, the others failed; <= 0.2 s on 2048 x 2048; "
          "memory <= 3x the image")


if __name__ == "__main__":
    sys.exit(main())
