// tamblo.Window: the library's window stand-in with a Python procedure.
#pragma once

#include <pybind11/pybind11.h>
#include <tamblo/CTambloWindow.h>

#include <memory>
#include <thread>

namespace tamblo_py {

namespace py = pybind11;

// What the C++ procedure shares with the Python object. Its members are
// touched only with the GIL held; the Python object empties them before it
// goes, so that whoever drops the last reference needs no GIL.
struct ProcState {
    py::object proc;
    py::object error;  // the first exception the procedure raised, not yet raised again
    int muted = 0;     // recorders streaming here that are being destroyed
};

class PyWindow {
public:
    // On the calling thread, which becomes the window's thread.
    explicit PyWindow(py::object proc);
    ~PyWindow();

    HWND Hwnd() const { return m_window->GetHwnd(); }
    int Fd() const { return m_window->GetFd(); }
    // Handles the messages waiting, waiting up to timeoutMs for the first
    // (-1: no limit) with the GIL released; signals are served meanwhile.
    // Raises what the procedure raised.
    int Pump(int timeoutMs);
    // Raises (and forgets) an exception the procedure raised.
    void RaisePending();

    // While a recorder that streams here is destroyed, its blocks in flight
    // are dropped without calling the procedure (which may refer to it).
    void Mute(bool on) { m_state->muted += on ? 1 : -1; }

    // The Window object of a handle made by this module, or None.
    static py::object Find(HWND hWnd);

    int Traverse(visitproc visit, void* arg);
    void Clear();

private:
    std::shared_ptr<ProcState> m_state;
    std::unique_ptr<CTambloWindow> m_window;
    std::thread::id m_owner;
};

void BindWindow(py::module_& m);

}  // namespace tamblo_py
