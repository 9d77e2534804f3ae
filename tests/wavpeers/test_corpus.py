"""WAV files written by other programs, edited by the library, read back by a peer.

The corpus is made at test time by ffmpeg, sox, libsndfile (through soundfile),
Python's wave module, and by cutting files inside a frame. Every edit runs on a
fresh copy of each file; the peer named by $READER (sox, ffmpeg or soundfile) then
must read every frame at its place, and the chunks must still be there with a
true RIFF size, data size, fact count and cue points. A missing program skips
what needs it.
"""
import os
import shutil
import struct
import subprocess
import wave

import numpy as np
import pytest

WAVEDIT = os.environ.get("WAVEDIT", "wavedit")
READER = os.environ.get("READER", "soundfile")

try:
    import soundfile
except ImportError:  # the corpus files it writes and its reads are skipped
    soundfile = None

RATE = 8000
FRAMES = 400


def have(tool):
    return shutil.which(tool) is not None


def run(*args, **kw):
    return subprocess.run(list(args), check=True, capture_output=True, **kw)


def signal(channels, scale=12000):
    t = np.arange(FRAMES)
    x = np.stack([(scale * np.sin(2 * np.pi * (440 + 110 * c) * t / RATE)).astype(np.int16)
                  for c in range(channels)], axis=1)
    return x


# ---- the corpus: name -> (maker, what it needs) ----

def ffmpeg(path, *options, pipe=False):
    args = ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"sine=f=440:d=0.05:r={RATE}", "-ac", "2",
            "-c:a", "pcm_s16le", *options]
    if pipe:
        with open(path, "wb") as f:
            subprocess.run(args + ["-f", "wav", "-"], check=True, stdout=f, stderr=subprocess.PIPE)
    else:
        run(*args, path)


def sox(path, *options, pipe=False):
    args = ["sox", "-n", "-r", str(RATE), *options]
    if pipe:
        with open(path, "wb") as f:
            subprocess.run(args + ["-t", "wav", "-", "synth", "0.05", "sine", "440"], check=True, stdout=f,
                           stderr=subprocess.PIPE)
    else:
        run(*args, path, "synth", "0.05", "sine", "440")


def append_chunk(path, cid, body):
    with open(path, "r+b") as f:
        data = f.read()
        if len(data) % 2:
            data += b"\0"
        data += cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
        data = data[:4] + struct.pack("<I", len(data) - 8) + data[8:]
        f.seek(0)
        f.write(data)


def cue_body(points):
    body = struct.pack("<I", len(points))
    for i, p in enumerate(points):
        body += struct.pack("<II4sIII", i + 1, p, b"data", 0, 0, p)
    return body


def libsndfile(path, subtype="PCM_16", fmt="WAV", tags=None, cue=None, channels=2):
    with soundfile.SoundFile(path, "w", RATE, channels, subtype, format=fmt) as f:
        if tags == "before":
            f.title = "tags before the samples"
        f.write(signal(channels))
        if tags == "after":
            f.title = "tags after the samples"
    if cue:
        append_chunk(path, b"cue ", cue_body(cue))


def python_wave(path):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)
        w.setframerate(RATE)
        w.writeframes(bytes((i * 7) % 256 for i in range(FRAMES + 1)))  # odd: no pad byte


def cut(path, extra):
    sox(path + ".full.wav", "-c", "2", "-b", "16")
    with open(path + ".full.wav", "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data[:44 + 4 * 300 + extra])
    os.remove(path + ".full.wav")


CORPUS = {
    "ffmpeg_list.wav": (lambda p: ffmpeg(p), "ffmpeg"),
    "ffmpeg_rf64_junk.wav": (lambda p: ffmpeg(p, "-rf64", "auto"), "ffmpeg"),
    "ffmpeg_bext.wav": (lambda p: ffmpeg(p, "-write_bext", "1", "-metadata", "description=take 1"), "ffmpeg"),
    "ffmpeg_levl.wav": (lambda p: ffmpeg(p, "-write_peak", "on"), "ffmpeg"),
    "ffmpeg_pipe.wav": (lambda p: ffmpeg(p, pipe=True), "ffmpeg"),
    "sox_8bit.wav": (lambda p: sox(p, "-c", "1", "-b", "8"), "sox"),
    "sox_16bit.wav": (lambda p: sox(p, "-c", "2", "-b", "16"), "sox"),
    "sox_extensible_fact.wav": (lambda p: sox(p, "-c", "3", "-b", "16"), "sox"),
    "sox_pipe.wav": (lambda p: sox(p, "-c", "2", "-b", "16", pipe=True), "sox"),
    "sndfile_tags_before.wav": (lambda p: libsndfile(p, tags="before"), "soundfile"),
    "sndfile_tags_after.wav": (lambda p: libsndfile(p, tags="after"), "soundfile"),
    "sndfile_cue.wav": (lambda p: libsndfile(p, tags="after", cue=[20, 100, 399]), "soundfile"),
    "sndfile_wavex_u8.wav": (lambda p: libsndfile(p, "PCM_U8", "WAVEX", channels=1), "soundfile"),
    "wave_odd.wav": (python_wave, None),
    "cut_1.wav": (lambda p: cut(p, 1), "sox"),
    "cut_3.wav": (lambda p: cut(p, 3), "sox"),
}


def available(need):
    if need == "soundfile":
        return soundfile is not None
    return need is None or have(need)


@pytest.fixture(scope="session")
def corpus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("corpus")
    made = {}
    for name, (make, need) in CORPUS.items():
        if available(need):
            make(str(folder / name))
            made[name] = str(folder / name)
    return made


# ---- reading ----

def read_all(paths, channels):
    """Each file's frames as 16-bit integers (8-bit samples become (b - 128) * 256)."""
    if READER == "soundfile":
        return [soundfile.read(p, dtype="int16", always_2d=True)[0] for p in paths]
    if READER == "sox":
        raws = [run("sox", "-V1", p, "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", "-").stdout
                for p in paths]
    else:  # one ffmpeg for all of them: it takes a while to start
        args = ["ffmpeg", "-v", "error"]
        for p in paths:
            args += ["-i", p]
        for i, p in enumerate(paths):
            args += ["-map", f"{i}:a", "-f", "s16le", "-c:a", "pcm_s16le", "-y", p + ".raw"]
        run(*args)
        raws = []
        for p in paths:
            with open(p + ".raw", "rb") as f:
                raws.append(f.read())
    return [np.frombuffer(r, dtype="<i2").reshape(-1, channels) for r in raws]


def chunks(path):
    """(id, size, body) of every chunk from offset 12, walked with pad bytes."""
    with open(path, "rb") as f:
        b = f.read()
    out, at = [], 12
    while at + 8 <= len(b):
        cid, size = b[at:at + 4], struct.unpack("<I", b[at + 4:at + 8])[0]
        out.append((cid, size, b[at + 8:at + 8 + size]))
        at += 8 + size + (size & 1)
    return b, out


def info(path):
    return [int(v) for v in run(WAVEDIT, path, "info").stdout.split()]


# ---- the edits: (arguments, model of the frames afterwards, cue shift) ----

def edits(n):
    return {
        "saveadd": (["saveadd", "100"], lambda f, new, sil: np.concatenate([f, new(100)]), None),
        "addsilence": (["addsilence", "100"], lambda f, new, sil: np.concatenate([f, sil(100)]), None),
        "saveow": (["saveow", str(n - 5), "10"], lambda f, new, sil: np.concatenate([f[:n - 5], new(10)]), None),
        "makesilence": (["makesilence", "10", "20"],
                        lambda f, new, sil: np.concatenate([f[:10], sil(20), f[30:]]), None),
        "insert": (["insert", "10", "50"], lambda f, new, sil: np.concatenate([f[:10], sil(50), f[10:]]),
                   (10, 50)),
        "delete": (["delete", "10", "50"], lambda f, new, sil: np.concatenate([f[:10], f[60:]]), (10, -50)),
        "saverep_longer": (["saverep", "10", "5", "50"],
                           lambda f, new, sil: np.concatenate([f[:10], new(50), f[15:]]), (10, 45)),
        "saverep_shorter": (["saverep", "10", "50", "5"],
                            lambda f, new, sil: np.concatenate([f[:10], new(5), f[60:]]), (10, -45)),
    }


# Edits that convert samples need 1 or 2 channels of 8 or 16 bits; the others move bytes.
FORMAT_FREE = {"addsilence", "insert", "delete"}


def moved(p, shift):
    at, d = shift
    if d > 0:
        return p + d if p >= at else p
    if p >= at - d:
        return p + d
    return at if p >= at else p


@pytest.mark.parametrize("name", list(CORPUS))
def test_every_edit_read_back(corpus, tmp_path, name):
    if READER == "soundfile" and soundfile is None:
        pytest.skip("python3-soundfile is not installed")
    if READER != "soundfile" and not have(READER):
        pytest.skip(f"{READER} is not installed")
    if name not in corpus:
        pytest.skip(f"{CORPUS[name][1]} is not installed")
    source = str(tmp_path / name)
    shutil.copy(corpus[name], source)
    n, channels, bits, _ = info(source)
    assert n >= 300
    convertible = channels in (1, 2) and bits in (8, 16)
    edited = {}
    for edit, (args, model, shift) in edits(n).items():
        path = str(tmp_path / (edit + "_" + name))
        shutil.copy(source, path)
        result = subprocess.run([WAVEDIT, path, *args], capture_output=True, text=True)
        if edit not in FORMAT_FREE and not convertible:
            # Samples it cannot convert: refused with the reason (MakeSilence answers with
            # the channel count), the file untouched.
            if edit == "makesilence":
                assert result.stdout.strip() == str(channels)
            else:
                assert result.returncode == 1 and "channels" in result.stderr
            with open(path, "rb") as a, open(source, "rb") as b:
                assert a.read() == b.read()
            continue
        assert result.returncode == 0, result.stderr
        edited[edit] = (path, int(result.stdout))
    reads = read_all([source] + [p for p, _ in edited.values()], channels)
    original = reads[0][:n]
    assert len(original) == n, "the peer reads as many frames as the library"
    before = chunks(source)[1]
    for (edit, (path, frames)), after in zip(edited.items(), reads[1:]):
        check(name, edit, path, frames, after, original, before, channels, bits, n)


def check(name, edit, path, frames, after, original, before, channels, bits, n):
    _, model, shift = edits(n)[edit]
    value = 8190 if bits == 16 else (31 << 8)  # 0.25 as written, as the peer reads it
    silence = 0 if bits != 8 else -32768       # zero bytes
    new = lambda k: np.full((k, channels), value, dtype=np.int16)
    sil = lambda k: np.full((k, channels), silence, dtype=np.int16)
    expected = model(original, new, sil)
    assert frames == len(expected), edit
    assert after.shape == expected.shape
    assert np.array_equal(after, expected), \
        f"{edit}: first difference at frame {np.argmax((after != expected).any(axis=1))}"

    data, found = chunks(path)
    assert struct.unpack("<I", data[4:8])[0] == len(data) - 8
    align = channels * bits // 8
    ids = [c[0] for c in found]
    assert b"data" in ids
    for cid, size, body in found:
        if cid == b"data":
            assert size == frames * align
        elif cid == b"fact":
            assert struct.unpack("<I", body[:4])[0] == frames
        elif cid == b"cue ":
            old = [c for c in before if c[0] == b"cue "][0][2]
            count = struct.unpack("<I", body[:4])[0]
            for i in range(count):
                p_old = struct.unpack("<I", old[4 + 24 * i + 20:4 + 24 * i + 24])[0]
                p_new = struct.unpack("<I", body[4 + 24 * i + 20:4 + 24 * i + 24])[0]
                assert p_new == (moved(p_old, shift) if shift else p_old)
    # Every other chunk is kept byte for byte, in its order. (The walk of a file cut
    # short, or with a pipe's placeholder sizes, ends at its data chunk.)
    def others(cs, upto_data=False):
        if upto_data:
            cs = cs[:[c[0] for c in cs].index(b"data")] if b"data" in [c[0] for c in cs] else cs
        return [(c[0], c[2]) for c in cs if c[0] not in (b"data", b"fact", b"cue ")]
    whole = not name.startswith("cut") and not name.endswith("pipe.wav")
    assert others(found, not whole) == others(before, not whole)
