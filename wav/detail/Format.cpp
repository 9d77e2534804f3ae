#include "detail/Format.h"

#include <algorithm>
#include <cstring>

#include "platform/FileLayer.h"

namespace covarne {
namespace detail {

namespace {

using platform::File;

// The sub-format of an extensible fmt chunk that means integer PCM.
const unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The first bytes of the file, read once; reads beyond them go to the file.
class Head {
public:
    explicit Head(File* file) : m_file(file) {}
    bool Load(long long length) {
        m_size = m_file->ReadAt(0, m_bytes, std::min<long long>(length, sizeof m_bytes));
        return m_size >= 0;
    }
    // 1 when all `n` bytes at `at` were had, 0 when the file ends first, -1 on an error.
    int Get(long long at, unsigned char* out, long long n) {
        if (at + n <= m_size) {
            std::memcpy(out, m_bytes + at, static_cast<size_t>(n));
            return 1;
        }
        const long long got = m_file->ReadAt(at, out, n);
        return got < 0 ? -1 : got == n ? 1 : 0;
    }

private:
    File* m_file;
    unsigned char m_bytes[4096];
    long long m_size = 0;
};

bool Printable(const unsigned char* id) {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E) return false;
    return true;
}

bool ReadFailed(LastError* error) { return error->System("cannot read the file", errno), false; }

}  // namespace

const Chunk* Inspection::Find(std::uint32_t id) const {
    for (const Chunk& c : chunks)
        if (c.id == id) return &c;
    return nullptr;
}

bool CheckWave(File* file, Inspection* out, LastError* error) {
    out->declared = 0;
    out->length = file->Length();
    if (out->length < 0) return error->System("cannot read the file", errno), false;
    unsigned char h[12];
    if (out->length < 44) return error->Set(kNotWave, "not a RIFF/WAVE file: shorter than a header"), false;
    if (file->ReadAt(0, h, 12) != 12) return ReadFailed(error);
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0)
        return error->Set(kNotWave, "not a RIFF/WAVE file"), false;
    out->declared = static_cast<int>(Le32(h + 4) + 8u);
    if (out->declared == 0) return error->Set(kNotWave, "not a RIFF/WAVE file: its RIFF size is -8"), false;
    return true;
}

long long ChunksFrom(File* file, long long at, long long length) {
    unsigned char h[8];
    if (at < 0 || at + 8 > length || file->ReadAt(at, h, 8) != 8 || !Printable(h)) return 0;
    if (at + 8 + static_cast<long long>(Le32(h + 4)) > length) return 0;
    return length - at;
}

bool Inspect(File* file, Inspection* out, LastError* error) {
    Inspection& r = *out;
    r = Inspection();
    if (!CheckWave(file, &r, error)) return false;
    const long long length = r.length;
    Head head(file);
    if (!head.Load(length)) return ReadFailed(error);

    // The chunk list from offset 12, up to the data chunk (id, size, body padded to
    // an even length); a size that runs past the file ends the walk.
    long long dataHeader = -1;
    unsigned char h[8];
    for (long long at = 12; at + 8 <= length;) {
        const int got = head.Get(at, h, 8);
        if (got < 0) return ReadFailed(error);
        if (got == 0) break;
        Chunk c;
        std::memcpy(&c.id, h, 4);
        c.size = Le32(h + 4);
        c.at = at;
        r.chunks.push_back(c);
        if (c.id == FourCC("data")) {
            dataHeader = at;
            break;
        }
        at += 8 + static_cast<long long>(c.size) + (c.size & 1);
    }

    // The fmt chunk stands at offset 12 in nearly every file; elsewhere it is taken from the walk.
    const Chunk* fmtChunk = r.Find(FourCC("fmt "));
    const bool fixed = !r.chunks.empty() && r.chunks[0].id == FourCC("fmt ");
    if (fmtChunk == nullptr || fmtChunk->size < 16)
        return error->Set(kNotWave, "not a RIFF/WAVE file: no fmt chunk"), false;
    r.fmtBody = fmtChunk->at + 8;
    r.fmtSize = fmtChunk->size;
    unsigned char fmt[16];
    if (head.Get(r.fmtBody, fmt, 16) != 1) return ReadFailed(error);
    const auto tag = static_cast<std::uint16_t>(Le16(fmt));
    if (tag == 0xFFFE) {
        unsigned char sub[16];
        if (r.fmtSize < 40 || head.Get(r.fmtBody + 24, sub, 16) != 1 || std::memcmp(sub, kPcmSubFormat, 16) != 0)
            return error->Set(kNotPcm, "the samples are not integer PCM (an extensible format of another kind)"), false;
    } else if (tag != 1) {
        return error->Set(kNotPcm, Format("the samples are not integer PCM (format tag %u)", tag)), false;
    }
    r.channels = Le16(fmt + 2);
    r.rate = static_cast<int>(Le32(fmt + 4));
    r.blockAlign = Le16(fmt + 12);
    r.bits = Le16(fmt + 14);

    // The data chunk header right after fmt (and a "fact" chunk), as the stored sizes
    // place it without pad bytes; else wherever the walk found it.
    if (fixed) {
        long long place = r.fmtBody + r.fmtSize;
        int got = head.Get(place, h, 8);
        if (got < 0) return ReadFailed(error);
        if (got == 1 && std::memcmp(h, "fact", 4) == 0 && Le32(h + 4) != 0)
            place = 28 + static_cast<long long>(r.fmtSize) + Le32(h + 4);
        got = head.Get(place, h, 8);
        if (got < 0) return ReadFailed(error);
        if (got == 1 && std::memcmp(h, "data", 4) == 0 && place != dataHeader) {
            // An odd chunk before the data without its pad byte: the walk missed it.
            dataHeader = place;
            while (!r.chunks.empty() && r.chunks.back().at >= place) r.chunks.pop_back();
            Chunk c;
            c.id = FourCC("data");
            c.at = place;
            c.size = Le32(h + 4);
            r.chunks.push_back(c);
        }
        if (dataHeader < 0) r.dataOffset = place + 8;
    }
    if (dataHeader >= 0) {
        r.hasData = true;
        r.stored = r.chunks.back().size;
        r.dataOffset = dataHeader + 8;
    } else {
        // Without a data chunk the file has no frames.
        if (!fixed) r.dataOffset = r.fmtBody + r.fmtSize + 8;
    }
    if (r.dataOffset > INT_MAX) return error->Set(kTooLarge, "the data starts beyond 2 GiB"), false;
    if (const Chunk* fact = r.Find(FourCC("fact")))
        if (fact->size >= 4 && fact->at + 12 <= r.dataOffset - 8) r.factCount = fact->at + 8;

    // Only the bytes the file holds count (a truncated file, or the 0xFFFFFFFF of a
    // writer that streamed to a pipe).
    const long long held = std::max(0LL, length - r.dataOffset);
    r.dataSize = std::min(static_cast<long long>(r.stored), held);
    if (r.dataSize > kMaxData) return error->Set(kTooLarge, "the data chunk holds more than 2 GiB"), false;
    r.frames = r.blockAlign > 0 ? r.dataSize / r.blockAlign : 0;
    // The record's block align is (bits / 8) x channels; a format where that is negative
    // or does not fit its 16 bits would give records with negative sizes: not usable.
    const int canonicalAlign = (r.bits / 8) * r.channels;
    if (canonicalAlign < 0 || canonicalAlign > SHRT_MAX || r.frames * canonicalAlign > kMaxData)
        return error->Set(kBadLayout,
                          Format("the frames do not fit the format: %d channels of %d bits", r.channels, r.bits)),
               false;
    r.layoutOk = r.blockAlign > 0 && r.blockAlign == canonicalAlign;

    // What follows the data chunk: chunks after its (padded) end, if the bytes there start one.
    if (r.hasData && static_cast<long long>(r.stored) <= held) {
        const long long end = r.dataOffset + r.stored;
        long long tail = 0, at = end + (r.stored & 1);
        if (at <= length) tail = ChunksFrom(file, at, length);
        // A writer that left out the pad byte.
        if (tail == 0 && (r.stored & 1) != 0) tail = ChunksFrom(file, at = end, length);
        if (tail > 0) {
            r.tailAt = at;
            r.tailBytes = tail;
        }
    }
    r.usable = true;
    error->Clear();
    return true;
}

}  // namespace detail
}  // namespace covarne
