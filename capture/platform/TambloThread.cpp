#include "platform/TambloThread.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <system_error>
#include <thread>

namespace tamblo {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable cond;
    std::deque<Message> messages;
    bool closed = false;
};

namespace {

// Thread ids name queues, so a post to a thread that has ended finds nothing
// instead of touching freed memory. Never destroyed: detached threads may
// still post while the process exits.
struct Registry {
    std::mutex mutex;
    std::unordered_map<ThreadId, std::weak_ptr<MessageQueue>> queues;
    ThreadId next = 1;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

}  // namespace

Thread::Thread() : m_pQueue(std::make_shared<MessageQueue>()) {}

Thread::~Thread() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.queues.erase(m_nThreadId);
}

bool Thread::CreateThread(const char* name) {
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        m_nThreadId = r.next++;
        r.queues[m_nThreadId] = m_pQueue;
    }
    try {
        std::thread t(&Thread::Run, this, shared_from_this());
        pthread_setname_np(t.native_handle(), std::string(name).substr(0, 15).c_str());
        t.detach();  // the thread owns itself; HasEnded/WaitEnded observe its end
    } catch (const std::system_error&) {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queues.erase(m_nThreadId);
        m_nThreadId = 0;
        return false;
    }
    return true;
}

void Thread::ResumeThread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bResumed = true;
    m_cond.notify_all();
}

bool Thread::HasEnded() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnded;
}

bool Thread::WaitEnded(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0) {
        m_cond.wait(lock, [this] { return m_bEnded; });
        return true;
    }
    return m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_bEnded; });
}

int Thread::GetExitCode() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nExitCode;
}

void Thread::EndThread(int exitCode) {
    m_bEnd = true;
    m_nExitCode = exitCode;
}

void Thread::Run(std::shared_ptr<Thread> self) {
    (void)self;  // held, not used: the object lives as long as its thread
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [this] { return m_bResumed; });
    }
    if (InitInstance()) {
        while (!m_bEnd) {
            Message msg;
            {
                std::unique_lock<std::mutex> lock(m_pQueue->mutex);
                m_pQueue->cond.wait(lock, [this] { return !m_pQueue->messages.empty(); });
                msg = m_pQueue->messages.front();
                m_pQueue->messages.pop_front();
            }
            auto it = m_table.find(msg.message);
            if (it != m_table.end()) it->second(msg.wParam, msg.lParam);
        }
    }
    int code = ExitInstance();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queues.erase(m_nThreadId);
    }
    {
        std::lock_guard<std::mutex> lock(m_pQueue->mutex);
        m_pQueue->closed = true;
        m_pQueue->messages.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nExitCode = code;
        m_bEnded = true;
        m_cond.notify_all();
    }
    // `self` goes last: this may destroy the object on its own thread.
}

bool PostThreadMessage(ThreadId id, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.queues.find(id);
        if (it == r.queues.end()) return false;
        queue = it->second.lock();
    }
    if (!queue) return false;
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->closed) return false;
    queue->messages.push_back({message, wParam, lParam});
    queue->cond.notify_one();
    return true;
}

}  // namespace tamblo
