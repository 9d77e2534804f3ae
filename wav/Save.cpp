// Converting arrays into sample images, and writing new files.
#include <cerrno>
#include <string>

#include "covarne/Covarne2005.h"
#include "detail/Convert.h"
#include "detail/Edit.h"
#include "detail/State.h"

using covarne::detail::Access;
using covarne::platform::File;
using covarne::platform::OpenMode;
namespace detail = covarne::detail;

void Covarne2005::MakeImage(unsigned char* image, double* left, double* right, int frames,
                            tagWAVEFILEHEADER2005* header) {
    if (image == nullptr || left == nullptr || header == nullptr || frames < 0) {
        Access::Refuse(*this, detail::kArgument, "no image, samples or header, or a negative frame count");
        return;
    }
    const int bits = header->bitsPerSample;
    if (!Access::Writable(*this, bits)) return;
    const detail::Codec* codec = detail::CodecFor(bits);
    // A frame must have room for the samples written into it.
    if (header->blockAlign < (bits / 8) * (right != nullptr ? 2 : 1)) {
        Access::Refuse(*this, detail::kBadLayout, "the header's frames have no room for the samples");
        return;
    }
    m_pState->error.Clear();
    codec->write(image, left, right, frames, header->blockAlign);
}

void Covarne2005::MakeImage(unsigned char* image, double* samples, int frames, tagWAVEFILEHEADER2005* header) {
    MakeImage(image, samples, nullptr, frames, header);
}

// Writes the header with no frames, the frames, then the header that counts them: a
// kill leaves the old file, one that counts no frames, or the new one. Room for the
// new length is reserved first, so that a full file system leaves the old file.
void Covarne2005::Save(const wchar_t* path, double* left, double* right, int frames, int bits, int sampleRate) {
    if (frames < 0 || (frames > 0 && left == nullptr)) {
        Access::Refuse(*this, detail::kArgument, "a negative frame count, or no samples");
        return;
    }
    if (!Access::Writable(*this, bits)) return;
    const detail::Codec* codec = detail::CodecFor(bits);
    tagWAVEFILEHEADER2005 h;
    MakeHeader(&h, frames, right != nullptr ? 2 : 1, static_cast<short>(bits), sampleRate);
    const long long length = static_cast<long long>(sizeof h) + static_cast<long long>(frames) * h.blockAlign;
    if (length - 44 > detail::kMaxData - 36) {
        Access::Refuse(*this, detail::kTooLarge, "the file would pass the 2 GiB a WAV file can hold");
        return;
    }
    std::string p;
    if (!Access::Path(*this, path, &p)) return;
    const bool existed = covarne::platform::Lookup(p) != covarne::platform::Entry::Missing;
    File file;
    if (!file.Open(p, OpenMode::Replace)) {
        if (errno == EISDIR)
            Access::Refuse(*this, detail::kDirectory, "the path names a directory");
        else
            m_pState->error.System("cannot open the file", errno);
        return;
    }
    const detail::Work work = Access::WorkOf(*this);
    tagWAVEFILEHEADER2005 empty = h;
    empty.dataSize = 0;
    empty.riffSize = 36;
    const long long old = file.Length();
    bool ok = old >= 0 && file.Reserve(0, length);
    const bool touched = ok;
    ok = ok && file.WriteAt(0, &empty, sizeof empty) && (old <= length || file.Truncate(length)) &&
         detail::WriteFrames(file, sizeof h, left, right, frames, h.blockAlign, *codec, work) &&
         file.WriteAt(0, &h, sizeof h);
    if (ok) {
        ok = file.Close();
        if (ok)
            m_pState->error.Clear();
        else
            m_pState->error.System("cannot write the file", errno);
        return;
    }
    m_pState->error.System(touched ? "cannot write the file" : "cannot make room for the file", errno);
    // What the call created does not stay; an old file that was already overwritten is
    // emptied, which no reader takes for a WAV file.
    if (!existed) {
        covarne::platform::RemoveCreated(p, file);
    } else if (touched) {
        file.Truncate(0);
    }
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
