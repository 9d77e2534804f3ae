// Loading ranges of frames, and the mounted file with its window.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "covarne/Covarne2005.h"
#include "detail/Convert.h"
#include "detail/State.h"

using covarne::detail::Access;
using covarne::platform::Entry;
using covarne::platform::File;
namespace detail = covarne::detail;

namespace {

constexpr int kWindowFrames = 100000;

template <typename T>
void Deliver(const detail::Codec& codec, const unsigned char* in, long long frames, int align, T* left, T* right);
template <>
void Deliver(const detail::Codec& codec, const unsigned char* in, long long frames, int align, double* left,
             double* right) {
    codec.readDouble(in, frames, align, left, right);
}
template <>
void Deliver(const detail::Codec& codec, const unsigned char* in, long long frames, int align, short* left,
             short* right) {
    codec.readShort(in, frames, align, left, right);
}

}  // namespace

namespace covarne {
namespace detail {

// Both overloads of Load. The range is read a work block at a time and converted
// from it. A read that fails after the first block ends the load as the end of the
// file would: the frames read so far are delivered and counted, the rest of the
// range is zero-filled. A load that delivers nothing leaves the arrays untouched.
template <typename T>
int LoadRange(Covarne2005& w, const wchar_t* path, int start, int count, T* left, T* right) {
    std::string p;
    File file;
    if (!Access::Path(w, path, &p) || !Access::OpenToRead(w, p, &file) || !Access::Inspect(w, &file, nullptr)) return 0;
    const Inspection& in = Access::Last(w);
    if (!in.layoutOk)
        return Access::Refuse(w, kBadLayout,
                              Format("the frames do not fit the format: block align %d for %d channels of %d bits",
                                     in.blockAlign, in.channels, in.bits)),
               0;
    if (start < 0 || count < 0) return Access::Refuse(w, kArgument, "a negative start or count"), 0;
    if (start > in.frames)
        return Access::Refuse(w, kRange, Format("frame %d is past the end (%lld frames)", start, in.frames)), 0;
    long long frames = std::min<long long>(count, in.frames - start);
    if (frames <= 0) return 0;
    if (in.channels != 2) right = nullptr;
    const Codec* codec = CodecFor(in.bits);
    long long bytes = 0;
    if (CanRead(in.bits)) {
        const Work work = Access::WorkOf(w);
        const long long perPass = work.size / in.blockAlign;
        for (long long done = 0; done < frames;) {
            const long long n = std::min(perPass, frames - done);
            const long long want = n * in.blockAlign;
            const long long got = file.ReadAt(in.At(start + done), work.copy, want);
            if (got < 0) {
                Access::Error(w).System("cannot read the file", errno);
                if (done == 0) return 0;
                frames = done;
                break;
            }
            // A file shorter than its header says: the missing bytes read as zeros.
            if (got < want) std::memset(work.copy + got, 0, static_cast<size_t>(want - got));
            Deliver(*codec, work.copy, n, in.blockAlign, left == nullptr ? nullptr : left + done,
                    right == nullptr ? nullptr : right + done);
            done += n;
        }
        bytes = frames * in.blockAlign;
    } else {
        Access::Refuse(w, kDepth, Format("%d-bit samples are not converted; 8 and 16 bits are", in.bits));
    }
    if (frames < count) {
        if (left != nullptr) std::fill(left + frames, left + count, T(0));
        if (right != nullptr) std::fill(right + frames, right + count, T(0));
    }
    return static_cast<int>(bytes);
}

}  // namespace detail
}  // namespace covarne

int Covarne2005::Load(const wchar_t* path, int start, int count, double* left, double* right) {
    return detail::LoadRange(*this, path, start, count, left, right);
}

int Covarne2005::Load(const wchar_t* path, int start, int count, short* left, short* right) {
    return detail::LoadRange(*this, path, start, count, left, right);
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
    if (path == nullptr) return Access::Refuse(*this, detail::kNoPath, "no path given"), false;
    if (m_szMountPath[0] != 0) return Access::Refuse(*this, detail::kMounted, "a file is already mounted"), false;
    if (std::wcslen(path) >= static_cast<size_t>(detail::kPathRoom))
        return Access::Refuse(*this, detail::kNoPath, "the path is longer than 259 characters"), false;
    tagWAVEFILEHEADER2005 h;
    if (GetWaveInfo(path, &h) == 0) return false;
    const detail::Inspection& in = Access::Last(*this);
    if (!in.layoutOk) return Access::Refuse(*this, detail::kBadLayout, "the frames do not fit the format"), false;
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
    std::fill(m_szMountPath, m_szMountPath + detail::kPathRoom, L'\0');
    m_hdrMount = tagWAVEFILEHEADER2005();
    m_nMountFrames = 0;
    m_nWinCapacity = 0;
    m_pWinLeft = nullptr;
    m_pWinRight = nullptr;
    m_nWinFirst = -1;
    m_nWinLast = -1;
    m_pState->error.Clear();
}

double Covarne2005::GetValue(int index, short channel) {
    if (index < 0 || index >= m_nMountFrames) {
        Access::Refuse(*this, detail::kRange,
                       m_nMountFrames == 0 ? "nothing is mounted" : "the frame is outside the file");
        return 0.0;
    }
    m_pState->error.Clear();
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
