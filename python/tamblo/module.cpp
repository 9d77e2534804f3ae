// The tamblo extension: the recorder and the window stand-in over numpy arrays.
#include <tamblo/TambloTypes.h>

#include "PyRecorder.h"
#include "PyWindow.h"

namespace py = pybind11;

PYBIND11_MODULE(_tamblo, m) {
    m.doc() = "16-bit PCM capture from the default input device into numpy arrays of float64.";
    m.attr("UM_BLOCK_READY") = UM_BLOCK_READY;
    tamblo_py::BindWindow(m);
    tamblo_py::BindRecorder(m);
}
