"""Hilbert transform and envelope against scipy.signal.hilbert."""
import numpy as np
import pytest

import vornix

signal = pytest.importorskip("scipy.signal", reason="scipy is the reference for the analytic signal")


def without_nyquist(x):
    n = len(x)
    if n == 1:
        return np.zeros(1)  # bin 0 is bin n/2 too, and cleared
    alternating = (-1.0) ** np.arange(n)
    return x - alternating * np.mean(x * alternating)


@pytest.mark.parametrize("n", [2**p for p in range(17)])
def test_hilbert_matches_scipy(n):
    x = np.random.default_rng(n).standard_normal(n)
    want = signal.hilbert(x)
    got = vornix.hilbert(x)
    assert got.dtype == np.complex128 and got.shape == (n,)
    np.testing.assert_array_equal(got.real, x)
    np.testing.assert_allclose(got.imag, want.imag, atol=1e-12)
    np.testing.assert_allclose(vornix.envelope(x), np.abs(want), atol=1e-12)
    re, im = x.copy(), np.full(n, np.nan)  # what im holds is ignored
    vornix.CVornix().Hilbert(re, im)
    np.testing.assert_allclose(re, without_nyquist(x), atol=1e-12)
    np.testing.assert_allclose(im, want.imag, atol=1e-12)


def test_hilbert_counts():
    x = np.arange(1.0, 11.0)
    re, im = x.copy(), np.zeros(10)
    vornix.CVornix().Hilbert(re, im, 0)
    vornix.CVornix().Hilbert(re, im, -4)
    np.testing.assert_array_equal(re, x)
    vornix.CVornix().Hilbert(re, im, 8)  # the first 8; the rest untouched
    np.testing.assert_allclose(im[:8], signal.hilbert(x[:8]).imag, atol=1e-12)
    np.testing.assert_array_equal(re[8:], x[8:])
    np.testing.assert_array_equal(im[8:], 0)


def test_cosine_power_and_phase_advance():
    n, m = 256, 5
    j = np.arange(n)
    re, im = np.cos(2 * np.pi * m * j / n), np.zeros(n)
    v = vornix.CVornix()
    v.Hilbert(re, im)
    np.testing.assert_allclose(im, np.sin(2 * np.pi * m * j / n), atol=1e-12)
    power, dphase = np.full(n, np.nan), np.full(n, np.nan)
    v.CalcHilbertPower(re, im, n, power)
    v.CalcHilbertSpectrum(re, im, None, dphase)
    np.testing.assert_allclose(power, np.r_[np.ones(n - 1), 0], atol=1e-12)
    np.testing.assert_allclose(dphase, np.r_[np.full(n - 1, 2 * np.pi * m / n), 0], atol=1e-12)


def test_evaluations_in_place_and_edge_values():
    v = vornix.CVornix()
    re, im = np.array([3.0, 1.0, -1.0, 7.0]), np.array([4.0, 0.0, 0.0, 7.0])
    v.CalcHilbertPower(re, im, 4, re)  # the result may be an input
    np.testing.assert_array_equal(re, [25, 1, 1, 0])
    neg = np.full(5, -2.0)
    v.CalcHilbertSpectrum(neg, np.zeros(5), 5, neg)  # phases of +-pi: no advance
    np.testing.assert_array_equal(neg, 0)
    step = np.array([1.0, -1.0])
    v.CalcHilbertSpectrum(step, [0.0, 0.0], 2, step)  # an advance of exactly pi is -pi
    np.testing.assert_array_equal(step, [-np.pi, 0])
    out = np.full(3, 9.0)
    v.CalcHilbertPower([], [], 1, out)  # n = 1 reads nothing, writes the final 0
    v.CalcHilbertSpectrum([], [], 0, out)
    v.CalcHilbertSpectrum([], [], -3, out)
    np.testing.assert_array_equal(out, [0, 9, 9])
    power = np.zeros(3)
    v.CalcHilbertPower([1.0, 2.0], (0, 0), 3, power)  # re, im: n - 1 values are read
    np.testing.assert_array_equal(power, [1, 4, 0])
