// Runs a fuzz target's entry point once on every saved input, so that each
// seed and each input that once crashed stays a test of the ordinary build.
// With no arguments it replays the corpus folder the build names; arguments
// name further files or folders.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv) {
    std::vector<fs::path> roots;
    for (int i = 1; i < argc; ++i) roots.emplace_back(argv[i]);
    if (roots.empty()) roots.emplace_back(FUZZ_CORPUS_DIR);

    int replayed = 0;
    bool ok = true;
    for (const auto& root : roots) {
        std::error_code ec;
        if (fs::is_directory(root, ec)) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(root))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                ok = Replay(f) && ok;
                ++replayed;
            }
        } else {
            ok = Replay(root) && ok;
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    // An empty corpus means the seeds went missing: that is a failure too.
    return ok && replayed > 0 ? 0 : 1;
}
