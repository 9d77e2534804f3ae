"""Vornix: radix-4 FFT and signal processing on numpy arrays of float64."""
from ._vornix import CVornix

__all__ = ["CVornix"]
