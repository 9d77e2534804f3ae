// Raw bytes as stored: the header region and the sample image, by narrow path.
#include <pybind11/stl.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "Module.h"

namespace covarne_py {

namespace {

template <void (Covarne2005::*Copy)(const char*, unsigned char*, int)>
void CopyQuery(Class& c, const char* name, const char* doc) {
    c.def(
        name,
        [](Object& self, PathArg path, BytesArg dst, std::optional<int> size) {
            const std::string p = kitpy::NarrowPath(path);
            Bytes out(dst, "dst");
            const int n = size ? *size : static_cast<int>(std::min<long long>(out.Size(), INT_MAX));
            out.Need(n, "`size`");
            unsigned char* bytes = out.Data();
            Covarne2005& file = self;
            NoGil(self, [&] { (file.*Copy)(p.c_str(), bytes, n); });
        },
        py::arg("path"), py::arg("dst"), py::arg("size") = py::none(), doc);
}

}  // namespace

void BindRaw(Class& c) {
    PathQuery<char, &Covarne2005::GetOffset>(
        c, "GetOffset",
        "The data offset (the byte where the samples start), or 0 when the file is\n"
        "missing or not a usable WAV file. The path goes to the file system as bytes.");
    PathQuery<char, &Covarne2005::GetHeaderSz>(c, "GetHeaderSz",
                                               "The size of the header region: the same as GetOffset.");
    PathQuery<char, &Covarne2005::GetImgSz>(c, "GetImgSz",
                                            "The sample data's size in bytes (whole frames only), or 0.");
    CopyQuery<&Covarne2005::GetHeader>(
        c, "GetHeader",
        "Copies the first `size` bytes of the file (default len(dst)) into dst, a writeable contiguous buffer of\n"
        "bytes (bytearray, numpy.ndarray of uint8) of at least `size` bytes. A file that is missing or not\n"
        "RIFF/WAVE gives `size` zeros; bytes past the end of the file are left as they were.");
    CopyQuery<&Covarne2005::GetImg>(
        c, "GetImg",
        "Copies `size` bytes of the stored samples (default len(dst)) into dst, as GetHeader does; zeros for a\n"
        "file that is missing or not a usable WAV file.");
}

}  // namespace covarne_py
