"""The GIL is released during long calls; one object may be shared between threads."""
import threading
import time

import numpy as np
import pytest

import vornix

FS = 16000.0
N = 2**20


def longest_stall(call):
    """Runs call() on a second thread while this one counts; returns the longest
    time this thread went without a step during the call, and the call's time."""
    times = {}

    def worker():
        times["start"] = time.perf_counter()
        call()
        times["end"] = time.perf_counter()

    stamps = []
    thread = threading.Thread(target=worker)
    thread.start()
    while thread.is_alive():
        stamps.append(time.perf_counter())
    thread.join()
    start, end = times["start"], times["end"]
    inside = [s for s in stamps if start <= s <= end]
    return float(np.max(np.diff([start, *inside, end]))), end - start


# Each call takes a few tenths of a second in C++; with the GIL held this thread
# would stall for all of it.
@pytest.mark.parametrize(
    "call",
    [
        lambda: vornix.CVornix().FirFilter(np.ones(N), None, N // 2, 1000, 0, FS, 60, vornix.low_pass),
        lambda: vornix.fir_filter(np.ones(N), N // 2, 1000, fs=FS, att=60),
        lambda: vornix.CVornix().GetFirCoef(np.zeros(N + 1), N, 1000, 0, FS, 60, vornix.low_pass),
    ],
    ids=["FirFilter", "fir_filter", "GetFirCoef"],
)
def test_other_threads_run_during_a_long_call(call):
    stall, duration = longest_stall(call)
    assert stall < duration / 2, f"this thread stalled {stall:.3f} s of a {duration:.3f} s call"


def test_one_object_shared_by_threads():
    v = vornix.CVornix()
    rng = np.random.default_rng(4)
    inputs = [rng.standard_normal(65536) for _ in range(2)]
    wants = [np.fft.fft(x) for x in inputs]
    errors = []

    def run(k):
        for _ in range(20):
            re, im = inputs[k].copy(), np.zeros(65536)
            v.Fft(re, im)
            errors.append(np.max(np.abs(re + 1j * im - wants[k])))

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(errors) == 40 and max(errors) < 1e-9


def test_functions_on_many_threads():
    rng = np.random.default_rng(6)
    inputs = [rng.standard_normal(4096) for _ in range(4)]
    results = {}

    def run(k):
        results[k] = [vornix.fft(inputs[k]) for _ in range(50)]

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(4):
        for X in results[k]:
            np.testing.assert_allclose(X, np.fft.fft(inputs[k]), atol=1e-9)
