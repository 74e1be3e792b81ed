"""Shared pieces of the tests of the Python module vabo.

ctest runs these tests with the built module on PYTHONPATH and the program
and the source tree named by VABO_BINARY and VABO_SOURCE_DIR.  The
calibration helpers of the result cross-check (tests/results_crosscheck.py:
reading a calibration file, the detector model written with numpy) serve
here too.
"""

import importlib
import json
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("VABO_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(HERE)))
VABO_BINARY = os.environ.get("VABO_BINARY", "")
EXAMPLE = os.path.join(SOURCE_DIR, "examples", "points.dat")

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests"))
import results_crosscheck  # noqa: E402  (after the path is set)

NAMES = results_crosscheck.NAMES
START = results_crosscheck.START
read_points = results_crosscheck.read_points
model_angles = results_crosscheck.model_angles
weighted_copy = results_crosscheck.weighted_copy


def require(module):
    """Imports module; skips the test where it is missing, except in CI,
    where every check must run."""
    if os.environ.get("CI"):
        return importlib.import_module(module)
    return pytest.importorskip(module)


@pytest.fixture(scope="session")
def example():
    """The example calibration as rows (TwoTheta, i1, i2, weight)."""
    return read_points(EXAMPLE)


def run_program(workdir, data, start, options=()):
    """Runs the program on the file data with json=; returns its exit
    status and the JSON document."""
    if not os.access(VABO_BINARY, os.X_OK):
        pytest.fail("VABO_BINARY does not name the built program")
    document = os.path.join(workdir, "result.json")
    run = subprocess.run([VABO_BINARY, "input=" + data, "json=" + document]
                         + list(start) + list(options),
                         capture_output=True, text=True, check=False)
    with open(document) as f:
        return run.returncode, json.load(f)
