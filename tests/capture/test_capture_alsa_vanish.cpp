// An ALSA input that vanishes mid-capture: "default" is a file PCM whose
// infile is a FIFO, and the writer closes it after a few blocks. ALSA's file
// PCM reports no error for that (it hands on frames it could not read, and a
// failed read of the infile only reaches ALSA's own diagnostics), so the
// capture goes on to its end: Rec returns with the delivered frames at their
// places, a stream stops on request, nothing is printed, nothing is left open.
// The infile is a link, pointed at the FIFO or at something else per test.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <future>
#include <thread>
#include <vector>

#include "AlsaFilePcm.h"
#include "LiveThreads.h"
#include "StreamHost.h"

namespace {

std::string g_fifo, g_link;

void PointInfileAt(const std::string& target) {
    unlink(g_link.c_str());
    ASSERT_EQ(symlink(target.c_str(), g_link.c_str()), 0);
}

std::int16_t FileSample(long n) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(n * 5 + 3)); }

std::int16_t Silence(long) { return 0; }

// Feeds `samples` samples into the FIFO once the capture opens it, then
// closes it (after `hold`, when given: until then the input stalls).
class Writer {
public:
    explicit Writer(long samples, std::future<void> hold = {}, std::promise<void>* drained = nullptr)
        : m_thread([samples, hold = std::move(hold), drained] {
              int fd = open(g_fifo.c_str(), O_WRONLY | O_CLOEXEC);
              if (fd < 0) return;
              std::vector<std::int16_t> data(static_cast<size_t>(samples));
              for (long n = 0; n < samples; ++n) data[n] = FileSample(n);  // little-endian like the machine
              const char* p = reinterpret_cast<const char*>(data.data());
              size_t left = data.size() * 2;
              while (left > 0) {
                  ssize_t w = write(fd, p, left);
                  if (w <= 0) break;
                  p += w;
                  left -= static_cast<size_t>(w);
              }
              if (drained) {  // once the capture has read everything
                  int queued;
                  while (ioctl(fd, FIONREAD, &queued) == 0 && queued > 0)
                      std::this_thread::sleep_for(std::chrono::milliseconds(2));
                  drained->set_value();
              }
              if (hold.valid()) hold.wait();
              close(fd);
          }) {}
    ~Writer() { m_thread.join(); }

private:
    std::thread m_thread;
};

constexpr double kUntouched = 99.0;
constexpr int kTimedOut = 8;  // the device did not respond in time

}  // namespace

TEST(AlsaVanish, RecReturnsWithTheFramesTheInputHad) {
    PointInfileAt(g_fifo);
    const int fds = OpenFds();
    CTamblo rec;
    std::vector<double> x(20000, kUntouched);
    ::testing::internal::CaptureStderr();
    {
        Writer writer(6000);
        rec.Rec(x.data(), 20000, 8000);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);  // ALSA tells nothing
    for (int i = 0; i < 6000; ++i) ASSERT_EQ(x[i], FileSample(i) / 32768.0) << "frame " << i;
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    EXPECT_EQ(OpenFds(), fds);
}

TEST(AlsaVanish, StreamGoesOnAndStops) {
    PointInfileAt(g_fifo);
    CTamblo rec;
    StreamHost host(rec, 400, 2);
    const int fds = OpenFds();  // the window's own is there
    {
        Writer writer(5 * 400 * 2);
        rec.Prepare(host.window.GetHwnd(), 400, 2, 16, 8000);
        ASSERT_EQ(rec.GetLastError(nullptr, 0), 0);
        rec.Start();
        host.PumpUntil(10);
        rec.Stop();
    }
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    ASSERT_GE(host.indices.size(), 10u);
    for (size_t i = 0; i < 5 * 400; ++i) {
        ASSERT_EQ(host.left[i], FileSample(2L * i) / 32768.0) << "frame " << i;
        ASSERT_EQ(host.right[i], FileSample(2L * i + 1) / 32768.0) << "frame " << i;
    }
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    EXPECT_EQ(OpenFds(), fds);
}

// The writer holds the FIFO open and writes nothing: ALSA's read blocks the
// device. Stop must not hang: it gives the device up, and the device thread
// closes it once the input ends.
TEST(AlsaVanish, StopWhileTheInputStallsDoesNotHang) {
    PointInfileAt(g_fifo);
    CTamblo rec;
    StreamHost host(rec, 400, 1);
    std::promise<void> release;
    {
        Writer writer(3 * 400, release.get_future());
        rec.Prepare(host.window.GetHwnd(), 400, 1, 16, 8000);
        rec.Start();
        host.PumpUntil(3);
        bool stalled = WaitForPipeRead("tamblo-device");
        if (!stalled) {
            release.set_value();
            rec.Stop();
            GTEST_SKIP() << "cannot see the device thread wait in its read (/proc/<tid>/wchan)";
        }
        auto t0 = std::chrono::steady_clock::now();
        rec.Stop();
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        EXPECT_EQ(rec.GetLastError(nullptr, 0), kTimedOut);
        EXPECT_LT(ms.count(), 5000);
        size_t blocks = host.indices.size();
        release.set_value();
        EXPECT_EQ(host.window.Pump(300), 0);  // the device was given up: nothing more comes
        EXPECT_EQ(host.indices.size(), blocks);
        rec.Stop();
        EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);  // told once
    }
    ASSERT_GE(host.indices.size(), 3u);
    for (size_t i = 0; i < 3 * 400; ++i)
        ASSERT_EQ(host.left[i], FileSample(static_cast<long>(i)) / 32768.0) << "frame " << i;
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
}

// The same stall under a blocking Rec: a Stop from another thread gives up
// on the held-up device, and Rec returns with the blocks handled so far; the
// frames that come once the input moves again are not written.
TEST(AlsaVanish, StopReleasesARecWhoseInputStalls) {
    PointInfileAt(g_fifo);
    CTamblo rec;
    std::vector<double> x(24000, kUntouched);  // three blocks of a second
    std::promise<void> release, drained;
    bool stalled = false;
    {
        Writer writer(8000, release.get_future(), &drained);
        std::thread stopper([&] {
            drained.get_future().wait();
            stalled = WaitForPipeRead("tamblo-device");
            if (stalled) rec.Stop();
            release.set_value();  // Rec returns by itself once the input ends
        });
        rec.Rec(x.data(), 24000, 8000);
        stopper.join();
    }
    if (!stalled) GTEST_SKIP() << "cannot see the device thread wait in its read (/proc/<tid>/wchan)";
    EXPECT_EQ(rec.GetLastError(nullptr, 0), kTimedOut);
    // The first block is there, or (when the worker had not handled it yet
    // at the Stop) wholly untouched.
    const bool first = x[0] != kUntouched;
    for (int i = 0; i < 8000; ++i) ASSERT_EQ(x[i], first ? FileSample(i) / 32768.0 : kUntouched) << "frame " << i;
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);  // the input ended: the device closed
    EXPECT_EQ(ThreadsLeft("tamblo-device", 0), 0);
    for (int i = 8000; i < 24000; ++i) ASSERT_EQ(x[i], kUntouched) << "frame " << i;
}

// An infile every read of which fails (a directory): ALSA reports it only to
// its diagnostics, which stay off standard error, and hands on silence.
TEST(AlsaVanish, InfileThatCannotBeReadGivesSilenceQuietly) {
    PointInfileAt("/");
    CTamblo rec;
    std::vector<double> x(12000, kUntouched);
    ::testing::internal::CaptureStderr();
    rec.Rec(x.data(), 12000, 8000);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(rec.GetLastError(nullptr, 0), 0);
    EXPECT_EQ(x, std::vector<double>(12000, 0.0));
    EXPECT_EQ(ThreadsLeft("tamblo-worker", 0), 0);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char dir[] = "/tmp/tamblo-fifo-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    g_fifo = std::string(dir) + "/in.fifo";
    g_link = std::string(dir) + "/in";
    if (mkfifo(g_fifo.c_str(), 0600) != 0) return 1;
    AlsaFilePcm pcm(
        0, Silence,
        "  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n  infile \"" + g_link + "\"\n  format \"raw\"");
    int result = RUN_ALL_TESTS();
    unlink(g_link.c_str());
    unlink(g_fifo.c_str());
    rmdir(dir);
    return result;
}
