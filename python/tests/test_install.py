"""cmake --install puts the package where a fresh interpreter imports it."""

import os
import pathlib
import subprocess
import sys

import pytest

BUILD = os.environ.get("TAVRO_BUILD_DIR")
CMAKE = os.environ.get("TAVRO_CMAKE", "cmake")


@pytest.mark.skipif(not BUILD, reason="needs TAVRO_BUILD_DIR (run through ctest)")
def test_install_into_a_prefix_imports_from_there(tmp_path):
    prefix = tmp_path / "prefix"
    r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", str(prefix), "--component",
                        "python"], capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr
    found = sorted(prefix.glob("lib/python*/site-packages/tavro/__init__.py"))
    assert len(found) == 1, sorted(p.relative_to(prefix) for p in prefix.rglob("*"))
    site = found[0].parents[1]
    # A fresh interpreter that knows nothing of the build tree.
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PYTHONPATH"] = str(site)
    script = ("import tavro; m = tavro.Model(area=(4, 4, 4), unit=1e-3); "
              "print(tavro.__file__); print(m.setup(samples=2).count('calculation parameters'))")
    r = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env,
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    where, reports = r.stdout.split()
    assert pathlib.Path(where).is_relative_to(site) and reports == "1"
