#include <poll.h>
#include <sys/eventfd.h>
#include <tamblo/CTambloWindow.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/TambloWindow.h"

namespace {

struct PendingSend {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};

}  // namespace

struct TambloWindowCore {
    std::function<LRESULT(UINT, WPARAM, LPARAM)> proc;
    std::thread::id owner;
    std::uintptr_t id = 0;
    int fd = -1;    // eventfd in semaphore mode: its count is the number of waiting sends
    int depth = 0;  // handler calls in progress, touched only on the owner thread

    std::mutex mutex;
    std::condition_variable cond;
    std::deque<std::shared_ptr<PendingSend>> queue;
    bool destroyed = false;

    LRESULT Call(UINT m, WPARAM w, LPARAM l) {
        ++depth;
        LRESULT r = proc ? proc(m, w, l) : 0;
        --depth;
        return r;
    }

    int Pump(int timeoutMs);
};

namespace {

// Handles name windows; a handle is looked up here, so a stale one finds
// nothing. Never destroyed, as windows may outlive static destruction.
struct WindowRegistry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<TambloWindowCore>> windows;
    std::uintptr_t next = 1;
};

WindowRegistry& registry() {
    static WindowRegistry* r = new WindowRegistry;
    return *r;
}

std::shared_ptr<TambloWindowCore> find(HWND hWnd) {
    WindowRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(reinterpret_cast<std::uintptr_t>(hWnd));
    return it == r.windows.end() ? nullptr : it->second;
}

}  // namespace

int TambloWindowCore::Pump(int timeoutMs) {
    if (std::this_thread::get_id() != owner) return 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r > 0) break;
        if (r == 0 || errno != EINTR) return 0;
    }
    int handled = 0;
    for (;;) {
        std::shared_ptr<PendingSend> send;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queue.empty() || destroyed) break;
            send = queue.front();
            queue.pop_front();
            std::uint64_t one;
            if (read(fd, &one, sizeof one) < 0) {
                // The count matches the queue, so this read never blocks.
            }
        }
        LRESULT result = Call(send->message, send->wParam, send->lParam);
        {
            std::lock_guard<std::mutex> lock(mutex);
            send->result = result;
            send->done = true;
        }
        cond.notify_all();
        ++handled;
    }
    return handled;
}

CTambloWindow::CTambloWindow(std::function<LRESULT(UINT, WPARAM, LPARAM)> proc)
    : m_pCore(std::make_shared<TambloWindowCore>()) {
    m_pCore->proc = std::move(proc);
    m_pCore->owner = std::this_thread::get_id();
    m_pCore->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
    WindowRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    m_pCore->id = r.next++;
    r.windows[m_pCore->id] = m_pCore;
}

CTambloWindow::~CTambloWindow() {
    {
        WindowRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.windows.erase(m_pCore->id);
    }
    {
        std::lock_guard<std::mutex> lock(m_pCore->mutex);
        m_pCore->destroyed = true;
        for (auto& send : m_pCore->queue) send->done = true;
        m_pCore->queue.clear();
        if (m_pCore->fd >= 0) close(m_pCore->fd);
        m_pCore->fd = -1;
    }
    m_pCore->cond.notify_all();
}

HWND CTambloWindow::GetHwnd() const { return reinterpret_cast<HWND>(m_pCore->id); }

int CTambloWindow::GetFd() const { return m_pCore->fd; }

int CTambloWindow::Pump(int timeoutMs) {
    // Held here: a handler may destroy this window, and the core with it.
    std::shared_ptr<TambloWindowCore> core = m_pCore;
    return core->Pump(timeoutMs);
}

namespace tamblo {

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<TambloWindowCore> core = find(hWnd);
    if (!core) return 0;
    if (std::this_thread::get_id() == core->owner) return core->Call(message, wParam, lParam);
    auto send = std::make_shared<PendingSend>();
    send->message = message;
    send->wParam = wParam;
    send->lParam = lParam;
    std::unique_lock<std::mutex> lock(core->mutex);
    if (core->destroyed) return 0;
    core->queue.push_back(send);
    std::uint64_t one = 1;
    if (write(core->fd, &one, sizeof one) < 0) {
        // An eventfd count cannot overflow with one entry per waiting sender.
    }
    core->cond.wait(lock, [&] { return send->done; });
    return send->result;
}

bool IsWindowThread(HWND hWnd) {
    std::shared_ptr<TambloWindowCore> core = find(hWnd);
    return core && core->owner == std::this_thread::get_id();
}

bool InWindowHandler(HWND hWnd) {
    std::shared_ptr<TambloWindowCore> core = find(hWnd);
    return core && core->owner == std::this_thread::get_id() && core->depth > 0;
}

int PumpWindow(HWND hWnd, int timeoutMs) {
    std::shared_ptr<TambloWindowCore> core = find(hWnd);
    return core ? core->Pump(timeoutMs) : 0;
}

}  // namespace tamblo
