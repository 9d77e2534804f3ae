// Step 1: two seconds of stereo from the default capture device, or from the
// generated test signal where no device opens.
#include <tamblo/CTamblo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cwchar>
#include <thread>

#include "Road.h"
#include "TestSignal.h"

namespace demo {

namespace {

// Rec blocks for the length of the recording; a ticker shows its progress.
int RecordWithProgress(CTamblo& rec, Road& road, wchar_t* error, int room) {
    const int frames = kSeconds * kRate;
    std::atomic<bool> finished{false};
    std::thread ticker([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            Progress(std::min<long>(static_cast<long>(s * 100), kSeconds * 100 - 1), kSeconds * 100);
        }
    });
    rec.Rec(road.left.data(), road.right.data(), frames, kRate);
    finished = true;
    ticker.join();
    return rec.GetLastError(error, room);
}

double Peak(const std::vector<double>& x) {
    double p = 0;
    for (double v : x) p = std::max(p, std::fabs(v));
    return p;
}

}  // namespace

bool Record(Road& road) {
    const int frames = kSeconds * kRate;
    road.left.assign(frames, 0.0);
    road.right.assign(frames, 0.0);
    CTamblo rec;
    wchar_t error[256] = L"";
    int code = -1;
    if (!road.testSignal) {
        Step(1, "recording %d s of stereo at %d frames/s from the default device ...", kSeconds, kRate);
        code = RecordWithProgress(rec, road, error, 256);
        if (code == 0) {
            Done(" done: %d frames, peaks %.3f left, %.3f right", frames, Peak(road.left), Peak(road.right));
            return true;
        }
        Done(" no capture device could be opened (%ls); recording the test signal through ALSA's file PCM instead",
             error);
    }
    // ALSA reads its configuration again when ALSA_CONFIG_PATH changes, so the
    // file PCM takes effect for the next open in this process.
    FileCapture file(kSeconds + 1.0);
    if (!file.ok()) return Fail("cannot set up ALSA's file PCM in the temporary folder");
    Step(1, "recording %d s of the test signal (%.0f Hz wobbling at %.0f Hz, 200 Hz hum, a whistle) ...", kSeconds,
         kToneHz, kWobbleHz);
    code = RecordWithProgress(rec, road, error, 256);
    if (code != 0) return Fail("\nthe recorder failed even on the file PCM: %ls (%d)", error, code);
    Done(" done: %d frames, peaks %.3f left, %.3f right", frames, Peak(road.left), Peak(road.right));
    return true;
}

}  // namespace demo
