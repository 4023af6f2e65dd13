"""Lumped ports from Python: set_port, sparameters and write_touchstone."""
import numpy as np
import pytest

import tavro


def test_ports_sparameters_and_touchstone(tmp_path):
    m = tavro.Model(area=(10, 10, 10), unit=1e-3)
    m.set_material(1, (20.0, 1.0, 1.0))
    m.set_ids(np.ones((1, 1, 1), dtype=np.int32), x=5, y=5, z=5)
    m.set_port(5, 5, 5, "z", 50.0)
    with pytest.raises(ValueError):
        m.set_port(4, 4, 4, "q", 50.0)
    with pytest.raises(ValueError):
        m.set_port(4, 4, 4, "z", -1.0)
    m.setup(samples=20000)
    assert m.probes == ["PORT1_5_5_5"]
    f, s = m.sparameters(2e9)
    assert f.shape == (1000,) and s.shape == (1000, 1, 1)
    assert f[0] == 2e6 and f[-1] == 2e9
    assert np.all(np.abs(s[f <= 200e6, 0, 0]) <= 0.05)
    path = tmp_path / "load.s1p"
    m.write_touchstone(str(path))
    lines = [l for l in path.read_text().splitlines() if not l.startswith("!")]
    assert lines[0] == "# Hz S RI R 50"
    assert len(lines) == 1001
