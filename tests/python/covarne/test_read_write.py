"""covarne.read and covarne.write beside soundfile and Python's wave, on the same data."""
import errno
import os
import pathlib
import wave

import numpy as np
import pytest

import covarne
from covarne_data import loaded, signal, stored

FORMATS = [(8, 1), (8, 2), (16, 1), (16, 2)]


def peer_values(frames, channels, bits, seed=2):
    """Stored values over the whole range, (frames,) or (frames, channels)."""
    rng = np.random.default_rng(seed)
    shape = (frames,) if channels == 1 else (frames, channels)
    if bits == 16:
        v = rng.integers(-32768, 32768, shape).astype("<i2")
        v.flat[:2] = [-32768, 32767]
    else:
        v = rng.integers(0, 256, shape).astype(np.uint8)
        v.flat[:2] = [0, 255]
    return v


def wave_write(path, values, channels, bits, rate):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        w.writeframes(values.tobytes())


@pytest.mark.parametrize("bits,channels", FORMATS)
def test_written_file_reads_the_same_in_wave_and_soundfile(tmp_path, sf, bits, channels):
    path = tmp_path / "a.wav"
    x = signal(1000, channels)
    covarne.write(path, x, 22050, bits)
    want = stored(x, bits)
    with wave.open(str(path)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (channels, bits // 8, 22050, 1000)
        assert w.readframes(1000) == want.astype("<i2" if bits == 16 else np.uint8).tobytes()
    data, rate = sf.read(path, dtype="float64")
    assert rate == 22050
    np.testing.assert_array_equal(data, loaded(want, bits))
    got, rate = covarne.read(path)
    assert rate == 22050 and got.shape == data.shape
    np.testing.assert_array_equal(got, data)


@pytest.mark.parametrize("writer", ["wave", "soundfile"])
@pytest.mark.parametrize("bits,channels", FORMATS)
def test_reads_files_written_by_peers(tmp_path, sf, writer, bits, channels):
    path = tmp_path / "peer.wav"
    values = peer_values(777, channels, bits)
    if writer == "wave":
        wave_write(path, values, channels, bits, 11025)
    elif bits == 16:
        sf.write(path, values, 11025, subtype="PCM_16")
    else:  # libsndfile stores the high byte of 16-bit values, offset to unsigned
        sf.write(path, ((values.astype(np.int16) - 128) * 256), 11025, subtype="PCM_U8")
    got, rate = covarne.read(path)
    assert rate == 11025
    assert got.dtype == np.float64 and got.shape == values.shape and got.flags.c_contiguous
    np.testing.assert_array_equal(got, loaded(values, bits))
    np.testing.assert_array_equal(got, sf.read(path, dtype="float64")[0])


@pytest.mark.parametrize("channels", [1, 2])
def test_read_gives_what_load_gives_over_any_range(tmp_path, channels):
    # Long enough for a stereo read to take several loads.
    path = tmp_path / "long.wav"
    n = 70001
    covarne.write(path, signal(n, channels), 8000)
    w = covarne.Covarne2005()
    left, right = np.empty(n), np.empty(n)
    assert w.Load(path, 0, n, left, right) == n * 2 * channels
    full = left if channels == 1 else np.stack([left, right], axis=1)
    for start, frames, want in [
        (0, None, full),
        (5, 65536, full[5:65541]),
        (69990, 50, full[69990:]),
        (n, None, full[:0]),
        (n + 10, 3, full[:0]),
        (7, 0, full[:0]),
    ]:
        got, rate = covarne.read(path, start, frames)
        assert rate == 8000 and got.shape == want.shape
        np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize(
    "samples",
    [
        [0.5, -0.5, 1.0, -1.0],
        np.array([0.5, -0.5, 1.0, -1.0], dtype=np.float32),
        np.array([0, 1, -1, 2]),  # integers are numbers in the library's scale too
        np.array([[0.5], [-0.5], [1.0], [-1.0]]),  # (frames, 1): one channel
        np.array([0.5, 9, -0.5, 9, 1.0, 9, -1.0, 9])[::2],  # a strided view
        [],
    ],
    ids=["list", "float32", "int", "column", "strided", "empty"],
)
def test_write_takes_array_likes_of_one_channel(tmp_path, samples):
    path = tmp_path / "m.wav"
    covarne.write(path, samples, 16000)
    got, _ = covarne.read(path)
    want = np.asarray(samples, dtype=np.float64).reshape(-1)
    assert got.shape == want.shape
    np.testing.assert_array_equal(got, loaded(stored(want, 16), 16))


def test_write_takes_a_fortran_ordered_stereo_array(tmp_path):
    x = np.asfortranarray(signal(300, 2))
    covarne.write(tmp_path / "f.wav", x, 16000, 8)
    got, _ = covarne.read(tmp_path / "f.wav")
    np.testing.assert_array_equal(got, loaded(stored(x, 8), 8))


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path], ids=["str", "bytes", "Path"])
def test_paths_as_str_bytes_and_pathlike(tmp_path, kind):
    # A name outside ASCII: the wide and the narrow members must meet the same file.
    path = kind(tmp_path / "ünï.wav")
    covarne.write(path, [0.25, -0.25], 44100)
    assert covarne.read(path)[1] == 44100
    w = covarne.Covarne2005()
    assert (w.GetSr(path), w.GetOffset(path), w.Insert(path, 1, 1)) == (44100, 44, 3)
    np.testing.assert_array_equal(covarne.read(path)[0], loaded(stored([0.25, 0, -0.25], 16), 16))


def test_path_with_a_nul_or_of_another_type_is_refused(tmp_path):
    with pytest.raises(ValueError, match="NUL"):
        covarne.read(str(tmp_path) + "/a\0b.wav")
    with pytest.raises(TypeError):
        covarne.read(3)
    with pytest.raises(TypeError):
        covarne.Covarne2005().GetOffset(3.5)


def make_case(tmp_path, sf, kind):
    path = tmp_path / "x.wav"
    if kind == "missing":
        return path
    if kind == "directory":
        return tmp_path
    if kind == "text":
        path.write_text("not a wave file, only some text that runs past forty-four bytes\n")
    elif kind == "float":
        sf.write(path, np.zeros(10), 8000, subtype="FLOAT")
    elif kind == "24-bit":
        sf.write(path, np.zeros(10), 8000, subtype="PCM_24")
    elif kind == "4 channels":
        wave_write(path, np.zeros((10, 4), "<i2"), 4, 16, 8000)
    return path


@pytest.mark.parametrize(
    "kind,code,number",
    [
        ("missing", 2, errno.ENOENT),
        ("directory", 3, errno.EISDIR),
        ("text", 4, None),
        ("float", 5, None),
        ("24-bit", 8, None),
        ("4 channels", 9, None),
    ],
)
def test_read_failure_raises_error_with_the_library_code_and_text(tmp_path, sf, kind, code, number):
    path = make_case(tmp_path, sf, kind)
    with pytest.raises(covarne.Error) as caught:
        covarne.read(path)
    e = caught.value
    assert isinstance(e, OSError)
    assert (e.code, e.errno, e.filename) == (code, number, os.fspath(path))
    assert str(e) == f"{e.strerror}: {os.fspath(path)!r}"
    if kind != "4 channels":  # Load itself reads channel 0 of such a file
        w = covarne.Covarne2005()
        assert w.Load(path, 0, 1, np.empty(1)) == 0
        assert w.GetLastError() == (code, e.strerror)


def test_write_failure_raises_error(tmp_path):
    with pytest.raises(covarne.Error) as caught:
        covarne.write(tmp_path, [0.0], 8000)
    assert (caught.value.code, caught.value.errno) == (3, errno.EISDIR)
    # A system error: the errno is taken from the system's text.
    with pytest.raises(covarne.Error) as caught:
        covarne.write(tmp_path / "no" / "such.wav", [0.0], 8000)
    assert (caught.value.code, caught.value.errno) == (16, errno.ENOENT)
    assert caught.value.strerror.startswith("cannot open the file: ")


@pytest.mark.parametrize(
    "samples,rate,bits,error",
    [
        (np.zeros(4, complex), 8000, 16, TypeError),
        (["a", "b"], 8000, 16, TypeError),
        (np.zeros((4, 3)), 8000, 16, ValueError),
        (np.zeros((2, 2, 2)), 8000, 16, ValueError),
        (np.zeros(4), 0, 16, ValueError),
        (np.zeros(4), 8000.0, 16, TypeError),
        (np.zeros(4), 8000, 24, ValueError),
        (np.zeros(4), 8000, 16.0, TypeError),
    ],
    ids=["complex", "strings", "3 columns", "3-D", "rate 0", "float rate", "24 bits", "float bits"],
)
def test_write_refuses_arguments_it_does_not_take(tmp_path, samples, rate, bits, error):
    with pytest.raises(error):
        covarne.write(tmp_path / "w.wav", samples, rate, bits)
    assert not (tmp_path / "w.wav").exists()


@pytest.mark.parametrize("start,frames", [(-1, None), (0, -1), (1.5, None), (0, "2")])
def test_read_refuses_a_bad_range(tmp_path, start, frames):
    covarne.write(tmp_path / "r.wav", [0.0], 8000)
    with pytest.raises((ValueError, TypeError)):
        covarne.read(tmp_path / "r.wav", start, frames)


def test_error_pickles_with_its_code():
    import pickle

    e = pickle.loads(pickle.dumps(covarne.Error(2, "no such file", "a.wav")))
    assert (type(e), e.code, e.errno, e.strerror, e.filename) == (covarne.Error, 2, errno.ENOENT, "no such file", "a.wav")
