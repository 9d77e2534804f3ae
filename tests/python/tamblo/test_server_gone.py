"""A sound server killed while it is recorded from: the recording and the
stream end at once with the library's error, after every frame delivered
before, exact."""
import os
import signal
import subprocess
import threading

import numpy as np
import pytest

import tamblo
from pulsesignal import Player, assert_signal, missing, threads_left, use


@pytest.fixture
def private_server(pulse_dir):
    """A server of the test's own, under the shared one's folder (so that the
    fixture's clean-up stops it whatever happens), playing the signal into its
    48000 Hz stereo sink. Yields its pid."""
    folder = os.path.join(pulse_dir, "py-killed")
    script = os.environ.get("TAMBLO_PULSE_SCRIPT", "")
    subprocess.run(["/bin/sh", script, "start", folder], stdout=subprocess.DEVNULL, check=False)
    why = missing(folder)
    if why:
        subprocess.run(["/bin/sh", script, "stop", folder], check=False)
        pytest.skip(f"a private server did not start: {why}")
    with open(os.path.join(folder, "run", "pulse", "pid")) as f:
        pid = int(f.read())
    # ALSA's configuration stays the shared server's (it is read once a process).
    use(pulse_dir, 48000, 2, server=f"unix:{folder}/native")
    try:
        with Player(folder, 48000, 2):
            yield pid
    finally:
        subprocess.run(["/bin/sh", script, "stop", folder], check=False)
    assert threads_left() == 0


def test_rec_cut_short_raises_with_the_frames_recorded(private_server):
    killer = threading.Timer(2.5, os.kill, (private_server, signal.SIGKILL))
    killer.start()
    with pytest.raises(tamblo.Error) as raised:
        tamblo.rec(10, 48000, 2)
    killer.join()
    e = raised.value
    assert e.code < 0 and str(e)  # the sound system's error
    assert 0 < e.frames < 480000 and e.samples.shape == (e.frames, 2)
    assert_signal(e.samples, 2, 48000)


def test_stream_ends_with_the_error_after_the_blocks_delivered(private_server):
    blocks = []
    s = tamblo.stream(48000, 2, 4800)
    with pytest.raises(tamblo.Error) as raised:
        for block in s:
            blocks.append(block)
            if len(blocks) == 5:
                os.kill(private_server, signal.SIGKILL)
    assert raised.value.code != 0 and s.closed
    assert len(blocks) >= 5
    assert_signal(np.concatenate(blocks), 2, 48000)
