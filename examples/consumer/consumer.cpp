// Uses each of the three installed libraries once: the spectrum of a tone
// (Vornix), the tone kept in a WAV file and read back (Covarne), and the
// recorder's version (Tamblo, which needs no sound device for that).
#include <covarne/Covarne2005.h>
#include <tamblo/CTamblo.h>
#include <vornix/CVornix.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int n = 1024, rate = 16000;
    const int bin = 64;  // the tone sits on one bin: 64 * 16000 / 1024 = 1000 Hz
    std::vector<double> x(n), re(n), im(n, 0.0);
    for (int i = 0; i < n; ++i) x[i] = re[i] = 0.5 * std::sin(2 * M_PI * bin * i / n);

    CVornix dsp;
    dsp.Fft(re.data(), im.data(), n, true);
    dsp.CalcSpectrum(re.data(), im.data(), n, false);
    int peak = 0;
    for (int k = 1; k < n / 2; ++k)
        if (re[k] > re[peak]) peak = k;

    const std::string file = std::string(argc > 1 ? argv[1] : "consumer.wav");
    const std::wstring path(file.begin(), file.end());
    Covarne2005 wav;
    wav.Save(path.c_str(), x.data(), n, 16, rate);
    std::vector<double> back(n);
    const int bytes = wav.Load(path.c_str(), 0, n, back.data(), nullptr);
    double err = 0;
    // Written as x * 32760 truncated, read back as s / 32768.
    for (int i = 0; i < n; ++i) err = std::fmax(err, std::fabs(back[i] - x[i] * 32760 / 32768));

    CTamblo rec;
    const char* version = rec.GetVersion(0);

    std::printf(
        "peak at bin %d (%d Hz); %s holds %d frames at %d frames/s, read back within %.1e; "
        "WAV library %s, capture library %s\n",
        peak, peak * rate / n, file.c_str(), wav.GetN(path.c_str()), wav.GetSr(path.c_str()), err,
        wav.GetVersion(false), version);
    const bool ok = peak == bin && bytes == 2 * n && err < 1.0 / 32768 && std::strcmp(version, "1.1") == 0 &&
                    std::strcmp(wav.GetVersion(false), "1.0") == 0;
    if (!ok) std::fprintf(stderr, "consumer: the libraries did not answer as expected\n");
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
