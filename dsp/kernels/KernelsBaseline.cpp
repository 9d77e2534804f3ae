// The engine's loops for any x86-64 processor (SSE2, pairs of doubles).
#include "kernels/Passes.h"

namespace vornix {
const Kernels kKernelsBaseline = MakeKernels<V2>(Path::kBaseline, "x86-64");
}
