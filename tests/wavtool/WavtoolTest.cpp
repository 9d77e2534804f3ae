// Runs wavtool on files made by the WAV library and checks the frames it
// leaves, its exit status and its messages.
#include <covarne/Covarne2005.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KitTestSupport.h"

namespace {

using kittest::Quote;
using kittest::Wide;

constexpr int kRate = 1000;
constexpr int kFrames = 20;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Wavtool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }

    // `args` is a shell word list; the tool runs in the scratch folder.
    Result Run(const std::string& args, const std::string& env = "") {
        const std::string cmd = "cd " + Quote(dir_.path()) + " && " + env + " " + Quote(WAVTOOL_EXE) + " " + args +
                                " >" + Quote(dir_.File("out")) + " 2>" + Quote(dir_.File("err"));
        Result r;
        const int st = std::system(cmd.c_str());
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = Slurp(dir_.File("out"));
        r.err = Slurp(dir_.File("err"));
        return r;
    }

    // Frame i of channel c holds (c + 1) * 1000 + i: every frame tells where it came from.
    std::string Make(const std::string& name, int channels, int bits = 16) {
        std::vector<double> l(kFrames), r(kFrames);
        const double unit = bits == 16 ? 1.0 / 32760 : 1.0 / 127;
        for (int i = 0; i < kFrames; ++i) {
            l[i] = ((bits == 16 ? 1000 : 10) + i + 0.5) * unit;  // the half survives the truncation
            r[i] = ((bits == 16 ? 2000 : 50) + i + 0.5) * unit;
        }
        const std::string path = dir_.File(name);
        wav_.Save(Wide(path).c_str(), l.data(), channels == 2 ? r.data() : nullptr, kFrames, bits, kRate);
        return path;
    }

    // Channel 0 of every frame, as the library reads it (file units).
    std::vector<int> Left(const std::string& path) {
        const int n = wav_.GetN(Wide(path).c_str());
        if (n == 0) return {};
        std::vector<double> l(n), r(n);
        EXPECT_GT(wav_.Load(Wide(path).c_str(), 0, n, l.data(), r.data()), 0);
        const int scale = wav_.GetBits(Wide(path).c_str()) == 8 ? 128 : 32768;
        std::vector<int> v;
        for (double x : l) v.push_back(static_cast<int>(x * scale));
        return v;
    }

    kittest::TempDir dir_;
    Covarne2005 wav_;
};

// The expected file as runs of the original frames [from, from + len), or silence (from = -1).
struct Span {
    int from, len;
};
std::vector<int> Expected(std::vector<Span> runs, int base) {
    std::vector<int> v;
    for (const Span& r : runs)
        for (int i = 0; i < r.len; ++i) v.push_back(r.from < 0 ? 0 : base + r.from + i);
    return v;
}

TEST_F(Wavtool, EditsMoveTheFramesTheyName) {
    struct Case {
        const char* args;
        std::vector<Span> runs;
    };
    const Case cases[] = {
        {"insert f.wav 3 2", {{0, 3}, {-1, 2}, {3, 17}}},
        {"insert f.wav 0.005s 0.002s", {{0, 5}, {-1, 2}, {5, 15}}},
        {"insert f.wav 20 1", {{0, 20}, {-1, 1}}},
        {"delete f.wav 2 3", {{0, 2}, {5, 15}}},
        {"delete f.wav 15", {{0, 15}}},
        {"delete f.wav 0 20", {}},
        {"silence f.wav 4 2", {{0, 4}, {-1, 2}, {6, 14}}},
        {"silence f.wav 0.018s", {{0, 18}, {-1, 2}}},
        {"append-silence f.wav 3", {{0, 20}, {-1, 3}}},
        {"insert f.wav 3 0", {{0, 20}}},
        {"delete f.wav 0 0", {{0, 20}}},
    };
    for (const Case& c : cases) {
        for (int bits : {16, 8}) {
            SCOPED_TRACE(std::string(c.args) + (bits == 8 ? " (8 bits)" : " (16 bits)"));
            const std::string f = Make("f.wav", bits == 8 ? 1 : 2, bits);
            const Result r = Run(c.args);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_NE(r.out.find("f.wav: "), std::string::npos) << r.out;
            EXPECT_EQ(Left(f), Expected(c.runs, bits == 8 ? 10 : 1000));
        }
    }
}

TEST_F(Wavtool, RateRestatesTheRateAndKeepsTheSamples) {
    const std::string f = Make("f.wav", 2);
    const std::vector<int> before = Left(f);
    const Result r = Run("rate f.wav 500");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "f.wav: rate 1000 -> 500 frames/s; 20 frames now last 0.040 s\n");
    EXPECT_EQ(wav_.GetSr(Wide(f).c_str()), 500);
    EXPECT_EQ(Left(f), before);
    tagWAVEFILEHEADER2005 h;
    ASSERT_EQ(wav_.GetWaveInfo(Wide(f).c_str(), &h), 44);
    const std::string bytes = Slurp(f);
    int byteRate;
    std::memcpy(&byteRate, bytes.data() + 28, 4);
    EXPECT_EQ(byteRate, 500 * 4);
}

TEST_F(Wavtool, InfoNamesEachFile) {
    Make("a.wav", 2);
    Make("b.wav", 1, 8);
    Result r = Run("info a.wav b.wav");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "a.wav: PCM 16-bit, 2 channels, 1000 frames/s, 20 frames, 0.020 s, data at byte 44\n"
              "b.wav: PCM 8-bit, 1 channel, 1000 frames/s, 20 frames, 0.020 s, data at byte 44\n");
    r = Run("info a.wav missing.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("a.wav: PCM"), std::string::npos);
    EXPECT_EQ(r.err, "wavtool info: missing.wav: no such file\n");
}

// A UTF-8 name reaches its file whether the locale spells it or not (the C locale knows only ASCII).
TEST_F(Wavtool, Utf8NamesInAnyLocale) {
    const std::string plain = Make("plain.wav", 1), utf8 = dir_.File("t\xc3\xabst.wav");
    std::filesystem::rename(plain, utf8);
    for (const char* locale : {"C", "C.UTF-8"}) {
        const Result r = Run("append-silence t\xc3\xabst.wav 1", std::string("LC_ALL=") + locale);
        EXPECT_EQ(r.status, 0) << locale << ": " << r.err;
    }
    std::filesystem::rename(utf8, plain);
    EXPECT_EQ(wav_.GetN(Wide(plain).c_str()), kFrames + 2);
}

TEST_F(Wavtool, RefusedEditsLeaveTheFileAsItWas) {
    struct Case {
        const char* args;
        int status;
        const char* message;  // part of standard error
    };
    const Case cases[] = {
        {"insert f.wav 21 1", 1, "f.wav: position 21 is past the end (20 frames)"},
        {"delete f.wav 20 1", 1, "f.wav: position 20 is not before the end"},
        {"silence f.wav 18 5", 1, "f.wav: frames 18 to 22 pass the end"},
        {"insert f.wav 1 2147483000", 1, "f.wav: the file would pass"},
        {"delete f.wav x", 2, "position \"x\""},
        {"delete f.wav 1.5", 2, "position \"1.5\""},
        {"insert f.wav 1 -2", 2, "unknown option -2"},
        {"rate f.wav 0", 2, "rate \"0\""},
        {"rate f.wav 99999999999", 2, "rate \"99999999999\""},
        {"insert f.wav 1", 2, "too few arguments"},
        {"append-silence f.wav 1 2", 2, "too many arguments"},
        {"crop f.wav", 2, "unknown command \"crop\""},
        {"append-silence text.wav 1", 1, "text.wav: not a RIFF/WAVE file"},
        {"append-silence float.wav 1", 1, "float.wav: the samples are not integer PCM (format tag 3)"},
        {"silence missing.wav 0", 1, "missing.wav: no such file"},
        {"info .", 1, ".: the path names a directory"},
    };
    const std::string f = Make("f.wav", 2);
    std::ofstream(dir_.File("text.wav")) << "not a sound file, but long enough to be read as a header\n";
    // A floating-point file: "RIFF", "WAVE", fmt with tag 3, an empty data chunk.
    std::ofstream(dir_.File("float.wav"), std::ios::binary)
        << std::string("RIFF\44\0\0\0WAVEfmt \20\0\0\0\3\0\1\0\100\37\0\0\0\175\0\0\4\0\40\0data\0\0\0\0", 44);
    const std::string chunk = Make("chunk.wav", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string before = Slurp(f), beforeChunk = Slurp(chunk);
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(Slurp(f) == before);
        EXPECT_TRUE(Slurp(chunk) == beforeChunk);
    }
}

// Chunks after the data stay after it; bytes after the frames that are no chunk
// (here a download cut inside a frame) do not stop edits that grow the file.
TEST_F(Wavtool, FilesFromOtherProgramsCanBeEdited) {
    const std::string chunk = Make("chunk.wav", 1);
    std::ofstream(chunk, std::ios::app | std::ios::binary) << std::string("LIST\4\0\0\0abcd", 12);
    for (const char* args : {"append-silence chunk.wav 1", "insert chunk.wav 3 2", "delete chunk.wav 0 1"}) {
        SCOPED_TRACE(args);
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string b = Slurp(chunk);
        EXPECT_EQ(b.substr(b.size() - 12), std::string("LIST\4\0\0\0abcd", 12));
    }
    EXPECT_EQ(wav_.GetN(Wide(chunk).c_str()), kFrames + 2);

    const std::string full = Make("full.wav", 2);
    const std::string cut = dir_.File("t.wav");
    std::ofstream(cut, std::ios::binary) << Slurp(full).substr(0, 44 + 4 * 10 + 3);
    for (const char* args : {"silence t.wav 2 5", "append-silence t.wav 5"}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    }
    EXPECT_EQ(wav_.GetN(Wide(cut).c_str()), 15);
}

TEST_F(Wavtool, HelpForTheWholeAndEachCommand) {
    Result r = Run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: wavtool COMMAND", 0), 0u) << r.out;
    for (const char* cmd : {"info", "insert", "delete", "silence", "append-silence", "rate"}) {
        SCOPED_TRACE(cmd);
        EXPECT_NE(r.out.find(std::string("  ") + cmd + " FILE"), std::string::npos);
        const Result c = Run(std::string(cmd) + " --help");
        EXPECT_EQ(c.status, 0);
        EXPECT_EQ(c.out.rfind(std::string("usage: wavtool ") + cmd + " FILE", 0), 0u) << c.out;
    }
    r = Run("");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: wavtool"), std::string::npos);
}

}  // namespace
