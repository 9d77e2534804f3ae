// Sizes of the processing object's work areas, all set by the largest
// complex transform of NMAX points.
#ifndef VORNIX_CVORNIXENGINE_H
#define VORNIX_CVORNIXENGINE_H

#include <cstddef>

namespace vornix {

constexpr int kNMax = 65536;                    // largest complex transform, points
constexpr std::size_t kBufDoubles = 2 * kNMax;  // interleaving area: (re, im) pairs
constexpr std::size_t kWDoubles = kNMax / 2;    // twiddle table of an NMAX-point transform
constexpr std::size_t kIpInts = 2 + 256;        // 2 + sqrt(NMAX)

}  // namespace vornix

#endif
