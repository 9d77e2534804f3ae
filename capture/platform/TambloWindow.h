// Messages to a CTambloWindow by its handle.
#pragma once

#include <tamblo/TambloTypes.h>

namespace tamblo {

// Runs the window's handler for the message and returns its result. From the
// window's own thread the handler is called directly; from any other thread
// the message is queued for the window's thread (its fd turns readable) and
// the call returns only after the handler has returned. Returns 0 at once for
// a handle that names no window, and releases a waiting sender with 0 when
// the window is destroyed.
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// True when the calling thread is the window's thread.
bool IsWindowThread(HWND hWnd);

// True while the calling thread is inside the window's handler.
bool InWindowHandler(HWND hWnd);

// CTambloWindow::Pump by handle; returns 0 for a handle that names no window.
int PumpWindow(HWND hWnd, int timeoutMs);

}  // namespace tamblo
