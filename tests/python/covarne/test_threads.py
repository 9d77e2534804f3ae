"""The GIL is released while members run; one object serves one thread at a time."""
import threading
import time

import numpy as np
import pytest

import covarne

FRAMES = 8_000_000  # 16 MB of 16-bit samples: calls that take a while


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    path = tmp_path_factory.mktemp("big") / "big.wav"
    x = np.sin(np.arange(FRAMES) * 0.01)
    covarne.Covarne2005().Save(path, x, FRAMES, 16, 48000)
    yield path, x
    path.unlink()  # pytest keeps its last folders: no large files left in them


def ticks_during(call):
    """Steps another Python thread makes while call() runs. With the GIL held
    throughout, it makes one or two (the one under way when the call began, and
    one the interpreter's switch interval may allow); with the GIL released,
    dozens on an idle machine."""
    count = 0
    stop = threading.Event()

    def tick():
        nonlocal count
        while not stop.is_set():
            count += 1
            time.sleep(0.0002)

    t = threading.Thread(target=tick)
    t.start()
    try:
        while count == 0:
            time.sleep(0.001)
        before = count
        call()
        return count - before
    finally:
        stop.set()
        t.join()


def header(w):
    h = covarne.tagWAVEFILEHEADER2005()
    w.MakeHeader(h, FRAMES, 1, 16, 48000)
    return h


# Each prepares its arguments and gives the call.
OPERATIONS = {
    "Load": lambda w, path, x, tmp: (lambda a=np.empty(FRAMES): w.Load(path, 0, FRAMES, a)),
    "Save": lambda w, path, x, tmp: (lambda: w.Save(tmp / "copy.wav", x, FRAMES, 16, 48000)),
    "Insert": lambda w, path, x, tmp: (lambda: w.Insert(tmp / "copy.wav", 0, 1)),
    "MakeImage": lambda w, path, x, tmp: (
        lambda image=bytearray(2 * FRAMES), h=header(w): w.MakeImage(image, x, FRAMES, h)
    ),
    "read": lambda w, path, x, tmp: (lambda: covarne.read(path)),
}


@pytest.mark.parametrize("name", list(OPERATIONS))
def test_other_threads_go_on_during_a_long_call(big, tmp_path, name):
    path, x = big
    w = covarne.Covarne2005()
    w.Save(tmp_path / "copy.wav", x, FRAMES, 16, 48000)
    # A few tries: on a loaded machine one call may end before the other thread is scheduled.
    seen = [ticks_during(OPERATIONS[name](w, path, x, tmp_path)) for _ in range(3)]
    (tmp_path / "copy.wav").unlink()
    assert max(seen) >= 5, seen


def test_one_object_shared_by_threads(tmp_path):
    path = tmp_path / "m.wav"
    covarne.write(path, np.linspace(-1, 1, 1000), 8000)
    w = covarne.Covarne2005()
    values = []
    errors = []

    def work():
        try:
            for i in range(300):
                w.Mount(path)
                values.append(w.GetValue(i, 0))
                w.UnMount()
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    # Each value is a sample of the file, or 0.0 where another thread had unmounted it.
    stored = set(covarne.read(path)[0][:300]) | {0.0}
    assert set(values) <= stored
