"""The tamblo module beside the C++ calls it wraps (ref_tamblo), from a
private PulseAudio server (the capture tests' script):

- time per call of cheap members, GetBuffer of a 20 ms and of a 1 s block of
  48000 Hz stereo included;
- a stream of 20 ms stereo blocks through the module's iterator beside the
  C++ window loop, run at the same time from the same source: the process's
  CPU time per second of audio.

    bench_tamblo.py [seconds]   (default 10: the stream's length)

Run by `make bench` with PYTHONPATH and KIT_BENCH_BUILD set.
"""
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

import tamblo

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "..", "tests", "capture", "pulse", "pulse-server.sh")
RATE = 48000


def per_call(f):
    """Best of three runs of at least 0.2 s each, in ns per call."""
    best = float("inf")
    for _ in range(3):
        n = 1
        while True:
            t0 = time.perf_counter()
            for _ in range(n):
                f()
            t = time.perf_counter() - t0
            if t >= 0.2:
                best = min(best, t / n * 1e9)
                break
            n *= 2
    return best


def module_calls():
    rec = tamblo.CTamblo()
    win = tamblo.Window(lambda *m: 0)
    out = {
        "GetVersion": per_call(lambda: rec.GetVersion(0)),
        "GetLastError": per_call(rec.GetLastError),
        "GetDroppedFrames": per_call(rec.GetDroppedFrames),
    }
    for block in (960, RATE):
        rec.Prepare(win, block, 2, 16, RATE)
        code, text = rec.GetLastError()
        if code:
            raise SystemExit(f"the device did not open: {text} ({code})")
        left, right = np.empty(block), np.empty(block)
        out[f"GetBuffer{block}"] = per_call(lambda: rec.GetBuffer(0, left, right))
        rec.Stop()
    return out


def module_stream(seconds):
    """CPU ms per audio second of the process and of the reading thread,
    through the iterator, from its first block; and the frames dropped."""
    blocks = RATE * seconds // 960
    with tamblo.stream(RATE, 2, 960) as s:
        it = iter(s)
        next(it)
        cpu0, own0 = time.process_time(), time.thread_time()
        for _ in range(blocks):
            next(it)
        cpu, own = time.process_time() - cpu0, time.thread_time() - own0
        dropped = s.dropped
    audio = blocks * 960 / RATE
    return cpu / audio * 1e3, own / audio * 1e3, dropped


def main():
    seconds = max(1, int(sys.argv[1])) if len(sys.argv) > 1 else 10
    build = os.environ.get("KIT_BENCH_BUILD", "")
    ref = os.path.join(build, "bench", "python", "tamblo", "ref_tamblo")
    if not os.access(ref, os.X_OK):
        print(f"tamblo: skipped, no {ref} (build the benchmarks: make bench)")
        return
    folder = tempfile.mkdtemp(prefix="tamblo-pybench-")
    server = os.path.join(folder, "server")
    try:
        subprocess.run(["/bin/sh", SCRIPT, "start", server], stdout=subprocess.DEVNULL, check=False)
        if os.path.exists(os.path.join(server, "skip")) or not os.path.exists(os.path.join(server, "native")):
            why = open(os.path.join(server, "skip")).read().strip() if os.path.exists(os.path.join(server, "skip")) else ""
            print(f"tamblo: skipped, no sound server: {why}")
            return
        sink = f"tamblo_{RATE}_2"
        os.environ.update(PULSE_SERVER=f"unix:{server}/native", PULSE_CLIENTCONFIG=f"{server}/client.conf",
                          ALSA_CONFIG_PATH=f"{server}/asound.conf", PULSE_SINK=sink, PULSE_SOURCE=sink + ".monitor")

        ref_out = subprocess.run([ref, "calls"], capture_output=True, text=True, check=True).stdout
        cpp = {name: float(ns) for name, ns in (line.split() for line in ref_out.splitlines())}
        py = module_calls()
        print(f"tamblo: time per call, module vs C++ (best of 3), {RATE} Hz stereo stream prepared on a private server")
        labels = {"GetVersion": "GetVersion(0)", "GetLastError": "GetLastError()",
                  "GetDroppedFrames": "GetDroppedFrames()", "GetBuffer960": "GetBuffer, 20 ms block (960 frames)",
                  f"GetBuffer{RATE}": f"GetBuffer, 1 s block ({RATE} frames)"}
        for key, label in labels.items():
            print(f"  {label:38s} module {py[key]:9.1f} ns   C++ {cpp[key]:9.1f} ns   "
                  f"overhead {py[key] - cpp[key]:8.1f} ns   ratio {py[key] / cpp[key]:6.2f}")

        # Both streams at once from the same source, so both meet the same load.
        peer = subprocess.Popen([ref, "stream", str(seconds)], stdout=subprocess.PIPE, text=True)
        mine, mine_own, dropped = module_stream(seconds)
        out, _ = peer.communicate()
        cpp_all, cpp_own = (float(v) for v in out.split()[1:3]) if peer.returncode == 0 else (math.nan, math.nan)
        print(f"tamblo: {seconds} s of 20 ms stereo blocks at {RATE} Hz (both at once), CPU per second of audio")
        print(f"  whole process        module iterator {mine:6.2f} ms   C++ window loop {cpp_all:6.2f} ms   "
              f"ratio {mine / cpp_all:.2f}")
        print(f"  thread taking blocks module iterator {mine_own:6.2f} ms   C++ window loop {cpp_own:6.2f} ms   "
              f"ratio {mine_own / cpp_own:.2f}")
        print(f"  frames dropped by the module: {dropped}")
    finally:
        subprocess.run(["/bin/sh", SCRIPT, "stop", server], check=False)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
