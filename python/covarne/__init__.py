"""Covarne: reads, writes and edits 8- and 16-bit PCM WAV files, with numpy.

``Covarne2005`` mirrors the C++ class member for member (same names, argument
order and results: queries give 0 and edits -1 on failure, ``GetLastError()``
tells why); ``tagWAVEFILEHEADER2005`` is its 44-byte header record.

``read`` and ``write`` are the short way, raising ``covarne.Error`` on failure.
Audio layout: one channel is a 1-D float64 array ``(frames,)``, two channels a
``(frames, 2)`` array (as ``soundfile.read`` gives them). Samples are doubles in
the library's scale: a 16-bit sample s reads as s / 32768, an 8-bit byte b as
(b - 128) / 128; writing stores x * 32760 (16 bits) or x * 127 + 128 (8 bits),
truncated toward zero and limited to full scale.

Paths are ``str``, ``bytes`` or ``os.PathLike``. Members release the GIL while
they run.
"""
from __future__ import annotations

import errno as _errno
import operator
import os
import threading
from typing import Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._covarne import Covarne2005, tagWAVEFILEHEADER2005, _read

__all__ = ["Covarne2005", "tagWAVEFILEHEADER2005", "Error", "read", "write"]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# Library codes that stand for a file system error of their own.
_CODE_ERRNO = {2: _errno.ENOENT, 3: _errno.EISDIR, 15: _errno.ENOSPC}
_SYSTEM = 16  # another system error: its text ends with the system's own


def _errno_of(code: int, text: str) -> Optional[int]:
    if code in _CODE_ERRNO:
        return _CODE_ERRNO[code]
    if code == _SYSTEM:
        for number in _errno.errorcode:
            if text.endswith(": " + os.strerror(number)):
                return number
    return None


class Error(OSError):
    """A failure the library reports: ``code`` is its code (``Covarne2005.GetLastError``),
    the message its text. ``errno`` and ``filename`` are set as ``OSError`` sets them
    where the failure is one of the file system (no such file, a directory, ...)."""

    code: int

    def __init__(self, code: int, text: str, filename: Optional[PathLike] = None) -> None:
        number = _errno_of(code, text)
        if filename is None:
            super().__init__(number, text)
        else:
            super().__init__(number, text, os.fspath(filename))
        self.code = code

    def __str__(self) -> str:
        if self.filename is None:
            return str(self.strerror)
        return f"{self.strerror}: {self.filename!r}"

    def __reduce__(self):
        return (type(self), (self.code, self.strerror, self.filename))


_objects = threading.local()


def _object() -> Covarne2005:
    # One object a thread, kept: building one costs more than a short read, and
    # the objects of different threads work at the same time.
    obj = getattr(_objects, "obj", None)
    if obj is None:
        obj = _objects.obj = Covarne2005()
    return obj


def read(path: PathLike, start: int = 0, frames: Optional[int] = None) -> Tuple[npt.NDArray[np.float64], int]:
    """Reads frames of an 8- or 16-bit PCM WAV file of one or two channels.

    Returns ``(samples, rate)``: samples as float64 (1-D for one channel,
    ``(frames, 2)`` for two), the values ``Covarne2005.Load`` gives, and the
    sample rate in frames per second. ``start`` is the first frame (0 by
    default) and ``frames`` the number wanted (``None``: to the end); a range
    that runs past the end gives the frames that exist, and one with no frames
    in the file an empty array (unlike ``Load``, nothing is padded with zeros).

    Raises ``covarne.Error`` when the file is missing, a directory, not a PCM
    WAV file, of another bit depth or of more than two channels (code 9);
    ``ValueError`` for a negative ``start`` or ``frames``, ``TypeError`` for
    arguments of another type.
    """
    start = operator.index(start)
    if start < 0:
        raise ValueError(f"start must be 0 or more, not {start}")
    count = -1
    if frames is not None:
        count = operator.index(frames)
        if count < 0:
            raise ValueError(f"frames must be 0 or more, not {count}")
    samples, rate, code, text = _read(_object(), path, start, count)
    if samples is None:
        raise Error(code, text, path)
    return samples, rate


_MAX_FRAMES = 2**31 - 1


def write(path: PathLike, samples: npt.ArrayLike, rate: int, bits: int = 16) -> None:
    """Writes a new 8- or 16-bit PCM WAV file (replacing any file of that name).

    ``samples`` is any array-like of real numbers: 1-D (or ``(frames, 1)``) for
    one channel, ``(frames, 2)`` for two, in the library's scale (1.0 is full
    scale; values beyond it are limited). Integer arrays are taken as these
    numbers too, not as stored PCM values. ``rate`` is in frames per second and
    ``bits`` 8 or 16.

    Raises ``covarne.Error`` when the file cannot be written (the library's
    code and text); ``TypeError``/``ValueError`` for samples, a rate or bits
    it does not take.
    """
    a = np.asarray(samples)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"samples must hold real numbers, not {a.dtype}")
    if a.ndim == 2 and a.shape[1] == 1:
        a = a[:, 0]
    if not (a.ndim == 1 or (a.ndim == 2 and a.shape[1] == 2)):
        raise ValueError(f"samples must be 1-D (one channel) or (frames, 2), not of shape {a.shape}")
    rate = operator.index(rate)
    if not 0 < rate <= _MAX_FRAMES:
        raise ValueError(f"rate must be 1 to {_MAX_FRAMES} frames per second, not {rate}")
    bits = operator.index(bits)
    if bits not in (8, 16):
        raise ValueError(f"bits must be 8 or 16, not {bits}")
    frames = a.shape[0]
    if frames > _MAX_FRAMES:
        raise ValueError(f"{frames} frames are more than a WAV file holds")
    obj = _object()
    if a.ndim == 1:
        obj.Save(path, a, frames, bits, rate)
    else:
        obj.Save(path, a[:, 0], a[:, 1], frames, bits, rate)
    code, text = obj.GetLastError()
    if code != 0:
        raise Error(code, text, path)
