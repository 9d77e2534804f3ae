// Steps 2 and 3: the spectrum of one frame, and the spectrogram of the whole
// left channel, each frame conditioned the same way.
#include <vornix/CVornix.h>

#include <algorithm>
#include <cmath>

#include "Road.h"
#include "Svg.h"
#include "TestSignal.h"

namespace demo {

namespace {

constexpr double kEmphasis = 0.95;
constexpr int kHop = kFrameLength / 2;
constexpr int kBins = kFrameLength / 2;  // 0 Hz up to, not including, half the rate

// Pre-emphasis, periodic Hamming window, forward FFT (unnormalised) and the
// power of each bin in dB; the first kBins values of the result are kept.
std::vector<double> FrameSpectrum(CVornix& dsp, const double* samples) {
    std::vector<double> re(samples, samples + kFrameLength), im(kFrameLength, 0.0);
    dsp.Preemphasis(re.data(), kFrameLength, kEmphasis);
    dsp.Hamming(re.data(), kFrameLength);
    dsp.Fft(re.data(), im.data(), kFrameLength, true);
    dsp.CalcSpectrum(re.data(), im.data(), kFrameLength, false);
    re.resize(kBins);
    return re;
}

double BinHz(int k) { return static_cast<double>(k) * kRate / kFrameLength; }

// The top of a dB scale: the loudest value, up to the next 10 dB.
double Ceiling(double db) { return std::ceil(db / 10) * 10; }

}  // namespace

bool Analyse(Road& road) {
    CVornix dsp;

    const int at = kRate;  // the frame that starts one second in
    Step(2, "spectrum of the %d-sample frame at %.2f s: Preemphasis %.2f, Hamming, Fft, CalcSpectrum ...", kFrameLength,
         static_cast<double>(at) / kRate, kEmphasis);
    const std::vector<double> db = FrameSpectrum(dsp, road.left.data() + at);
    const int peak = static_cast<int>(std::max_element(db.begin() + 1, db.end()) - db.begin());
    Series line{{}, db, "#1f4e9c"};
    for (int k = 0; k < kBins; ++k) line.x.push_back(BinHz(k));
    const double top = Ceiling(db[peak]);
    const fs::path spectrum = Output(road, "spectrum.svg");
    if (!WriteLinePlot(spectrum, "Spectrum of the left channel, 512 samples at 1.00 s",
                       {"frequency (Hz)", 0, kRate / 2.0}, {"power (dB, unnormalised FFT)", top - 90, top}, {line}))
        return Fail("\ncannot write %s", spectrum.c_str());
    Done(" strongest bin %d (%.0f Hz) at %.1f dB -> %s", peak, BinHz(peak), db[peak], spectrum.c_str());

    const int frames = static_cast<int>((road.left.size() - kFrameLength) / kHop + 1);
    Step(3, "spectrogram of the left channel: %d frames of %d, hop %d ...", frames, kFrameLength, kHop);
    std::vector<std::vector<double>> cells;
    double loudest = -HUGE_VAL;
    for (int f = 0; f < frames; ++f) {
        cells.push_back(FrameSpectrum(dsp, road.left.data() + static_cast<size_t>(f) * kHop));
        loudest = std::max(loudest, *std::max_element(cells.back().begin(), cells.back().end()));
        Progress(f + 1, frames);
    }
    const fs::path spectrogram = Output(road, "spectrogram.svg");
    const double ceiling = Ceiling(loudest);
    const double seconds = static_cast<double>(road.left.size()) / kRate;
    if (!WriteHeatMap(spectrogram, "Spectrogram of the left channel", {"time (s)", 0, seconds},
                      {"frequency (Hz)", 0, kRate / 2.0}, {"dB", ceiling - 80, ceiling}, cells))
        return Fail("\ncannot write %s", spectrogram.c_str());
    Done(" -> %s", spectrogram.c_str());
    return true;
}

}  // namespace demo
