#include "CTambloMsg.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/TambloWindow.h"

using namespace tamblo;

CTambloMsg::CTambloMsg()
    : m_bOpen(0),
      m_nMode(0),
      m_hWnd(nullptr),
      m_nQueued(0),
      m_nDone(0),
      m_nLastLength(0),
      m_nBlocks(2),
      m_nSkip(0),
      m_nLength{0, 0},
      m_nNext(0),
      m_pLeft(nullptr),
      m_pRight(nullptr),
      m_pHdr{nullptr, nullptr},
      m_pFormat(new WAVEFORMATEX()),
      m_state(State::Created),
      m_bStopRequested(false),
      m_bGaveUp(false),
      m_nError(0),
      m_nRecorded(0),
      m_nLost(0) {
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
    MapMessage(UM_WIM_STOPPED, &CTambloMsg::OnStopped);
}

CTambloMsg::~CTambloMsg() {
    if (m_hDevice) m_hDevice->Abandon();
    Release();
}

void CTambloMsg::Release() {
    delete m_pFormat;
    m_pFormat = nullptr;
    for (WAVEHDR*& hdr : m_pHdr) {
        if (hdr) delete[] hdr->lpData;
        delete hdr;
        hdr = nullptr;
    }
}

void CTambloMsg::SetState(State s) {
    m_state = s;
    m_stateChanged.notify_all();
}

CTambloMsg::State CTambloMsg::GetState() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_state;
}

MMRESULT CTambloMsg::TakeError() {
    std::lock_guard<std::mutex> lock(m_lock);
    MMRESULT code = m_nError;
    m_nError = 0;
    return code;
}

MMRESULT CTambloMsg::PeekError() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nError;
}

int CTambloMsg::GetRecorded() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nRecorded;
}

int CTambloMsg::GetLostFrames() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_hDevice ? m_hDevice->GetLostFrames() : m_nLost;
}

MMRESULT CTambloMsg::OpenDevice(short channels, short bits, int sampleRate) {
    WAVEFORMATEX& format = *m_pFormat;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<std::uint16_t>(channels);
    format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    format.nBlockAlign = static_cast<std::uint16_t>(format.nChannels * format.wBitsPerSample / 8);
    format.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;

    std::shared_ptr<WaveIn> device(WaveIn::Create(GetThreadId()));
    MMRESULT r = device ? 0 : MMSYSERR_NOTHREAD;
    bool opening = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nQueued = 0;
        m_nDone = 0;
        if (r == 0 && !m_bStopRequested) {
            m_hDevice = device;
            SetState(State::Opening);
            opening = true;
        }
    }
    // The open may take long (a sound server that does not answer); a Stop
    // meanwhile abandons the device, which ends this wait.
    if (opening) r = device->Open(format, static_cast<unsigned long>(std::max(m_nLength[0], m_nLength[1])));
    std::lock_guard<std::mutex> lock(m_lock);
    if (r == 0 && !m_bStopRequested) {
        SetState(State::Open);
        return 0;
    }
    if (m_bStopRequested) r = WAVERR_STOPPED;
    // No notification will come: the worker ends here.
    m_bGaveUp = true;
    if (device) device->Abandon();
    PostThreadMessage(GetThreadId(), UM_WIM_CLOSE, 0, 0);
    return r;
}

MMRESULT CTambloMsg::StartDevice() {
    std::shared_ptr<WaveIn> device;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_state != State::Open) return 0;
        device = m_hDevice;
    }
    return device->Start();
}

MMRESULT CTambloMsg::RequestStop() {
    std::shared_ptr<WaveIn> device;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        switch (m_state) {
            case State::Created:
                m_bStopRequested = true;
                return 0;
            case State::Opening:
                m_bStopRequested = true;
                m_hDevice->Abandon();  // the open returns now; OpenDevice ends the worker
                return 0;
            case State::Stopping:
            case State::Closed:
                return 0;
            case State::Open:
                break;
        }
        // Every buffer not yet handled is dropped, and none is queued again.
        m_bStopRequested = true;
        m_nSkip = m_nQueued - m_nDone;
        SetState(State::Stopping);
        device = m_hDevice;
    }
    MMRESULT r = device->Reset();
    std::lock_guard<std::mutex> lock(m_lock);
    if (r == WAVERR_TIMEDOUT && !m_bGaveUp) {
        // The device is held up (a frozen sound server, an input that
        // stalls): give it up; it finishes on its own thread.
        m_bGaveUp = true;
        if (m_nError == 0) m_nError = WAVERR_TIMEDOUT;
        device->Abandon();
        PostThreadMessage(GetThreadId(), UM_WIM_CLOSE, 0, 0);
        return WAVERR_TIMEDOUT;
    }
    // A stop that found no buffer with the device gets no return to close on.
    PostThreadMessage(GetThreadId(), UM_WIM_STOPPED, 0, 0);
    return 0;
}

bool CTambloMsg::WaitClosed(int timeoutMs, bool pumpWindow) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_state != State::Closed) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        if (pumpWindow) {
            // On the window's thread the blocks in flight are handled here, or
            // the worker could not finish its notification and close.
            lock.unlock();
            PumpWindow(m_hWnd, 5);
            lock.lock();
        } else if (timeoutMs < 0) {
            m_stateChanged.wait(lock);
        } else {
            m_stateChanged.wait_until(lock, deadline);
        }
    }
    return true;
}

int CTambloMsg::CopyBuffer(int index, short* dst, int capacity) {
    std::lock_guard<std::mutex> lock(m_lock);
    if ((m_state != State::Open && m_state != State::Stopping) || m_bGaveUp || index < 0 || index > 1) return 0;
    int ch = m_pFormat->nChannels;
    long samples = static_cast<long>(ch) * m_nLength[index];
    if (ch <= 0 || samples > capacity || samples * 2 > kBufferBytes) return 0;
    // The whole block is taken, whatever the device reported as recorded.
    std::memcpy(dst, m_pHdr[index]->lpData, static_cast<size_t>(samples) * 2);
    return ch;
}

void CTambloMsg::QueueBuffer() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state != State::Open) return;
    int i = m_nNext;
    m_pHdr[i]->dwBufferLength = static_cast<std::uint32_t>(m_pFormat->nBlockAlign) * m_nLength[i];
    m_hDevice->PrepareHeader(m_pHdr[i]);
    if (m_hDevice->AddBuffer(m_pHdr[i]) != 0) return;  // e.g. the host handed the same buffer back twice
    ++m_nQueued;
    m_nNext = i == 0 ? 1 : 0;
}

// The device's notifications are relayed through the worker's own queue, so
// their handlers run in the order the notifications came.
void CTambloMsg::OnWimOpen(WPARAM, LPARAM) { PostThreadMessage(GetThreadId(), UM_WIM_OPEN, 0, 0); }

void CTambloMsg::OnWimData(WPARAM, LPARAM) {
    PostThreadMessage(GetThreadId(), m_nMode == 0 ? UM_WIM_STREAM_DATA : UM_WIM_RECORD_DATA, 0, 0);
}

void CTambloMsg::OnWimClose(WPARAM, LPARAM) { PostThreadMessage(GetThreadId(), UM_WIM_CLOSE, 0, 0); }

void CTambloMsg::OnOpened(WPARAM, LPARAM) {
    m_bOpen = 1;
    m_evOpenClose.Set();
}

// One buffer is back: returns its index, and in *drop whether a stream
// must not announce it. A block comes back short only after a reset or when
// the device failed; a failure stops the capture (nothing is queued again).
// Called with m_lock held.
int CTambloMsg::Returned(int index, bool* drop) {
    const WAVEHDR* hdr = m_pHdr[index];
    *drop = false;
    if (hdr->dwBytesRecorded < hdr->dwBufferLength && m_state == State::Open) {
        if (MMRESULT failure = m_hDevice->GetFailure()) {
            if (m_nError == 0) m_nError = failure;
            SetState(State::Stopping);
            *drop = true;
        }
    }
    if (m_nSkip > 0) {
        --m_nSkip;
        *drop = true;
    }
    return index;
}

void CTambloMsg::OnStreamBlock(WPARAM, LPARAM) {
    int i;
    bool drop;
    {
        // Counted and judged at once, so that a Stop's count of the blocks to
        // drop never takes this one for another.
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bGaveUp) return;
        int done = ++m_nDone;
        i = Returned((done - 1) % 2, &drop);  // buffers return strictly in the order they were queued
        drop = drop || m_state != State::Open;
    }
    if (!drop) SendMessage(m_hWnd, UM_BLOCK_READY, static_cast<WPARAM>(i), 0);  // the handler re-queues here
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bGaveUp && m_nDone == m_nQueued) CloseDevice();
}

void CTambloMsg::OnRecordBlock(WPARAM, LPARAM) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bGaveUp) return;
    int k = ++m_nDone;
    int i = (k - 1) % 2;
    bool drop;
    Returned(i, &drop);
    // Only frames the device captured are stored, and only right after those
    // stored before: the rest of the destinations stays untouched.
    int frames = std::min(k == m_nBlocks ? m_nLastLength : m_nLength[i],
                          static_cast<int>(m_pHdr[i]->dwBytesRecorded / m_pFormat->nBlockAlign));
    long at = static_cast<long>(k - 1) * m_nLength[0];
    if (m_pLeft && k <= m_nBlocks && frames > 0 && at == m_nRecorded) {
        const short* src = reinterpret_cast<const short*>(m_pHdr[i]->lpData);
        int ch = m_pFormat->nChannels;
        double* left = m_pLeft + at;
        double* right = m_pRight ? m_pRight + at : nullptr;
        for (int j = 0; j < frames; ++j) {
            left[j] = src[j * ch] * (1.0 / 32768.0);
            if (right) right[j] = src[j * ch + 1] * (1.0 / 32768.0);
        }
        m_nRecorded += frames;
    }
    if (m_state != State::Open) {
        // After Stop or a failure: close once every buffer still with the device is back.
        if (m_nDone == m_nQueued) CloseDevice();
        return;
    }
    lock.unlock();
    if (m_nBlocks != m_nQueued) QueueBuffer();
    lock.lock();
    if (m_nDone == m_nBlocks) CloseDevice();
}

// Called with m_lock held; the close notification ends the worker.
void CTambloMsg::CloseDevice() {
    if (m_state == State::Closed || !m_hDevice) return;
    if (m_state == State::Open) SetState(State::Stopping);
    for (WAVEHDR* hdr : m_pHdr) m_hDevice->UnprepareHeader(hdr);
    if (m_hDevice->Close() != 0) {
        m_bGaveUp = true;
        m_hDevice->Abandon();
        PostThreadMessage(GetThreadId(), UM_WIM_CLOSE, 0, 0);
    }
}

void CTambloMsg::OnClosed(WPARAM, LPARAM) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_state == State::Closed) return;
        if (m_hDevice) {
            m_nLost = m_hDevice->GetLostFrames();
            m_hDevice->Abandon();  // nothing of this worker stays with the device
            m_hDevice.reset();
        }
        m_pLeft = m_pRight = nullptr;
        Release();
        m_bOpen = 0;
        SetState(State::Closed);
    }
    m_evOpenClose.Set();
    if (m_nMode == 1 && m_pOwnerDone) m_pOwnerDone->Set();  // releases Rec
    EndThread(0);
}

void CTambloMsg::OnStopped(WPARAM, LPARAM) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bGaveUp && m_nDone == m_nQueued) CloseDevice();
}
