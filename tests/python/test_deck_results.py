"""velmar._results.deck_results: the library's double-precision deck runner
against an independent numpy version of the console's filtering steps."""

import os

import numpy as np
import pytest

import velmar
from conftest import EXAMPLES
from velmar._results import deck_results

# The reference: the console's steps written out in numpy (taper, halving,
# padding to 2 x the next 2,3,5-smooth length, exp(+i w t) forward transform,
# the response on the transform's grid with 0 Hz taken at 1e-6 Hz, product or
# division with a floor, mirror, inverse transform).


def _smooth_length(n):
    m = max(int(n), 1)
    while True:
        k = m
        for p in (2, 3, 5):
            while k % p == 0:
                k //= p
        if k == 1:
            return m
        m += 1


def _components(deck):
    if deck.wave == "SH":
        return [("SH", None, deck.depth)]
    return [("horizontal", "horizontal", 0.0), ("vertical", "vertical", 0.0)]


def numpy_reference(deck):
    """[(name, unit, values)] and the padded input, computed in numpy."""
    comps = _components(deck)
    if deck.kind == "transfer":
        f = deck.freqs
        cols = [("frequency", "Hz", f)]
        for label, comp, depth in comps:
            h = velmar.transfer(deck.profile, np.where(f == 0.0, 1e-6, f), deck.wave, deck.angle, depth=depth,
                                component=comp)
            sfx = "" if label == "SH" else f"_{label}"
            unit = "per unit incident displacement"
            cols += [(f"half_modulus{sfx}", "ratio", np.abs(h) / 2.0), (f"real{sfx}", unit, h.real),
                     (f"imag{sfx}", unit, h.imag)]
        return cols, None
    rec = deck.record
    x = np.array(rec.accel, dtype=float)
    n = x.size
    ntap = min(int(np.floor(n * 0.05 + 0.5)), n // 2)
    if ntap > 0:
        w = np.sin(np.arange(ntap) * (np.pi / 2.0) / ntap)
        x[:ntap] *= w
        x[n - ntap:][::-1] *= w
    if deck.ihalf == 2:
        x *= 0.5
    nfft = 2 * _smooth_length(n)
    xp = np.zeros(nfft)
    xp[:n] = x
    X = np.fft.ifft(xp) * nfft
    half = nfft // 2
    f = np.arange(half) / (nfft * rec.dt)
    f[0] = 1e-6
    cols = [("time", "s", np.arange(nfft) * float(str(np.float32(rec.dt))))]
    for label, comp, depth in comps:
        h = velmar.transfer(deck.profile, f, deck.wave, deck.angle, depth=depth, component=comp)
        H = np.zeros(nfft, dtype=complex)
        H[:half] = h
        H[half + 1:] = np.conj(h[1:][::-1])
        if deck.iconv == 2:
            H = np.conj(H) / np.maximum(np.abs(H) ** 2, 1e-7)
        y = np.fft.fft(X * H).real / nfft
        cols.append(("accel" if label == "SH" else f"accel_{label}", rec.units, y))
    return cols, xp


TABLE = """2 {lout} {iqf}
10.0 1.8 200.0 10.0 400.0 20.0
20.0 2.0 400.0 20.0 800.0 40.0
0.0 2.2 1000.0 50.0 2000.0 100.0
"""


def write_deck(folder, itype=0, angle=20.0, lout=1, iqf=1, npt=None, dt=0.01, ihalf=1, iconv=1, seed=1):
    """A two-layer deck: a transfer run (npt None) or a signal run on `npt`
    random samples written beside it."""
    lines = ["out.txt", f"{itype} {angle}", TABLE.format(lout=lout, iqf=iqf).rstrip("\n")]
    if npt is None:
        lines += ["0", "0.0 12.0 0.05"]
    else:
        rng = np.random.default_rng(seed)
        with open(folder / "rec.txt", "w") as f:
            f.write("header line\n")
            f.write("\n".join(f"{v:.6e}" for v in rng.normal(size=npt)) + "\n")
        lines += ["1", "rec.txt", "1", f"{dt} {npt} {ihalf} {iconv}"]
    path = folder / "run.deck"
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def assert_matches_reference(deck, units=None):
    res = deck_results(deck)
    want, xp = numpy_reference(deck)
    assert [(c.name, c.unit) for c in res.columns] == [(n, u) for n, u, _ in want]
    for c, (name, _, v) in zip(res.columns, want):
        assert c.values.shape == v.shape, name
        np.testing.assert_allclose(c.values, v, rtol=0, atol=1e-12 * np.max(np.abs(v)), err_msg=name)
    if xp is None:
        assert res.input is None
    else:
        np.testing.assert_allclose(res.input, xp, rtol=0, atol=1e-15 * np.max(np.abs(xp)))
    return res


@pytest.mark.parametrize("name", ["sh_transfer_clay_sand_rock", "psv_transfer_basin", "sh_signal", "psv_signal"])
def test_example_decks_match_the_numpy_steps(name, monkeypatch):
    monkeypatch.chdir(os.path.dirname(EXAMPLES))  # the decks name examples/accelerogram.txt
    deck = velmar.read_deck(os.path.join(EXAMPLES, name + ".deck"), units="cm/s2")
    res = assert_matches_reference(deck)
    assert res.kind == deck.kind
    assert res.components == (["SH"] if deck.wave == "SH" else ["horizontal", "vertical"])


@pytest.mark.parametrize("itype,lout,npt,ihalf,iconv,dt", [
    (0, 3, 1031, 2, 2, 0.005),  # below the second layer, halved, divided; 2160 points (not 2^a or 3 2^a)
    (0, 2, 10, 1, 1, 0.02),     # one tapered sample at each end
    (0, 1, 1, 1, 2, 0.01),      # a single sample: no taper
    (1, 1, 777, 2, 1, 0.01),    # incident P
    (2, 1, 500, 1, 2, 0.004),   # incident SV, divided
])
def test_signal_runs_match_the_numpy_steps(tmp_path, monkeypatch, itype, lout, npt, ihalf, iconv, dt):
    monkeypatch.chdir(tmp_path)
    deck = velmar.read_deck(write_deck(tmp_path, itype=itype, lout=lout, npt=npt, ihalf=ihalf, iconv=iconv, dt=dt),
                            units="m/s2")
    res = assert_matches_reference(deck)
    assert res.column("time").values[1] == float(str(np.float32(dt)))
    assert all(np.all(np.isfinite(c.values)) for c in res.columns)


@pytest.mark.parametrize("itype,lout", [(0, 3), (1, 1), (2, 1)])
def test_transfer_runs_match_the_numpy_steps(tmp_path, itype, lout):
    assert_matches_reference(velmar.read_deck(write_deck(tmp_path, itype=itype, lout=lout)))


def test_decks_the_library_does_not_compute(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    none = deck_results(velmar.read_deck(write_deck(tmp_path, itype=-1, npt=100)))
    assert (none.kind, none.columns, none.components, none.input) == ("none", [], [], None)
    deck = velmar.read_deck(write_deck(tmp_path, iqf=2, npt=100))
    with pytest.raises(ValueError, match=r"run\.deck.*IQF = 2"):
        deck_results(deck)
