#include "CTambloMsg.h"

#include "platform/TambloWindow.h"

#include <algorithm>
#include <climits>
#include <cstring>

using namespace tamblo;

CTambloMsg::CTambloMsg()
    : m_bOpen(0), m_nMode(0), m_hWnd(nullptr), m_nQueued(0), m_nDone(0), m_nLastLength(0), m_nBlocks(2),
      m_nSkip(0), m_bStopping(false), m_bFailed(false), m_nLength{0, 0}, m_nNext(0), m_pLeft(nullptr), m_pRight(nullptr),
      m_pHdr{nullptr, nullptr}, m_pFormat(new WAVEFORMATEX()), m_hDevice(nullptr), m_nLostFrames(0),
      m_bComplete(false), m_bClosed(false), m_bStuck(false), m_nError(0)
{
    for (WAVEHDR*& hdr : m_pHdr) {
        hdr = new WAVEHDR();
        hdr->lpData = new char[kBufferBytes]();
    }
    MapMessage(MM_WIM_OPEN, &CTambloMsg::OnWimOpen);
    MapMessage(MM_WIM_DATA, &CTambloMsg::OnWimData);
    MapMessage(MM_WIM_CLOSE, &CTambloMsg::OnWimClose);
    MapMessage(UM_WIM_OPEN, &CTambloMsg::OnOpened);
    MapMessage(UM_WIM_CLOSE, &CTambloMsg::OnClosed);
    MapMessage(UM_WIM_STREAM_DATA, &CTambloMsg::OnStreamBlock);
    MapMessage(UM_WIM_RECORD_DATA, &CTambloMsg::OnRecordBlock);
    MapMessage(UM_WIM_ABANDON, &CTambloMsg::OnAbandon);
    MapMessage(UM_WIM_STOPPED, &CTambloMsg::OnStopped);
}

CTambloMsg::~CTambloMsg()
{
    Release();
}

void CTambloMsg::Release()
{
    std::lock_guard<std::mutex> lock(m_lock);
    delete m_pFormat;
    m_pFormat = nullptr;
    for (WAVEHDR*& hdr : m_pHdr) {
        if (hdr)
            delete[] hdr->lpData;
        delete hdr;
        hdr = nullptr;
    }
}

void CTambloMsg::SetError(MMRESULT code)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_nError == 0)
        m_nError = code;
}

MMRESULT CTambloMsg::TakeError()
{
    std::lock_guard<std::mutex> lock(m_lock);
    MMRESULT code = m_nError;
    m_nError = 0;
    return code;
}

MMRESULT CTambloMsg::PeekError()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nError;
}

void CTambloMsg::Orphan()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStopping = true;
        m_nSkip = INT_MAX;
        if (m_nMode == 1 && m_nError == 0)
            m_nError = WAVERR_TIMEDOUT;  // what the waiting Rec reports
    }
    SignalComplete();
}

// A buffer comes back short only after a reset or when the device failed.
// Outside a Stop, the device is asked to go on; a failed one refuses with the
// failure's code, which is kept for the recorder, and the capture winds down:
// nothing is queued again and the device closes once every buffer is back.
// Called with m_lock held.
bool CTambloMsg::DeviceFailed(int index)
{
    if (m_bStopping || !m_hDevice)
        return m_bFailed;
    const WAVEHDR* hdr = m_pHdr[index];
    if (hdr->dwBytesRecorded >= hdr->dwBufferLength)
        return false;
    MMRESULT r = waveInStart(m_hDevice);
    if (r == 0)
        return false;
    if (m_nError == 0)
        m_nError = r;
    m_bFailed = true;
    m_bStopping = true;
    return true;
}

int CTambloMsg::CopyBuffer(int index, short* dst, int capacity)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (index < 0 || index > 1 || !m_pHdr[index] || !m_pFormat)
        return 0;
    int ch = m_pFormat->nChannels;
    long samples = static_cast<long>(ch) * m_nLength[index];
    if (ch <= 0 || samples > capacity || samples * 2 > kBufferBytes)
        return 0;
    // The whole block is taken, whatever the device reported as recorded.
    std::memcpy(dst, m_pHdr[index]->lpData, static_cast<size_t>(samples) * 2);
    return ch;
}

void CTambloMsg::QueueBuffer()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bStopping || !m_hDevice || !m_pFormat)
        return;
    int i = m_nNext;
    m_pHdr[i]->dwBufferLength = static_cast<std::uint32_t>(m_pFormat->nBlockAlign) * m_nLength[i];
    waveInPrepareHeader(m_hDevice, m_pHdr[i]);
    if (waveInAddBuffer(m_hDevice, m_pHdr[i]) != 0)
        return;  // e.g. the host handed the same buffer back twice
    ++m_nQueued;
    m_nNext = i == 0 ? 1 : 0;
}

// The device's notifications are relayed through the worker's own queue, so
// their handlers run in the order the notifications came.
void CTambloMsg::OnWimOpen(WPARAM, LPARAM)
{
    PostThreadMessage(GetThreadId(), UM_WIM_OPEN, 0, 0);
}

void CTambloMsg::OnWimData(WPARAM, LPARAM)
{
    PostThreadMessage(GetThreadId(), m_nMode == 0 ? UM_WIM_STREAM_DATA : UM_WIM_RECORD_DATA, 0, 0);
}

void CTambloMsg::OnWimClose(WPARAM, LPARAM)
{
    PostThreadMessage(GetThreadId(), UM_WIM_CLOSE, 0, 0);
}

void CTambloMsg::OnOpened(WPARAM, LPARAM)
{
    m_bOpen = 1;
    m_evOpenClose.Set();
}

void CTambloMsg::OnStreamBlock(WPARAM, LPARAM)
{
    int i;
    bool drop;
    {
        // Counted and judged at once, so that a Stop's count of the blocks to
        // drop never takes this one for another.
        std::lock_guard<std::mutex> lock(m_lock);
        int done = ++m_nDone;
        i = (done - 1) % 2;  // buffers return strictly in the order they were queued
        drop = DeviceFailed(i);  // a block the device could not fill is not announced
        if (m_nSkip > 0) {
            --m_nSkip;
            drop = true;
        }
    }
    if (!drop)
        SendMessage(m_hWnd, UM_BLOCK_READY, static_cast<WPARAM>(i), 0);  // the handler re-queues here
    if (m_nDone == m_nQueued)
        CloseDevice();
}

void CTambloMsg::OnRecordBlock(WPARAM, LPARAM)
{
    // Under the lock: a Stop counts the blocks still to come, and the
    // destinations may be withdrawn meanwhile.
    std::unique_lock<std::mutex> lock(m_lock);
    int k = ++m_nDone;
    int i = (k - 1) % 2;
    int n = m_nLength[i];
    int ch = m_pFormat->nChannels;
    int frames = k == m_nBlocks ? m_nLastLength : n;
    if (DeviceFailed(i)) {
        // Only what the device delivered is stored; the rest stays untouched.
        int got = static_cast<int>(m_pHdr[i]->dwBytesRecorded / m_pFormat->nBlockAlign);
        frames = std::min(frames, got);
    }
    if (m_pLeft && k <= m_nBlocks) {
        // The whole block is taken, whatever the device reported as recorded.
        const short* src = reinterpret_cast<const short*>(m_pHdr[i]->lpData);
        double* left = m_pLeft + static_cast<long>(k - 1) * m_nLength[0];
        double* right = m_pRight ? m_pRight + static_cast<long>(k - 1) * m_nLength[0] : nullptr;
        for (int j = 0; j < frames; ++j) {
            left[j] = src[j * ch] * (1.0 / 32768.0);
            if (right)
                right[j] = src[j * ch + 1] * (1.0 / 32768.0);
        }
    }
    bool stopping = m_bStopping;
    if (m_nSkip > 0)
        --m_nSkip;
    lock.unlock();
    if (stopping) {
        // After Stop: close once every buffer still with the device is back.
        if (m_nDone == m_nQueued)
            CloseDevice();
        return;
    }
    if (m_nBlocks != m_nQueued)
        QueueBuffer();
    if (m_nDone == m_nBlocks)
        CloseDevice();
}

void CTambloMsg::SignalComplete()
{
    if (m_nMode != 1)
        return;
    {
        // Withdrawn before Rec can see the completion: nothing is stored after this.
        std::lock_guard<std::mutex> lock(m_lock);
        m_pLeft = m_pRight = nullptr;
    }
    if (m_bComplete.exchange(true))
        return;
    if (m_pOwnerDone)
        m_pOwnerDone->Set();
}

void CTambloMsg::CloseDevice()
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_hDevice)
            return;  // never opened, or closed already
        for (WAVEHDR* hdr : m_pHdr) {
            MMRESULT r = waveInUnprepareHeader(m_hDevice, hdr);
            if (r != 0) {
                if (m_nError == 0)
                    m_nError = r;
                failed = true;
            }
        }
        if (!failed) {
            MMRESULT r = waveInClose(m_hDevice);
            if (r != 0) {
                if (m_nError == 0)
                    m_nError = r;
                failed = true;
            } else {
                m_hDevice = nullptr;
            }
        }
    }
    if (failed)
        m_bStuck = true;  // no close notification will follow
    // A blocking recording has every frame it will get: its caller need not
    // wait for a close that may never come.
    SignalComplete();
}

void CTambloMsg::OnClosed(WPARAM, LPARAM)
{
    m_bOpen = 0;
    SignalComplete();
    Release();
    m_bClosed = true;
    m_evOpenClose.Set();
    EndThread(0);
}

// A Stop that found no buffer with the device gets no return to close on.
void CTambloMsg::OnStopped(WPARAM, LPARAM)
{
    if (m_nDone == m_nQueued)
        CloseDevice();
}

void CTambloMsg::OnAbandon(WPARAM, LPARAM)
{
    Release();
    m_bClosed = true;
    EndThread(0);
}
