// Covarne2005 against independent readers and writers of WAV files: what Save
// writes, sox and Python's wave module read back sample for sample; what sox
// writes, Load delivers as the very samples sox itself decodes.
#include <covarne/Covarne2005.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "KitTestSupport.h"

namespace {

using kittest::Quote;
using kittest::RunShell;
using kittest::TempDir;
using kittest::Wide;

struct Format {
    int bits;
    int channels;
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.bits << " bits, " << f.channels << " ch"; }

std::string FormatName(const ::testing::TestParamInfo<Format>& info) {
    return std::to_string(info.param.bits) + "bit_" + std::to_string(info.param.channels) + "ch";
}

const Format kFormats[] = {{8, 1}, {8, 2}, {16, 1}, {16, 2}};

#define REQUIRE_TOOL(name)                                                      \
    do {                                                                        \
        if (!kittest::HaveTool(name)) GTEST_SKIP() << name " is not installed"; \
    } while (0)

// A signal that passes full scale both ways, with the exact values the
// writing rule has to limit or truncate planted at the start.
std::vector<double> Signal(int frames, double hz, int rate) {
    std::vector<double> x(frames);
    for (int i = 0; i < frames; ++i) x[i] = 1.2 * std::sin(2 * M_PI * hz * i / rate);
    const double planted[] = {1.0, -1.0, 0.5, -0.5, 0.99999, -0.99999, 1.5, -7.0, -0.00001, 0.0};
    for (size_t i = 0; i < sizeof planted / sizeof planted[0] && i < x.size(); ++i) x[i] = planted[i];
    return x;
}

// The stored value of one sample: x × 32760 or x × 127, truncated toward
// zero, limited, and for 8 bits moved up by 128.
int Stored(double x, int bits) {
    const double scale = bits == 16 ? 32760 : 127;
    double v = std::trunc(x * scale);
    v = std::fmax(-scale, std::fmin(scale, v));
    return static_cast<int>(v) + (bits == 8 ? 128 : 0);
}

// The data image the file must hold: interleaved, little-endian.
std::vector<uint8_t> Image(const std::vector<double>& left, const std::vector<double>* right, int bits) {
    std::vector<uint8_t> img;
    for (size_t i = 0; i < left.size(); ++i) {
        for (double x : {left[i], right ? (*right)[i] : 0.0}) {
            int v = Stored(x, bits);
            img.push_back(static_cast<uint8_t>(v & 0xff));
            if (bits == 16) img.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
            if (!right) break;
        }
    }
    return img;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Soxi(const std::string& flag, const std::string& file) {
    std::string out;
    EXPECT_TRUE(RunShell("soxi " + flag + " " + Quote(file), &out)) << "soxi " << flag;
    return out.substr(0, out.find('\n'));
}

// sox's decoding of a file into its own sample encoding, as raw bytes.
std::string SoxRaw(const std::string& file, int bits) {
    std::string out;
    const char* enc = bits == 8 ? "unsigned-integer" : "signed-integer";
    EXPECT_TRUE(
        RunShell("sox -V1 " + Quote(file) + " -t raw -e " + enc + " -b " + std::to_string(bits) + " -L -", &out));
    return out;
}

class SavedFile : public ::testing::TestWithParam<Format> {
protected:
    static constexpr int kRate = 22050;
    static constexpr int kFrames = 1500;

    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        path_ = dir_.File("saved.wav");
        left_ = Signal(kFrames, 441, kRate);
        right_ = Signal(kFrames, 1003, kRate);
        right_[0] = -1.0;  // the two channels must differ from the first frame on
        const Format f = GetParam();
        wav_.Save(Wide(path_).c_str(), left_.data(), f.channels == 2 ? right_.data() : nullptr, kFrames, f.bits, kRate);
        expected_ = Image(left_, f.channels == 2 ? &right_ : nullptr, f.bits);
    }

    TempDir dir_;
    Covarne2005 wav_;
    std::string path_;
    std::vector<double> left_, right_;
    std::vector<uint8_t> expected_;
};

TEST_P(SavedFile, SoxReadsItBack) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("soxi");
    const Format f = GetParam();
    EXPECT_EQ(Soxi("-r", path_), std::to_string(kRate));
    EXPECT_EQ(Soxi("-c", path_), std::to_string(f.channels));
    EXPECT_EQ(Soxi("-b", path_), std::to_string(f.bits));
    EXPECT_EQ(Soxi("-s", path_), std::to_string(kFrames));
    EXPECT_EQ(Bytes(SoxRaw(path_, f.bits)), expected_);
}

TEST_P(SavedFile, PythonWaveReadsItBack) {
    REQUIRE_TOOL("python3");
    const Format f = GetParam();
    const std::string script =
        "import sys, wave\n"
        "w = wave.open(sys.argv[1], 'rb')\n"
        "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\n"
        "print(w.readframes(w.getnframes()).hex())\n";
    std::string out;
    ASSERT_TRUE(RunShell("python3 -c " + Quote(script) + " " + Quote(path_), &out)) << out;
    std::istringstream in(out);
    int channels = 0, width = 0, rate = 0, frames = 0;
    std::string hex;
    in >> channels >> width >> rate >> frames >> hex;
    EXPECT_EQ(channels, f.channels);
    EXPECT_EQ(width, f.bits / 8);
    EXPECT_EQ(rate, kRate);
    EXPECT_EQ(frames, kFrames);
    EXPECT_EQ(FromHex(hex), expected_);
}

INSTANTIATE_TEST_SUITE_P(Formats, SavedFile, ::testing::ValuesIn(kFormats), FormatName);

class SoxFile : public ::testing::TestWithParam<Format> {};

TEST_P(SoxFile, LoadsWhatSoxDecodes) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("soxi");
    const Format f = GetParam();
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.File("sox.wav");
    // Full-scale noise reaches both ends of the range; the sine tells the
    // channels apart. -R keeps the noise the same from run to run.
    ASSERT_TRUE(RunShell("sox -V1 -R -n -r 11025 -c " + std::to_string(f.channels) + " -b " + std::to_string(f.bits) +
                         " " + Quote(path) + " synth 0.2 whitenoise" + (f.channels == 2 ? " sine 440" : "")));

    std::string decoded;
    ASSERT_TRUE(RunShell("sox -V1 " + Quote(path) + " -t raw -e floating-point -b 64 -L -", &decoded));
    const std::string raw = SoxRaw(path, f.bits);
    const int width = f.bits / 8;
    const int n = static_cast<int>(raw.size()) / (width * f.channels);
    ASSERT_GT(n, 1000);
    ASSERT_EQ(decoded.size(), static_cast<size_t>(n) * f.channels * sizeof(double));
    std::vector<double> soxValue(decoded.size() / sizeof(double));
    std::memcpy(soxValue.data(), decoded.data(), decoded.size());  // little-endian host
    auto storedValue = [&](int i) {                                // interleaved sample i as the file stores it
        const auto* p = reinterpret_cast<const uint8_t*>(raw.data()) + i * width;
        return f.bits == 8 ? int(p[0]) : int(int16_t(p[0] | p[1] << 8));
    };

    const std::wstring w = Wide(path);
    Covarne2005 wav;
    EXPECT_EQ(std::to_string(wav.GetSr(w.c_str())), Soxi("-r", path));
    EXPECT_EQ(std::to_string(wav.GetCh(w.c_str())), Soxi("-c", path));
    EXPECT_EQ(std::to_string(wav.GetBits(w.c_str())), Soxi("-b", path));
    EXPECT_EQ(std::to_string(wav.GetN(w.c_str())), Soxi("-s", path));
    ASSERT_EQ(wav.GetN(w.c_str()), n);

    // The whole file and a range from its middle, as doubles and as integers.
    const int ranges[][2] = {{0, n}, {n / 3, 257}};
    for (const auto& r : ranges) {
        const int start = r[0], count = r[1];
        SCOPED_TRACE("start " + std::to_string(start) + " count " + std::to_string(count));
        std::vector<double> dl(count), dr(count);
        std::vector<short> sl(count), sr(count);
        ASSERT_EQ(wav.Load(w.c_str(), start, count, dl.data(), dr.data()), count * width * f.channels);
        ASSERT_EQ(wav.Load(w.c_str(), start, count, sl.data(), sr.data()), count * width * f.channels);
        int mismatches = 0;
        for (int i = 0; i < count; ++i) {
            for (int c = 0; c < f.channels; ++c) {
                const int k = (start + i) * f.channels + c;
                const double d = c == 0 ? dl[i] : dr[i];
                const int s = c == 0 ? sl[i] : sr[i];
                if (d != soxValue[k] || s != storedValue(k)) {
                    if (++mismatches <= 5)
                        ADD_FAILURE() << "frame " << start + i << " channel " << c << ": Load gives " << d << " / " << s
                                      << ", sox " << soxValue[k] << " / " << storedValue(k);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SoxFile, ::testing::ValuesIn(kFormats), FormatName);

}  // namespace
