#include "PyRecorder.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "GcSupport.h"
#include "KitPy.h"
#include "PyWindow.h"

namespace tamblo_py {

namespace {

// The library's codes the wrapper needs to tell apart.
constexpr int kNoThread = 4;
constexpr long kBufferBytes = 192000;  // a worker's buffer: the largest block in bytes

// What the library accepts before it replaces its worker: 16-bit PCM, one or
// two channels, a positive rate, and a block that fits a worker buffer.
bool validFormat(short channels, short bits, int rate) {
    return bits == 16 && (channels == 1 || channels == 2) && rate > 0;
}

bool streamReplaces(int length, short channels, short bits, int rate) {
    return validFormat(channels, bits, rate) && length >= 0 && static_cast<long>(length) * channels * 2 <= kBufferBytes;
}

bool recReplaces(bool left, bool right, int length, short channels, short bits, int rate) {
    return validFormat(channels, bits, rate) && length >= 0 && (length == 0 || left) && (!right || channels == 2) &&
           static_cast<long>(rate) * channels * 2 <= kBufferBytes;
}

int lastCode(CTamblo& rec) { return rec.GetLastError(nullptr, 0); }

py::tuple lastError(CTamblo& rec) {
    wchar_t text[256];
    int code = rec.GetLastError(text, 256);
    py::object str = py::reinterpret_steal<py::object>(PyUnicode_FromWideChar(text, -1));
    if (!str) throw py::error_already_set();
    return py::make_tuple(code, str);
}

// The handle and, when this module made it, the Window object of a Prepare's
// first argument.
HWND windowOf(py::handle target, py::object& window) {
    window = py::none();
    if (target.is_none()) return nullptr;
    if (py::isinstance<PyWindow>(target)) {
        window = py::reinterpret_borrow<py::object>(target);
        return target.cast<PyWindow&>().Hwnd();
    }
    if (!PyLong_Check(target.ptr()) || PyBool_Check(target.ptr()))
        throw py::type_error("hwnd must be a tamblo.Window, a handle from Window.GetHwnd() or None, not " +
                             kitpy::TypeName(target));
    unsigned long long value = PyLong_AsUnsignedLongLong(target.ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        throw py::value_error("hwnd must be a handle from Window.GetHwnd() (a non-negative int), not " +
                              std::string(py::repr(target)));
    }
    HWND hWnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    window = PyWindow::Find(hWnd);
    return hWnd;
}

// The blocking recording of every Rec overload: destinations checked, then
// recorded with the GIL released.
void rec(PyRecorder& self, py::handle left, py::handle right, int length, short channels, short bits, int rate,
         const char* leftName) {
    const py::ssize_t need = std::max(length, 0);
    py::object keepLeft, keepRight;  // the destinations stay alive through the call
    double* l = nullptr;
    double* r = nullptr;
    if (!left.is_none() || need > 0) {
        auto a = kitpy::InPlace(left, leftName, need);
        l = a.mutable_data();
        keepLeft = std::move(a);
    }
    if (!right.is_none()) {
        auto a = kitpy::InPlace(right, "right", need);
        r = a.mutable_data();
        keepRight = std::move(a);
    }
    const bool replaces = recReplaces(l != nullptr, r != nullptr, length, channels, bits, rate);
    const int frames = std::min(length, rate);  // the longer of its two blocks
    if (replaces) self.blocks.Begin(frames);
    {
        py::gil_scoped_release unlocked;
        self.rec->Rec(l, r, length, channels, bits, rate);
    }
    if (replaces) self.blocks.End(frames, lastCode(*self.rec) != kNoThread);
}

}  // namespace

void BlockLimit::Begin(int frames) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_running++ == 0) {
        m_most = m_current;
        m_overlap = false;
    } else {
        m_overlap = true;
    }
    m_most = std::max(m_most, frames);
}

void BlockLimit::End(int frames, bool replaced) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (--m_running > 0) return;
    if (m_overlap)
        m_current = m_most;
    else if (replaced)
        m_current = frames;
}

int BlockLimit::Get() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running > 0 ? m_most : m_current;
}

PyRecorder::PyRecorder() : rec(std::make_unique<CTamblo>()) {}

PyRecorder::~PyRecorder() { Shut(true); }

void PyRecorder::Shut(bool destroy) {
    // The library stops a capture still running and waits for it; on the
    // window's thread it handles the window's messages meanwhile.
    PyWindow* target = window && py::isinstance<PyWindow>(window) ? &window.cast<PyWindow&>() : nullptr;
    if (target) target->Mute(true);
    {
        py::gil_scoped_release unlocked;
        if (destroy)
            rec.reset();
        else
            rec->Stop();
    }
    if (target) target->Mute(false);
}

int PyRecorder::Traverse(visitproc visit, void* arg) {
    Py_VISIT(window.ptr());
    Py_VISIT(previousWindow.ptr());
    return 0;
}

void PyRecorder::Clear() {
    Shut(false);  // collected in a cycle: the capture ends before the window may go
    window = py::object();
    previousWindow = py::object();
}

void BindRecorder(py::module_& m) {
    py::class_<PyRecorder>(m, "CTamblo", CycleSupport<PyRecorder>(), R"(
Records 16-bit PCM from the default input device into float64 arrays.

Members keep the C++ names, arguments and results: lengths in frames, rates
in frames per second, samples s / 32768. No member raises for what the
library reports: ask GetLastError. Arrays a member writes must be writeable,
C-contiguous, 1-D float64 numpy arrays long enough (else TypeError or
ValueError, before anything runs). The GIL is released while a member can
wait (Prepare, Rec, Start, Stop, and the recorder's destruction, which stops
a capture still running).
)")
        .def(py::init<>(), "A recorder with echo on; opens nothing until Prepare or Rec.")
        .def(
            "Prepare",
            [](PyRecorder& self, py::handle hwnd, int length, short channels, short bits, int sampleRate) {
                py::object window;
                HWND hWnd = windowOf(hwnd, window);
                self.previousWindow = std::move(self.window);
                self.window = std::move(window);
                const bool replaces = streamReplaces(length, channels, bits, sampleRate);
                if (replaces) self.blocks.Begin(length);
                {
                    py::gil_scoped_release unlocked;
                    self.rec->Prepare(hWnd, length, channels, bits, sampleRate);
                }
                if (replaces) self.blocks.End(length, lastCode(*self.rec) != kNoThread);
            },
            py::arg("hwnd"), py::arg("length"), py::arg("channels"), py::arg("bits"), py::arg("sampleRate"), R"(
Streaming: opens the device for blocks of `length` frames, each announced
to the window as UM_BLOCK_READY (wParam: the buffer index). hwnd is a
tamblo.Window, its handle, or None. Capture begins at Start. Stops a capture
still running first. The recorder keeps the window alive.
)")
        .def(
            "Rec",
            [](PyRecorder& self, py::handle left, py::handle right, int length, short channels, short bits,
               int sampleRate) { rec(self, left, right, length, channels, bits, sampleRate, "left"); },
            py::arg("left"), py::arg("right"), py::arg("length"), py::arg("channels"), py::arg("bits"),
            py::arg("sampleRate"), R"(
Blocking: records `length` frames of `channels` channels into left[:length]
and, unless right is None, right[:length]; returns when they are stored, the
recording is stopped (Stop from another thread) or the device fails.
GetRecordedFrames tells how many frames were stored, GetLastError why fewer.
)")
        .def(
            "Rec",
            [](PyRecorder& self, py::handle left, py::handle right, int length, int sampleRate) {
                rec(self, left, right, length, 2, 16, sampleRate, "left");
            },
            py::arg("left"), py::arg("right"), py::arg("length"), py::arg("sampleRate"),
            "Rec(left, right, length, 2, 16, sampleRate): two channels of 16 bits.")
        .def(
            "Rec",
            [](PyRecorder& self, py::handle samples, int length, int sampleRate) {
                rec(self, samples, py::none(), length, 1, 16, sampleRate, "samples");
            },
            py::arg("samples"), py::arg("length"), py::arg("sampleRate"),
            "Rec(samples, None, length, 1, 16, sampleRate): one channel of 16 bits.")
        .def(
            "Start",
            [](PyRecorder& self) {
                py::gil_scoped_release unlocked;
                self.rec->Start();
            },
            "Streaming: capture begins.")
        .def(
            "Stop",
            [](PyRecorder& self) {
                py::gil_scoped_release unlocked;
                self.rec->Stop();
            },
            R"(
Drops the blocks in flight and waits up to 3000 ms for the device to close.
From another thread it ends a Rec early (GetLastError then gives 9).
)")
        .def(
            "AddBuffer", [](PyRecorder& self) { self.rec->AddBuffer(); },
            "From the UM_BLOCK_READY procedure, after GetBuffer: hands the buffer back to the device.")
        .def(
            "GetBuffer",
            [](PyRecorder& self, int index, py::handle left, py::handle right) {
                const int need = self.blocks.Get();
                auto l = kitpy::InPlace(left, "left", need);
                double* r = nullptr;
                py::object keepRight;
                if (!right.is_none()) {
                    auto a = kitpy::InPlace(right, "right", need);
                    r = a.mutable_data();
                    keepRight = std::move(a);
                }
                self.rec->GetBuffer(index, l.mutable_data(), r);
            },
            py::arg("index"), py::arg("left"), py::arg("right") = py::none(), R"(
Converts buffer `index` (the message's wParam) into left and, unless right
is None, right: one block of the length given to Prepare, which each array
must hold at least. Does nothing without a running capture.
)")
        .def(
            "EchoOn", [](PyRecorder& self) { self.rec->EchoOn(); }, "Echo on (no effect on capture).")
        .def(
            "EchoOff", [](PyRecorder& self) { self.rec->EchoOff(); }, "Echo off (no effect on capture).")
        .def(
            "GetVersion", [](PyRecorder& self, int compact) { return std::string(self.rec->GetVersion(compact)); },
            py::arg("compact"), "\"110\" when compact is nonzero, else \"1.1\".")
        .def(
            "GetLastError", [](PyRecorder& self) { return lastError(*self.rec); },
            R"(
(code, text): code 0 when the last Rec, Prepare, Start or Stop met no error,
else the library's code (negative: the sound system's errno) and its text.
A Rec cut short by Stop gives 9.
)")
        .def(
            "GetDroppedFrames", [](PyRecorder& self) { return self.rec->GetDroppedFrames(); },
            "Frames lost during the current or last capture, as far as the device lets them be seen.")
        .def(
            "GetRecordedFrames", [](PyRecorder& self) { return self.rec->GetRecordedFrames(); },
            "Frames the last Rec stored, from the start of its destinations.");
}

}  // namespace tamblo_py
