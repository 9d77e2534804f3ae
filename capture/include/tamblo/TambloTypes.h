// Message and handle types shared by the recorder and the window stand-in.
#pragma once

#include <cstdint>

#define TAMBLO_API __attribute__((visibility("default")))

// A window handle names a CTambloWindow; it is only a value and is never
// dereferenced, so a handle that outlives its window is harmless.
struct TambloWindowHandle;
typedef TambloWindowHandle* HWND;

typedef std::intptr_t LRESULT;
typedef unsigned int UINT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;

// Sent to the streaming window for every completed block; wParam is the
// buffer index (0 or 1) to pass to CTamblo::GetBuffer, lParam is 0.
constexpr UINT UM_BLOCK_READY = 18801;
