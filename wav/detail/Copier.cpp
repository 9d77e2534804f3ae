#include "detail/Copier.h"

#include <algorithm>
#include <cstring>

#include "platform/FileLayer.h"

namespace covarne {
namespace detail {

using platform::File;

namespace {
constexpr long long kKernelStep = 65536;
}  // namespace

bool WriteZeros(File& file, long long at, long long bytes, const Work& work) {
    if (bytes < 0) return false;
    while (bytes > 0) {
        const long long n = std::min(bytes, work.size);
        if (!file.WriteAt(at, work.zero, n)) return false;
        at += n;
        bytes -= n;
    }
    return true;
}

bool CopyBetween(File& dst, long long dstAt, File& src, long long srcAt, long long bytes, const Work& work) {
    if (bytes < 0) return false;
    bool kernel = true;
    while (bytes > 0) {
        if (kernel) {
            const long long n = platform::CopyRange(dst, dstAt, src, srcAt, bytes);
            if (n > 0) {
                dstAt += n;
                srcAt += n;
                bytes -= n;
                continue;
            }
            // The source ended early (shorter than its header said): the rest is zeros.
            if (n == 0) return WriteZeros(dst, dstAt, bytes, work);
            if (n != platform::kCopyUnsupported) return false;
            kernel = false;
        }
        const long long n = std::min(bytes, work.size);
        const long long got = src.ReadAt(srcAt, work.copy, n);
        if (got < 0) return false;
        if (got < n) std::memset(work.copy + got, 0, static_cast<size_t>(n - got));
        if (!dst.WriteAt(dstAt, work.copy, n)) return false;
        dstAt += n;
        srcAt += n;
        bytes -= n;
    }
    return true;
}

bool MoveWithin(File& file, long long from, long long to, long long bytes, const Work& work) {
    if (bytes < 0 || from < 0 || to < 0) return false;
    if (from == to || bytes == 0) return true;
    bool kernel = true;
    auto pass = [&](long long src, long long dst, long long n) {
        // The kernel copies ranges of one file that do not overlap.
        while (kernel && n > 0 && (dst >= src + n || src >= dst + n)) {
            const long long k = platform::CopyRange(file, dst, file, src, n);
            if (k == platform::kCopyUnsupported || k == 0) {
                kernel = k != platform::kCopyUnsupported;
                break;
            }
            if (k < 0) return false;
            src += k;
            dst += k;
            n -= k;
        }
        if (n == 0) return true;
        const long long got = file.ReadAt(src, work.copy, n);
        if (got < 0) return false;
        if (got < n) std::memset(work.copy + got, 0, static_cast<size_t>(n - got));
        return file.WriteAt(dst, work.copy, n);
    };
    // Steps no longer than the distance let the kernel copy each one (the ranges do
    // not overlap); a short distance would make too many of them.
    const long long distance = to > from ? to - from : from - to;
    const long long step = distance >= kKernelStep ? std::min(work.size, distance) : work.size;
    if (to < from) {
        for (long long done = 0; done < bytes;) {
            const long long n = std::min(step, bytes - done);
            if (!pass(from + done, to + done, n)) return false;
            done += n;
        }
        return true;
    }
    for (long long left = bytes; left > 0;) {
        const long long n = std::min(std::min(step, distance), left);
        left -= n;
        if (!pass(from + left, to + left, n)) return false;
    }
    return true;
}

}  // namespace detail
}  // namespace covarne
