"""Tamblo: 16-bit PCM capture from the default input device into numpy arrays.

``CTamblo`` and ``Window`` mirror the C++ recorder and window stand-in
(members, arguments and results as in C++). Beside them:

- ``rec(seconds, rate, channels)`` records and returns the samples;
- ``stream(rate, channels, block_frames)`` yields blocks as they come, as an
  iterator, an asyncio async iterator and a context manager.

Samples are float64, s / 32768 for a 16-bit sample s. One channel is a 1-D
array ``(frames,)``, two channels a 2-D array ``(frames, 2)``. Failures of
the device raise ``Error`` (an ``OSError``) with the library's code and text.
"""
from __future__ import annotations

import asyncio
import collections
import math
import threading
import weakref
from types import TracebackType
from typing import Any, Callable, Deque, List, Optional, Type

import numpy as np
import numpy.typing as npt

from ._tamblo import UM_BLOCK_READY, CTamblo, Window

__all__ = ["CTamblo", "Window", "UM_BLOCK_READY", "Error", "Stream", "rec", "stream"]

class Error(OSError):
    """The capture failed: ``code`` is the library's code (negative: the sound
    system's errno), the message its text. ``samples`` holds what was
    recorded before the failure (``frames`` of them), in the layout of the
    call that failed."""

    code: int
    samples: npt.NDArray[np.float64]

    def __init__(self, code: int, text: str, samples: Optional[npt.NDArray[np.float64]] = None) -> None:
        super().__init__(text)
        self.code = code
        self.samples = samples if samples is not None else np.empty(0)

    @property
    def frames(self) -> int:
        """Frames recorded before the failure."""
        return len(self.samples)

    def __reduce__(self) -> Any:
        return (type(self), (self.code, str(self), self.samples))


def _check_format(rate: Any, channels: Any) -> None:
    for name, value in (("rate", rate), ("channels", channels)):
        if not isinstance(value, (int, np.integer)) or isinstance(value, bool):
            raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if rate <= 0:
        raise ValueError(f"rate must be positive, not {rate}")
    if channels not in (1, 2):
        raise ValueError(f"channels must be 1 or 2, not {channels}")


def _interruptible(recorder: CTamblo, call: Callable[[], None]) -> None:
    """Runs a blocking member of `recorder`. On the main thread it runs on a
    helper thread, so that Ctrl-C (KeyboardInterrupt) stops it at once."""
    if threading.current_thread() is not threading.main_thread():
        call()
        return
    raised: List[BaseException] = []

    def run() -> None:
        try:
            call()
        except BaseException as e:
            raised.append(e)

    helper = threading.Thread(target=run, name="tamblo-rec", daemon=True)
    helper.start()
    try:
        helper.join()
    except BaseException:
        recorder.Stop()
        helper.join()
        raise
    if raised:
        raise raised[0]


def rec(seconds: float, rate: int, channels: int = 1) -> npt.NDArray[np.float64]:
    """Records ``seconds`` seconds (rounded to whole frames) at ``rate`` frames
    per second from the default input device, blocking, and returns them:
    ``(frames,)`` for one channel, ``(frames, 2)`` for two. Other threads run
    meanwhile; on the main thread Ctrl-C stops the recording and raises
    KeyboardInterrupt.

    Raises ``Error`` when the device cannot be opened or fails; when it fails
    midway, the frames recorded until then are the error's ``samples``.
    TypeError/ValueError for arguments of the wrong type or out of range; a
    format the device's buffers cannot hold (more than 192,000 bytes a
    second) is the library's refusal, ``Error`` with code 2.
    """
    _check_format(rate, channels)
    if not isinstance(seconds, (int, float, np.integer, np.floating)) or isinstance(seconds, bool):
        raise TypeError(f"seconds must be a number, not {type(seconds).__name__}")
    if not math.isfinite(seconds) or seconds < 0:
        raise ValueError(f"seconds must be finite and not negative, not {seconds}")
    frames = int(round(seconds * rate))
    if frames > 2**31 - 1:
        raise ValueError(f"{seconds} s at {rate} frames/s is more than 2**31 - 1 frames")
    recorder = CTamblo()
    if channels == 1:
        out = np.empty(frames)
        _interruptible(recorder, lambda: recorder.Rec(out, frames, int(rate)))
    else:
        rows = np.empty((2, frames))
        _interruptible(recorder, lambda: recorder.Rec(rows[0], rows[1], frames, int(rate)))
        out = np.ascontiguousarray(rows.T)
    code, text = recorder.GetLastError()
    if code != 0:
        raise Error(code, text, out[: recorder.GetRecordedFrames()].copy())
    return out


_Block = npt.NDArray[np.float64]


class Stream:
    """Blocks of ``block_frames`` frames from the default input device, as
    they come: ``(block_frames,)`` arrays for one channel, ``(block_frames, 2)``
    for two, each a new array.

    Iterate it (``for block in stream``), or ``async for`` in asyncio (the
    window's descriptor is watched with ``loop.add_reader``; no thread
    waits). Capture starts at the first of ``iter``/``next``, ``with``,
    ``async for`` or ``async with``, on the thread that reads the blocks
    (the blocks are taken on it), and ends at ``close()``, at the end of a
    ``with`` block, or when the stream is collected. Blocks not read in time
    wait with the device, and what it cannot hold is lost: ``dropped`` counts
    those frames. A device that fails ends the iteration with ``Error`` after
    the blocks taken before it; after ``close()`` the iteration ends.
    """

    def __init__(self, rate: int, channels: int, block_frames: int) -> None:
        _check_format(rate, channels)
        if not isinstance(block_frames, (int, np.integer)) or isinstance(block_frames, bool):
            raise TypeError(f"block_frames must be an int, not {type(block_frames).__name__}")
        if block_frames <= 0:
            raise ValueError(f"block_frames must be positive, not {block_frames}")
        self.rate = int(rate)
        self.channels = int(channels)
        self.block_frames = int(block_frames)
        self._blocks: Deque[_Block] = collections.deque()
        self._recorder: Optional[CTamblo] = None
        self._window: Optional[Window] = None
        self._thread: Optional[int] = None
        self._closed = False
        self._dropped = 0

    @property
    def dropped(self) -> int:
        """Frames the device lost so far (the reader was late for longer than it holds)."""
        recorder = self._recorder
        return recorder.GetDroppedFrames() if recorder is not None and not self._closed else self._dropped

    @property
    def closed(self) -> bool:
        """True once the capture has ended: closed, or ended by an error."""
        return self._closed

    def _open(self) -> None:
        # The window is made on the reading thread: its procedure runs there.
        recorder = CTamblo()
        blocks, n = self._blocks, self.block_frames
        # Weak, so that the recorder (which keeps the window, which keeps this
        # procedure) goes, and stops, as soon as the stream is dropped.
        ref = weakref.ref(recorder)
        if self.channels == 1:

            def proc(message: int, index: int, _: int) -> int:
                r = ref()
                if message == UM_BLOCK_READY and r is not None:
                    block = np.empty(n)
                    r.GetBuffer(index, block)
                    r.AddBuffer()
                    blocks.append(block)
                return 0

        else:

            def proc(message: int, index: int, _: int) -> int:
                r = ref()
                if message == UM_BLOCK_READY and r is not None:
                    rows = np.empty((2, n))
                    r.GetBuffer(index, rows[0], rows[1])
                    r.AddBuffer()
                    blocks.append(rows.T.copy())
                return 0

        self._window = Window(proc)
        self._recorder = recorder
        self._thread = threading.get_ident()

    def _start(self) -> None:
        recorder, window = self._recorder, self._window
        assert recorder is not None and window is not None
        recorder.Prepare(window, self.block_frames, self.channels, 16, self.rate)
        code, text = recorder.GetLastError()
        if code == 0:
            recorder.Start()
            code, text = recorder.GetLastError()
        if code != 0:
            self.close()
            raise Error(code, text)

    def _ready(self) -> bool:
        """Opens the stream on first use; False once it is closed."""
        if self._closed:
            return False
        if self._recorder is None:
            self._open()
            self._start()
        elif self._thread != threading.get_ident():
            raise RuntimeError("a stream is read on the thread that started it")
        return True

    def _check(self, recorder: CTamblo) -> None:
        code, text = recorder.GetLastError()
        if code != 0:
            self.close()
            raise Error(code, text)

    def __iter__(self) -> "Stream":
        self._ready()
        return self

    def __next__(self) -> _Block:
        if not self._ready():
            raise StopIteration
        recorder, window = self._recorder, self._window
        assert recorder is not None and window is not None
        while not self._blocks:
            if self._closed:  # by another thread
                raise StopIteration
            self._check(recorder)
            window.Pump(250)
        return self._blocks.popleft()

    def __enter__(self) -> "Stream":
        self._ready()
        return self

    def __exit__(
        self, t: Optional[Type[BaseException]], e: Optional[BaseException], tb: Optional[TracebackType]
    ) -> None:
        self.close()

    def __aiter__(self) -> "Stream":
        return self

    async def _aready(self) -> bool:
        if self._closed:
            return False
        if self._recorder is None:
            self._open()
            # The device opens on another thread; the loop goes on meanwhile.
            await asyncio.get_running_loop().run_in_executor(None, self._start)
            return not self._closed
        return self._ready()

    async def __anext__(self) -> _Block:
        if not await self._aready():
            raise StopAsyncIteration
        recorder, window = self._recorder, self._window
        assert recorder is not None and window is not None
        while not self._blocks:
            if self._closed:
                raise StopAsyncIteration
            self._check(recorder)
            await self._readable(window)
        return self._blocks.popleft()

    async def _readable(self, window: Window) -> None:
        # Until a block is in, the device failed (checked every 250 ms) or the
        # procedure raised.
        loop = asyncio.get_running_loop()
        done = loop.create_future()

        def on_readable() -> None:
            try:
                window.Pump(0)
            except Exception as e:
                if not done.done():
                    done.set_exception(e)
                return
            if self._blocks and not done.done():
                done.set_result(None)

        def on_timer() -> None:
            if not done.done():
                done.set_result(None)

        fd = window.fileno()
        loop.add_reader(fd, on_readable)
        timer = loop.call_later(0.25, on_timer)
        try:
            await done
        finally:
            loop.remove_reader(fd)
            timer.cancel()

    async def __aenter__(self) -> "Stream":
        await self._aready()
        return self

    async def __aexit__(
        self, t: Optional[Type[BaseException]], e: Optional[BaseException], tb: Optional[TracebackType]
    ) -> None:
        self.close()

    async def aclose(self) -> None:
        self.close()

    def close(self) -> None:
        """Stops the capture (up to 3 s when the device does not respond);
        blocks not yet read are dropped. Closing twice does nothing."""
        if self._closed:
            return
        self._closed = True
        recorder = self._recorder
        if recorder is not None:
            recorder.Stop()
            self._dropped = recorder.GetDroppedFrames()
        self._blocks.clear()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


def stream(rate: int, channels: int, block_frames: int) -> Stream:
    """A stream of blocks of ``block_frames`` frames at ``rate`` frames per
    second, ``channels`` 1 or 2: see ``Stream``. Nothing is opened until it is
    read; then a device that cannot open raises ``Error``, as does one that
    fails while it is read. TypeError/ValueError for arguments of the wrong
    type or out of range; a block larger than the device's buffers (192,000
    bytes) is the library's refusal, ``Error`` with code 2."""
    return Stream(rate, channels, block_frames)
