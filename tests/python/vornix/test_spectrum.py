"""vornix.spectrum against numpy/scipy; CVornix.CalcSpectrum, SetDbLim and copies."""
import copy

import numpy as np
import pytest

import vornix

signal = pytest.importorskip("scipy.signal", reason="scipy is the reference for the windows")


def reference(x, window, linear):
    x = np.asarray(x)
    n = len(x)
    if window is None:
        w = np.ones(n)
    elif n == 1:  # scipy gives 1 for one point; the periodic formulas give their value at 0
        w = np.array([{"hann": 0.0, "hamming": 0.08}[window]])
    else:
        w = signal.get_window(window, n, fftbins=True)
    X = np.fft.fft(x * w)
    if not np.iscomplexobj(x):
        X = X[: n // 2 + 1]
    power = X.real**2 + X.imag**2
    if linear:
        return power
    with np.errstate(divide="ignore"):
        return 10 * np.log10(power)


@pytest.mark.parametrize("linear", [False, True])
@pytest.mark.parametrize("window", ["hann", "hamming", None])
@pytest.mark.parametrize("kind", ["real", "complex"])
@pytest.mark.parametrize("n", [1, 2, 64, 4096])
def test_spectrum_matches_numpy(n, kind, window, linear):
    rng = np.random.default_rng(n)
    x = rng.standard_normal(n) + (1j * rng.standard_normal(n) if kind == "complex" else 0)
    got = vornix.spectrum(x, window=window, linear=linear)
    want = reference(x, window, linear)
    assert got.dtype == np.float64
    assert got.shape == ((n // 2 + 1,) if kind == "real" else (n,))
    if linear:
        np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12 * want.max())
    else:
        np.testing.assert_allclose(got, want, atol=1e-7)


def test_spectrum_of_a_cosine_is_not_normalised():
    x = np.cos(2 * np.pi * 8 * np.arange(512) / 512)
    db = vornix.spectrum(x, window=None)
    assert db.shape == (257,)
    assert db[8] == pytest.approx(10 * np.log10(65536.0), abs=1e-9)  # 48.16 dB
    assert np.all(np.delete(db, 8) < -200)
    assert vornix.spectrum(x, window="hanning")[8] == vornix.spectrum(x, window="hann")[8]


def test_spectrum_floor():
    x = np.zeros(16)
    x[0] = 1.0
    assert np.all(vornix.spectrum(np.zeros(16), window=None) == -np.inf)
    np.testing.assert_array_equal(vornix.spectrum(np.zeros(16), db_limit=-80), np.full(9, -80.0))
    np.testing.assert_array_equal(vornix.spectrum(x, window=None, db_limit=-80), np.zeros(9))


@pytest.mark.parametrize(
    "kwargs, error, text",
    [
        ({"window": "blackman"}, ValueError, "'hann', 'hamming' or None"),
        ({"window": 3}, TypeError, "not int"),
        ({"db_limit": -80, "linear": True}, ValueError, "linear=True"),
        ({"db_limit": "low"}, TypeError, "db_limit must be a number"),
        ({"db_limit": float("nan")}, ValueError, "nan"),
    ],
)
def test_spectrum_refuses(kwargs, error, text):
    with pytest.raises(error, match=text):
        vornix.spectrum(np.ones(8), **kwargs)


@pytest.mark.parametrize(
    "re, im, linear, want",
    [
        ([1.0, 3.0, 0.0], [0.0, 4.0, 0.0], False, [0.0, 10 * np.log10(25.0), -np.inf]),
        ([1.0, 3.0, 0.0], [0.0, 4.0, 0.0], True, [1.0, 25.0, 0.0]),
    ],
)
def test_calc_spectrum(re, im, linear, want):
    re = np.array(re)
    vornix.CVornix().CalcSpectrum(re, im, 3, linear)  # im as a list: it is only read
    np.testing.assert_allclose(re, want)


def test_calc_spectrum_counts():
    v = vornix.CVornix()
    re = np.array([3.0, 3.0, 3.0])
    im = np.array([4.0, 4.0])
    v.CalcSpectrum(re, im, 2, True)  # n below the arrays: the rest untouched
    np.testing.assert_array_equal(re, [25, 25, 3])
    v.CalcSpectrum(re, im, 0)
    v.CalcSpectrum(re, np.zeros(0), -1)
    np.testing.assert_array_equal(re, [25, 25, 3])
    v.CalcSpectrum(re, np.zeros(3))  # n: the length of re; dB by default
    np.testing.assert_allclose(re, 10 * np.log10([625, 625, 9]))


def test_set_db_lim_and_copies():
    v = vornix.CVornix()
    assert v.SetDbLim(20) == -80
    assert v.SetDbLim(-30) == -20
    assert v.SetDbLim(0) == -30
    assert v.SetDbLim(-(2**31)) == 0
    assert v.SetDbLim(7) == -(2**31)
    for other in (vornix.CVornix(v), copy.copy(v), copy.deepcopy(v)):
        assert other is not v
        assert other.SetDbLim(1) == -7
    assert v.SetDbLim(1) == -7  # the copies changed only themselves
