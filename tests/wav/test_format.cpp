// Validity check, format inspection, queries and canonical headers.
#include <clocale>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <locale>

#include "WavFixture.h"

namespace wavtest {
namespace {

using B = WavBuilder;

Bytes Zeros(size_t n) { return Bytes(n, 0); }

struct FormatCase {
    const char* name;
    Bytes file;
    int check;   // CheckFile
    int offset;  // GetWaveInfo, GetOffset
    int rate, channels, bits, frames;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

std::vector<FormatCase> FormatCases() {
    Bytes shortFile = B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Build();
    shortFile.resize(43);
    Bytes rifx = B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("data", Zeros(8)).Build();
    rifx[3] = 'X';
    Bytes notWave = rifx;
    notWave[3] = 'F';
    notWave[11] = 'X';
    Bytes hundred = B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("data", Zeros(56)).RiffSize(1000).Build();
    Bytes streamed =
        B().Chunk("fmt ", B::Fmt(1, 2, 44100, 4, 16)).ChunkHeader("data", 0xFFFFFFFF).Raw(Zeros(403)).Build();
    Bytes noRate = B().Chunk("fmt ", B::Fmt(1, 2, 22050, 4, 16)).Chunk("data", Zeros(8)).Build();
    noRate[28] = noRate[29] = noRate[30] = noRate[31] = 0;
    return {
        {"canonical_empty", B().Chunk("fmt ", B::Fmt(1, 1, 48000, 2, 16)).Chunk("data", {}).Build(), 44, 44, 48000, 1,
         16, 0},
        {"short_43_bytes", shortFile, 0, 0, 0, 0, 0, 0},
        {"big_endian_rifx", rifx, 0, 0, 0, 0, 0, 0},
        {"form_not_wave", notWave, 0, 0, 0, 0, 0, 0},
        {"riff_size_not_compared", hundred, 1008, 44, 8000, 1, 16, 28},
        {"riff_size_minus_8",
         B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("data", Zeros(4)).RiffSize(0xFFFFFFF8).Build(), 0, 0, 0, 0,
         0, 0},
        {"float_tag_3", B().Chunk("fmt ", B::Fmt(3, 1, 8000, 4, 32)).Chunk("data", Zeros(8)).Build(), 36 + 16, 0, 0, 0,
         0, 0},
        {"fmt_18", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16, 18)).Chunk("data", Zeros(6)).Build(), 52, 46, 8000, 1,
         16, 3},
        {"fmt_17_unpadded", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 1, 8, 17), false).Chunk("data", Zeros(5)).Build(), 51,
         45, 8000, 1, 8, 5},
        {"fact_4", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("fact", Zeros(4)).Chunk("data", Zeros(4)).Build(),
         60, 56, 8000, 1, 16, 2},
        {"fact_0_walked",
         B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("fact", {}).Chunk("data", Zeros(4)).Build(), 56, 52, 8000,
         1, 16, 2},
        {"partial_frame", B().Chunk("fmt ", B::Fmt(1, 2, 8000, 4, 16)).Chunk("data", Zeros(1001)).Build(), 1046, 44,
         8000, 2, 16, 250},
        {"list_before_data",
         B().Chunk("fmt ", B::Fmt(1, 2, 44100, 4, 16)).Chunk("LIST", Zeros(25)).Chunk("data", Zeros(12)).Build(), 90,
         78, 44100, 2, 16, 3},
        {"junk_before_fmt",
         B().Chunk("JUNK", Zeros(28)).Chunk("fmt ", B::Fmt(1, 1, 16000, 2, 16)).Chunk("data", Zeros(10)).Build(), 90,
         80, 16000, 1, 16, 5},
        {"extensible_pcm", B().Chunk("fmt ", B::Extensible(2, 48000, 16, true)).Chunk("data", Zeros(8)).Build(), 76, 68,
         48000, 2, 16, 2},
        {"extensible_float", B().Chunk("fmt ", B::Extensible(2, 48000, 32, false)).Chunk("data", Zeros(16)).Build(), 84,
         0, 0, 0, 0, 0},
        {"data_beyond_file",
         B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).ChunkHeader("data", 1000).Raw(Zeros(21)).Build(), 65, 44, 8000, 1,
         16, 10},
        {"data_size_streamed", streamed, 447, 44, 44100, 2, 16, 100},
        {"no_data_chunk", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).Chunk("LIST", Zeros(4)).Build(), 48, 44, 8000, 1,
         16, 0},
        {"eight_bit", B().Chunk("fmt ", B::Fmt(1, 1, 11025, 1, 8)).Chunk("data", Zeros(7)).Build(), 52, 44, 11025, 1, 8,
         7},
        {"twenty_four_bit", B().Chunk("fmt ", B::Fmt(1, 2, 96000, 6, 24)).Chunk("data", Zeros(60)).Build(), 104, 44,
         96000, 2, 24, 10},
        {"block_align_0", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 0, 16)).Chunk("data", Zeros(8)).Build(), 52, 44, 8000, 1,
         16, 0},
        {"byte_rate_0", noRate, 52, 44, 22050, 2, 16, 2},
        // (16 / 8) x 17990 channels does not fit the record's 16-bit block align.
        {"block_align_wraps", B().Chunk("fmt ", B::Fmt(1, 17990, 8000, 4, 16)).Chunk("data", Zeros(16)).Build(), 60, 0,
         0, 0, 0, 0},
        {"negative_channels", B().Chunk("fmt ", B::Fmt(1, -2, 8000, 4, 16)).Chunk("data", Zeros(16)).Build(), 60, 0, 0,
         0, 0, 0},
    };
}

class FormatTest : public WavTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, QueriesReadTheFileAsExpected) {
    const FormatCase& c = GetParam();
    Write("f.wav", c.file);
    EXPECT_EQ(m_wav.CheckFile(W("f.wav")), c.check);
    tagWAVEFILEHEADER2005 h;
    std::memset(&h, 0x5A, sizeof h);
    const tagWAVEFILEHEADER2005 before = h;
    EXPECT_EQ(m_wav.GetWaveInfo(W("f.wav"), &h), c.offset);
    EXPECT_EQ(m_wav.GetOffset(Path("f.wav").c_str()), c.offset);
    EXPECT_EQ(m_wav.GetHeaderSz(Path("f.wav").c_str()), c.offset);
    EXPECT_EQ(m_wav.GetSr(W("f.wav")), c.rate);
    EXPECT_EQ(m_wav.GetCh(W("f.wav")), c.channels);
    EXPECT_EQ(m_wav.GetBits(W("f.wav")), c.bits);
    EXPECT_EQ(m_wav.GetN(W("f.wav")), c.frames);
    if (c.offset == 0) {
        EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0) << "record must stay untouched";
        EXPECT_EQ(m_wav.GetImgSz(Path("f.wav").c_str()), 0);
        return;
    }
    // The record is canonical, whatever the file stored.
    tagWAVEFILEHEADER2005 expected;
    m_wav.MakeHeader(&expected, c.frames, static_cast<short>(c.channels), static_cast<short>(c.bits), c.rate);
    EXPECT_EQ(std::memcmp(&h, &expected, sizeof h), 0);
    EXPECT_EQ(m_wav.GetImgSz(Path("f.wav").c_str()), expected.dataSize);
}

INSTANTIATE_TEST_SUITE_P(Files, FormatTest, ::testing::ValuesIn(FormatCases()),
                         [](const ::testing::TestParamInfo<FormatCase>& i) { return std::string(i.param.name); });

TEST_F(WavTest, MissingFileAndNullPathGiveZero) {
    EXPECT_EQ(m_wav.CheckFile(W("none.wav")), 0);
    EXPECT_EQ(m_wav.GetN(W("none.wav")), 0);
    EXPECT_EQ(m_wav.CheckFile(nullptr), 0);
    EXPECT_EQ(m_wav.GetWaveInfo(nullptr, nullptr), 0);
    EXPECT_EQ(m_wav.GetOffset(nullptr), 0);
    EXPECT_EQ(m_wav.CheckFile(W("")), 0);  // the folder itself is no file
}

TEST_F(WavTest, DataChunkBeyondTheResultsIsNotUsable) {
    // 2^31 bytes of data, of which the file holds all (a sparse file): too big for the 32-bit results.
    Write("big.wav", B().Chunk("fmt ", B::Fmt(1, 1, 8000, 2, 16)).ChunkHeader("data", 0x80000000u).Build());
    ASSERT_EQ(truncate(Path("big.wav").c_str(), 44 + 0x80000000LL), 0);
    EXPECT_NE(m_wav.CheckFile(W("big.wav")), 0);
    EXPECT_EQ(m_wav.GetN(W("big.wav")), 0);
    EXPECT_EQ(m_wav.GetWaveInfo(W("big.wav"), nullptr), 0);
    double left[4] = {7, 7, 7, 7};
    EXPECT_EQ(m_wav.Load(W("big.wav"), 0, 4, left, nullptr), 0);
    EXPECT_EQ(left[0], 7);
    EXPECT_EQ(m_wav.AddSilence(W("big.wav"), 1), -1);
}

TEST(Header, RecordIsTheFileLayout) {
    EXPECT_EQ(sizeof(tagWAVEFILEHEADER2005), 44u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, riffSize), 4u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, fmtSize), 16u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, formatTag), 20u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, sampleRate), 24u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, blockAlign), 32u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, dataId), 36u);
    EXPECT_EQ(offsetof(tagWAVEFILEHEADER2005, dataSize), 40u);
    Covarne2005 w;
    tagWAVEFILEHEADER2005 h;
    w.MakeHeader(&h, 1, 1, 16, 8000);
    EXPECT_EQ(std::memcmp(&h, "RIFF", 4), 0);
    EXPECT_EQ(h.riffId, 0x46464952u);
    EXPECT_EQ(h.waveId, 0x45564157u);
    EXPECT_EQ(h.fmtId, 0x20746D66u);
    EXPECT_EQ(h.dataId, 0x61746164u);
}

struct HeaderCase {
    int frames, channels, bits, rate;
    int blockAlign, byteRate, dataSize, riffSize;
};

TEST(Header, MakeHeaderComputesTheDerivedFields) {
    const HeaderCase cases[] = {
        {100, 2, 16, 44100, 4, 176400, 400, 436},
        {0, 1, 16, 48000, 2, 96000, 0, 36},
        {10, 2, 24, 96000, 6, 576000, 60, 96},
        {10, 1, 12, 8000, 1, 8000, 10, 46},
        {10, 2, 4, 8000, 0, 0, 0, 36},
        {3, 1, 8, 11025, 1, 11025, 3, 39},
    };
    Covarne2005 w;
    for (const HeaderCase& c : cases) {
        tagWAVEFILEHEADER2005 h;
        std::memset(&h, 0xA5, sizeof h);
        w.MakeHeader(&h, c.frames, static_cast<short>(c.channels), static_cast<short>(c.bits), c.rate);
        SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.channels << " ch, " << c.bits << " bits");
        EXPECT_EQ(h.blockAlign, c.blockAlign);
        EXPECT_EQ(h.byteRate, c.byteRate);
        EXPECT_EQ(h.dataSize, c.dataSize);
        EXPECT_EQ(h.riffSize, c.riffSize);
        EXPECT_EQ(h.fmtSize, 16);
        EXPECT_EQ(h.formatTag, 1);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.bitsPerSample, c.bits);
        EXPECT_EQ(h.sampleRate, c.rate);
    }
    tagWAVEFILEHEADER2005 r, m;
    w.ResetHeader(&r);
    w.MakeHeader(&m, 0, 1, 16, 48000);
    EXPECT_EQ(std::memcmp(&r, &m, sizeof r), 0);
    EXPECT_EQ(r.byteRate, 96000);
    w.MakeHeader(nullptr, 1, 1, 16, 8000);  // harmless
}

TEST(Header, Version) {
    Covarne2005 w;
    EXPECT_STREQ(w.GetVersion(true), "100");
    EXPECT_STREQ(w.GetVersion(false), "1.0");
}

// Construction makes the user's default locale the process locale, and keeps the
// current one when the default cannot be built.
TEST(Locale, ConstructionSetsTheUserLocaleOrKeepsTheCurrentOne) {
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved != nullptr ? saved : "";
    std::locale::global(std::locale::classic());

    setenv("LC_ALL", "C.UTF-8", 1);
    { Covarne2005 w; }
    EXPECT_EQ(std::locale().name(), "C.UTF-8");

    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    EXPECT_NO_THROW({ Covarne2005 w; });
    EXPECT_EQ(std::locale().name(), "C.UTF-8");

    if (saved != nullptr)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
    std::locale::global(std::locale::classic());
}

TEST(Object, CopiesOwnTheirBlocksAndWindows) {
    Covarne2005 a;
    Covarne2005 b(a);
    Covarne2005 c;
    c = a;
    Covarne2005& same = c;
    c = same;
    SUCCEED();  // the sanitizer build reports a double release here
}

}  // namespace
}  // namespace wavtest
