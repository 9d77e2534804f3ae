"""The covarne module's cost over the C++ it wraps, and covarne.read beside soundfile.read.

- Per-call overhead: GetSr on a small file, Load of 256 frames, and Load of a
  large range (1,000,000 two-channel frames into two arrays), each timed from
  Python and by the C++ reference program ref_covarne on the same files
  (ratio = Python / C++).
- covarne.read of a file of about 200 MB (16-bit, two channels, 48000 frames/s)
  beside soundfile.read(dtype="float64"), and covarne.write beside
  soundfile.write on the same samples (ratio = covarne / soundfile).

Times are the best of several rounds (the machine is shared and noisy); page
cache warm. Nothing fails because a figure is high.

    bench_covarne.py [frames]      (default 50,000,000 frames: 200 MB of samples)
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import covarne

SMALL_FRAMES = 256
LARGE_FRAMES = 1_000_000


def best(calls, call, rounds=9):
    """Nanoseconds per call: the best of `rounds` rounds of `calls` calls."""
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter_ns()
        for _ in range(calls):
            call()
        times.append((time.perf_counter_ns() - t0) / calls)
    return min(times)


def reference_program():
    """The C++ reference program of the bench build, or None."""
    build = os.environ.get("KIT_BENCH_BUILD", "")
    ref = os.path.join(build, "bench", "python", "covarne", "ref_covarne")
    if build and os.access(ref, os.X_OK):
        return ref
    print(f"  (no C++ reference: {ref} not built; set KIT_BENCH_BUILD)")
    return None


def reference(ref, small, large):
    if ref is None:
        return {}
    out = subprocess.run([ref, small, large, str(LARGE_FRAMES)], check=True, capture_output=True, text=True).stdout
    return {name: float(ns) for name, ns in (line.split() for line in out.splitlines())}


def overhead(folder):
    small = os.path.join(folder, "small.wav")
    large = os.path.join(folder, "large.wav")
    rng = np.random.default_rng(1)
    covarne.write(small, rng.uniform(-1, 1, SMALL_FRAMES), 48000)
    covarne.write(large, rng.uniform(-1, 1, (LARGE_FRAMES, 2)), 48000)
    w = covarne.Covarne2005()
    a256 = np.empty(SMALL_FRAMES)
    left, right = np.empty(LARGE_FRAMES), np.empty(LARGE_FRAMES)
    ref = reference_program()
    py, cpp = {}, {}
    # Python and C++ in turns, the best of each kept: the machine's load changes.
    for _ in range(3):
        for key, ns in reference(ref, small, large).items():
            cpp[key] = min(ns, cpp.get(key, ns))
        # The same rounds as ref_covarne's.
        for key, ns in {
            "GetSr": best(10000, lambda: w.GetSr(small)),
            "Load256": best(10000, lambda: w.Load(small, 0, SMALL_FRAMES, a256)),
            "LoadLarge": best(3, lambda: w.Load(large, 0, LARGE_FRAMES, left, right), rounds=15),
        }.items():
            py[key] = min(ns, py.get(key, ns))
    print("Per-call overhead (ns per call, best of 3 turns of 9 rounds; 15 for the large Load):")
    print(f"  {'call':<44}{'Python':>12}{'C++':>12}{'extra':>10}{'ratio':>8}")
    labels = {
        "GetSr": "GetSr, 256-frame file",
        "Load256": "Load 256 frames into float64",
        "LoadLarge": f"Load {LARGE_FRAMES:,} stereo frames into float64",
    }
    for key, label in labels.items():
        if key in cpp:
            print(f"  {label:<44}{py[key]:>12.0f}{cpp[key]:>12.0f}{py[key] - cpp[key]:>10.0f}{py[key] / cpp[key]:>8.2f}")
        else:
            print(f"  {label:<44}{py[key]:>12.0f}{'-':>12}")
    try:
        import soundfile
    except ImportError:
        return
    r = best(3000, lambda: covarne.read(small))
    s = best(3000, lambda: soundfile.read(small))
    print(f"  {'covarne.read / soundfile.read, 256 frames':<44}{r:>12.0f}{s:>12.0f}{'':>10}{r / s:>8.2f}")


def large_file(folder, frames):
    try:
        import soundfile
    except ImportError:
        print("soundfile not installed: covarne.read alone")
        soundfile = None
    x = np.random.default_rng(2).uniform(-1, 1, (frames, 2))
    ours = os.path.join(folder, "covarne.wav")
    theirs = os.path.join(folder, "soundfile.wav")
    covarne.write(ours, x, 48000)
    mb = os.path.getsize(ours) / 1e6
    print(f"A {mb:.0f} MB file ({frames:,} frames, 16-bit stereo), seconds, best of 3 rounds:")

    def timed(call):
        t0 = time.perf_counter()
        result = call()
        return time.perf_counter() - t0, result

    reads, sreads, writes, swrites = [], [], [], []
    for _ in range(3):
        t, (got, rate) = timed(lambda: covarne.read(ours))
        reads.append(t)
        del got
        if soundfile is not None:
            t, (ref, rate) = timed(lambda: soundfile.read(ours, dtype="float64"))
            sreads.append(t)
            del ref
        writes.append(timed(lambda: covarne.write(ours, x, 48000))[0])
        if soundfile is not None:
            swrites.append(timed(lambda: soundfile.write(theirs, x, 48000, subtype="PCM_16"))[0])
    if soundfile is not None:
        got, _ = covarne.read(ours)
        same = np.array_equal(got, soundfile.read(ours, dtype="float64")[0])
        del got
        print(f"  {'':<34}{'covarne':>10}{'soundfile':>11}{'ratio':>8}")
        print(f"  {'read (float64, (frames, 2))':<34}{min(reads):>10.3f}{min(sreads):>11.3f}"
              f"{min(reads) / min(sreads):>8.2f}   same values: {same}")
        print(f"  {'write (16-bit)':<34}{min(writes):>10.3f}{min(swrites):>11.3f}{min(writes) / min(swrites):>8.2f}")
        print(f"  read speed: covarne {mb / min(reads):.0f} MB/s, soundfile {mb / min(sreads):.0f} MB/s")
    else:
        print(f"  read {min(reads):.3f}  write {min(writes):.3f}")


def main():
    frames = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000_000
    with tempfile.TemporaryDirectory(prefix="bench_covarne") as folder:
        overhead(folder)
        large_file(folder, frames)


if __name__ == "__main__":
    main()
