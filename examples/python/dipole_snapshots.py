"""Dipole field snapshots for ParaView: the dipole of examples/csv rung by its
Gaussian source, with E, H and the material IDs written every 40 steps as
dipole_<step>.vti and tied together by dipole.pvd.

Open dipole.pvd in ParaView and press Play: each frame is one snapshot at its
simulated time. Colour by E (magnitude) and slice at z = 15 mm to see the
pulse leave the feed gap and run along the wire; threshold "material" >= 1 to
show the copper. The same series comes from the command line with
    tavro_cpu -batch -n 1200 -vtk 40 dipole <the dipole's CSV options>

Run from the repository root after building:
    PYTHONPATH=build/python /usr/bin/python3 examples/python/dipole_snapshots.py [DIR]
"""
import pathlib
import sys

import tavro

CSV = pathlib.Path(__file__).resolve().parents[1] / "csv"
out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path("dipole_vtk")
out.mkdir(parents=True, exist_ok=True)

m = tavro.Model(area=(30, 40, 30), unit=1e-3)
m.set_material(1, "CU")
m.read_layer(15, CSV / "dipole.csv")
m.setup(samples=1200)
m.run(vtk_every=40, vtk_prefix=str(out / "dipole"))
print(f"wrote {len(list(out.glob('*.vti')))} snapshots and {out / 'dipole.pvd'}")
