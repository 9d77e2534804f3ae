// The engine's loops for AVX-512 (built with -mavx512f -mfma).
#include "kernels/Passes.h"

namespace vornix {
const Kernels kKernelsAvx512 = MakeKernels<V8>(Path::kAvx512, "avx512");
}
