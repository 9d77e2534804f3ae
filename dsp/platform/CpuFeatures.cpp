#include "platform/CpuFeatures.h"

namespace vornix {

// The compiler's CPUID query also checks that the system saves the wide
// registers (XGETBV) before it reports AVX or AVX-512.
bool CpuRunsAvx2Fma() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

bool CpuRunsAvx512() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && CpuRunsAvx2Fma();
#else
    return false;
#endif
}

}  // namespace vornix
