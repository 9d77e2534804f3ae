#include <tamblo/CTamblo.h>

#include <algorithm>
#include <chrono>
#include <cwchar>

#include "CTambloMsg.h"
#include "platform/TambloWaveIn.h"
#include "platform/TambloWindow.h"
#include "tamblo_version.h"

using namespace tamblo;

// One per process from load; it has no behaviour of its own.
class CTambloApp {
public:
    CTambloApp() = default;
};

[[maybe_unused]] static CTambloApp theApp;

namespace {

char s_szVersion[] = KIT_VERSION_TEXT;
char s_szVersionCompact[] = KIT_VERSION_COMPACT;

constexpr int kStopWaitMs = 3000;

// The format's limits: 16-bit PCM, one or two channels, a positive rate, and
// a block that fits a worker buffer.
bool validFormat(short channels, short bits, int sampleRate) {
    return bits == 16 && (channels == 1 || channels == 2) && sampleRate > 0;
}

struct Blocks {
    int count;
    int length[2];
    int last;
};

// A blocking recording works in blocks of one second; two buffers are always
// queued, so there are never fewer than two blocks.
Blocks blockArithmetic(int frames, int rate) {
    int q = frames / rate;
    int r = frames % rate;
    if (q == 0) return {2, {frames, 0}, 0};
    if (q == 1) return {2, {rate, frames - rate}, frames - rate};
    return {q + (r > 0 ? 1 : 0), {rate, rate}, r > 0 ? r : rate};
}

}  // namespace

CTamblo::CTamblo()
    : m_pRaw(nullptr),
      m_hWnd(nullptr),
      m_bPrepared(0),
      m_bEcho(1),
      m_evDone(std::make_shared<Event>()),
      m_pLeft(nullptr),
      m_pRight(nullptr),
      m_nRawSamples(0),
      m_nRecordedFrames(0),
      m_nLastError(0),
      m_szLastError{} {}

CTamblo::~CTamblo() {
    // Inside the window's handler the worker waits for this very call to
    // return: it is told to stop, and closes by itself afterwards.
    StopWorker(CurrentWorker());
    delete[] m_pRaw;
}

std::shared_ptr<CTambloMsg> CTamblo::CurrentWorker() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pThread;
}

void CTamblo::SetLastError(int code) {
    wchar_t text[256] = L"";
    if (code != 0) waveInGetErrorText(code, text, 256);
    std::lock_guard<std::mutex> lock(m_lock);
    m_nLastError = code;
    std::wcscpy(m_szLastError, text);
}

int CTamblo::GetLastError(wchar_t* text, int size) {
    // A stream whose device failed says so before the host's Stop does.
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    int pending = worker && worker->m_nMode == 0 ? worker->PeekError() : 0;
    wchar_t pendingText[256] = L"";
    if (pending != 0) waveInGetErrorText(pending, pendingText, 256);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_nLastError == 0 && pending != 0) {
        m_nLastError = pending;
        std::wcscpy(m_szLastError, pendingText);
    }
    if (text && size > 0) {
        int n = std::min(static_cast<int>(std::wcslen(m_szLastError)), size - 1);
        std::wmemcpy(text, m_szLastError, static_cast<size_t>(n));
        text[n] = L'\0';
    }
    return m_nLastError;
}

int CTamblo::GetDroppedFrames() {
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    return worker ? worker->GetLostFrames() : 0;
}

int CTamblo::GetRecordedFrames() { return m_nRecordedFrames; }

void CTamblo::Prepare(HWND hWnd, int length, short channels, short bits, int sampleRate) {
    if (!validFormat(channels, bits, sampleRate) || length < 0 ||
        static_cast<long>(length) * channels * 2 > kBufferBytes) {
        SetLastError(MMSYSERR_INVALPARAM);
        return;
    }
    SetLastError(0);
    // An earlier capture still running is stopped first, as Rec does.
    StopWorker(CurrentWorker());
    m_hWnd = hWnd;
    Prepare(length, channels, bits, sampleRate, 0);
}

void CTamblo::Rec(double* left, double* right, int length, short channels, short bits, int sampleRate) {
    m_nRecordedFrames = 0;
    if (!validFormat(channels, bits, sampleRate) || length < 0 || (length > 0 && !left) || (right && channels != 2) ||
        static_cast<long>(sampleRate) * channels * 2 > kBufferBytes) {
        SetLastError(MMSYSERR_INVALPARAM);
        return;
    }
    SetLastError(0);
    StopWorker(CurrentWorker());
    m_pLeft = left;
    m_pRight = right;
    m_evDone->Reset();
    if (!Prepare(length, channels, bits, sampleRate, 1))
        return;  // refused, or stopped while opening: nothing was written
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    MMRESULT started = worker->StartDevice();
    if (started != 0) {
        StopWorker(worker);
        SetLastError(started);
        m_nRecordedFrames = worker->GetRecorded();
        return;
    }
    // The event is the recorder's; a late signal from an earlier worker is
    // told apart by this worker's own state.
    while (worker->IsLive()) m_evDone->Wait(-1);
    int recorded = worker->GetRecorded();
    m_nRecordedFrames = recorded;
    int error = worker->PeekError();  // the device failed, or a Stop gave up on it
    if (error == 0 && recorded < length) error = WAVERR_STOPPED;
    if (error != 0) SetLastError(error);
}

void CTamblo::Rec(double* left, double* right, int length, int sampleRate) {
    Rec(left, right, length, 2, 16, sampleRate);
}

void CTamblo::Rec(double* samples, int length, int sampleRate) { Rec(samples, nullptr, length, 1, 16, sampleRate); }

void CTamblo::Start() {
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (!worker || !worker->IsLive()) return;
    SetLastError(worker->StartDevice());
}

void CTamblo::Stop() {
    if (!m_bPrepared) return;
    SetLastError(0);
    int r = StopWorker(CurrentWorker());
    if (r != 0) SetLastError(r);
}

// Stops a worker and waits up to kStopWaitMs for it to close. A stream's
// device failure is reported here once; a blocking recording's is Rec's.
int CTamblo::StopWorker(const std::shared_ptr<CTambloMsg>& worker) {
    if (!worker) return 0;
    bool stream = worker->m_nMode == 0;
    if (worker->IsLive()) {
        auto t0 = std::chrono::steady_clock::now();
        MMRESULT r = worker->RequestStop();
        if (r != 0) {
            if (stream) worker->TakeError();  // told here, once
            return r;
        }
        HWND hWnd = worker->m_hWnd;
        if (stream && InWindowHandler(hWnd))
            return 0;  // the worker waits for this handler; it closes once the handler returns
        auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        int left = std::max(0, kStopWaitMs - static_cast<int>(spent.count()));
        if (!worker->WaitClosed(left, stream && IsWindowThread(hWnd))) return WAVERR_TIMEDOUT;
    }
    return stream ? worker->TakeError() : 0;
}

void CTamblo::AddBuffer() {
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (worker && worker->IsLive()) worker->QueueBuffer();
}

void CTamblo::GetBuffer(int index, double* left, double* right) {
    if ((index != 0 && index != 1) || !left) return;
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (!worker || !worker->IsLive()) return;
    std::lock_guard<std::mutex> lock(m_lock);
    int ch = worker->CopyBuffer(index, m_pRaw, m_nRawSamples);
    if (ch == 0) return;
    int n = worker->m_nLength[index];
    for (int i = 0; i < n; ++i) {
        left[i] = m_pRaw[i * ch] * (1.0 / 32768.0);
        if (right && ch > 1) right[i] = m_pRaw[i * ch + 1] * (1.0 / 32768.0);
    }
}

void CTamblo::EchoOn() { m_bEcho = 1; }

void CTamblo::EchoOff() { m_bEcho = 0; }

char* CTamblo::GetVersion(int compact) { return compact ? s_szVersionCompact : s_szVersion; }

bool CTamblo::Prepare(int length, short channels, short bits, int sampleRate, int mode) {
    auto worker = std::make_shared<CTambloMsg>();
    if (!worker->CreateThread("tamblo-worker")) {
        SetLastError(MMSYSERR_NOTHREAD);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pThread = worker;
    }
    worker->m_hWnd = m_hWnd;
    worker->m_nNext = 0;
    worker->m_nSkip = 0;
    worker->m_nMode = mode;
    m_bPrepared = 1;
    if (mode == 1) {
        Blocks b = blockArithmetic(length, sampleRate);
        worker->m_pOwnerDone = m_evDone;
        worker->m_nBlocks = b.count;
        worker->m_nLength[0] = b.length[0];
        worker->m_nLength[1] = b.length[1];
        worker->m_nLastLength = b.last;
        worker->m_pLeft = m_pLeft;
        worker->m_pRight = m_pRight;
    } else {
        worker->m_nLength[0] = worker->m_nLength[1] = length;
    }
    {
        int samples = channels * std::max(worker->m_nLength[0], worker->m_nLength[1]);
        std::lock_guard<std::mutex> lock(m_lock);
        delete[] m_pRaw;
        m_pRaw = new short[static_cast<size_t>(samples)]();
        m_nRawSamples = samples;
    }
    worker->ResumeThread();
    int r = Open(channels, bits, sampleRate);
    if (r != 0) {
        SetLastError(r);
        return false;
    }
    worker->QueueBuffer();
    worker->QueueBuffer();
    return true;
}

int CTamblo::Open(short channels, short bits, int sampleRate) {
    // No lock is held meanwhile: a Stop from another thread may end the open.
    return CurrentWorker()->OpenDevice(channels, bits, sampleRate);
}
