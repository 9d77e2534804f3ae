// Sample conversion, one entry per bit depth. A depth without an entry, or whose
// entry lacks a direction, is refused by the caller.
#ifndef COVARNE_DETAIL_CONVERT_H
#define COVARNE_DETAIL_CONVERT_H

namespace covarne {
namespace detail {

struct Codec {
    int bits;
    // Frame i at byte i * blockAlign; channel 1 one sample after channel 0. Null
    // arrays are skipped (reading) or mean one channel (writing, `right` only).
    void (*readDouble)(const unsigned char* in, long long frames, int blockAlign, double* left, double* right);
    void (*readShort)(const unsigned char* in, long long frames, int blockAlign, short* left, short* right);
    void (*write)(unsigned char* out, const double* left, const double* right, long long frames, int blockAlign);
};

// The conversion of `bits`-bit samples, or null.
const Codec* CodecFor(int bits);
inline bool CanRead(int bits) {
    const Codec* c = CodecFor(bits);
    return c != nullptr && c->readDouble != nullptr && c->readShort != nullptr;
}
inline bool CanWrite(int bits) {
    const Codec* c = CodecFor(bits);
    return c != nullptr && c->write != nullptr;
}

}  // namespace detail
}  // namespace covarne

#endif
