// A default PCM that cannot be opened: every capture is refused at once, and
// ALSA's diagnostics stay off standard error.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <tamblo/CTamblo.h>
#include <tamblo/CTambloWindow.h>

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "AlsaFilePcm.h"

namespace {

std::int16_t Silence(long) { return 0; }

int g_hostMessages = 0;

void HostHandler(const char*, int, const char*, int, const char*, ...) { ++g_hostMessages; }

}  // namespace

TEST(AlsaRefused, RecReturnsAtOnceWithTheDestinationsUntouched) {
    CTamblo rec;
    std::vector<double> l(100, 7.0), r(100, 7.0);
    ::testing::internal::CaptureStderr();
    rec.Rec(l.data(), r.data(), 100, 8000);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    EXPECT_EQ(l, std::vector<double>(100, 7.0));
    EXPECT_EQ(r, std::vector<double>(100, 7.0));

    wchar_t text[256];
    int code = rec.GetLastError(text, 256);
    EXPECT_LT(code, 0);  // ALSA's own error number
    EXPECT_GT(std::wcslen(text), 0u);
    wchar_t cut[5];
    EXPECT_EQ(rec.GetLastError(cut, 5), code);
    EXPECT_EQ(std::wcslen(cut), 4u);
    EXPECT_EQ(std::wcsncmp(cut, text, 4), 0);
}

TEST(AlsaRefused, StreamOpensNothingAndStopReturns) {
    CTamblo rec;
    CTambloWindow window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    rec.Prepare(window.GetHwnd(), 100, 1, 16, 8000);
    EXPECT_NE(rec.GetLastError(nullptr, 0), 0);
    rec.Start();
    rec.Stop();
    EXPECT_EQ(window.Pump(50), 0);
}

TEST(AlsaRefused, AHostsOwnErrorHandlerIsKept) {
    snd_lib_error_set_handler(HostHandler);
    CTamblo rec;
    double x[10];
    rec.Rec(x, 10, 8000);
    EXPECT_EQ(snd_lib_error, HostHandler);
    EXPECT_GT(g_hostMessages, 0);
    snd_lib_error_set_handler(nullptr);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    AlsaFilePcm pcm(16, Silence, "  type hw\n  card 99");
    return RUN_ALL_TESTS();
}
