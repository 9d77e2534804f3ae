// The real ALSA path: "default" is a file PCM whose infile holds known samples.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "AlsaFilePcm.h"
#include "LiveThreads.h"
#include "StreamHost.h"

namespace {

// The file begins with the extremes of the conversion, then a ramp.
std::int16_t FileSample(long n) {
    static const std::int16_t head[] = {-32768, 0, 16384, 32767};
    return n < 4 ? head[n] : static_cast<std::int16_t>(static_cast<std::uint16_t>(n * 7 + 1));
}

double Converted(long n) { return FileSample(n) / 32768.0; }

constexpr long kFileSamples = 400000;

constexpr double kUntouched = 1234.5;

}  // namespace

TEST(AlsaRec, ConvertsSamplesExactly) {
    CTamblo rec;
    std::vector<double> x(8, kUntouched);
    rec.Rec(x.data(), 8, 8000);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(x[0], -1.0);
    EXPECT_EQ(x[1], 0.0);
    EXPECT_EQ(x[2], 0.5);
    EXPECT_EQ(x[3], 0.999969482421875);
}

// Rows of the block arithmetic at 8000 frames/s: every frame lands at its
// place, nothing past the length is written.
class AlsaRecRows : public ::testing::TestWithParam<int> {};

TEST_P(AlsaRecRows, MonoStoresExactlyTheFrames) {
    const int n = GetParam();
    CTamblo rec;
    std::vector<double> x(n + 16, kUntouched);
    rec.Rec(x.data(), n, 8000);
    ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
    for (int i = 0; i < n; ++i) ASSERT_EQ(x[i], Converted(i)) << "frame " << i;
    for (int i = n; i < n + 16; ++i) ASSERT_EQ(x[i], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Lengths, AlsaRecRows, ::testing::Values(0, 5000, 8000, 12000, 16000, 20000));

TEST(AlsaRec, StereoSplitsFramesAndASecondRecStartsAfresh) {
    CTamblo rec;
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> l(12000 + 4, kUntouched), r(12000 + 4, kUntouched);
        rec.Rec(l.data(), r.data(), 12000, 8000);
        ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
        for (int i = 0; i < 12000; ++i) {
            ASSERT_EQ(l[i], Converted(2L * i)) << "pass " << pass << " frame " << i;
            ASSERT_EQ(r[i], Converted(2L * i + 1)) << "pass " << pass << " frame " << i;
        }
        EXPECT_EQ(l[12000], kUntouched);
        EXPECT_EQ(r[12000], kUntouched);
    }
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
}

TEST(AlsaStream, EveryFrameOnceInOrderUntilStop) {
    CTamblo rec;
    StreamHost host(rec, 480, 2);
    rec.Prepare(host.window.GetHwnd(), 480, 2, 16, 48000);
    ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
    rec.Start();
    host.PumpUntil(40);
    ASSERT_GE(host.indices.size(), 40u);
    rec.Stop();  // on the window's thread: the blocks in flight are dropped
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    size_t blocks = host.indices.size();
    EXPECT_EQ(host.window.Pump(100), 0);  // nothing after Stop
    for (size_t k = 0; k < blocks; ++k) ASSERT_EQ(host.indices[k], static_cast<int>(k % 2)) << "block " << k;
    for (size_t i = 0; i < host.left.size(); ++i) {
        ASSERT_EQ(host.left[i], Converted(2L * i)) << "frame " << i;
        ASSERT_EQ(host.right[i], Converted(2L * i + 1)) << "frame " << i;
    }
}

TEST(AlsaStream, HandlerThatKeepsBuffersGetsTwoBlocks) {
    CTamblo rec;
    StreamHost host(rec, 1000, 1);
    host.giveBack = 0;
    rec.Prepare(host.window.GetHwnd(), 1000, 1, 16, 8000);
    rec.Start();
    host.PumpUntil(10, 300);
    EXPECT_EQ(host.indices, (std::vector<int>{0, 1}));
    for (size_t i = 0; i < host.left.size(); ++i) ASSERT_EQ(host.left[i], Converted(static_cast<long>(i)));
    rec.Stop();  // the device closed by itself: nothing to wait for
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
}

// A second Prepare without Stop stops the first capture: nothing of it is
// announced any more (the new one has not started), and no thread or
// descriptor of it is left, started or not.
TEST(AlsaLifetime, PrepareAgainStopsTheEarlierCapture) {
    const int fds = OpenFds();
    {
        CTamblo rec;
        StreamHost host(rec, 100, 1);
        rec.Prepare(host.window.GetHwnd(), 100, 1, 16, 8000);
        rec.Start();
        host.PumpUntil(2);
        // Stops the first capture. A block it had announced before may still
        // reach the handler while this call waits (it is a captured one); none
        // may come after it returns.
        rec.Prepare(host.window.GetHwnd(), 100, 1, 16, 8000);
        size_t blocks = host.indices.size();
        host.PumpUntil(blocks + 10, 300);
        EXPECT_EQ(host.indices.size(), blocks) << "blocks announced that were never captured";
        for (int i = 0; i < 4; ++i) rec.Prepare(host.window.GetHwnd(), 100, 1, 16, 8000);
    }
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    EXPECT_EQ(OpenFds(), fds);
}

// Deleting the recorder inside its own handler neither stalls the window's
// thread nor leaves the capture running.
TEST(AlsaLifetime, RecorderDeletedInsideItsHandler) {
    auto rec = std::make_unique<CTamblo>();
    long handlerMs = -1;
    CTambloWindow window([&](UINT message, WPARAM index, LPARAM) -> LRESULT {
        if (message == UM_BLOCK_READY && rec) {
            double x[100];
            rec->GetBuffer(static_cast<int>(index), x, nullptr);
            auto t0 = std::chrono::steady_clock::now();
            rec.reset();
            handlerMs = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
        }
        return 0;
    });
    rec->Prepare(window.GetHwnd(), 100, 1, 16, 8000);
    rec->Start();
    while (rec && window.Pump(1000) > 0) {
    }
    ASSERT_FALSE(rec);
    EXPECT_LT(handlerMs, 1000);
    EXPECT_EQ(window.Pump(200), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
}

// A window deleted inside its own handler, on its own thread, after the
// host's GetBuffer and Stop, while the worker still waits in its send
// (AddressSanitizer sees any use after the free; the race is narrow, so
// the scene is played many times).
TEST(AlsaLifetime, WindowDeletedInsideItsHandler) {
    for (int round = 0; round < 100; ++round) {
        CTamblo rec;
        std::unique_ptr<CTambloWindow> window;
        window = std::make_unique<CTambloWindow>([&](UINT message, WPARAM index, LPARAM) -> LRESULT {
            if (message == UM_BLOCK_READY) {
                double x[100];
                rec.GetBuffer(static_cast<int>(index), x, nullptr);
                rec.Stop();
                window.reset();
            }
            return 0;
        });
        rec.Prepare(window->GetHwnd(), 100, 1, 16, 8000);
        rec.Start();
        CTambloWindow* w = window.get();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (window && std::chrono::steady_clock::now() < deadline) w->Pump(100);
        ASSERT_FALSE(window) << "round " << round;
        rec.Stop();
    }
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    AlsaFilePcm pcm(kFileSamples, FileSample);
    return RUN_ALL_TESTS();
}
