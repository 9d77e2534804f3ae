// The engine's loops for AVX2 with FMA (built with -mavx2 -mfma).
#include "kernels/Passes.h"

namespace vornix {
const Kernels kKernelsAvx2 = MakeKernels<V4>(Path::kAvx2, "avx2+fma");
}
