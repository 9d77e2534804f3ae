#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_wav_edit into corpus/wav_edit/.

A seed is 8 control bytes (flags, start, counts: see fuzz_wav_edit.cpp) and then
a small WAV file of the kinds the WAV tests build: canonical 8- and 16-bit files,
a fact chunk, an 18-byte fmt body, LIST before the data, a trailing chunk, a data
size beyond the file, a partial last frame. The files are committed; run this
again only to change them.
"""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "wav_edit")


def chunk(cid, body, size=None):
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body) if size is None else size) + body + pad


def fmt(channels=1, bits=16, rate=8000, size=16):
    align = channels * bits // 8
    body = struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits)
    return body + b"\0" * (size - 16)


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def pcm16(n, channels=1):
    return struct.pack("<%dh" % (n * channels), *[(i * 1237) % 30000 - 15000 for i in range(n * channels)])


def ctl(flags, start, count, count2, count3, new):
    return bytes([flags, 0]) + struct.pack("<H", start) + bytes([count, count2, count3, new])


SEEDS = {
    "mono16": (ctl(0, 3, 2, 5, 1, 4), riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm16(10)))),
    "stereo16": (ctl(0, 5, 3, 0, 7, 1), riff(chunk(b"fmt ", fmt(2)), chunk(b"data", pcm16(12, 2)))),
    "mono8_odd": (ctl(0, 2, 1, 4, 2, 6), riff(chunk(b"fmt ", fmt(1, 8)), chunk(b"data", bytes(range(100, 109))))),
    "stereo8": (ctl(0, 0, 4, 2, 9, 3), riff(chunk(b"fmt ", fmt(2, 8)), chunk(b"data", bytes(range(60, 80))))),
    "fact": (ctl(0, 1, 2, 3, 4, 5),
             riff(chunk(b"fmt ", fmt()), chunk(b"fact", struct.pack("<I", 6)), chunk(b"data", pcm16(6)))),
    "fmt18": (ctl(0, 4, 6, 1, 2, 0), riff(chunk(b"fmt ", fmt(size=18)), chunk(b"data", pcm16(8)))),
    "list": (ctl(0, 2, 3, 3, 3, 1),
             riff(chunk(b"fmt ", fmt()), chunk(b"LIST", b"INFOISFT\x05\0\0\0kit\0\0\0"), chunk(b"data", pcm16(9)))),
    "trailing": (ctl(0, 1, 0, 2, 3, 2),
                 riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm16(7)), chunk(b"LIST", b"INFOjunk"))),
    "beyond": (ctl(0, 6, 2, 1, 0, 8),
               riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm16(8), size=1000))),
    "partial": (ctl(0, 2, 5, 0, 1, 2), riff(chunk(b"fmt ", fmt(2)), chunk(b"data", pcm16(5, 2) + b"\1\2\3"))),
    "missing": (ctl(0x0F, 2, 3, 1, 4, 2), b""),
    "mismatch": (ctl(0xF0, 2, 3, 3, 1, 5), riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm16(10)))),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (control, body) in SEEDS.items():
        with open(os.path.join(OUT, name + ".bin"), "wb") as f:
            f.write(control + body)


if __name__ == "__main__":
    main()
