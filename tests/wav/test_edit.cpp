// Edits in place: appending, overwriting, silence, sample rate; refusals.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

// A one-channel 16-bit file of frames 100, 200, ..., n * 100.
std::vector<int> Ramp(int n, int from = 1) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back((from + i) * 100);
    return v;
}

class EditTest : public WavTest {
protected:
    // 0.0625 * 32760 = 2047.5 -> 2047
    double m_x[8] = {0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625};
};

TEST_F(EditTest, SaveAddCreatesThenAppends) {
    EXPECT_EQ(m_wav.SaveAdd(W("a.wav"), m_x, 3, 48000, 16), 3);
    EXPECT_EQ(Read("a.wav").size(), 50u);
    double y[] = {-0.5, -0.5, -0.5};
    EXPECT_EQ(m_wav.SaveAdd(W("a.wav"), y, 3, 48000, 16), 6);
    const Bytes b = Read("a.wav");
    EXPECT_EQ(Get32(b, 40), 12u);
    EXPECT_EQ(Get32(b, 4), 48u);
    EXPECT_EQ(Data16(b), std::vector<int>({2047, 2047, 2047, -16380, -16380, -16380}));
    // Another rate is not compared, and the file keeps its own.
    EXPECT_EQ(m_wav.SaveAdd(W("a.wav"), m_x, 1, 8000, 16), 7);
    EXPECT_EQ(m_wav.GetSr(W("a.wav")), 48000);
    EXPECT_EQ(m_wav.SaveAdd(W("st.wav"), m_x, m_x, 2, 8000, 8), 2);
    EXPECT_EQ(Read("st.wav").size(), 48u);
}

TEST_F(EditTest, AddSilenceAppendsZeroBytes) {
    std::vector<int> v(200, 7);
    Write16("a.wav", v, 2);
    EXPECT_EQ(m_wav.AddSilence(W("a.wav"), 10), 110);
    const Bytes b = Read("a.wav");
    EXPECT_EQ(b.size(), 44u + 440);
    EXPECT_EQ(Get32(b, 40), 440u);
    EXPECT_EQ(Bytes(b.end() - 40, b.end()), Bytes(40, 0));
    EXPECT_EQ(m_wav.AddSilence(W("none.wav"), 10), -1);
    EXPECT_FALSE(Exists("none.wav"));
}

struct OverwriteCase {
    int start, count;
    int result;
    std::vector<int> data;
};

TEST_F(EditTest, SaveOWReplacesAndExtends) {
    const int X = 2047;
    const OverwriteCase cases[] = {
        {2, 3, 10, {100, 200, X, X, X, 600, 700, 800, 900, 1000}},
        {8, 5, 13, {100, 200, 300, 400, 500, 600, 700, 800, X, X, X, X, X}},
        {15, 2, 17, {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 0, 0, 0, 0, 0, X, X}},
        {0, 0, 10, Ramp(10)},
    };
    for (const OverwriteCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " count " << c.count);
        Write16("a.wav", Ramp(10));
        EXPECT_EQ(m_wav.SaveOW(W("a.wav"), m_x, c.start, c.count, 8000, 16), c.result);
        const Bytes b = Read("a.wav");
        EXPECT_EQ(Data16(b), c.data);
        EXPECT_EQ(Get32(b, 40), 2u * c.result);
        EXPECT_EQ(Get32(b, 4), 36u + 2 * c.result);
    }
}

TEST_F(EditTest, OverwriteOnAMissingPathCreatesTheFile) {
    EXPECT_EQ(m_wav.SaveOW(W("a.wav"), m_x, 4, 2, 22050, 16), 6);
    EXPECT_EQ(Data16(Read("a.wav")), std::vector<int>({0, 0, 0, 0, 2047, 2047}));
    EXPECT_EQ(m_wav.GetSr(W("a.wav")), 22050);
    EXPECT_EQ(m_wav.MakeSilence(W("b.wav"), 0, 5, 1, 8000, 16), -1);
    EXPECT_FALSE(Exists("b.wav"));
    EXPECT_EQ(m_wav.MakeSilence(W("b.wav"), 5, 5, 2, 8000, 8), 10);
    EXPECT_EQ(Read("b.wav").size(), 44u + 20);
    EXPECT_EQ(m_wav.GetCh(W("b.wav")), 2);
    EXPECT_EQ(m_wav.MakeSilence(W("c.wav"), 5, 5, 3, 8000, 16), 3);
    EXPECT_FALSE(Exists("c.wav"));
}

TEST_F(EditTest, MakeSilenceOverwritesWithZeros) {
    Write16("a.wav", Ramp(4, 1), 2);  // two frames
    EXPECT_EQ(m_wav.MakeSilence(W("a.wav"), 1, 2, 2, 8000, 16), 3);
    EXPECT_EQ(Data16(Read("a.wav")), std::vector<int>({100, 200, 0, 0, 0, 0}));
    EXPECT_EQ(m_wav.MakeSilence(W("a.wav"), 0, 1, 1, 8000, 16), -1) << "channel count differs";
    EXPECT_EQ(m_wav.MakeSilence(W("a.wav"), 0, 1, 3, 8000, 16), 3);
}

TEST_F(EditTest, SaveSrRestatesTheRate) {
    Write16("a.wav", {1, 2, 3, 4}, 2, 48000);
    EXPECT_EQ(m_wav.SaveSr(W("a.wav"), 24000), 48000);
    Bytes b = Read("a.wav");
    EXPECT_EQ(Get32(b, 24), 24000u);
    EXPECT_EQ(Get32(b, 28), 96000u);
    EXPECT_EQ(Data16(b), std::vector<int>({1, 2, 3, 4}));

    // The fmt chunk where it stands; a stored rate of 0 gives no division.
    Bytes junk =
        B().Chunk("JUNK", Bytes(4, 0)).Chunk("fmt ", B::Fmt(1, 1, 0, 2, 16)).Chunk("data", Bytes(4, 0)).Build();
    Write("j.wav", junk);
    EXPECT_EQ(m_wav.SaveSr(W("j.wav"), 8000), 0);
    b = Read("j.wav");
    EXPECT_EQ(Get32(b, 36), 8000u);
    EXPECT_EQ(Get32(b, 40), 16000u);
    EXPECT_EQ(Get32(b, 24), Get32(junk, 24));

    // Refusals leave the file as it was.
    Write("f.wav", B().Chunk("fmt ", B::Fmt(3, 1, 8000, 4, 32)).Chunk("data", Bytes(8, 0)).Build());
    const Bytes f = Read("f.wav");
    EXPECT_EQ(m_wav.SaveSr(W("f.wav"), 16000), -1);
    EXPECT_EQ(Read("f.wav"), f);
    // A stored rate above 2^31 - 1 would come back negative, -1 for 0xFFFFFFFF: refused.
    Write("neg.wav", B().Chunk("fmt ", B::Fmt(1, 1, -1, 2, 16)).Chunk("data", Bytes(4, 0)).Build());
    const Bytes neg = Read("neg.wav");
    EXPECT_EQ(m_wav.SaveSr(W("neg.wav"), 16000), -1);
    EXPECT_EQ(Read("neg.wav"), neg);
    Write("x.wav", Bytes(50, 'x'));
    EXPECT_EQ(m_wav.SaveSr(W("x.wav"), 16000), -1);
    EXPECT_EQ(Read("x.wav"), Bytes(50, 'x'));
    EXPECT_EQ(m_wav.SaveSr(W("a.wav"), 0), -1);
    EXPECT_EQ(m_wav.SaveSr(W("a.wav"), -5), -1);
    EXPECT_EQ(m_wav.SaveSr(W("none.wav"), 8000), -1);
    EXPECT_EQ(m_wav.GetSr(W("a.wav")), 24000);
}

// Every edit refuses what it cannot do with -1 and leaves the file as it was.
TEST_F(EditTest, RefusalsLeaveTheFileUntouched) {
    Write16("mono.wav", Ramp(10));
    Write("float.wav", B().Chunk("fmt ", B::Fmt(3, 1, 8000, 4, 32)).Chunk("data", Bytes(8, 0)).Build());
    Write("24.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 3, 24)).Chunk("data", Bytes(9, 0)).Build());
    Write("nodata.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("LIST", Bytes(4, 0)).Build());
    ASSERT_EQ(mkdir(Path("dir.wav").c_str(), 0755), 0);
    struct Case {
        const char* file;
        std::function<int(Covarne2005&, wchar_t*, double*)> edit;
        int code;  // GetLastError's code
    };
    const Case cases[] = {
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, x, 2, 8000, 16); }, 9},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, 2, 8000, 8); }, 10},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, -1, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.SaveAdd(p, nullptr, 2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.AddSilence(p, -1); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveOW(p, x, -1, 2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveOW(p, x, 0, -2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveOW(p, x, x, 0, 2, 8000, 16); }, 9},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.MakeSilence(p, -1, 2, 1, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.MakeSilence(p, 0, -2, 1, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, -1, 2); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 0, -2); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, -1, 1); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 0, -1); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 10, 1); }, 12},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, -1, 1, 2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, 0, -1, 2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, 0, 1, -2, 8000, 16); }, 11},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, x, 2, 3, 5, 8000, 16); }, 9},
        {"mono.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, 2, 5, 3, 8000, 8); }, 10},
        {"float.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.AddSilence(p, 1); }, 5},
        {"float.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 0, 1); }, 5},
        {"float.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 0, 1); }, 5},
        {"24.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, 1, 8000, 24); }, 8},
        {"24.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveOW(p, x, 0, 1, 8000, 24); }, 8},
        {"24.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, 0, 1, 2, 8000, 24); }, 8},
        {"nodata.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.AddSilence(p, 1); }, 6},
        {"nodata.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, 1, 8000, 16); }, 6},
        {"dir.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, 1, 8000, 16); }, 3},
        {"dir.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.MakeSilence(p, 1, 1, 1, 8000, 16); }, 3},
        {"dir.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 0, 1); }, 3},
        {"dir.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.SaveSr(p, 8000); }, 3},
        {"none.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 0, 1); }, 2},
        {"none.wav", [](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 0, 1); }, 2},
        {"none.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveRep(p, x, 0, 1, 2, 8000, 16); }, 2},
        {"none.wav", [](Covarne2005& w, wchar_t* p, double* x) { return w.SaveAdd(p, x, 1, 8000, 12); }, 8},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << i++ << " on " << c.file);
        const bool dir = std::string(c.file) == "dir.wav";
        const Bytes before = dir ? Bytes() : Read(c.file);
        EXPECT_EQ(c.edit(m_wav, W(c.file), m_x), -1);
        EXPECT_EQ(m_wav.GetLastError(nullptr, 0), c.code);
        if (!dir) {
            EXPECT_EQ(Read(c.file), before);
        }
    }
    EXPECT_FALSE(Exists("none.wav"));
}

// The reason of the last call, its text cut to the caller's room; 0 after a success.
TEST_F(EditTest, LastErrorSaysWhy) {
    Write16("mono.wav", Ramp(10));
    wchar_t text[64];
    EXPECT_EQ(m_wav.SaveAdd(W("mono.wav"), m_x, m_x, 2, 8000, 16), -1);
    EXPECT_EQ(m_wav.GetLastError(text, 64), 9);
    EXPECT_EQ(std::wstring(text), L"channels do not match the file: 2 given, 1 in the file");
    EXPECT_EQ(m_wav.GetLastError(text, 9), 9);
    EXPECT_EQ(std::wstring(text), L"channels");
    EXPECT_EQ(m_wav.GetLastError(nullptr, 0), 9);
    EXPECT_EQ(m_wav.GetN(W("mono.wav")), 10);
    EXPECT_EQ(m_wav.GetLastError(text, 64), 0);
    EXPECT_EQ(std::wstring(text), L"");
    EXPECT_EQ(m_wav.GetN(W("none.wav")), 0);
    EXPECT_EQ(m_wav.GetLastError(text, 64), 2);
    EXPECT_EQ(std::wstring(text), L"no such file");
    Write("junk.wav", Bytes(50, 'x'));
    EXPECT_EQ(m_wav.CheckFile(W("junk.wav")), 0);
    EXPECT_EQ(m_wav.GetLastError(text, 64), 4);
    chmod(Path("mono.wav").c_str(), 0444);
    if (geteuid() != 0) {  // root writes anyway
        EXPECT_EQ(m_wav.AddSilence(W("mono.wav"), 1), -1);
        EXPECT_EQ(m_wav.GetLastError(text, 64), 16);
        EXPECT_EQ(std::wstring(text), L"cannot open the file: Permission denied");
    }
}

// Frames are appended right after the last whole frame, whatever the file ends in.
TEST_F(EditTest, AppendsFollowTheLastWholeFrame) {
    // 8 bits, 3 frames and the pad byte of the odd data chunk.
    Write("pad.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 1, 8)).Chunk("data", {10, 20, 30}).Build());
    ASSERT_EQ(Read("pad.wav").size(), 48u);
    EXPECT_EQ(m_wav.SaveAdd(W("pad.wav"), m_x, 2, 8000, 8), 5);
    Bytes b = Read("pad.wav");
    EXPECT_EQ(Bytes(b.begin() + 44, b.end()), Bytes({10, 20, 30, 135, 135}));
    EXPECT_EQ(Get32(b, 40), 5u);
    EXPECT_EQ(Get32(b, 4), 41u);

    // A data size beyond the file: the header is mended to the frames present.
    Write("cut.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16))
                         .ChunkHeader("data", 0xFFFFFFFF)
                         .Raw(B::Samples16({1, 2}))
                         .Raw({9})
                         .Build());
    EXPECT_EQ(m_wav.AddSilence(W("cut.wav"), 1), 3);
    b = Read("cut.wav");
    EXPECT_EQ(Data16(b), std::vector<int>({1, 2, 0}));
    EXPECT_EQ(Get32(b, 40), 6u);

    // A LIST chunk before the data chunk: the data chunk found by walking grows.
    Write("list.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16))
                          .Chunk("LIST", Bytes(6, 'l'))
                          .Chunk("data", B::Samples16({5}))
                          .Build());
    EXPECT_EQ(m_wav.SaveAdd(W("list.wav"), m_x, 1, 8000, 16), 2);
    b = Read("list.wav");
    EXPECT_EQ(Get32(b, 54), 4u);
    EXPECT_EQ(Get32(b, 4), b.size() - 8);
    EXPECT_EQ(Data16(b, 58), std::vector<int>({5, 2047}));
    EXPECT_EQ(m_wav.GetN(W("list.wav")), 2);

    // Extensible PCM edits like format 1.
    Write("ext.wav", B().Chunk("fmt ", B::Extensible(1, 8000, 16, true)).Chunk("data", B::Samples16({5})).Build());
    EXPECT_EQ(m_wav.AddSilence(W("ext.wav"), 2), 3);
    EXPECT_EQ(m_wav.GetN(W("ext.wav")), 3);
}

}  // namespace
}  // namespace wavtest

namespace wavtest {
namespace {

// A file created through a dangling symbolic link that cannot be completed goes
// again; the link, which is the user's, stays.
TEST_F(EditTest, FailedCreationThroughADanglingLinkRemovesOnlyTheTarget) {
    ASSERT_EQ(symlink(Path("target.wav").c_str(), Path("link.wav").c_str()), 0);
    std::vector<double> x(100000, 0.25);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 50000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int added = m_wav.SaveAdd(W("link.wav"), x.data(), 100000, 8000, 16);
    const int overwritten = m_wav.SaveOW(W("link.wav"), x.data(), 10, 100000, 8000, 16);
    m_wav.Save(W("link.wav"), x.data(), 100000, 8000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(added, -1);
    EXPECT_EQ(overwritten, -1);
    struct stat st;
    EXPECT_EQ(lstat(Path("link.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_FALSE(Exists("target.wav"));
}

}  // namespace
}  // namespace wavtest
