# Model.far_field: the pattern of a short z dipole at any angles, and the
# calls it refuses.
import numpy as np
import pytest

import tavro


def dipole(steps=1500):
    m = tavro.Model(area=(16, 16, 16), unit=5e-3)
    m.set_source(8, 8, 8, "CW:Z:1:1e9")
    m.setup(samples=steps)
    return m


def test_short_dipole_at_any_angles():
    m = dipole()
    m.record_far_field([1e9, 2e9])
    m.run(progress=False)
    theta = np.array([[90.0, 45.0], [31.0, 1.0]])
    e_theta, e_phi, d = m.far_field(1e9, theta, 17.0)
    assert e_theta.shape == e_phi.shape == d.shape == (2, 2)
    assert e_theta.dtype == np.complex128
    assert np.all(np.abs(e_phi) < 1e-2 * np.abs(e_theta[0, 0]))
    # sin^2(theta) with 1.5 (1.76 dBi) at the equator.
    expect = 10 * np.log10(1.5 * np.sin(np.radians(theta)) ** 2)
    assert d[0, 0] == pytest.approx(1.76, abs=0.15)
    assert d[:, :1] - d[0, 0] == pytest.approx(expect[:, :1] - expect[0, 0], abs=0.3)
    assert d[0, 1] - d[0, 0] == pytest.approx(expect[0, 1] - expect[0, 0], abs=0.3)
    # The power is the one the directivity is taken against.
    p = m.far_field_power(1e9)
    eta = np.sqrt(1.2566371e-6 / 8.854188e-12)
    u = (abs(e_theta[0, 0]) ** 2 + abs(e_phi[0, 0]) ** 2) / (2 * eta)
    assert 10 * np.log10(4 * np.pi * u / p) == pytest.approx(d[0, 0], abs=1e-9)


def test_refusals():
    m = dipole(steps=4)
    with pytest.raises(ValueError, match="no far field recorded"):
        m.far_field(1e9, 90, 0)
    with pytest.raises(ValueError, match="above 0"):
        m.record_far_field([0.0])
    with pytest.raises(ValueError, match="outside the area"):
        m.record_far_field(1e9, box=(0, 2, 2, 8, 8, 8))
    m.record_far_field(1e9)
    with pytest.raises(ValueError, match="no step recorded"):
        m.far_field(1e9, 90, 0)
    m.advance(2)
    with pytest.raises(ValueError, match="not recorded at 3e\\+09 Hz"):
        m.far_field(3e9, 90, 0)
    with pytest.raises(RuntimeError, match="from the first step"):
        m.record_far_field(1e9)
    m.setup(samples=4)  # a new set-up drops the recording
    with pytest.raises(ValueError, match="no far field recorded"):
        m.far_field(1e9, 90, 0)
