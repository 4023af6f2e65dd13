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

__all__ = ["Model", "SAMPLE_COLUMNS", "SPECTRUM_COLUMNS", "PRESETS"]

# The 25 slots of a time-domain sample and of a spectrum point.
SAMPLE_COLUMNS = ("t", "Ex", "Ey", "Ez", "E", "Hx", "Hy", "Hz", "H", "Vx", "Vy", "Vz", "V",
                  "Ix", "Iy", "Iz", "I", "Zx", "Zy", "Zz", "Z", "Px", "Py", "Pz", "P")
SPECTRUM_COLUMNS = ("f", "Ex", "Ey", "Ez", "E", "Hx", "Hy", "Hz", "H", "Vr", "Vi", "_v", "Vm",
                    "Ir", "Ii", "_i", "Im", "Zr", "Zi", "_z", "Zm", "Pr", "Pi", "_p", "Pm")
SAMPLE_DTYPE = np.dtype([(c, "<f4") for c in SAMPLE_COLUMNS])
SPECTRUM_DTYPE = np.dtype([(c, "<f4") for c in SPECTRUM_COLUMNS])

PRESETS = ("SPACE", "AIR", "CU", "GOLD", "AL", "NI", "IRON", "SI", "FR4", "TEFLON", "WATER")


def _triple(value, what):
    if isinstance(value, (int, float)):
        return (value, value, value)
    value = tuple(value)
    if len(value) != 3:
        raise ValueError(f"{what} takes three values (x, y, z) or one for all axes")
    return value


def _records(table, dtype):
    """An (n, 25) float32 table as a 1-D array of named records."""
    return np.ascontiguousarray(table).view(dtype).reshape(len(table))


class Model(_core.Model):
    """One simulation: cells, materials, sources and probes, its run and results.

    Material IDs index 65536-entry tables (all vacuum at first). Cell (x, y, z)
    of the area holds one ID and optionally a source or a probe.
    """

    def __init__(self, area=None, unit=None):
        super().__init__()
        if unit is not None:
            self.set_unit(*_triple(unit, "unit"))
        if area is not None:
            self.set_area(*_triple(area, "area"))

    # --- building ------------------------------------------------------------

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
        self._read_fdtd(str(path), bool(far))

    def read_layer(self, z, path):
        """Fills layer z of the whole area from a CSV file (as -layer)."""
        self._read_csv(str(path), int(z), 0, 0)

    def read_csv(self, x, y, z, path):
        """Fills the first x columns and y rows of layer z (as -csv)."""
        if x <= 0 or y <= 0:
            raise ValueError(f"size of CSV[{x},{y},{z}] must be positive")
        self._read_csv(str(path), int(z), int(x), int(y))

    # --- run -----------------------------------------------------------------

    def setup(self, samples=1000000, minfreq=None, avgmat=False, pml=0):
        """Prepares a run that records `samples` samples per probe (as -n);
        with `minfreq` [Hz] the samples are thinned to cover one period of it
        (as -minfreq); with `avgmat` the materials are averaged onto the cell
        edges, so that walls sit where they are drawn (as -avgmat); with `pml`
        an absorbing layer of that many cells (1 to 64) surrounds the area in
        place of the Mur boundary (as -pml). Returns the set-up report, also
        kept as .report."""
        self._set_pml(int(pml))
        return self._setup(int(samples), float(minfreq or 0.0), bool(avgmat))

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
        if vtk_every and not vtk_prefix:
            raise ValueError("vtk_every needs vtk_prefix")
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
        return int(probe)

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
        """E of every cell, shape (X, Y, Z, 3) [V/m]."""
        return self._field(False)

    @property
    def H(self):
        """H of every cell, shape (X, Y, Z, 3) [A/m]."""
        return self._field(True)

    def write_results(self, timelog="", freqlog="", directory="."):
        """Writes <probe>.<timelog> and <probe>.<freqlog> files exactly as a
        batch run with -timelog and -freqlog does. Returns the paths."""
        return self._write_results(str(timelog), str(freqlog), str(directory))


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
