#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_wav_read into corpus/wav_read/.

Each seed is a small WAV file, or a near miss, that leads the reader down one
of its paths: the canonical layout, the odd fmt sizes, a fact chunk, chunks
before the data that need a walk, sizes that lie. The files are committed;
run this again only to change them.
"""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "wav_read")


def chunk(cid, body, size=None):
    return cid + struct.pack("<I", len(body) if size is None else size) + body


def fmt(tag=1, channels=1, rate=8000, bits=16, align=None, extra=b""):
    if align is None:
        align = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra


def riff(*chunks, size=None, form=b"WAVE", magic=b"RIFF"):
    body = form + b"".join(chunks)
    return magic + struct.pack("<I", len(body) if size is None else size) + body


def pcm16(*values):
    return struct.pack("<%dh" % len(values), *values)


def extensible(subformat_tag):
    guid_tail = b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
    ext = struct.pack("<HHI", 22, 16, 3) + struct.pack("<H", subformat_tag) + guid_tail
    return fmt(tag=0xFFFE, channels=2, bits=16, extra=ext)


def seeds():
    mono = pcm16(0, 16384, -32768, 32767, -1, 1, 100, -100)
    stereo = pcm16(1, -1, 2, -2, 3, -3, 4, -4)
    return {
        "canonical_16bit_mono.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono)),
        "canonical_16bit_stereo.wav": riff(chunk(b"fmt ", fmt(channels=2)),
                                           chunk(b"data", stereo)),
        "canonical_8bit_mono.wav": riff(chunk(b"fmt ", fmt(bits=8)),
                                        chunk(b"data", bytes([0, 128, 255, 1, 127]))),
        "canonical_8bit_stereo.wav": riff(chunk(b"fmt ", fmt(channels=2, bits=8)),
                                          chunk(b"data", bytes([0, 255, 128, 128, 10, 250]))),
        "empty_data.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", b"")),
        "fmt18.wav": riff(chunk(b"fmt ", fmt(extra=b"\x00\x00")), chunk(b"data", mono)),
        "fmt17_unpadded.wav": riff(chunk(b"fmt ", fmt(extra=b"\x00")), chunk(b"data", mono)),
        "fact.wav": riff(chunk(b"fmt ", fmt()), chunk(b"fact", struct.pack("<I", 8)),
                         chunk(b"data", mono)),
        "fact_size0.wav": riff(chunk(b"fmt ", fmt()), chunk(b"fact", b""), chunk(b"data", mono)),
        "list_before_data.wav": riff(chunk(b"fmt ", fmt()),
                                     chunk(b"LIST", b"INFOISFT\x05\x00\x00\x00kit\x00\x00\x00"),
                                     chunk(b"data", mono)),
        "junk_before_fmt.wav": riff(chunk(b"JUNK", b"\x00" * 7 + b"\x00"), chunk(b"fmt ", fmt()),
                                    chunk(b"data", mono)),
        "odd_chunk_padded.wav": riff(chunk(b"fmt ", fmt()), chunk(b"abcd", b"xyz") + b"\x00",
                                     chunk(b"data", mono)),
        "trailing_chunk.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono),
                                   chunk(b"LIST", b"INFO")),
        "data_beyond_file.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono, size=1000)),
        "data_ffffffff.wav": riff(chunk(b"fmt ", fmt(channels=2)),
                                  chunk(b"data", stereo, size=0xFFFFFFFF), size=0xFFFFFFFF),
        "data_partial_frame.wav": riff(chunk(b"fmt ", fmt(channels=2)),
                                       chunk(b"data", stereo + b"\x01")),
        "extensible_pcm.wav": riff(chunk(b"fmt ", extensible(1)), chunk(b"data", stereo)),
        "extensible_float.wav": riff(chunk(b"fmt ", extensible(3)), chunk(b"data", stereo)),
        "float_tag3.wav": riff(chunk(b"fmt ", fmt(tag=3, bits=32)),
                               chunk(b"data", struct.pack("<2f", 0.5, -0.5))),
        "pcm24.wav": riff(chunk(b"fmt ", fmt(channels=2, bits=24)),
                          chunk(b"data", bytes(range(12)))),
        "three_channels.wav": riff(chunk(b"fmt ", fmt(channels=3)),
                                   chunk(b"data", pcm16(1, 2, 3, 4, 5, 6))),
        "bad_block_align.wav": riff(chunk(b"fmt ", fmt(channels=2, align=3)),
                                    chunk(b"data", stereo)),
        "zero_block_align.wav": riff(chunk(b"fmt ", fmt(bits=4, align=0)),
                                     chunk(b"data", mono)),
        "riff_size_minus8.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono),
                                     size=0xFFFFFFF8),
        "negative_fmt_size.wav": riff(chunk(b"fmt ", fmt(), size=0xFFFFFFF0),
                                      chunk(b"data", mono)),
        "no_data_chunk.wav": riff(chunk(b"fmt ", fmt()), chunk(b"abcd", mono)),
        "rifx.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono), magic=b"RIFX"),
        "not_wave.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono), form=b"AVI "),
        "short_43_bytes.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", b""))[:43],
        "cut_in_header.wav": riff(chunk(b"fmt ", fmt()), chunk(b"data", mono))[:40] + b"\x00" * 4,
    }


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in sorted(seeds().items()):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print("wrote %d seeds to %s" % (len(seeds()), OUT), file=sys.stderr)


if __name__ == "__main__":
    main()
