// Edits on a small file system that has no room for their growth: they fail with
// the reason before anything moves, and the file stays as it was. The file system
// is a tmpfs of 320 kB, mounted in a private mount namespace (root only).
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "WavFixture.h"

namespace wavtest {
namespace {

constexpr int kSkip = 77;

// Runs in the child: 0 when every edit failed cleanly, else the number of the first that did not.
int FillAndEdit(const std::string& dir) {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=320k") != 0)
        return kSkip;
    // Temporary files go to the large file system, where they fit.
    setenv("TMPDIR", dir.substr(0, dir.rfind('/')).c_str(), 1);
    const std::string path = dir + "/a.wav";
    std::vector<double> x(60000);
    for (int i = 0; i < 60000; ++i) x[i] = ((i * 37) % 1000) / 1000.0 - 0.5;
    Covarne2005 wav;
    std::wstring w(path.begin(), path.end());
    wav.Save(w.c_str(), x.data(), 60000, 8000);  // 120 kB
    if (wav.GetN(w.c_str()) != 60000) return 90;
    // Leave about 40 kB free.
    const int fill = open((dir + "/fill").c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char> block(4096, 1);
    while (write(fill, block.data(), block.size()) > 0) {
    }
    close(fill);
    truncate((dir + "/fill").c_str(), 0);
    std::vector<char> some(320 * 1024 - 120044 - 40 * 1024, 1);
    const int f2 = open((dir + "/fill").c_str(), O_WRONLY);
    if (write(f2, some.data(), some.size()) != static_cast<ssize_t>(some.size())) return 91;
    close(f2);

    FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<unsigned char> before(200000);
    before.resize(std::fread(before.data(), 1, before.size(), f));
    std::fclose(f);
    auto unchanged = [&] {
        FILE* g = std::fopen(path.c_str(), "rb");
        std::vector<unsigned char> now(200000);
        now.resize(std::fread(now.data(), 1, now.size(), g));
        std::fclose(g);
        return now == before;
    };
    wchar_t* p = &w[0];
    wchar_t text[100];
    const std::function<int()> edits[] = {
        [&] { return wav.Insert(p, 200, 48000); },  // moves in place
        [&] { return wav.Insert(p, 200, 30000); },  // parks the tail in a temporary file first
        [&] { return wav.AddSilence(p, 48000); },
        [&] { return wav.SaveAdd(p, x.data(), 48000, 8000, 16); },
        [&] { return wav.SaveRep(p, x.data(), 200, 10, 48000, 8000, 16); },
    };
    for (int k = 0; k < 5; ++k) {
        if (edits[k]() != -1) return 10 + k;
        if (!unchanged()) return 20 + k;
    }
    if (wav.GetLastError(text, 100) != 15 || std::wstring(text) != L"no space left on the device") return 30;
    wav.Save(w.c_str(), x.data(), x.data(), 60000, 16, 8000);  // twice as long
    if (!unchanged()) return 31;
    if (wav.GetLastError(nullptr, 0) != 15) return 32;
    return 0;
}

TEST_F(WavTest, NoRoomForTheGrowthMovesNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const std::string dir = Path("small");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(FillAndEdit(dir));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << "this machine does not let a test mount a tmpfs";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see FillAndEdit for the step";
}

}  // namespace
}  // namespace wavtest
