#include "TestSignal.h"

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace demo {

double TestSignal(long frame, int channel) {
    const double t = static_cast<double>(frame) / kRate;
    const double tone = std::sin(2 * M_PI * kToneHz * t);
    if (channel == 1) return 0.35 * tone + 0.3 * std::sin(2 * M_PI * 500 * t);
    const double wobble = 1 + 0.8 * std::sin(2 * M_PI * kWobbleHz * t);
    // The whistle rises from 2 kHz to 6 kHz over two seconds (phase of a linear chirp).
    const double whistle = std::sin(2 * M_PI * (2000 * t + 1000 * t * t));
    return 0.3 * wobble * tone + 0.15 * std::sin(2 * M_PI * 200 * t) + 0.1 * whistle;
}

FileCapture::FileCapture(double seconds) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/kit-demo-alsa.XXXXXX";
    if (!::mkdtemp(templ.data())) return;
    m_dir = templ;
    m_raw = m_dir + "/signal.raw";
    m_conf = m_dir + "/asound.conf";

    const long frames = static_cast<long>(seconds * kRate);
    std::vector<unsigned char> raw(static_cast<size_t>(frames) * 4);
    for (long i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            const auto s = static_cast<std::int16_t>(std::lround(TestSignal(i, c) * 32767));
            raw[4 * i + 2 * c] = static_cast<unsigned char>(s & 0xFF);
            raw[4 * i + 2 * c + 1] = static_cast<unsigned char>((s >> 8) & 0xFF);
        }
    FILE* f = std::fopen(m_raw.c_str(), "wb");
    if (!f) return;
    bool ok = std::fwrite(raw.data(), 1, raw.size(), f) == raw.size();
    ok = std::fclose(f) == 0 && ok;
    f = std::fopen(m_conf.c_str(), "w");
    if (!f) return;
    // The machine's own configuration first, then "default" replaced for this process.
    ok = std::fprintf(f,
                      "</usr/share/alsa/alsa.conf>\n"
                      "pcm.!default {\n"
                      "  type file\n"
                      "  slave.pcm \"null\"\n"
                      "  file \"/dev/null\"\n"
                      "  infile \"%s\"\n"
                      "  format \"raw\"\n"
                      "}\n",
                      m_raw.c_str()) > 0 &&
         ok;
    ok = std::fclose(f) == 0 && ok;
    m_ok = ok && ::setenv("ALSA_CONFIG_PATH", m_conf.c_str(), 1) == 0;
}

FileCapture::~FileCapture() {
    if (m_dir.empty()) return;
    std::remove(m_raw.c_str());
    std::remove(m_conf.c_str());
    ::rmdir(m_dir.c_str());
}

}  // namespace demo
