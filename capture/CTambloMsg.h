// The capture worker: one per opening of the device. It owns the device, the
// format record and two buffers, handles the device's notifications on its
// own thread, and ends itself once the device has closed.
#pragma once

#include <tamblo/TambloTypes.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/TambloEvent.h"
#include "platform/TambloThread.h"
#include "platform/TambloWaveIn.h"

// Private thread messages; wParam and lParam are 0.
constexpr UINT UM_WIM_OPEN = 18792;
constexpr UINT UM_WIM_CLOSE = 18793;
constexpr UINT UM_WIM_STREAM_DATA = 18800;
constexpr UINT UM_WIM_RECORD_DATA = 18802;
constexpr UINT UM_WIM_STOPPED = 18804;  // a Stop reset the device, or gave up on it

constexpr int kBufferBytes = 192000;  // one second of 48000 frames/s, stereo, 16 bits

class CTambloMsg : public tamblo::Thread {
public:
    // Created → Opening → Open → Stopping → Closed; Closed also straight from
    // Opening (the device never opened) or from anywhere when a Stop gives up
    // on a device that does not respond.
    enum class State { Created, Opening, Open, Stopping, Closed };

    CTambloMsg();
    ~CTambloMsg() override;

    // On the recorder's thread, after ResumeThread: opens the device. Waits
    // as long as the device takes, unless a Stop comes meanwhile. On failure
    // the worker ends.
    tamblo::MMRESULT OpenDevice(short channels, short bits, int sampleRate);
    // Hands the next buffer to the device. Does nothing unless the device is
    // open and not stopping; a buffer counts as queued only when taken.
    void QueueBuffer();
    tamblo::MMRESULT StartDevice();
    // From any thread: every block still to come is dropped and the device
    // closes once its buffers are back. A device that does not take the
    // reset in time is given up (the worker closes at once; WAVERR_TIMEDOUT).
    // A device still opening is given up at once.
    tamblo::MMRESULT RequestStop();
    // Waits up to timeoutMs for Closed; on the window's thread `pumpWindow`
    // runs the window's messages meanwhile.
    bool WaitClosed(int timeoutMs, bool pumpWindow);
    State GetState();
    bool IsLive() { return GetState() != State::Closed; }
    // Copies block `index` (channels × its block length samples) into dst,
    // which holds `capacity` samples. Returns the channel count, 0 when the
    // worker has ended or dst is too small.
    int CopyBuffer(int index, short* dst, int capacity);
    // The first error the device met (a failure, or a time-out), or 0.
    tamblo::MMRESULT TakeError();
    tamblo::MMRESULT PeekError();
    // Blocking: frames stored from the start of the destinations.
    int GetRecorded();
    int GetLostFrames();

    std::atomic<int> m_bOpen;
    int m_nMode;
    HWND m_hWnd;
    tamblo::Event m_evOpenClose;                  // signalled when the device has opened and when it has closed
    std::shared_ptr<tamblo::Event> m_pOwnerDone;  // the recorder's m_evDone (blocking)
    int m_nQueued;  // the counters and the fields below are guarded by m_lock once the thread runs
    int m_nDone;
    int m_nLastLength;
    int m_nBlocks;
    int m_nSkip;
    int m_nLength[2];
    int m_nNext;
    double* m_pLeft;
    double* m_pRight;
    tamblo::WAVEHDR* m_pHdr[2];
    tamblo::WAVEFORMATEX* m_pFormat;
    std::shared_ptr<tamblo::WaveIn> m_hDevice;

private:
    void OnWimOpen(WPARAM, LPARAM);
    void OnWimData(WPARAM, LPARAM);
    void OnWimClose(WPARAM, LPARAM);
    void OnOpened(WPARAM, LPARAM);
    void OnClosed(WPARAM, LPARAM);
    void OnStreamBlock(WPARAM, LPARAM);
    void OnRecordBlock(WPARAM, LPARAM);
    void OnStopped(WPARAM, LPARAM);
    int Returned(int index, bool* drop);
    void CloseDevice();
    void SetState(State s);
    void Release();

    std::mutex m_lock;  // never held while the window is sent a message or the device is waited for
    std::condition_variable m_stateChanged;
    State m_state;
    bool m_bStopRequested;
    bool m_bGaveUp;  // the device was abandoned: nothing more comes from it
    tamblo::MMRESULT m_nError;
    int m_nRecorded;
    int m_nLost;  // the device's count, kept once it is gone
};
