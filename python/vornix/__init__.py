"""Vornix: radix-4 FFT and signal processing on numpy arrays of float64.

Two ways in:

- ``CVornix``, the C++ class member for member (``Fft``, ``Ifft``,
  ``CalcSpectrum``, ``SetDbLim``, ``Hamming``/``Ham``, ``Hanning``/``Han``,
  ``Preemphasis``, ``Normalize``, ``GetFirCoef``, ``FirFilter``, ``Hilbert``,
  ``CalcHilbertPower``, ``CalcHilbertSpectrum``), in place on writeable,
  C-contiguous 1-D float64 arrays, with the C++'s argument order and results.
  Counts are checked against the arrays; within them each member does what
  the C++ does.
- Functions for numpy users, array-likes in and new arrays out: ``fft`` and
  ``ifft`` (as ``numpy.fft``), ``spectrum`` (power in dB of a windowed frame),
  ``hilbert`` and ``envelope`` (as ``scipy.signal.hilbert``), ``fir_coef`` and
  ``fir_filter`` (Kaiser-windowed FIR design and filtering). Transforms take a
  power of two from 1 to 65536 values; one channel is a 1-D array
  ``(frames,)``, several a 2-D array ``(frames, channels)``.

Wrong arguments raise ``TypeError`` (not numbers, wrong dtype for in-place
arrays) or ``ValueError`` (shape, layout, read-only, too short, lengths). The
GIL is released while the library works.

>>> import numpy as np, vornix
>>> x = np.cos(2 * np.pi * 8 * np.arange(512) / 512)
>>> X = vornix.fft(x)                      # as numpy.fft.fft(x)
>>> db = vornix.spectrum(x, window=None)   # bins 0 .. 256, dB
>>> round(db[8], 2)
48.16
"""
from ._vornix import (
    CVornix,
    band_pass,
    band_stop,
    envelope,
    fft,
    filter_type,
    fir_coef,
    fir_filter,
    high_pass,
    hilbert,
    ifft,
    low_pass,
    spectrum,
)

__all__ = [
    "CVornix",
    "filter_type",
    "low_pass",
    "high_pass",
    "band_pass",
    "band_stop",
    "fft",
    "ifft",
    "spectrum",
    "hilbert",
    "envelope",
    "fir_coef",
    "fir_filter",
]
