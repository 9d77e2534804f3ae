// A thread with its own message queue and a table mapping messages to
// member handlers, handled one at a time in the order they were posted.
#pragma once

#include <tamblo/TambloTypes.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tamblo {

typedef std::uint64_t ThreadId;  // 0 names no thread

struct MessageQueue;

class Thread : public std::enable_shared_from_this<Thread> {
public:
    Thread();
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Creates the thread suspended; its queue takes posts at once, but nothing
    // runs until ResumeThread. The object must be owned by a shared_ptr: the
    // thread keeps it alive until it ends. Returns false when no thread could
    // be started (the object is then unused).
    bool CreateThread(const char* name);
    // Lets a suspended thread run: InitInstance, then the message loop.
    void ResumeThread();
    ThreadId GetThreadId() const { return m_nThreadId; }
    // True once the thread has left its loop and run ExitInstance.
    bool HasEnded();
    // Waits up to timeoutMs (-1: no limit) for the thread to end.
    bool WaitEnded(int timeoutMs);
    int GetExitCode();

protected:
    // Per-thread start-up on the new thread; false ends the thread at once.
    virtual bool InitInstance() { return true; }
    // Per-thread exit; returns the thread's exit code.
    virtual int ExitInstance() { return m_nExitCode; }

    // Adds `handler` to the message table for `message`; messages without an
    // entry are discarded. Call before CreateThread.
    template <class T>
    void MapMessage(UINT message, void (T::*handler)(WPARAM, LPARAM)) {
        T* self = static_cast<T*>(this);
        m_table[message] = [self, handler](WPARAM w, LPARAM l) { (self->*handler)(w, l); };
    }

    // From a handler on this thread: the thread ends with exitCode when the
    // handler returns; messages still queued are discarded.
    void EndThread(int exitCode);

private:
    void Run(std::shared_ptr<Thread> self);

    std::unordered_map<UINT, std::function<void(WPARAM, LPARAM)>> m_table;
    std::shared_ptr<MessageQueue> m_pQueue;
    ThreadId m_nThreadId = 0;
    bool m_bEnd = false;  // touched only on the thread itself
    int m_nExitCode = 0;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_cond;
    bool m_bResumed = false;
    bool m_bEnded = false;
};

// Appends a message to the queue of thread `id`, behind those already there.
// Returns false when no such thread exists (never created, or ended).
bool PostThreadMessage(ThreadId id, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tamblo
