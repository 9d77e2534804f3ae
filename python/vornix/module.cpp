// The vornix extension: CVornix over numpy arrays of float64.
#include <vornix/CVornix.h>

#include "KitPy.h"

namespace py = pybind11;

PYBIND11_MODULE(_vornix, m) {
    m.doc() = "Radix-4 FFT and signal processing on numpy arrays of float64, in place.";
    py::class_<CVornix>(m, "CVornix")
        .def(py::init<>())
        .def(
            "Fft",
            [](CVornix& self, py::handle re, py::handle im, int n, bool forward) {
                auto r = kitpy::InPlace(re, "re", n);
                auto i = kitpy::InPlace(im, "im", n);
                double* rp = r.mutable_data();
                double* ip = i.mutable_data();
                py::gil_scoped_release unlocked;
                self.Fft(rp, ip, n, forward);
            },
            py::arg("re"), py::arg("im"), py::arg("n"), py::arg("forward"),
            "In-place DFT of the first N values of re and im.");
}
