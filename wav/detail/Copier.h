// Moving bytes between and within files through the object's two work blocks.
#ifndef COVARNE_DETAIL_COPIER_H
#define COVARNE_DETAIL_COPIER_H

namespace covarne {
namespace platform {
class File;
}
namespace detail {

// The object's blocks: `zero` all zeros, `copy` scratch; `size` bytes each.
struct Work {
    const unsigned char* zero;
    unsigned char* copy;
    long long size;
};

// Writes `bytes` zero bytes at `at`.
bool WriteZeros(platform::File& file, long long at, long long bytes, const Work& work);

// Copies `bytes` bytes from `srcAt` in `src` to `dstAt` in `dst` (two files), by the
// kernel where it can. A source that ends early gives zeros for the missing bytes.
bool CopyBetween(platform::File& dst, long long dstAt, platform::File& src, long long srcAt, long long bytes,
                 const Work& work);

// Moves `bytes` bytes within one file from `from` to `to`. Toward the start it copies
// front to back; toward the end back to front, in steps no longer than the distance,
// so that at every instant each byte is at its old place or at its new one.
bool MoveWithin(platform::File& file, long long from, long long to, long long bytes, const Work& work);

}  // namespace detail
}  // namespace covarne

#endif
