"""The vornix module against the C++ calls it wraps, numpy.fft and scipy.fft.

1. Per-call cost of the module over C++: CVornix.Fft (a forward and an inverse
   transform a step, so that the values keep their size) and CVornix.Normalize
   on 64, 1024 and 65536 points, from Python here and from C++ in ref_vornix
   (built beside the benchmarks; $KIT_BENCH_BUILD/bench/python/vornix).
2. vornix.fft beside numpy.fft.fft and scipy.fft.fft on the same data, complex
   and real input, N = 64 ... 65536; twice: with glibc's malloc as a process
   has it, then with its thresholds fixed (mallopt) so that the memory the
   calls free is kept for the next call instead of being handed back to the
   system and faulted in again: numpy's and scipy's temporaries pay for that
   from 16384 or 32768 points on, depending on what the process did before.
3. What the copies around the engine cost: vornix.fft against CVornix.Fft in
   place on split arrays made once (no copies), and against the same split
   done with numpy around CVornix.Fft.

Timing: the contenders of a table run in turns, one batch each per round, so
that a busy machine slows all alike; a figure is the median over the rounds,
and a ratio the median of the rounds' ratios.
"""
import ctypes
import os
import subprocess
import sys
import time

import numpy as np

import vornix

try:
    import scipy.fft as scipy_fft
except ImportError:  # the table then has no scipy column
    scipy_fft = None

ROUNDS = 21
SIZES = [2**p for p in range(6, 17)]


def batch_size(call, seconds=0.002):
    per = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(per):
            call()
        if time.perf_counter() - t0 > seconds:
            return per
        per *= 2


def race(contenders):
    """contenders: {name: call}. Returns {name: [ns per call, one a round]}."""
    per = min(batch_size(c) for c in contenders.values())
    times = {name: [] for name in contenders}
    for _ in range(ROUNDS):
        for name, call in contenders.items():
            t0 = time.perf_counter_ns()
            for _ in range(per):
                call()
            times[name].append((time.perf_counter_ns() - t0) / per)
    return times


def median(values):
    return float(np.median(values))


def ratio(times, name, over):
    return median(np.array(times[name]) / np.array(times[over]))


def cpp_reference():
    build = os.environ.get("KIT_BENCH_BUILD", "")
    ref = os.path.join(build, "bench", "python", "vornix", "ref_vornix")
    if not build or not os.access(ref, os.X_OK):
        return None
    out = subprocess.run([ref], check=True, capture_output=True, text=True).stdout
    return {(member, int(n)): float(ns) for member, n, ns in (line.split() for line in out.splitlines())}


def overhead():
    print("\n1. Per-call cost over C++ (ns per call; Fft: the mean of a forward and an inverse transform)")
    ref = cpp_reference()
    if ref is None:
        print("   skipped: ref_vornix not found (set KIT_BENCH_BUILD to the benchmark build folder)")
        return
    print(f"   {'member':<10} {'n':>6} {'C++':>10} {'Python':>10} {'overhead':>10} {'ratio':>7}")
    v = vornix.CVornix()
    rng = np.random.default_rng(1)
    for n in (64, 1024, 65536):
        re, im = rng.uniform(-1, 1, n), rng.uniform(-1, 1, n)
        x = re.copy()

        def fft_pair():
            v.Fft(re, im, n, True)
            v.Fft(re, im, n, False)

        times = race({"Fft": fft_pair, "Normalize": lambda: v.Normalize(x, n)})
        for member, factor in (("Fft", 0.5), ("Normalize", 1.0)):
            py, cpp = median(times[member]) * factor, ref[(member, n)]
            print(f"   {member:<10} {n:>6} {cpp:>10.0f} {py:>10.0f} {py - cpp:>10.0f} {py / cpp:>7.2f}")


def keep_freed_memory():
    """Fixes glibc's mmap and trim thresholds at 256 MB; False where there is no glibc."""
    try:
        libc = ctypes.CDLL("libc.so.6")
    except OSError:
        return False
    M_TRIM_THRESHOLD, M_MMAP_THRESHOLD = -1, -3
    return bool(libc.mallopt(M_TRIM_THRESHOLD, 256 << 20)) and bool(libc.mallopt(M_MMAP_THRESHOLD, 256 << 20))


def peers(label):
    print(f"\n2. vornix.fft beside numpy.fft.fft and scipy.fft.fft, {label} (us per call; ratios: vornix over peer)")
    for kind in ("complex128", "float64"):
        head = f"   {'N':>6} {'vornix':>9} {'numpy':>9}" + (f" {'scipy':>9}" if scipy_fft else "")
        head += f" {'v/numpy':>8}" + (f" {'v/scipy':>8}" if scipy_fft else "")
        print(f"   input {kind}\n{head}")
        rng = np.random.default_rng(2)
        for n in SIZES:
            x = rng.uniform(-1, 1, n)
            if kind == "complex128":
                x = x + 1j * rng.uniform(-1, 1, n)
            calls = {"vornix": lambda: vornix.fft(x), "numpy": lambda: np.fft.fft(x)}
            if scipy_fft:
                calls["scipy"] = lambda: scipy_fft.fft(x)
            times = race(calls)
            line = f"   {n:>6}" + "".join(f" {median(times[c]) / 1000:>9.2f}" for c in calls)
            line += "".join(f" {ratio(times, 'vornix', c):>8.2f}" for c in calls if c != "vornix")
            print(line)


def copies():
    print("\n3. The copies around the engine, complex128 input (us per call; ratios over CVornix.Fft in place)")
    print(f"   {'N':>6} {'in place':>9} {'vornix.fft':>11} {'numpy split':>12} {'fft/in place':>13} {'split/fft':>10}")
    v = vornix.CVornix()
    rng = np.random.default_rng(3)
    for n in SIZES:
        x = rng.uniform(-1, 1, n) + 1j * rng.uniform(-1, 1, n)
        re, im = x.real.copy(), x.imag.copy()

        def in_place():
            v.Fft(re, im, n, True)
            v.Fft(re, im, n, False)

        def numpy_split():
            r, i = x.real.copy(), x.imag.copy()
            v.Fft(r, i, n, True)
            out = np.empty(n, np.complex128)
            out.real, out.imag = r, i
            return out

        times = race({"in place": in_place, "fft": lambda: vornix.fft(x), "split": numpy_split})
        times["in place"] = [t / 2 for t in times["in place"]]
        print(
            f"   {n:>6} {median(times['in place']) / 1000:>9.2f} {median(times['fft']) / 1000:>11.2f}"
            f" {median(times['split']) / 1000:>12.2f} {ratio(times, 'fft', 'in place'):>13.2f}"
            f" {ratio(times, 'split', 'fft'):>10.2f}"
        )


def main():
    print(f"vornix module benchmark: Python {sys.version.split()[0]}, numpy {np.__version__}", end="")
    if scipy_fft:
        import scipy

        print(f", scipy {scipy.__version__}", end="")
    print(f"; median of {ROUNDS} rounds")
    overhead()
    peers("malloc as it comes")
    if keep_freed_memory():
        peers("malloc keeping freed memory")
    copies()


if __name__ == "__main__":
    main()
