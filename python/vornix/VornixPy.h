// Shared by the vornix extension's sources: counts, filter kinds and signals
// as the C++ members take them, with errors that say what the caller gave.
#pragma once

#include <vornix/CVornix.h>

#include <complex>
#include <mutex>

#include "KitPy.h"

namespace vornixpy {

namespace py = pybind11;

// The largest transform of the engine.
constexpr int kMaxPoints = 65536;

// CVornix as Python holds it. The members that use the engine's areas take
// turns on `busy` (with the GIL released), so that one object may be shared
// between Python threads without mixing two transforms in one area.
struct Engine : CVornix {
    Engine() = default;
    Engine(const Engine& other) : CVornix(other) {}
    std::mutex busy;
};

// A signed 32-bit count as the C++ members take it: a Python int (or anything
// with __index__); TypeError or ValueError otherwise.
int Count(const py::handle& obj, const char* name);
// The same, or the array's `length` for None.
int CountOr(const py::handle& obj, const char* name, py::ssize_t length);

// A filter kind: a vornix.filter_type or any int, as the C++ takes any int.
filter_type FilterType(const py::handle& obj);

// ValueError unless `a` holds at least `need` values.
void Need(const py::array& a, const char* name, py::ssize_t need);

// A 1-D signal the convenience functions read (or 2-D (frames, channels) when
// `channels`): real values as float64, or complex values as complex128 (re,
// im pairs) when `allow_complex`; numpy converts anything else numeric, with
// a copy only when needed.
struct Signal {
    py::array keep;
    const double* values;  // n doubles, or 2n for complex
    bool complex;
    py::ssize_t n;
};
Signal ReadSignal(const py::handle& x, const char* name, bool allow_complex, bool channels = false);

// The transform length of a signal: n itself when it is a power of two from 1
// to 65536, else ValueError naming the function.
int TransformLength(const Signal& s, const char* function);

// The calling thread's own processing object and split work area (re in the
// first `points` doubles, im in the next), made on first use. Each Python
// thread gets its own, so the functions need no lock.
CVornix& ThreadEngine();
double* ThreadScratch(py::ssize_t points);

void BindMembers(py::module_& m);
void BindFunctions(py::module_& m);

}  // namespace vornixpy
