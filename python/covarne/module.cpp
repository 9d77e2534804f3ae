// The covarne extension: Covarne2005 and its header record over numpy arrays,
// byte buffers and paths; the checks every part shares.
#include "Module.h"

#include <clocale>
#include <cwchar>

namespace covarne_py {

SavedLocale::SavedLocale() {
    const char* now = std::setlocale(LC_ALL, nullptr);
    name = now != nullptr ? now : "";
}

Object::Object() : SavedLocale(), Covarne2005() {
    if (!name.empty()) std::setlocale(LC_ALL, name.c_str());
}

Object::Object(const Object& other) : SavedLocale(), Covarne2005(other) {
    if (!name.empty()) std::setlocale(LC_ALL, name.c_str());
}

Object* Object::Copy(const Object& other) {
    std::lock_guard<std::mutex> held(other.lock);
    return new Object(other);
}

Doubles Samples(const py::handle& obj, const char* name, long long need) {
    if (obj.is_none()) return py::reinterpret_steal<Doubles>(py::handle());  // no array: a null pointer
    Doubles a = kitpy::Input(obj, name);
    if (a.size() < need)
        throw py::value_error(std::string(name) + " holds " + std::to_string(a.size()) + " values; " +
                              std::to_string(need) + " are needed");
    return a;
}

Frames::Frames(const py::handle& l, const py::handle& r, long long need, const char* name)
    : left(Samples(l, name, need)), right(Samples(r, "right", need)) {}

Bytes::Bytes(const py::handle& obj, const char* name) : m_name(name) {
    if (PyObject_GetBuffer(obj.ptr(), &m_view, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();
        m_view = Py_buffer{};
        throw py::type_error(m_name + " must be a writeable buffer of bytes (bytearray, numpy.ndarray of uint8), not " +
                             kitpy::TypeName(obj));
    }
    try {
        const std::string format = m_view.format != nullptr ? m_view.format : "B";
        if (m_view.itemsize != 1 ||
            (format != "B" && format != "=B" && format != "<B" && format != "|B" && format != "c"))
            throw py::type_error(m_name + " must hold bytes (uint8), not items of format '" + format + "'");
        if (m_view.ndim != 1) throw py::value_error(m_name + " must be 1-D, not " + std::to_string(m_view.ndim) + "-D");
        if (!PyBuffer_IsContiguous(&m_view, 'C'))
            throw py::value_error(m_name + " must be contiguous, not a strided view");
        if (m_view.readonly) throw py::value_error(m_name + " is read-only");
    } catch (...) {
        PyBuffer_Release(&m_view);  // the destructor does not run for a constructor that throws
        throw;
    }
}

void Bytes::Need(long long bytes, const char* what) const {
    if (Size() < bytes)
        throw py::value_error(m_name + " holds " + std::to_string(Size()) + " bytes; " + std::to_string(bytes) +
                              " are needed for " + what);
}

py::tuple LastError(Object& self) {
    wchar_t text[1024];
    const int code = NoGil(self, [&] { return self.GetLastError(text, 1024); });
    PyObject* str = PyUnicode_FromWideChar(text, -1);
    if (str == nullptr) throw py::error_already_set();
    return py::make_tuple(code, py::reinterpret_steal<py::str>(str));
}

}  // namespace covarne_py

using namespace covarne_py;

PYBIND11_MODULE(_covarne, m) {
    m.doc() = "Reads, writes and edits 8- and 16-bit PCM WAV files (the Covarne library).";
    BindHeader(m);

    Class c(m, "Covarne2005", R"(A WAV file object of the Covarne library.

Every member that touches a file takes its path (str, bytes or os.PathLike),
opens the file and closes it again before it returns. Results follow the
library: queries give 0 and edits -1 on failure, and GetLastError() tells why.
Frame counts, starts and indices are in frames; rates in frames per second.
Members run with the GIL released; one object runs one member at a time.)");
    c.def(py::init<>(), "A new object: nothing mounted, no error.")
        .def(py::init(&Object::Copy), py::arg("other"),
             "A copy of `other`: its last inspection, last error and mounted file, with windows of its own.")
        .def("__copy__", &Object::Copy)
        .def(
            "__deepcopy__", [](const Object& self, py::handle) { return Object::Copy(self); }, py::arg("memo"))
        .def(
            "GetVersion",
            [](Object& self, bool numeric) {
                return std::string(NoGil(self, [&] { return self.GetVersion(numeric); }));
            },
            py::arg("numeric"), "The library's version: \"100\" when numeric is true, else \"1.0\".")
        .def("GetLastError", &LastError,
             "Why the last call failed, as (code, text): (0, \"\") after a success.\n\n"
             "Codes: 1 bad path, 2 no such file, 3 a directory, 4 not a RIFF/WAVE file, 5 not PCM, 6 no data chunk,\n"
             "7 frames that do not fit the format, 8 bit depth not converted, 9 channels do not match,\n"
             "10 bits do not match, 11 bad argument, 12 frame outside the file, 13 too large, 14 already mounted,\n"
             "15 no space left, 16 another system error.");
    BindFormat(c);
    BindLoad(c, m);
    BindWrite(c);
    BindEdits(c);
    BindRaw(c);
}
