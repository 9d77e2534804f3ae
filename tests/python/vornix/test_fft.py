import numpy as np

import vornix


def test_fft_matches_numpy():
    rng = np.random.default_rng(1)
    x = rng.standard_normal(1024) + 1j * rng.standard_normal(1024)
    re, im = x.real.copy(), x.imag.copy()
    vornix.CVornix().Fft(re, im, 1024, True)
    np.testing.assert_allclose(re + 1j * im, np.fft.fft(x), atol=1e-10)
