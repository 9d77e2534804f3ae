// Arbitrary bytes, written as a file, go through every member of Covarne2005
// that reads a file. Besides the sanitizers' own checks, the harness aborts
// when a result breaks a promise the class makes about any input: counts are
// never negative, a usable file's frames lie inside the file, a load never
// claims more bytes than it was asked for.
#include <covarne/Covarne2005.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzCheck.h"

namespace {

// Arrays handed to Load are never larger than this many frames, so a broken
// frame count shows up as a failed check instead of a huge allocation.
constexpr int kMaxFrames = 1 << 20;

struct Scratch {
    std::string narrow;
    std::wstring wide;

    Scratch() {
        const char* dir = std::getenv("TMPDIR");
        narrow = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_wav_read." + std::to_string(::getpid()) + ".wav";
        wide.assign(narrow.begin(), narrow.end());  // the temp path is ASCII
    }
    ~Scratch() { std::remove(narrow.c_str()); }

    bool Write(const uint8_t* data, size_t size) const {
        FILE* f = std::fopen(narrow.c_str(), "wb");
        if (!f) return false;
        bool ok = std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && ok;
    }
};

template <typename T>
void LoadRange(Covarne2005& wav, const wchar_t* path, int start, int count, int frames, int blockAlign) {
    // Exactly `count` elements each, so that ASan sees any write past them.
    size_t len = count > 0 ? static_cast<size_t>(count) : 1;
    std::vector<T> left(len), right(len);
    int got = wav.Load(path, start, count, left.data(), right.data());
    FUZZ_CHECK(got >= 0);
    if (count <= 0 || start < 0 || start >= frames) FUZZ_CHECK(got == 0);
    if (got > 0) {
        FUZZ_CHECK(static_cast<int64_t>(got) <= static_cast<int64_t>(count) * blockAlign);
    }
    got = wav.Load(path, start, count, left.data(), static_cast<T*>(nullptr));
    FUZZ_CHECK(got >= 0);
}

void Run(Covarne2005& wav, const Scratch& file, size_t size) {
    const wchar_t* wpath = file.wide.c_str();
    const char* npath = file.narrow.c_str();
    const int64_t fileSize = static_cast<int64_t>(size);

    wav.CheckFile(wpath);

    tagWAVEFILEHEADER2005 hdr{};
    const int offset = wav.GetWaveInfo(wpath, &hdr);
    const int sr = wav.GetSr(wpath);
    const int ch = wav.GetCh(wpath);
    const int bits = wav.GetBits(wpath);
    const int n = wav.GetN(wpath);
    FUZZ_CHECK(offset >= 0);
    FUZZ_CHECK(n >= 0);
    if (offset == 0) {
        FUZZ_CHECK(sr == 0 && ch == 0 && bits == 0 && n == 0);
    } else {
        // A usable file: the canonical record matches the queries.
        FUZZ_CHECK(hdr.sampleRate == sr && hdr.channels == ch && hdr.bitsPerSample == bits);
        FUZZ_CHECK(static_cast<int64_t>(n) * hdr.blockAlign == hdr.dataSize);
    }

    const int blockAlign = offset > 0 ? hdr.blockAlign : 0;
    const int span = std::min(n, kMaxFrames - 8);
    const int ranges[][2] = {
        {0, span},     {0, span + 3}, {span / 2, 7}, {span - 1, 2}, {span, 1},
        {span + 1, 1}, {-1, 4},       {0, 0},        {0, -5},       {3, 1},
    };
    if (span == n && n > 0) {
        // Loading every frame: what is delivered are bytes the file really holds.
        std::vector<short> left(static_cast<size_t>(n)), right(static_cast<size_t>(n));
        const int got = wav.Load(wpath, 0, n, left.data(), right.data());
        if (got > 0) {
            FUZZ_CHECK(got == static_cast<int64_t>(n) * blockAlign);
            FUZZ_CHECK(offset + static_cast<int64_t>(got) <= fileSize);
        }
    }
    for (const auto& r : ranges) {
        LoadRange<double>(wav, wpath, r[0], r[1], n, blockAlign);
        LoadRange<short>(wav, wpath, r[0], r[1], n, blockAlign);
    }

    std::wstring mountPath = file.wide;
    if (wav.Mount(mountPath.data())) {
        FUZZ_CHECK(offset > 0);
        const int indices[] = {0, n - 1, n, -1, n / 2, n - 2, 1};
        for (int i : indices) {
            for (short c : {short(0), short(1), short(2)}) wav.GetValue(i, c);
        }
        FUZZ_CHECK(wav.GetValue(n, 0) == 0.0 && wav.GetValue(-1, 0) == 0.0);
        FUZZ_CHECK(!wav.Mount(mountPath.data()));
        wav.UnMount();
    }
    FUZZ_CHECK(wav.GetValue(0, 0) == 0.0);

    const int rawOffset = wav.GetOffset(npath);
    FUZZ_CHECK(rawOffset == offset);
    FUZZ_CHECK(wav.GetHeaderSz(npath) == offset);
    const int imgSize = wav.GetImgSz(npath);
    FUZZ_CHECK(imgSize == (offset > 0 ? hdr.dataSize : 0));
    FUZZ_CHECK(imgSize >= 0);

    std::vector<unsigned char> dst(std::max<size_t>(size, 44) + 16);
    wav.GetHeader(npath, dst.data(), static_cast<int>(dst.size()));
    wav.GetHeader(npath, dst.data(), 44);
    wav.GetImg(npath, dst.data(), static_cast<int>(dst.size()));
    if (imgSize > 0) {
        // A record whose block align is larger than the stored one announces
        // more bytes than the file holds; the copy is capped to stay quick.
        const int want = std::min(imgSize, 1 << 20);
        std::vector<unsigned char> img(static_cast<size_t>(want));
        wav.GetImg(npath, img.data(), want);
    }
    // A negative size must write nothing: the canary byte stays.
    unsigned char canary = 0x5a;
    wav.GetHeader(npath, &canary, -1);
    wav.GetImg(npath, &canary, -1);
    FUZZ_CHECK(canary == 0x5a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One object and one scratch file for the whole process: constructing the
    // object allocates its two work blocks, far slower than a typical input.
    static Covarne2005 wav;
    static const Scratch file;
    if (!file.Write(data, size)) return 0;
    Run(wav, file, size);
    return 0;
}
