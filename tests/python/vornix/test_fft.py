"""vornix.fft / ifft against numpy.fft, and CVornix.Fft / Ifft in place."""
import numpy as np
import pytest

import vornix

SIZES = [2**p for p in range(17)]


def relative_error(got, want):
    scale = np.linalg.norm(want)
    return np.linalg.norm(got - want) / (scale if scale else 1.0)


def signal(n, kind, seed=1):
    rng = np.random.default_rng(seed + n)
    x = rng.uniform(-1, 1, n)
    return x + 1j * rng.uniform(-1, 1, n) if kind == "complex" else x


@pytest.mark.parametrize("kind", ["real", "complex"])
@pytest.mark.parametrize("n", SIZES)
def test_fft_and_ifft_match_numpy(n, kind):
    x = signal(n, kind)
    given = x.copy()
    X = vornix.fft(x)
    assert X.dtype == np.complex128 and X.shape == (n,)
    assert relative_error(X, np.fft.fft(x)) < 1e-14
    y = vornix.ifft(x)
    assert y.dtype == np.complex128 and y.shape == (n,)
    assert relative_error(y, np.fft.ifft(x)) < 1e-14
    np.testing.assert_array_equal(x, given)  # the input is left as it was
    assert relative_error(vornix.ifft(X), x) < 1e-14


@pytest.mark.parametrize(
    "x",
    [
        [1, 2, 3, 4],
        [1 + 2j, 0, -1j, 3],
        np.arange(8, dtype=np.int16),
        np.arange(8, dtype=np.float32),
        np.arange(8, dtype=np.complex64) * (1 + 1j),
        np.array([True, False, True, True]),
        np.arange(16.0)[::2],  # strided view: converted, not refused
        np.arange(8.0).reshape(1, 8)[0],
    ],
    ids=["list", "complex list", "int16", "float32", "complex64", "bool", "strided", "row"],
)
def test_fft_takes_what_numpy_takes(x):
    np.testing.assert_allclose(vornix.fft(x), np.fft.fft(x), atol=1e-12)
    np.testing.assert_allclose(vornix.ifft(x), np.fft.ifft(x), atol=1e-12)


def test_fft_of_read_only_input():
    x = np.arange(16.0)
    x.flags.writeable = False
    np.testing.assert_allclose(vornix.fft(x), np.fft.fft(x), atol=1e-12)


def split(x):
    return x.real.copy(), x.imag.copy()


@pytest.mark.parametrize("n", [1, 2, 8, 1024, 65536])
def test_member_fft_in_place_matches_numpy(n):
    x = signal(n, "complex")
    v = vornix.CVornix()
    re, im = split(x)
    assert v.Fft(re, im, n, True) is None
    assert relative_error(re + 1j * im, np.fft.fft(x)) < 1e-14
    re, im = split(x)
    v.Fft(re, im, n, False)
    assert relative_error(re + 1j * im, np.fft.ifft(x)) < 1e-14
    re, im = split(x)
    v.Ifft(re, im)  # n: the arrays' length
    assert relative_error(re + 1j * im, np.fft.ifft(x)) < 1e-14
    re, im = split(x)
    v.Fft(re, im)  # forward by default
    assert relative_error(re + 1j * im, np.fft.fft(x)) < 1e-14


@pytest.mark.parametrize(
    "length, n, points",
    [
        (1000, 1000, 512),  # rounded down to a power of two; the rest untouched
        (100000, 100000, 65536),  # capped at 65536
        (65536, 100000, 65536),  # n above the arrays: only what is transformed must fit
        (600, 1000, 512),
        (8, 0, 0),  # n < 1 does nothing
        (8, -5, 0),
    ],
)
def test_member_fft_length_rule(length, n, points):
    x = signal(length, "complex")
    re, im = split(x)
    vornix.CVornix().Fft(re, im, n, True)
    if points:
        np.testing.assert_allclose(re[:points] + 1j * im[:points], np.fft.fft(x[:points]), atol=1e-9)
    np.testing.assert_array_equal(re[points:] + 1j * im[points:], x[points:])


def test_member_fft_small_cases():
    v = vornix.CVornix()
    re, im = np.array([3.0, 5.0]), np.zeros(2)
    v.Fft(re, im, 2, True)
    np.testing.assert_array_equal(re, [8, -2])
    v.Ifft(re, im, 2)
    np.testing.assert_array_equal(re, [3, 5])
    re, im = np.array([0.0, 1, 0, 0]), np.zeros(4)
    v.Fft(re, im, 4, False)
    np.testing.assert_allclose(re + 1j * im, [0.25, 0.25j, -0.25, -0.25j], atol=1e-15)
