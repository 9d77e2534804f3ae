// Inserting, deleting and replacing frame ranges; the temporary file of an edit.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

std::vector<int> Ramp(int from, int to) {  // frames from..to-1 of a file whose frame i is 100 * (i + 1)
    std::vector<int> v;
    for (int i = from; i < to; ++i) v.push_back(static_cast<std::int16_t>(100 * (i + 1)));
    return v;
}

std::vector<int> Cat(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

struct ResizeCase {
    const char* what;
    int start, count;
    bool insert;
    int result;
    std::vector<int> data;
};

TEST_F(TempDirTest, InsertAndDeleteMoveTheTail) {
    const ResizeCase cases[] = {
        {"insert inside", 3, 2, true, 12, Cat({Ramp(0, 3), {0, 0}, Ramp(3, 10)})},
        {"insert at 0", 0, 1, true, 11, Cat({{0}, Ramp(0, 10)})},
        {"insert at end", 10, 4, true, 14, Cat({Ramp(0, 10), {0, 0, 0, 0}})},
        {"insert past end", 12, 4, true, 16, Cat({Ramp(0, 10), std::vector<int>(6, 0)})},
        {"insert none", 4, 0, true, 10, Ramp(0, 10)},
        {"delete inside", 2, 3, false, 7, Cat({Ramp(0, 2), Ramp(5, 10)})},
        {"delete past end", 8, 5, false, 8, Ramp(0, 8)},
        {"delete to end", 0, 10, false, 0, {}},
        {"delete none", 0, 0, false, 10, Ramp(0, 10)},
    };
    for (const ResizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Write16("a.wav", Ramp(0, 10));
        const int r =
            c.insert ? m_wav.Insert(W("a.wav"), c.start, c.count) : m_wav.Delete(W("a.wav"), c.start, c.count);
        EXPECT_EQ(r, c.result);
        const Bytes b = Read("a.wav");
        EXPECT_EQ(Data16(b), c.data);
        EXPECT_EQ(b.size(), 44u + 2 * c.result);
        EXPECT_EQ(Get32(b, 40), 2u * c.result);
        EXPECT_EQ(Get32(b, 4), 36u + 2 * c.result);
        EXPECT_TRUE(TempFiles().empty()) << "the temporary file is removed";
    }
}

TEST_F(TempDirTest, SaveRepReplacesByADifferentLength) {
    double x[5] = {0.0625, 0.0625, 0.0625, 0.0625, 0.0625};
    const int X = 2047;
    Write16("a.wav", Ramp(0, 10));
    EXPECT_EQ(m_wav.SaveRep(W("a.wav"), x, 2, 3, 5, 8000, 16), 12);
    EXPECT_EQ(Data16(Read("a.wav")), Cat({Ramp(0, 2), {X, X, X, X, X}, Ramp(5, 10)}));
    Write16("a.wav", Ramp(0, 10));
    EXPECT_EQ(m_wav.SaveRep(W("a.wav"), x, 2, 5, 3, 8000, 16), 8);
    EXPECT_EQ(Data16(Read("a.wav")), Cat({Ramp(0, 2), {X, X, X}, Ramp(7, 10)}));
    Write16("a.wav", Ramp(0, 10));
    EXPECT_EQ(m_wav.SaveRep(W("a.wav"), x, 2, 2, 2, 8000, 16), 10);
    EXPECT_EQ(Data16(Read("a.wav")), Cat({Ramp(0, 2), {X, X}, Ramp(4, 10)}));
    // Equal lengths on a missing path create the file, as an overwrite does.
    EXPECT_EQ(m_wav.SaveRep(W("new.wav"), x, 1, 2, 2, 8000, 16), 3);
    EXPECT_EQ(Data16(Read("new.wav")), std::vector<int>({0, X, X}));
    // Two channels onto one: refused before the length changes.
    Write16("a.wav", Ramp(0, 10));
    EXPECT_EQ(m_wav.SaveRep(W("a.wav"), x, x, 2, 1, 3, 8000, 16), -1);
    EXPECT_EQ(Data16(Read("a.wav")), Ramp(0, 10));
}

TEST_F(TempDirTest, StereoAndManyChannelFiles) {
    Write16("st.wav", Ramp(0, 8), 2);  // frames (100,200) (300,400) ...
    EXPECT_EQ(m_wav.Insert(W("st.wav"), 1, 1), 5);
    EXPECT_EQ(Data16(Read("st.wav")), Cat({Ramp(0, 2), {0, 0}, Ramp(2, 8)}));
    EXPECT_EQ(m_wav.Delete(W("st.wav"), 0, 2), 3);
    EXPECT_EQ(Data16(Read("st.wav")), Ramp(2, 8));
    // Three channels: the gap at the end is appended as zero frames.
    Write("three.wav", B().Chunk("fmt ", B::Fmt(1, 3, 8000, 6, 16)).Chunk("data", B::Samples16(Ramp(0, 6))).Build());
    EXPECT_EQ(m_wav.Insert(W("three.wav"), 2, 1), 3);
    EXPECT_EQ(Data16(Read("three.wav")), Cat({Ramp(0, 6), {0, 0, 0}}));
    EXPECT_EQ(m_wav.Insert(W("three.wav"), 0, 1), 4);
    EXPECT_EQ(Data16(Read("three.wav")), Cat({{0, 0, 0}, Ramp(0, 6), {0, 0, 0}}));
}

// Tails longer than the copy buffer, so the copy takes several passes.
TEST_F(TempDirTest, LongTailsMoveIntact) {
    const int n = 700001;
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) v[i] = (i * 31) % 65536 - 32768;
    Write16("a.wav", v);
    ASSERT_EQ(m_wav.Insert(W("a.wav"), 1, 48000), n + 48000);
    ASSERT_EQ(m_wav.Delete(W("a.wav"), 1, 48000), n);
    EXPECT_EQ(Data16(Read("a.wav")), v);
    ASSERT_EQ(m_wav.Delete(W("a.wav"), 0, 1), n - 1);
    EXPECT_EQ(Data16(Read("a.wav")), std::vector<int>(v.begin() + 1, v.end()));
    EXPECT_TRUE(TempFiles().empty());
}

// The truncated file's header is mended to the frames it holds.
TEST_F(TempDirTest, TruncatedFileIsMendedByAnInsert) {
    Write("cut.wav",
          B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).ChunkHeader("data", 1000).Raw(B::Samples16({1, 2, 3})).Build());
    EXPECT_EQ(m_wav.Insert(W("cut.wav"), 1, 1), 4);
    const Bytes b = Read("cut.wav");
    EXPECT_EQ(Data16(b), std::vector<int>({1, 0, 2, 3}));
    EXPECT_EQ(Get32(b, 40), 8u);
}

// A short insertion parks the frames that move in a temporary file; without one it
// changes nothing. A deletion moves them in place and needs none.
TEST_F(TempDirTest, NoTemporaryFileMeansNoShortInsertion) {
    Write16("a.wav", Ramp(0, 10));
    const Bytes before = Read("a.wav");
    setenv("TMPDIR", Path("missing").c_str(), 1);
    EXPECT_EQ(m_wav.Insert(W("a.wav"), 2, 2), -1);
    wchar_t text[200];
    EXPECT_EQ(m_wav.GetLastError(text, 200), 16);
    EXPECT_EQ(std::wstring(text), L"cannot create a temporary file: No such file or directory");
    EXPECT_EQ(Read("a.wav"), before);
    EXPECT_EQ(m_wav.Delete(W("a.wav"), 2, 2), 8);
    EXPECT_EQ(Data16(Read("a.wav")), Cat({Ramp(0, 2), Ramp(4, 10)}));
}

// A write that fails half-way (here the file-size limit) ends the edit with -1,
// and the temporary file that holds the tail is kept.
TEST_F(TempDirTest, FailedWriteKeepsTheTemporaryFile) {
    Write16("a.wav", Ramp(0, 1000));
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 44 + 2000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int r = m_wav.Insert(W("a.wav"), 10, 500);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(r, -1);
    const std::vector<std::string> kept = TempFiles();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].substr(0, 3), "WAV");
    EXPECT_EQ(kept[0].substr(kept[0].size() - 4), ".wav");
    EXPECT_EQ(Data16(Read("tmp/" + kept[0]), 0), Ramp(10, 1000));
}

// Edits running at once each get a temporary file of their own.
TEST_F(TempDirTest, ConcurrentEditsUseTheirOwnTemporaryFiles) {
    std::vector<int> va(2000), vb(2000);
    for (int i = 0; i < 2000; ++i) {
        va[i] = i;
        vb[i] = 10000 + i;
    }
    Write16("a.wav", va);
    Write16("b.wav", vb);
    // Objects are made here: every construction sets the process locale.
    Covarne2005 wavA, wavB;
    auto run = [](Covarne2005* wav, wchar_t* path, bool* ok) {
        for (int k = 0; k < 20; ++k)
            *ok = wav->Insert(path, 1000, 7) == 2007 && wav->Delete(path, 1000, 7) == 2000 && *ok;
    };
    bool okA = true, okB = true;
    std::thread ta(run, &wavA, W("a.wav"), &okA);
    std::thread tb(run, &wavB, W("b.wav"), &okB);
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
    EXPECT_EQ(Data16(Read("a.wav")), va);
    EXPECT_EQ(Data16(Read("b.wav")), vb);
    EXPECT_TRUE(TempFiles().empty());
}

// Two processes at once, each doing 100 inserts and deletes on its own file through
// the same temporary folder: every step leaves the expected contents, so no
// temporary file was shared, and none is left.
TEST_F(TempDirTest, TwoProcessesEditingAtOnceKeepTheirFilesApart) {
    const int kFrames = 3000;
    std::vector<int> v[2];
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < kFrames; ++i) v[p].push_back(static_cast<std::int16_t>(p * 10000 + i));
        Write16(p == 0 ? "a.wav" : "b.wav", v[p]);
    }
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t child[2];
    for (int p = 0; p < 2; ++p) {
        child[p] = fork();
        ASSERT_GE(child[p], 0);
        if (child[p] == 0) {
            close(go[1]);
            char c;
            const bool started = read(go[0], &c, 1) == 0;  // both start when the pipe closes
            Covarne2005 wav;
            wchar_t* path = W(p == 0 ? "a.wav" : "b.wav");
            bool ok = started;
            for (int k = 0; k < 100 && ok; ++k) {
                const int at = (k * 37 + p * 11) % kFrames, n = 1 + k % 50;
                ok = wav.Insert(path, at, n) == kFrames + n;
                std::vector<int> want(v[p]);
                want.insert(want.begin() + at, n, 0);
                ok = ok && Data16(Read(p == 0 ? "a.wav" : "b.wav")) == want;
                ok = ok && wav.Delete(path, at, n) == kFrames && Data16(Read(p == 0 ? "a.wav" : "b.wav")) == v[p];
            }
            _exit(ok ? 0 : 1);
        }
    }
    close(go[0]);
    close(go[1]);
    for (int p = 0; p < 2; ++p) {
        int status = 0;
        ASSERT_EQ(waitpid(child[p], &status, 0), child[p]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << p;
    }
    EXPECT_EQ(Data16(Read("a.wav")), v[0]);
    EXPECT_EQ(Data16(Read("b.wav")), v[1]);
    EXPECT_TRUE(TempFiles().empty());
}

// Raw access: header bytes and stored sample bytes as they are.
TEST_F(WavTest, RawImageAccess) {
    Write16("a.wav", {1, -2, 3});
    Write("f18.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16, 18)).Chunk("data", B::Samples16({7, 8})).Build());
    Write("part.wav", B().Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16)).Chunk("data", Bytes(1001, 3)).Build());
    Write("float.wav", B().Chunk("fmt ", B::Fmt(3, 1, 8000, 4, 32)).Chunk("data", Bytes(8, 5)).Build());
    const Bytes a = Read("a.wav");
    EXPECT_EQ(m_wav.GetImgSz(Path("a.wav").c_str()), 6);
    EXPECT_EQ(m_wav.GetImgSz(Path("part.wav").c_str()), 1000);
    EXPECT_EQ(m_wav.GetHeaderSz(Path("f18.wav").c_str()), 46);
    unsigned char dst[64];
    m_wav.GetHeader(Path("a.wav").c_str(), dst, 44);
    EXPECT_EQ(Bytes(dst, dst + 44), Bytes(a.begin(), a.begin() + 44));
    std::fill(dst, dst + 64, 0xEE);
    m_wav.GetImg(Path("a.wav").c_str(), dst, 10);  // more than the file holds: the rest stays
    EXPECT_EQ(Bytes(dst, dst + 10), Bytes({1, 0, 0xFE, 0xFF, 3, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
    m_wav.GetHeader(Path("f18.wav").c_str(), dst, 46);
    const Bytes f18 = Read("f18.wav");
    EXPECT_EQ(Bytes(dst, dst + 46), Bytes(f18.begin(), f18.begin() + 46));
    m_wav.GetHeader(Path("float.wav").c_str(), dst, 4);  // only validity is needed
    EXPECT_EQ(Bytes(dst, dst + 4), Bytes({'R', 'I', 'F', 'F'}));
    std::fill(dst, dst + 64, 0xEE);
    m_wav.GetImg(Path("float.wav").c_str(), dst, 8);  // not usable: zeros
    EXPECT_EQ(Bytes(dst, dst + 8), Bytes(8, 0));
    std::fill(dst, dst + 64, 0xEE);
    m_wav.GetHeader(Path("none.wav").c_str(), dst, 8);
    m_wav.GetImg(nullptr, dst + 8, 8);
    EXPECT_EQ(Bytes(dst, dst + 16), Bytes(16, 0));
    m_wav.GetImg(Path("a.wav").c_str(), dst, -1);
    m_wav.GetHeader(Path("a.wav").c_str(), nullptr, 4);
    EXPECT_EQ(dst[16], 0xEE);
    EXPECT_EQ(m_wav.GetOffset(Path("float.wav").c_str()), 0);
    EXPECT_EQ(m_wav.GetImgSz(Path("none.wav").c_str()), 0);
}

}  // namespace
}  // namespace wavtest
