// The capture worker: one per opening of the device. It owns the device, the
// format record and two buffers, handles the device's notifications on its
// own thread, and ends itself once the device has closed.
#pragma once

#include <tamblo/TambloTypes.h>

#include "platform/TambloEvent.h"
#include "platform/TambloThread.h"
#include "platform/TambloWaveIn.h"

#include <atomic>
#include <memory>
#include <mutex>

// Private thread messages; wParam and lParam are 0.
constexpr UINT UM_WIM_OPEN = 18792;
constexpr UINT UM_WIM_CLOSE = 18793;
constexpr UINT UM_WIM_STREAM_DATA = 18800;
constexpr UINT UM_WIM_RECORD_DATA = 18802;
constexpr UINT UM_WIM_ABANDON = 18803;  // the device never opened: end quietly
constexpr UINT UM_WIM_STOPPED = 18804;  // Stop has reset the device

constexpr int kBufferBytes = 192000;  // one second of 48000 frames/s, stereo, 16 bits

class CTambloMsg : public tamblo::Thread {
public:
    CTambloMsg();
    ~CTambloMsg() override;

    // Hands the next buffer to the device. Does nothing once Stop has begun or
    // when the device is not open; a buffer counts as queued only when the
    // device took it.
    void QueueBuffer();
    // Alive: the device has not closed and the buffers are still there.
    bool IsLive() const { return !m_bClosed.load(); }
    // Copies block `index` (channels × its block length samples) into dst,
    // which holds `capacity` samples. Returns the channel count, 0 when the
    // worker has ended or dst is too small.
    int CopyBuffer(int index, short* dst, int capacity);
    // Remembers a device error for the recorder; the first one is kept.
    void SetError(tamblo::MMRESULT code);
    tamblo::MMRESULT TakeError();
    tamblo::MMRESULT PeekError();
    // The recorder gives up on a device that does not stop (it is going away,
    // or a Stop timed out): every block still to come is dropped, nothing is
    // queued again, and the device closes once the buffers it holds are back.
    // A waiting Rec is released with WAVERR_TIMEDOUT, its destinations no
    // longer written.
    void Orphan();

    std::atomic<int> m_bOpen;
    int m_nMode;
    HWND m_hWnd;
    tamblo::Event m_evOpenClose;
    std::shared_ptr<tamblo::Event> m_pOwnerDone;  // the recorder's m_evDone (blocking)
    std::atomic<int> m_nQueued;
    std::atomic<int> m_nDone;  // raised under m_lock
    int m_nLastLength;
    int m_nBlocks;
    int m_nSkip;       // guarded by m_lock
    bool m_bStopping;  // guarded by m_lock: Stop has begun or the device failed; nothing more is queued
    bool m_bFailed;    // guarded by m_lock: the device failed during the capture
    int m_nLength[2];
    int m_nNext;       // guarded by m_lock
    double* m_pLeft;   // guarded by m_lock once the thread runs
    double* m_pRight;  // guarded by m_lock once the thread runs
    tamblo::WAVEHDR* m_pHdr[2];
    tamblo::WAVEFORMATEX* m_pFormat;
    tamblo::HWAVEIN m_hDevice;  // guarded by m_lock

    std::atomic<int> m_nLostFrames;
    std::atomic<bool> m_bComplete;  // blocking: every block is stored, or the close failed
    std::atomic<bool> m_bClosed;    // the device has closed (or never opened) and the worker is gone
    std::atomic<bool> m_bStuck;     // the close failed, or a wait for it lapsed: nobody waits again
    std::mutex m_lock;              // the device handle, the buffers, the queue state; never held while sending

private:
    void OnWimOpen(WPARAM, LPARAM);
    void OnWimData(WPARAM, LPARAM);
    void OnWimClose(WPARAM, LPARAM);
    void OnOpened(WPARAM, LPARAM);
    void OnClosed(WPARAM, LPARAM);
    void OnStreamBlock(WPARAM, LPARAM);
    void OnRecordBlock(WPARAM, LPARAM);
    void OnAbandon(WPARAM, LPARAM);
    void OnStopped(WPARAM, LPARAM);
    bool DeviceFailed(int index);
    void CloseDevice();
    void SignalComplete();
    void Release();

    tamblo::MMRESULT m_nError;  // guarded by m_lock
};
