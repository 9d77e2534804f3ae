// Writing new files and sample images.
#include <algorithm>

#include "Module.h"

namespace covarne_py {

namespace {

using Header = tagWAVEFILEHEADER2005;

void MakeImage(Object& self, py::handle image, py::handle left, py::handle right, int frames, const Header* header,
               const char* name) {
    // The record is read from a copy, so that its layout cannot change between the
    // check of the image's size and the writing.
    Header local = header != nullptr ? *header : Header{};
    const long long n = std::max(frames, 0);
    Frames samples(left, right, n, name);
    Bytes out(image, "image");
    if (header != nullptr) out.Need(n * std::max<long long>(local.blockAlign, 0), "the frames");
    unsigned char* bytes = out.Data();
    NoGil(self, [&] {
        self.MakeImage(bytes, samples.Left(), samples.Right(), frames, header != nullptr ? &local : nullptr);
    });
}

void Save(Object& self, py::handle path, py::handle left, py::handle right, int frames, int bits, int sampleRate,
          const char* name) {
    const std::wstring p = kitpy::WidePath(path);
    Frames samples(left, right, frames, name);
    NoGil(self, [&] { self.Save(p.c_str(), samples.Left(), samples.Right(), frames, bits, sampleRate); });
}

const char kSaveDoc[] = R"(Writes a new file (replacing any file of that name): the canonical 44-byte
header and `frames` frames of `bits` bits (8 or 16; 16 when not given) at
`sampleRate` frames per second, from left (channel 0) and right (channel 1),
or from samples alone (one channel).

The arrays are anything numpy turns into 1-D arrays of at least `frames`
numbers. Samples are written as x * 32760 (16 bits) or x * 127 + 128 (8 bits),
truncated toward zero and limited to full scale. Returns None; GetLastError()
tells whether it failed.)";

}  // namespace

void BindWrite(Class& c) {
    c.def(
         "MakeImage",
         [](Object& self, BytesArg image, InArg left, Right right, int frames, const Header* header) {
             MakeImage(self, image, left, right, frames, header, "left");
         },
         py::arg("image"), py::arg("left"), py::arg("right"), py::arg("frames"), py::arg("header"),
         R"(Converts `frames` frames of left (and right, unless None) into image, as `header` lays them out.

image is a writeable contiguous buffer of bytes (bytearray, numpy.ndarray of
uint8) of at least frames * header.blockAlign bytes; frame i starts at byte
i * blockAlign, channel 0 first. header.bitsPerSample (8 or 16) selects the
conversion, as Save converts.)")
        .def(
            "MakeImage",
            [](Object& self, BytesArg image, InArg samples, int frames, const Header* header) {
                MakeImage(self, image, samples, py::none(), frames, header, "samples");
            },
            py::arg("image"), py::arg("samples"), py::arg("frames"), py::arg("header"), "The same with one channel.")
        .def(
            "Save",
            [](Object& self, PathArg path, InArg left, Right right, int frames, int bits, int sampleRate) {
                Save(self, path, left, right, frames, bits, sampleRate, "left");
            },
            py::arg("path"), py::arg("left"), py::arg("right"), py::arg("frames"), py::arg("bits"),
            py::arg("sampleRate"), kSaveDoc)
        .def(
            "Save",
            [](Object& self, PathArg path, InArg left, Right right, int frames, int sampleRate) {
                Save(self, path, left, right, frames, 16, sampleRate, "left");
            },
            py::arg("path"), py::arg("left"), py::arg("right"), py::arg("frames"), py::arg("sampleRate"))
        .def(
            "Save",
            [](Object& self, PathArg path, InArg samples, int frames, short bits, int sampleRate) {
                Save(self, path, samples, py::none(), frames, bits, sampleRate, "samples");
            },
            py::arg("path"), py::arg("samples"), py::arg("frames"), py::arg("bits"), py::arg("sampleRate"))
        .def(
            "Save",
            [](Object& self, PathArg path, InArg samples, int frames, int sampleRate) {
                Save(self, path, samples, py::none(), frames, 16, sampleRate, "samples");
            },
            py::arg("path"), py::arg("samples"), py::arg("frames"), py::arg("sampleRate"));
}

}  // namespace covarne_py
