"""P and SV waves: the bare half-space, components, symmetry, the console's table."""

import os

import numpy as np
import pytest

import velmar
from conftest import EXAMPLES, REL_TOL

F = np.linspace(0.0, 20.0, 81)
ROCK = dict(thickness=[0.0], density=[2.4], vs=[1200.0], vp=[2400.0])


@pytest.mark.parametrize("wave, component, expected", [
    ("P", None, -2.0), ("P", "vertical", -2.0), ("P", "horizontal", 0.0),
    ("SV", None, 2.0), ("SV", "horizontal", 2.0), ("SV", "vertical", 0.0),
])
def test_bare_half_space_at_vertical_incidence(wave, component, expected):
    h = velmar.transfer(velmar.Profile(**ROCK), F, wave=wave, component=component)
    np.testing.assert_allclose(h, expected, rtol=REL_TOL, atol=REL_TOL)


def test_conjugate_symmetry_and_finiteness(clay_sand_rock):
    for wave, angle in (("P", 20.0), ("SV", 15.0)):
        for component in velmar.COMPONENTS:
            pos = velmar.transfer(clay_sand_rock, F, wave=wave, angle=angle, component=component, depth=10.0)
            neg = velmar.transfer(clay_sand_rock, -F, wave=wave, angle=angle, component=component, depth=10.0)
            assert np.all(np.isfinite(pos))
            np.testing.assert_allclose(neg, np.conj(pos), rtol=REL_TOL, atol=REL_TOL)


def test_response_grid_has_both_components(clay_sand_rock):
    r = velmar.response(clay_sand_rock, F, [0.0, 20.0], wave="SV", angle=10.0)
    assert r.u.shape == r.w.shape == (2, F.size)
    np.testing.assert_allclose(r.w[1], velmar.transfer(clay_sand_rock, F, wave="SV", angle=10.0, depth=20.0,
                                                       component="vertical"), rtol=REL_TOL, atol=REL_TOL)


def test_p_deck_profile_matches_the_console_table(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    d = velmar.read_deck(os.path.join(EXAMPLES, "psv_transfer_basin.deck"))
    table = np.loadtxt(os.path.join(EXAMPLES, "expected", "psv_transfer_basin.out"))
    for column, component in ((1, "horizontal"), (2, "vertical")):
        h = np.abs(velmar.transfer(d.profile, d.freqs, wave=d.wave, angle=d.angle, component=component)) / 2.0
        # The console works in single precision and writes F10.4.
        np.testing.assert_allclose(h, table[:, column], atol=5e-5 + 1e-4 * np.max(table[:, column]))
