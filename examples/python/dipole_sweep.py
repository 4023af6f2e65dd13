"""Dipole length sweep: the feed impedance of a thin copper dipole against
frequency, for several lengths, plotted to dipole_sweep.png.

Each model is the dipole of examples/csv built directly from NumPy: a 1 mm
square copper wire along Y in a 30 x 40 x 30 mm box of 1 mm cells, fed by a
Gaussian source of 1 V along Y in a one-cell gap at its middle. The feed cell
is also the probe; its spectrum holds Z = V / I at 2000 frequencies. The
program's sign convention is V = -E d with the current taken as the loop
integral of H around the feed cell, so the real part of the feed impedance
comes out negative; the plot shows -Re(Z) and -Im(Z), the usual
radiation resistance and reactance. The first resonance (Im Z = 0) moves down
as the dipole grows, near c / 2L.

Run from the repository root after building:
    PYTHONPATH=build/python /usr/bin/python3 examples/python/dipole_sweep.py
"""
import pathlib
import sys

import numpy as np

import tavro

OUT = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path("dipole_sweep.png")
LENGTHS_MM = (16, 20, 24, 28)
SAMPLES = 3000


def dipole(length):
    """A dipole of `length` cells (gap included) centred on the feed cell."""
    m = tavro.Model(area=(30, 40, 30), unit=1e-3)
    m.set_material(1, "CU")
    wire = np.ones((1, length, 1), dtype=np.int32)
    wire[0, length // 2, 0] = 0  # the feed gap stays air
    m.set_ids(wire, x=15, y=20 - length // 2, z=15)
    m.set_source(15, 20, 15, "GAUSS:Y:1")
    return m


results = {}
for length in LENGTHS_MM:
    m = dipole(length)
    m.setup(samples=SAMPLES)
    m.run(progress=False)
    s = m.spectrum("GAUSS_15_20_15")
    band = (s["f"] > 1e9) & (s["f"] < 14e9)
    results[length] = s[band]
    zi = -s["Zi"][band]
    # The first resonance: where the reactance crosses zero from below.
    k = np.flatnonzero((zi[:-1] < 0) & (zi[1:] >= 0))
    f0 = s["f"][band][k[0]] / 1e9 if len(k) else float("nan")
    print(f"L = {length} mm: first resonance near {f0:.2f} GHz (c/2L = {150 / length:.2f} GHz)")

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

fig, (ax_r, ax_x) = plt.subplots(2, 1, figsize=(7, 6), sharex=True)
for length, s in results.items():
    ax_r.plot(s["f"] / 1e9, -s["Zr"], lw=1, label=f"L = {length} mm")
    ax_x.plot(s["f"] / 1e9, -s["Zi"], lw=1, label=f"L = {length} mm")
ax_r.set(ylabel="R = -Re Z [ohm]", ylim=(0, 400), title="Dipole feed impedance against length")
ax_x.set(xlabel="frequency [GHz]", ylabel="X = -Im Z [ohm]", ylim=(-600, 400))
ax_x.axhline(0, color="gray", lw=0.5)
for ax in (ax_r, ax_x):
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize=8)
fig.tight_layout()
fig.savefig(OUT, dpi=100)
print(f"wrote {OUT}")
