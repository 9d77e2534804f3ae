// The object, the format queries, the canonical header and raw access to the bytes.
#include "covarne/Covarne2005.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "covarne_version.h"
#include "detail/State.h"
#include "platform/FileLayer.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the header record is written to disk as it lies in memory");

using covarne::detail::Access;
using covarne::platform::File;
using covarne::platform::OpenMode;
namespace detail = covarne::detail;

namespace {

constexpr int kBlockBytes = 1000000;

char g_szVersionNumeric[] = KIT_VERSION_COMPACT;
char g_szVersionText[] = KIT_VERSION_TEXT;

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
      m_pState(nullptr) {
    // calloc: the system's zero pages serve the zero block without being touched.
    std::unique_ptr<unsigned char, void (*)(void*)> zero(static_cast<unsigned char*>(std::calloc(kBlockBytes, 1)),
                                                         std::free);
    std::unique_ptr<unsigned char[]> copy(new unsigned char[kBlockBytes]);
    if (!zero) throw std::bad_alloc();
    m_pState = new detail::State();
    m_pZeroBlock = zero.release();
    m_pCopyBuffer = copy.release();
    covarne::platform::UseUserLocale();
}

Covarne2005::Covarne2005(const Covarne2005& other) : Covarne2005() { *this = other; }

Covarne2005::~Covarne2005() {
    UnMount();
    std::free(m_pZeroBlock);
    delete[] m_pCopyBuffer;
    delete m_pState;
}

// Copies the last inspection, the last error and the mount state; the copy gets
// blocks and windows of its own, so nothing is owned twice.
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
    *m_pState = *other.m_pState;
    UnMount();
    m_nDataOffset = other.m_nDataOffset;
    m_nFrames = other.m_nFrames;
    m_hdrLast = other.m_hdrLast;
    std::copy(other.m_szMountPath, other.m_szMountPath + detail::kPathRoom, m_szMountPath);
    m_hdrMount = other.m_hdrMount;
    m_nMountFrames = other.m_nMountFrames;
    m_nWinFirst = other.m_nWinFirst;
    m_nWinLast = other.m_nWinLast;
    m_nWinCapacity = other.m_nWinCapacity;
    m_pWinLeft = left.release();
    m_pWinRight = right.release();
    return *this;
}

int Covarne2005::GetLastError(wchar_t* text, int size) {
    m_pState->error.Copy(text, size);
    return m_pState->error.Code();
}

// ---- inspection ----

bool Access::Path(Covarne2005& w, const wchar_t* path, std::string* out) {
    if (platform::ToUtf8(path, out)) return true;
    w.m_pState->error.Set(kNoPath, path == nullptr ? "no path given" : "the path has a character without a UTF-8 form");
    return false;
}

bool Access::Inspect(Covarne2005& w, File* file, tagWAVEFILEHEADER2005* header) {
    Inspection& r = w.m_pState->last;
    if (!detail::Inspect(file, &r, &w.m_pState->error)) return false;
    w.m_hdrLast.fmtSize = static_cast<std::int32_t>(r.fmtSize);
    w.m_hdrLast.channels = static_cast<std::int16_t>(r.channels);
    w.m_hdrLast.sampleRate = r.rate;
    w.m_hdrLast.blockAlign = static_cast<std::int16_t>(r.blockAlign);
    w.m_hdrLast.bitsPerSample = static_cast<std::int16_t>(r.bits);
    w.m_hdrLast.dataSize = static_cast<std::int32_t>(r.dataSize);
    w.m_nFrames = static_cast<int>(r.frames);
    w.m_nDataOffset = static_cast<int>(r.dataOffset);
    if (header != nullptr)
        w.MakeHeader(header, w.m_nFrames, static_cast<short>(r.channels), static_cast<short>(r.bits), r.rate);
    return true;
}

int Covarne2005::_check_file(File* stream) {
    detail::Inspection r;
    if (stream == nullptr || !stream->IsOpen()) return 0;
    return detail::CheckWave(stream, &r, &m_pState->error) ? r.declared : 0;
}

int Covarne2005::_get_wave_info(File* stream, tagWAVEFILEHEADER2005* header) {
    if (stream == nullptr || !stream->IsOpen()) return 0;
    return Access::Inspect(*this, stream, header) ? m_nDataOffset : 0;
}

bool Access::OpenToRead(Covarne2005& w, const std::string& path, File* file) {
    if (file->Open(path, OpenMode::Read)) return true;
    const int e = errno;
    if (e == ENOENT) return Refuse(w, kMissing, "no such file"), false;
    if (e == EISDIR) return Refuse(w, kDirectory, "the path names a directory"), false;
    Error(w).System("cannot open the file", e);
    return false;
}

int Access::InspectPath(Covarne2005& w, const std::string& path, tagWAVEFILEHEADER2005* header) {
    File file;
    if (!OpenToRead(w, path, &file) || !Inspect(w, &file, header)) return 0;
    return w.m_nDataOffset;
}

// ---- queries ----

int Covarne2005::CheckFile(const wchar_t* path) {
    std::string p;
    File file;
    if (!Access::Path(*this, path, &p) || !Access::OpenToRead(*this, p, &file)) return 0;
    return _check_file(&file);
}

int Covarne2005::GetWaveInfo(const wchar_t* path, tagWAVEFILEHEADER2005* header) {
    std::string p;
    if (!Access::Path(*this, path, &p)) return 0;
    return Access::InspectPath(*this, p, header);
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

void Covarne2005::MakeHeader(tagWAVEFILEHEADER2005* header, int frames, short channels, short bits, int sampleRate) {
    m_pState->error.Clear();
    if (header == nullptr) return;
    // Arguments are not validated; the 32-bit fields wrap as the stored words do.
    const auto blockAlign = static_cast<std::int16_t>((bits / 8) * channels);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(frames) * static_cast<std::uint32_t>(blockAlign);
    header->riffId = detail::FourCC("RIFF");
    header->riffSize = static_cast<std::int32_t>(dataSize + 36u);
    header->waveId = detail::FourCC("WAVE");
    header->fmtId = detail::FourCC("fmt ");
    header->fmtSize = 16;
    header->formatTag = 1;
    header->channels = channels;
    header->sampleRate = sampleRate;
    header->byteRate =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(sampleRate) * static_cast<std::uint32_t>(blockAlign));
    header->blockAlign = blockAlign;
    header->bitsPerSample = bits;
    header->dataId = detail::FourCC("data");
    header->dataSize = static_cast<std::int32_t>(dataSize);
}

void Covarne2005::ResetHeader(tagWAVEFILEHEADER2005* header) { MakeHeader(header, 0, 1, 16, 48000); }

char* Covarne2005::GetVersion(bool numeric) {
    m_pState->error.Clear();
    return numeric ? g_szVersionNumeric : g_szVersionText;
}

void Covarne2005::_get_memory_2bytes(unsigned char* p, short* value) { *value = detail::Le16(p); }

void Covarne2005::_get_memory_4bytes(unsigned char* p, int* value) { *value = static_cast<int>(detail::Le32(p)); }

void Covarne2005::_set_memory_2bytes(unsigned char* p, short value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(static_cast<unsigned short>(value) >> 8);
}

void Covarne2005::_set_memory_4bytes(unsigned char* p, int value) {
    detail::PutLe32(p, static_cast<std::uint32_t>(value));
}

// ---- raw image access ----

int Covarne2005::GetOffset(const char* path) {
    if (path == nullptr) return Access::Refuse(*this, detail::kNoPath, "no path given"), 0;
    return Access::InspectPath(*this, path, nullptr);
}

int Covarne2005::GetHeaderSz(const char* path) { return GetOffset(path); }

int Covarne2005::GetImgSz(const char* path) {
    tagWAVEFILEHEADER2005 h;
    if (path == nullptr) return Access::Refuse(*this, detail::kNoPath, "no path given"), 0;
    return Access::InspectPath(*this, path, &h) == 0 ? 0 : h.dataSize;
}

void Covarne2005::GetHeader(const char* path, unsigned char* dst, int size) {
    if (dst == nullptr || size < 0) {
        Access::Refuse(*this, detail::kArgument, "no destination, or a negative size");
        return;
    }
    File file;
    if (path != nullptr && Access::OpenToRead(*this, path, &file) && _check_file(&file) != 0) {
        if (file.ReadAt(0, dst, size) < 0)
            m_pState->error.System("cannot read the file", errno);
        else
            m_pState->error.Clear();
        return;
    }
    if (path == nullptr) Access::Refuse(*this, detail::kNoPath, "no path given");
    std::memset(dst, 0, static_cast<size_t>(size));
}

void Covarne2005::GetImg(const char* path, unsigned char* dst, int size) {
    if (dst == nullptr || size < 0) {
        Access::Refuse(*this, detail::kArgument, "no destination, or a negative size");
        return;
    }
    File file;
    // A valid file that is not usable has no image to give: zeros, like an invalid one.
    if (path != nullptr && Access::OpenToRead(*this, path, &file) && _get_wave_info(&file, nullptr) != 0) {
        if (file.ReadAt(m_nDataOffset, dst, size) < 0) m_pState->error.System("cannot read the file", errno);
        return;
    }
    if (path == nullptr) Access::Refuse(*this, detail::kNoPath, "no path given");
    std::memset(dst, 0, static_cast<size_t>(size));
}
