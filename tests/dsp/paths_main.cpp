// Runs the Vornix tests on one path of the engine, named on the command line
// (--vornix-path=x86-64, avx2+fma or avx512); a path this processor cannot
// run skips every test, with the reason.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernels/Kernels.h"

namespace {

const vornix::Kernels* g_best = nullptr;

class ForcePath : public ::testing::Environment {
public:
    explicit ForcePath(std::string name) : m_name(std::move(name)) {}
    void SetUp() override {
        for (int p = 0; p < vornix::kPaths; p++) {
            const vornix::Kernels* k = vornix::KernelsFor(static_cast<vornix::Path>(p));
            if (k && m_name == k->name) {
                vornix::UseKernels(k);
                return;
            }
        }
        GTEST_SKIP() << "this processor does not run the " << m_name << " path";
    }
    void TearDown() override { vornix::UseKernels(nullptr); }

private:
    std::string m_name;
};

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
    for (int i = 1; i < argc; i++) {
        const char* flag = "--vornix-path=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            ::testing::AddGlobalTestEnvironment(new ForcePath(argv[i] + std::strlen(flag)));
    }
    return RUN_ALL_TESTS();
}
