// The thread, event and window layer the recorder stands on.
#include <gtest/gtest.h>
#include <poll.h>
#include <tamblo/CTambloWindow.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/TambloEvent.h"
#include "platform/TambloLossClock.h"
#include "platform/TambloThread.h"
#include "platform/TambloWindow.h"

using namespace tamblo;

namespace {

class Recorder : public Thread {
public:
    Recorder() {
        MapMessage(100, &Recorder::OnValue);
        MapMessage(101, &Recorder::OnEnd);
    }
    std::vector<int> values;  // read only after the thread has ended

private:
    void OnValue(WPARAM w, LPARAM) { values.push_back(static_cast<int>(w)); }
    void OnEnd(WPARAM w, LPARAM) { EndThread(static_cast<int>(w)); }
};

}  // namespace

TEST(Thread, HandlesPostsInOrderFromSuspensionToEnd) {
    auto t = std::make_shared<Recorder>();
    ASSERT_TRUE(t->CreateThread("test"));
    ThreadId id = t->GetThreadId();
    EXPECT_TRUE(PostThreadMessage(id, 100, 1, 0));  // queued while suspended
    EXPECT_TRUE(PostThreadMessage(id, 999, 0, 0));  // not in the table: discarded
    EXPECT_TRUE(PostThreadMessage(id, 100, 2, 0));
    EXPECT_TRUE(PostThreadMessage(id, 101, 7, 0));
    EXPECT_TRUE(PostThreadMessage(id, 100, 3, 0));  // after the end: never handled
    EXPECT_FALSE(t->HasEnded());
    t->ResumeThread();
    ASSERT_TRUE(t->WaitEnded(5000));
    EXPECT_EQ(t->GetExitCode(), 7);
    EXPECT_EQ(t->values, (std::vector<int>{1, 2}));
    EXPECT_FALSE(PostThreadMessage(id, 100, 4, 0));
    EXPECT_FALSE(PostThreadMessage(0, 100, 4, 0));
}

TEST(Event, AutoResetsAndTimesOut) {
    Event ev;
    EXPECT_FALSE(ev.Wait(0));
    ev.Set();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));  // one Set releases one Wait
    ev.Set();
    ev.Reset();
    EXPECT_FALSE(ev.Wait(10));
    std::thread setter([&] { ev.Set(); });
    EXPECT_TRUE(ev.Wait(-1));
    setter.join();
}

TEST(Window, SendFromAnotherThreadRunsOnTheWindowsThread) {
    std::thread::id handledOn;
    CTambloWindow window([&](UINT m, WPARAM w, LPARAM l) -> LRESULT {
        handledOn = std::this_thread::get_id();
        return static_cast<LRESULT>(m + w + l);
    });
    HWND hWnd = window.GetHwnd();
    EXPECT_EQ(SendMessage(hWnd, 1, 2, 3), 6);  // own thread: direct call
    EXPECT_EQ(window.Pump(0), 0);

    std::atomic<LRESULT> result{0};
    std::thread sender([&] { result = SendMessage(hWnd, 10, 20, 30); });
    pollfd p{window.GetFd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);  // readable while the send waits
    EXPECT_EQ(window.Pump(0), 1);
    sender.join();
    EXPECT_EQ(result, 60);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_EQ(poll(&p, 1, 0), 0);

    int pumpedElsewhere = -1;
    std::thread([&] { pumpedElsewhere = window.Pump(0); }).join();
    EXPECT_EQ(pumpedElsewhere, 0);
}

TEST(Window, DestroyedWindowReleasesItsSendersAndItsHandle) {
    auto window = std::make_unique<CTambloWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
    HWND hWnd = window->GetHwnd();
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] { result = SendMessage(hWnd, 1, 0, 0); });
    pollfd p{window->GetFd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    window.reset();
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(SendMessage(hWnd, 1, 0, 0), 0);  // a stale handle names nothing
}

namespace {

// A device at `rate` frames/s whose clock runs `ppm` slow or fast, read in
// 20 ms steps; its buffer keeps the newest `buffer` frames.
struct SimulatedDevice {
    double rate;
    double ppm = 0;
    long buffer = 96000;
    double made = 0;   // frames the device's clock has made
    long read = 0;     // frames handed out
    long dropped = 0;  // frames the buffer could not keep

    long Waiting() const { return static_cast<long>(made) - read - dropped; }
    void Advance(double seconds) {
        made += seconds * rate * (1 + ppm * 1e-6);
        long over = Waiting() - buffer;
        if (over > 0) dropped += over;
    }
};

long RunClock(SimulatedDevice& dev, double seconds, double lateAt = -1, double lateFor = 0, bool delayOnly = false) {
    tamblo::LossClock clock(static_cast<unsigned>(dev.rate));
    long lost = 0;
    double t = 1000;
    bool late = false;
    for (double end = t + seconds; t < end; t += 0.02) {
        if (lateAt >= 0 && !late && t >= 1000 + lateAt) {
            late = true;
            if (delayOnly) {
                // The server is late: nothing arrives, then all of it.
                t += lateFor;
                long n = dev.Waiting();
                dev.read += n;
                lost += clock.Update(n, 0, t - lateFor);
                dev.Advance(lateFor);
                continue;
            }
            t += lateFor;
            dev.Advance(lateFor);
        }
        dev.Advance(0.02);
        long n = std::min<long>(dev.Waiting(), static_cast<long>(dev.rate * 0.02) * 4);
        dev.read += n;
        lost += clock.Update(n, dev.Waiting(), t);
    }
    return lost;
}

}  // namespace

TEST(LossClock, CountsOnlyFramesReallyLost) {
    SimulatedDevice steady{48000};
    EXPECT_EQ(RunClock(steady, 60), 0);

    SimulatedDevice slowClock{48000, -200};  // drifts against the system's clock
    EXPECT_EQ(RunClock(slowClock, 1200), 0);
    SimulatedDevice fastClock{48000, 200};
    EXPECT_EQ(RunClock(fastClock, 1200), 0);

    SimulatedDevice lateHost{48000};  // 5 s late with 2 s of buffer: 3 s lost
    long lost = RunClock(lateHost, 20, 5, 5);
    EXPECT_GT(lateHost.dropped, 0);
    EXPECT_NEAR(lost, lateHost.dropped, 48000 / 50);

    SimulatedDevice lateServer{48000};  // the frames come 0.4 s late, none lost
    EXPECT_EQ(RunClock(lateServer, 20, 5, 0.4, true), 0);
}
