#include <tamblo/CTamblo.h>

#include "CTambloMsg.h"
#include "platform/TambloWaveIn.h"
#include "platform/TambloWindow.h"
#include "tamblo_version.h"

#include <algorithm>
#include <chrono>
#include <cwchar>

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
bool validFormat(short channels, short bits, int sampleRate)
{
    return bits == 16 && (channels == 1 || channels == 2) && sampleRate > 0;
}

struct Blocks {
    int count;
    int length[2];
    int last;
};

// A blocking recording works in blocks of one second; two buffers are always
// queued, so there are never fewer than two blocks.
Blocks blockArithmetic(int frames, int rate)
{
    int q = frames / rate;
    int r = frames % rate;
    if (q == 0)
        return {2, {frames, 0}, 0};
    if (q == 1)
        return {2, {rate, frames - rate}, frames - rate};
    return {q + (r > 0 ? 1 : 0), {rate, rate}, r > 0 ? r : rate};
}

}  // namespace

CTamblo::CTamblo()
    : m_pRaw(nullptr), m_hWnd(nullptr), m_bPrepared(0), m_bEcho(1), m_evDone(std::make_shared<Event>()),
      m_pLeft(nullptr), m_pRight(nullptr), m_nRawSamples(0), m_nLastError(0), m_szLastError{}
{
}

CTamblo::~CTamblo()
{
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (worker && worker->IsLive() && !worker->m_bStuck) {
        if (StopWorker(worker) != 0)
            worker->Orphan();  // the device refused to stop: no block may reach the host now
        else if (!worker->WaitEnded(kStopWaitMs))
            worker->m_bStuck = true;
    }
    delete[] m_pRaw;
}

std::shared_ptr<CTambloMsg> CTamblo::CurrentWorker()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pThread;
}

void CTamblo::SetLastError(int code)
{
    wchar_t text[256] = L"";
    if (code != 0)
        waveInGetErrorText(code, text, 256);
    std::lock_guard<std::mutex> lock(m_lock);
    m_nLastError = code;
    std::wcscpy(m_szLastError, text);
}

int CTamblo::GetLastError(wchar_t* text, int size)
{
    // A stream whose device failed says so before the host's Stop does.
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    int pending = worker ? worker->PeekError() : 0;
    wchar_t pendingText[256] = L"";
    if (pending != 0)
        waveInGetErrorText(pending, pendingText, 256);
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

int CTamblo::GetDroppedFrames()
{
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    return worker ? worker->m_nLostFrames.load() : 0;
}

void CTamblo::Prepare(HWND hWnd, int length, short channels, short bits, int sampleRate)
{
    if (!validFormat(channels, bits, sampleRate) || length < 0 ||
        static_cast<long>(length) * channels * 2 > kBufferBytes) {
        SetLastError(MMSYSERR_INVALPARAM);
        return;
    }
    SetLastError(0);
    m_hWnd = hWnd;
    Prepare(length, channels, bits, sampleRate, 0);
}

void CTamblo::Rec(double* left, double* right, int length, short channels, short bits, int sampleRate)
{
    if (!validFormat(channels, bits, sampleRate) || length < 0 || (length > 0 && !left) ||
        (right && channels != 2) || static_cast<long>(sampleRate) * channels * 2 > kBufferBytes) {
        SetLastError(MMSYSERR_INVALPARAM);
        return;
    }
    SetLastError(0);
    if (std::shared_ptr<CTambloMsg> previous = CurrentWorker())
        StopWorker(previous);
    m_pLeft = left;
    m_pRight = right;
    m_evDone->Reset();
    if (!Prepare(length, channels, bits, sampleRate, 1))
        return;  // refused: nothing was written
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    MMRESULT started;
    {
        std::lock_guard<std::mutex> lock(worker->m_lock);
        started = waveInStart(worker->m_hDevice);
    }
    if (started != 0) {
        StopWorker(worker);
        SetLastError(started);
        return;
    }
    // The event is the recorder's; a late signal from an earlier worker is
    // told apart by this worker's own flag.
    while (!worker->m_bComplete)
        m_evDone->Wait(-1);
    // Every frame is stored (or the device failed); the close follows at once
    // unless it failed.
    int error = worker->TakeError();
    if (!worker->m_bStuck && !worker->WaitEnded(kStopWaitMs)) {
        worker->m_bStuck = true;
        if (error == 0)
            error = WAVERR_TIMEDOUT;
    }
    if (error != 0)
        SetLastError(error);
}

void CTamblo::Rec(double* left, double* right, int length, int sampleRate)
{
    Rec(left, right, length, 2, 16, sampleRate);
}

void CTamblo::Rec(double* samples, int length, int sampleRate)
{
    Rec(samples, nullptr, length, 1, 16, sampleRate);
}

void CTamblo::Start()
{
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (!worker || !worker->IsLive())
        return;
    MMRESULT r;
    {
        std::lock_guard<std::mutex> lock(worker->m_lock);
        r = waveInStart(worker->m_hDevice);
    }
    SetLastError(r);
}

void CTamblo::Stop()
{
    if (!m_bPrepared)
        return;
    SetLastError(0);
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    int r = StopWorker(worker);
    if (r == WAVERR_TIMEDOUT && worker && worker->m_nMode == 1 && !worker->m_bComplete) {
        // The device is held up (an input that stalls): the blocking Rec
        // returns now without the frames still to come.
        worker->m_bStuck = true;
        worker->Orphan();
    }
    if (r != 0)
        SetLastError(r);
}

int CTamblo::StopWorker(const std::shared_ptr<CTambloMsg>& worker)
{
    if (!worker)
        return 0;
    if (!worker->IsLive() || worker->m_bStuck)
        return worker->TakeError();
    MMRESULT r = 0;
    bool closing;
    {
        std::lock_guard<std::mutex> lock(worker->m_lock);
        closing = !worker->m_hDevice;  // never opened, or closing already
        if (!closing) {
            // Every buffer not yet handled is dropped, and none is queued again.
            worker->m_bStopping = true;
            worker->m_nSkip = worker->m_nQueued - worker->m_nDone;
            worker->m_evOpenClose.Reset();
            r = waveInReset(worker->m_hDevice);
            if (r != 0) {
                worker->m_bStopping = worker->m_bFailed;  // the worker keeps its state
                worker->m_nSkip = 0;
            }
        }
    }
    if (closing)
        return worker->TakeError();  // what the device met, e.g. a failure that ended the stream
    if (r != 0)
        return r;
    PostThreadMessage(worker->GetThreadId(), UM_WIM_STOPPED, 0, 0);

    HWND hWnd = worker->m_hWnd;
    if (worker->m_nMode == 0 && InWindowHandler(hWnd))
        return 0;  // the worker waits for this handler; it closes once the handler returns
    bool pump = worker->m_nMode == 0 && IsWindowThread(hWnd);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (!worker->m_bClosed) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            worker->m_bStuck = true;
            return WAVERR_TIMEDOUT;
        }
        // On the window's thread the blocks in flight are handled here, or the
        // worker could not finish its notification and close.
        int slice = static_cast<int>(std::min<long>(left.count(), pump ? 5 : 100));
        if (pump)
            PumpWindow(hWnd, slice);
        else
            worker->m_evOpenClose.Wait(slice);
    }
    return worker->TakeError();
}

void CTamblo::AddBuffer()
{
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (worker && worker->IsLive())
        worker->QueueBuffer();
}

void CTamblo::GetBuffer(int index, double* left, double* right)
{
    if ((index != 0 && index != 1) || !left)
        return;
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    if (!worker || !worker->IsLive())
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    int ch = worker->CopyBuffer(index, m_pRaw, m_nRawSamples);
    if (ch == 0)
        return;
    int n = worker->m_nLength[index];
    for (int i = 0; i < n; ++i) {
        left[i] = m_pRaw[i * ch] * (1.0 / 32768.0);
        if (right && ch > 1)
            right[i] = m_pRaw[i * ch + 1] * (1.0 / 32768.0);
    }
}

void CTamblo::EchoOn()
{
    m_bEcho = 1;
}

void CTamblo::EchoOff()
{
    m_bEcho = 0;
}

char* CTamblo::GetVersion(int compact)
{
    return compact ? s_szVersionCompact : s_szVersion;
}

bool CTamblo::Prepare(int length, short channels, short bits, int sampleRate, int mode)
{
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
        worker->m_bClosed = true;
        PostThreadMessage(worker->GetThreadId(), UM_WIM_ABANDON, 0, 0);  // no notification will come
        return false;
    }
    worker->QueueBuffer();
    worker->QueueBuffer();
    return true;
}

int CTamblo::Open(short channels, short bits, int sampleRate)
{
    std::shared_ptr<CTambloMsg> worker = CurrentWorker();
    WAVEFORMATEX* format = worker->m_pFormat;
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = static_cast<std::uint16_t>(channels);
    format->wBitsPerSample = static_cast<std::uint16_t>(bits);
    format->nBlockAlign = static_cast<std::uint16_t>(format->nChannels * format->wBitsPerSample / 8);
    format->nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
    format->cbSize = 0;
    worker->m_nQueued = 0;
    worker->m_nDone = 0;
    std::lock_guard<std::mutex> lock(worker->m_lock);
    return waveInOpen(&worker->m_hDevice, WAVE_MAPPER, format, worker->GetThreadId(), &worker->m_nLostFrames);
}
