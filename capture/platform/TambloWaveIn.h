// Wave-input device: fills caller buffers with 16-bit PCM frames and reports
// each returned buffer to a thread's message queue.
//
// Two implementations keep this contract: TambloWaveInAlsa.cpp (the library)
// and a scripted device for tests. Every function may be called from any
// thread; calls on one handle must not overlap with waveInClose on it.
// waveInStart, waveInReset and waveInClose return WAVERR_TIMEDOUT, having done
// nothing, when the device is held up in a read for over a second (an input
// that stalls).
#pragma once

#include "platform/TambloThread.h"

#include <atomic>
#include <cstdint>

namespace tamblo {

typedef int MMRESULT;  // 0 on success, else an error code for waveInGetErrorText

// Codes of the device itself; ALSA's own errors are passed on as their
// (negative) ALSA error numbers.
enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_INVALHANDLE = 1,  // no open device
    MMSYSERR_INVALPARAM = 2,   // a null pointer, or a buffer too large for the format
    MMSYSERR_NOMEM = 3,
    MMSYSERR_NOTHREAD = 4,     // a thread could not be started
    WAVERR_BADFORMAT = 5,      // not 16-bit PCM with 1 or 2 channels and a positive rate
    WAVERR_STILLQUEUED = 6,    // the buffer (or a buffer) is still with the device
    WAVERR_UNPREPARED = 7,     // the buffer was not prepared
    WAVERR_TIMEDOUT = 8,       // the device did not close, or take a command, in time
};

constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;  // the default input device
constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Notifications posted to the thread given to waveInOpen (wParam, lParam 0).
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
    char* lpData;                 // caller's data area
    std::uint32_t dwBufferLength; // bytes to fill, a multiple of nBlockAlign
    std::uint32_t dwBytesRecorded;// bytes filled when returned
    std::uint32_t dwFlags;
};

struct WaveInDevice;
typedef WaveInDevice* HWAVEIN;

// Opens device WAVE_MAPPER (the ALSA PCM "default") for capture in `format`,
// stopped. On success stores the handle, posts MM_WIM_OPEN to `notify` and
// returns 0; later posts one MM_WIM_DATA per returned buffer and MM_WIM_CLOSE
// after waveInClose. Frames lost to overruns are added to *lostFrames (may be
// null), which is not touched after waveInClose has returned. On failure
// stores null and posts nothing.
MMRESULT waveInOpen(HWAVEIN* phwi, UINT deviceId, const WAVEFORMATEX* format, ThreadId notify,
                    std::atomic<int>* lostFrames);

// Marks a buffer prepared; preparing a prepared buffer succeeds and changes nothing.
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* hdr);

// Appends a prepared buffer to the device's queue. Buffers are filled and
// returned strictly in queue order; one of length 0 is returned in its turn.
// WAVERR_STILLQUEUED when it is already queued.
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* hdr);

// Capture begins; queued buffers fill. While no buffer is queued the device
// keeps at least one second of frames; an overrun is recovered and counted.
// Starting a running device changes nothing.
//
// When capture fails (the device vanished, a read failed and could not be
// recovered) the device returns every queued buffer at once, in queue order,
// each holding what it got (dwBytesRecorded below dwBufferLength), and from
// then on refuses waveInAddBuffer and waveInStart with the failure's code.
// Reset, unprepare and close work as before.
MMRESULT waveInStart(HWAVEIN hwi);

// Capture stops and every queued buffer is returned before this returns,
// in queue order, each with MM_WIM_DATA (the one being filled holds what it
// got so far). Capture resumes only at the next waveInStart.
MMRESULT waveInReset(HWAVEIN hwi);

// Clears the prepared mark; WAVERR_STILLQUEUED while the device holds the buffer.
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* hdr);

// Closes the device, which then posts MM_WIM_CLOSE; the handle is invalid
// afterwards. WAVERR_STILLQUEUED (and nothing closed) while a buffer is queued.
MMRESULT waveInClose(HWAVEIN hwi);

// Text of an error code, cut to size characters and terminated.
void waveInGetErrorText(MMRESULT code, wchar_t* text, int size);

// For measurement tools: called on the device's thread with the steady-clock
// time (ns) at which each buffer was completed, just before its MM_WIM_DATA.
typedef void (*WaveInDoneHook)(const WAVEHDR* hdr, std::int64_t doneNs);
void waveInSetDoneHook(WaveInDoneHook hook);

}  // namespace tamblo
