"""Cross-check of vabo's image readers against fabio and h5py.

Makes images of every format and pixel type with fabio (EDF, TIFF, CBF)
and h5py (HDF5), with module gaps (-1, -2), saturated pixels (the largest
value of an unsigned type), NaN and infinities, frames of multi-image files
and masks, reads each with vabo_image_probe and compares, pixel by pixel,
the values with what fabio (h5py for HDF5) reads and the invalid marks
with the rule: negative, largest unsigned, not finite, or masked.

    images_crosscheck.py PROBE

Exit 0 when all agree, 1 with one line per disagreement.
"""

import os
import subprocess
import sys
import tempfile

import numpy as np


def expected_invalid(data):
    """The invalid marks vabo's rule gives to the stored pixels data."""
    if data.dtype.kind == "f":
        return ~np.isfinite(data) | (data < 0)
    if data.dtype.kind == "u":
        return data == np.iinfo(data.dtype).max
    return data < 0


def sample(dtype, shape, rng):
    """High-entropy pixels of dtype with a gap (-1, -2) or saturation and,
    for floats, NaN and infinities."""
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        data = (rng.random(shape) * 4.0e4 - 10.0).astype(dtype)
        data.flat[1] = np.nan
        data.flat[2] = np.inf
        data.flat[3] = -np.inf
        return data
    info = np.iinfo(dtype)
    low = max(info.min, -(2**40))
    high = min(info.max, 2**40)
    data = rng.integers(low, high, size=shape, endpoint=True, dtype=np.int64)
    data = data.astype(dtype)
    if dtype.kind == "u":
        data.flat[1] = info.max
        data.flat[2] = info.max - 1
    else:
        data.flat[1] = -1
        data.flat[2] = -2
        data.flat[3] = info.max
    return data


def run_probe(probe, source, mask=None):
    out = os.path.join(os.getcwd(), "probe.bin")
    command = [probe, source, out] + ([mask] if mask else [])
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        return None, done.stderr.strip()
    rows, columns, fmt = done.stdout.split()
    rows, columns = int(rows), int(columns)
    raw = np.fromfile(out, dtype=np.uint8)
    count = rows * columns
    pixels = raw[: 4 * count].view(np.float32).reshape(rows, columns)
    invalid = raw[4 * count :].reshape(rows, columns) != 0
    return (pixels, invalid, fmt), ""


class Check:
    def __init__(self, probe):
        self.probe = probe
        self.failures = []
        self.count = 0

    def image(self, label, source, data, fmt, mask=None, masked=None):
        """vabo reads source as data (stored type), marks by the rule."""
        self.count += 1
        result, error = run_probe(self.probe, source, mask)
        if result is None:
            self.failures.append(f"{label}: probe failed: {error}")
            return
        pixels, invalid, got_fmt = result
        want = np.asarray(data).astype(np.float32)
        want_invalid = expected_invalid(np.asarray(data))
        if masked is not None:
            want_invalid = want_invalid | masked
        if got_fmt != fmt:
            self.failures.append(f"{label}: format {got_fmt}, expected {fmt}")
        elif pixels.shape != want.shape:
            self.failures.append(
                f"{label}: shape {pixels.shape}, fabio reads {want.shape}")
        elif not np.array_equal(pixels, want, equal_nan=True):
            bad = np.argwhere(~((pixels == want) |
                                (np.isnan(pixels) & np.isnan(want))))[0]
            self.failures.append(
                f"{label}: pixel {tuple(bad)} is {pixels[tuple(bad)]}, "
                f"fabio reads {want[tuple(bad)]}")
        elif not np.array_equal(invalid, want_invalid):
            bad = np.argwhere(invalid != want_invalid)[0]
            self.failures.append(
                f"{label}: pixel {tuple(bad)} marked {invalid[tuple(bad)]}, "
                f"expected {want_invalid[tuple(bad)]}")

    def error(self, label, source, expected, mask=None):
        """vabo refuses source with the one line expected (a prefix when
        it ends in '...')."""
        self.count += 1
        result, error = run_probe(self.probe, source, mask)
        if result is not None:
            self.failures.append(f"{label}: read, expected '{expected}'")
        elif "\n" in error:
            self.failures.append(f"{label}: more than one line: {error!r}")
        elif not (error == expected or (expected.endswith("...") and
                                       error.startswith(expected[:-3]))):
            self.failures.append(f"{label}: '{error}', expected '{expected}'")


def edf_checks(check, rng):
    import fabio
    from fabio.edfimage import EdfImage

    for dtype in ["u1", "i1", "u2", "i2", "u4", "i4", "u8", "i8", "f4", "f8"]:
        data = sample(dtype, (37, 23), rng)
        EdfImage(data=data).write(f"p_{dtype}.edf")
        read = fabio.open(f"p_{dtype}.edf").data
        check.image(f"EDF {dtype}", f"p_{dtype}.edf", read, "EDF")
    # Frames of differing types and shapes, one after the other.
    frames = [sample("i2", (9, 11), rng), sample("f4", (5, 7), rng),
              sample("u4", (13, 3), rng)]
    edf = EdfImage(data=frames[0])
    for frame in frames[1:]:
        edf.append_frame(data=frame)
    edf.write("frames.edf")
    opened = fabio.open("frames.edf")
    for n in range(3):
        check.image(f"EDF frame {n}", f"frames.edf::[{n}]",
                    opened.getframe(n).data, "EDF")
    check.error("EDF frame 3", "frames.edf::[3]",
                "frames.edf: EDF file of 3 frames has no frame 3")
    # Big-endian data, as old ESRF files hold them (fabio writes native).
    data = sample(">u2", (6, 10), rng)
    header = ("{\nHeaderID = EH:000001:000000:000000 ;\nImage = 1 ;\n"
              "ByteOrder = HighByteFirst ;\nDataType = UnsignedShort ;\n"
              f"Dim_1 = 10 ;\nDim_2 = 6 ;\nSize = {data.nbytes} ;\n")
    header = header.ljust(510) + "}\n"
    with open("big.edf", "wb") as out:
        out.write(header.encode() + data.tobytes())
    check.image("EDF big-endian", "big.edf", fabio.open("big.edf").data,
                "EDF")


def tiff_checks(check, rng):
    import fabio
    from fabio import TiffIO
    from fabio.tifimage import TifImage

    for dtype in ["u1", "i1", "u2", "i2", "u4", "i4", "f4"]:
        data = sample(dtype, (29, 31), rng)
        TifImage(data=data).write(f"p_{dtype}.tif")
        read = fabio.open(f"p_{dtype}.tif").data
        check.image(f"TIFF {dtype}", f"p_{dtype}.tif", read, "TIFF")
    pages = [sample("u2", (8, 6), rng), sample("i4", (8, 6), rng)]
    TiffIO.TiffIO("pages.tif", "w").writeImage(pages[0])
    TiffIO.TiffIO("pages.tif", "r+").writeImage(pages[1])
    opened = fabio.open("pages.tif")
    for n in range(2):
        check.image(f"TIFF page {n}", f"pages.tif::[{n}]",
                    opened.getframe(n).data, "TIFF")
    check.error("TIFF page 2", "pages.tif::[2]",
                "pages.tif: TIFF file of 2 pages has no page 2")


def cbf_checks(check, rng):
    import fabio
    from fabio.cbfimage import CbfImage

    # Byte offset stores differences in 1, 2 or 4 bytes: steps past
    # 127 and 32767 and across the whole signed 32-bit range.
    data = sample("i4", (41, 17), rng)
    data[5] = rng.integers(-100, 100, size=17)
    data[6] = rng.integers(-30000, 30000, size=17)
    data[7, 0], data[7, 1] = -2**31 + 1, 2**31 - 1
    CbfImage(data=data).write("p.cbf")
    check.image("CBF i4", "p.cbf", fabio.open("p.cbf").data, "CBF")


def hdf5_checks(check, rng):
    import h5py

    with h5py.File("p.h5", "w") as out:
        for dtype in ["u1", "i1", "u2", "i2", "u4", "i4", "u8", "i8", "f4",
                      "f8"]:
            out.create_dataset(f"entry/{dtype}", data=sample(dtype, (19, 27),
                                                             rng))
        out.create_dataset("entry/data/data", data=sample("u4", (3, 12, 14),
                                                          rng),
                           chunks=(1, 12, 14), compression="gzip")
        out.create_dataset("lzf", data=sample("u2", (4, 4), rng),
                           compression="lzf")
        out.create_dataset("line", data=np.arange(5))
    with h5py.File("p.h5", "r") as read:
        for dtype in ["u1", "i1", "u2", "i2", "u4", "i4", "u8", "i8", "f4",
                      "f8"]:
            check.image(f"HDF5 {dtype}", f"p.h5::/entry/{dtype}",
                        read[f"entry/{dtype}"][()], "HDF5")
        stack = read["entry/data/data"]
        check.image("HDF5 gzip frame 0", "p.h5::/entry/data/data", stack[0],
                    "HDF5")
        for n in range(3):
            check.image(f"HDF5 gzip frame {n}", f"p.h5::/entry/data/data[{n}]",
                        stack[n], "HDF5")
    check.error("HDF5 frame 3", "p.h5::/entry/data/data[3]",
                "p.h5: dataset /entry/data/data of 3 frames has no frame 3")
    check.error("HDF5 missing", "p.h5::/entry/nothing",
                "p.h5: no dataset /entry/nothing...")
    check.error("HDF5 group", "p.h5::/entry", "p.h5: /entry is not a dataset")
    check.error("HDF5 1-D", "p.h5::/line",
                "p.h5: dataset /line has 1 dimensions; an image has 2, "
                "a stack of frames 3")
    check.error("HDF5 lzf", "p.h5::/lzf",
                "p.h5: /lzf: dataset compressed by HDF5 filter 32000 (lzf)...")


def mask_checks(check, rng):
    from fabio.edfimage import EdfImage
    from fabio.tifimage import TifImage

    data = sample("i4", (12, 10), rng)
    TifImage(data=data).write("masked.tif")
    mask = rng.random((12, 10)) < 0.3
    EdfImage(data=mask.astype(np.uint8)).write("mask.edf")
    check.image("mask", "masked.tif", data, "TIFF", mask="mask.edf",
                masked=mask)
    EdfImage(data=np.zeros((10, 12), np.uint8)).write("turned.edf")
    check.error("mask of another shape", "masked.tif",
                "turned.edf: mask of 10 x 12 pixels, the image has 12 x 10 "
                "(rows x columns)", mask="turned.edf")


def main(argv):
    if len(argv) != 2:
        print("usage: images_crosscheck.py PROBE", file=sys.stderr)
        return 2
    probe = os.path.abspath(argv[1])
    rng = np.random.default_rng(20261210)
    check = Check(probe)
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        for checks in [edf_checks, tiff_checks, cbf_checks, hdf5_checks,
                       mask_checks]:
            checks(check, rng)
        os.chdir("/")
    for failure in check.failures:
        print(failure)
    print(f"images: {check.count - len(check.failures)} of {check.count} "
          "agree with fabio and h5py")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
