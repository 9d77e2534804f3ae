// Every edit keeps every chunk: chunks after the data follow its new end, the
// fact count and cue points tell the truth, the RIFF size is the file's length - 8,
// and bytes after the frames that are no chunk are written over.
#include <functional>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

Bytes CueBody(const std::vector<int>& frames) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(frames.size()));
    for (size_t i = 0; i < frames.size(); ++i) {
        Put32(b, static_cast<std::uint32_t>(i + 1));
        Put32(b, static_cast<std::uint32_t>(frames[i]));
        b.insert(b.end(), {'d', 'a', 't', 'a'});
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, static_cast<std::uint32_t>(frames[i]));
    }
    return b;
}

std::vector<int> Cues(const Bytes& body) {
    std::vector<int> v;
    for (std::uint32_t i = 0; i < Get32(body, 0); ++i) {
        EXPECT_EQ(Get32(body, 4 + 24 * i + 4), Get32(body, 4 + 24 * i + 20));
        v.push_back(static_cast<int>(Get32(body, 4 + 24 * i + 20)));
    }
    return v;
}

struct Parsed {
    std::vector<std::string> ids;  // chunk ids in order
    std::vector<Bytes> bodies;
};

// The chunk list of a file, walked with pad bytes; fails the test if it does not end at the end.
Parsed Walk(const Bytes& b) {
    Parsed p;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::uint32_t n = Get32(b, at + 4);
        p.ids.emplace_back(b.begin() + at, b.begin() + at + 4);
        const size_t end = std::min(b.size(), at + 8 + n);
        p.bodies.emplace_back(b.begin() + at + 8, b.begin() + end);
        at += 8 + n + (n & 1);
    }
    EXPECT_TRUE(at == b.size() || at == b.size() + 1) << at << " " << b.size();
    return p;
}

struct Case {
    const char* name;
    std::function<int(Covarne2005&, wchar_t*, double*)> edit;
    std::vector<int> frames;  // the samples afterwards
    std::vector<int> cues;    // the cue points afterwards
};

// 10 frames 100..1000 at cue points 2 and 6; 2047 is what m_x becomes.
std::vector<Case> Cases() {
    const int x = 2047;
    auto run = [](std::function<int(Covarne2005&, wchar_t*, double*)> f) { return f; };
    return {
        {"SaveAdd",
         run([](Covarne2005& w, wchar_t* p, double* s) { return w.SaveAdd(p, s, 2, 8000, 16); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, x, x},
         {2, 6}},
        {"AddSilence",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.AddSilence(p, 1); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 0},
         {2, 6}},
        {"SaveOW past the end",
         run([](Covarne2005& w, wchar_t* p, double* s) { return w.SaveOW(p, s, 9, 2, 8000, 16); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, x, x},
         {2, 6}},
        {"SaveOW inside",
         run([](Covarne2005& w, wchar_t* p, double* s) { return w.SaveOW(p, s, 1, 2, 8000, 16); }),
         {100, x, x, 400, 500, 600, 700, 800, 900, 1000},
         {2, 6}},
        {"MakeSilence past the end",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.MakeSilence(p, 11, 1, 1, 8000, 16); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 0, 0},
         {2, 6}},
        {"Insert",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 2, 3); }),
         {100, 200, 0, 0, 0, 300, 400, 500, 600, 700, 800, 900, 1000},
         {5, 9}},
        {"Insert at the end",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.Insert(p, 10, 1); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 0},
         {2, 6}},
        {"Delete",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 1, 2); }),
         {100, 400, 500, 600, 700, 800, 900, 1000},
         {1, 4}},
        {"Delete to the end",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 4, 20); }),
         {100, 200, 300, 400},
         {2, 4}},
        {"Delete nothing",
         run([](Covarne2005& w, wchar_t* p, double*) { return w.Delete(p, 0, 0); }),
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000},
         {2, 6}},
        {"SaveRep longer",
         run([](Covarne2005& w, wchar_t* p, double* s) { return w.SaveRep(p, s, 3, 1, 3, 8000, 16); }),
         {100, 200, 300, x, x, x, 500, 600, 700, 800, 900, 1000},
         {2, 8}},
        {"SaveRep shorter",
         run([](Covarne2005& w, wchar_t* p, double* s) { return w.SaveRep(p, s, 1, 3, 1, 8000, 16); }),
         {100, x, 500, 600, 700, 800, 900, 1000},
         {1, 4}},
    };
}

class ChunkTest : public WavTest {
protected:
    double m_x[8] = {0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625};
};

// A fact chunk before the data; a LIST of odd size and a cue chunk after it, or
// (cueBefore) the cue chunk before the data and nothing after it.
Bytes File(bool cueBefore) {
    Bytes fact;
    Put32(fact, 10);
    std::vector<int> v;
    for (int i = 1; i <= 10; ++i) v.push_back(i * 100);
    B b;
    b.Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("fact", fact);
    if (cueBefore) b.Chunk("cue ", CueBody({2, 6}));
    b.Chunk("data", B::Samples16(v));
    if (!cueBefore) b.Chunk("LIST", Bytes(9, 't')).Chunk("cue ", CueBody({2, 6}));
    return b.Build();
}

TEST_F(ChunkTest, EveryEditKeepsEveryChunkAndTellsTheTruth) {
    for (const bool cueBefore : {false, true}) {
        for (const Case& c : Cases()) {
            SCOPED_TRACE(std::string(c.name) + (cueBefore ? ", data last" : ", chunks after the data"));
            Write("t.wav", File(cueBefore));
            const int n = static_cast<int>(c.frames.size());
            ASSERT_EQ(c.edit(m_wav, W("t.wav"), m_x), n);
            EXPECT_EQ(m_wav.GetLastError(nullptr, 0), 0);
            const Bytes b = Read("t.wav");
            EXPECT_EQ(Get32(b, 4), b.size() - 8);
            const Parsed p = Walk(b);
            const std::vector<std::string> ids = cueBefore
                                                     ? std::vector<std::string>{"fmt ", "fact", "cue ", "data"}
                                                     : std::vector<std::string>{"fmt ", "fact", "data", "LIST", "cue "};
            ASSERT_EQ(p.ids, ids);
            EXPECT_EQ(Get32(p.bodies[1], 0), static_cast<std::uint32_t>(n));  // fact: the frame count
            const Bytes& data = p.bodies[cueBefore ? 3 : 2];
            EXPECT_EQ(Data16(data, 0), c.frames);
            EXPECT_EQ(Cues(p.bodies[cueBefore ? 2 : 4]), c.cues);
            if (!cueBefore) {
                EXPECT_EQ(p.bodies[3], Bytes(9, 't'));
            }
            EXPECT_EQ(m_wav.GetN(W("t.wav")), n);
        }
    }
}

// Bytes after the frames that start no chunk (a partial frame, frames whose header was
// never fixed up) are written over by growing edits, also after an in-place edit.
TEST_F(ChunkTest, BytesAfterTheFramesThatAreNoChunkAreWrittenOver) {
    std::vector<int> v;
    for (int i = 0; i < 1000; ++i) v.push_back(i);
    // A stereo download cut inside a frame: 44 + 1957 bytes, the data size says 4000.
    Bytes full = B().Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16)).ChunkHeader("data", 4000).Raw(B::Samples16(v)).Build();
    full.resize(2001);
    Write("cut.wav", full);
    EXPECT_EQ(m_wav.MakeSilence(W("cut.wav"), 100, 5, 2, 8000, 16), 489);
    EXPECT_EQ(m_wav.AddSilence(W("cut.wav"), 5), 494);
    Bytes b = Read("cut.wav");
    EXPECT_EQ(Get32(b, 40), 494u * 4);
    EXPECT_EQ(Get32(b, 4), b.size() - 8);
    EXPECT_EQ(Data16(b), [&] {
        std::vector<int> w(v.begin(), v.begin() + 2 * 489);
        std::fill(w.begin() + 200, w.begin() + 210, 0);
        w.resize(2 * 494, 0);
        return w;
    }());

    // An append whose header was never fixed up: three frames more than the header says.
    Write("late.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16))
                          .Chunk("data", B::Samples16({1, 2}))
                          .Raw(B::Samples16({3, 4, 5}))
                          .Build());
    EXPECT_EQ(m_wav.Insert(W("late.wav"), 1, 1), 3);
    b = Read("late.wav");
    // The stray frame 3 is written over; 4 and 5 stay after the counted frames.
    EXPECT_EQ(Data16(b), std::vector<int>({1, 0, 2, 4, 5}));
    EXPECT_EQ(Get32(b, 40), 6u);
    EXPECT_EQ(m_wav.AddSilence(W("late.wav"), 2), 5);
    EXPECT_EQ(Data16(Read("late.wav")), std::vector<int>({1, 0, 2, 0, 0}));
    EXPECT_EQ(Get32(b, 4), b.size() - 8);
}

// An in-place edit of an odd-sized data chunk keeps its pad byte counted.
TEST_F(ChunkTest, OddDataKeepsTheRiffSizeTrue) {
    Write("odd.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 1, 8)).Chunk("data", {10, 20, 30}).Build());
    ASSERT_EQ(Read("odd.wav").size(), 48u);
    EXPECT_EQ(m_wav.SaveOW(W("odd.wav"), m_x, 0, 1, 8000, 8), 3);
    const Bytes b = Read("odd.wav");
    EXPECT_EQ(b.size(), 48u);
    EXPECT_EQ(Get32(b, 4), 40u);
}

}  // namespace
}  // namespace wavtest
