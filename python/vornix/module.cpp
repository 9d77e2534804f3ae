// The vornix extension: CVornix over numpy arrays of float64, and functions
// for numpy users beside it. The helpers all its sources share are here.
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "VornixPy.h"

namespace vornixpy {

int Count(const py::handle& obj, const char* name) {
    PyObject* index = PyNumber_Index(obj.ptr());
    if (index == nullptr) {
        PyErr_Clear();
        throw py::type_error(std::string(name) + " must be an int, not " + kitpy::TypeName(obj));
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (overflow != 0 || value < INT_MIN || value > INT_MAX)
        throw py::value_error(std::string(name) + " must fit a 32-bit int, not " + std::string(py::str(obj)));
    return static_cast<int>(value);
}

int CountOr(const py::handle& obj, const char* name, py::ssize_t length) {
    if (!obj.is_none()) return Count(obj, name);
    if (length > INT_MAX)
        throw py::value_error("the array holds " + std::to_string(length) + " values, more than one call takes (" +
                              std::to_string(INT_MAX) + "); pass " + name);
    return static_cast<int>(length);
}

filter_type FilterType(const py::handle& obj) {
    static const py::handle kind = py::type::of<filter_type>();
    if (py::isinstance(obj, kind)) return obj.cast<filter_type>();
    return static_cast<filter_type>(Count(obj, "type"));
}

void Need(const py::array& a, const char* name, py::ssize_t need) {
    if (a.size() < need)
        throw py::value_error(std::string(name) + " holds " + std::to_string(a.size()) + " values; " +
                              std::to_string(need) + " are needed");
}

Signal ReadSignal(const py::handle& x, const char* name, bool allow_complex, bool channels) {
    py::array given = py::isinstance<py::array>(x) ? py::reinterpret_borrow<py::array>(x) : py::array::ensure(x);
    const char kind = given ? given.dtype().kind() : 'O';
    const bool complex = kind == 'c';
    if (complex && !allow_complex)
        throw py::type_error(std::string(name) + " must hold real numbers, not " + std::string(py::str(given.dtype())));
    if (!complex && kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
        throw py::type_error(std::string(name) + " must be an array of numbers, not " +
                             (given && py::isinstance<py::array>(x)
                                  ? "an array of " + std::string(py::str(given.dtype()))
                                  : kitpy::TypeName(x)));
    if (given.ndim() != 1 && !(channels && given.ndim() == 2))
        throw py::value_error(std::string(name) +
                              (channels ? " must be 1-D (frames,) or 2-D (frames, channels)" : " must be 1-D") +
                              ", not " + std::to_string(given.ndim()) + "-D with shape " + kitpy::ShapeText(given));
    constexpr int flags = py::array::c_style | py::array::forcecast;
    Signal s;
    if (complex)
        s.keep = py::array_t<std::complex<double>, flags>::ensure(given);
    else
        s.keep = py::array_t<double, flags>::ensure(given);
    if (!s.keep) throw py::error_already_set();
    s.values = static_cast<const double*>(s.keep.data());
    s.complex = complex;
    s.n = s.keep.size();
    return s;
}

int TransformLength(const Signal& s, const char* function) {
    if (s.n < 1 || s.n > kMaxPoints || (s.n & (s.n - 1)) != 0)
        throw py::value_error(std::string(function) + " takes a power of two from 1 to " + std::to_string(kMaxPoints) +
                              " values, not " + std::to_string(s.n) + " (zero-pad with numpy.pad)");
    return static_cast<int>(s.n);
}

CVornix& ThreadEngine() {
    thread_local std::unique_ptr<CVornix> engine;
    if (!engine) engine = std::make_unique<CVornix>();
    return *engine;
}

double* ThreadScratch(py::ssize_t points) {
    thread_local std::vector<double> scratch;
    if (scratch.size() < 2 * static_cast<size_t>(points)) scratch.resize(2 * static_cast<size_t>(points));
    return scratch.data();
}

}  // namespace vornixpy

PYBIND11_MODULE(_vornix, m) {
    m.doc() =
        "Vornix: radix-4 FFT and signal processing on numpy arrays of float64.\n\n"
        "CVornix mirrors the C++ class member for member, in place on writeable\n"
        "C-contiguous 1-D float64 arrays; the functions beside it take array-likes\n"
        "and return new arrays.";
    // Each docstring starts with the signature as Python callers write it
    // (pybind11's would show the raw handles the arguments are checked from).
    pybind11::options options;
    options.disable_function_signatures();
    vornixpy::BindMembers(m);
    vornixpy::BindFunctions(m);
}
