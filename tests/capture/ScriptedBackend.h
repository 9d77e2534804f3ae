// The scripted backend: chosen at run time in place of ALSA's, it does on
// demand what a real device does only by accident.
#pragma once

#include <cstdint>

struct DeviceScript {
    int openResult = 0;  // nonzero: Open refuses with this code
    int startResult = 0;
    int readMs = 0;        // time each read waits for its frames
    int lostPerRead = 0;   // frames reported lost with every read
    long failAfter = 0;    // nonzero: after this many frames the device fails
    int failResult = -19;  // ... with this code
};

// Makes the scripted backend the one every device opens from now on, with
// this script.
void UseScriptedBackend(const DeviceScript& script);

// While frozen, Open, Start and Stop of every scripted device block, and no
// frames come: a sound server that stopped answering.
void FreezeDevices(bool frozen);

struct DeviceCounters {
    int opens;   // opened successfully
    int closes;  // of those, closed again
};
DeviceCounters GetDeviceCounters();

// Sample n (counted over all channels from the open) as the device delivers it.
inline std::int16_t ScriptedSample(long n) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(n * 3 + 1)); }
