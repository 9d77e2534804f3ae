// Every edit of Covarne2005 runs on a fresh copy of arbitrary bytes. The first
// kControl bytes of an input choose the arguments (range, counts, a mismatching
// channel count or depth, a missing file); the rest is the file. After an edit
// that does not answer -1 the harness aborts unless the file's header agrees
// with its length, every frame outside the edited range is unchanged and what
// followed the data still follows it; after
// any edit no temporary file may be left in the private temporary folder.
#include <covarne/Covarne2005.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "FuzzCheck.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kControl = 8;
constexpr int kMaxNew = 64;  // frames handed to the sample-writing edits

std::uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Scratch {
    std::string dir, narrow;
    std::wstring wide;

    Scratch() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/fuzz_wav_edit.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) std::abort();
        dir = buf.data();
        ::mkdir((dir + "/tmp").c_str(), 0700);
        // The edits' temporary files go to a folder of their own, watched below.
        ::setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
        narrow = dir + "/f.wav";
        wide.assign(narrow.begin(), narrow.end());  // the scratch path is ASCII
    }
    ~Scratch() {
        std::remove(narrow.c_str());
        ::rmdir((dir + "/tmp").c_str());
        ::rmdir(dir.c_str());
    }

    void Put(const Bytes& bytes) const {
        std::remove(narrow.c_str());
        FILE* f = std::fopen(narrow.c_str(), "wb");
        if (f == nullptr) std::abort();
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) != 0 || !ok) std::abort();
    }
    Bytes Get() const {
        Bytes b;
        FILE* f = std::fopen(narrow.c_str(), "rb");
        if (f == nullptr) return b;
        unsigned char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
        return b;
    }
    bool TempFolderEmpty() const {
        DIR* d = ::opendir((dir + "/tmp").c_str());
        if (d == nullptr) return false;
        bool empty = true;
        while (const dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                empty = false;
                std::remove((dir + "/tmp/" + e->d_name).c_str());
            }
        }
        ::closedir(d);
        return empty;
    }
};

// What the library makes of a file: its usable view and its whole-frame image.
struct View {
    bool usable = false;
    std::uint32_t stored = 0, riff = 0;  // the header's data and RIFF size fields
    int offset = 0, frames = 0, align = 0, channels = 0, bits = 0, rate = 0;
    long long length = 0;
    Bytes image;  // frames * align bytes from the data offset

    const unsigned char* Frame(int i) const { return image.data() + static_cast<size_t>(i) * align; }
};

View Inspect(Covarne2005& wav, const Scratch& s) {
    View v;
    const Bytes b = s.Get();
    v.length = static_cast<long long>(b.size());
    tagWAVEFILEHEADER2005 h{};
    v.offset = wav.GetWaveInfo(s.wide.c_str(), &h);
    if (v.offset == 0 || h.blockAlign <= 0) return v;
    // The record's frames lie inside the file unless the stored block align is not the
    // canonical one (a file the edits refuse, left out here).
    if (h.dataSize > 0 && static_cast<long long>(v.offset) + h.dataSize > v.length) return v;
    v.usable = true;
    // A file without a data chunk has an offset past its end and no stored data size.
    v.stored = static_cast<size_t>(v.offset) <= b.size() ? Le32(b, static_cast<size_t>(v.offset) - 4) : 0;
    v.riff = Le32(b, 4);
    v.frames = h.dataSize / h.blockAlign;
    v.align = h.blockAlign;
    v.channels = h.channels;
    v.bits = h.bitsPerSample;
    v.rate = h.sampleRate;
    if (h.dataSize == 0) return v;
    v.image.assign(b.begin() + v.offset, b.begin() + v.offset + h.dataSize);
    return v;
}

enum Edit { kSaveAdd, kAddSilence, kSaveOW, kMakeSilence, kSaveSr, kInsert, kDelete, kSaveRep, kSave, kEdits };

struct Args {
    bool missing, wrongChannels, wrongBits, negative;
    int start, count, newFrames;
};

// Frame i of the result must be frame j of the original (or zeros when j < 0).
struct Expect {
    int frames;
    // Frames [0, keep) unchanged; [moveTo, frames) are the original's [moveFrom, ...);
    // [zeroFrom, zeroTo) silent. Everything else was written by the edit.
    int keep, moveTo, moveFrom, zeroFrom, zeroTo;
};

// The file after an edit that reported `result`: a header that tells the truth, the
// frames outside the edited range where they belong, and whatever followed the data
// chunk still after it, byte for byte (`movesCues`: cue points there may have moved).
void CheckAfter(Covarne2005& wav, const Scratch& s, const View& before, const Bytes& raw, const Expect& e, int result,
                bool movesCues) {
    const View after = Inspect(wav, s);
    FUZZ_CHECK(after.usable);
    FUZZ_CHECK(result == e.frames && after.frames == e.frames);
    FUZZ_CHECK(after.align == before.align && after.offset == before.offset);
    const long long dataSize = static_cast<long long>(e.frames) * after.align;
    FUZZ_CHECK(after.stored == dataSize);
    FUZZ_CHECK(after.riff == after.length - 8);
    // What follows the data chunk (and its pad byte) is what ended the old file.
    const Bytes b = s.Get();
    const long long end = std::min<long long>(after.length, after.offset + dataSize + (dataSize & 1));
    const long long suffix = after.length - end;
    FUZZ_CHECK(suffix <= before.length);
    static const char kCue[] = "cue ";
    const bool cues = movesCues && std::search(raw.begin(), raw.end(), kCue, kCue + 4) != raw.end();
    if (!cues) FUZZ_CHECK(std::equal(b.end() - suffix, b.end(), raw.end() - suffix));
    const size_t a = static_cast<size_t>(after.align);
    for (int i = 0; i < e.frames; ++i) {
        if (i < e.keep && i < before.frames) {
            FUZZ_CHECK(std::memcmp(after.Frame(i), before.Frame(i), a) == 0);
        } else if (i >= e.moveTo && i - e.moveTo + e.moveFrom < before.frames) {
            FUZZ_CHECK(std::memcmp(after.Frame(i), before.Frame(i - e.moveTo + e.moveFrom), a) == 0);
        } else if (i >= e.zeroFrom && i < e.zeroTo) {
            for (size_t k = 0; k < a; ++k) FUZZ_CHECK(after.Frame(i)[k] == 0);
        }
    }
}

void RunEdit(Covarne2005& wav, const Scratch& s, const Bytes& file, Edit edit, const Args& g, std::vector<double>& left,
             std::vector<double>& right) {
    if (g.missing)
        std::remove(s.narrow.c_str());
    else
        s.Put(file);
    const View before = g.missing ? View() : Inspect(wav, s);
    const Bytes raw = s.Get();
    std::wstring path = s.wide;
    wchar_t* p = path.data();

    // The caller's layout: the file's own, unless the input asks for a mismatch.
    int channels = before.usable && (before.channels == 1 || before.channels == 2) ? before.channels : 1;
    if (g.wrongChannels) channels = 3 - channels;
    short bits = static_cast<short>(before.usable ? before.bits : 16);
    if (g.wrongBits) bits = static_cast<short>(bits == 16 ? 8 : 16);
    double* r = channels == 2 ? right.data() : nullptr;
    const int start = g.negative ? -1 - g.start : g.start;
    const int n = before.frames;
    const int rate = 8000;

    int result = -1;
    Expect e{};
    bool movesCues = false;
    switch (edit) {
        case kSaveAdd:
            result = wav.SaveAdd(p, left.data(), r, g.count, rate, bits);
            e = {n + g.count, n, INT32_MAX, 0, 0, 0};
            break;
        case kAddSilence:
            result = wav.AddSilence(p, g.count);
            e = {n + g.count, n, INT32_MAX, 0, n, n + g.count};
            break;
        case kSaveOW:
        case kMakeSilence: {
            result = edit == kSaveOW ? wav.SaveOW(p, left.data(), r, start, g.count, rate, bits)
                                     : wav.MakeSilence(p, start, g.count, static_cast<short>(channels), rate, bits);
            const int end = start + g.count;
            e = {std::max(n, end), start, end, end, n, start};
            if (edit == kMakeSilence) e.zeroTo = end;
            break;
        }
        case kSaveSr: {
            result = wav.SaveSr(p, g.count + 1);
            FUZZ_CHECK((result == -1) == (wav.GetLastError(nullptr, 0) != 0));
            FUZZ_CHECK(s.TempFolderEmpty());
            const Bytes b = s.Get();
            FUZZ_CHECK(b.size() == raw.size());
            if (result == -1) {
                FUZZ_CHECK(b == raw);
                return;
            }
            // Only the rate and the byte rate change: 8 bytes at most, side by side.
            FUZZ_CHECK(before.usable && result == before.rate && wav.GetSr(p) == g.count + 1);
            size_t first = b.size(), last = 0;
            for (size_t i = 0; i < b.size(); ++i)
                if (b[i] != raw[i]) first = std::min(first, i), last = i;
            FUZZ_CHECK(first == b.size() || last - first < 8);
            return;
        }
        case kInsert:
            result = wav.Insert(p, start, g.count);
            if (start < n)
                e = {n + g.count, start, start + g.count, start, start, start + g.count}, movesCues = true;
            else
                e = {start + g.count, n, INT32_MAX, 0, n, start + g.count};
            break;
        case kDelete:
            result = wav.Delete(p, start, g.count);
            e = {start + g.count > n ? start : n - g.count, start, start, start + g.count, 0, 0};
            movesCues = true;
            break;
        case kSaveRep: {
            result = wav.SaveRep(p, left.data(), r, start, g.count, g.newFrames, rate, bits);
            if (g.count != g.newFrames) {
                const int oldEnd = std::min(start + g.count, n);
                const int tail = std::max(0, n - oldEnd);
                e = {start + g.newFrames + tail, start, start + g.newFrames, start + g.count, 0, 0};
                if (start >= n) e = {start + g.newFrames, n, INT32_MAX, 0, n, start};
                movesCues = true;
            } else {
                const int end = start + g.newFrames;
                e = {std::max(n, end), start, end, end, n, start};
            }
            break;
        }
        case kSave: {
            wav.Save(s.wide.c_str(), left.data(), r, g.count, bits, rate);
            const Bytes b = s.Get();
            if (bits == 8 || bits == 16) {
                const long long size = 44 + static_cast<long long>(g.count) * (bits / 8) * channels;
                FUZZ_CHECK(static_cast<long long>(b.size()) == size);
                const View v = Inspect(wav, s);
                FUZZ_CHECK(v.usable && v.frames == g.count);
            } else {
                FUZZ_CHECK(b == raw);
            }
            FUZZ_CHECK(s.TempFolderEmpty());
            return;
        }
        case kEdits:
            break;
    }
    // A refusal says why; a success leaves no reason behind.
    wchar_t text[8];
    const int code = wav.GetLastError(text, 8);
    FUZZ_CHECK(result == -1 ? code > 0 : code == 0);
    FUZZ_CHECK(std::wcslen(text) < 8);
    FUZZ_CHECK(s.TempFolderEmpty());
    if (result == -1) {
        // A refusal before the file is touched: it is as it was. (Without faults of
        // the file system, nothing else can fail part-way here.)
        FUZZ_CHECK(s.Get() == raw);
        return;
    }
    FUZZ_CHECK(result >= 0);
    // A negative start is refused by every edit that takes one.
    FUZZ_CHECK(!g.negative || edit == kSaveAdd || edit == kAddSilence);
    if (g.missing) {
        const View v = Inspect(wav, s);
        FUZZ_CHECK(v.usable && v.frames == result);
        return;
    }
    FUZZ_CHECK(before.usable);
    CheckAfter(wav, s, before, raw, e, result, movesCues);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One object and one scratch folder for the whole process: constructing the
    // object allocates its two work blocks, far slower than a typical input.
    static Covarne2005 wav;
    static const Scratch scratch;
    if (size < kControl) return 0;
    const Bytes file(data + kControl, data + size);
    const uint8_t* c = data;

    // The frames the file holds bound the range, so that most ranges hit it.
    std::vector<double> left(kMaxNew), right(kMaxNew);
    for (int i = 0; i < kMaxNew; ++i) {
        const size_t at = kControl + static_cast<size_t>(i) % (file.empty() ? 1 : file.size());
        const double x = file.empty() ? 0.0 : (static_cast<int>(data[at]) - 128) / 100.0;
        left[static_cast<size_t>(i)] = x;
        right[static_cast<size_t>(i)] = -x;
    }
    scratch.Put(file);
    const int n = std::max(0, wav.GetN(scratch.wide.c_str()));

    for (int edit = 0; edit < kEdits; ++edit) {
        const uint8_t flags = static_cast<uint8_t>(c[0] >> (edit % 4) | c[0] << (8 - edit % 4));
        Args g;
        g.missing = (flags & 0x0F) == 0x0F;
        g.wrongChannels = (flags & 0x30) == 0x30;
        g.wrongBits = (flags & 0xC0) == 0xC0;
        g.negative = (c[1] & 0xF0) == 0xF0 && (c[1] >> (edit % 4) & 1) != 0;
        g.start = static_cast<int>((c[2] | c[3] << 8) % static_cast<unsigned>(n + 8));
        g.count = c[4 + edit % 3] % kMaxNew;
        g.newFrames = c[7] % kMaxNew;
        RunEdit(wav, scratch, file, static_cast<Edit>(edit), g, left, right);
    }
    return 0;
}
