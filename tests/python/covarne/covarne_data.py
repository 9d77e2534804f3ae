"""Reference values of the library's sample conventions, and test data."""
import numpy as np


def stored(x, bits):
    """The values the library stores for doubles x: x * 32760 or x * 127 + 128, truncated and limited."""
    scale = 32760 if bits == 16 else 127
    v = np.clip(np.trunc(np.asarray(x, dtype=np.float64) * scale), -scale, scale)
    return v.astype(np.int16) if bits == 16 else (v + 128).astype(np.uint8)


def loaded(values, bits):
    """The doubles Load gives for stored values: s / 32768 or (b - 128) / 128."""
    v = np.asarray(values, dtype=np.float64)
    return v / 32768 if bits == 16 else (v - 128) / 128


def signal(frames, channels, seed=1):
    """Noise a little beyond full scale, so that the limits are met too."""
    x = np.random.default_rng(seed).uniform(-1.2, 1.2, (frames, channels))
    return x[:, 0].copy() if channels == 1 else x
