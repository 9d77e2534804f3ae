// Edits in place: appending, overwriting, silence, the rate, inserting,
// deleting and replacing frame ranges. Each returns the library's result.
#include "Module.h"

namespace covarne_py {

namespace {

// A member that takes a path and numbers only.
template <typename... Args, typename... Names>
void Numbers(Class& c, const char* name, int (Covarne2005::*member)(wchar_t*, Args...), const char* doc,
             Names... names) {
    c.def(
        name,
        [member](Object& self, PathArg path, Args... values) {
            std::wstring p = kitpy::WidePath(path);
            return NoGil(self, [&] { return (self.*member)(&p[0], values...); });
        },
        py::arg("path"), names..., doc);
}

}  // namespace

void BindEdits(Class& c) {
    c.def(
         "SaveAdd",
         [](Object& self, PathArg path, InArg left, Right right, int frames, int sampleRate, short bits) {
             std::wstring p = kitpy::WidePath(path);
             Frames s(left, right, frames);
             return NoGil(self, [&] { return self.SaveAdd(&p[0], s.Left(), s.Right(), frames, sampleRate, bits); });
         },
         py::arg("path"), py::arg("left"), py::arg("right"), py::arg("frames"), py::arg("sampleRate"), py::arg("bits"),
         R"(Appends `frames` frames of left (and right) to the file, creating it when it does not exist.

The channels (2 when right is given) and `bits` must match the file's;
`sampleRate` and `bits` serve a new file. Returns the file's frame count
afterwards, or -1 (GetLastError() tells why).)")
        .def(
            "SaveAdd",
            [](Object& self, PathArg path, InArg samples, int frames, int sampleRate, short bits) {
                std::wstring p = kitpy::WidePath(path);
                Frames s(samples, py::none(), frames, "samples");
                return NoGil(self, [&] { return self.SaveAdd(&p[0], s.Left(), frames, sampleRate, bits); });
            },
            py::arg("path"), py::arg("samples"), py::arg("frames"), py::arg("sampleRate"), py::arg("bits"),
            "The same with one channel.")
        .def(
            "SaveOW",
            [](Object& self, PathArg path, InArg left, Right right, int start, int count, int sampleRate, short bits) {
                std::wstring p = kitpy::WidePath(path);
                Frames s(left, right, count);
                return NoGil(self,
                             [&] { return self.SaveOW(&p[0], s.Left(), s.Right(), start, count, sampleRate, bits); });
            },
            py::arg("path"), py::arg("left"), py::arg("right"), py::arg("start"), py::arg("count"),
            py::arg("sampleRate"), py::arg("bits"),
            R"(Overwrites `count` frames from frame `start` on with left (and right); past the end the file grows
(with silence up to `start`). A missing file is created. Returns the frame count afterwards, or -1.)")
        .def(
            "SaveOW",
            [](Object& self, PathArg path, InArg samples, int start, int count, int sampleRate, short bits) {
                std::wstring p = kitpy::WidePath(path);
                Frames s(samples, py::none(), count, "samples");
                return NoGil(self, [&] { return self.SaveOW(&p[0], s.Left(), start, count, sampleRate, bits); });
            },
            py::arg("path"), py::arg("samples"), py::arg("start"), py::arg("count"), py::arg("sampleRate"),
            py::arg("bits"), "The same with one channel.")
        .def(
            "SaveRep",
            [](Object& self, PathArg path, InArg left, Right right, int start, int oldFrames, int newFrames,
               int sampleRate, short bits) {
                std::wstring p = kitpy::WidePath(path);
                Frames s(left, right, newFrames);
                return NoGil(self, [&] {
                    return self.SaveRep(&p[0], s.Left(), s.Right(), start, oldFrames, newFrames, sampleRate, bits);
                });
            },
            py::arg("path"), py::arg("left"), py::arg("right"), py::arg("start"), py::arg("oldFrames"),
            py::arg("newFrames"), py::arg("sampleRate"), py::arg("bits"),
            R"(Replaces the `oldFrames` frames from frame `start` on by the first `newFrames` frames of left
(and right); the frames after the range follow the new ones. Returns the frame
count afterwards, or -1.)")
        .def(
            "SaveRep",
            [](Object& self, PathArg path, InArg samples, int start, int oldFrames, int newFrames, int sampleRate,
               short bits) {
                std::wstring p = kitpy::WidePath(path);
                Frames s(samples, py::none(), newFrames, "samples");
                return NoGil(
                    self, [&] { return self.SaveRep(&p[0], s.Left(), start, oldFrames, newFrames, sampleRate, bits); });
            },
            py::arg("path"), py::arg("samples"), py::arg("start"), py::arg("oldFrames"), py::arg("newFrames"),
            py::arg("sampleRate"), py::arg("bits"), "The same with one channel.");
    Numbers(c, "AddSilence", &Covarne2005::AddSilence,
            "Appends `frames` silent frames (zero bytes) to an existing file. The frame count afterwards, or -1.",
            py::arg("frames"));
    Numbers(c, "MakeSilence", &Covarne2005::MakeSilence,
            "Overwrites `count` frames from frame `start` on with silence, as SaveOW does with samples (a file of\n"
            "`channels` channels, `bits` bits and `sampleRate` is created when missing and start > 0). The frame\n"
            "count afterwards, -1, or `channels` itself (nothing done) when it is neither 1 nor 2.",
            py::arg("start"), py::arg("count"), py::arg("channels"), py::arg("sampleRate"), py::arg("bits"));
    Numbers(c, "SaveSr", &Covarne2005::SaveSr,
            "Restates the file's sample rate (and byte rate); the samples stay. The rate before, or -1.",
            py::arg("sampleRate"));
    Numbers(c, "Insert", &Covarne2005::Insert,
            "Inserts `count` silent frames at frame `start`; the frames from there on move back. The frame count\n"
            "afterwards, or -1.",
            py::arg("start"), py::arg("count"));
    Numbers(c, "Delete", &Covarne2005::Delete,
            "Deletes `count` frames from frame `start` on (to the end at most). The frame count afterwards, or -1.",
            py::arg("start"), py::arg("count"));
}

}  // namespace covarne_py
