// What a Covarne2005 object keeps beyond the fields of its header, and the steps
// its members share.
#ifndef COVARNE_DETAIL_STATE_H
#define COVARNE_DETAIL_STATE_H

#include <string>

#include "covarne/Covarne2005.h"
#include "detail/Copier.h"
#include "detail/Errors.h"
#include "detail/Format.h"
#include "platform/FileLayer.h"

namespace covarne {
namespace detail {

constexpr int kPathRoom = 260;  // characters of the mounted file's path, its terminator included

struct State {
    LastError error;
    Inspection last;  // the last inspection, whole
};

struct Change;

// How an edit may meet a missing path.
enum class Missing { Refuse, Create };

struct Access {
    static Work WorkOf(Covarne2005& w) { return {w.m_pZeroBlock, w.m_pCopyBuffer, w.m_nCopyBufferSize}; }
    static LastError& Error(Covarne2005& w) { return w.m_pState->error; }
    static const Inspection& Last(Covarne2005& w) { return w.m_pState->last; }
    // Inspects the open `file` into the object's last-inspected members. False with the reason.
    static bool Inspect(Covarne2005& w, platform::File* file, tagWAVEFILEHEADER2005* header);
    // Opens `path` for reading, or false with the reason.
    static bool OpenToRead(Covarne2005& w, const std::string& path, platform::File* file);
    // Opens and inspects `path`: the data offset, or 0 with the reason.
    static int InspectPath(Covarne2005& w, const std::string& path, tagWAVEFILEHEADER2005* header);
    // UTF-8 form of a path, or false with the reason.
    static bool Path(Covarne2005& w, const wchar_t* path, std::string* out);
    // Opens an existing file for an edit and inspects it: usable, a frame layout that
    // holds, a data chunk, and (channels > 0) the caller's channels and bits. 1 when
    // open, 0 when nothing has the name (missing), -1 refused with the reason.
    static int OpenForEdit(Covarne2005& w, const std::string& path, platform::File* file, int channels, int bits);
    // True when `bits`-bit samples can be written, else false with the reason.
    static bool Writable(Covarne2005& w, int bits);
    // OpenForEdit on a wide path whose file must exist.
    static bool OpenExisting(Covarne2005& w, const wchar_t* path, platform::File* file, int channels, int bits);
    // Creates `path` with a canonical header and `leading` silent frames followed by
    // `frames` frames (from `left`, or silent when it is null). The frame count, or -1;
    // on a failure nothing the call created stays.
    static long long Create(Covarne2005& w, const std::string& path, const double* left, const double* right,
                            int channels, int bits, int rate, long long leading, long long frames);
    // Applies `change` to the file just opened and inspected by OpenForEdit, and closes it.
    static long long Apply(Covarne2005& w, platform::File* file, const Change& change);
    // The last refusal: -1 with `code` and `text`.
    static int Refuse(Covarne2005& w, Code code, const std::string& text) {
        w.m_pState->error.Set(code, text);
        return -1;
    }
};

}  // namespace detail
}  // namespace covarne

#endif
