// The RIFF/WAVE layout: little-endian bytes, and the inspection that tells in one
// value what a file holds (its chunks in order, where the frames are, what follows).
#ifndef COVARNE_DETAIL_FORMAT_H
#define COVARNE_DETAIL_FORMAT_H

#include <climits>
#include <cstdint>
#include <vector>

#include "detail/Errors.h"

namespace covarne {
namespace platform {
class File;
}
namespace detail {

constexpr long long kMaxData = INT_MAX;  // data sizes must fit the 32-bit results

inline std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int16_t Le16(const unsigned char* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }
inline void PutLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
constexpr std::uint32_t FourCC(const char (&s)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

struct Chunk {
    std::uint32_t id = 0;    // the four characters as a little-endian word
    long long at = 0;        // position of its 8-byte header
    std::uint32_t size = 0;  // stored body size
};

// What an inspection learnt of a file.
struct Inspection {
    long long length = 0;  // file length
    int declared = 0;      // RIFF size + 8, the validity check's result (0: not valid)
    // The format; `usable` when it is integer PCM (format 1, or extensible PCM).
    bool usable = false;
    long long fmtBody = 0;  // position of the fmt body
    std::uint32_t fmtSize = 0;
    int channels = 0, rate = 0, blockAlign = 0, bits = 0;
    bool layoutOk = false;  // block align is channels * bits / 8 and above 0

    // The chunks from offset 12 up to and including the data chunk.
    std::vector<Chunk> chunks;
    bool hasData = false;
    long long dataOffset = 0;  // first sample byte
    std::uint32_t stored = 0;  // the data chunk's size field
    long long dataSize = 0;    // sample bytes the file holds (stored, cut at the end of the file)
    long long frames = 0;      // whole frames
    long long factCount = -1;  // position of a fact chunk's sample count, or -1

    // What follows the data chunk: chunks from `tailAt` to the end of the file (none
    // when tailBytes is 0). Bytes after the frames that do not start a chunk (a partial
    // frame, frames whose header was never fixed up) are no chunk: edits overwrite them.
    long long tailAt = 0;
    long long tailBytes = 0;

    long long At(long long frame) const { return dataOffset + frame * blockAlign; }
    long long FramesEnd() const { return At(frames); }
    const Chunk* Find(std::uint32_t id) const;
};

// The validity check: length at least 44, "RIFF" at 0 and "WAVE" at 8. Fills
// `length` and `declared`; false (with a reason) when the file is not valid.
bool CheckWave(platform::File* file, Inspection* out, LastError* error);

// Check and format inspection in one pass over the header. False with a reason when
// the file is not valid or not usable (`out->declared` then still tells validity).
bool Inspect(platform::File* file, Inspection* out, LastError* error);

// Walks the chunks after the data chunk; `at` is where the first one would begin.
// The bytes from `at` to `length` when they start with a well-formed chunk header, else 0.
long long ChunksFrom(platform::File* file, long long at, long long length);

}  // namespace detail
}  // namespace covarne

#endif
