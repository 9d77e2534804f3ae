// Tamblo: records 16-bit PCM from the default input device into arrays of
// doubles, blocking (Rec) or block by block to a window (Prepare, Start, Stop).
#pragma once

#include <tamblo/TambloTypes.h>

#include <atomic>
#include <memory>
#include <mutex>

class CTambloMsg;
namespace tamblo {
class Event;
}

class TAMBLO_API CTamblo {
public:
    CTamblo();
    // Stops a capture still running and waits for its worker before freeing.
    virtual ~CTamblo();
    CTamblo(const CTamblo&) = delete;
    CTamblo& operator=(const CTamblo&) = delete;

    // Streaming: opens the device with blocks of `length` frames announced to
    // hWnd as UM_BLOCK_READY. Capture begins at Start.
    void Prepare(HWND hWnd, int length, short channels, short bits, int sampleRate);
    // Blocking: records `length` frames into left (and right, when not null).
    void Rec(double* left, double* right, int length, short channels, short bits, int sampleRate);
    void Rec(double* left, double* right, int length, int sampleRate);
    void Rec(double* samples, int length, int sampleRate);
    void Start();
    // Drops the blocks in flight and waits up to 3000 ms for the device to close.
    void Stop();
    // From the UM_BLOCK_READY handler, after GetBuffer: hands the buffer back.
    void AddBuffer();
    // Converts buffer `index` (the message's wParam) into left and right; each
    // must hold the block length.
    void GetBuffer(int index, double* left, double* right);
    void EchoOn();
    void EchoOff();
    // "110" when compact is nonzero, else "1.1"; owned by the library.
    char* GetVersion(int compact);
    // 0 when the last Rec, Prepare, Start or Stop met no error; else its code,
    // with its text copied into text (cut to size characters, terminated).
    // A Rec that ends before it has every frame gives the device's error, or
    // 9 when a Stop cut it short (8 when the device did not respond either).
    int GetLastError(wchar_t* text, int size);
    // Frames lost during the current or last capture, as far as the device
    // lets them be seen.
    int GetDroppedFrames();
    // Frames the last Rec stored, from the start of its destinations; the
    // rest of them is untouched.
    int GetRecordedFrames();

private:
    bool Prepare(int length, short channels, short bits, int sampleRate, int mode);
    int Open(short channels, short bits, int sampleRate);

    std::shared_ptr<CTambloMsg> CurrentWorker();
    int StopWorker(const std::shared_ptr<CTambloMsg>& worker);
    void SetLastError(int code);

    short* m_pRaw;
    HWND m_hWnd;
    std::atomic<int> m_bPrepared;  // read by a Stop from another thread
    int m_bEcho;
    std::shared_ptr<CTambloMsg> m_pThread;
    std::shared_ptr<tamblo::Event> m_evDone;  // shared with the worker that signals it
    double* m_pLeft;
    double* m_pRight;

    std::mutex m_lock;  // m_pThread, m_pRaw and the last error, across threads
    int m_nRawSamples;
    std::atomic<int> m_nRecordedFrames;
    int m_nLastError;
    wchar_t m_szLastError[256];
};
