// The header record and the format queries.
#include <cstring>

#include "Module.h"

namespace covarne_py {

namespace {

using Header = tagWAVEFILEHEADER2005;

// "RIFF" for the word of an identifier field, with bytes that are not
// printable as escapes.
std::string FourCCText(std::uint32_t id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(id >> (8 * i));
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '\'') {
            text += static_cast<char>(c);
        } else {
            const char* hex = "0123456789abcdef";
            text += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        }
    }
    return text;
}

// A member that fills a record, run on a copy taken with the GIL held, so that no
// other thread changes the record the C++ reads or writes while it runs.
template <typename Call>
auto WithRecord(Object& self, Header* header, Call&& call) {
    Header local = header != nullptr ? *header : Header{};
    auto result = NoGil(self, [&] { return call(header != nullptr ? &local : nullptr); });
    if (header != nullptr) *header = local;
    return result;
}

}  // namespace

void BindHeader(py::module_& m) {
    py::class_<Header> h(m, "tagWAVEFILEHEADER2005", R"(The canonical 44-byte RIFF/WAVE header record.

Its fields lie in memory as the header lies on disk (bytes(header) gives those
44 bytes). The identifier fields hold their four ASCII characters as a
little-endian word: "RIFF" is 0x46464952. A new record is all zeros; fill it
with Covarne2005.MakeHeader, ResetHeader or GetWaveInfo.)");
    h.def(py::init([] { return Header{}; }), "A record of zeros.")
        .def_readwrite("riffId", &Header::riffId, "\"RIFF\" as a little-endian word (0x46464952).")
        .def_readwrite("riffSize", &Header::riffSize, "RIFF size: file length - 8.")
        .def_readwrite("waveId", &Header::waveId, "\"WAVE\" (0x45564157).")
        .def_readwrite("fmtId", &Header::fmtId, "\"fmt \" (0x20746D66).")
        .def_readwrite("fmtSize", &Header::fmtSize, "Size of the fmt chunk's body: 16.")
        .def_readwrite("formatTag", &Header::formatTag, "Format tag: 1 for PCM.")
        .def_readwrite("channels", &Header::channels, "Number of channels.")
        .def_readwrite("sampleRate", &Header::sampleRate, "Frames per second.")
        .def_readwrite("byteRate", &Header::byteRate, "Bytes per second: sampleRate * blockAlign.")
        .def_readwrite("blockAlign", &Header::blockAlign, "Bytes per frame.")
        .def_readwrite("bitsPerSample", &Header::bitsPerSample, "Bits per sample.")
        .def_readwrite("dataId", &Header::dataId, "\"data\" (0x61746164).")
        .def_readwrite("dataSize", &Header::dataSize, "Bytes of sample data.")
        .def(
            "__bytes__",
            [](const Header& self) { return py::bytes(reinterpret_cast<const char*>(&self), sizeof self); },
            "The 44 bytes of the header as they are written to disk.")
        .def(
            "__eq__", [](const Header& a, const Header& b) { return std::memcmp(&a, &b, sizeof a) == 0; },
            py::is_operator(), "The same 44 bytes.")
        .def("__copy__", [](const Header& self) { return Header(self); })
        .def(
            "__deepcopy__", [](const Header& self, py::handle) { return Header(self); }, py::arg("memo"))
        .def("__repr__", [](const Header& self) {
            return "tagWAVEFILEHEADER2005(riffId='" + FourCCText(self.riffId) +
                   "', riffSize=" + std::to_string(self.riffSize) + ", waveId='" + FourCCText(self.waveId) +
                   "', fmtId='" + FourCCText(self.fmtId) + "', fmtSize=" + std::to_string(self.fmtSize) +
                   ", formatTag=" + std::to_string(self.formatTag) + ", channels=" + std::to_string(self.channels) +
                   ", sampleRate=" + std::to_string(self.sampleRate) + ", byteRate=" + std::to_string(self.byteRate) +
                   ", blockAlign=" + std::to_string(self.blockAlign) +
                   ", bitsPerSample=" + std::to_string(self.bitsPerSample) + ", dataId='" + FourCCText(self.dataId) +
                   "', dataSize=" + std::to_string(self.dataSize) + ")";
        });
    h.attr("__hash__") = py::none();
}

void BindFormat(Class& c) {
    PathQuery<wchar_t, &Covarne2005::CheckFile>(
        c, "CheckFile",
        "The file length the header declares (RIFF size + 8), or 0 when the file is missing or not RIFF/WAVE.");
    PathQuery<wchar_t, &Covarne2005::GetSr>(c, "GetSr",
                                            "The sample rate in frames per second, or 0 (not a usable WAV file).");
    PathQuery<wchar_t, &Covarne2005::GetCh>(c, "GetCh", "The number of channels, or 0 (not a usable WAV file).");
    PathQuery<wchar_t, &Covarne2005::GetBits>(c, "GetBits", "Bits per sample, or 0 (not a usable WAV file).");
    PathQuery<wchar_t, &Covarne2005::GetN>(c, "GetN", "The number of whole frames, or 0 (not a usable WAV file).");
    c.def(
         "GetWaveInfo",
         [](Object& self, PathArg path, Header* header) {
             const std::wstring p = kitpy::WidePath(path);
             return WithRecord(self, header, [&](Header* h) { return self.GetWaveInfo(p.c_str(), h); });
         },
         py::arg("path"), py::arg("header") = nullptr,
         "The data offset in bytes (above 0), or 0 for a file that is missing or not a usable PCM WAV file.\n\n"
         "header, when given, is filled with the canonical record of the file's frame count, channels,\n"
         "bits and rate; on failure it is left as it was.")
        .def(
            "MakeHeader",
            [](Object& self, Header* header, int frames, short channels, short bits, int sampleRate) {
                WithRecord(self, header, [&](Header* h) {
                    self.MakeHeader(h, frames, channels, bits, sampleRate);
                    return 0;
                });
            },
            py::arg("header"), py::arg("frames"), py::arg("channels"), py::arg("bits"), py::arg("sampleRate"),
            "Fills header with the canonical 44-byte header of `frames` frames of `channels` channels of\n"
            "`bits` bits at `sampleRate` frames per second. Nothing is validated.")
        .def(
            "ResetHeader",
            [](Object& self, Header* header) {
                WithRecord(self, header, [&](Header* h) {
                    self.ResetHeader(h);
                    return 0;
                });
            },
            py::arg("header"), "Fills header with a 16-bit one-channel 48000 Hz header of no frames.");
}

}  // namespace covarne_py
