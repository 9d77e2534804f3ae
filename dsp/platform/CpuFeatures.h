// What the processor runs beyond the x86-64 baseline (instruction set and
// the operating system's support for its registers).
#ifndef VORNIX_PLATFORM_CPUFEATURES_H
#define VORNIX_PLATFORM_CPUFEATURES_H

namespace vornix {

bool CpuRunsAvx2Fma();
// AVX-512 Foundation (with AVX2 and FMA, which every such processor has).
bool CpuRunsAvx512();

}  // namespace vornix

#endif
