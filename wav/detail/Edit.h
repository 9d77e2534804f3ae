// The one way the library changes the frames of an existing file: at frame `at`,
// `removed` frames go and `silence` + `frames` new frames take their place; the
// frames after them move, the chunks after the data follow the data's new end,
// and the header (sizes, fact count, cue points) then tells the truth.
#ifndef COVARNE_DETAIL_EDIT_H
#define COVARNE_DETAIL_EDIT_H

#include "detail/Copier.h"
#include "detail/Errors.h"
#include "detail/Format.h"

namespace covarne {
namespace detail {

struct Codec;

struct Change {
    long long at = 0;       // frame index, at most N
    long long removed = 0;  // frames from `at` that go (at + removed <= N)
    long long silence = 0;  // silent frames written at `at`
    long long frames = 0;   // then frames from the arrays, or silence when `left` is null
    const double* left = nullptr;
    const double* right = nullptr;
    const Codec* codec = nullptr;
    // How cue points move: frames inserted at `at` (> 0) or removed from it (< 0).
    long long cueShift = 0;
    bool cut = false;  // a file whose data is last ends right after its frames
};

// Applies `change` to `file`, inspected as `in`. The frame count afterwards, or -1
// with the reason in `error`. Chunks after the data are kept; at every instant the
// header counts only frames that are at their places (the old ones or the new ones).
long long ApplyChange(platform::File& file, const Inspection& in, const Change& change, const Work& work,
                      LastError* error);

// Converts `frames` frames into the file at `at`, a work block at a time.
bool WriteFrames(platform::File& file, long long at, const double* left, const double* right, long long frames,
                 int blockAlign, const Codec& codec, const Work& work);

}  // namespace detail
}  // namespace covarne

#endif
