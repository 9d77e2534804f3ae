// Runs the Vornix tests on one path of the engine, named on the command line
// (--vornix-path=x86-64, avx2+fma or avx512); on a path this processor
// cannot run, every test reports a skip with the reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "kernels/Kernels.h"

namespace {

const vornix::Kernels* g_best = nullptr;

// The kernels named `name`, if this processor runs them.
const vornix::Kernels* Named(const std::string& name) {
    for (int p = 0; p < vornix::kPaths; p++) {
        const vornix::Kernels* k = vornix::KernelsFor(static_cast<vornix::Path>(p));
        if (k && name == k->name) return k;
    }
    return nullptr;
}

}  // namespace

// The path chosen without a hook is the widest one the processor runs.
TEST(Paths, DefaultIsTheWidestThisProcessorRuns) {
    ASSERT_NE(g_best, nullptr);
    vornix::Path expected = vornix::Path::kBaseline;
    for (int p = 0; p < vornix::kPaths; p++)
        if (vornix::KernelsFor(static_cast<vornix::Path>(p))) expected = static_cast<vornix::Path>(p);
    EXPECT_EQ(g_best->path, expected) << g_best->name;
}

int main(int argc, char** argv) {
    g_best = &vornix::ActiveKernels();
    ::testing::InitGoogleTest(&argc, argv);
    const char* flag = "--vornix-path=";
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) != 0) continue;
        const std::string name = argv[i] + std::strlen(flag);
        const vornix::Kernels* k = Named(name);
        if (!k) {
            // CTest reads this line as a skip.
            std::printf("[  SKIPPED ] this processor does not run the %s path\n", name.c_str());
            return 0;
        }
        vornix::UseKernels(k);
    }
    return RUN_ALL_TESTS();
}
