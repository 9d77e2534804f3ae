"""The module's members, its argument checks and its errors, with no sound
server: the process's sound clients point at a socket where nothing listens
(ALSA reads its configuration once a process, hence a file of its own)."""
import gc
import os
import tempfile
import threading
import weakref

import numpy as np
import pytest

import tamblo

_config = tempfile.mkdtemp(prefix="tamblo-py-noserver-")
with open(os.path.join(_config, "asound.conf"), "w") as f:
    f.write("</usr/share/alsa/alsa.conf>\npcm.!default { type pulse }\nctl.!default { type pulse }\n")
with open(os.path.join(_config, "client.conf"), "w") as f:
    f.write("autospawn = no\n")
os.environ.update(
    PULSE_SERVER=f"unix:{_config}/nothing-here",
    PULSE_CLIENTCONFIG=f"{_config}/client.conf",
    ALSA_CONFIG_PATH=f"{_config}/asound.conf",
)

UNTOUCHED = 7.0


def test_members_keep_the_cpp_results():
    rec = tamblo.CTamblo()
    assert (rec.GetVersion(0), rec.GetVersion(1), rec.GetVersion(-1)) == ("1.1", "110", "110")
    assert rec.GetLastError() == (0, "")
    assert (rec.GetDroppedFrames(), rec.GetRecordedFrames()) == (0, 0)
    assert rec.EchoOff() is None and rec.EchoOn() is None
    assert rec.Stop() is None  # never prepared: returns at once
    assert tamblo.UM_BLOCK_READY == 18801
    rec.Prepare(None, 960, 3, 16, 16000)
    assert rec.GetLastError() == (2, "Invalid argument")


def test_no_server_is_the_library_error_everywhere():
    rec = tamblo.CTamblo()
    x = np.full(1000, UNTOUCHED)
    rec.Rec(x, 1000, 16000)
    code, text = rec.GetLastError()
    assert code != 0 and text and (x == UNTOUCHED).all()

    with pytest.raises(tamblo.Error) as raised:
        tamblo.rec(1000 / 16000, 16000)
    e = raised.value
    assert isinstance(e, OSError)
    assert (e.code, str(e), e.frames, e.samples.shape) == (code, text, 0, (0,))

    with pytest.raises(tamblo.Error) as raised:
        next(tamblo.stream(16000, 2, 160))
    assert (raised.value.code, str(raised.value)) == (code, text)


def _ro():
    a = np.zeros(100)
    a.flags.writeable = False
    return a


def _prepared(length=960):
    rec = tamblo.CTamblo()
    rec.Prepare(None, length, 2, 16, 16000)  # fails to open; the block length stands
    return rec


ok = np.zeros(100)

# (call on a fresh recorder, exception, words of the message)
REFUSED = [
    (lambda r: r.Rec([0.0] * 100, 100, 16000), TypeError, "samples must be a numpy.ndarray of float64, not list"),
    (lambda r: r.Rec(None, 100, 16000), TypeError, "not NoneType"),
    (lambda r: r.Rec(np.zeros(100, np.float32), 100, 16000), TypeError, "dtype float64, not float32"),
    (lambda r: r.Rec(np.zeros(100, int), 100, 16000), TypeError, "dtype float64, not int64"),
    (lambda r: r.Rec(np.zeros((50, 2)), 100, 16000), ValueError, "1-D, not 2-D with shape (50, 2)"),
    (lambda r: r.Rec(np.zeros(200)[::2], 100, 16000), ValueError, "contiguous"),
    (lambda r: r.Rec(_ro(), 100, 16000), ValueError, "read-only"),
    (lambda r: r.Rec(np.zeros(99), 100, 16000), ValueError, "samples holds 99 values; 100 are needed"),
    (lambda r: r.Rec(ok, np.zeros(99), 100, 16000), ValueError, "right holds 99 values; 100 are needed"),
    (lambda r: r.Rec(np.zeros(99), ok, 100, 2, 16, 16000), ValueError, "left holds 99"),
    (lambda r: r.Rec(ok, "x", 100, 16000), TypeError, "right must be a numpy.ndarray"),
    (lambda r: r.Rec(ok, 100), TypeError, "incompatible function arguments"),
    (lambda r: _prepared().GetBuffer(0, np.zeros(959)), ValueError, "left holds 959 values; 960 are needed"),
    (lambda r: _prepared().GetBuffer(0, np.zeros(960), np.zeros(959)), ValueError, "right holds 959"),
    (lambda r: _prepared().GetBuffer(0, None), TypeError, "left must be a numpy.ndarray"),
    (lambda r: _prepared().GetBuffer(1, np.zeros(960, np.float32)), TypeError, "dtype float64"),
    (lambda r: r.Prepare("window", 960, 1, 16, 16000), TypeError, "hwnd must be a tamblo.Window"),
    (lambda r: r.Prepare(-1, 960, 1, 16, 16000), ValueError, "non-negative int"),
    (lambda r: tamblo.Window(42), TypeError, "proc must be callable"),
    (lambda r: tamblo.rec(-1, 16000), ValueError, "seconds must be finite and not negative"),
    (lambda r: tamblo.rec(float("nan"), 16000), ValueError, "seconds must be finite"),
    (lambda r: tamblo.rec("1", 16000), TypeError, "seconds must be a number"),
    (lambda r: tamblo.rec(1, 16000.0), TypeError, "rate must be an int"),
    (lambda r: tamblo.rec(1, 0), ValueError, "rate must be positive"),
    (lambda r: tamblo.rec(1, 16000, 3), ValueError, "channels must be 1 or 2"),
    (lambda r: tamblo.rec(1e6, 48000), ValueError, "more than 2**31 - 1 frames"),
    (lambda r: tamblo.stream(16000, 1, 0), ValueError, "block_frames must be positive"),
    (lambda r: tamblo.stream(16000, 1, 1.5), TypeError, "block_frames must be an int"),
    (lambda r: tamblo.stream(16000, 0, 160), ValueError, "channels must be 1 or 2"),
]


@pytest.mark.parametrize("call, error, words", REFUSED, ids=[c[2] for c in REFUSED])
def test_refused_before_the_library_runs(call, error, words):
    rec = tamblo.CTamblo()
    with pytest.raises(error) as raised:
        call(rec)
    assert words in str(raised.value)
    assert rec.GetLastError() == (0, "")  # nothing reached the library


def test_get_buffer_holds_the_block_of_the_last_prepare():
    rec = _prepared(4800)
    rec.Prepare(None, 960, 1, 16, 16000)
    rec.GetBuffer(0, np.zeros(960))  # no capture runs: nothing is written, nothing refused
    rec.Prepare(None, 960, 3, 16, 16000)  # refused: the block stays
    rec.GetBuffer(1, np.zeros(960), np.zeros(960))
    rec.Prepare(None, 4800, 1, 16, 16000)
    with pytest.raises(ValueError, match="4800 are needed"):
        rec.GetBuffer(0, np.zeros(960))


def test_window_members():
    calls = []
    a, b = tamblo.Window(lambda *m: calls.append(m)), tamblo.Window(lambda *m: 0)
    assert a.GetHwnd() > 0 and a.GetHwnd() != b.GetHwnd()
    assert a.fileno() == a.GetFd() >= 0
    assert a.Pump(0) == 0 and calls == []
    # Only the window's thread pumps: elsewhere Pump returns at once, even with no limit.
    done = []
    t = threading.Thread(target=lambda: done.append(a.Pump(-1)))
    t.start()
    t.join(10)
    assert done == [0]


@pytest.mark.parametrize("by_handle", [False, True])
def test_recorder_keeps_its_window_alive(by_handle):
    win = tamblo.Window(lambda *m: 0)
    gone = weakref.ref(win)
    rec = tamblo.CTamblo()
    rec.Prepare(win.GetHwnd() if by_handle else win, 960, 1, 16, 16000)
    del win
    gc.collect()
    assert gone() is not None
    del rec
    gc.collect()
    assert gone() is None


def test_error_is_an_oserror_with_the_library_code():
    assert issubclass(tamblo.Error, OSError)
    e = tamblo.Error(-111, "Connection refused", np.zeros((3, 2)))
    assert (e.code, str(e), e.frames, e.errno) == (-111, "Connection refused", 3, None)
