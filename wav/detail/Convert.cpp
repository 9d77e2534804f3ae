#include "detail/Convert.h"

#include <cstdint>
#include <cstring>

// The loops are built for AVX2 as well as for the baseline processor; the loader
// picks the version the machine runs. The common layouts get loops of their own,
// which the compiler vectorises.
#define COVARNE_CLONES __attribute__((target_clones("avx2", "default")))

namespace covarne {
namespace detail {

namespace {

// Writing convention: x * 32760 (16 bits) or x * 127 + 128 (8 bits), truncated
// toward zero and limited; NaN is written as silence. Without branches, so that
// the loops vectorise.
inline int Limit(double x, double scale) {
    double v = x * scale;
    v = v == v ? v : 0.0;
    v = v < -scale ? -scale : v;
    v = v > scale ? scale : v;
    return static_cast<int>(v);
}

inline void Put16(unsigned char* p, int v) {
    const auto s = static_cast<std::int16_t>(v);
    std::memcpy(p, &s, 2);
}

inline std::int16_t Get16(const unsigned char* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

COVARNE_CLONES void Write16(unsigned char* __restrict out, const double* __restrict left,
                            const double* __restrict right, long long frames, int blockAlign) {
    if (right != nullptr && blockAlign == 4) {
        for (long long i = 0; i < frames; ++i) {
            Put16(out + 4 * i, Limit(left[i], 32760.0));
            Put16(out + 4 * i + 2, Limit(right[i], 32760.0));
        }
    } else if (right == nullptr && blockAlign == 2) {
        for (long long i = 0; i < frames; ++i) Put16(out + 2 * i, Limit(left[i], 32760.0));
    } else {
        for (long long i = 0; i < frames; ++i) {
            Put16(out + i * blockAlign, Limit(left[i], 32760.0));
            if (right != nullptr) Put16(out + i * blockAlign + 2, Limit(right[i], 32760.0));
        }
    }
}

void Write8(unsigned char* out, const double* left, const double* right, long long frames, int blockAlign) {
    for (long long i = 0; i < frames; ++i) {
        out[i * blockAlign] = static_cast<unsigned char>(Limit(left[i], 127.0) + 128);
        if (right != nullptr) out[i * blockAlign + 1] = static_cast<unsigned char>(Limit(right[i], 127.0) + 128);
    }
}

// Reading convention of the double overload of Load, and the stored values of the other.
inline double Value16(std::int16_t s, double*) { return s * 0.000030517578125; }
inline short Value16(std::int16_t s, short*) { return s; }
inline double Value8(unsigned char b, double*) { return (static_cast<int>(b) - 128) * 0.0078125; }
inline short Value8(unsigned char b, short*) { return static_cast<short>(b); }

template <typename T>
inline __attribute__((always_inline)) void Read16(const unsigned char* __restrict in, long long frames, int blockAlign,
                                                  T* __restrict left, T* __restrict right) {
    T* tag = nullptr;
    if (blockAlign == 4 && left != nullptr && right != nullptr) {
        for (long long i = 0; i < frames; ++i) {
            left[i] = Value16(Get16(in + 4 * i), tag);
            right[i] = Value16(Get16(in + 4 * i + 2), tag);
        }
    } else if (blockAlign == 2 && left != nullptr) {
        for (long long i = 0; i < frames; ++i) left[i] = Value16(Get16(in + 2 * i), tag);
    } else {
        for (long long i = 0; i < frames; ++i) {
            const unsigned char* f = in + i * blockAlign;
            if (left != nullptr) left[i] = Value16(Get16(f), tag);
            if (right != nullptr) right[i] = Value16(Get16(f + 2), tag);
        }
    }
}

template <typename T>
void Read8(const unsigned char* in, long long frames, int blockAlign, T* left, T* right) {
    T* tag = nullptr;
    for (long long i = 0; i < frames; ++i) {
        const unsigned char* f = in + i * blockAlign;
        if (left != nullptr) left[i] = Value8(f[0], tag);
        if (right != nullptr) right[i] = Value8(f[1], tag);
    }
}

COVARNE_CLONES void Read16Double(const unsigned char* in, long long frames, int blockAlign, double* left,
                                 double* right) {
    Read16<double>(in, frames, blockAlign, left, right);
}
COVARNE_CLONES void Read16Short(const unsigned char* in, long long frames, int blockAlign, short* left, short* right) {
    Read16<short>(in, frames, blockAlign, left, right);
}

// The table holds plain functions that call the cloned ones: the address of a
// cloned function in initialised data would be resolved while the library is still
// being loaded, before sanitizer runtimes are ready.
void Read16DoubleEntry(const unsigned char* in, long long frames, int blockAlign, double* left, double* right) {
    Read16Double(in, frames, blockAlign, left, right);
}
void Read16ShortEntry(const unsigned char* in, long long frames, int blockAlign, short* left, short* right) {
    Read16Short(in, frames, blockAlign, left, right);
}
void Write16Entry(unsigned char* out, const double* left, const double* right, long long frames, int blockAlign) {
    Write16(out, left, right, frames, blockAlign);
}

const Codec kCodecs[] = {
    {8, Read8<double>, Read8<short>, Write8},
    {16, Read16DoubleEntry, Read16ShortEntry, Write16Entry},
};

}  // namespace

const Codec* CodecFor(int bits) {
    for (const Codec& c : kCodecs)
        if (c.bits == bits) return &c;
    return nullptr;
}

}  // namespace detail
}  // namespace covarne
