// Steps 4 and 5: the recording kept in a WAV file, asked for its length and
// rate, and loaded back.
#include <covarne/Covarne2005.h>

#include <cmath>

#include "Road.h"
#include "TestSignal.h"

namespace demo {

bool Store(Road& road) {
    Covarne2005 wav;
    const int frames = static_cast<int>(road.left.size());
    road.recording = Output(road, "recording.wav");
    const std::wstring path = Wide(road.recording);

    Step(4, "Save %s: %d frames, 16 bits, %d frames/s ...", road.recording.c_str(), frames, kRate);
    wav.Save(path.c_str(), road.left.data(), road.right.data(), frames, 16, kRate);
    const int n = wav.GetN(path.c_str()), sr = wav.GetSr(path.c_str());
    if (n != frames || sr != kRate)
        return Fail("\n%s holds %d frames at %d frames/s, not what was saved", road.recording.c_str(), n, sr);
    Done(" GetN %d frames, GetSr %d frames/s", n, sr);

    Step(5, "Load %s back ...", road.recording.c_str());
    std::vector<double> left(frames), right(frames);
    const int bytes = wav.Load(path.c_str(), 0, frames, left.data(), right.data());
    if (bytes != frames * 4) return Fail("\nLoad gave %d bytes, not %d", bytes, frames * 4);
    // Written as x * 32760 (truncated), read as s / 32768: what comes back is
    // x * 32760 / 32768 less a fraction of one step of 1/32768.
    double worst = 0;
    for (int c = 0; c < 2; ++c) {
        const std::vector<double>& x = c == 0 ? road.left : road.right;
        const std::vector<double>& y = c == 0 ? left : right;
        for (int i = 0; i < frames; ++i) worst = std::fmax(worst, std::fabs(y[i] - x[i] * 32760 / 32768));
    }
    if (!(worst < 1.0 / 32768))
        return Fail("\na sample came back %.3g away from the written value, more than 1/32768", worst);
    Done(" %d bytes; every sample is x * 32760/32768 to under one step of 1/32768 (at most %.4f of one)", bytes,
         worst * 32768);
    return true;
}

}  // namespace demo
