"""cmake --install puts the module where the documented PYTHONPATH finds it."""

import os
import subprocess
import sys

import pytest


def test_installed_module_imports_from_its_install_directory(tmp_path):
    build = os.environ.get("VABO_BUILD_DIR")
    cmake = os.environ.get("CMAKE_COMMAND")
    directory = os.environ.get("VABO_PYTHON_DIR")
    if not (build and cmake and directory):
        pytest.skip("run by ctest, which names the build and its layout")
    prefix = tmp_path / "prefix"
    subprocess.run([cmake, "--install", build, "--prefix", str(prefix),
                    "--component", "python"], check=True, capture_output=True)
    site = prefix / directory
    env = dict(os.environ, PYTHONPATH=str(site))
    run = subprocess.run(
        [sys.executable, "-c",
         "import vabo; print(vabo.__file__); print(vabo.value('11_cm'))"],
        cwd=str(tmp_path), env=env, capture_output=True, text=True, check=True)
    location, value = run.stdout.split("\n")[:2]
    assert os.path.dirname(location) == str(site)
    assert value == "0.11"
