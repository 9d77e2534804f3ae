"""FIR design and filtering against scipy.signal.firwin / lfilter."""
import numpy as np
import pytest

import vornix

signal = pytest.importorskip("scipy.signal", reason="scipy is the reference for FIR design and filtering")
special = pytest.importorskip("scipy.special", reason="scipy's i0 is the reference for the Kaiser window")

FS = 16000.0


def kaiser_beta(att):
    if att > 50:
        return 0.1102 * (att - 8.7)
    if att > 21:
        return 0.5842 * (att - 21) ** 0.4 + 0.07886 * (att - 21)
    return 0.0


def design(taps, f1, f2, att, kind):
    h = np.full(2 * (taps // 2) + 1, np.nan)
    vornix.CVornix().GetFirCoef(h, taps, f1, f2, FS, att, kind)
    return h


# With even taps the design's window is scipy's symmetric Kaiser window of taps + 1 points.
@pytest.mark.parametrize("att", [20, 40, 50, 50.5, 90])
@pytest.mark.parametrize("taps", [2, 4, 64, 100])
def test_even_taps_match_firwin(taps, att):
    beta = kaiser_beta(att)
    low = signal.firwin(taps + 1, 1000, window=("kaiser", beta), fs=FS)
    high = signal.firwin(taps + 1, 3000, window=("kaiser", beta), fs=FS, pass_zero=False)
    np.testing.assert_allclose(design(taps, 1000, 0, att, vornix.low_pass), low, atol=1e-14)
    np.testing.assert_allclose(design(taps, 3000, 0, att, vornix.high_pass), high, atol=1e-14)
    np.testing.assert_allclose(vornix.fir_coef(taps, 1000, fs=FS, att=att), low, atol=1e-14)


@pytest.mark.parametrize("taps", [1, 3, 31, 101])
def test_odd_taps_window_divides_by_taps(taps):
    # w(k) = I0(beta sqrt(1 - (2k/taps)^2)) / I0(beta): taps, not taps - 1, as divisor
    beta, fc = kaiser_beta(60), 1000
    k = np.arange(-(taps // 2), taps // 2 + 1)
    w = special.i0(beta * np.sqrt(1 - (2 * k / taps) ** 2)) / special.i0(beta)
    ideal = np.where(k == 0, 2 * fc / FS, np.sin(2 * np.pi * k * fc / FS) / (np.pi * np.where(k == 0, 1, k)))
    want = ideal * w / np.sum(ideal * w)
    np.testing.assert_allclose(design(taps, fc, 0, 60, vornix.low_pass), want, atol=1e-14)


@pytest.mark.parametrize("taps", [30, 63])
def test_band_designs_are_the_modulated_prototype(taps):
    f1, f2 = 2000.0, 4000.0
    proto = design(taps, (f2 - f1) / 2, 0, 60, vornix.low_pass)
    m = np.arange(len(proto)) - taps // 2
    band = 2 * np.cos(m * (f1 + f2) * np.pi / FS) * proto
    np.testing.assert_allclose(design(taps, f1, f2, 60, vornix.band_pass), band, atol=1e-14)
    stop = -band
    stop[taps // 2] += 1
    np.testing.assert_allclose(design(taps, f1, f2, 60, vornix.band_stop), stop, atol=1e-14)
    # and they do what they say: pass/stop the band, by at least the attenuation asked
    w, response = signal.freqz(band, worN=[1000, 3000, 6000], fs=FS)
    assert abs(response[1]) == pytest.approx(1, abs=0.01)
    assert np.all(abs(response[[0, 2]]) < 10 ** (-55 / 20))


@pytest.mark.parametrize("kind", [4, -1, 2**31 - 1, vornix.filter_type(4)])
def test_other_kinds_are_low_pass_with_cut_off_f2(kind):
    np.testing.assert_array_equal(design(32, 500, 1500, 60, kind), design(32, 1500, 0, 60, vornix.low_pass))
    np.testing.assert_array_equal(vornix.fir_coef(32, 500, 1500, fs=FS, att=60, type=kind), design(32, 1500, 0, 60, 0))


def test_design_sizes():
    assert design(0, 1000, 0, 60, vornix.low_pass).tolist() == [1.0]
    assert design(1, 1000, 0, 60, vornix.band_stop).tolist() == [-1.0]
    h = np.full(3, 7.0)
    vornix.CVornix().GetFirCoef(h, -4, 1000, 0, FS, 60, vornix.low_pass)  # taps < 0: nothing
    np.testing.assert_array_equal(h, 7.0)
    vornix.CVornix().GetFirCoef(np.zeros(0), -1, 1000, 0, FS, 60, 0)
    assert design(0, 0, 0, 60, vornix.low_pass).tolist() == [0.0]  # cut-off 0: all zero, not NaN


def lfilter(taps, x, f1=1000.0, f2=0.0, att=60.0, kind=vornix.low_pass):
    h = design(taps, f1, f2, att, kind)[:taps]
    return signal.lfilter(h, 1, x) if taps else np.zeros_like(x)


@pytest.mark.parametrize(
    "n, taps",
    [
        (1024, 101),  # a power of two: one product of 2n-point spectra
        (1024, 1025),  # taps = n + 1, still no wrap
        (1000, 64),  # any other n: block-wise
        (65536, 257),  # beyond one transform
        (10, 40),  # taps > 2n
        (16, 0),
        (16, 1),
    ],
)
def test_fir_filter_is_lfilter(n, taps):
    x = np.random.default_rng(n + taps).standard_normal(n)
    want = lfilter(taps, x)
    got = vornix.fir_filter(x, taps, 1000, fs=FS, att=60)
    np.testing.assert_allclose(got, want, atol=1e-10)
    vornix.CVornix().FirFilter(x, None, taps, 1000, 0, FS, 60, vornix.low_pass)
    np.testing.assert_allclose(x, want, atol=1e-10)


def test_member_wraps_where_the_cpp_does_and_the_function_does_not():
    n, taps = 16, 24  # n + 2 <= taps <= 2n, n a power of two: circular over 2n values
    x = np.random.default_rng(5).standard_normal(n)
    h = design(taps, 1000, 0, 60, vornix.low_pass)[:taps]
    full = np.convolve(x, h)
    circular = full[:n].copy()
    circular[: len(full) - 2 * n] += full[2 * n :]
    got = x.copy()
    vornix.CVornix().FirFilter(got, n, taps, 1000, 0, FS, 60, vornix.low_pass)
    np.testing.assert_allclose(got, circular, atol=1e-12)
    np.testing.assert_allclose(vornix.fir_filter(x, taps, 1000, fs=FS, att=60), full[:n], atol=1e-12)


def test_fir_filter_counts_and_channels():
    x = np.random.default_rng(9).standard_normal((500, 2))
    got = vornix.fir_filter(x, 51, 2000, 5000, fs=FS, att=50, type=vornix.band_pass)
    assert got.shape == (500, 2)
    for c in range(2):
        np.testing.assert_allclose(got[:, c], lfilter(51, x[:, c], 2000, 5000, 50, vornix.band_pass), atol=1e-10)
    y = x[:, 0].copy()
    vornix.CVornix().FirFilter(y, 300, 51, 1000, 0, FS, 60, 0)  # n below the array: the rest untouched
    np.testing.assert_allclose(y[:300], lfilter(51, x[:300, 0]), atol=1e-10)
    np.testing.assert_array_equal(y[300:], x[300:, 0])
    for n, taps in [(0, 5), (-2, 5), (500, -1)]:
        vornix.CVornix().FirFilter(y, n, taps, 1000, 0, FS, 60, 0)  # nothing
    np.testing.assert_array_equal(y[300:], x[300:, 0])
    assert vornix.fir_filter(np.zeros(0), 5, 1000, fs=FS, att=60).shape == (0,)


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda: vornix.fir_coef(-1, 1000, fs=FS, att=60), ValueError, "taps must be 0 or more"),
        (lambda: vornix.fir_coef(5, 1000, fs=0, att=60), ValueError, "fs must be a sampling rate"),
        (lambda: vornix.fir_filter(np.ones(4), 5, 1000, fs=-1, att=60), ValueError, "fs must be"),
        (lambda: vornix.fir_filter(np.ones(4), 5.0, 1000, fs=FS, att=60), TypeError, "taps must be an int"),
        (lambda: vornix.fir_filter(np.ones(4), 5, 1000, fs=FS, att=60, type="low"), TypeError, "type must be an int"),
        (lambda: vornix.fir_filter(np.ones((2, 2, 2)), 5, 1000, fs=FS, att=60), ValueError, r"\(frames, channels\)"),
        (lambda: vornix.fir_filter(np.ones(4) * 1j, 5, 1000, fs=FS, att=60), TypeError, "real numbers"),
        (lambda: vornix.fir_filter(np.ones(4), 5, 1000, FS, 60), TypeError, ""),  # fs, att keyword-only
        (lambda: vornix.fir_coef(2**31, 1000, fs=FS, att=60), ValueError, "32-bit"),
    ],
)
def test_functions_refuse(call, error, text):
    with pytest.raises(error, match=text):
        call()
