"""Detector images from Python: vabo.read_image against fabio and h5py."""

import os

import numpy as np
import pytest

import vabo

from conftest import SOURCE_DIR, require

DATA = os.path.join(SOURCE_DIR, "tests", "data", "images")


def gaps_and_saturation(dtype, shape, seed):
    """High-entropy pixels of an integer dtype with a gap or saturation."""
    rng = np.random.default_rng(seed)
    info = np.iinfo(dtype)
    data = rng.integers(max(info.min, -50000), min(info.max, 50000),
                        size=shape, endpoint=True).astype(dtype)
    data.flat[3] = -1 if info.min < 0 else info.max
    return data


# fabio writes CBF as signed 32-bit integers only.
@pytest.mark.parametrize("fmt, dtype", [
    (fmt, dtype) for fmt in ["edf", "tif"]
    for dtype in [np.uint16, np.int32, np.uint32]] + [("cbf", np.int32)])
def test_read_image_agrees_with_fabio(tmp_path, fmt, dtype):
    fabio = require("fabio")
    data = gaps_and_saturation(dtype, (13, 21), 2385)
    name = str(tmp_path / f"image.{fmt}")
    classes = {"edf": "edfimage.EdfImage", "tif": "tifimage.TifImage",
               "cbf": "cbfimage.CbfImage"}
    module, cls = classes[fmt].split(".")
    __import__(f"fabio.{module}")
    getattr(getattr(fabio, module), cls)(data=data).write(name)
    expected = fabio.open(name).data
    pixels, invalid = vabo.read_image(name)
    assert pixels.dtype == np.float32 and pixels.shape == (13, 21)
    assert invalid.dtype == np.bool_
    np.testing.assert_array_equal(pixels, expected.astype(np.float32))
    saturated = np.iinfo(expected.dtype).max if expected.dtype.kind == "u" \
        else None
    np.testing.assert_array_equal(
        invalid, (expected < 0) | (expected == saturated))


def test_read_image_takes_a_frame_of_an_hdf5_stack_and_a_mask(tmp_path):
    h5py = require("h5py")
    stack = np.random.default_rng(7).random((3, 5, 4)).astype(np.float32)
    stack[2, 1, 1] = np.nan
    mask = np.zeros((5, 4), np.uint8)
    mask[0, 2] = 1
    name = str(tmp_path / "stack.h5")
    with h5py.File(name, "w") as out:
        out["entry/data/data"] = stack
        out["mask"] = mask
    pixels, invalid = vabo.read_image(tmp_path / "stack.h5::/entry/data/data[2]",
                                      mask=name + "::/mask")
    np.testing.assert_array_equal(pixels, stack[2])
    assert sorted(zip(*np.nonzero(invalid))) == [(0, 2), (1, 1)]


def test_read_image_errors_are_one_line():
    missing = os.path.join(DATA, "missing.edf")
    with pytest.raises(OSError, match="^" + missing + ": cannot open: "):
        vabo.read_image(missing)
    truncated = os.path.join(DATA, "truncated.edf")
    with pytest.raises(ValueError) as error:
        vabo.read_image(truncated)
    assert str(error.value) == (truncated + ": truncated EDF file: the header "
                                "promises 24 bytes of data, 10 follow it")
    with pytest.raises(TypeError):
        vabo.read_image(2.385)
