#include "covarne/Covarne2005.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/FileLayer.h"
#include "covarne_version.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the header record is written to disk as it lies in memory");

using covarne::platform::Entry;
using covarne::platform::File;
using covarne::platform::OpenMode;

namespace {

constexpr int kBlockBytes = 1000000;
constexpr int kWindowFrames = 100000;
constexpr int kPathRoom = 260;
constexpr int kTempRoom = 4096;
constexpr long long kMaxData = INT_MAX;  // data sizes must fit the 32-bit results

char g_szVersionNumeric[] = KIT_VERSION_COMPACT;
char g_szVersionText[] = KIT_VERSION_TEXT;

constexpr std::uint32_t FourCC(const char (&s)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Exactly `bytes` bytes at `position`, or false.
bool ReadAt(File* file, long long position, unsigned char* buffer, long long bytes) {
    return file->Seek(position) && file->Read(buffer, bytes) == bytes;
}

// Like ReadAt, telling a file that ends first (0) from a failure of the system (-1); 1 when all was read.
int Probe(File* file, long long position, unsigned char* buffer, long long bytes) {
    if (!file->Seek(position)) return -1;
    const long long got = file->Read(buffer, bytes);
    return got < 0 ? -1 : got == bytes ? 1 : 0;
}

bool WriteLe32At(File* file, long long position, std::uint32_t value) {
    unsigned char b[4];
    PutLe32(b, value);
    return file->Seek(position) && file->Write(b, 4);
}

// After a failed edit, cuts the file back to its old `length`, so that no partial
// frame or stray silence follows the data (it would block later appends).
void TakeBack(File* file, bool ok, long long length) {
    if (!ok && length >= 0) file->Truncate(length);
}

// Walks the chunk list from offset 12 (id, size, body padded to an even length)
// for the first chunk named `id`; its position and stored size. 1 when found, 0 when
// not, -1 when reading failed.
int FindChunk(File* file, long long length, const char* id, long long* position, std::uint32_t* size) {
    unsigned char h[8];
    long long at = 12;
    while (at + 8 <= length) {
        if (!ReadAt(file, at, h, 8)) return -1;
        const std::uint32_t n = Le32(h + 4);
        if (std::memcmp(h, id, 4) == 0) {
            *position = at;
            *size = n;
            return 1;
        }
        at += 8 + static_cast<long long>(n) + (n & 1);
    }
    return 0;
}

// The sub-format of an extensible fmt chunk that means integer PCM.
const unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Writing convention: x * 32760 (16 bits) or x * 127 + 128 (8 bits), truncated
// toward zero and limited; NaN is written as silence. Written without branches so
// that the loops below vectorise.
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

// Converts `frames` frames into `out`, frame i at byte i * blockAlign; channel 1
// follows channel 0 when `right` is given. Built for AVX2 and for the baseline
// processor; the loader picks the version the machine runs.
__attribute__((target_clones("avx2", "default"))) void ConvertOut(unsigned char* __restrict out,
                                                                  const double* __restrict left,
                                                                  const double* __restrict right, long long frames,
                                                                  int blockAlign, int bits) {
    if (bits == 16 && right != nullptr && blockAlign == 4) {
        for (long long i = 0; i < frames; ++i) {
            Put16(out + 4 * i, Limit(left[i], 32760.0));
            Put16(out + 4 * i + 2, Limit(right[i], 32760.0));
        }
    } else if (bits == 16 && right == nullptr && blockAlign == 2) {
        for (long long i = 0; i < frames; ++i) Put16(out + 2 * i, Limit(left[i], 32760.0));
    } else if (bits == 16) {
        for (long long i = 0; i < frames; ++i) {
            Put16(out + i * blockAlign, Limit(left[i], 32760.0));
            if (right != nullptr) Put16(out + i * blockAlign + 2, Limit(right[i], 32760.0));
        }
    } else if (bits == 8) {
        for (long long i = 0; i < frames; ++i) {
            out[i * blockAlign] = static_cast<unsigned char>(Limit(left[i], 127.0) + 128);
            if (right != nullptr)
                out[i * blockAlign + 1] = static_cast<unsigned char>(Limit(right[i], 127.0) + 128);
        }
    }
}

// Reading convention of the double overload of Load, and the stored values of the other.
inline double From8(unsigned char b, double*) { return (static_cast<int>(b) - 128) * 0.0078125; }
inline double From16(std::int16_t s, double*) { return s * 0.000030517578125; }
inline short From8(unsigned char b, short*) { return static_cast<short>(b); }
inline short From16(std::int16_t s, short*) { return s; }

inline std::int16_t Get16(const unsigned char* p) {
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

template <typename T>
inline __attribute__((always_inline)) void ConvertIn(const unsigned char* __restrict in, long long frames,
                                                     int blockAlign, int bits, T* __restrict left,
                                                     T* __restrict right) {
    T* tag = nullptr;
    // The common layouts get loops of their own, which the compiler vectorises.
    if (bits == 16 && blockAlign == 4 && left != nullptr && right != nullptr) {
        for (long long i = 0; i < frames; ++i) {
            left[i] = From16(Get16(in + 4 * i), tag);
            right[i] = From16(Get16(in + 4 * i + 2), tag);
        }
    } else if (bits == 16 && blockAlign == 2 && left != nullptr) {
        for (long long i = 0; i < frames; ++i) left[i] = From16(Get16(in + 2 * i), tag);
    } else if (bits == 16) {
        for (long long i = 0; i < frames; ++i) {
            const unsigned char* f = in + i * blockAlign;
            if (left != nullptr) left[i] = From16(Get16(f), tag);
            if (right != nullptr) right[i] = From16(Get16(f + 2), tag);
        }
    } else {
        for (long long i = 0; i < frames; ++i) {
            const unsigned char* f = in + i * blockAlign;
            if (left != nullptr) left[i] = From8(f[0], tag);
            if (right != nullptr) right[i] = From8(f[1], tag);
        }
    }
}

// The conversions, built for AVX2 as well as for the baseline processor; the
// loader picks the version the machine runs.
__attribute__((target_clones("avx2", "default"))) void ConvertIn(const unsigned char* in, long long frames,
                                                                 int blockAlign, int bits, double* left,
                                                                 double* right) {
    ConvertIn<double>(in, frames, blockAlign, bits, left, right);
}

__attribute__((target_clones("avx2", "default"))) void ConvertIn(const unsigned char* in, long long frames,
                                                                 int blockAlign, int bits, short* left,
                                                                 short* right) {
    ConvertIn<short>(in, frames, blockAlign, bits, left, right);
}

// The depths whose samples the library converts.
bool Converted(int bits) { return bits == 8 || bits == 16; }

// Reads `frames` frames from the file's position into the caller's arrays through
// `buffer`, then zero-fills up to `count`. The bytes read, or 0 for depths that
// are not converted. A read error zero-fills the whole range and gives 0.
template <typename T>
int ReadFrames(File* file, long long frames, long long count, int channels, int bits, int blockAlign,
               unsigned char* buffer, int bufferSize, T* left, T* right) {
    if (channels != 2) right = nullptr;
    const bool converted = Converted(bits);
    long long done = 0;
    if (converted) {
        const long long perPass = bufferSize / blockAlign;
        while (done < frames) {
            const long long n = std::min(perPass, frames - done);
            const long long bytes = n * blockAlign;
            const long long got = file->Read(buffer, bytes);
            if (got < 0) {
                if (left != nullptr) std::fill(left, left + count, T(0));
                if (right != nullptr) std::fill(right, right + count, T(0));
                return 0;
            }
            // A file shorter than its header says: the missing bytes read as zeros.
            if (got < bytes) std::memset(buffer + got, 0, static_cast<size_t>(bytes - got));
            ConvertIn(buffer, n, blockAlign, bits, left == nullptr ? nullptr : left + done,
                      right == nullptr ? nullptr : right + done);
            done += n;
        }
    }
    if (frames < count) {
        if (left != nullptr) std::fill(left + frames, left + count, T(0));
        if (right != nullptr) std::fill(right + frames, right + count, T(0));
    }
    return converted ? static_cast<int>(frames * blockAlign) : 0;
}

}  // namespace

Covarne2005::Covarne2005()
    : m_pZeroBlock(nullptr),
      m_pCopyBuffer(nullptr),
      m_nZeroBlockSize(kBlockBytes),
      m_nCopyBufferSize(kBlockBytes),
      m_nDataOffset(0),
      m_nFrames(0),
      m_hdrLast(),
      m_szMountPath(),
      m_hdrMount(),
      m_nMountFrames(0),
      m_nWinFirst(-1),
      m_nWinLast(-1),
      m_nWinCapacity(0),
      m_pWinLeft(nullptr),
      m_pWinRight(nullptr),
      m_nFmtBody(0),
      m_bDataChunk(false),
      m_bTrailing(false),
      m_bLayoutOk(false) {
    std::unique_ptr<unsigned char[]> zero(new unsigned char[kBlockBytes]());
    m_pCopyBuffer = new unsigned char[kBlockBytes];
    m_pZeroBlock = zero.release();
    covarne::platform::UseUserLocale();
}

Covarne2005::Covarne2005(const Covarne2005& other) : Covarne2005() {
    *this = other;
}

Covarne2005::~Covarne2005() {
    UnMount();
    delete[] m_pZeroBlock;
    delete[] m_pCopyBuffer;
}

// Copies the last inspection and the mount state; the copy gets blocks and
// windows of its own, so nothing is owned twice.
Covarne2005& Covarne2005::operator=(const Covarne2005& other) {
    if (this == &other) return *this;
    std::unique_ptr<double[]> left, right;
    if (other.m_pWinLeft != nullptr) {
        left.reset(new double[other.m_nWinCapacity]);
        std::copy(other.m_pWinLeft, other.m_pWinLeft + other.m_nWinCapacity, left.get());
    }
    if (other.m_pWinRight != nullptr) {
        right.reset(new double[other.m_nWinCapacity]);
        std::copy(other.m_pWinRight, other.m_pWinRight + other.m_nWinCapacity, right.get());
    }
    UnMount();
    m_nDataOffset = other.m_nDataOffset;
    m_nFrames = other.m_nFrames;
    m_hdrLast = other.m_hdrLast;
    m_nFmtBody = other.m_nFmtBody;
    m_bDataChunk = other.m_bDataChunk;
    m_bTrailing = other.m_bTrailing;
    m_bLayoutOk = other.m_bLayoutOk;
    std::copy(other.m_szMountPath, other.m_szMountPath + kPathRoom, m_szMountPath);
    m_hdrMount = other.m_hdrMount;
    m_nMountFrames = other.m_nMountFrames;
    m_nWinFirst = other.m_nWinFirst;
    m_nWinLast = other.m_nWinLast;
    m_nWinCapacity = other.m_nWinCapacity;
    m_pWinLeft = left.release();
    m_pWinRight = right.release();
    return *this;
}

// ---- format and queries ----

int Covarne2005::_check_file(File* stream) {
    if (stream == nullptr || !stream->IsOpen()) return 0;
    const long long length = stream->Length();
    if (length < 44) return 0;
    unsigned char h[12];
    if (!ReadAt(stream, 0, h, 12)) return 0;
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return 0;
    int riffSize;
    _get_memory_4bytes(h + 4, &riffSize);
    return static_cast<int>(static_cast<std::uint32_t>(riffSize) + 8u);
}

int Covarne2005::_get_wave_info(File* stream, tagWAVEFILEHEADER2005* header) {
    const long long length = stream->Length();
    if (length < 44) return 0;
    unsigned char h[8];
    if (!ReadAt(stream, 12, h, 8)) return 0;

    // The fmt chunk stands at offset 12 in nearly every file; only when it does not
    // is the chunk list walked for it.
    const bool fixed = std::memcmp(h, "fmt ", 4) == 0;
    long long fmtBody = 20;
    std::uint32_t fmtSize = Le32(h + 4);
    if (!fixed) {
        long long at;
        if (FindChunk(stream, length, "fmt ", &at, &fmtSize) != 1 || fmtSize < 16) return 0;
        fmtBody = at + 8;
    }
    unsigned char fmt[16];
    if (!ReadAt(stream, fmtBody, fmt, 16)) return 0;
    short tag, channels, blockAlign, bits;
    int rate;
    _get_memory_2bytes(fmt, &tag);
    if (static_cast<std::uint16_t>(tag) == 0xFFFE) {
        // Extensible: usable when its sub-format is integer PCM.
        unsigned char sub[16];
        if (fmtSize < 40 || !ReadAt(stream, fmtBody + 24, sub, 16) ||
            std::memcmp(sub, kPcmSubFormat, 16) != 0)
            return 0;
    } else if (tag != 1) {
        return 0;
    }
    _get_memory_2bytes(fmt + 2, &channels);
    _get_memory_4bytes(fmt + 4, &rate);
    _get_memory_2bytes(fmt + 12, &blockAlign);
    _get_memory_2bytes(fmt + 14, &bits);

    // The data chunk header: at the fixed place after fmt (and a "fact" chunk), else
    // wherever the chunk list has it.
    long long place = fmtBody + fmtSize;
    long long dataHeader = -1;
    // A failure of the system while looking is not taken for an absent chunk.
    if (fixed) {
        int got = Probe(stream, place, h, 8);
        if (got < 0) return 0;
        if (got == 1 && std::memcmp(h, "fact", 4) == 0) {
            const std::uint32_t factSize = Le32(h + 4);
            if (factSize != 0) place = 28 + static_cast<long long>(fmtSize) + factSize;
        }
        got = Probe(stream, place, h, 8);
        if (got < 0) return 0;
        if (got == 1 && std::memcmp(h, "data", 4) == 0) dataHeader = place;
    }
    std::uint32_t stored = 0;
    if (dataHeader < 0) {
        long long at;
        std::uint32_t size;
        const int found = FindChunk(stream, length, "data", &at, &size);
        if (found < 0) return 0;
        if (found == 1) dataHeader = at;
    }
    if (dataHeader >= 0) {
        if (!ReadAt(stream, dataHeader, h, 8)) return 0;
        stored = Le32(h + 4);
        place = dataHeader;
    }
    const long long dataOffset = place + 8;
    if (dataOffset > INT_MAX) return 0;

    // Only the bytes the file holds count (a truncated file, or the 0xFFFFFFFF of a
    // writer that streamed to a pipe).
    const long long held = std::max(0LL, length - dataOffset);
    const long long dataSize = std::min(static_cast<long long>(stored), held);
    if (dataSize > kMaxData) return 0;
    const long long frames = blockAlign > 0 ? dataSize / blockAlign : 0;
    // The record's block align is (bits / 8) x channels; a format where that is negative
    // or does not fit its 16 bits would give records with negative sizes: not usable.
    const int canonicalAlign = (bits / 8) * channels;
    if (canonicalAlign < 0 || canonicalAlign > SHRT_MAX) return 0;
    if (frames * canonicalAlign > kMaxData) return 0;

    m_hdrLast.fmtSize = static_cast<std::int32_t>(fmtSize);
    m_hdrLast.channels = channels;
    m_hdrLast.sampleRate = rate;
    m_hdrLast.blockAlign = blockAlign;
    m_hdrLast.bitsPerSample = bits;
    m_hdrLast.dataSize = static_cast<std::int32_t>(dataSize);
    m_nFrames = static_cast<int>(frames);
    m_nDataOffset = static_cast<int>(dataOffset);
    m_nFmtBody = fmtBody;
    m_bDataChunk = dataHeader >= 0;
    m_bTrailing = m_bDataChunk && length > dataOffset + stored + (stored & 1);
    m_bLayoutOk = blockAlign > 0 && blockAlign == canonicalAlign;
    if (header != nullptr) MakeHeader(header, m_nFrames, channels, bits, rate);
    return m_nDataOffset;
}

int Covarne2005::_inspect(const char* path, tagWAVEFILEHEADER2005* header) {
    File file;
    if (path == nullptr || !file.Open(path, OpenMode::Read) || _check_file(&file) == 0) return 0;
    return _get_wave_info(&file, header);
}

int Covarne2005::CheckFile(const wchar_t* path) {
    std::string p;
    File file;
    if (!covarne::platform::ToUtf8(path, &p) || !file.Open(p, OpenMode::Read)) return 0;
    return _check_file(&file);
}

int Covarne2005::GetWaveInfo(const wchar_t* path, tagWAVEFILEHEADER2005* header) {
    std::string p;
    if (!covarne::platform::ToUtf8(path, &p)) return 0;
    return _inspect(p.c_str(), header);
}

int Covarne2005::GetSr(const wchar_t* path) {
    tagWAVEFILEHEADER2005 h;
    return GetWaveInfo(path, &h) == 0 ? 0 : h.sampleRate;
}

int Covarne2005::GetCh(const wchar_t* path) {
    tagWAVEFILEHEADER2005 h;
    return GetWaveInfo(path, &h) == 0 ? 0 : h.channels;
}

int Covarne2005::GetBits(const wchar_t* path) {
    tagWAVEFILEHEADER2005 h;
    return GetWaveInfo(path, &h) == 0 ? 0 : h.bitsPerSample;
}

int Covarne2005::GetN(const wchar_t* path) {
    tagWAVEFILEHEADER2005 h;
    if (GetWaveInfo(path, &h) == 0 || h.blockAlign == 0) return 0;
    return h.dataSize / h.blockAlign;
}

void Covarne2005::MakeHeader(tagWAVEFILEHEADER2005* header, int frames, short channels, short bits,
                             int sampleRate) {
    if (header == nullptr) return;
    // Arguments are not validated; the 32-bit fields wrap as the stored words do.
    const auto blockAlign = static_cast<std::int16_t>((bits / 8) * channels);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(frames) * static_cast<std::uint32_t>(blockAlign);
    header->riffId = FourCC("RIFF");
    header->riffSize = static_cast<std::int32_t>(dataSize + 36u);
    header->waveId = FourCC("WAVE");
    header->fmtId = FourCC("fmt ");
    header->fmtSize = 16;
    header->formatTag = 1;
    header->channels = channels;
    header->sampleRate = sampleRate;
    header->byteRate = static_cast<std::int32_t>(static_cast<std::uint32_t>(sampleRate) *
                                                 static_cast<std::uint32_t>(blockAlign));
    header->blockAlign = blockAlign;
    header->bitsPerSample = bits;
    header->dataId = FourCC("data");
    header->dataSize = static_cast<std::int32_t>(dataSize);
}

void Covarne2005::ResetHeader(tagWAVEFILEHEADER2005* header) {
    MakeHeader(header, 0, 1, 16, 48000);
}

char* Covarne2005::GetVersion(bool numeric) {
    return numeric ? g_szVersionNumeric : g_szVersionText;
}

void Covarne2005::_get_memory_2bytes(unsigned char* p, short* value) {
    *value = static_cast<short>(p[0] | p[1] << 8);
}

void Covarne2005::_get_memory_4bytes(unsigned char* p, int* value) {
    *value = static_cast<int>(Le32(p));
}

void Covarne2005::_set_memory_2bytes(unsigned char* p, short value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(static_cast<unsigned short>(value) >> 8);
}

void Covarne2005::_set_memory_4bytes(unsigned char* p, int value) {
    PutLe32(p, static_cast<std::uint32_t>(value));
}

// ---- loading ----

// Opens and inspects `path` for a load of `count` frames from `start`, and seeks
// to the first of them. The number of frames to deliver, 0 when there is none.
int Covarne2005::_prepare_load(const wchar_t* path, int start, int count, File* file) {
    std::string p;
    if (start < 0 || count <= 0 || !covarne::platform::ToUtf8(path, &p)) return 0;
    if (!file->Open(p, OpenMode::Read) || _check_file(file) == 0 || _get_wave_info(file, nullptr) == 0)
        return 0;
    if (!m_bLayoutOk || start > m_nFrames) return 0;
    const int frames = std::min(count, m_nFrames - start);
    if (frames <= 0) return 0;
    if (!file->Seek(m_nDataOffset + static_cast<long long>(start) * m_hdrLast.blockAlign)) return 0;
    return frames;
}

int Covarne2005::Load(const wchar_t* path, int start, int count, double* left, double* right) {
    File file;
    const int frames = _prepare_load(path, start, count, &file);
    if (frames == 0) return 0;
    return ReadFrames(&file, frames, count, m_hdrLast.channels, m_hdrLast.bitsPerSample, m_hdrLast.blockAlign,
                      m_pCopyBuffer, m_nCopyBufferSize, left, right);
}

int Covarne2005::Load(const wchar_t* path, int start, int count, short* left, short* right) {
    File file;
    const int frames = _prepare_load(path, start, count, &file);
    if (frames == 0) return 0;
    return ReadFrames(&file, frames, count, m_hdrLast.channels, m_hdrLast.bitsPerSample, m_hdrLast.blockAlign,
                      m_pCopyBuffer, m_nCopyBufferSize, left, right);
}

bool Covarne2005::_path_exist(wchar_t* path, bool wantDirectory) {
    std::string p;
    if (!covarne::platform::ToUtf8(path, &p)) return false;
    const Entry e = covarne::platform::Lookup(p);
    if (e == Entry::Directory) return wantDirectory;
    if (e == Entry::File) return !wantDirectory;
    return false;
}

bool Covarne2005::Mount(wchar_t* path) {
    if (path == nullptr || m_szMountPath[0] != 0) return false;
    if (std::wcslen(path) >= static_cast<size_t>(kPathRoom)) return false;
    if (!_path_exist(path, false)) return false;
    tagWAVEFILEHEADER2005 h;
    if (GetWaveInfo(path, &h) == 0 || !m_bLayoutOk) return false;
    std::unique_ptr<double[]> left(new double[kWindowFrames]());
    std::unique_ptr<double[]> right(h.channels == 2 ? new double[kWindowFrames]() : nullptr);
    std::wcscpy(m_szMountPath, path);
    m_hdrMount = h;
    m_nMountFrames = h.blockAlign != 0 ? h.dataSize / h.blockAlign : 0;
    m_nWinFirst = -1;
    m_nWinLast = -1;
    m_nWinCapacity = kWindowFrames;
    m_pWinLeft = left.release();
    m_pWinRight = right.release();
    return true;
}

void Covarne2005::UnMount() {
    delete[] m_pWinLeft;
    delete[] m_pWinRight;
    std::fill(m_szMountPath, m_szMountPath + kPathRoom, L'\0');
    m_hdrMount = tagWAVEFILEHEADER2005();
    m_nMountFrames = 0;
    m_nWinCapacity = 0;
    m_pWinLeft = nullptr;
    m_pWinRight = nullptr;
    m_nWinFirst = -1;
    m_nWinLast = -1;
}

double Covarne2005::GetValue(int index, short channel) {
    if (index < 0 || index >= m_nMountFrames) return 0.0;
    if (index < m_nWinFirst || index > m_nWinLast) _load(index, m_nWinCapacity);
    const int at = index - m_nWinFirst;
    if (channel == 1 && m_pWinRight != nullptr) return m_pWinRight[at];
    return m_pWinLeft[at];
}

void Covarne2005::_load(int start, int count) {
    if (start < 0 || start > m_nMountFrames || count <= 0) return;
    const int frames = std::min(count, m_nMountFrames - start);
    if (frames <= 0) return;
    m_hdrLast = m_hdrMount;
    Load(m_szMountPath, start, frames, m_pWinLeft, m_hdrMount.channels == 1 ? nullptr : m_pWinRight);
    m_nWinFirst = start;
    m_nWinLast = start + frames - 1;
}

// ---- writing ----

void Covarne2005::MakeImage(unsigned char* image, double* left, double* right, int frames,
                            tagWAVEFILEHEADER2005* header) {
    if (image == nullptr || left == nullptr || header == nullptr || frames <= 0) return;
    const int bits = header->bitsPerSample;
    if (!Converted(bits)) return;
    // A frame must have room for the samples written into it.
    if (header->blockAlign < (bits / 8) * (right != nullptr ? 2 : 1)) return;
    ConvertOut(image, left, right, frames, header->blockAlign, bits);
}

void Covarne2005::MakeImage(unsigned char* image, double* samples, int frames, tagWAVEFILEHEADER2005* header) {
    MakeImage(image, samples, nullptr, frames, header);
}

// Converts and writes `frames` frames at the file's position, a work block at a time.
bool Covarne2005::_write_image(File* file, double* left, double* right, long long frames,
                               const tagWAVEFILEHEADER2005& layout) {
    const int blockAlign = layout.blockAlign;
    const int bits = layout.bitsPerSample;
    if (frames <= 0) return true;
    if (left == nullptr || !Converted(bits) || blockAlign < (bits / 8) * (right != nullptr ? 2 : 1)) return false;
    // Bytes of a frame that no sample fills are written as zeros.
    const bool gaps = blockAlign != (bits / 8) * (right != nullptr ? 2 : 1);
    const long long perPass = m_nCopyBufferSize / blockAlign;
    for (long long done = 0; done < frames;) {
        const long long n = std::min(perPass, frames - done);
        if (gaps) std::memset(m_pCopyBuffer, 0, static_cast<size_t>(n * blockAlign));
        ConvertOut(m_pCopyBuffer, left + done, right == nullptr ? nullptr : right + done, n, blockAlign, bits);
        if (!file->Write(m_pCopyBuffer, n * blockAlign)) return false;
        done += n;
    }
    return true;
}

void Covarne2005::Save(const wchar_t* path, double* left, double* right, int frames, int bits, int sampleRate) {
    if (frames < 0 || (frames > 0 && left == nullptr) || !Converted(bits)) return;
    tagWAVEFILEHEADER2005 h;
    MakeHeader(&h, frames, right != nullptr ? 2 : 1, static_cast<short>(bits), sampleRate);
    if (static_cast<long long>(frames) * h.blockAlign > kMaxData - 36) return;
    std::string p;
    File file;
    if (!covarne::platform::ToUtf8(path, &p) || !file.Open(p, OpenMode::Replace)) return;
    // The file is first cut (or grown) to its new length, then overwritten: the result
    // is that of a truncating open, but an existing file's pages and blocks are reused,
    // and when the length cannot be set the old file stays as it was.
    if (!file.Truncate(static_cast<long long>(sizeof h) + h.dataSize)) {
        file.Close();
        return;
    }
    const bool ok = file.Write(&h, sizeof h) && _write_image(&file, left, right, frames, h);
    // A write that failed part-way would leave a header announcing frames the file
    // lacks: the file is emptied instead, which no reader takes for a WAV file.
    if (!ok) file.Truncate(0);
    file.Close();
}

void Covarne2005::Save(const wchar_t* path, double* left, double* right, int frames, int sampleRate) {
    Save(path, left, right, frames, 16, sampleRate);
}

void Covarne2005::Save(const wchar_t* path, double* samples, int frames, short bits, int sampleRate) {
    Save(path, samples, nullptr, frames, static_cast<int>(bits), sampleRate);
}

void Covarne2005::Save(const wchar_t* path, double* samples, int frames, int sampleRate) {
    Save(path, samples, nullptr, frames, 16, sampleRate);
}

// ---- edits in place ----

bool Covarne2005::_zero_img_copy(File* file, long long bytes) {
    while (bytes > 0) {
        const long long n = std::min<long long>(bytes, m_nZeroBlockSize);
        if (!file->Write(m_pZeroBlock, n)) return false;
        bytes -= n;
    }
    return bytes == 0;
}

bool Covarne2005::_file_img_copy(File* dst, File* src, long long bytes) {
    if (bytes < 0) return false;
    bool kernel = true;
    while (bytes > 0) {
        if (kernel) {
            const long long n = covarne::platform::CopyRange(*dst, *src, bytes);
            if (n > 0) {
                bytes -= n;
                continue;
            }
            // The source ended early (shorter than its header said): the rest is zeros.
            if (n == 0) return _zero_img_copy(dst, bytes);
            if (n != covarne::platform::kCopyUnsupported) return false;
            kernel = false;
        }
        const long long n = std::min<long long>(bytes, m_nCopyBufferSize);
        const long long got = src->Read(m_pCopyBuffer, n);
        if (got < 0) return false;
        if (got < n) std::memset(m_pCopyBuffer + got, 0, static_cast<size_t>(n - got));
        if (!dst->Write(m_pCopyBuffer, n)) return false;
        bytes -= n;
    }
    return true;
}

// Creates the temporary file of an insertion or deletion and opens it.
bool Covarne2005::_create_tmp_file_name(char* name, int room, File* file) {
    return file->OpenTemp(name, room);
}

// What an edit needs of the file it changes, taken right after the inspection.
struct Covarne2005::Target {
    long long offset = 0;  // data offset
    long long frames = 0;  // N
    int align = 0;         // block align
    int channels = 0;
    int bits = 0;
    int rate = 0;
    bool trailing = false;  // other bytes follow the data chunk

    long long At(long long frame) const { return offset + frame * align; }
    bool Fits(long long newFrames) const { return newFrames * align <= kMaxData; }
};

// Rewrites the data size and the RIFF size of the file for `frames` frames.
bool Covarne2005::_fix_header(File* file, const Target& target, long long frames) {
    const auto dataSize = static_cast<std::uint32_t>(frames * target.align);
    const auto riffSize = static_cast<std::uint32_t>(target.offset - 8 + dataSize);
    // Bytes 4 to the data offset go back in one write, so that a failure leaves the
    // old sizes or the new ones, never one of each. (The copy buffer is free here.)
    const long long span = target.offset - 4;
    if (span <= m_nCopyBufferSize) {
        unsigned char* b = m_pCopyBuffer;
        if (!ReadAt(file, 4, b, span)) return false;
        PutLe32(b, riffSize);
        PutLe32(b + span - 4, dataSize);
        return file->Seek(4) && file->Write(b, span);
    }
    return WriteLe32At(file, target.offset - 4, dataSize) && WriteLe32At(file, 4, riffSize);
}

// Inspects an existing file for an edit: usable, a frame layout that holds, a data chunk.
bool Covarne2005::_target(const char* path, Target* target) {
    tagWAVEFILEHEADER2005 h;
    if (_inspect(path, &h) == 0 || !m_bLayoutOk || !m_bDataChunk) return false;
    target->offset = m_nDataOffset;
    target->frames = m_nFrames;
    target->align = m_hdrLast.blockAlign;
    target->channels = m_hdrLast.channels;
    target->bits = m_hdrLast.bitsPerSample;
    target->rate = m_hdrLast.sampleRate;
    target->trailing = m_bTrailing;
    return true;
}

int Covarne2005::_append(const char* path, double* left, double* right, int frames, int sampleRate, short bits) {
    const int channels = right != nullptr ? 2 : 1;
    const Entry e = covarne::platform::Lookup(path);
    File file;
    if (e == Entry::Missing) {
        if (!Converted(bits)) return -1;
        tagWAVEFILEHEADER2005 h;
        MakeHeader(&h, frames, static_cast<short>(channels), bits, sampleRate);
        if (static_cast<long long>(frames) * h.blockAlign > kMaxData - 36) return -1;
        if (!file.Open(path, OpenMode::Create)) return -1;
        bool ok = file.Write(&h, sizeof h) && _write_image(&file, left, right, frames, h);
        ok = file.Close() && ok;
        // A file this call created and could not complete does not stay.
        if (!ok) covarne::platform::Remove(path);
        return ok ? frames : -1;
    }
    if (e != Entry::File) return -1;
    Target t;
    if (!_target(path, &t)) return -1;
    if (t.channels != channels || t.bits != bits || !Converted(bits)) return -1;
    const long long total = t.frames + frames;
    if (!t.Fits(total) || (t.trailing && frames > 0)) return -1;
    if (!file.Open(path, OpenMode::Update)) return -1;
    const long long length = file.Length();
    // Frames go right after the last whole frame, whatever pad byte or partial frame the file ends in.
    bool ok = length >= 0 && file.Seek(t.At(t.frames)) && _write_image(&file, left, right, frames, m_hdrLast) &&
              (t.trailing || _fix_header(&file, t, total));
    TakeBack(&file, ok, length);
    ok = file.Close() && ok;
    return ok ? static_cast<int>(total) : -1;
}

int Covarne2005::_append_silence(const char* path, int frames) {
    if (covarne::platform::Lookup(path) != Entry::File) return -1;
    Target t;
    if (!_target(path, &t)) return -1;
    const long long total = t.frames + frames;
    if (!t.Fits(total) || (t.trailing && frames > 0)) return -1;
    File file;
    if (!file.Open(path, OpenMode::Update)) return -1;
    const long long length = file.Length();
    bool ok = length >= 0 && file.Seek(t.At(t.frames)) &&
              _zero_img_copy(&file, static_cast<long long>(frames) * t.align) &&
              (t.trailing || _fix_header(&file, t, total));
    TakeBack(&file, ok, length);
    ok = file.Close() && ok;
    return ok ? static_cast<int>(total) : -1;
}

int Covarne2005::SaveAdd(wchar_t* path, double* left, double* right, int frames, int sampleRate, short bits) {
    std::string p;
    if (frames < 0 || (frames > 0 && left == nullptr) || !covarne::platform::ToUtf8(path, &p)) return -1;
    return _append(p.c_str(), left, right, frames, sampleRate, bits);
}

int Covarne2005::SaveAdd(wchar_t* path, double* samples, int frames, int sampleRate, short bits) {
    return SaveAdd(path, samples, nullptr, frames, sampleRate, bits);
}

int Covarne2005::AddSilence(wchar_t* path, int frames) {
    std::string p;
    if (frames < 0 || !covarne::platform::ToUtf8(path, &p)) return -1;
    return _append_silence(p.c_str(), frames);
}

int Covarne2005::_overwrite(const char* path, double* left, double* right, int channels, int start, int count,
                            int sampleRate, short bits, bool write) {
    const Entry e = covarne::platform::Lookup(path);
    File file;
    if (e == Entry::Missing) {
        if (write && !Converted(bits)) return -1;
        if (start > 0) {
            // Leading silence up to `start`, then the frames are appended to it.
            tagWAVEFILEHEADER2005 h;
            MakeHeader(&h, start, static_cast<short>(channels), bits, sampleRate);
            if (h.blockAlign <= 0 || (static_cast<long long>(start) + count) * h.blockAlign > kMaxData - 36)
                return -1;
            if (!file.Open(path, OpenMode::Create)) return -1;
            bool ok = file.Write(&h, sizeof h) && _zero_img_copy(&file, static_cast<long long>(start) * h.blockAlign);
            ok = file.Close() && ok;
            if (!ok) {
                covarne::platform::Remove(path);
                return -1;
            }
        }
        if (write && start <= 0) return _append(path, left, right, count, sampleRate, bits);
        if (start <= 0) return -1;
        // The file this call created does not stay when the frames cannot follow.
        const int r = write ? _append(path, left, right, count, sampleRate, bits) : _append_silence(path, count);
        if (r < 0) covarne::platform::Remove(path);
        return r;
    }
    if (e != Entry::File) return -1;
    Target t;
    if (!_target(path, &t)) return -1;
    if (t.channels != channels || t.bits != bits || (write && !Converted(bits))) return -1;
    const long long total = std::max(static_cast<long long>(start) + count, t.frames);
    if (!t.Fits(total) || (t.trailing && total > t.frames)) return -1;
    if (!file.Open(path, OpenMode::Update)) return -1;
    const long long length = file.Length();
    bool ok = length >= 0;
    if (ok && start > t.frames)
        ok = file.Seek(t.At(t.frames)) && _zero_img_copy(&file, (start - t.frames) * t.align);
    ok = ok && file.Seek(t.At(start)) &&
         (write ? _write_image(&file, left, right, count, m_hdrLast)
                : _zero_img_copy(&file, static_cast<long long>(count) * t.align)) &&
         (t.trailing || _fix_header(&file, t, total));
    TakeBack(&file, ok, length);
    ok = file.Close() && ok;
    return ok ? static_cast<int>(total) : -1;
}

int Covarne2005::_save_over_write(wchar_t* path, double* left, double* right, int start, int count, int sampleRate,
                                  short bits, bool write) {
    std::string p;
    if (start < 0 || count < 0 || (write && count > 0 && left == nullptr) || !covarne::platform::ToUtf8(path, &p))
        return -1;
    return _overwrite(p.c_str(), write ? left : nullptr, write ? right : nullptr, right != nullptr ? 2 : 1, start,
                      count, sampleRate, bits, write);
}

int Covarne2005::SaveOW(wchar_t* path, double* left, double* right, int start, int count, int sampleRate,
                        short bits) {
    return _save_over_write(path, left, right, start, count, sampleRate, bits, true);
}

int Covarne2005::SaveOW(wchar_t* path, double* samples, int start, int count, int sampleRate, short bits) {
    return _save_over_write(path, samples, nullptr, start, count, sampleRate, bits, true);
}

int Covarne2005::MakeSilence(wchar_t* path, int start, int count, short channels, int sampleRate, short bits) {
    std::string p;
    if (start < 0 || count < 0) return -1;
    if (channels != 1 && channels != 2) return channels;
    if (!covarne::platform::ToUtf8(path, &p)) return -1;
    return _overwrite(p.c_str(), nullptr, nullptr, channels, start, count, sampleRate, bits, false);
}

int Covarne2005::SaveSr(wchar_t* path, int sampleRate) {
    std::string p;
    if (sampleRate <= 0 || !covarne::platform::ToUtf8(path, &p)) return -1;
    if (covarne::platform::Lookup(p) != Entry::File) return -1;
    tagWAVEFILEHEADER2005 h;
    if (_inspect(p.c_str(), &h) == 0 || !m_bLayoutOk) return -1;
    const long long at = m_nFmtBody + 4;  // sample rate, then byte rate
    const int align = m_hdrLast.blockAlign;
    File file;
    unsigned char b[8];
    if (!file.Open(p, OpenMode::Update) || !ReadAt(&file, at, b, 8)) return -1;
    const long long oldRate = static_cast<std::int32_t>(Le32(b));
    const long long byteRate = static_cast<std::int32_t>(Le32(b + 4));
    // The old rate is the result: a negative one could not be told from a failure.
    if (oldRate < 0) return -1;
    // The byte rate keeps its ratio to the rate; a stored rate of 0 has none, so it follows the frame size.
    const long long newByteRate =
        oldRate != 0 ? byteRate / oldRate * sampleRate : static_cast<long long>(align) * sampleRate;
    // Both fields in one write: a failure leaves the old pair or the new one.
    PutLe32(b, static_cast<std::uint32_t>(sampleRate));
    PutLe32(b + 4, static_cast<std::uint32_t>(newByteRate));
    bool ok = file.Seek(at) && file.Write(b, 8);
    ok = file.Close() && ok;
    return ok ? static_cast<int>(oldRate) : -1;
}

// ---- inserting, deleting, replacing ----

int Covarne2005::Insert(wchar_t* path, int start, int count) {
    std::string p;
    if (start < 0 || count < 0 || !covarne::platform::ToUtf8(path, &p)) return -1;
    if (covarne::platform::Lookup(p) != Entry::File) return -1;
    Target t;
    if (!_target(p.c_str(), &t)) return -1;
    // At or past the end nothing moves: the gap is appended.
    if (start >= t.frames)
        return _overwrite(p.c_str(), nullptr, nullptr, t.channels, start, count, t.rate, static_cast<short>(t.bits),
                          false);
    const long long total = t.frames + count;
    if (!t.Fits(total) || (t.trailing && count > 0)) return -1;

    File file, tmp;
    char tmpName[kTempRoom];
    if (!file.Open(p, OpenMode::Update) || !_create_tmp_file_name(tmpName, kTempRoom, &tmp)) return -1;
    const long long tail = (t.frames - start) * t.align;
    const long long length = file.Length();
    if (length < 0 || !file.Seek(t.At(start)) || !_file_img_copy(&tmp, &file, tail) || !file.Seek(t.At(start)) ||
        !tmp.Seek(0)) {
        tmp.Close();
        covarne::platform::Remove(tmpName);
        return -1;
    }
    // From here on the file changes; on a failure the temporary file keeps the tail
    // and the file gets its old length back.
    bool ok = _zero_img_copy(&file, static_cast<long long>(count) * t.align) && _file_img_copy(&file, &tmp, tail) &&
              (t.trailing || _fix_header(&file, t, total));
    TakeBack(&file, ok, length);
    ok = file.Close() && ok;
    tmp.Close();
    if (!ok) return -1;
    covarne::platform::Remove(tmpName);
    return static_cast<int>(total);
}

int Covarne2005::Delete(wchar_t* path, int start, int count) {
    std::string p;
    if (start < 0 || count < 0 || !covarne::platform::ToUtf8(path, &p)) return -1;
    if (covarne::platform::Lookup(p) != Entry::File) return -1;
    Target t;
    if (!_target(p.c_str(), &t)) return -1;
    if (start >= t.frames) return -1;
    const long long end = static_cast<long long>(start) + count;
    const long long total = end > t.frames ? start : t.frames - count;

    File file, tmp;
    char tmpName[kTempRoom];
    if (!file.Open(p, OpenMode::Update) || !_create_tmp_file_name(tmpName, kTempRoom, &tmp)) return -1;
    const long long tail = end < t.frames ? (t.frames - end) * t.align : 0;
    if ((tail > 0 && (!file.Seek(t.At(end)) || !_file_img_copy(&tmp, &file, tail))) || !file.Seek(t.At(start)) ||
        !tmp.Seek(0)) {
        tmp.Close();
        covarne::platform::Remove(tmpName);
        return -1;
    }
    // From here on the file changes; the temporary file keeps the tail until the file
    // holds it again under a header that counts it, and is closed.
    const bool moved = _file_img_copy(&file, &tmp, tail) && _fix_header(&file, t, total);
    const bool cut = moved && file.Truncate(t.At(total));
    const bool closed = file.Close();
    tmp.Close();
    if (tail > 0 && !(moved && closed)) return -1;
    covarne::platform::Remove(tmpName);
    return moved && cut && closed ? static_cast<int>(total) : -1;
}

int Covarne2005::SaveRep(wchar_t* path, double* left, double* right, int start, int oldFrames, int newFrames,
                         int sampleRate, short bits) {
    std::string p;
    if (start < 0 || oldFrames < 0 || newFrames < 0 || (newFrames > 0 && left == nullptr) ||
        !covarne::platform::ToUtf8(path, &p))
        return -1;
    const int channels = right != nullptr ? 2 : 1;
    const long long d = static_cast<long long>(newFrames) - oldFrames;
    if (d != 0) {
        // Everything the overwrite would refuse is refused before the length changes, and
        // so is a file that cannot be looked at (a failure then must not skip the test).
        tagWAVEFILEHEADER2005 h;
        if (covarne::platform::Lookup(p) != Entry::File || _inspect(p.c_str(), &h) == 0 || h.channels != channels ||
            h.bitsPerSample != bits || !Converted(bits))
            return -1;
        const int r = d > 0 ? Insert(path, start, static_cast<int>(d)) : Delete(path, start, static_cast<int>(-d));
        if (r < 0) return -1;
    }
    return _overwrite(p.c_str(), left, right, channels, start, newFrames, sampleRate, bits, true);
}

int Covarne2005::SaveRep(wchar_t* path, double* samples, int start, int oldFrames, int newFrames, int sampleRate,
                         short bits) {
    return SaveRep(path, samples, nullptr, start, oldFrames, newFrames, sampleRate, bits);
}

// ---- raw image access ----

int Covarne2005::GetOffset(const char* path) {
    return _inspect(path, nullptr);
}

int Covarne2005::GetHeaderSz(const char* path) {
    return GetOffset(path);
}

int Covarne2005::GetImgSz(const char* path) {
    tagWAVEFILEHEADER2005 h;
    return _inspect(path, &h) == 0 ? 0 : h.dataSize;
}

void Covarne2005::GetHeader(const char* path, unsigned char* dst, int size) {
    if (dst == nullptr || size < 0) return;
    File file;
    if (path != nullptr && file.Open(path, OpenMode::Read) && _check_file(&file) != 0) {
        if (file.Seek(0)) file.Read(dst, size);
        return;
    }
    std::memset(dst, 0, static_cast<size_t>(size));
}

void Covarne2005::GetImg(const char* path, unsigned char* dst, int size) {
    if (dst == nullptr || size < 0) return;
    File file;
    // A valid file that is not usable has no image to give: zeros, like an invalid one.
    if (path != nullptr && file.Open(path, OpenMode::Read) && _check_file(&file) != 0) {
        const int offset = _get_wave_info(&file, nullptr);
        if (offset != 0) {
            if (file.Seek(offset)) file.Read(dst, size);
            return;
        }
    }
    std::memset(dst, 0, static_cast<size_t>(size));
}
