#include "detail/Edit.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "detail/Convert.h"
#include "platform/FileLayer.h"

namespace covarne {
namespace detail {

using platform::File;

namespace {

// Below this distance the frames that move toward the end go through a temporary
// file: moved in place, they would take too many small steps.
constexpr long long kInPlaceDistance = 65536;
constexpr int kTempRoom = 4096;

long long MoveCue(long long p, long long at, long long shift) {
    if (shift > 0) return p >= at ? p + shift : p;
    if (p >= at - shift) return p + shift;
    return p >= at ? at : p;
}

// Moves the points of a cue chunk body (position and sample offset of each).
void ShiftCues(unsigned char* body, long long size, long long at, long long shift) {
    if (shift == 0 || size < 4) return;
    const long long count = Le32(body);
    for (long long i = 0; i < count && 4 + 24 * (i + 1) <= size; ++i) {
        unsigned char* point = body + 4 + 24 * i;
        for (int field : {4, 20})
            PutLe32(point + field, static_cast<std::uint32_t>(MoveCue(Le32(point + field), at, shift) & 0xFFFFFFFFLL));
    }
}

// Rewrites the data size for `frames` frames and the RIFF size for a file of
// `length` bytes, in one write with everything between them, so that a failure
// leaves the old header or the new one; with `change`, also the fact count and the
// cue points that stand before the data.
bool WriteHeader(File& file, const Inspection& in, long long frames, long long length, const Change* change,
                 const Work& work) {
    const auto dataSize = static_cast<std::uint32_t>(frames * in.blockAlign);
    const auto riffSize = static_cast<std::uint32_t>(length - 8);
    const long long span = in.dataOffset - 4;
    if (span > work.size) {
        unsigned char b[4];
        PutLe32(b, dataSize);
        if (!file.WriteAt(in.dataOffset - 4, b, 4)) return false;
        PutLe32(b, riffSize);
        return file.WriteAt(4, b, 4);
    }
    unsigned char* b = work.copy;
    if (file.ReadAt(4, b, span) != span) return false;
    PutLe32(b, riffSize);
    PutLe32(b + span - 4, dataSize);
    if (change != nullptr) {
        if (in.factCount > 0) PutLe32(b + in.factCount - 4, static_cast<std::uint32_t>(frames));
        for (const Chunk& c : in.chunks)
            if (c.id == FourCC("cue ") && c.at + 8 + static_cast<long long>(c.size) <= in.dataOffset - 8)
                ShiftCues(b + c.at + 8 - 4, c.size, change->at, change->cueShift);
    }
    return file.WriteAt(4, b, span);
}

// Moves the cue points of a cue chunk among the chunks from `at` (`bytes` long).
bool ShiftTailCues(File& file, long long at, long long bytes, const Change& change, const Work& work) {
    if (change.cueShift == 0) return true;
    unsigned char h[8];
    for (long long p = at; p + 8 <= at + bytes;) {
        if (file.ReadAt(p, h, 8) != 8) return false;
        const long long size = Le32(h + 4);
        if (std::memcmp(h, "cue ", 4) == 0 && size <= work.size && p + 8 + size <= at + bytes) {
            if (file.ReadAt(p + 8, work.copy, size) != size) return false;
            ShiftCues(work.copy, size, change.at, change.cueShift);
            if (!file.WriteAt(p + 8, work.copy, size)) return false;
        }
        p += 8 + size + (size & 1);
    }
    return true;
}

}  // namespace

bool WriteFrames(File& file, long long at, const double* left, const double* right, long long frames, int blockAlign,
                 const Codec& codec, const Work& work) {
    if (frames <= 0) return true;
    // Bytes of a frame that no sample fills are written as zeros.
    const int used = codec.bits / 8 * (right != nullptr ? 2 : 1);
    const long long perPass = work.size / blockAlign;
    for (long long done = 0; done < frames;) {
        const long long n = std::min(perPass, frames - done);
        if (used != blockAlign) std::memset(work.copy, 0, static_cast<size_t>(n * blockAlign));
        codec.write(work.copy, left + done, right == nullptr ? nullptr : right + done, n, blockAlign);
        if (!file.WriteAt(at + done * blockAlign, work.copy, n * blockAlign)) return false;
        done += n;
    }
    return true;
}

long long ApplyChange(File& file, const Inspection& in, const Change& c, const Work& work, LastError* error) {
    const long long align = in.blockAlign;
    const long long n = in.frames;
    const long long added = c.silence + c.frames;
    const long long total = n - c.removed + added;
    const bool tail = in.tailBytes > 0;
    const long long framesEnd = in.At(total);
    const long long tailAt = tail ? framesEnd + ((total * align) & 1) : 0;
    const long long length = tail ? tailAt + in.tailBytes : c.cut ? framesEnd : std::max(in.length, framesEnd);
    if (total * align > kMaxData || length - 8 > 0xFFFFFFFFLL) {
        error->Set(kTooLarge, "the file would pass the 2 GiB a WAV file can hold");
        return -1;
    }

    // The frames after the changed range, and how far they move.
    const long long moveFrom = in.At(c.at + c.removed);
    const long long moveTo = in.At(c.at + added);
    const long long moveBytes = (n - c.at - c.removed) * align;
    const bool moves = moveBytes > 0 && moveFrom != moveTo;
    auto fail = [&](const char* what) {
        error->System(what, errno);
        return -1LL;
    };

    // Room first: a full file system fails the edit before anything moves.
    if (length > in.length && !file.Reserve(in.length, length)) return fail("cannot make room in the file");

    File temp;
    char tempName[kTempRoom] = "";
    const bool viaTemp = moves && moveTo > moveFrom && moveTo - moveFrom < kInPlaceDistance;
    if (viaTemp) {
        if (!temp.OpenTemp(tempName, kTempRoom)) return fail("cannot create a temporary file");
        if (!CopyBetween(temp, 0, file, moveFrom, moveBytes, work)) {
            const long long r = fail("cannot copy the frames to a temporary file");
            temp.Close();
            platform::Remove(tempName);
            return r;
        }
    }
    // From here on the file changes. While frames move, the header counts only
    // those before the edit point; if the edit stops, the temporary file (when one
    // was used) holds the frames that moved, and is kept.
    const bool pureAppend = !tail && !moves && c.removed == 0 && c.at == n;
    bool ok = !moves || WriteHeader(file, in, c.at, in.dataOffset + c.at * align, nullptr, work);
    if (ok && tail && tailAt > in.tailAt) ok = MoveWithin(file, in.tailAt, tailAt, in.tailBytes, work);
    if (ok && moves)
        ok = viaTemp ? CopyBetween(file, moveTo, temp, 0, moveBytes, work)
                     : MoveWithin(file, moveFrom, moveTo, moveBytes, work);
    const bool moved = ok;
    if (ok) ok = WriteZeros(file, in.At(c.at), c.silence * align, work);
    if (ok && c.frames > 0)
        ok = c.left != nullptr ? WriteFrames(file, in.At(c.at + c.silence), c.left, c.right, c.frames,
                                             static_cast<int>(align), *c.codec, work)
                               : WriteZeros(file, in.At(c.at + c.silence), c.frames * align, work);
    if (ok && tail && tailAt < in.tailAt) ok = MoveWithin(file, in.tailAt, tailAt, in.tailBytes, work);
    if (ok && tail && tailAt > framesEnd) ok = file.WriteAt(framesEnd, work.zero, 1);
    if (ok && tail) ok = ShiftTailCues(file, tailAt, in.tailBytes, c, work);
    if (ok) ok = WriteHeader(file, in, total, length, &c, work);
    if (ok && length < in.length) ok = file.Truncate(length);
    long long result = total;
    if (!ok) {
        result = fail("cannot write the file");
        // An append that failed is cut back: the file is then the old one.
        if (pureAppend) file.Truncate(in.length);
    }
    if (viaTemp) {
        temp.Close();
        if (moved) platform::Remove(tempName);
    }
    return result;
}

}  // namespace detail
}  // namespace covarne
