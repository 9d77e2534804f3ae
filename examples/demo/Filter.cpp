// Steps 6 and 7: a band-pass around the test tone, saved, and the envelope of
// the filtered left channel from its analytic signal.
#include <covarne/Covarne2005.h>
#include <vornix/CVornix.h>

#include <algorithm>
#include <cmath>

#include "Road.h"
#include "Svg.h"
#include "TestSignal.h"

namespace demo {

namespace {

constexpr int kTaps = 255;  // odd: a symmetric filter, delay kTaps / 2 samples
constexpr double kLow = kToneHz - 200, kHigh = kToneHz + 200, kAttenuation = 60;
constexpr int kHilbertLength = 32768;  // the power of two that holds two seconds

}  // namespace

bool Filter(Road& road) {
    CVornix dsp;
    const int frames = static_cast<int>(road.left.size());
    const int delay = kTaps / 2;
    Step(6, "FirFilter band-pass %.0f-%.0f Hz, %d taps, %.0f dB: delay %d samples (%.1f ms) ...", kLow, kHigh, kTaps,
         kAttenuation, delay, 1000.0 * delay / kRate);
    for (int c = 0; c < 2; ++c) {
        road.filtered[c] = c == 0 ? road.left : road.right;
        dsp.FirFilter(road.filtered[c].data(), frames, kTaps, kLow, kHigh, kRate, kAttenuation, band_pass);
        Progress(c + 1, 2);
    }
    const fs::path filtered = Output(road, "filtered.wav");
    Covarne2005 wav;
    wav.Save(Wide(filtered).c_str(), road.filtered[0].data(), road.filtered[1].data(), frames, 16, kRate);
    if (wav.GetN(Wide(filtered).c_str()) != frames) return Fail("\ncannot write %s", filtered.c_str());
    Done(" -> %s", filtered.c_str());

    Step(7, "Hilbert envelope of the filtered left channel (%d points) ...", kHilbertLength);
    std::vector<double> re(kHilbertLength, 0.0), im(kHilbertLength), power(kHilbertLength);
    std::copy(road.filtered[0].begin(), road.filtered[0].end(), re.begin());
    dsp.Hilbert(re.data(), im.data(), kHilbertLength);
    dsp.CalcHilbertPower(re.data(), im.data(), kHilbertLength, power.data());

    // Every 10th sample of the envelope; the signal itself as the extremes of
    // each block of 10, drawn as a band behind it.
    Series signal{{}, {}, "#9ab8e0", 1.0}, envelope{{}, {}, "#b3261e", 2.0};
    double lo = HUGE_VAL, hi = 0;
    for (int i = 0; i + 10 <= frames; i += 10) {
        const auto [mn, mx] = std::minmax_element(road.filtered[0].begin() + i, road.filtered[0].begin() + i + 10);
        const double t = static_cast<double>(i) / kRate;
        signal.x.insert(signal.x.end(), {t, t + 5.0 / kRate});
        signal.y.insert(signal.y.end(), {*mn, *mx});
        const double e = std::sqrt(power[i]);
        envelope.x.push_back(t);
        envelope.y.push_back(e);
        // The swing of the envelope away from the filter's start and the block's end.
        if (i >= frames / 8 && i < frames - frames / 8) {
            lo = std::min(lo, e);
            hi = std::max(hi, e);
        }
    }
    const double top = std::max(0.1, std::ceil(hi * 10 + 0.5) / 10);
    const fs::path picture = Output(road, "envelope.svg");
    if (!WriteLinePlot(picture, "Band-passed left channel and its Hilbert envelope",
                       {"time (s)", 0, frames / double(kRate)}, {"amplitude", -top, top}, {signal, envelope}))
        return Fail("\ncannot write %s", picture.c_str());
    Done(" between %.3f and %.3f -> %s", lo, hi, picture.c_str());
    return true;
}

}  // namespace demo
