// Window stand-in for hosts without window handles: a message target that
// any event loop can drive through a file descriptor.
#pragma once

#include <tamblo/TambloTypes.h>

#include <functional>
#include <memory>

struct TambloWindowCore;

class TAMBLO_API CTambloWindow {
public:
    // The thread that constructs the window is the window's thread; `proc`
    // runs only there.
    explicit CTambloWindow(std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)> proc);
    // On the window's thread: releases every sender still waiting on this
    // window (their send returns 0).
    ~CTambloWindow();
    CTambloWindow(const CTambloWindow&) = delete;
    CTambloWindow& operator=(const CTambloWindow&) = delete;

    // The handle to pass to CTamblo::Prepare.
    HWND GetHwnd() const;
    // Readable while a message waits for the window's thread.
    int GetFd() const;
    // On the window's thread: handles every message waiting, waiting up to
    // timeoutMs for the first (-1: no limit). Returns how many it handled;
    // 0 when called from another thread.
    int Pump(int timeoutMs);

private:
    std::shared_ptr<TambloWindowCore> m_pCore;
};
