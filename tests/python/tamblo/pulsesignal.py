"""The capture tests' PulseAudio server for the tamblo module's tests: how a
process is pointed at it (the `pulse_dir` fixture of conftest.py), a player that plays a signal naming every frame's
position into one of its null sinks, and the check that a recording is that
signal, exact and contiguous."""
import functools
import os
import signal
import subprocess
import time

import numpy as np
SIGNAL_SECONDS = 30


@functools.lru_cache(maxsize=None)
def signal_samples(count):
    """Interleaved sample i of the played signal: the top 16 bits of a hash of i."""
    z = np.arange(count, dtype=np.uint64) + np.uint64(0x9E3779B97F4A7C15)
    z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    z ^= z >> np.uint64(31)
    return (z >> np.uint64(48)).astype(np.uint16).view(np.int16)


def missing(folder):
    """Why the server in `folder` is not there, or ""."""
    if not folder:
        return "TAMBLO_PULSE_DIR is not set (run the test through ctest)"
    try:
        with open(os.path.join(folder, "skip")) as f:
            return f.readline().strip()
    except OSError:
        pass
    if not os.path.exists(os.path.join(folder, "native")):
        return f"no server socket in {folder}"
    return ""


def use(folder, rate, channels, server=None):
    """Points this process's ALSA and PulseAudio clients at the server in
    `folder` (or at `server`) and the source at the monitor of the sink for
    `rate` and `channels`. ALSA reads its configuration once a process."""
    sink = f"tamblo_{rate}_{channels}"
    os.environ.update(
        PULSE_SERVER=server or f"unix:{folder}/native",
        PULSE_CLIENTCONFIG=f"{folder}/client.conf",
        ALSA_CONFIG_PATH=f"{folder}/asound.conf",
        PULSE_SINK=sink,
        PULSE_SOURCE=sink + ".monitor",
    )


class Player:
    """pacat playing the signal into the sink for `rate` and `channels` of the
    server in `folder`, from 300 ms before the block until its end."""

    def __init__(self, folder, rate, channels):
        self.folder, self.rate, self.channels = folder, rate, channels

    def __enter__(self):
        raw = os.path.join(self.folder, f"py-signal-{self.rate}-{self.channels}.raw")
        if not os.path.exists(raw):
            signal_samples(self.rate * self.channels * SIGNAL_SECONDS).tofile(raw + ".tmp")
            os.replace(raw + ".tmp", raw)
        env = dict(os.environ, PULSE_SERVER=f"unix:{self.folder}/native", PULSE_CLIENTCONFIG=f"{self.folder}/client.conf")
        self.process = subprocess.Popen(
            ["pacat", "--playback", f"--device=tamblo_{self.rate}_{self.channels}", "--format=s16le",
             f"--rate={self.rate}", f"--channels={self.channels}", "--latency-msec=1000", "--raw", raw],
            env=env)
        time.sleep(0.3)  # its stream is playing before the recording starts
        return self

    def __exit__(self, *exc):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait()


def assert_signal(samples, channels, rate):
    """`samples` ((frames,) or (frames, 2) float64) is the signal, exact and
    contiguous, after fewer than half its frames of leading silence. Returns
    the position in the signal of its first frame after the silence."""
    frames = samples.reshape(len(samples), channels)
    scaled = frames * 32768.0
    ints = np.rint(scaled)
    assert np.array_equal(scaled, ints), "not 16-bit samples / 32768"
    rec = ints.astype(np.int16)
    silent = ~rec.any(axis=1)
    lead = int(np.argmin(silent)) if not silent.all() else len(rec)
    assert lead < len(rec) // 2, f"{lead} of {len(rec)} frames are silence"
    sig = signal_samples(rate * channels * SIGNAL_SECONDS).reshape(-1, channels)
    rest = rec[lead:]
    probe = min(4, len(rest))
    starts = np.flatnonzero((sig[: len(sig) - probe + 1, 0] == rest[0, 0]))
    at = next((int(s) for s in starts if np.array_equal(sig[s : s + probe], rest[:probe])), -1)
    assert at >= 0, "the first frame after the silence is not the signal"
    assert at + len(rest) <= len(sig), "longer than the signal"
    wrong = np.flatnonzero((sig[at : at + len(rest)] != rest).any(axis=1))
    assert wrong.size == 0, f"{wrong.size} frames differ from the signal, the first at {lead + wrong[0]}"
    return at


def threads_left(names=("tamblo-worker", "tamblo-device"), wait=5.0):
    """Threads of this process with those names, after waiting up to `wait` s for none."""
    deadline = time.monotonic() + wait
    while True:
        count = 0
        for task in os.listdir("/proc/self/task"):
            try:
                with open(f"/proc/self/task/{task}/comm") as f:
                    count += f.read().strip() in names
            except OSError:
                pass
        if count == 0 or time.monotonic() > deadline:
            return count
        time.sleep(0.05)
