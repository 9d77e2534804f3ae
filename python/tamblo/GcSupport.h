// Lets Python's cycle collector see the Python objects a wrapped C++ object
// holds, so that a cycle through them (a window procedure that refers to the
// recorder that keeps the window) is collected, and the capture stopped.
#pragma once

#include <pybind11/pybind11.h>

namespace tamblo_py {

namespace py = pybind11;

// T has `int Traverse(visitproc, void*)` and `void Clear()`.
template <class T>
py::custom_type_setup CycleSupport() {
    return py::custom_type_setup([](PyHeapTypeObject* heapType) {
        PyTypeObject* type = &heapType->ht_type;
        type->tp_flags |= Py_TPFLAGS_HAVE_GC;
        // Untracked before anything is freed: the destructor may let other
        // threads (and their collections) run.
        type->tp_dealloc = [](PyObject* self) {
            PyObject_GC_UnTrack(self);
            py::detail::pybind11_object_dealloc(self);
        };
        type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) -> int {
            Py_VISIT(Py_TYPE(self));
            auto h = reinterpret_cast<py::detail::instance*>(self)->get_value_and_holder();
            if (!h.holder_constructed()) return 0;  // not initialised yet
            return h.template value_ptr<T>()->Traverse(visit, arg);
        };
        type->tp_clear = [](PyObject* self) -> int {
            auto h = reinterpret_cast<py::detail::instance*>(self)->get_value_and_holder();
            if (h.holder_constructed()) h.template value_ptr<T>()->Clear();
            return 0;
        };
    });
}

}  // namespace tamblo_py
