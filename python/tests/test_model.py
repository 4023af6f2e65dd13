# The Model object: NumPy views, bad arguments, models side by side and
# interruption.
import os
import signal
import threading

import numpy as np
import pytest

import tavro
from conftest import CAVITY, DIPOLE, build


def small_model():
    m = tavro.Model(area=(8, 7, 6), unit=(1e-3, 2e-3, 1e-3))
    m.set_material(2, "FR4")
    layer = np.zeros((8, 7), dtype=np.int16)
    layer[2:5, 1:3] = 2
    m.set_ids(layer, z=1)
    m.set_source(4, 3, 3, "GAUSS:Z:5")
    m.set_probe(4, 3, 2, "P")
    return m


def test_numpy_views():
    m = small_model()
    ids = m.ids
    assert ids.shape == (8, 7, 6) and ids.dtype == np.int32
    assert ids[3, 2, 1] == 2 and ids[3, 2, 0] == 0 and ids.sum() == 2 * 6
    assert m.cell_text(4, 3, 3) == ("GAUSS Z 5", "GAUSS_4_3_3")
    assert m.material(2) == pytest.approx((1e-3, 4.7, 1))

    report = m.setup(samples=64)
    assert "(2) sg=0.001[S/m] er=4.7 ur=1  used 6[grids]" in report
    assert report == m.report and m.probes == ["P", "GAUSS_4_3_3"]  # cell order
    m.run(progress=False)
    assert m.done and m.steps == 64

    s = m.samples("P")
    assert s.shape == (64,) and s.dtype.names == tavro.SAMPLE_COLUMNS
    assert s.dtype["Ez"] == np.float32
    t = np.cumsum(np.full(64, m.dt, dtype=np.float32), dtype=np.float32)
    assert np.array_equal(s["t"][1:], t[:-1]) and s["t"][0] == 0
    assert np.array_equal(s["Vz"], -s["Ez"] * np.float32(1e-3))
    assert np.abs(s["Ez"]).max() > 0

    # The fields after the last step are those of the last sample.
    E, H = m.E, m.H
    assert E.shape == H.shape == (8, 7, 6, 3) and E.dtype == np.float32
    last = s[-1]
    assert tuple(E[4, 3, 2]) == (last["Ex"], last["Ey"], last["Ez"])
    assert tuple(H[4, 3, 2]) == (last["Hx"], last["Hy"], last["Hz"])

    sp = m.spectrum(1)
    assert sp.shape == (2000,) and sp.dtype.names == tavro.SPECTRUM_COLUMNS
    assert np.all(np.diff(sp["f"]) > 0)
    assert np.array_equal(sp["Zm"], np.sqrt(sp["Zr"] * sp["Zr"] + sp["Zi"] * sp["Zi"]))


BAD = [
    (lambda m: m.set_material(65536, "CU"), ValueError, "ID must be less than 65536."),
    (lambda m: m.set_material(-1, "CU"), ValueError, "ID must not be negative (-1)."),
    (lambda m: m.set_material(1, "cu"), ValueError, "bad material 'cu'"),
    (lambda m: m.set_material(1, "1:2", axis="x"), ValueError, "bad material '1:2'"),
    (lambda m: m.set_material(1, "CU", axis="w"), ValueError, "axis must be"),
    (lambda m: m.set_area(-1, 2, 2), ValueError, "must not be negative"),
    (lambda m: m.set_area(100000, 100000, 100000), MemoryError,
     "can't allocate memory for data[1000000000000000]."),
    (lambda m: m.read_layer(6, "x.csv"), ValueError,
     "size of CSV[8,7,6] is out of calculation area[8,7,6]."),
    (lambda m: m.read_layer(1, "missing.csv"), OSError, "can't find CSV 'missing.csv'."),
    (lambda m: m.read_fdtd("missing.fdtd"), OSError, "FDTD file(missing.fdtd) is not found."),
    (lambda m: m.set_ids(np.full((2, 2), 70000), z=0), ValueError, "material ID 70000 is outside"),
    (lambda m: m.set_ids(np.zeros((9, 7), dtype=int)), ValueError, "do not fit the calculation area"),
    (lambda m: m.set_ids(np.zeros((2, 2))), TypeError, "integer array"),
    (lambda m: m.set_ids("abc"), TypeError, "material IDs must be an integer array (not 'abc')"),
    (lambda m: m.set_probe(8, 0, 0, "P"), ValueError, "cell (8,0,0) is outside"),
    (lambda m: m.set_probe(0, 0, 0, "a b"), ValueError, "one word"),
    (lambda m: m.set_source(0, 0, 0, "CW"), ValueError, "type and direction"),
    (lambda m: m.samples(), ValueError, "not set up"),
    (lambda m: m.setup(samples=1000001), ValueError, "samples must be 0 to 1000000"),
    (lambda m: (m.set_unit(0, 1, 1), m.setup(10)), ValueError,
     "grid size (0,1,1) must be positive and finite."),
    # Strict integers and numbers, refused in the module's own words.
    (lambda m: m.setup(samples=2.5), TypeError, "samples must be an integer (not 2.5)"),
    (lambda m: m.setup(samples="10"), TypeError, "samples must be an integer (not '10')"),
    (lambda m: m.setup(samples=True), TypeError, "samples must be an integer (not True)"),
    (lambda m: m.set_area(8.0, 7, 6), TypeError, "area x must be an integer (not 8.0)"),
    (lambda m: m.set_probe(1.5, 0, 0, "Q"), TypeError, "x must be an integer (not 1.5)"),
    (lambda m: m.set_unit("1mm", 1, 1), TypeError, "unit x must be a number (not '1mm')"),
    (lambda m: m.set_material(1, 5), TypeError, "bad material 5: give a preset name"),
    (lambda m: m.set_material(1, ["a", "b", "c"]), TypeError, "bad material ['a', 'b', 'c']"),
    (lambda m: m.set_material(1.0, "CU"), TypeError, "material ID must be an integer"),
    (lambda m: m.setup(8, minfreq="1G"), TypeError, "minfreq must be a number (not '1G')"),
    (lambda m: (m.setup(8), m.run(vtk_every=2.5, vtk_prefix="s")), TypeError,
     "vtk_every must be an integer (not 2.5)"),
    (lambda m: (m.setup(8), m.advance("3")), TypeError, "steps must be an integer (not '3')"),
    # Data-loss traps: the same refusals as the command line.
    (lambda m: (m.setup(8), m.write_results("txt", "txt")), ValueError,
     "timelog and freqlog name the same extension(txt)"),
    (lambda m: m.set_probe(1, 1, 1, "P"), ValueError,
     "duplicate probe name 'P' at cells (4,3,2) and (1,1,1)"),
    (lambda m: (m.setup(8), m.run(progress=False, vtk_every=2, vtk_prefix="/")), ValueError,
     "vtk_prefix '/' is a folder"),
    (lambda m: (m.setup(8), m.snapshot("-n")), ValueError, "vtk_prefix '-n' starts with '-'"),
    (lambda m: (m.setup(8), m.snapshot("")), ValueError, "vtk_prefix is empty"),
    (lambda m: m.set_probe(1, 1, 1, "GAUSS_4_3_3"), ValueError,
     "duplicate probe name 'GAUSS_4_3_3' at cells (4,3,3) and (1,1,1)"),
]


@pytest.mark.parametrize("call,error,message", BAD, ids=[b[2][:30] for b in BAD])
def test_bad_arguments(call, error, message):
    m = small_model()
    before = (m.area, m.ids.tobytes(), m.material(1))
    with pytest.raises(error) as e:
        call(m)
    assert message in str(e.value)
    assert (m.area, m.ids.tobytes(), m.material(1)) == before  # nothing half-changed


@pytest.mark.parametrize("axis", ["x", "y", "z"])
def test_material_of_one_axis(axis):
    m = small_model()
    m.set_material(3, (1, 2, 3))
    m.set_material(3, (4, 5, 6), axis=axis)
    for other in "xyz":
        want = (4, 5, 6) if other == axis else (1, 2, 3)
        assert m.material(3, axis=other) == pytest.approx(want), other


def test_model_constructor_refuses_text_units():
    with pytest.raises(TypeError, match="unit takes one number or three"):
        tavro.Model(unit="1mm")


@pytest.mark.parametrize("array", ["ids", "E", "H"])
def test_state_arrays_are_read_only(array):
    m = small_model()
    m.setup(samples=4)
    a = getattr(m, array)
    with pytest.raises(ValueError, match="read-only"):
        a[0, 0, 0] = 5
    assert getattr(m, array)[0, 0, 0].sum() == 0  # nothing changed anywhere


def test_failed_setup_leaves_no_run():
    m = small_model()
    m.setup(samples=8)
    m.set_unit(-1, 1, 1)
    with pytest.raises(ValueError):
        m.setup(samples=8)
    assert not m.ready and m.probes == []


def test_models_side_by_side(workdir):
    def model(words):
        m = build(tavro, words, workdir)
        m.setup(samples=80)
        return m

    alone = {}
    for name, words in (("dipole", DIPOLE), ("cavity", CAVITY)):
        m = model(words)
        m.run(progress=False)
        alone[name] = (m.samples(0), m.E)
    together = {"dipole": model(DIPOLE), "cavity": model(CAVITY)}
    threads = [threading.Thread(target=m.run, kwargs={"progress": False})
               for m in together.values()]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for name, m in together.items():
        assert np.array_equal(m.samples(0), alone[name][0]), name
        assert np.array_equal(m.E, alone[name][1]), name


def test_ctrl_c_stops_at_the_next_step_and_keeps_the_samples():
    m = tavro.Model.demo()
    m.setup(samples=100000)
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        m.run(progress=False)
    timer.join()
    n = m.sample_count
    assert 0 < n < 100000 and m.steps == n
    assert m.samples("DEMO").shape == (n,)
    m.advance(2)  # the run goes on from where it stopped
    assert m.sample_count == n + 2


class FakeTqdm:
    """Stands in for tqdm: records what the bar was told."""
    made = []

    def __init__(self, total, **_):
        self.total, self.n, self.closed = total, 0, False
        FakeTqdm.made.append(self)

    def update(self, k):
        self.n += k

    def close(self):
        self.closed = True


@pytest.mark.parametrize("with_tqdm", [True, False])
def test_progress(with_tqdm, monkeypatch, capsys):
    import sys
    import types
    monkeypatch.setitem(sys.modules, "tqdm",
                        types.SimpleNamespace(tqdm=FakeTqdm) if with_tqdm else None)
    m = small_model()
    m.setup(samples=300)
    m.run()
    err = capsys.readouterr().err
    if with_tqdm:
        bar = FakeTqdm.made[-1]
        assert (bar.total, bar.n, bar.closed) == (300, 300, True) and err == ""
    else:
        # The program's own line: redrawn per whole percent, cleared at the end.
        assert err.startswith("\r- FDTD calculation 0sec 0% done.\r- FDTD calculation ")
        assert err.endswith("\r" + " " * 78 + "\r")


@pytest.mark.parametrize("far,side,edge_id", [(False, 80, 1), (True, 192, 0)])
def test_model_file_margin(far, side, edge_id):
    from conftest import SOURCE
    m = tavro.Model.from_fdtd(SOURCE / "examples" / "cavity.fdtd", far=far)
    assert m.area == (side, side, side)
    # The normal margin continues the copper walls to the edge; the far one is empty.
    assert m.ids[0, side // 2, side // 2] == edge_id
    assert m.material(1) == pytest.approx((5.8e7, 1, 1))
