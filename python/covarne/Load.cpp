// Loading samples: Load into float64 or int16 arrays, the mounted file, and the
// whole-range read behind covarne.read.
#include <algorithm>
#include <vector>

#include "Module.h"

namespace covarne_py {

namespace {

// An array Load writes into, or None.
template <typename T>
py::array_t<T> Destination(const py::handle& obj, const char* name, long long need) {
    if (obj.is_none()) return py::reinterpret_steal<py::array_t<T>>(py::handle());  // no array: a null pointer
    return kitpy::InPlace<T>(obj, name, static_cast<py::ssize_t>(need));
}

template <typename T>
int LoadInto(Object& self, const std::wstring& path, int start, int count, const py::handle& left,
             const py::handle& right) {
    const long long need = std::max(count, 0);
    auto l = Destination<T>(left, "left", need);
    auto r = Destination<T>(right, "right", need);
    T* lp = l ? l.mutable_data() : nullptr;
    T* rp = r ? r.mutable_data() : nullptr;
    return NoGil(self, [&] { return self.Load(path.c_str(), start, count, lp, rp); });
}

bool IsInt16(const py::handle& obj) {
    return py::isinstance<py::array>(obj) &&
           py::reinterpret_borrow<py::array>(obj).dtype().is(py::dtype::of<std::int16_t>());
}

// Frames a stereo read loads per call, into two arrays that stay in the cache
// while they are interleaved into the result.
constexpr int kReadChunk = 1 << 16;

// covarne.read: frames `start` on (`frames` of them, or to the end when
// negative), as ((frames,) or (frames, 2) float64 array, rate, 0, "") or, on a
// failure, (None, 0, code, text).
py::tuple Read(Object& self, PathArg path, long long start, long long frames) {
    const std::wstring p = kitpy::WidePath(path);
    tagWAVEFILEHEADER2005 h{};
    const bool found = NoGil(self, [&] { return self.GetWaveInfo(p.c_str(), &h) != 0; });
    auto failed = [&] {
        py::tuple e = LastError(self);
        return py::make_tuple(py::none(), 0, e[0], e[1]);
    };
    if (!found) return failed();
    if (h.channels > 2)
        return py::make_tuple(py::none(), 0, 9, std::to_string(h.channels) + " channels in the file; 1 or 2 are read");
    const long long n = h.blockAlign > 0 ? h.dataSize / h.blockAlign : 0;
    const long long first = std::min(start, n);
    const long long count = frames < 0 ? n - first : std::min(frames, n - first);
    const bool stereo = h.channels == 2;
    py::array_t<double> out = stereo ? py::array_t<double>({static_cast<py::ssize_t>(count), py::ssize_t{2}})
                                     : py::array_t<double>(static_cast<py::ssize_t>(count));
    double* data = out.mutable_data();
    // Frames delivered, or -1 when the first load failed.
    const long long done = NoGil(self, [&]() -> long long {
        if (count == 0) return 0;
        if (!stereo) {
            const int bytes = self.Load(p.c_str(), static_cast<int>(first), static_cast<int>(count), data, nullptr);
            return bytes > 0 ? bytes / h.blockAlign : -1;
        }
        std::vector<double> left(static_cast<size_t>(std::min<long long>(count, kReadChunk)));
        std::vector<double> right(left.size());
        long long delivered = 0;
        while (delivered < count) {
            const int want = static_cast<int>(std::min<long long>(kReadChunk, count - delivered));
            const int bytes =
                self.Load(p.c_str(), static_cast<int>(first + delivered), want, left.data(), right.data());
            if (bytes <= 0) return delivered > 0 ? delivered : -1;
            const int got = bytes / h.blockAlign;
            double* to = data + 2 * delivered;
            for (int i = 0; i < got; ++i) {
                to[2 * i] = left[static_cast<size_t>(i)];
                to[2 * i + 1] = right[static_cast<size_t>(i)];
            }
            delivered += got;
            if (got < want) break;  // the file has become shorter since it was inspected
        }
        return delivered;
    });
    if (done < 0) return failed();
    py::object samples = out;
    if (done < count) samples = out[py::slice(0, static_cast<py::ssize_t>(done), 1)];
    return py::make_tuple(samples, h.sampleRate, 0, "");
}

}  // namespace

void BindLoad(Class& c, py::module_& m) {
    c.def(
         "Load",
         [](Object& self, PathArg path, int start, int count, OutArg left, OutArg right) {
             const std::wstring p = kitpy::WidePath(path);
             if (IsInt16(left) || (left.is_none() && IsInt16(right)))
                 return LoadInto<std::int16_t>(self, p, start, count, left, right);
             return LoadInto<double>(self, p, start, count, left, right);
         },
         py::arg("path"), py::arg("start"), py::arg("count"), py::arg("left"), py::arg("right") = py::none(),
         R"(Loads `count` frames from frame `start` on into left (channel 0) and right (channel 1).

left and right are writeable contiguous 1-D numpy arrays of at least `count`
values, or None. float64 arrays receive the samples as doubles (16 bits:
s / 32768; 8 bits: (b - 128) / 128); int16 arrays receive the stored values
unchanged (8-bit bytes as 0..255). right is written only for a two-channel file.
Past the end of the file the elements up to `count` are set to 0.
Returns the bytes of sample data read (frames delivered * block align), or 0
(nothing read; the arrays are then untouched). TypeError/ValueError for arrays
of another type, dtype, shape, layout, read-only or shorter than `count`.)")
        .def(
            "Mount",
            [](Object& self, PathArg path) {
                std::wstring p = kitpy::WidePath(path);
                return NoGil(self, [&] { return self.Mount(&p[0]); });
            },
            py::arg("path"),
            "Mounts the file for GetValue: True, or False (something is mounted already, or the file is not usable).")
        .def(
            "UnMount", [](Object& self) { NoGil(self, [&] { self.UnMount(); }); }, "Unmounts the mounted file, if any.")
        .def(
            "GetValue",
            [](Object& self, int index, short channel) {
                return NoGil(self, [&] { return self.GetValue(index, channel); });
            },
            py::arg("index"), py::arg("channel"),
            "Sample `index` (a frame index) of the mounted file as a double: channel 1 when `channel` is 1, else\n"
            "channel 0. 0.0 outside the file or with nothing mounted.");
    m.def("_read", &Read, py::arg("self"), py::arg("path"), py::arg("start"), py::arg("frames"),
          "covarne.read without the raising: (samples, rate, 0, \"\"), or (None, 0, code, text).");
}

}  // namespace covarne_py
