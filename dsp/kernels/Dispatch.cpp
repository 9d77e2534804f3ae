// Chooses the kernels once, on the first transform, from the processor's
// features: the widest path it runs.
#include "kernels/Kernels.h"
#include "platform/CpuFeatures.h"

namespace vornix {

const Kernels* KernelsFor(Path path) {
    switch (path) {
        case Path::kBaseline:
            return &kKernelsBaseline;
#if VORNIX_X86_PATHS
        case Path::kAvx2:
            return CpuRunsAvx2Fma() ? &kKernelsAvx2 : nullptr;
        case Path::kAvx512:
            return CpuRunsAvx512() ? &kKernelsAvx512 : nullptr;
#endif
        default:
            return nullptr;
    }
}

namespace {

const Kernels* Best() {
    if (const Kernels* k = KernelsFor(Path::kAvx512)) return k;
    if (const Kernels* k = KernelsFor(Path::kAvx2)) return k;
    return &kKernelsBaseline;
}

const Kernels*& Active() {
    static const Kernels* active = Best();
    return active;
}

}  // namespace

const Kernels& ActiveKernels() { return *Active(); }

#ifdef VORNIX_TEST_HOOKS
void UseKernels(const Kernels* kernels) { Active() = kernels ? kernels : Best(); }
#endif

}  // namespace vornix
