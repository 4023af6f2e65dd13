import os
import pathlib
import shutil
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("TAVRO_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
CSV = SOURCE / "examples" / "csv"
CLI = os.environ.get("TAVRO_CPU", str(SOURCE / "build" / "app" / "tavro_cpu"))

# Command-line words of the example models (run in a directory holding the CSV files).
CAVITY = ["-area", "24", "20", "10", "-unit", "1e-3", "1e-3", "1e-3", "-mat", "1", "CU",
          "-layer", "1", "cavity_plate.csv"] + sum(
    [["-layer", str(z), "cavity_ring.csv"] for z in (2, 3, 5, 6, 7)], []) + [
    "-layer", "4", "cavity_feed.csv", "-layer", "8", "cavity_plate.csv"]
DIPOLE = ["-area", "30", "40", "30", "-unit", "1e-3", "1e-3", "1e-3", "-mat", "1", "CU",
          "-layer", "15", "dipole.csv"]


@pytest.fixture
def workdir(tmp_path):
    """A scratch directory holding the example CSV files."""
    for f in CSV.glob("*.csv"):
        shutil.copy(f, tmp_path)
    return tmp_path


def run_cli(args, cwd):
    r = subprocess.run([CLI] + args, cwd=cwd, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return r.stderr


def build(tavro, words, cwd):
    """A Model built from the same words as the command line's CSV options."""
    m = tavro.Model()
    i = 0
    while i < len(words):
        w = words[i]
        if w == "-area":
            m.set_area(*map(int, words[i + 1:i + 4])); i += 4
        elif w == "-unit":
            m.set_unit(*map(float, words[i + 1:i + 4])); i += 4
        elif w == "-mat":
            m.set_material(int(words[i + 1]), words[i + 2]); i += 3
        elif w.endswith(".fdtd"):
            m.read_fdtd(w); i += 1
        elif w == "-layer":
            m.read_layer(int(words[i + 1]), cwd / words[i + 2]); i += 3
        else:
            raise AssertionError(w)
    return m
