"""Tavro: a 3-D FDTD electromagnetic field simulator, scripted from Python.

A Model holds one simulation: its cells and materials, its run and its
results. Models are independent; several may live and run side by side.

    import tavro
    m = tavro.Model(area=(24, 20, 10), unit=1e-3)
    m.set_material(1, "CU")
    m.read_layer(1, "plate.csv")
    m.setup(samples=20000)
    m.run()
    s = m.spectrum("P1_12_10_4")     # 2000 points, named columns
    peak = s["f"][s["Vm"].argmax()]
"""

import sys

import numpy as np

from . import _core
from ._args import integer as _int, real as _real, text as _text, triple as _triple

__all__ = ["Model", "SAMPLE_COLUMNS", "SPECTRUM_COLUMNS", "PRESETS"]

# The 25 slots of a time-domain sample and of a spectrum point.
SAMPLE_COLUMNS = ("t", "Ex", "Ey", "Ez", "E", "Hx", "Hy", "Hz", "H", "Vx", "Vy", "Vz", "V",
                  "Ix", "Iy", "Iz", "I", "Zx", "Zy", "Zz", "Z", "Px", "Py", "Pz", "P")
SPECTRUM_COLUMNS = ("f", "Ex", "Ey", "Ez", "E", "Hx", "Hy", "Hz", "H", "Vr", "Vi", "_v", "Vm",
                    "Ir", "Ii", "_i", "Im", "Zr", "Zi", "_z", "Zm", "Pr", "Pi", "_p", "Pm")
SAMPLE_DTYPE = np.dtype([(c, "<f4") for c in SAMPLE_COLUMNS])
SPECTRUM_DTYPE = np.dtype([(c, "<f4") for c in SPECTRUM_COLUMNS])

PRESETS = ("SPACE", "AIR", "CU", "GOLD", "AL", "NI", "IRON", "SI", "FR4", "TEFLON", "WATER")


def _records(table, dtype):
    """An (n, 25) float32 table as a 1-D array of named records."""
    return np.ascontiguousarray(table).view(dtype).reshape(len(table))


class Model(_core.Model):
    """One simulation: cells, materials, sources and probes, its run and results.

    Material IDs index 65536-entry tables (all vacuum at first). Cell (x, y, z)
    of the area holds one ID and optionally a source or a probe.

    Integer arguments (cells, IDs, counts) take integers only, numbers take
    int or float; other types raise TypeError. The arrays ids, E and H are
    read-only copies: set_ids changes the cells.
    """

    def __init__(self, area=None, unit=None):
        super().__init__()
        if unit is not None:
            self.set_unit(*_triple(unit, "unit"))
        if area is not None:
            self.set_area(*_triple(area, "area"))

    # --- building ------------------------------------------------------------

    def set_area(self, x, y, z):
        """The calculation area in cells (as -area); all cells cleared."""
        super().set_area(_int(x, "area x"), _int(y, "area y"), _int(z, "area z"))

    def set_unit(self, x, y, z):
        """The cell size in metres along x, y and z (as -unit)."""
        super().set_unit(_real(x, "unit x"), _real(y, "unit y"), _real(z, "unit z"))

    def set_material(self, id, material, axis=""):
        """Material `id`: a preset name, "SG:ER:UR" text or three numbers;
        axis "x", "y" or "z" sets one axis only (as -matx, -maty, -matz)."""
        super().set_material(_int(id, "material ID"), material, _text(axis, "axis"))

    def material(self, id, axis="x"):
        return super().material(_int(id, "material ID"), _text(axis, "axis"))

    def set_ids(self, ids, x=0, y=0, z=0):
        """Material IDs from an integer array placed at cell (x, y, z)."""
        array = np.asarray(ids)
        if array.dtype.kind not in "iu":
            raise TypeError(f"material IDs must be an integer array (not {ids!r:.40})")
        super().set_ids(array, _int(x, "x"), _int(y, "y"), _int(z, "z"))

    def set_source(self, x, y, z, source):
        """A source word (CW:Y:20:3e9) at cell (x, y, z)."""
        super().set_source(*self._cell(x, y, z), _text(source, "source"))

    def set_probe(self, x, y, z, name):
        """A probe at cell (x, y, z); its name must be unique in the model."""
        super().set_probe(*self._cell(x, y, z), _text(name, "probe name"))

    def clear_cell(self, x, y, z):
        super().clear_cell(*self._cell(x, y, z))

    def cell_text(self, x, y, z):
        return super().cell_text(*self._cell(x, y, z))

    @staticmethod
    def _cell(x, y, z):
        return _int(x, "x"), _int(y, "y"), _int(z, "z")

    @classmethod
    def from_fdtd(cls, path, far=False):
        """A model from a .fdtd model file, converted as the command line does
        (an 8-cell margin that continues the cube's faces, or 64 empty cells
        with far=True)."""
        m = cls()
        m.read_fdtd(path, far=far)
        return m

    @classmethod
    def demo(cls):
        """The built-in demo: two opposite 3 GHz sources around probe DEMO."""
        m = cls()
        m._make_demo()
        return m

    def read_fdtd(self, path, far=False):
        """Reads a .fdtd model file on top of this model's material tables."""
        self._read_fdtd(_text(path, "path"), bool(far))

    def read_layer(self, z, path):
        """Fills layer z of the whole area from a CSV file (as -layer)."""
        self._read_csv(_text(path, "path"), _int(z, "z"), 0, 0)

    def read_csv(self, x, y, z, path):
        """Fills the first x columns and y rows of layer z (as -csv)."""
        x, y, z = _int(x, "x"), _int(y, "y"), _int(z, "z")
        if x <= 0 or y <= 0:
            raise ValueError(f"size of CSV[{x},{y},{z}] must be positive")
        self._read_csv(_text(path, "path"), z, x, y)

    # --- run -----------------------------------------------------------------

    def setup(self, samples=1000000, minfreq=None, avgmat=False, pml=0):
        """Prepares a run that records `samples` samples per probe (as -n);
        with `minfreq` [Hz] the samples are thinned to cover one period of it
        (as -minfreq); with `avgmat` the materials are averaged onto the cell
        edges, so that walls sit where they are drawn (as -avgmat); with `pml`
        an absorbing layer of that many cells (1 to 64) surrounds the area in
        place of the Mur boundary (as -pml). Returns the set-up report, also
        kept as .report."""
        minfreq = 0.0 if minfreq is None else _real(minfreq, "minfreq")
        self._set_pml(_int(pml, "pml"))
        return self._setup(_int(samples, "samples"), minfreq, bool(avgmat))

    def advance(self, steps):
        """Up to `steps` time steps; returns the number done."""
        return super().advance(_int(steps, "steps"))

    def write_vti(self, path):
        """One snapshot of the fields and material IDs as a .vti file."""
        super().write_vti(_text(path, "path"))

    def snapshot(self, prefix):
        """The next snapshot <prefix>_<step>.vti of the series <prefix>.pvd."""
        return super().snapshot(_text(prefix, "vtk_prefix"))

    @property
    def done(self):
        return self.ready and self.sample_count >= self.sample_limit

    def _steps_left(self):
        left = self.sample_limit - self.sample_count
        if left <= 0:
            return 0
        return left * self.cull if self.cull else left

    def run(self, progress=True, vtk_every=0, vtk_prefix=None):
        """Steps to the last sample. With progress, a tqdm bar when tqdm is
        installed, otherwise the program's own progress line. With vtk_every,
        a snapshot <vtk_prefix>_<step>.vti every vtk_every steps, listed in
        <vtk_prefix>.pvd. Ctrl-C stops at the next step, keeps the samples
        and raises KeyboardInterrupt."""
        if not self.ready:
            raise ValueError("the model is not set up; call setup() first")
        vtk_every = _int(vtk_every, "vtk_every")
        if vtk_prefix is not None:
            vtk_prefix = _text(vtk_prefix, "vtk_prefix")
        if vtk_every and not vtk_prefix:
            raise ValueError("vtk_every needs vtk_prefix")
        if vtk_every and _core._vtk_prefix_problem(vtk_prefix):
            raise ValueError("vtk_" + _core._vtk_prefix_problem(vtk_prefix))
        if vtk_every < 0:
            raise ValueError("vtk_every must not be negative")
        # About a hundred progress updates; an even count keeps the steps in
        # pairs, as the batch run takes them.
        chunk = max(16, self._steps_left() // 100)
        chunk += chunk % 2
        bar = _Progress(self) if progress else None
        try:
            while not self.done:
                n = chunk
                if vtk_every:
                    n = min(n, vtk_every - self.steps % vtk_every)
                if self.advance(n) == 0:
                    break
                if vtk_every and self.steps % vtk_every == 0:
                    self.snapshot(vtk_prefix)
                if bar:
                    bar.update()
        finally:
            if bar:
                bar.close()
        return self

    # --- results -------------------------------------------------------------

    def probe_index(self, probe):
        if isinstance(probe, str):
            try:
                return self.probes.index(probe)
            except ValueError:
                raise ValueError(f"no probe named '{probe}' (probes: {self.probes})") from None
        return _int(probe, "probe")

    def probe_cell(self, probe):
        return tuple(self._probe_cell(self.probe_index(probe)))

    def samples(self, probe=0):
        """The recorded samples of a probe (index or name): one record per
        sample with the named columns of SAMPLE_COLUMNS (float32)."""
        return _records(self._samples(self.probe_index(probe)), SAMPLE_DTYPE)

    def spectrum(self, probe=0):
        """The probe's spectrum at 2000 points, as the frequency-domain file
        holds it, with the named columns of SPECTRUM_COLUMNS (float32)."""
        return _records(self._spectrum(self.probe_index(probe)), SPECTRUM_DTYPE)

    @property
    def E(self):
        """E of every cell, shape (X, Y, Z, 3) [V/m]; a read-only copy."""
        return self._field(False)

    @property
    def H(self):
        """H of every cell, shape (X, Y, Z, 3) [A/m]; a read-only copy."""
        return self._field(True)

    def record_far_field(self, freqs, box=None):
        """Records the far field at freqs [Hz] (one or several) on a closed
        box surface, from the first step after setup() on (as -nf2ff). box is
        (x0, y0, z0, x1, y1, z1) in grids (as -nf2ff-box); by default the
        surface lies 3 cells inside the area's faces. Returns the warnings."""
        freqs = [float(f) for f in np.atleast_1d(freqs)]
        return self._record_far_field(freqs, [int(v) for v in (box or ())])

    def far_field(self, freq, theta, phi):
        """The far field at a recorded frequency in the directions theta, phi
        [deg] (arrays of one shape, or scalars): complex rE_theta and rE_phi
        [V] (r E at r -> infinity, phase of the box centre, exp(+jwt)) and the
        directivity D [dBi], each of the shape of theta and phi."""
        t, p = np.broadcast_arrays(np.asarray(theta, float), np.asarray(phi, float))
        e_theta, e_phi, d = self._far_field(float(freq), t.ravel().tolist(), p.ravel().tolist())
        return e_theta.reshape(t.shape), e_phi.reshape(t.shape), d.reshape(t.shape)

    def far_field_power(self, freq):
        """The radiated power [W] at a recorded frequency, as -nf2ff gives it."""
        return self._far_field_power(float(freq))

    def write_results(self, timelog="", freqlog="", directory="."):
        """Writes <probe>.<timelog> and <probe>.<freqlog> files exactly as a
        batch run with -timelog and -freqlog does. Returns the paths."""
        return self._write_results(_text(timelog, "timelog"), _text(freqlog, "freqlog"),
                                   _text(directory, "directory"))


def _number(x):
    """A float as the program's console prints it (six significant digits)."""
    return f"{x:g}"


class _Progress:
    def __init__(self, model):
        self.model = model
        self.bar = None
        try:
            from tqdm import tqdm
            self.bar = tqdm(total=model.sample_limit, unit="sample", desc="FDTD")
        except ImportError:
            self.shown = -1
        self.update()

    def update(self):
        m = self.model
        if self.bar is not None:
            self.bar.update(m.sample_count - self.bar.n)
            return
        percent = m.sample_count * 100 // m.sample_limit if m.sample_limit > 0 else 100
        if percent != self.shown and percent < 100:
            sys.stderr.write(f"\r- FDTD calculation {_number(m.time)}sec {percent}% done.")
            sys.stderr.flush()
            self.shown = percent

    def close(self):
        if self.bar is not None:
            self.bar.close()
        else:
            sys.stderr.write("\r" + " " * 78 + "\r")
            sys.stderr.flush()
