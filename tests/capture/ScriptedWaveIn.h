// The scripted wave-input device: linked into test binaries in place of the
// ALSA device, it does on demand what a real device does only by accident.
#pragma once

#include <cstdint>

struct DeviceScript {
    int openResult = 0;       // nonzero: waveInOpen refuses with this code
    int startResult = 0;
    int resetResult = 0;
    int unprepareResult = 0;
    bool closeNeverComes = false;  // waveInClose succeeds but posts no MM_WIM_CLOSE
    int fillMs = 0;           // time each buffer takes to fill
    int lostPerBuffer = 0;    // frames counted lost with every buffer
    int failAfter = 0;        // nonzero: after this many full buffers the device fails
    int failResult = -19;     // ... with this code: the queued buffers come back empty
                              // and waveInAddBuffer and waveInStart refuse with it
};

// Applies to devices opened afterwards.
void SetDeviceScript(const DeviceScript& script);

struct DeviceCounters {
    int opens;
    int closes;
};
DeviceCounters GetDeviceCounters();

// Sample n (counted over all channels from the open) as the device delivers it.
inline std::int16_t ScriptedSample(long n)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(n * 3 + 1));
}
