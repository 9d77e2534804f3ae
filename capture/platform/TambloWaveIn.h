// The wave-input device: fills the worker's buffers with 16-bit PCM frames,
// in the order they were queued, and reports each returned buffer to the
// worker's thread.
//
// One machinery serves every sound system: a device thread that owns a
// backend (TambloBackend.h) and alone calls it, a queue of buffers, commands
// handed to that thread with a time-out, and the rules for a failing device.
// No lock is held while the backend runs, so a backend call that blocks (a
// frozen sound server) holds up only the device thread; whoever waits for it
// gives up after a time-out, and an abandoned device closes its backend and
// frees itself on its own thread once the call returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/TambloThread.h"

namespace tamblo {

typedef int MMRESULT;  // 0 on success, else an error code for waveInGetErrorText

// Codes of the device itself; a backend's own errors are negative errno values.
enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_INVALHANDLE = 1,  // no open device
    MMSYSERR_INVALPARAM = 2,   // a null pointer, or a buffer too large for the format
    MMSYSERR_NOMEM = 3,
    MMSYSERR_NOTHREAD = 4,   // a thread could not be started
    WAVERR_BADFORMAT = 5,    // not 16-bit PCM with 1 or 2 channels and a positive rate
    WAVERR_STILLQUEUED = 6,  // the buffer (or a buffer) is still with the device
    WAVERR_UNPREPARED = 7,   // the buffer was not prepared
    WAVERR_TIMEDOUT = 8,     // the device did not close, or take a command, in time
    WAVERR_STOPPED = 9,      // a blocking recording was stopped before it was complete
};

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Notifications posted to the worker's thread (wParam, lParam 0).
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};

enum : std::uint32_t { WHDR_DONE = 1, WHDR_PREPARED = 2, WHDR_INQUEUE = 16 };

struct WAVEHDR {
    char* lpData;                   // caller's data area
    std::uint32_t dwBufferLength;   // bytes to fill, a multiple of nBlockAlign
    std::uint32_t dwBytesRecorded;  // bytes filled when returned
    std::uint32_t dwFlags;
};

struct DeviceCore;

class WaveIn {
public:
    // How long Start and Reset wait for the device thread.
    static constexpr int kCommandWaitMs = 1000;

    // A device whose thread reports to `notify`; nothing is open yet.
    // Null when no thread could be started.
    static std::unique_ptr<WaveIn> Create(ThreadId notify);
    // Abandons the device (see Abandon).
    ~WaveIn();
    WaveIn(const WaveIn&) = delete;
    WaveIn& operator=(const WaveIn&) = delete;

    // Opens the default input in `format`, stopped, for buffers of `block`
    // frames, and posts MM_WIM_OPEN. Waits as long as the backend takes,
    // unless Abandon is called meanwhile (then WAVERR_TIMEDOUT).
    MMRESULT Open(const WAVEFORMATEX& format, unsigned long block);

    MMRESULT PrepareHeader(WAVEHDR* hdr);
    // Appends a prepared buffer to the queue; it comes back (MM_WIM_DATA) in
    // its turn, one of length 0 at once. WAVERR_STILLQUEUED when queued already.
    MMRESULT AddBuffer(WAVEHDR* hdr);
    // WAVERR_STILLQUEUED while the device holds the buffer.
    MMRESULT UnprepareHeader(WAVEHDR* hdr);

    // Capture begins; queued buffers fill. While no buffer is queued the
    // backend keeps what it can. Starting a running device changes nothing.
    // When capture fails, every queued buffer comes back at once holding what
    // it got (dwBytesRecorded below dwBufferLength), and AddBuffer and Start
    // refuse with the failure's code from then on.
    MMRESULT Start();
    // Capture stops; every queued buffer comes back before this returns, the
    // one being filled with what it got so far.
    MMRESULT Reset();
    // Closes the device: MM_WIM_CLOSE follows at once, and the backend is
    // closed on the device thread. WAVERR_STILLQUEUED while a buffer is queued.
    MMRESULT Close();
    // From any thread, at any time: the device lets go of every buffer at
    // once without returning it, posts nothing more, and every wait on it
    // ends (WAVERR_TIMEDOUT; after Close, MMSYSERR_INVALHANDLE). Its thread closes the backend when its current
    // call returns, and ends. Nothing else may be called afterwards.
    void Abandon();

    // Frames the backend knows were lost since the open.
    int GetLostFrames() const;
    // The failure that ended capture, or 0.
    MMRESULT GetFailure() const;

private:
    explicit WaveIn(std::shared_ptr<DeviceCore> core);
    std::shared_ptr<DeviceCore> m_core;
};

// Text of an error code, cut to size characters and terminated.
void waveInGetErrorText(MMRESULT code, wchar_t* text, int size);

// For measurement tools: called on the device thread with the steady-clock
// time (ns) at which each buffer was completed, just before its MM_WIM_DATA.
typedef void (*WaveInDoneHook)(const WAVEHDR* hdr, std::int64_t doneNs);
void waveInSetDoneHook(WaveInDoneHook hook);

}  // namespace tamblo
