// Shared by the Python modules: paths and numpy arrays as the C++ members
// take them, with errors that say what the caller gave.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

namespace kitpy {

namespace py = pybind11;

// "list", "numpy.ndarray", ...: the type of what the caller gave.
inline std::string TypeName(const py::handle& obj) {
    py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr()));
    std::string module = py::str(type.attr("__module__"));
    std::string name = py::str(type.attr("__qualname__"));
    return module == "builtins" ? name : module + "." + name;
}

// "(3, 4)"
inline std::string ShapeText(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(a.shape(i));
    }
    return text + (a.ndim() == 1 ? ",)" : ")");
}

// A path given as str, bytes or os.PathLike, as the wide string the libraries
// take. Bytes are decoded as the file system's names are (os.fsdecode).
inline std::wstring WidePath(const py::handle& path) {
    py::object text = py::reinterpret_borrow<py::object>(path);
    if (!PyUnicode_Check(path.ptr())) {  // str, the common case, needs no decoding
        py::module_ os = py::module_::import("os");
        text = os.attr("fsdecode")(os.attr("fspath")(path));  // TypeError for anything else
    }
    Py_ssize_t length = 0;
    wchar_t* wide = PyUnicode_AsWideCharString(text.ptr(), &length);
    if (wide == nullptr) throw py::error_already_set();
    std::wstring out(wide, static_cast<size_t>(length));
    PyMem_Free(wide);
    if (out.find(L'\0') != std::wstring::npos) throw py::value_error("the path holds a NUL character");
    return out;
}

// A path as the bytes the file system gets (os.fsencode).
inline std::string NarrowPath(const py::handle& path) {
    py::module_ os = py::module_::import("os");
    std::string out = py::bytes(os.attr("fsencode")(os.attr("fspath")(path)));
    if (out.find('\0') != std::string::npos) throw py::value_error("the path holds a NUL character");
    return out;
}

// The values of an array a member writes into, in place: a writeable,
// C-contiguous 1-D numpy array of T (float64 unless said) holding at least `need`
// values. Anything else is refused: TypeError for what is not such an array or
// has another dtype, ValueError for another shape, layout or a short array.
template <typename T = double>
inline py::array_t<T> InPlace(const py::handle& obj, const char* name, py::ssize_t need = 0) {
    const py::dtype want = py::dtype::of<T>();
    auto wanted = [] { return std::string(py::str(py::dtype::of<T>())); };  // "float64", for the messages
    if (!py::isinstance<py::array>(obj))
        throw py::type_error(std::string(name) + " must be a numpy.ndarray of " + wanted() + ", not " + TypeName(obj));
    auto a = py::reinterpret_borrow<py::array>(obj);
    if (!a.dtype().is(want))
        throw py::type_error(std::string(name) + " must have dtype " + wanted() + ", not " +
                             std::string(py::str(a.dtype())) + " (convert it with .astype(numpy." + wanted() + "))");
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be 1-D, not " + std::to_string(a.ndim()) + "-D with shape " +
                              ShapeText(a));
    if (!(a.flags() & py::array::c_style))
        throw py::value_error(std::string(name) +
                              " must be contiguous, not a strided view (numpy.ascontiguousarray makes a copy)");
    if (!a.writeable()) throw py::value_error(std::string(name) + " is read-only");
    if (a.size() < need)
        throw py::value_error(std::string(name) + " holds " + std::to_string(a.size()) + " values; " +
                              std::to_string(need) + " are needed");
    return py::reinterpret_borrow<py::array_t<T>>(a);
}

// Values a member only reads: anything numpy turns into a 1-D float64 array
// (a copy only when it is not one already, contiguous).
inline py::array_t<double, py::array::c_style | py::array::forcecast> Input(const py::handle& obj, const char* name) {
    using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;
    // Complex values would lose their imaginary parts without a word.
    if (py::isinstance<py::array>(obj) && py::reinterpret_borrow<py::array>(obj).dtype().kind() == 'c')
        throw py::type_error(std::string(name) + " must hold real numbers, not " +
                             std::string(py::str(py::reinterpret_borrow<py::array>(obj).dtype())));
    Array a = Array::ensure(obj);
    if (!a) throw py::type_error(std::string(name) + " must be an array of numbers, not " + TypeName(obj));
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be 1-D, not " + std::to_string(a.ndim()) + "-D with shape " +
                              ShapeText(a));
    return a;
}

}  // namespace kitpy
