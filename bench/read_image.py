#!/usr/bin/python3
"""Figures of vabo's image readers next to fabio's (h5py's for HDF5):
reading a 2048 x 2048 image of each format, wall time (best of N runs)
and peak memory of the process above its size before the read.

The images hold Poisson counts with a few gaps, as a Pilatus or Eiger
frame does: EDF, TIFF and uncompressed HDF5 of unsigned 32-bit integers,
CBF of signed 32-bit integers (byte offset), HDF5 with gzip.  vabo reads
through tests/tools/vabo_image_probe (its output goes to /dev/null), its
peak the whole process's; fabio and h5py in a Python process of their own
each, their peak above the interpreter's size after the imports.  Every
run is measured by bench/timed_run.c (wall time from fork to exit).

    bench/read_image.py --probe BUILD/tests/vabo_image_probe [--runs N]

Prints one line per format and reader; not a test.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIDE = 2048
PYTHON = "/usr/bin/python3"

# The reading in a fabio/h5py process: peak RSS before and after, in kB.
READER = r"""
import resource, sys, time
source = sys.argv[1]
if "::" in source:
    import h5py
    name, path = source.split("::")
    def read():
        with h5py.File(name, "r") as f:
            return f[path][()]
else:
    import fabio
    def read():
        return fabio.open(source).data
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
data = read()
seconds = time.perf_counter() - start
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(seconds, before, after)
"""


def make_images(directory):
    import fabio.cbfimage
    import fabio.edfimage
    import fabio.tifimage
    import h5py

    rng = np.random.default_rng(2385)
    counts = rng.poisson(40.0, (SIDE, SIDE)).astype(np.uint32)
    counts[:, 1000:1010] = np.iinfo(np.uint32).max
    names = {}
    names["EDF"] = os.path.join(directory, "image.edf")
    fabio.edfimage.EdfImage(data=counts).write(names["EDF"])
    names["TIFF"] = os.path.join(directory, "image.tif")
    fabio.tifimage.TifImage(data=counts).write(names["TIFF"])
    names["CBF"] = os.path.join(directory, "image.cbf")
    fabio.cbfimage.CbfImage(data=counts.astype(np.int32)).write(names["CBF"])
    h5 = os.path.join(directory, "image.h5")
    with h5py.File(h5, "w") as out:
        out["plain"] = counts
        out.create_dataset("gzip", data=counts, chunks=(256, SIDE),
                           compression="gzip")
    names["HDF5"] = h5 + "::/plain"
    names["HDF5 gzip"] = h5 + "::/gzip"
    return names


def build_timed_run(directory):
    """bench/timed_run.c, built: a child's peak RSS counts from its own
    start, not from this interpreter's size (which a forked child's peak
    would inherit)."""
    timed_run = os.path.join(directory, "timed_run")
    subprocess.run(["cc", "-O2", "-o", timed_run,
                    os.path.join(ROOT, "bench", "timed_run.c")], check=True)
    return timed_run


def timed(timed_run, directory, command):
    """Wall time in s, peak RSS in kB and standard output of command."""
    out = os.path.join(directory, "timed.out")
    done = subprocess.run([timed_run, out] + command, capture_output=True,
                          text=True, check=True)
    seconds, rss, status = done.stdout.split()
    if status != "0":
        sys.exit(f"{command[0]} failed on {command[1:]}")
    with open(out) as f:
        return float(seconds), int(rss) / 1024, f.read()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--probe", required=True,
                        help="the built tests/tools/vabo_image_probe")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args(argv)
    pixel_mb = SIDE * SIDE * 4 / 1e6
    print(f"{SIDE} x {SIDE} pixels; record: {pixel_mb:.1f} MB of float32 "
          f"+ {pixel_mb / 4:.1f} MB of marks")
    with tempfile.TemporaryDirectory() as directory:
        timed_run = build_timed_run(directory)
        tiny = os.path.join(directory, "tiny.edf")
        import fabio.edfimage
        fabio.edfimage.EdfImage(data=np.ones((1, 1), np.uint32)).write(tiny)
        _, rss, _ = timed(timed_run, directory, [args.probe, tiny, "/dev/null"])
        print(f"vabo_image_probe on a 1 x 1 image: peak {rss / 1e3:.1f} MB "
              "(the process without an image)")
        for fmt, source in make_images(directory).items():
            vabo = [timed(timed_run, directory,
                          [args.probe, source, "/dev/null"])
                    for _ in range(args.runs)]
            print(f"{fmt:10s} vabo   {min(r[0] for r in vabo) * 1e3:7.1f} ms"
                  f"  peak {max(r[1] for r in vabo) / 1e3:6.1f} MB"
                  " (whole process, start to exit)")
            peers = []
            for _ in range(args.runs):
                _, _, out = timed(timed_run, directory,
                                  [PYTHON, "-W", "ignore", "-c", READER,
                                   source])
                seconds, before, after = out.split()
                peers.append((float(seconds), int(after) - int(before)))
            peer = "h5py " if fmt.startswith("HDF5") else "fabio"
            print(f"{fmt:10s} {peer}  {min(t for t, _ in peers) * 1e3:7.1f} ms"
                  f"  peak +{max(m for _, m in peers) / 1e3:5.1f} MB"
                  " (the read alone, above the interpreter)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
