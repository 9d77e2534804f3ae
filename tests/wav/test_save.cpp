// Writing new files: the canonical header, the sample conversion, refusals.
#include <cmath>
#include <limits>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

TEST_F(WavTest, SaveWritesTheCanonicalFile) {
    double x[] = {1.0, -1.0, 0.5};
    m_wav.Save(W("a.wav"), x, 3, 48000);
    const Bytes expected =
        B().Chunk("fmt ", B::Fmt(1, 1, 48000, 2, 16)).Chunk("data", {0xF8, 0x7F, 0x08, 0x80, 0xFC, 0x3F}).Build();
    EXPECT_EQ(Read("a.wav"), expected);

    double l[] = {0.5, 0.25}, r[] = {-0.5, -0.25};
    m_wav.Save(W("st.wav"), l, r, 2, 16, 44100);
    const Bytes st = Read("st.wav");
    ASSERT_EQ(st.size(), 52u);
    EXPECT_EQ(Bytes(st.begin() + 44, st.end()), Bytes({0xFC, 0x3F, 0x04, 0xC0, 0xFE, 0x1F, 0x02, 0xE0}));
    EXPECT_EQ(m_wav.GetCh(W("st.wav")), 2);
    EXPECT_EQ(Get32(st, 28), 176400u);

    m_wav.Save(W("empty.wav"), x, 0, static_cast<short>(8), 8000);
    const Bytes e = Read("empty.wav");
    ASSERT_EQ(e.size(), 44u);
    EXPECT_EQ(Get32(e, 4), 36u);
    EXPECT_EQ(Get32(e, 40), 0u);
}

struct ConvCase {
    double x;
    int v16;
    int v8;
};

TEST_F(WavTest, SaveConvertsByTruncationAndLimits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const ConvCase cases[] = {
        {1.0, 32760, 255},     {-1.0, -32760, 1},     {0.0, 0, 128},     {0.5, 16380, 191}, {-0.5, -16380, 65},
        {0.99999, 32759, 254}, {-0.99999, -32759, 2}, {1.5, 32760, 255}, {-7.0, -32760, 1}, {-0.00001, 0, 128},
        {nan, 0, 128},         {-nan, 0, 128},        {inf, 32760, 255}, {-inf, -32760, 1},
    };
    std::vector<double> x;
    for (const ConvCase& c : cases) x.push_back(c.x);
    const int n = static_cast<int>(x.size());
    m_wav.Save(W("16.wav"), x.data(), n, 8000);
    m_wav.Save(W("8.wav"), x.data(), n, static_cast<short>(8), 8000);
    const Bytes b16 = Read("16.wav"), b8 = Read("8.wav");
    ASSERT_EQ(b16.size(), 44u + 2 * n);
    ASSERT_EQ(b8.size(), 44u + n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(Get16(b16, 44 + 2 * i), cases[i].v16) << cases[i].x;
        EXPECT_EQ(b8[44 + i], cases[i].v8) << cases[i].x;
    }
    double back;
    ASSERT_EQ(m_wav.Load(W("16.wav"), 0, 1, &back, nullptr), 2);
    EXPECT_EQ(back, 0.999755859375);
}

TEST_F(WavTest, SaveReplacesALongerFile) {
    Write("a.wav", Bytes(5000, 0x33));
    double x[] = {0.1, 0.2};
    m_wav.Save(W("a.wav"), x, 2, 8000);
    EXPECT_EQ(Read("a.wav").size(), 48u);
}

TEST_F(WavTest, SaveRefusesWhatItCannotWrite) {
    Write("a.wav", Bytes(100, 0x33));
    double x[] = {0.1, 0.2};
    m_wav.Save(W("a.wav"), x, nullptr, 2, 24, 8000);
    m_wav.Save(W("a.wav"), x, nullptr, 2, 12, 8000);
    m_wav.Save(W("a.wav"), x, -1, 8000);
    m_wav.Save(W("a.wav"), nullptr, 2, 8000);
    EXPECT_EQ(Read("a.wav"), Bytes(100, 0x33));
    m_wav.Save(W("new.wav"), x, nullptr, 2, 24, 8000);
    EXPECT_FALSE(Exists("new.wav"));
    m_wav.Save(nullptr, x, 2, 8000);
    m_wav.Save(W("dir/none/a.wav"), x, 2, 8000);  // cannot open: nothing happens
}

TEST_F(WavTest, MakeImageLeavesUnwrittenFrameBytes) {
    tagWAVEFILEHEADER2005 h;
    m_wav.MakeHeader(&h, 2, 3, 16, 8000);  // block align 6
    double l[] = {0.5, -0.5}, r[] = {0.25, -0.25};
    unsigned char image[12];
    std::fill(image, image + 12, 0xEE);
    m_wav.MakeImage(image, l, r, 2, &h);
    EXPECT_EQ(Bytes(image, image + 12),
              Bytes({0xFC, 0x3F, 0xFE, 0x1F, 0xEE, 0xEE, 0x04, 0xC0, 0x02, 0xE0, 0xEE, 0xEE}));
    m_wav.MakeHeader(&h, 2, 1, 8, 8000);
    m_wav.MakeImage(image, l, 2, &h);
    EXPECT_EQ(image[0], 191);
    EXPECT_EQ(image[1], 65);
    m_wav.MakeHeader(&h, 2, 2, 24, 8000);
    std::fill(image, image + 12, 0xEE);
    m_wav.MakeImage(image, l, r, 2, &h);  // no conversion for 24 bits
    m_wav.MakeImage(image, l, r, -2, &h);
    m_wav.MakeImage(nullptr, l, r, 2, &h);
    EXPECT_EQ(Bytes(image, image + 12), Bytes(12, 0xEE));
}

// Paths are wide strings; names outside ASCII reach the file system as UTF-8.
TEST_F(WavTest, NamesOutsideAsciiWork) {
    double x[] = {0.5, 0.25};
    m_wav.Save(W("zvuk-\xd0\xb7\xd0\xb2\xd1\x83\xd0\xba-\xe9\x9f\xb3-\xf0\x9f\x8e\xb5.wav"), x, 2, 22050);
    EXPECT_TRUE(Exists("zvuk-\xd0\xb7\xd0\xb2\xd1\x83\xd0\xba-\xe9\x9f\xb3-\xf0\x9f\x8e\xb5.wav"));
    EXPECT_EQ(m_wav.GetSr(W("zvuk-\xd0\xb7\xd0\xb2\xd1\x83\xd0\xba-\xe9\x9f\xb3-\xf0\x9f\x8e\xb5.wav")), 22050);
    wchar_t* p = W("\xc3\xa9t\xc3\xa9.wav");
    EXPECT_EQ(m_wav.SaveAdd(p, x, 2, 8000, 16), 2);
    EXPECT_EQ(m_wav.Insert(p, 1, 3), 5);
    EXPECT_TRUE(Exists("\xc3\xa9t\xc3\xa9.wav"));
    // A lone surrogate names no character: refused, nothing created.
    std::wstring bad = W("x.wav");
    bad[bad.size() - 5] = static_cast<wchar_t>(0xD800);
    EXPECT_EQ(m_wav.SaveAdd(&bad[0], x, 2, 8000, 16), -1);
}

TEST_F(WavTest, RoundTripAcrossWorkBlocks) {
    const int n = 400003;
    std::vector<double> l(n), r(n);
    for (int i = 0; i < n; ++i) {
        l[i] = std::sin(i * 0.001);
        r[i] = -std::cos(i * 0.0007);
    }
    m_wav.Save(W("a.wav"), l.data(), r.data(), n, 48000);
    ASSERT_EQ(m_wav.GetN(W("a.wav")), n);
    std::vector<double> bl(n), br(n);
    ASSERT_EQ(m_wav.Load(W("a.wav"), 0, n, bl.data(), br.data()), 4 * n);
    for (int i = 0; i < n; i += 101) {
        ASSERT_EQ(bl[i], static_cast<int>(l[i] * 32760) / 32768.0) << i;
        ASSERT_EQ(br[i], static_cast<int>(r[i] * 32760) / 32768.0) << i;
    }
}

}  // namespace
}  // namespace wavtest
