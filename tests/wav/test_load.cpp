// Loading ranges as doubles and integers, and the mounted window.
#include <cmath>
#include <cstdio>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

TEST_F(WavTest, Load16BitAsDoublesAndIntegers) {
    Write16("a.wav", {0, 16384, -32768, 32767});
    double d[4];
    short s[4];
    EXPECT_EQ(m_wav.Load(W("a.wav"), 0, 4, d, nullptr), 8);
    EXPECT_EQ(d[0], 0.0);
    EXPECT_EQ(d[1], 0.5);
    EXPECT_EQ(d[2], -1.0);
    EXPECT_EQ(d[3], 0.999969482421875);
    EXPECT_EQ(m_wav.Load(W("a.wav"), 0, 4, s, nullptr), 8);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 16384);
    EXPECT_EQ(s[2], -32768);
    EXPECT_EQ(s[3], 32767);
}

TEST_F(WavTest, Load8BitAsDoublesAndIntegers) {
    Write("a.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 1, 8)).Chunk("data", {0, 128, 255}).Build());
    double d[5];
    short s[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(m_wav.Load(W("a.wav"), 0, 3, d, nullptr), 3);
    EXPECT_EQ(d[0], -1.0);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_EQ(d[2], 0.9921875);
    // The integer overload gives the stored bytes and pads with 0, not the zero level 128.
    EXPECT_EQ(m_wav.Load(W("a.wav"), 1, 4, s, nullptr), 2);
    EXPECT_EQ(s[0], 128);
    EXPECT_EQ(s[1], 255);
    EXPECT_EQ(s[2], 0);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(s[4], 9);
}

struct RangeCase {
    int start, count;
    int result;
    int written;  // elements written from 0 (values, then zero padding); the rest untouched
};

TEST_F(WavTest, LoadRanges) {
    Write16("a.wav", {100, 200, 300, 400, 500}, 2);  // 5 values: the last frame is partial
    ASSERT_EQ(m_wav.GetN(W("a.wav")), 2);
    const RangeCase cases[] = {
        {0, 2, 8, 2},  {1, 1, 4, 1}, {2, 10, 0, 0}, {1, 10, 4, 10},
        {-1, 2, 0, 0}, {0, 0, 0, 0}, {0, -3, 0, 0}, {3, 1, 0, 0},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " count " << c.count);
        double l[12], r[12];
        std::fill(l, l + 12, 7.0);
        std::fill(r, r + 12, 7.0);
        EXPECT_EQ(m_wav.Load(W("a.wav"), c.start, c.count, l, r), c.result);
        for (int i = 0; i < 12; ++i) {
            const int frame = c.start + i;
            const double want_l = i >= c.written ? 7.0 : frame < 2 ? (100 + 200 * frame) / 32768.0 : 0.0;
            const double want_r = i >= c.written ? 7.0 : frame < 2 ? (200 + 200 * frame) / 32768.0 : 0.0;
            EXPECT_EQ(l[i], want_l) << i;
            EXPECT_EQ(r[i], want_r) << i;
        }
    }
}

TEST_F(WavTest, LoadChannels) {
    Write16("st.wav", {1, 2, 3, 4}, 2);
    Write16("mono.wav", {5, 6});
    Write("three.wav",
          B().Chunk("fmt ", B::Fmt(1, 3, 8000, 6, 16)).Chunk("data", B::Samples16({1, 2, 3, 4, 5, 6})).Build());
    short l[4], r[4] = {9, 9, 9, 9};
    EXPECT_EQ(m_wav.Load(W("st.wav"), 0, 2, l, static_cast<short*>(nullptr)), 8);
    EXPECT_EQ(l[0], 1);
    EXPECT_EQ(l[1], 3);
    EXPECT_EQ(m_wav.Load(W("st.wav"), 0, 2, static_cast<short*>(nullptr), r), 8);
    EXPECT_EQ(r[1], 4);
    r[0] = r[1] = 9;
    EXPECT_EQ(m_wav.Load(W("mono.wav"), 0, 4, l, r), 4);  // past the end: padding, but not for right
    EXPECT_EQ(r[0], 9);
    EXPECT_EQ(r[1], 9);
    EXPECT_EQ(m_wav.Load(W("three.wav"), 0, 2, l, r), 12);  // more than two channels: channel 0 only
    EXPECT_EQ(l[0], 1);
    EXPECT_EQ(l[1], 4);
    EXPECT_EQ(r[0], 9);
}

TEST_F(WavTest, UnconvertedDepthOnlyPadsPastTheEnd) {
    Write("a.wav", B().Chunk("fmt ", B::Fmt(1, 2, 8000, 6, 24)).Chunk("data", Bytes(6 * 4, 1)).Build());
    double l[6], r[6];
    std::fill(l, l + 6, 7.0);
    std::fill(r, r + 6, 7.0);
    EXPECT_EQ(m_wav.Load(W("a.wav"), 1, 6, l, r), 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(l[i], i < 3 ? 7.0 : 0.0) << i;
        EXPECT_EQ(r[i], i < 3 ? 7.0 : 0.0) << i;
    }
}

TEST_F(WavTest, OddFilesLoadTheirSamples) {
    const Bytes samples = B::Samples16({11, -11, 22, -22, 33, -33});
    const Bytes files[] = {
        B().Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16)).Chunk("LIST", Bytes(13, 'x')).Chunk("data", samples).Build(),
        B().Chunk("JUNK", Bytes(4, 0)).Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16)).Chunk("data", samples).Build(),
        B().Chunk("fmt ", B::Extensible(2, 8000, 16, true)).Chunk("fact", Bytes(4, 0)).Chunk("data", samples).Build(),
        B().Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16, 18)).Chunk("data", samples).Chunk("LIST", Bytes(8, 'y')).Build(),
    };
    for (const Bytes& f : files) {
        Write("a.wav", f);
        short l[3], r[3];
        ASSERT_EQ(m_wav.Load(W("a.wav"), 0, 3, l, r), 12);
        EXPECT_EQ(l[2], 33);
        EXPECT_EQ(r[2], -33);
    }
}

// A data size beyond the file: only the frames present count, and they load.
TEST_F(WavTest, TruncatedDataLoadsThePresentFrames) {
    Write("a.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16))
                       .ChunkHeader("data", 0xFFFFFFFF)
                       .Raw(B::Samples16({5, 6, 7}))
                       .Raw({1})
                       .Build());
    EXPECT_EQ(m_wav.GetN(W("a.wav")), 3);
    short s[4] = {9, 9, 9, 9};
    EXPECT_EQ(m_wav.Load(W("a.wav"), 0, 4, s, nullptr), 6);
    EXPECT_EQ(s[2], 7);
    EXPECT_EQ(s[3], 0);
}

TEST_F(WavTest, InconsistentBlockAlignIsNotUsableForLoads) {
    Write("a.wav", B().Chunk("fmt ", B::Fmt(1, 2, 8000, 2, 16)).Chunk("data", B::Samples16({1, 2, 3, 4})).Build());
    short s[2] = {9, 9};
    EXPECT_EQ(m_wav.Load(W("a.wav"), 0, 2, s, s), 0);
    EXPECT_EQ(s[0], 9);
    EXPECT_FALSE(m_wav.Mount(W("a.wav")));
    EXPECT_EQ(m_wav.AddSilence(W("a.wav"), 1), -1);
}

// Loads longer than a work block convert every block.
TEST_F(WavTest, LongLoadsCrossTheWorkBlocks) {
    const int n = 300001;
    std::vector<int> v(2 * n);
    for (int i = 0; i < n; ++i) {
        v[2 * i] = (i * 7) % 65536 - 32768;
        v[2 * i + 1] = -((i * 13) % 32768);
    }
    Write16("a.wav", v, 2);
    std::vector<short> l(n), r(n);
    ASSERT_EQ(m_wav.Load(W("a.wav"), 0, n, l.data(), r.data()), 4 * n);
    for (int i = 0; i < n; i += 997) {
        ASSERT_EQ(l[i], v[2 * i]) << i;
        ASSERT_EQ(r[i], v[2 * i + 1]) << i;
    }
    EXPECT_EQ(l[n - 1], v[2 * n - 2]);
}

TEST_F(WavTest, MountGivesSampleByIndexThroughItsWindow) {
    EXPECT_EQ(m_wav.GetValue(0, 0), 0.0);  // nothing mounted
    const int n = 150000;
    std::vector<int> v(2 * n);
    for (int i = 0; i < n; ++i) {
        v[2 * i] = i % 30000;
        v[2 * i + 1] = -(i % 30000);
    }
    Write16("a.wav", v, 2);
    ASSERT_TRUE(m_wav.Mount(W("a.wav")));
    EXPECT_FALSE(m_wav.Mount(W("a.wav")));
    EXPECT_EQ(m_wav.GetValue(10, 0), 10 / 32768.0);
    EXPECT_EQ(m_wav.GetValue(10, 1), -10 / 32768.0);
    EXPECT_EQ(m_wav.GetValue(10, 2), 10 / 32768.0);  // any other channel is channel 0
    EXPECT_EQ(m_wav.GetValue(-1, 0), 0.0);
    EXPECT_EQ(m_wav.GetValue(n, 0), 0.0);

    // The window (frames 10 to 100009) keeps what it read; a miss reloads from the file.
    double x = 0.25;
    ASSERT_EQ(m_wav.SaveOW(W("a.wav"), &x, &x, 20, 1, 48000, 16), n);
    EXPECT_EQ(m_wav.GetValue(20, 0), 20 / 32768.0);
    EXPECT_EQ(m_wav.GetValue(n - 1, 0), (n - 1) % 30000 / 32768.0);  // window now n-1 alone
    EXPECT_EQ(m_wav.GetValue(20, 1), 8190 / 32768.0);

    m_wav.UnMount();
    m_wav.UnMount();
    EXPECT_EQ(m_wav.GetValue(20, 0), 0.0);
    Write16("b.wav", {1000, 2000});
    ASSERT_TRUE(m_wav.Mount(W("b.wav")));
    EXPECT_EQ(m_wav.GetValue(1, 1), 2000 / 32768.0);  // one channel: channel 0 whatever is asked
}

TEST_F(WavTest, MountRefusals) {
    Write("float.wav", B().Chunk("fmt ", B::Fmt(3, 1, 8000, 4, 32)).Chunk("data", Bytes(8, 0)).Build());
    Write16("ok.wav", {1});
    EXPECT_FALSE(m_wav.Mount(W("")));  // the folder
    EXPECT_FALSE(m_wav.Mount(W("float.wav")));
    EXPECT_FALSE(m_wav.Mount(W("none.wav")));
    EXPECT_FALSE(m_wav.Mount(nullptr));
    std::wstring longPath(W("ok.wav"));
    while (longPath.size() < 259) longPath.insert(longPath.size() - 6, L"/");  // same file, longer name
    EXPECT_TRUE(m_wav.Mount(&longPath[0]));
    m_wav.UnMount();
    longPath.insert(longPath.size() - 6, L"/");
    EXPECT_FALSE(m_wav.Mount(&longPath[0])) << "260 characters";
}

// Window contents are defined before any refill succeeded, and copies own their windows.
TEST_F(WavTest, MountWindowIsZeroUntilLoadedAndCopiesOwnIt) {
    Write16("a.wav", {1000, 2000, 3000});
    ASSERT_TRUE(m_wav.Mount(W("a.wav")));
    Covarne2005 copy(m_wav);
    EXPECT_EQ(copy.GetValue(2, 0), 3000 / 32768.0);
    ASSERT_EQ(std::remove(Path("a.wav").c_str()), 0);
    EXPECT_EQ(m_wav.GetValue(1, 0), 0.0);
    EXPECT_EQ(copy.GetValue(2, 0), 3000 / 32768.0);  // from its window
    m_wav.UnMount();
    copy = m_wav;
    EXPECT_EQ(copy.GetValue(2, 0), 0.0);
}

}  // namespace
}  // namespace wavtest
