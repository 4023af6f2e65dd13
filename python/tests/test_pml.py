# The absorbing layer from Python: setup(pml=...) and the drawn-area arrays.
import numpy as np
import pytest

import tavro


def box():
    m = tavro.Model(area=(8, 7, 6), unit=(1e-3, 1e-3, 1e-3))
    m.set_source(4, 3, 3, "GAUSS:Z:5")
    m.set_probe(7, 6, 5, "P")
    return m


def test_layer_keeps_the_drawn_area():
    m = box()
    report = m.setup(samples=40, pml=4)
    assert "area size : (8,7,6)[grids]" in report and "absorbing layer : 4[grids]" in report
    assert m.probe_cell("P") == (7, 6, 5)
    m.run(progress=False)
    E, H = m.E, m.H
    assert E.shape == H.shape == (8, 7, 6, 3)
    # The arrays are the drawn cells: the probe's last sample is its cell.
    last = m.samples("P")[-1]
    assert np.array_equal(E[7, 6, 5], [last["Ex"], last["Ey"], last["Ez"]])
    # The next set-up without the keyword has no layer.
    assert "absorbing layer" not in m.setup(samples=4)


@pytest.mark.parametrize("cells", [-1, 65])
def test_layer_thickness_is_checked(cells):
    with pytest.raises(ValueError, match="pml must be 0 to 64 cells"):
        box().setup(samples=4, pml=cells)
