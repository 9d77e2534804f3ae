#include "WavFixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace wavtest {

void Put16(Bytes& b, int v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

int Get16(const Bytes& b, size_t at) { return static_cast<std::int16_t>(b[at] | b[at + 1] << 8); }

std::vector<int> Data16(const Bytes& b, size_t offset) {
    std::vector<int> v;
    for (size_t i = offset; i + 1 < b.size(); i += 2) v.push_back(Get16(b, i));
    return v;
}

WavBuilder& WavBuilder::Chunk(const char* id, const Bytes& body, bool pad) {
    ChunkHeader(id, static_cast<std::uint32_t>(body.size()));
    Raw(body);
    if (pad && body.size() % 2 != 0) m_body.push_back(0);
    return *this;
}

WavBuilder& WavBuilder::ChunkHeader(const char* id, std::uint32_t size) {
    m_body.insert(m_body.end(), id, id + 4);
    Put32(m_body, size);
    return *this;
}

WavBuilder& WavBuilder::Raw(const Bytes& bytes) {
    m_body.insert(m_body.end(), bytes.begin(), bytes.end());
    return *this;
}

WavBuilder& WavBuilder::RiffSize(std::uint32_t size) {
    m_fixedSize = true;
    m_riffSize = size;
    return *this;
}

Bytes WavBuilder::Build() const {
    Bytes out{'R', 'I', 'F', 'F'};
    Put32(out, m_fixedSize ? m_riffSize : static_cast<std::uint32_t>(m_body.size() + 4));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), m_body.begin(), m_body.end());
    return out;
}

Bytes WavBuilder::Fmt(int tag, int channels, int rate, int blockAlign, int bits, int size) {
    Bytes b;
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, static_cast<std::uint32_t>(rate));
    Put32(b, static_cast<std::uint32_t>(rate * blockAlign));
    Put16(b, blockAlign);
    Put16(b, bits);
    b.resize(static_cast<size_t>(size), 0);
    return b;
}

Bytes WavBuilder::Extensible(int channels, int rate, int bits, bool pcm) {
    Bytes b = Fmt(0xFFFE, channels, rate, channels * bits / 8, bits, 18);
    b[16] = 22;  // extension size
    Put16(b, bits);
    Put32(b, channels == 2 ? 3 : 4);
    const unsigned char sub[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), sub, sub + 16);
    if (!pcm) b[24] = 3;  // float sub-format
    return b;
}

Bytes WavBuilder::Samples16(const std::vector<int>& values) {
    Bytes b;
    for (int v : values) Put16(b, v);
    return b;
}

void WavTest::SetUp() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/covarne-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    m_dir = buf.data();
}

void WavTest::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

// UTF-8 to wide characters (UTF-32), for the test's own names.
wchar_t* WavTest::W(const std::string& name) {
    const std::string s = Path(name);
    std::wstring w;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned long v = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int k = 1; k < n; ++k) v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        w.push_back(static_cast<wchar_t>(v));
        i += n;
    }
    m_wide.push_back(w);
    return &m_wide.back()[0];
}

void WavTest::Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

Bytes WavTest::Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary | std::ios::ate);
    if (!in) return Bytes();
    Bytes b(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
}

bool WavTest::Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

void WavTest::Write16(const std::string& name, const std::vector<int>& samples, int channels, int rate) {
    Write(name, WavBuilder()
                    .Chunk("fmt ", WavBuilder::Fmt(1, channels, rate, 2 * channels, 16))
                    .Chunk("data", WavBuilder::Samples16(samples))
                    .Build());
}

void TempDirTest::SetUp() {
    WavTest::SetUp();
    const char* old = std::getenv("TMPDIR");
    m_hadTmp = old != nullptr;
    if (m_hadTmp) m_oldTmp = old;
    std::filesystem::create_directory(Path("tmp"));
    setenv("TMPDIR", Path("tmp").c_str(), 1);
}

void TempDirTest::TearDown() {
    if (m_hadTmp)
        setenv("TMPDIR", m_oldTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    WavTest::TearDown();
}

std::vector<std::string> TempDirTest::TempFiles() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Path("tmp"))) names.push_back(e.path().filename());
    return names;
}

}  // namespace wavtest
