// What the parts of the covarne extension share: the object Python holds, the
// checks of the arguments the C++ members would take on trust, and the way a
// member is called with the GIL released.
#pragma once

#include <covarne/Covarne2005.h>

#include <mutex>
#include <string>
#include <type_traits>

#include "KitPy.h"

namespace covarne_py {

namespace py = pybind11;

// The process's C locale as it was before the base constructor set the user's
// default, so that the object can give it back: Python and other extensions
// keep the locale they started with (numbers, dates and texts look the same).
struct SavedLocale {
    SavedLocale();
    std::string name;
};

// The Covarne2005 that Python holds. Its members run without the GIL, so the
// object's lock keeps two Python threads from running members of one object at
// the same time (the C++ object serves one thread at a time).
struct Object : SavedLocale, Covarne2005 {
    Object();
    Object(const Object& other);
    // A copy made while `other` runs no member.
    static Object* Copy(const Object& other);
    mutable std::mutex lock;
};

// Runs `call` on `self` with the GIL released and the object's lock held. Every
// Python object the call uses must have been inspected before.
template <typename Call>
auto NoGil(Object& self, Call&& call) {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> held(self.lock);
    return call();
}

// Arguments taken as the Python objects they are and checked by the member;
// their types only name what the member takes in its signature.
struct PathArg : py::object {  // str, bytes or os.PathLike
    static constexpr auto kName = py::detail::const_name("str | bytes | os.PathLike");
};
struct OutArg : py::object {  // an array a member writes into, or None
    static constexpr auto kName = py::detail::const_name("numpy.ndarray | None");
};
struct InArg : py::object {  // samples a member reads
    static constexpr auto kName = py::detail::const_name("numpy.typing.ArrayLike");
};
struct BytesArg : py::object {  // a writeable buffer of bytes
    static constexpr auto kName = py::detail::const_name("bytearray | numpy.ndarray");
};
// The second channel of a member that takes `left` and `right`: None (one
// channel) or samples. Numbers are not taken for it, so that the overloads that
// take a count in its place are chosen for them.
struct Right : py::object {
    static constexpr auto kName = py::detail::const_name("numpy.typing.ArrayLike | None");
};

// Samples a member only reads, as float64 values: None (where the member takes
// none) or anything numpy turns into a 1-D array of at least `need` values.
using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
Doubles Samples(const py::handle& obj, const char* name, long long need);
// Their values, or null for None (a null handle, not an empty array).
inline double* Data(Doubles& a) { return a ? a.mutable_data() : nullptr; }

// The samples of `need` frames a member reads: `left` (named `name`) and, for
// two channels, `right`; either may be None where the member takes none.
struct Frames {
    Frames(const py::handle& left, const py::handle& right, long long need, const char* name = "left");
    Doubles left, right;
    double* Left() { return Data(left); }
    double* Right() { return Data(right); }
};

// A writeable, C-contiguous, 1-D buffer of bytes (a numpy array of uint8, a
// bytearray, a memoryview of one, mmap ...) of at least `need` bytes, held for
// the duration of a call.
class Bytes {
public:
    Bytes(const py::handle& obj, const char* name);
    ~Bytes() { PyBuffer_Release(&m_view); }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    void Need(long long bytes, const char* what) const;
    unsigned char* Data() const { return static_cast<unsigned char*>(m_view.buf); }
    long long Size() const { return m_view.len; }

private:
    Py_buffer m_view{};
    std::string m_name;
};

// A member that takes a path alone and answers a number: wide paths as text,
// narrow ones as the bytes the file system gets.
template <typename Char, int (Covarne2005::*Member)(const Char*)>
void PathQuery(py::class_<Object>& c, const char* name, const char* doc) {
    c.def(
        name,
        [](Object& self, PathArg path) {
            const std::basic_string<Char> p = [&] {
                if constexpr (std::is_same<Char, wchar_t>::value)
                    return kitpy::WidePath(path);
                else
                    return kitpy::NarrowPath(path);
            }();
            Covarne2005& file = self;  // the member is the base class's
            return NoGil(self, [&] { return (file.*Member)(p.c_str()); });
        },
        py::arg("path"), doc);
}

// The last error of `self` as (code, text).
py::tuple LastError(Object& self);

// The parts of the class and of the module, one concern each.
using Class = py::class_<Object>;
void BindHeader(py::module_& m);
void BindFormat(Class& c);
void BindLoad(Class& c, py::module_& m);
void BindWrite(Class& c);
void BindEdits(Class& c);
void BindRaw(Class& c);

}  // namespace covarne_py

namespace pybind11 {
namespace detail {

template <typename T>
struct covarne_arg_caster {
    PYBIND11_TYPE_CASTER(T, T::kName);
    bool load(handle src, bool) {
        if (!src) return false;
        static_cast<object&>(value) = reinterpret_borrow<object>(src);
        return true;
    }
    static handle cast(const T& v, return_value_policy, handle) { return v.inc_ref(); }
};
template <>
struct type_caster<covarne_py::PathArg> : covarne_arg_caster<covarne_py::PathArg> {};
template <>
struct type_caster<covarne_py::OutArg> : covarne_arg_caster<covarne_py::OutArg> {};
template <>
struct type_caster<covarne_py::InArg> : covarne_arg_caster<covarne_py::InArg> {};
template <>
struct type_caster<covarne_py::BytesArg> : covarne_arg_caster<covarne_py::BytesArg> {};
template <>
struct type_caster<covarne_py::Right> : covarne_arg_caster<covarne_py::Right> {
    bool load(handle src, bool convert) {
        // A number here is a count given to an overload without `right`.
        static const handle scalar = object(module_::import("numpy").attr("generic")).release();
        if (src && !src.is_none() && !isinstance<array>(src) && (PyNumber_Check(src.ptr()) || isinstance(src, scalar)))
            return false;
        return covarne_arg_caster<covarne_py::Right>::load(src, convert);
    }
};

}  // namespace detail
}  // namespace pybind11
