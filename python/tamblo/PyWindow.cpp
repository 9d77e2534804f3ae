#include "PyWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "GcSupport.h"

namespace tamblo_py {

namespace {

// Windows of this module by handle, guarded by the GIL; never destroyed, as
// windows may outlive static destruction.
std::unordered_map<std::uintptr_t, PyWindow*>& registry() {
    static auto* windows = new std::unordered_map<std::uintptr_t, PyWindow*>;
    return *windows;
}

std::uintptr_t key(HWND hWnd) { return reinterpret_cast<std::uintptr_t>(hWnd); }

// The exception being raised, with its traceback, taken off the thread.
py::object takeException(py::error_already_set& e) {
    e.restore();
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    if (trace) PyException_SetTraceback(value, trace);
    Py_XDECREF(type);
    Py_XDECREF(trace);
    return py::reinterpret_steal<py::object>(value);
}

// Reports an exception nobody will see any more through sys.unraisablehook.
void reportLost(const py::object& error, const py::object& where) {
    py::error_scope saved;  // whatever is being raised now goes on afterwards
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    PyErr_WriteUnraisable(where ? where.ptr() : nullptr);
}

void keep(ProcState& state, py::object error) {
    if (!state.error)
        state.error = std::move(error);
    else
        reportLost(error, state.proc);  // the first one is raised; later ones are reported
}

}  // namespace

PyWindow::PyWindow(py::object proc) : m_state(std::make_shared<ProcState>()), m_owner(std::this_thread::get_id()) {
    if (!PyCallable_Check(proc.ptr()))
        throw py::type_error("proc must be callable as proc(message, wParam, lParam), not " +
                             std::string(py::str(py::type::handle_of(proc).attr("__name__"))));
    m_state->proc = std::move(proc);
    std::shared_ptr<ProcState> state = m_state;
    // Runs on the window's thread only, from Pump (GIL released there) or
    // from a recorder's Stop waiting on this thread.
    m_window = std::make_unique<CTambloWindow>([state](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        py::gil_scoped_acquire gil;
        if (!state->proc || state->muted > 0) return 0;
        try {
            py::object result = state->proc(message, wParam, lParam);
            if (result.is_none()) return 0;
            if (!PyLong_Check(result.ptr()))
                throw py::type_error("proc must return an int or None, not " +
                                     std::string(py::str(py::type::handle_of(result).attr("__name__"))));
            Py_ssize_t value = PyLong_AsSsize_t(result.ptr());
            if (value == -1 && PyErr_Occurred()) throw py::error_already_set();  // OverflowError
            return static_cast<LRESULT>(value);
        } catch (py::error_already_set& e) {
            keep(*state, takeException(e));
        } catch (py::builtin_exception& e) {
            e.set_error();
            py::error_already_set raised;
            keep(*state, takeException(raised));
        }
        return 0;
    });
    registry()[key(Hwnd())] = this;
}

PyWindow::~PyWindow() {
    registry().erase(key(Hwnd()));
    m_window.reset();  // releases senders still waiting
    Clear();
}

py::object PyWindow::Find(HWND hWnd) {
    auto it = registry().find(key(hWnd));
    if (it == registry().end()) return py::none();
    return py::cast(it->second, py::return_value_policy::reference);
}

void PyWindow::RaisePending() {
    if (!m_state->error) return;
    py::object error = std::move(m_state->error);
    m_state->error = py::object();
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

int PyWindow::Pump(int timeoutMs) {
    if (std::this_thread::get_id() != m_owner) return 0;  // as the library: only the window's thread pumps
    // Waits in slices, so that Ctrl-C is served while nothing comes.
    constexpr int kSliceMs = 100;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int slice = kSliceMs;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            slice = static_cast<int>(std::clamp<long long>(left.count(), 0, kSliceMs));
        }
        int handled;
        {
            py::gil_scoped_release unlocked;
            handled = m_window->Pump(slice);
        }
        RaisePending();
        if (handled > 0 || (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)) return handled;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

int PyWindow::Traverse(visitproc visit, void* arg) {
    Py_VISIT(m_state->proc.ptr());
    Py_VISIT(m_state->error.ptr());
    return 0;
}

void PyWindow::Clear() {
    if (m_state->error) reportLost(m_state->error, m_state->proc);
    m_state->error = py::object();
    m_state->proc = py::object();
}

void BindWindow(py::module_& m) {
    py::class_<PyWindow>(m, "Window", CycleSupport<PyWindow>(), R"(
A message target for a streaming recorder, driven by any event loop.

Window(proc) makes the calling thread the window's thread. proc(message,
wParam, lParam) -> int or None is called on that thread only, while it is in
Pump (or in a recorder's Stop, Prepare or destruction on that thread); for
each completed block the recorder sends UM_BLOCK_READY with the buffer index
(0 or 1) in wParam. An exception raised by proc is kept and raised again by
the next Pump (later ones before it is raised go to sys.unraisablehook, as
does one still kept when the window goes); the message's result is then 0.

While a message waits for the window, its file descriptor (GetFd, fileno)
is readable: hand it to select, selectors or asyncio's loop.add_reader and
call Pump(0) when it is. A recorder keeps the window it streams to alive;
while that recorder is being destroyed (collected), proc is not called.
)")
        .def(py::init<py::object>(), py::arg("proc"), "A window on the calling thread whose messages go to proc.")
        .def(
            "GetHwnd", [](const PyWindow& self) { return reinterpret_cast<std::uintptr_t>(self.Hwnd()); },
            "The window's handle (an int) for CTamblo.Prepare.")
        .def("GetFd", &PyWindow::Fd, "A file descriptor that is readable while a message waits for the window.")
        .def("fileno", &PyWindow::Fd, "The same as GetFd, for select and selectors.")
        .def("Pump", &PyWindow::Pump, py::arg("timeout_ms"), R"(
On the window's thread: handles every message waiting, waiting up to
timeout_ms milliseconds for the first (-1: no limit; Ctrl-C still
interrupts). Returns how many messages were handled; 0 at once on any other
thread. Raises what proc raised.
)");
}

}  // namespace tamblo_py
