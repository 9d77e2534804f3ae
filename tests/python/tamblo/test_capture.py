"""Capture from the capture tests' PulseAudio server, through ALSA's default
PCM, as users meet it: every recorded frame is checked against the signal a
player plays into the recorded sink."""
import asyncio
import gc
import os
import signal
import threading
import time

import numpy as np
import pytest

import tamblo
from pulsesignal import Player, assert_signal, threads_left, use

UNTOUCHED = 7.0
STOPPED = 9


@pytest.fixture
def server(pulse_dir):
    """Call with (rate, channels): points the process at that sink's monitor
    and plays the signal into the sink for the rest of the test."""
    players = []

    def play(rate, channels):
        use(pulse_dir, rate, channels)
        players.append(Player(pulse_dir, rate, channels).__enter__())

    yield play
    for p in players:
        p.__exit__()
    assert threads_left() == 0, "the capture left threads running"


@pytest.mark.parametrize("rate, channels", [(48000, 1), (44100, 2)])
def test_rec_is_the_signal_exact_and_contiguous(server, rate, channels):
    server(rate, channels)
    samples = tamblo.rec(1.5, rate, channels)  # a whole block and half a block
    n = rate * 3 // 2
    assert samples.shape == ((n,) if channels == 1 else (n, 2))
    assert samples.dtype == np.float64 and samples.flags.c_contiguous
    assert_signal(samples, channels, rate)


def test_members_record_the_same_as_rec(server):
    server(48000, 2)
    rec = tamblo.CTamblo()
    n = 12000
    left, right = np.full(n + 8, UNTOUCHED), np.full(n + 8, UNTOUCHED)
    rec.Rec(left, right, n, 48000)
    assert rec.GetLastError() == (0, "")
    assert rec.GetRecordedFrames() == n and rec.GetDroppedFrames() == 0
    assert (left[n:] == UNTOUCHED).all() and (right[n:] == UNTOUCHED).all()
    assert_signal(np.column_stack([left[:n], right[:n]]), 2, 48000)


def test_stream_through_the_iterator_is_exact_and_contiguous(server):
    server(48000, 2)
    blocks = []
    with tamblo.stream(48000, 2, 960) as s:
        for block in s:
            blocks.append(block)
            if len(blocks) == 50:  # 1 s
                break
        assert s.dropped == 0
    assert s.closed
    assert all(b.shape == (960, 2) and b.flags.c_contiguous for b in blocks)
    assert len({id(b) for b in blocks}) == 50  # each a new array
    assert_signal(np.concatenate(blocks), 2, 48000)
    assert next(iter(s), None) is None  # closed: the iteration is over


def test_stream_through_asyncio_is_exact_and_contiguous(server):
    server(48000, 1)

    async def main():
        ticks = 0

        async def ticker():  # runs while the blocks are awaited: the loop is not blocked
            nonlocal ticks
            while True:
                await asyncio.sleep(0.01)
                ticks += 1

        task = asyncio.create_task(ticker())
        blocks = []
        async with tamblo.stream(48000, 1, 960) as s:
            async for block in s:
                blocks.append(block)
                if len(blocks) == 50:
                    break
            dropped = s.dropped
        task.cancel()
        return blocks, ticks, dropped

    blocks, ticks, dropped = asyncio.run(main())
    assert ticks > 0 and dropped == 0
    assert all(b.shape == (960,) for b in blocks)
    assert_signal(np.concatenate(blocks), 1, 48000)


def test_rec_releases_the_gil(server):
    server(16000, 1)
    rec = tamblo.CTamblo()
    x = np.empty(16000 * 3)
    t = threading.Thread(target=rec.Rec, args=(x, len(x), 16000))
    t.start()
    time.sleep(0.3)
    assert t.is_alive()
    sum(range(100000))  # runs only while Rec lets go of the GIL
    alive = t.is_alive()
    t.join()
    assert alive, "Python code ran only after Rec had returned"
    assert rec.GetLastError()[0] == 0


def test_stop_from_another_thread_ends_rec_with_the_frames_recorded(server):
    server(48000, 2)
    rec = tamblo.CTamblo()
    n = 48000 * 10
    left, right = np.full(n, UNTOUCHED), np.full(n, UNTOUCHED)
    stopper = threading.Timer(2.5, rec.Stop)
    stopper.start()
    rec.Rec(left, right, n, 48000)
    stopper.join()
    code, text = rec.GetLastError()
    assert code == STOPPED and text
    stored = rec.GetRecordedFrames()
    assert 0 < stored < n
    assert_signal(np.column_stack([left[:stored], right[:stored]]), 2, 48000)
    assert (left[stored:] == UNTOUCHED).all() and (right[stored:] == UNTOUCHED).all()


def test_a_procedure_that_raises_is_raised_from_pump(server):
    server(48000, 1)
    rec = tamblo.CTamblo()
    calls = []

    def proc(message, index, lparam):
        calls.append(index)
        if len(calls) == 1:
            raise KeyError("from the procedure")
        return "not an int" if len(calls) == 2 else None

    win = tamblo.Window(proc)
    rec.Prepare(win, 960, 1, 16, 48000)
    rec.Start()
    with pytest.raises(KeyError, match="from the procedure") as raised:
        while win.Pump(2000):
            pass
    assert any(f.name == "proc" for f in raised.traceback)
    with pytest.raises(TypeError, match="return an int or None"):
        while win.Pump(2000):
            pass
    # Nothing handed back: the stream ends by itself after its two blocks.
    assert win.Pump(500) == 0 and calls == [0, 1]
    rec.Stop()


def test_a_capture_collected_unstopped_ends(server):
    server(48000, 2)

    def forget():
        # A cycle: the procedure refers to the recorder, which keeps the window.
        rec = tamblo.CTamblo()
        got = []

        def proc(message, index, lparam):
            block = np.empty(960)
            rec.GetBuffer(index, block)
            rec.AddBuffer()
            got.append(block)

        win = tamblo.Window(proc)
        rec.Prepare(win, 960, 2, 16, 48000)
        rec.Start()
        while len(got) < 5 and win.Pump(2000):
            pass
        assert len(got) >= 5

        s = tamblo.stream(48000, 2, 960)
        next(s)

    forget()
    gc.collect()
    assert threads_left() == 0


def test_stop_from_another_thread_ends_a_stream(server):
    server(48000, 2)
    s = tamblo.stream(48000, 2, 4800)
    count = 0
    for block in s:
        if count == 0:
            threading.Timer(0.5, s.close).start()
        count += 1
    assert 1 <= count < 100 and s.closed


def test_ctrl_c_stops_rec(server):
    server(16000, 1)
    threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
    t0 = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        tamblo.rec(30, 16000)
    assert time.monotonic() - t0 < 15, "Ctrl-C waited for the whole recording"
