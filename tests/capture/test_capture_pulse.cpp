// Capture from a real PulseAudio server, through ALSA's "default" PCM and
// the pulse plugin, as users meet it: a player plays a signal in which every
// frame names its position into a null sink, and the recorder records the
// sink's monitor. Tests that freeze or kill the server start one of their own.
#include <dirent.h>

#include "LiveThreads.h"
#include "PulseServer.h"
#include "StreamHost.h"
#ifdef TAMBLO_TEST_GLIB
#include <glib-unix.h>
#include <glib.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>
#include <vector>

namespace {

constexpr int kSignalSeconds = 30;
constexpr double kUntouched = 7.0;
constexpr int kTimedOut = 8;
constexpr int kStopped = 9;

long MsSince(std::chrono::steady_clock::time_point t0) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
}

std::vector<std::int16_t> Interleave(const std::vector<double>& l, const std::vector<double>& r, int ch, long n) {
    std::vector<std::int16_t> out;
    for (long i = 0; i < n; ++i) {
        out.push_back(static_cast<std::int16_t>(std::lround(l[i] * 32768.0)));
        if (ch == 2) out.push_back(static_cast<std::int16_t>(std::lround(r[i] * 32768.0)));
    }
    return out;
}

// Skips unless the shared server runs; points the process at it.
#define NEED_SERVER(rate, channels)                                       \
    do {                                                                  \
        std::string why = pulse::Missing(pulse::Env("TAMBLO_PULSE_DIR")); \
        if (!why.empty()) GTEST_SKIP() << why;                            \
        pulse::Use(pulse::Env("TAMBLO_PULSE_DIR"), rate, channels);       \
    } while (0)

#define NEED_PRIVATE_SERVER(server, rate, channels)                           \
    do {                                                                      \
        NEED_SERVER(rate, channels);                                          \
        if (!(server).Up()) GTEST_SKIP() << "a private server did not start"; \
        pulse::Use((server).Dir(), rate, channels);                           \
    } while (0)

// Waits up to 2 s for the capture's threads to end.
// A stereo 48 kHz Rec that ended early: the frames it says it stored are the
// played signal, exact and contiguous; the rest of the destinations is untouched.
void ExpectCutShort(CTamblo& rec, const std::vector<double>& l, const std::vector<double>& r) {
    const int n = static_cast<int>(l.size());
    const int stored = rec.GetRecordedFrames();
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, n);
    pulse::Check c = pulse::Verify(Interleave(l, r, 2, stored), 2, 48000L * kSignalSeconds);
    EXPECT_EQ(c.unknown, 0);
    EXPECT_EQ(c.breaks, 0);
    EXPECT_EQ(c.silence + c.frames, stored);
    for (int i = stored; i < n; ++i)
        ASSERT_TRUE(l[i] == kUntouched && r[i] == kUntouched) << "frame " << i << " was never captured";
}

void ExpectNothingLeft() {
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
}

struct Format {
    int rate;
    int channels;
};

class PulseRec : public ::testing::TestWithParam<Format> {};

}  // namespace

TEST_P(PulseRec, ExactAndContiguous) {
    const Format f = GetParam();
    NEED_SERVER(f.rate, f.channels);
    pulse::Player player(pulse::Env("TAMBLO_PULSE_DIR"), f.rate, f.channels, kSignalSeconds);
    const long n = f.rate * 5 / 2;  // 2.5 s: three blocks, the last one partly stored
    std::vector<double> l(n + 8, kUntouched), r(n + 8, kUntouched);
    CTamblo rec;
    rec.Rec(l.data(), f.channels == 2 ? r.data() : nullptr, static_cast<int>(n), static_cast<short>(f.channels), 16,
            f.rate);
    ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(rec.GetRecordedFrames(), n);
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
    pulse::Check c = pulse::Verify(Interleave(l, r, f.channels, n), f.channels, f.rate * kSignalSeconds);
    EXPECT_EQ(c.unknown, 0);
    EXPECT_EQ(c.breaks, 0);
    EXPECT_LT(c.silence, n / 2);
    EXPECT_EQ(c.silence + c.frames, n);
    EXPECT_EQ(l[n], kUntouched);
    EXPECT_EQ(r[n], kUntouched);
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Formats, PulseRec,
                         ::testing::Values(Format{16000, 1}, Format{44100, 2}, Format{48000, 1}, Format{48000, 2}),
                         [](const ::testing::TestParamInfo<Format>& p) {
                             return std::to_string(p.param.rate) + "x" + std::to_string(p.param.channels);
                         });

// A stream of 20 ms blocks driven by poll, with a host that is now and then
// late (less than the device's buffer holds): every frame exact, in order.
TEST(PulseStream, ExactAndContiguousWithASlowHost) {
    NEED_SERVER(48000, 2);
    pulse::Player player(pulse::Env("TAMBLO_PULSE_DIR"), 48000, 2, kSignalSeconds);
    CTamblo rec;
    StreamHost host(rec, 960, 2);
    host.onBlock = [&] {
        if (host.indices.size() % 40 == 20) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    };
    rec.Prepare(host.window.GetHwnd(), 960, 2, 16, 48000);
    rec.Start();
    host.PumpUntil(150, 3000);  // 3 s of audio
    rec.Stop();
    ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
    ASSERT_GE(host.indices.size(), 150u);
    for (size_t k = 0; k < host.indices.size(); ++k) ASSERT_EQ(host.indices[k], static_cast<int>(k % 2));
    long n = static_cast<long>(host.left.size());
    pulse::Check c = pulse::Verify(Interleave(host.left, host.right, 2, n), 2, 48000L * kSignalSeconds);
    EXPECT_EQ(c.unknown, 0);
    EXPECT_EQ(c.breaks, 0);
    EXPECT_EQ(c.silence + c.frames, n);
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
    ExpectNothingLeft();
}

// A stream driven by a GLib main loop watching the window's descriptor.
TEST(PulseStream, ExactAndContiguousFromAGLibMainLoop) {
#ifndef TAMBLO_TEST_GLIB
    GTEST_SKIP() << "built without GLib (Debian package libglib2.0-dev)";
#else
    NEED_SERVER(44100, 2);
    pulse::Player player(pulse::Env("TAMBLO_PULSE_DIR"), 44100, 2, kSignalSeconds);
    CTamblo rec;
    StreamHost host(rec, 4410, 2);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    struct Ctx {
        StreamHost* host;
        GMainLoop* loop;
    } ctx{&host, loop};
    guint watch = g_unix_fd_add(
        host.window.GetFd(), G_IO_IN,
        [](gint, GIOCondition, gpointer p) -> gboolean {
            auto* c = static_cast<Ctx*>(p);
            c->host->window.Pump(0);
            if (c->host->indices.size() >= 25) g_main_loop_quit(c->loop);
            return G_SOURCE_CONTINUE;
        },
        &ctx);
    guint guard = g_timeout_add_seconds(
        10,
        [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    rec.Prepare(host.window.GetHwnd(), 4410, 2, 16, 44100);
    rec.Start();
    g_main_loop_run(loop);
    g_source_remove(watch);
    if (host.indices.size() < 25) g_source_remove(guard);
    g_main_loop_unref(loop);
    rec.Stop();
    ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
    ASSERT_GE(host.indices.size(), 25u);
    long n = static_cast<long>(host.left.size());
    pulse::Check c = pulse::Verify(Interleave(host.left, host.right, 2, n), 2, 44100L * kSignalSeconds);
    EXPECT_EQ(c.unknown + c.breaks, 0);
    EXPECT_EQ(c.silence + c.frames, n);
#endif
}

// The server killed mid-Rec: Rec ends at once with the frames delivered so
// far, and counts no frame lost (none was).
TEST(PulseServerGone, KilledMidRec) {
    pulse::PrivateServer server("killed-rec");
    NEED_PRIVATE_SERVER(server, 48000, 2);
    pulse::Player player(server.Dir(), 48000, 2, kSignalSeconds);
    CTamblo rec;
    const int n = 48000 * 10;
    std::vector<double> l(n, kUntouched), r(n, kUntouched);
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        server.Kill();
    });
    auto t0 = std::chrono::steady_clock::now();
    rec.Rec(l.data(), r.data(), n, 48000);
    killer.join();
    EXPECT_LT(MsSince(t0), 6000);
    EXPECT_LT(rec.GetLastError(nullptr, 0), 0);  // ALSA's error, "Input/output error"
    ExpectCutShort(rec, l, r);
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
    ExpectNothingLeft();
}

TEST(PulseServerGone, KilledMidStream) {
    pulse::PrivateServer server("killed-stream");
    NEED_PRIVATE_SERVER(server, 48000, 2);
    pulse::Player player(server.Dir(), 48000, 2, kSignalSeconds);
    CTamblo rec;
    StreamHost host(rec, 4800, 2);
    rec.Prepare(host.window.GetHwnd(), 4800, 2, 16, 48000);
    rec.Start();
    host.PumpUntil(10, 3000);
    server.Kill();
    host.PumpUntil(1000, 1000);  // the stream ends by itself
    EXPECT_NE(rec.GetLastError(nullptr, 0), 0);
    rec.Stop();
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
    long n = static_cast<long>(host.left.size());
    pulse::Check c = pulse::Verify(Interleave(host.left, host.right, 2, n), 2, 48000L * kSignalSeconds);
    EXPECT_EQ(c.unknown, 0);
    EXPECT_EQ(c.breaks, 0);
    ExpectNothingLeft();
}

TEST(PulseServerGone, NoServerAtAll) {
    NEED_SERVER(16000, 1);
    setenv("PULSE_SERVER", ("unix:" + pulse::Env("TAMBLO_PULSE_DIR") + "/nothing-here").c_str(), 1);
    CTamblo rec;
    std::vector<double> x(1000, kUntouched);
    auto t0 = std::chrono::steady_clock::now();
    rec.Rec(x.data(), 1000, 16000);
    EXPECT_LT(MsSince(t0), 5000);
    EXPECT_NE(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(x, std::vector<double>(1000, kUntouched));
    ExpectNothingLeft();
}

// A Stop from another thread during a healthy Rec: Rec says it was cut
// short and how many frames it holds, all captured; the rest is untouched.
TEST(PulseRecStopped, StopFromAnotherThreadCutsRecShort) {
    NEED_SERVER(48000, 2);
    pulse::Player player(pulse::Env("TAMBLO_PULSE_DIR"), 48000, 2, kSignalSeconds);
    CTamblo rec;
    const int n = 48000 * 10;
    std::vector<double> l(n, kUntouched), r(n, kUntouched);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        rec.Stop();
    });
    rec.Rec(l.data(), r.data(), n, 48000);
    stopper.join();
    EXPECT_EQ(rec.GetLastError(nullptr, 0), kStopped);
    ExpectCutShort(rec, l, r);
    ExpectNothingLeft();
}

// A frozen server (SIGSTOP): Stop gives up after its time, and so does a
// Stop from another thread that ends a Rec, during the open too.
TEST(PulseServerFrozen, StopOfAStream) {
    pulse::PrivateServer server("frozen-stream");
    NEED_PRIVATE_SERVER(server, 48000, 2);
    pulse::Player player(server.Dir(), 48000, 2, kSignalSeconds);
    {
        CTamblo rec;
        StreamHost host(rec, 960, 2);
        rec.Prepare(host.window.GetHwnd(), 960, 2, 16, 48000);
        rec.Start();
        host.PumpUntil(10, 3000);
        server.Freeze();
        auto t0 = std::chrono::steady_clock::now();
        rec.Stop();
        EXPECT_LT(MsSince(t0), 3500);
        EXPECT_EQ(rec.GetLastError(nullptr, 0), kTimedOut);
        size_t blocks = host.indices.size();
        EXPECT_EQ(host.window.Pump(200), 0);
        EXPECT_EQ(host.indices.size(), blocks);
    }
    server.Resume();
    ExpectNothingLeft();
}

TEST(PulseServerFrozen, StopFromAnotherThreadEndsRec) {
    pulse::PrivateServer server("frozen-rec");
    NEED_PRIVATE_SERVER(server, 48000, 2);
    pulse::Player player(server.Dir(), 48000, 2, kSignalSeconds);
    for (bool beforeOpen : {false, true}) {
        SCOPED_TRACE(beforeOpen ? "frozen before the open" : "frozen while recording");
        CTamblo rec;
        const int n = 48000 * 10;
        std::vector<double> l(n, kUntouched), r(n, kUntouched);
        if (beforeOpen) server.Freeze();
        auto recording = std::async(std::launch::async, [&] { rec.Rec(l.data(), r.data(), n, 48000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(beforeOpen ? 500 : 2500));
        server.Freeze();
        auto t0 = std::chrono::steady_clock::now();
        rec.Stop();
        ASSERT_EQ(recording.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_LT(MsSince(t0), 3500);
        int code = rec.GetLastError(nullptr, 0);
        EXPECT_TRUE(code == kStopped || code == kTimedOut) << code;
        const int stored = rec.GetRecordedFrames();
        if (beforeOpen) {
            EXPECT_EQ(stored, 0);
        }
        pulse::Check c = pulse::Verify(Interleave(l, r, 2, stored), 2, 48000L * kSignalSeconds);
        EXPECT_EQ(c.unknown + c.breaks, 0);
        for (int i = stored; i < n; ++i) ASSERT_TRUE(l[i] == kUntouched && r[i] == kUntouched) << "frame " << i;
        server.Resume();
    }
    ExpectNothingLeft();
}

// Many short captures on the real server leave no thread or descriptor.
TEST(PulseCycles, HundredPrepareStartStop) {
    NEED_SERVER(48000, 2);
    const int fds = OpenFds();
    {
        CTamblo rec;
        StreamHost host(rec, 480, 2);
        for (int cycle = 0; cycle < 100; ++cycle) {
            rec.Prepare(host.window.GetHwnd(), 480, 2, 16, 48000);
            ASSERT_EQ(rec.GetLastError(nullptr, 0), 0) << "cycle " << cycle;
            rec.Start();
            host.window.Pump(cycle % 4 == 0 ? 30 : 0);
            rec.Stop();
            ASSERT_EQ(rec.GetLastError(nullptr, 0), 0) << "cycle " << cycle;
        }
    }
    ExpectNothingLeft();
    EXPECT_EQ(OpenFds(), fds);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
