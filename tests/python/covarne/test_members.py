"""Covarne2005's members from Python: the results the C++ gives, files read back with soundfile."""
import copy
import os
import subprocess
import sys
import wave

import numpy as np
import pytest

import covarne
from covarne_data import loaded, signal, stored


def wave_file(path, values, channels=1, bits=16, rate=8000):
    values = np.asarray(values, dtype="<i2" if bits == 16 else np.uint8)
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        w.writeframes(values.tobytes())
    return path


@pytest.fixture
def w():
    return covarne.Covarne2005()


def test_version_and_last_error(w, tmp_path):
    assert (w.GetVersion(True), w.GetVersion(False)) == ("100", "1.0")
    assert w.GetLastError() == (0, "")
    assert w.GetSr(tmp_path / "none.wav") == 0
    assert w.GetLastError() == (2, "no such file")


def test_queries_and_the_header_record(w, tmp_path):
    path = wave_file(tmp_path / "q.wav", np.arange(400), channels=2, rate=44100)
    h = covarne.tagWAVEFILEHEADER2005()
    assert bytes(h) == bytes(44)
    assert w.GetWaveInfo(path, h) == 44
    assert bytes(h) == path.read_bytes()[:44]
    assert (h.channels, h.sampleRate, h.byteRate, h.blockAlign, h.bitsPerSample, h.dataSize) == (
        2, 44100, 176400, 4, 16, 800)
    assert (w.CheckFile(path), w.GetSr(path), w.GetCh(path), w.GetBits(path), w.GetN(path)) == (844, 44100, 2, 16, 200)
    assert w.GetWaveInfo(path) == 44  # no record

    made = covarne.tagWAVEFILEHEADER2005()
    w.MakeHeader(made, 200, 2, 16, 44100)
    assert made == h and copy.copy(made) == h and made != bytes(h)
    assert (made.riffId, made.waveId, made.fmtId, made.dataId) == (0x46464952, 0x45564157, 0x20746D66, 0x61746164)
    w.ResetHeader(made)
    assert (made.channels, made.sampleRate, made.byteRate, made.blockAlign, made.dataSize, made.riffSize) == (
        1, 48000, 96000, 2, 0, 36)
    made.sampleRate = 8000  # the fields are read-write
    assert bytes(made)[24:28] == (8000).to_bytes(4, "little")
    assert "sampleRate=8000" in repr(made)
    with pytest.raises(TypeError):
        made.channels = 1 << 20  # beyond the 16-bit field

    # A failure leaves the record as it was.
    assert w.GetWaveInfo(tmp_path / "none.wav", made) == 0
    assert made.sampleRate == 8000


def test_load_as_doubles_and_as_stored_integers(w, tmp_path):
    p16 = wave_file(tmp_path / "16.wav", [0, 16384, -32768, 32767])
    d = np.full(6, 7.0)
    assert w.Load(p16, 0, 4, d) == 8
    np.testing.assert_array_equal(d, [0.0, 0.5, -1.0, 0.999969482421875, 7, 7])
    s = np.full(4, 7, np.int16)
    assert w.Load(p16, 0, 4, s) == 8
    np.testing.assert_array_equal(s, [0, 16384, -32768, 32767])

    p8 = wave_file(tmp_path / "8.wav", [0, 128, 255], bits=8)
    d = np.empty(3)
    assert w.Load(p8, 0, 3, d) == 3
    np.testing.assert_array_equal(d, [-1.0, 0.0, 0.9921875])
    s = np.full(5, 7, np.int16)
    assert w.Load(p8, 1, 5, s) == 2  # past the end: zeros, also for 8 bits
    np.testing.assert_array_equal(s, [128, 255, 0, 0, 0])

    # A one-channel file leaves `right` alone; start = N delivers nothing, touches nothing.
    left, right = np.full(4, 7.0), np.full(4, 7.0)
    assert w.Load(p16, 2, 4, left, right) == 4
    np.testing.assert_array_equal(left, [-1.0, 0.999969482421875, 0, 0])
    np.testing.assert_array_equal(right, [7, 7, 7, 7])
    assert w.Load(p16, 4, 4, left, right) == 0
    np.testing.assert_array_equal(left, [-1.0, 0.999969482421875, 0, 0])

    # Two channels; int16 arrays for both, or None for channel 0.
    p2 = wave_file(tmp_path / "2.wav", [[1, -1], [2, -2], [3, -3]], channels=2)
    l16, r16 = np.zeros(3, np.int16), np.zeros(3, np.int16)
    assert w.Load(p2, 0, 3, l16, r16) == 12
    np.testing.assert_array_equal(r16, [-1, -2, -3])
    r16[:] = 0
    assert w.Load(p2, 1, 2, None, r16) == 8
    np.testing.assert_array_equal(r16, [-2, -3, 0])


def test_mount_and_get_value(w, tmp_path):
    path = wave_file(tmp_path / "m.wav", [[0, 16384], [-16384, 8192]], channels=2)
    assert w.GetValue(0, 0) == 0.0  # nothing mounted
    assert w.Mount(path) is True
    assert [w.GetValue(1, 0), w.GetValue(1, 1), w.GetValue(0, 1), w.GetValue(0, 2)] == [-0.5, 0.25, 0.5, 0.0]
    assert w.GetValue(2, 0) == 0.0
    assert w.Mount(path) is False and w.GetLastError()[0] == 14
    # A copy has windows of its own.
    other = copy.copy(w)
    w.UnMount()
    assert w.GetValue(1, 1) == 0.0
    assert other.GetValue(1, 1) == 0.25 and covarne.Covarne2005(other).GetValue(1, 1) == 0.25
    assert w.Mount(tmp_path) is False  # a directory
    assert w.Mount(path) is True


@pytest.mark.parametrize("bits,channels", [(8, 1), (8, 2), (16, 1), (16, 2)])
def test_make_image_and_the_four_saves(w, tmp_path, sf, bits, channels):
    x = signal(50, channels)
    left, right = (x, None) if channels == 1 else (x[:, 0], x[:, 1])
    want = stored(x, bits).astype("<i2" if bits == 16 else np.uint8).tobytes()
    h = covarne.tagWAVEFILEHEADER2005()
    w.MakeHeader(h, 50, channels, bits, 8000)
    image = bytearray(b"\xee" * (len(want) + 3))
    if channels == 1:
        w.MakeImage(image, left, 50, h)
    else:
        w.MakeImage(image, left, right, 50, h)
    assert bytes(image) == want + b"\xee" * 3
    array = np.zeros(len(want), np.uint8)
    w.MakeImage(array, left, right, 50, h)
    assert array.tobytes() == want

    path = tmp_path / "s.wav"
    saves = [lambda: w.Save(path, left, right, 50, bits, 8000)]
    if channels == 1:
        saves.append(lambda: w.Save(path, left, 50, bits, 8000))
    if bits == 16:
        saves.append(lambda: w.Save(path, left, right, 50, 8000))
        if channels == 1:
            saves.append(lambda: w.Save(path, left, 50, 8000))
    for save in saves:
        path.unlink(missing_ok=True)
        save()
        assert w.GetLastError() == (0, "")
        assert path.read_bytes() == bytes(h) + want
        data, rate = sf.read(path, dtype="float64")
        np.testing.assert_array_equal(data, loaded(stored(x, bits), bits))


def test_save_overloads_are_told_apart_by_their_third_argument(w, tmp_path):
    path = tmp_path / "o.wav"
    x = np.full(4, 0.5)
    for save, channels, bits in [
        (lambda: w.Save(path, x, np.int64(4), np.int16(8), 8000), 1, 8),  # numpy integers are counts
        (lambda: w.Save(path, x, x, 4, 8000), 2, 16),
        (lambda: w.Save(path, x, [0.5] * 4, 4, 8000), 2, 16),  # a list is a channel
        (lambda: w.Save(path, x, None, 4, 8, 8000), 1, 8),
        (lambda: w.Save(path=path, samples=x, frames=4, sampleRate=8000), 1, 16),
    ]:
        save()
        assert (w.GetCh(path), w.GetBits(path), w.GetN(path)) == (channels, bits, 4)


def base_file(path, n=10, channels=1):
    """Frames of values 1..n (and -1..-n on channel 1), 16 bits."""
    v = np.arange(1, n + 1)
    return wave_file(path, v if channels == 1 else np.stack([v, -v], 1), channels=channels)


def stored_values(sf, path):
    return sf.read(path, dtype="int16")[0]


def test_appending_overwriting_and_silence(w, tmp_path, sf):
    path = base_file(tmp_path / "e.wav")
    new = np.array([100, 200, 300]) / 32760
    assert w.SaveAdd(path, new, 3, 8000, 16) == 13
    assert w.AddSilence(path, 2) == 15
    assert w.SaveOW(path, new, 14, 3, 8000, 16) == 17
    assert w.MakeSilence(path, 0, 2, 1, 8000, 16) == 17
    np.testing.assert_array_equal(
        stored_values(sf, path), [0, 0, 3, 4, 5, 6, 7, 8, 9, 10, 100, 200, 300, 0, 100, 200, 300])
    assert w.MakeSilence(path, 0, 2, 3, 8000, 16) == 3  # neither 1 nor 2 channels: nothing done
    assert w.SaveSr(path, 22050) == 8000 and sf.info(path).samplerate == 22050
    # Channels or bits that do not match the file: -1, file untouched.
    before = path.read_bytes()
    assert w.SaveAdd(path, new, new, 3, 8000, 16) == -1 and w.GetLastError()[0] == 9
    assert w.SaveOW(path, new, 0, 3, 8000, 8) == -1 and w.GetLastError()[0] == 10
    assert path.read_bytes() == before

    # Stereo: both arrays; a missing file is created.
    s = tmp_path / "s.wav"
    assert w.SaveOW(s, new, -new, 2, 3, 44100, 16) == 5
    np.testing.assert_array_equal(stored_values(sf, s), [[0, 0], [0, 0], [100, -100], [200, -200], [300, -300]])
    assert w.SaveAdd(s, new[:1], -new[:1], 1, 44100, 16) == 6


def test_insert_delete_replace_as_the_library_gives_them(w, tmp_path, sf):
    path = base_file(tmp_path / "i.wav")
    model = list(range(1, 11))
    assert w.Insert(path, 3, 2) == 12
    model[3:3] = [0, 0]
    np.testing.assert_array_equal(stored_values(sf, path), model)
    assert w.Delete(path, 2, 3) == 9
    del model[2:5]
    np.testing.assert_array_equal(stored_values(sf, path), model)
    new = np.array([100, 200, 300, 400, 500]) / 32760
    assert w.SaveRep(path, new, 2, 3, 5, 8000, 16) == 11  # grows
    model[2:5] = [100, 200, 300, 400, 500]
    np.testing.assert_array_equal(stored_values(sf, path), model)
    assert w.SaveRep(path, new, 1, 5, 2, 8000, 16) == 8  # shrinks
    model[1:6] = [100, 200]
    np.testing.assert_array_equal(stored_values(sf, path), model)
    assert w.Delete(path, 8, 1) == -1 and w.GetLastError()[0] == 12
    assert w.Insert(path, -1, 1) == -1 and w.GetLastError()[0] == 11

    s = base_file(tmp_path / "s.wav", 4, channels=2)
    assert w.SaveRep(s, new[:1], -new[:1], 1, 2, 1, 8000, 16) == 3
    np.testing.assert_array_equal(stored_values(sf, s), [[1, -1], [100, -100], [4, -4]])
    assert w.SaveRep(s, new, 0, 1, 2, 8000, 16) == -1  # one channel onto two
    assert stored_values(sf, s).shape == (3, 2)


def test_raw_bytes(w, tmp_path):
    path = wave_file(tmp_path / "r.wav", np.arange(-5, 5) * 1000)
    raw = path.read_bytes()
    assert (w.GetOffset(path), w.GetHeaderSz(path), w.GetImgSz(path)) == (44, 44, 20)
    header = bytearray(44)
    w.GetHeader(path, header)
    assert bytes(header) == raw[:44]
    image = np.full(24, 0xEE, np.uint8)
    w.GetImg(path, image, 20)
    assert image[:20].tobytes() == raw[44:] and (image[20:] == 0xEE).all()
    w.GetImg(path, memoryview(image)[:4])  # size defaults to the buffer's
    assert image[:4].tobytes() == raw[44:48]
    # Missing: sizes 0, destinations zeroed.
    missing = tmp_path / "none.wav"
    assert (w.GetOffset(missing), w.GetImgSz(missing)) == (0, 0)
    w.GetHeader(missing, header, 10)
    assert bytes(header[:10]) == bytes(10) and bytes(header[10:]) == raw[10:44]


def call(member, *args):
    return lambda w, p: getattr(w, member)(p, *args)


D4 = np.zeros(4)
STRIDED = np.zeros(8)[::2]
READ_ONLY = np.zeros(4)
READ_ONLY.flags.writeable = False
H = covarne.tagWAVEFILEHEADER2005()
covarne.Covarne2005().MakeHeader(H, 4, 1, 16, 8000)


@pytest.mark.parametrize(
    "make,error,message",
    [
        (call("Load", 0, 4, [0.0] * 4), TypeError, "left must be a numpy.ndarray of float64, not list"),
        (call("Load", 0, 4, np.zeros(4, np.float32)), TypeError, "left must have dtype float64, not float32"),
        (call("Load", 0, 4, np.zeros((2, 2))), ValueError, r"left must be 1-D, not 2-D with shape \(2, 2\)"),
        (call("Load", 0, 4, STRIDED), ValueError, "left must be contiguous"),
        (call("Load", 0, 4, READ_ONLY), ValueError, "left is read-only"),
        (call("Load", 0, 5, D4), ValueError, "left holds 4 values; 5 are needed"),
        (call("Load", 0, 4, D4, np.zeros(3)), ValueError, "right holds 3 values; 4 are needed"),
        (call("Load", 0, 4, np.zeros(4, np.int16), D4), TypeError, "right must have dtype int16, not float64"),
        (call("Load", 0, 4, None, np.zeros(2, np.int16)), ValueError, "right holds 2 values; 4 are needed"),
        (call("Save", D4, 5, 8000), ValueError, "samples holds 4 values; 5 are needed"),
        (call("Save", D4, np.zeros(2), 4, 16, 8000), ValueError, "right holds 2 values; 4 are needed"),
        (call("Save", np.zeros((4, 2)), 4, 8000), ValueError, "samples must be 1-D"),
        (call("Save", np.zeros(4, complex), 4, 8000), TypeError, "samples must hold real numbers"),
        (call("Save", D4, 4.0, 8000), TypeError, "incompatible function arguments"),
        (call("SaveAdd", D4, 5, 8000, 16), ValueError, "samples holds 4 values; 5 are needed"),
        (call("SaveOW", D4, D4[:3], 0, 4, 8000, 16), ValueError, "right holds 3 values; 4 are needed"),
        (call("SaveRep", D4, 0, 1, 6, 8000, 16), ValueError, "samples holds 4 values; 6 are needed"),
        (call("GetImg", bytearray(4), 5), ValueError, "dst holds 4 bytes; 5 are needed"),
        (call("GetHeader", b"\0" * 44), ValueError, "dst is read-only"),
        (call("GetHeader", np.zeros(44, np.int16)), TypeError, "dst must hold bytes"),
        (call("GetHeader", [0] * 44), TypeError, "dst must be a writeable buffer of bytes"),
        (call("GetHeader", np.zeros((4, 11), np.uint8)), ValueError, "dst must be 1-D"),
        (call("GetHeader", np.zeros(88, np.uint8)[::2]), ValueError, "dst must be contiguous"),
        (lambda w, p: w.MakeImage(bytearray(7), D4, 4, H), ValueError, "image holds 7 bytes; 8 are needed"),
        (lambda w, p: w.MakeImage(bytearray(8), D4[:3], 4, H), ValueError, "samples holds 3 values; 4 are needed"),
        (lambda w, p: w.MakeImage(bytes(8), D4, 4, H), ValueError, "image is read-only"),
        (lambda w, p: w.MakeImage(np.zeros(8, np.uint16), D4, 4, H), TypeError, "image must hold bytes"),
    ],
)
def test_arrays_and_counts_are_checked_before_the_call(w, tmp_path, make, error, message):
    path = wave_file(tmp_path / "a.wav", np.arange(10))
    before = path.read_bytes()
    with pytest.raises(error, match=message):
        make(w, path)
    assert path.read_bytes() == before


def test_counts_the_library_refuses_reach_it(w, tmp_path):
    # Negative counts need no room: the library answers them itself.
    path = wave_file(tmp_path / "n.wav", np.arange(10))
    assert w.Load(path, 0, -1, np.zeros(0)) == 0 and w.GetLastError()[0] == 11
    assert w.SaveOW(path, np.zeros(0), 0, -2, 8000, 16) == -1 and w.GetLastError()[0] == 11
    w.GetHeader(path, bytearray(4), -1)
    assert w.GetLastError()[0] == 11


def test_construction_keeps_the_process_locale():
    # With LANG set, the library's construction makes the user's default the
    # process locale; Python's must stay as it was.
    code = (
        "import locale, covarne\n"
        "before = locale.setlocale(locale.LC_ALL)\n"
        "covarne.Covarne2005()\n"
        "assert locale.setlocale(locale.LC_ALL) == before, (before, locale.setlocale(locale.LC_ALL))\n"
    )
    env = dict(os.environ, LANG="C.UTF-8")
    env.pop("LC_ALL", None)
    subprocess.run([sys.executable, "-c", code], env=env, check=True)
