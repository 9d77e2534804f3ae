// tamblo.CTamblo: the recorder over numpy arrays.
#pragma once

#include <pybind11/pybind11.h>
#include <tamblo/CTamblo.h>

#include <memory>
#include <mutex>

namespace tamblo_py {

namespace py = pybind11;

// The most frames GetBuffer may write into each destination: the block
// length of the recorder's current worker, or, while a Prepare or Rec runs
// on another thread, of any worker it may put in its place.
class BlockLimit {
public:
    // A Prepare or Rec that may replace the worker with blocks of `frames` begins.
    void Begin(int frames);
    // It has returned; `replaced`: its worker is in place.
    void End(int frames, bool replaced);
    int Get();

private:
    std::mutex m_lock;
    int m_current = 0;
    int m_running = 0;
    int m_most = 0;          // the largest length that may be current while calls run
    bool m_overlap = false;  // calls ran at once: which one's worker is current is not known
};

struct PyRecorder {
    PyRecorder();
    ~PyRecorder();  // stops a capture still running, with the GIL released

    int Traverse(visitproc visit, void* arg);
    void Clear();
    // Stops the capture (and with `destroy` frees the recorder) with the GIL
    // released; the window's procedure is not called meanwhile.
    void Shut(bool destroy);

    std::unique_ptr<CTamblo> rec;
    BlockLimit blocks;
    // The windows named by the last two Prepare calls, kept alive while the
    // recorder may send to them (the older one in case the newer was refused).
    py::object window, previousWindow;
};

void BindRecorder(py::module_& m);

}  // namespace tamblo_py
