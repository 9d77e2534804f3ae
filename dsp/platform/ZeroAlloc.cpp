#include "platform/ZeroAlloc.h"

#include <cstdlib>
#include <new>

namespace vornix {

void* ZeroAlloc(std::size_t bytes) {
    void* p = std::calloc(bytes ? bytes : 1, 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void ZeroFree(void* p) noexcept { std::free(p); }

}  // namespace vornix
