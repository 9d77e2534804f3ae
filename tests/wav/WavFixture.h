// Helpers for the WAV tests: a private temporary folder per test, wide paths,
// and a builder for odd files byte by byte.
#ifndef TESTS_WAV_WAVFIXTURE_H
#define TESTS_WAV_WAVFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "covarne/Covarne2005.h"

namespace wavtest {

using Bytes = std::vector<unsigned char>;

// Builds a RIFF/WAVE file chunk by chunk.
class WavBuilder {
public:
    // "RIFF" <size> "WAVE"; the size is filled in by Bytes() unless set by RiffSize().
    WavBuilder& Chunk(const char* id, const Bytes& body, bool pad = true);
    // A chunk header whose size field says `size`, whatever follows.
    WavBuilder& ChunkHeader(const char* id, std::uint32_t size);
    WavBuilder& Raw(const Bytes& bytes);
    WavBuilder& RiffSize(std::uint32_t size);
    Bytes Build() const;

    // A fmt body: tag, channels, rate, block align, bits (byte rate = rate * align),
    // padded to `size` bytes (16, 17, 18, 40, ...).
    static Bytes Fmt(int tag, int channels, int rate, int blockAlign, int bits, int size = 16);
    static Bytes Extensible(int channels, int rate, int bits, bool pcm);
    static Bytes Samples16(const std::vector<int>& values);

private:
    Bytes m_body;
    bool m_fixedSize = false;
    std::uint32_t m_riffSize = 0;
};

void Put16(Bytes& b, int v);
void Put32(Bytes& b, std::uint32_t v);
std::uint32_t Get32(const Bytes& b, size_t at);
int Get16(const Bytes& b, size_t at);
// The 16-bit samples of a file from `offset` on.
std::vector<int> Data16(const Bytes& b, size_t offset = 44);

// A fresh folder under the system's temporary directory, removed afterwards.
class WavTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // Wide form of Path(name); the storage lives as long as the test.
    wchar_t* W(const std::string& name);
    void Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // A 16-bit file of the given frames, via the builder (one or two channels).
    void Write16(const std::string& name, const std::vector<int>& samples, int channels = 1, int rate = 48000);

    std::string m_dir;
    std::deque<std::wstring> m_wide;  // stable addresses for W()
    Covarne2005 m_wav;
};

// WavTest with TMPDIR pointed at a folder of the test, so that the temporary files
// of edits can be seen.
class TempDirTest : public WavTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::string> TempFiles() const;

    bool m_hadTmp = false;
    std::string m_oldTmp;
};

}  // namespace wavtest

#endif
