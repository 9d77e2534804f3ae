// Edits in place: appending, overwriting, inserting, deleting and replacing frames,
// and restating the rate. Each opens and inspects its file once.
#include <algorithm>
#include <cerrno>
#include <string>

#include "covarne/Covarne2005.h"
#include "detail/Convert.h"
#include "detail/Edit.h"
#include "detail/State.h"

using covarne::detail::Access;
using covarne::detail::Change;
using covarne::platform::File;
using covarne::platform::OpenMode;
namespace detail = covarne::detail;

namespace covarne {
namespace detail {

int Access::OpenForEdit(Covarne2005& w, const std::string& path, File* file, int channels, int bits) {
    if (!file->Open(path, OpenMode::Update)) {
        const int e = errno;
        if (e == ENOENT) return 0;
        if (e == EISDIR) return Refuse(w, kDirectory, "the path names a directory");
        Error(w).System("cannot open the file", e);
        return -1;
    }
    if (!Inspect(w, file, nullptr)) return -1;
    const Inspection& in = Last(w);
    if (!in.layoutOk)
        return Refuse(w, kBadLayout,
                      Format("the frames do not fit the format: block align %d for %d channels of %d bits",
                             in.blockAlign, in.channels, in.bits));
    if (!in.hasData) return Refuse(w, kNoData, "the file has no data chunk");
    if (channels > 0 && in.channels != channels)
        return Refuse(w, kChannels,
                      Format("channels do not match the file: %d given, %d in the file", channels, in.channels));
    if (channels > 0 && in.bits != bits)
        return Refuse(w, kBits, Format("bits do not match the file: %d given, %d in the file", bits, in.bits));
    return 1;
}

bool Access::Writable(Covarne2005& w, int bits) {
    if (CanWrite(bits)) return true;
    Refuse(w, kDepth, Format("%d-bit samples are not written; 8 and 16 bits are", bits));
    return false;
}

bool Access::OpenExisting(Covarne2005& w, const wchar_t* path, File* file, int channels, int bits) {
    std::string p;
    if (!Path(w, path, &p)) return false;
    const int open = OpenForEdit(w, p, file, channels, bits);
    if (open == 0) Refuse(w, kMissing, "no such file");
    return open > 0;
}

long long Access::Create(Covarne2005& w, const std::string& path, const double* left, const double* right, int channels,
                         int bits, int rate, long long leading, long long frames) {
    if (left != nullptr && !Writable(w, bits)) return -1;
    const Codec* codec = CodecFor(bits);
    tagWAVEFILEHEADER2005 h;
    const long long total = leading + frames;
    if (total * ((bits / 8) * channels) > kMaxData - 36)
        return Refuse(w, kTooLarge, "the file would pass the 2 GiB a WAV file can hold");
    w.MakeHeader(&h, static_cast<int>(total), static_cast<short>(channels), static_cast<short>(bits), rate);
    if (h.blockAlign <= 0) return Refuse(w, kDepth, Format("%d-bit samples have no whole-byte frames", bits));
    File file;
    if (!file.Open(path, OpenMode::Create)) {
        Error(w).System("cannot create the file", errno);
        return -1;
    }
    const Work work = WorkOf(w);
    const long long length = 44 + total * h.blockAlign;
    // The frames first and the header last: until it is written the file is no WAV file.
    bool ok = file.Reserve(0, length) && WriteZeros(file, 44, leading * h.blockAlign, work);
    if (ok && frames > 0)
        ok = left != nullptr
                 ? WriteFrames(file, 44 + leading * h.blockAlign, left, right, frames, h.blockAlign, *codec, work)
                 : WriteZeros(file, 44 + leading * h.blockAlign, frames * h.blockAlign, work);
    ok = ok && file.WriteAt(0, &h, sizeof h);
    if (ok && file.Close()) {
        Error(w).Clear();
        return total;
    }
    Error(w).System("cannot write the file", errno);
    // Only what this call created goes: through a symbolic link, its target.
    platform::RemoveCreated(path, file);
    return -1;
}

long long Access::Apply(Covarne2005& w, File* file, const Change& change) {
    const long long r = ApplyChange(*file, Last(w), change, WorkOf(w), &Error(w));
    const bool closed = file->Close();
    if (r < 0) return -1;
    if (!closed) return Error(w).System("cannot write the file", errno), -1;
    Error(w).Clear();
    return r;
}

}  // namespace detail
}  // namespace covarne

namespace {

const char kNegative[] = "a negative start or count";

// The frame count, or -1 with the reason already set.
int Result(long long r) { return r < 0 ? -1 : static_cast<int>(r); }

}  // namespace

int Covarne2005::SaveAdd(wchar_t* path, double* left, double* right, int frames, int sampleRate, short bits) {
    if (frames < 0 || (frames > 0 && left == nullptr))
        return Access::Refuse(*this, detail::kArgument, "a negative frame count, or no samples");
    if (!Access::Writable(*this, bits)) return -1;
    const detail::Codec* codec = detail::CodecFor(bits);
    const int channels = right != nullptr ? 2 : 1;
    std::string p;
    File file;
    if (!Access::Path(*this, path, &p)) return -1;
    const int open = Access::OpenForEdit(*this, p, &file, channels, bits);
    if (open < 0) return -1;
    if (open == 0) return Result(Access::Create(*this, p, left, right, channels, bits, sampleRate, 0, frames));
    Change c;
    c.at = Access::Last(*this).frames;
    c.frames = frames;
    c.left = left;
    c.right = right;
    c.codec = codec;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::SaveAdd(wchar_t* path, double* samples, int frames, int sampleRate, short bits) {
    return SaveAdd(path, samples, nullptr, frames, sampleRate, bits);
}

int Covarne2005::AddSilence(wchar_t* path, int frames) {
    if (frames < 0) return Access::Refuse(*this, detail::kArgument, "a negative frame count");
    File file;
    if (!Access::OpenExisting(*this, path, &file, 0, 0)) return -1;
    Change c;
    c.at = Access::Last(*this).frames;
    c.silence = frames;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::_save_over_write(wchar_t* path, double* left, double* right, int start, int count, int sampleRate,
                                  short bits, bool write) {
    if (start < 0 || count < 0) return Access::Refuse(*this, detail::kArgument, kNegative);
    if (write && count > 0 && left == nullptr) return Access::Refuse(*this, detail::kArgument, "no samples given");
    if (write && !Access::Writable(*this, bits)) return -1;
    const detail::Codec* codec = detail::CodecFor(bits);
    const int channels = right != nullptr ? 2 : 1;
    if (!write) left = right = nullptr;
    std::string p;
    File file;
    if (!Access::Path(*this, path, &p)) return -1;
    const int open = Access::OpenForEdit(*this, p, &file, channels, bits);
    if (open < 0) return -1;
    if (open == 0) {
        // Silence from the start of a file that does not exist has nothing to follow.
        if (!write && start <= 0) return Access::Refuse(*this, detail::kMissing, "no such file");
        return Result(Access::Create(*this, p, left, right, channels, bits, sampleRate, start, count));
    }
    const long long n = Access::Last(*this).frames;
    Change c;
    c.at = std::min<long long>(start, n);
    c.removed = std::min<long long>(count, n - c.at);
    c.silence = start - c.at;
    c.frames = count;
    c.left = left;
    c.right = right;
    c.codec = codec;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::SaveOW(wchar_t* path, double* left, double* right, int start, int count, int sampleRate, short bits) {
    return _save_over_write(path, left, right, start, count, sampleRate, bits, true);
}

int Covarne2005::SaveOW(wchar_t* path, double* samples, int start, int count, int sampleRate, short bits) {
    return _save_over_write(path, samples, nullptr, start, count, sampleRate, bits, true);
}

int Covarne2005::MakeSilence(wchar_t* path, int start, int count, short channels, int sampleRate, short bits) {
    if (start < 0 || count < 0) return Access::Refuse(*this, detail::kArgument, kNegative);
    if (channels != 1 && channels != 2) {
        Access::Refuse(*this, detail::kArgument,
                       detail::Format("%d channels given; silence is written for 1 or 2", channels));
        return channels;
    }
    double unread = 0.0;  // makes the channel count 2; never read
    return _save_over_write(path, nullptr, channels == 2 ? &unread : nullptr, start, count, sampleRate, bits, false);
}

int Covarne2005::SaveSr(wchar_t* path, int sampleRate) {
    if (sampleRate <= 0) return Access::Refuse(*this, detail::kArgument, "the rate must be above 0");
    File file;
    if (!Access::OpenExisting(*this, path, &file, 0, 0)) return -1;
    const detail::Inspection& in = Access::Last(*this);
    const long long at = in.fmtBody + 4;  // sample rate, then byte rate
    unsigned char b[8];
    if (file.ReadAt(at, b, 8) != 8) return m_pState->error.System("cannot read the file", errno), -1;
    const long long oldRate = static_cast<std::int32_t>(detail::Le32(b));
    const long long byteRate = static_cast<std::int32_t>(detail::Le32(b + 4));
    // The old rate is the result: a negative one could not be told from a failure.
    if (oldRate < 0) return Access::Refuse(*this, detail::kArgument, "the file states a negative rate");
    // The byte rate keeps its ratio to the rate; a stored rate of 0 has none, so it follows the frame size.
    const long long newByteRate =
        oldRate != 0 ? byteRate / oldRate * sampleRate : static_cast<long long>(in.blockAlign) * sampleRate;
    // Both fields in one write: a failure leaves the old pair or the new one.
    detail::PutLe32(b, static_cast<std::uint32_t>(sampleRate));
    detail::PutLe32(b + 4, static_cast<std::uint32_t>(newByteRate));
    const bool written = file.WriteAt(at, b, 8);
    const int error = errno;
    const bool closed = file.Close();
    if (!written || !closed) return m_pState->error.System("cannot write the file", written ? errno : error), -1;
    m_pState->error.Clear();
    return static_cast<int>(oldRate);
}

// ---- inserting, deleting, replacing ----

int Covarne2005::Insert(wchar_t* path, int start, int count) {
    if (start < 0 || count < 0) return Access::Refuse(*this, detail::kArgument, kNegative);
    File file;
    if (!Access::OpenExisting(*this, path, &file, 0, 0)) return -1;
    const long long n = Access::Last(*this).frames;
    Change c;
    c.at = std::min<long long>(start, n);
    // At or past the end nothing moves: the gap (and any frames up to it) is appended.
    c.silence = start - c.at + static_cast<long long>(count);
    if (start < n) c.cueShift = count;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::Delete(wchar_t* path, int start, int count) {
    if (start < 0 || count < 0) return Access::Refuse(*this, detail::kArgument, kNegative);
    File file;
    if (!Access::OpenExisting(*this, path, &file, 0, 0)) return -1;
    const long long n = Access::Last(*this).frames;
    if (start >= n)
        return Access::Refuse(*this, detail::kRange,
                              detail::Format("frame %d is not before the end (%lld frames)", start, n));
    Change c;
    c.at = start;
    c.removed = std::min<long long>(count, n - start);
    c.cueShift = -c.removed;
    c.cut = true;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::SaveRep(wchar_t* path, double* left, double* right, int start, int oldFrames, int newFrames,
                         int sampleRate, short bits) {
    if (start < 0 || oldFrames < 0 || newFrames < 0) return Access::Refuse(*this, detail::kArgument, kNegative);
    if (newFrames > 0 && left == nullptr) return Access::Refuse(*this, detail::kArgument, "no samples given");
    const long long d = static_cast<long long>(newFrames) - oldFrames;
    if (d == 0) return _save_over_write(path, left, right, start, newFrames, sampleRate, bits, true);
    if (!Access::Writable(*this, bits)) return -1;
    const detail::Codec* codec = detail::CodecFor(bits);
    File file;
    if (!Access::OpenExisting(*this, path, &file, right != nullptr ? 2 : 1, bits)) return -1;
    const long long n = Access::Last(*this).frames;
    if (d < 0 && start >= n)
        return Access::Refuse(*this, detail::kRange,
                              detail::Format("frame %d is not before the end (%lld frames)", start, n));
    // The insertion or deletion of |d| frames at `start`, then the new frames over
    // the range from `start`, done as one change.
    Change c;
    c.at = std::min<long long>(start, n);
    c.silence = start - c.at;
    c.removed = std::min<long long>(oldFrames, n - c.at);
    c.frames = newFrames;
    c.left = left;
    c.right = right;
    c.codec = codec;
    if (start < n) c.cueShift = d > 0 ? d : -std::min(-d, n - start);
    c.cut = d < 0;
    return Result(Access::Apply(*this, &file, c));
}

int Covarne2005::SaveRep(wchar_t* path, double* samples, int start, int oldFrames, int newFrames, int sampleRate,
                         short bits) {
    return SaveRep(path, samples, nullptr, start, oldFrames, newFrames, sampleRate, bits);
}

// ---- the copier and the zero writer, at the files' own positions ----

bool Covarne2005::_zero_img_copy(File* file, long long bytes) {
    const long long at = file->Tell();
    return at >= 0 && detail::WriteZeros(*file, at, bytes, Access::WorkOf(*this)) && file->Seek(at + bytes);
}

bool Covarne2005::_file_img_copy(File* dst, File* src, long long bytes) {
    const long long to = dst->Tell(), from = src->Tell();
    return to >= 0 && from >= 0 && detail::CopyBetween(*dst, to, *src, from, bytes, Access::WorkOf(*this)) &&
           dst->Seek(to + bytes) && src->Seek(from + bytes);
}

bool Covarne2005::_create_tmp_file_name(char* name, int room, File* file) { return file->OpenTemp(name, room); }
