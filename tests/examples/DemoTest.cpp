// Runs the demo host on its test signal into a scratch folder and checks what
// it left there: the recording holds the signal, every WAV file loads with
// the length the demo's steps give, and every picture is well-formed XML.
#include <covarne/Covarne2005.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "KitTestSupport.h"
#include "TestSignal.h"

namespace {

using kittest::Quote;
using kittest::Wide;

std::vector<short> Frames(Covarne2005& wav, const std::string& path, int start, int count) {
    std::vector<short> left(count), right(count);
    EXPECT_EQ(wav.Load(Wide(path).c_str(), start, count, left.data(), right.data()), count * 4) << path;
    std::vector<short> both(left);
    both.insert(both.end(), right.begin(), right.end());
    return both;
}

class Demo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kittest::TempDir;
        ASSERT_TRUE(dir_->ok());
        ok_ = kittest::RunShell(Quote(DEMO_EXE) + " --test-signal " + Quote(dir_->path()), &out_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ok_) << out_; }

    static kittest::TempDir* dir_;
    static std::string out_;
    static bool ok_;
    Covarne2005 wav_;
};
kittest::TempDir* Demo::dir_ = nullptr;
std::string Demo::out_;
bool Demo::ok_ = false;

// The generated signal went through ALSA's file PCM (16 bits), the recorder
// (s / 32768) and the WAV file (x * 32760, truncated), channel by channel.
TEST_F(Demo, TheRecordingIsTheTestSignal) {
    const std::string path = dir_->File("recording.wav");
    const std::vector<short> got = Frames(wav_, path, 0, 32000);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 32000; ++i) {
            const long s = std::lround(demo::TestSignal(i, c) * 32767);
            ASSERT_EQ(got[c * 32000 + i], static_cast<short>(std::trunc(s / 32768.0 * 32760)))
                << "channel " << c << " frame " << i;
        }
}

TEST_F(Demo, WritesTheFilesItReports) {
    // Frames [at, at + len) of the file are frames [from, from + len) of the
    // recording, or silence when from is -1; len 0 checks only the length.
    struct Expect {
        const char* file;
        int frames, at, from, len;
    };
    const Expect cases[] = {
        {"recording.wav", 32000, 0, 0, 32000},      {"filtered.wav", 32000, 0, 0, 0},
        {"append.wav", 40000, 0, 0, 32000},         {"insert.wav", 36000, 16000, -1, 4000},
        {"insert.wav", 36000, 20000, 16000, 16000}, {"delete.wav", 24000, 8000, 16000, 16000},
        {"replace.wav", 24000, 0, 0, 16000},
    };
    const std::string recording = dir_->File("recording.wav");
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir_->File(c.file);
        EXPECT_NE(out_.find("  " + path + "\n"), std::string::npos) << "the demo's list names " << path;
        const std::wstring w = Wide(path);
        EXPECT_EQ(wav_.GetN(w.c_str()), c.frames);
        EXPECT_EQ(wav_.GetSr(w.c_str()), 16000);
        EXPECT_EQ(wav_.GetCh(w.c_str()), 2);
        Frames(wav_, path, 0, c.frames);
        if (c.len == 0) continue;
        const std::vector<short> got = Frames(wav_, path, c.at, c.len);
        const std::vector<short> want =
            c.from < 0 ? std::vector<short>(2 * c.len, 0) : Frames(wav_, recording, c.from, c.len);
        EXPECT_TRUE(got == want);
    }
}

TEST_F(Demo, PicturesAreSvgDocuments) {
    if (!kittest::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    for (const char* name : {"spectrum.svg", "spectrogram.svg", "envelope.svg"}) {
        SCOPED_TRACE(name);
        const std::string path = dir_->File(name);
        EXPECT_NE(out_.find("  " + path + "\n"), std::string::npos) << "the demo's list names " << path;
        const std::string check =
            "python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
            "sys.exit(r.tag != \"{http://www.w3.org/2000/svg}svg\" or len(r) < 10)' " +
            Quote(path);
        EXPECT_TRUE(kittest::RunShell(check));
    }
}

// Every step reports on a line of its own, in order.
TEST_F(Demo, OneLinePerStep) {
    size_t at = 0;
    for (int step = 1; step <= 8; ++step) {
        const std::string mark = "[" + std::to_string(step) + "/8] ";
        at = out_.find(mark, at);
        ASSERT_NE(at, std::string::npos) << mark << "\n" << out_;
        EXPECT_TRUE(at == 0 || out_[at - 1] == '\n');
    }
}

// The demo decodes its folder argument as UTF-8 whatever the locale, and the
// library encodes wide paths back into UTF-8: the names survive the trip.
TEST(DemoFolder, WritesIntoAFolderNamedOutsideAscii) {
    kittest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string folder = dir.File("d\xc3\xa9mo-\xe2\x82\xac");  // "démo-€"
    std::string out;
    ASSERT_TRUE(kittest::RunShell("LC_ALL=C " + Quote(DEMO_EXE) + " --test-signal " + Quote(folder), &out)) << out;
    for (const char* name : {"recording.wav", "filtered.wav", "spectrum.svg", "append.wav", "replace.wav"})
        EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/" + name)) << name;
}

}  // namespace
