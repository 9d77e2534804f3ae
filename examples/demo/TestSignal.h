// The demo's generated test signal, and the ALSA set-up that lets the
// recorder capture it where no capture device can be opened.
#pragma once

#include <string>

namespace demo {

constexpr int kRate = 16000;      // frames per second of the whole road
constexpr double kToneHz = 1000;  // the tone the band-pass keeps
constexpr double kWobbleHz = 3;   // its amplitude modulation, which the envelope shows

// Sample `frame` of `channel` (0 left, 1 right), in -1 .. 1. Left: the
// modulated tone, a 200 Hz hum and a rising whistle; right: the tone and a
// 500 Hz note.
double TestSignal(long frame, int channel);

// Points ALSA's default PCM of this process at a `file` PCM over "null" whose
// input is the test signal as raw 16-bit little-endian stereo, through
// ALSA_CONFIG_PATH. The files live in a scratch folder removed by the destructor.
class FileCapture {
public:
    explicit FileCapture(double seconds);
    ~FileCapture();
    FileCapture(const FileCapture&) = delete;
    FileCapture& operator=(const FileCapture&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_dir, m_raw, m_conf;
    bool m_ok = false;
};

}  // namespace demo
