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

// Interleaves N = n/2 complex values from split arrays into a in bit-reversed
// order, conjugating them if conj: the copy and the permutation that a
// complex transform of the copy would make, in one pass. N >= 4. Writes the
// same offset table into ip as the engine's bit reversal.
void GatherBitReversed(int n, int* ip, const double* re, const double* im, double* a, bool conj);

}  // namespace vornix

#endif
