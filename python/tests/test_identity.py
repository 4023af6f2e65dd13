# The same model run from Python and from the command line: byte-identical
# result files, and field snapshots that VTK's own reader takes.
import xml.etree.ElementTree as ET

import numpy as np
import pytest

import tavro
from conftest import CAVITY, DIPOLE, SOURCE, build, run_cli

CASES = {
    "dipole": (DIPOLE, 300, None, False),
    "cavity, decimated": (CAVITY, 500, 5.2e8, False),
    "cavity, averaged materials": (CAVITY, 300, None, True),
    "model file": (["-mat", "0", "AIR", str(SOURCE / "examples" / "microstrip.fdtd")], 40, None,
                   False),
}


@pytest.mark.parametrize("name", CASES)
def test_result_files_match_the_command_line(name, workdir):
    words, n, minfreq, avgmat = CASES[name]
    cli = workdir / "cli"
    py = workdir / "py"
    cli.mkdir()
    py.mkdir()
    extra = (["-minfreq", str(minfreq)] if minfreq else []) + (["-avgmat"] if avgmat else [])
    run_cli(["-batch", "-n", str(n)] + extra + [
        w if not w.endswith(".csv") else f"../{w}" for w in words] +
        ["-timelog", "txt", "-freqlog", "frq"], cli)

    m = build(tavro, words, workdir)
    m.setup(samples=n, minfreq=minfreq, avgmat=avgmat)
    m.run(progress=False)
    written = m.write_results("txt", "frq", py)
    names = sorted(p.name for p in cli.iterdir())
    assert names and sorted(p.split("/")[-1] for p in written) == names
    for f in names:
        assert (py / f).read_bytes() == (cli / f).read_bytes(), f


def read_vti(path):
    vtk = pytest.importorskip("vtk")
    from vtk.util.numpy_support import vtk_to_numpy
    r = vtk.vtkXMLImageDataReader()
    r.SetFileName(str(path))
    r.Update()
    img = r.GetOutput()
    cells = img.GetCellData()
    arrays = {cells.GetArrayName(i): vtk_to_numpy(cells.GetArray(i))
              for i in range(cells.GetNumberOfArrays())}
    return img.GetDimensions(), img.GetSpacing(), arrays


def test_snapshots_read_back_by_vtk(workdir):
    out = run_cli(["-batch", "-n", "120", "-vtk", "50", "snap"] + DIPOLE, workdir)
    assert "error" not in out
    pvd = ET.parse(workdir / "snap.pvd").getroot()
    sets = pvd.find("Collection").findall("DataSet")
    assert [d.get("file") for d in sets] == ["snap_000050.vti", "snap_000100.vti"]
    assert float(sets[1].get("timestep")) > float(sets[0].get("timestep")) > 0

    # The same run from Python: the snapshot of step 100 holds its fields.
    m = build(tavro, DIPOLE, workdir)
    m.setup(samples=120)
    m.advance(100)
    dims, spacing, arrays = read_vti(workdir / "snap_000100.vti")
    assert dims == (31, 41, 31)
    assert spacing == pytest.approx((1e-3, 1e-3, 1e-3))
    # VTK's cells run x fastest; the model's arrays z fastest.
    for name, field in (("E", m.E), ("H", m.H)):
        got = arrays[name].reshape(30, 40, 30, 3).transpose(2, 1, 0, 3)
        assert np.array_equal(got, field), name
        assert np.abs(field).max() > 0
    ids = arrays["material"].reshape(30, 40, 30).T
    assert np.array_equal(ids, m.ids)
    assert ids.sum() > 0

    # A series from Python names its files by the step.
    m.run(progress=False, vtk_every=10, vtk_prefix=str(workdir / "py"))
    assert (workdir / "py_000110.vti").exists() and (workdir / "py_000120.vti").exists()
    assert not (workdir / "py_000100.vti").exists()
