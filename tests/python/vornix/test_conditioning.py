"""CVornix windows, Preemphasis and Normalize in place, against scipy and the C++'s formulas."""
import numpy as np
import pytest

import vornix

signal = pytest.importorskip("scipy.signal", reason="scipy is the reference for the windows")

WINDOWS = [("Hamming", "hamming"), ("Ham", "hamming"), ("Hanning", "hann"), ("Han", "hann")]


@pytest.mark.parametrize("n", [2, 4, 5, 512, 1000])
@pytest.mark.parametrize("member, name", WINDOWS)
def test_windows_match_scipy_periodic(member, name, n):
    x = np.linspace(-1, 1, n)
    want = x * signal.get_window(name, n, fftbins=True)
    getattr(vornix.CVornix(), member)(x)
    np.testing.assert_allclose(x, want, atol=1e-15)


@pytest.mark.parametrize("member, first", [("Hamming", 0.08), ("Hanning", 0.0)])
def test_window_counts(member, first):
    v = vornix.CVornix()
    x = np.full(6, 2.0)
    getattr(v, member)(x, 4)  # a window of 4 over the first 4 values; the rest untouched
    want = 2 * signal.get_window(member.lower().replace("hanning", "hann"), 4, fftbins=True)
    np.testing.assert_allclose(x, np.r_[want, 2.0, 2.0], atol=1e-15)
    y = np.full(3, 2.0)
    getattr(v, member)(y, 1)  # one point: the window's value at 0
    np.testing.assert_allclose(y, [2 * first, 2, 2])
    for n in (0, -3):
        getattr(v, member)(y, n)
    np.testing.assert_allclose(y, [2 * first, 2, 2])


@pytest.mark.parametrize(
    "x, n, coef, want",
    [
        ([1.0, 1, 1], 3, 0.5, [0, 0.5, 0.5]),
        ([2.0, 2, 2, 2], None, 1.0, [0, 0, 0, 0]),
        ([1.0, 2, 3], 3, 0.0, [0, 2, 3]),
        ([1.0, 2, 3], 2, 0.5, [0, 1.5, 3]),  # n below the array: the rest untouched
        ([5.0], 1, 0.9, [0]),
        ([1.0, 2], 0, 0.5, [1, 2]),
    ],
)
def test_preemphasis(x, n, coef, want):
    x = np.array(x)
    vornix.CVornix().Preemphasis(x, n, coef)
    np.testing.assert_allclose(x, want)


def test_preemphasis_matches_lfilter():
    x = np.random.default_rng(3).standard_normal(1000)
    want = signal.lfilter([1, -0.97], 1, x)
    want[0] = 0
    vornix.CVornix().Preemphasis(x, None, coef=0.97)
    np.testing.assert_allclose(x, want, atol=1e-15)


def test_preemphasis_negative_count_is_the_allocation_failure():
    x = np.array([1.0, 2.0])
    with pytest.raises(MemoryError):
        vornix.CVornix().Preemphasis(x, -1, 0.5)
    np.testing.assert_array_equal(x, [1, 2])


@pytest.mark.parametrize(
    "x, n, want, result",
    [
        ([-1.0, 0, 1], None, [0, 0.5, 1], 2.0),
        ([2.0, 3, 4], None, [0.5, 0.75, 1], 4.0),  # no value below 0: x / max
        ([0.0, 5], None, [0, 1], 5.0),
        ([7.0], None, [1], 7.0),
        ([0.0, 0, 0], None, [0, 0, 0], 0.0),  # divisor 0: unchanged
        ([-2.0], None, [-2], 0.0),
        ([-1.0, 1, 9], 2, [0, 1, 9], 2.0),  # n below the array
        ([3.0], 0, [3], 0.0),
        ([3.0], -1, [3], 0.0),
    ],
)
def test_normalize(x, n, want, result):
    x = np.array(x)
    assert vornix.CVornix().Normalize(x, n) == result
    np.testing.assert_allclose(x, want)
