// The recorder over the scripted device: what ALSA cannot be made to do on
// demand (refusals, a close that never comes, slow returns, overruns).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <future>
#include <thread>
#include <vector>

#include "LiveThreads.h"
#include "ScriptedBackend.h"
#include "StreamHost.h"
#include "platform/TambloWaveIn.h"

namespace {

constexpr double kUntouched = -77.0;

double Converted(long n) { return ScriptedSample(n) / 32768.0; }

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        UseScriptedBackend(script);
        // Devices close on their own threads: let the earlier tests' finish.
        ThreadsLeft("tamblo-worker", 0);
        ThreadsLeft("tamblo-device", 0);
        before = GetDeviceCounters();
        workers = LiveThreads("tamblo-worker");
    }
    void Use(const DeviceScript& s) { UseScriptedBackend(s); }
    int OpensSince() { return GetDeviceCounters().opens - before.opens; }
    // Devices still open, after up to 2 s for their threads to close them.
    int StillOpen() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            DeviceCounters now = GetDeviceCounters();
            int open = (now.opens - before.opens) - (now.closes - before.closes);
            if (open <= 0 || std::chrono::steady_clock::now() > deadline) return open;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    DeviceScript script;
    DeviceCounters before{};
    int workers = 0;
};

struct BadArguments {
    int length;
    short channels;
    short bits;
    int rate;
    bool right;
};

}  // namespace

TEST_F(Scripted, ArgumentsOutsideTheLimitsAreRefusedAndOpenNothing) {
    const BadArguments cases[] = {
        {100, 1, 16, 0, false},   {100, 1, 16, -8000, false}, {-1, 1, 16, 8000, false},
        {100, 1, 8, 8000, false}, {100, 3, 16, 8000, false},  {100, 0, 16, 8000, false},
        {100, 1, 16, 8000, true}, {100, 2, 16, 96000, true},  // 384000 bytes a second
    };
    CTamblo rec;
    for (const BadArguments& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.length << " frames, " << c.channels << " ch, " << c.bits << " bits, " << c.rate << " /s");
        std::vector<double> l(200, kUntouched), r(200, kUntouched);
        rec.Rec(l.data(), c.right ? r.data() : nullptr, c.length, c.channels, c.bits, c.rate);
        EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::MMSYSERR_INVALPARAM);
        EXPECT_EQ(l, std::vector<double>(200, kUntouched));
        EXPECT_EQ(r, std::vector<double>(200, kUntouched));
    }
    CTambloWindow window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    rec.Prepare(window.GetHwnd(), 48001, 2, 16, 48000);  // 192004 bytes a block
    EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::MMSYSERR_INVALPARAM);
    rec.Prepare(window.GetHwnd(), 100, 2, 16, 0);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::MMSYSERR_INVALPARAM);
    rec.Rec(nullptr, 100, 8000);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::MMSYSERR_INVALPARAM);
    EXPECT_EQ(OpensSince(), 0);
}

TEST_F(Scripted, RefusedOpenLeavesRecAtOnce) {
    script.openResult = -19;
    Use(script);
    CTamblo rec;
    std::vector<double> x(100, kUntouched);
    rec.Rec(x.data(), 100, 8000);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), -19);
    EXPECT_EQ(x, std::vector<double>(100, kUntouched));
    rec.Start();  // no live worker: nothing happens
    rec.AddBuffer();
    rec.GetBuffer(0, x.data(), nullptr);
    EXPECT_EQ(x, std::vector<double>(100, kUntouched));
}

TEST_F(Scripted, SlowReturnsStopDropsTheBlocksInFlight) {
    script.readMs = 20;
    Use(script);
    CTamblo rec;
    StreamHost host(rec, 80, 2);
    rec.Prepare(host.window.GetHwnd(), 80, 2, 16, 8000);
    rec.Start();
    host.PumpUntil(3);
    rec.Stop();
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(host.window.Pump(100), 0);
    EXPECT_EQ(host.indices, (std::vector<int>{0, 1, 0}));
    for (size_t i = 0; i < host.left.size(); ++i) {
        ASSERT_EQ(host.left[i], Converted(2L * i));
        ASSERT_EQ(host.right[i], Converted(2L * i + 1));
    }
    EXPECT_EQ(StillOpen(), 0);
}

// A Stop from another thread cuts a healthy Rec short: Rec says so, stores
// only frames the device captured, and leaves the rest untouched.
TEST_F(Scripted, StopFromAnotherThreadCutsRecShort) {
    script.readMs = 30;
    Use(script);
    CTamblo rec;
    const int n = 800 * 100;  // a hundred blocks of 100 ms, 3 s at the script's pace
    std::vector<double> x(n, kUntouched);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the recording is under way
        rec.Stop();
    });
    rec.Rec(x.data(), n, 800);
    stopper.join();
    wchar_t text[64];
    EXPECT_EQ(rec.GetLastError(text, 64), tamblo::WAVERR_STOPPED);
    EXPECT_STREQ(text, L"The recording was stopped before it was complete");
    const int stored = rec.GetRecordedFrames();
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, n);
    for (int i = 0; i < stored; ++i) ASSERT_EQ(x[i], Converted(i)) << "frame " << i;
    for (int i = stored; i < n; ++i) ASSERT_EQ(x[i], kUntouched) << "frame " << i << " was never captured";
    EXPECT_EQ(StillOpen(), 0);
}

TEST_F(Scripted, StopInsideTheHandlerReturnsAtOnce) {
    CTamblo rec;
    StreamHost host(rec, 50, 1);
    int stopErrors = -1;
    host.onBlock = [&] {
        if (host.indices.size() == 3) {
            rec.Stop();
            stopErrors = rec.GetLastError(nullptr, 0);
        }
    };
    rec.Prepare(host.window.GetHwnd(), 50, 1, 16, 8000);
    rec.Start();
    host.PumpUntil(100, 300);
    EXPECT_EQ(stopErrors, 0);
    EXPECT_EQ(host.indices.size(), 3u);
    rec.Stop();
    EXPECT_EQ(StillOpen(), 0);
}

TEST_F(Scripted, DeviceFailingMidRecordingEndsRecWithItsError) {
    script.failAfter = 16000;
    Use(script);
    CTamblo rec;
    std::vector<double> l(40000, kUntouched), r(40000, kUntouched);  // five blocks of a second
    rec.Rec(l.data(), r.data(), 40000, 8000);
    wchar_t text[64];
    EXPECT_EQ(rec.GetLastError(text, 64), -19);
    EXPECT_STREQ(text, L"No such device");
    EXPECT_EQ(rec.GetRecordedFrames(), 16000);
    for (int i = 0; i < 16000; ++i) {
        ASSERT_EQ(l[i], Converted(2L * i)) << i;
        ASSERT_EQ(r[i], Converted(2L * i + 1)) << i;
    }
    for (int i = 16000; i < 40000; ++i)
        ASSERT_TRUE(l[i] == kUntouched && r[i] == kUntouched) << "frame " << i << " was never recorded";
    EXPECT_EQ(StillOpen(), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-worker", workers), 0);
    rec.Rec(l.data(), 100, 8000);  // a new capture starts afresh
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(l[99], Converted(99));
}

TEST_F(Scripted, DeviceFailingMidStreamEndsTheStream) {
    script.failAfter = 300;
    script.readMs = 5;
    Use(script);
    CTamblo rec;
    StreamHost host(rec, 100, 1);
    rec.Prepare(host.window.GetHwnd(), 100, 1, 16, 8000);
    rec.Start();
    host.PumpUntil(100, 300);
    EXPECT_EQ(host.indices, (std::vector<int>{0, 1, 0}));  // the blocks the device could not fill are not announced
    for (size_t i = 0; i < host.left.size(); ++i) ASSERT_EQ(host.left[i], Converted(static_cast<long>(i)));
    EXPECT_EQ(StillOpen(), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-worker", workers), 0);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), -19);  // before the host's Stop
    rec.Start();
    rec.Stop();
    EXPECT_EQ(rec.GetLastError(nullptr, 0), -19);
    rec.Stop();  // told once
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
}

TEST_F(Scripted, OverrunsAreCounted) {
    script.lostPerRead = 10;
    Use(script);
    CTamblo rec;
    EXPECT_EQ(rec.GetDroppedFrames(), 0);
    std::vector<double> x(20000);
    rec.Rec(x.data(), 20000, 8000);  // three blocks of 8000 frames, one read each
    EXPECT_EQ(rec.GetDroppedFrames(), 30);
}

TEST_F(Scripted, DestroyingARunningStreamStopsAndWaits) {
    script.readMs = 5;
    Use(script);
    {
        CTamblo rec;
        StreamHost host(rec, 40, 1);
        rec.Prepare(host.window.GetHwnd(), 40, 1, 16, 8000);
        rec.Start();
        host.PumpUntil(2);
    }
    EXPECT_EQ(StillOpen(), 0);
}

TEST_F(Scripted, VersionAndEcho) {
    CTamblo rec;
    EXPECT_STREQ(rec.GetVersion(0), "1.1");
    EXPECT_STREQ(rec.GetVersion(1), "110");
    EXPECT_STREQ(rec.GetVersion(-1), "110");
    rec.EchoOff();
    rec.EchoOn();
    rec.Stop();  // never prepared
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
}

// Many short captures, back to back: no hang, no device left open.
TEST_F(Scripted, StressPrepareStartStopAndRec) {
    CTamblo rec;
    StreamHost host(rec, 16, 1);
    for (int cycle = 0; cycle < 500; ++cycle) {
        rec.Prepare(host.window.GetHwnd(), 16, 1, 16, 8000);
        rec.Start();
        host.window.Pump(cycle % 3 == 0 ? 1 : 0);
        rec.Stop();
        ASSERT_EQ(rec.GetLastError(nullptr, 0), 0) << "cycle " << cycle;
    }
    std::vector<double> x(40);
    for (int i = 0; i < 100; ++i) {
        rec.Rec(x.data(), 40, 8000);
        ASSERT_EQ(rec.GetLastError(nullptr, 0), 0) << "Rec " << i;
        ASSERT_EQ(x[39], Converted(39));
    }
    EXPECT_EQ(StillOpen(), 0);
}

namespace {

long MsSince(std::chrono::steady_clock::time_point t0) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
}

// Thaws the devices at the end of a test, whatever happened.
struct Thaw {
    ~Thaw() { FreezeDevices(false); }
};

}  // namespace

// A device that stops answering (a frozen sound server): Stop, the
// destructor and a Stop from another thread give up in their time.
TEST_F(Scripted, FrozenDeviceStopGivesUpInTime) {
    script.readMs = 200;  // the device holds a buffer when Stop comes
    Use(script);
    Thaw thaw;
    CTamblo rec;
    StreamHost host(rec, 100, 1);
    rec.Prepare(host.window.GetHwnd(), 100, 1, 16, 8000);
    rec.Start();
    host.PumpUntil(2);
    FreezeDevices(true);
    auto t0 = std::chrono::steady_clock::now();
    rec.Stop();
    EXPECT_LT(MsSince(t0), 3000);
    EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::WAVERR_TIMEDOUT);
    size_t blocks = host.indices.size();
    EXPECT_EQ(host.window.Pump(100), 0);  // nothing after a Stop, even one that gave up
    EXPECT_EQ(host.indices.size(), blocks);
    EXPECT_EQ(ThreadsLeft("tamblo-worker", workers), 0);
    FreezeDevices(false);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);  // the device finished on its own thread
    EXPECT_EQ(StillOpen(), 0);
}

TEST_F(Scripted, FrozenDeviceDestructorAndStartGiveUpInTime) {
    Thaw thaw;
    CTambloWindow window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    auto t0 = std::chrono::steady_clock::now();
    {
        CTamblo rec;
        rec.Prepare(window.GetHwnd(), 100, 1, 16, 8000);
        FreezeDevices(true);
        rec.Start();
        EXPECT_EQ(rec.GetLastError(nullptr, 0), tamblo::WAVERR_TIMEDOUT);
    }
    EXPECT_LT(MsSince(t0), 5000);  // Start's second, then the destructor's
    FreezeDevices(false);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    EXPECT_EQ(StillOpen(), 0);
}

TEST_F(Scripted, StopFromAnotherThreadReleasesRecOnAFrozenDevice) {
    Thaw thaw;
    for (bool beforeOpen : {false, true}) {
        SCOPED_TRACE(beforeOpen ? "frozen before the open" : "frozen while recording");
        script.readMs = 100;
        Use(script);
        CTamblo rec;
        std::vector<double> x(80000, kUntouched);
        if (beforeOpen) FreezeDevices(true);
        auto recording = std::async(std::launch::async, [&] { rec.Rec(x.data(), 80000, 8000); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        FreezeDevices(true);
        auto t0 = std::chrono::steady_clock::now();
        rec.Stop();
        ASSERT_EQ(recording.wait_for(std::chrono::seconds(4)), std::future_status::ready);
        EXPECT_LT(MsSince(t0), 3500);
        int code = rec.GetLastError(nullptr, 0);
        EXPECT_TRUE(code == tamblo::WAVERR_STOPPED || code == tamblo::WAVERR_TIMEDOUT) << code;
        int stored = rec.GetRecordedFrames();
        for (int i = 0; i < stored; ++i) ASSERT_EQ(x[i], Converted(i));
        for (int i = stored; i < 80000; ++i) ASSERT_EQ(x[i], kUntouched);
        FreezeDevices(false);
    }
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    EXPECT_LE(ThreadsLeft("tamblo-worker", workers), 0);
}
