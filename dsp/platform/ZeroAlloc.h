// Zero-filled memory for the processing object's work areas.
#ifndef VORNIX_PLATFORM_ZEROALLOC_H
#define VORNIX_PLATFORM_ZEROALLOC_H

#include <cstddef>

namespace vornix {

// Returns `bytes` zero-filled bytes; throws std::bad_alloc if they cannot be had.
void* ZeroAlloc(std::size_t bytes);
// Releases memory from ZeroAlloc; null is ignored.
void ZeroFree(void* p) noexcept;

}  // namespace vornix

#endif
