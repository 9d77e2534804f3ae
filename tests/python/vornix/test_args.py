"""Arguments the module refuses, with errors that say what was given."""
import numpy as np
import pytest

import vornix

V = vornix.CVornix()


def a(n=8):
    return np.zeros(n)


def read_only(n=8):
    x = np.zeros(n)
    x.flags.writeable = False
    return x


CASES = [
    # in-place arrays: type, dtype, shape, layout, writeability, length
    ("list", lambda: V.Fft([0.0] * 8, a()), TypeError, "re must be a numpy.ndarray of float64, not list"),
    ("float32", lambda: V.Fft(a(), np.zeros(8, np.float32)), TypeError, "im must have dtype float64, not float32"),
    ("complex", lambda: V.Hamming(np.zeros(8, complex)), TypeError, "dtype float64, not complex128"),
    ("int", lambda: V.FirFilter(np.zeros(8, int), None, 5, 1, 0, 8, 60, 0), TypeError, "dtype float64, not int64"),
    ("2-D", lambda: V.Hanning(np.zeros((2, 4))), ValueError, r"x must be 1-D, not 2-D with shape \(2, 4\)"),
    ("0-D", lambda: V.Normalize(np.float64(1.0)), TypeError, "numpy.ndarray"),
    ("strided", lambda: V.Fft(np.zeros(16)[::2], a()), ValueError, "re must be contiguous"),
    ("read-only", lambda: V.Hilbert(a(), read_only()), ValueError, "im is read-only"),
    ("short im", lambda: V.Fft(a(), a(4)), ValueError, "im holds 4 values; 8 are needed"),
    ("n above re", lambda: V.Fft(a(), a(), 16), ValueError, "re holds 8 values; 16 are needed"),
    ("n above x", lambda: V.Hamming(a(), 9), ValueError, "x holds 8 values; 9 are needed"),
    ("preemphasis", lambda: V.Preemphasis(a(), 9, 0.5), ValueError, "x holds 8 values; 9 are needed"),
    ("fir n", lambda: V.FirFilter(a(), 9, 5, 1, 0, 8, 60, 0), ValueError, "x holds 8 values; 9 are needed"),
    ("fir h", lambda: V.GetFirCoef(a(4), 4, 1, 0, 8, 60, 0), ValueError, "h holds 4 values; 5 are needed"),
    ("spectrum im", lambda: V.CalcSpectrum(a(), a(4)), ValueError, "im holds 4 values; 8 are needed"),
    ("power", lambda: V.CalcHilbertPower(a(), a(), 8, a(7)), ValueError, "power holds 7 values; 8 are needed"),
    ("dphase re", lambda: V.CalcHilbertSpectrum(a(2), a(), 4, a()), ValueError, "re holds 2 values; 3 are needed"),
    # arrays only read: anything numeric, but real and 1-D
    ("im complex", lambda: V.CalcSpectrum(a(), np.zeros(8, complex)), TypeError, "im must hold real numbers"),
    ("im text", lambda: V.CalcHilbertPower(a(), "abc", 8, a()), TypeError, "im must be an array of numbers"),
    ("im 2-D", lambda: V.CalcHilbertPower(a(), np.zeros((2, 4)), 8, a()), ValueError, "im must be 1-D"),
    # counts and kinds
    ("n float", lambda: V.Fft(a(), a(), 8.0), TypeError, "n must be an int, not float"),
    ("n text", lambda: V.Hamming(a(), "8"), TypeError, "n must be an int, not str"),
    ("n huge", lambda: V.Hamming(a(), 2**31), ValueError, "n must fit a 32-bit int, not 2147483648"),
    ("n very small", lambda: V.Hamming(a(), -(2**70)), ValueError, "32-bit"),
    ("taps None", lambda: V.GetFirCoef(a(), None, 1, 0, 8, 60, 0), TypeError, "taps must be an int, not NoneType"),
    ("type float", lambda: V.FirFilter(a(), None, 5, 1, 0, 8, 60, 1.0), TypeError, "type must be an int, not float"),
    ("type huge", lambda: V.GetFirCoef(a(), 4, 1, 0, 8, 60, 2**40), ValueError, "type must fit a 32-bit int"),
    ("limit", lambda: V.SetDbLim("-80"), TypeError, "limit must be an int, not str"),
    ("coef", lambda: V.Preemphasis(a(), None, "x"), TypeError, ""),
    ("no coef", lambda: V.Preemphasis(a(), None), TypeError, ""),
    # the functions: power-of-two lengths, numbers, 1-D
    ("fft 3", lambda: vornix.fft(np.ones(3)), ValueError, "fft takes a power of two from 1 to 65536 values, not 3"),
    ("fft 0", lambda: vornix.fft([]), ValueError, "not 0"),
    ("fft big", lambda: vornix.fft(np.ones(131072)), ValueError, "not 131072"),
    ("ifft 1000", lambda: vornix.ifft(np.ones(1000)), ValueError, "ifft takes a power of two"),
    ("fft 2-D", lambda: vornix.fft(np.ones((4, 4))), ValueError, r"x must be 1-D, not 2-D with shape \(4, 4\)"),
    ("fft scalar", lambda: vornix.fft(1.0), ValueError, "x must be 1-D, not 0-D"),
    ("fft text", lambda: vornix.fft("abcd"), TypeError, "x must be an array of numbers, not str"),
    ("fft None", lambda: vornix.fft(None), TypeError, "not NoneType"),
    ("fft objects", lambda: vornix.fft(np.array([object()] * 4)), TypeError, "an array of object"),
    ("fft strings", lambda: vornix.fft(np.array(["1", "2"])), TypeError, "an array of <U1"),
    ("spectrum 6", lambda: vornix.spectrum(np.ones(6)), ValueError, "spectrum takes a power of two"),
    ("hilbert complex", lambda: vornix.hilbert(np.ones(4, complex)), TypeError, "x must hold real numbers"),
    ("envelope 5", lambda: vornix.envelope(np.ones(5)), ValueError, "envelope takes a power of two"),
]


@pytest.mark.parametrize("call, error, text", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_refused(call, error, text):
    with pytest.raises(error, match=text):
        call()


def test_refused_call_writes_nothing():
    re, im = np.arange(8.0), np.arange(4.0)
    with pytest.raises(ValueError):
        V.Fft(re, im, 8)
    np.testing.assert_array_equal(re, np.arange(8.0))
    np.testing.assert_array_equal(im, np.arange(4.0))


def test_counts_take_numpy_ints_and_kinds_take_ints():
    x = np.ones(8)
    V.Hamming(x, np.int64(4))
    np.testing.assert_allclose(x[:4], [0.08, 0.54, 1, 0.54])
    h1, h2 = np.zeros(5), np.zeros(5)
    V.GetFirCoef(h1, np.int32(4), 1, 0, 8, 60, vornix.high_pass)
    V.GetFirCoef(h2, 4, 1, 0, 8, 60, 1)
    np.testing.assert_array_equal(h1, h2)
    assert vornix.filter_type.high_pass == 1 and int(vornix.band_stop) == 3
