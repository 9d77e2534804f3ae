// Every edit under failures of the file system: the k-th call of the file layer
// fails, for every k until the edit completes, and once a real limit of the
// kernel (RLIMIT_FSIZE) stops a write part-way. After each failure the result is
// -1, the header agrees with what the file holds, every frame the edit was not
// asked to replace is at its place (old or, under the new header, new) or in the
// kept temporary file, and a temporary file is kept only when it has to be.
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "WavFixture.h"
#include "platform/FileLayer.h"

namespace wavtest {
namespace {

namespace faults = covarne::platform::faults;

constexpr int kFrames = 260000;  // 16-bit stereo: a tail of more than one 1,000,000-byte work block
constexpr int kAlign = 4;
constexpr int kNew = 1000;  // frames the sample-writing edits bring

struct EditCase {
    const char* name;
    bool missing;                   // the path names nothing before the edit
    int frames;                     // the frame count after a complete edit
    int tailFrom;                   // first original frame a kept temporary file holds (-1: none is made)
    std::function<int(int)> place;  // new index of original frame i, -1 when the edit replaces it
    std::function<int(Covarne2005&, wchar_t*, double*, double*)> run;
    long long limit;  // a file-size limit that stops one of its writes (part-way where it grows the file)
};

const int S = 1000;  // edit point of the moving edits

std::vector<EditCase> Cases() {
    constexpr int n = kFrames;
    auto same = [](int i) { return i; };
    return {
        {"SaveAdd", false, n + kNew, -1, same,
         [](Covarne2005& w, wchar_t* p, double* l, double* r) { return w.SaveAdd(p, l, r, kNew, 8000, 16); },
         44 + 4LL * n + 1000},
        {"SaveAdd on a missing path", true, kNew, -1, same,
         [](Covarne2005& w, wchar_t* p, double* l, double* r) { return w.SaveAdd(p, l, r, kNew, 8000, 16); }, 2000},
        {"AddSilence", false, n + 300000, -1, same,
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.AddSilence(p, 300000); }, 44 + 4LL * n + 500000},
        {"SaveOW past the end", false, n + kNew / 2, -1, [](int i) { return i >= n - kNew / 2 ? -1 : i; },
         [](Covarne2005& w, wchar_t* p, double* l, double* r) {
             return w.SaveOW(p, l, r, n - kNew / 2, kNew, 8000, 16);
         },
         44 + 4LL * n + 1000},
        {"SaveOW on a missing path", true, 10 + kNew, -1, same,
         [](Covarne2005& w, wchar_t* p, double* l, double* r) { return w.SaveOW(p, l, r, 10, kNew, 8000, 16); }, 2000},
        {"MakeSilence", false, n, -1, [](int i) { return i >= 5000 && i < 5000 + 2 * kNew ? -1 : i; },
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.MakeSilence(p, 5000, 2 * kNew, 2, 8000, 16); },
         44 + 4LL * 5500},
        {"MakeSilence past the end", false, n + 400000, -1, same,
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.MakeSilence(p, n + 5, 399995, 2, 8000, 16); },
         44 + 4LL * n + 600000},
        {"MakeSilence on a missing path", true, 300000, -1, same,
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.MakeSilence(p, 290000, 10000, 2, 8000, 16); },
         500000},
        {"SaveSr", false, n, -1, same,  // its result is the old rate
         [](Covarne2005& w, wchar_t* p, double*, double*) {
             const int r = w.SaveSr(p, 44100);
             return r == 8000 ? n : r == -1 ? -1 : -2;
         },
         20},
        {"Insert", false, n + 3000, S, [](int i) { return i < S ? i : i + 3000; },
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.Insert(p, S, 3000); }, 44 + 4LL * n + 6000},
        {"Delete", false, n - 3000, S + 3000, [](int i) { return i < S          ? i
                                                                 : i < S + 3000 ? -1
                                                                                : i - 3000; },
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.Delete(p, S, 3000); }, 500000},
        {"Delete to the end", false, S, -1, [](int i) { return i < S ? i : -1; },
         [](Covarne2005& w, wchar_t* p, double*, double*) { return w.Delete(p, S, n); }, 4},
        {"SaveRep longer", false, n + kNew - 100, S + 100,
         [](int i) { return i < S         ? i
                            : i < S + 100 ? -1
                                          : i - 100 + kNew; },
         [](Covarne2005& w, wchar_t* p, double* l, double* r) { return w.SaveRep(p, l, r, S, 100, kNew, 8000, 16); },
         44 + 4LL * n + 1000},
        {"SaveRep shorter", false, n - kNew + 100, S + kNew - 100,
         [](int i) { return i < S          ? i
                            : i < S + kNew ? -1
                                           : i - kNew + 100; },
         [](Covarne2005& w, wchar_t* p, double* l, double* r) { return w.SaveRep(p, l, r, S, kNew, 100, 8000, 16); },
         500000},
    };
}

class FaultTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::vector<int> v(2 * kFrames);
        for (int i = 0; i < kFrames; ++i) {
            v[2 * i] = static_cast<std::int16_t>(i * 7 + 1);
            v[2 * i + 1] = static_cast<std::int16_t>(-i * 13 - 1);
        }
        Write16("orig.wav", v, 2, 8000);
        m_orig = Read("orig.wav");
        for (int i = 0; i < kNew; ++i) {
            m_left[i] = 0.5 * std::sin(i * 0.01);
            m_right[i] = -0.25;
        }
    }
    void TearDown() override {
        faults::Arm(0);
        faults::KernelCopy(true);
        TempDirTest::TearDown();
    }
    void Prepare(const EditCase& c) {
        std::filesystem::remove(Path("a.wav"));
        if (!c.missing) Write("a.wav", m_orig);
    }
    bool OrigFrameAt(const Bytes& b, size_t at, int i) const {
        return at + kAlign <= b.size() && std::memcmp(b.data() + at, m_orig.data() + 44 + 4LL * i, kAlign) == 0;
    }

    // The state after an edit that failed (`result` -1) or completed despite the fault
    // of call `failed` ("" for a failure of the kernel).
    void CheckAfter(const EditCase& c, int result, const std::string& failed) {
        const Bytes b = Read("a.wav");
        const std::vector<std::string> temps = TempFiles();
        ASSERT_LE(temps.size(), 1u);
        if (result != -1) {
            // Only a failure to remove or close the temporary file at the very end lets the edit complete.
            EXPECT_TRUE(failed == "Remove" || failed == "Close") << failed;
            EXPECT_EQ(result, c.frames);
        }
        if (c.missing) {
            // A file the edit created and could not complete does not stay.
            if (result == -1) {
                EXPECT_FALSE(Exists("a.wav"));
            }
            EXPECT_TRUE(temps.empty());
            return;
        }
        // The header: usable, and it counts only frames that are at their places: the
        // old layout, the new one, or (while frames move) just those before the edit point.
        ASSERT_GE(b.size(), 44u);
        ASSERT_EQ(m_wav.GetWaveInfo(W("a.wav"), nullptr), 44);
        const std::uint32_t stored = Get32(b, 40);
        EXPECT_EQ(stored % kAlign, 0u);
        EXPECT_LE(44 + stored, b.size());
        const int count = static_cast<int>(stored / kAlign);
        const int editAt = c.tailFrom >= 0 ? S : -1;
        EXPECT_TRUE(count == kFrames || count == c.frames || count == editAt) << count;
        const bool newLayout = count == c.frames && count != kFrames;
        const bool shrunk = count != kFrames && count != c.frames;
        if (result != -1) {
            EXPECT_EQ(Get32(b, 4), b.size() - 8);
        }

        Bytes kept;
        if (!temps.empty()) kept = Read("tmp/" + temps[0]);
        // Frame i of the original at byte `at` of the file.
        auto at = [&](int i, long long place) { return place >= 0 && OrigFrameAt(b, 44 + 4 * place, i); };
        bool allInPlace = !shrunk;
        int lost = -1;
        for (int i = 0; i < kFrames && lost < 0; ++i) {
            const int to = c.place(i);
            if (to < 0) continue;
            // Counted frames must be at their places; frames past a shrunk header's count
            // may be at either place while they move.
            const int where = newLayout ? to : i;
            // A run of frames that moves as one and is in place is checked at once.
            const int run = std::min(4096, kFrames - i), last = c.place(i + run - 1);
            if (!shrunk && last - to == run - 1 && where + run <= count &&
                std::memcmp(b.data() + 44 + 4LL * where, m_orig.data() + 44 + 4LL * i, 4LL * run) == 0) {
                i += run - 1;
                continue;
            }
            if (!shrunk || i < count) {
                if (where < count && at(i, where)) continue;
            } else if (at(i, i) || at(i, to)) {
                continue;
            }
            allInPlace = false;
            if (c.tailFrom < 0 || i < c.tailFrom || !OrigFrameAt(kept, 4LL * (i - c.tailFrom), i)) lost = i;
        }
        EXPECT_EQ(lost, -1) << "frame " << lost << " is neither in the file nor in a kept temporary file";
        // A temporary file stays only while the file may lack frames it holds. The edit
        // cannot always tell: after a failed write to the file (how much of it got stored
        // is not known), a failed read while copying the frames back (the copier does not
        // say whether it had written yet), a failed close (the system may not have stored
        // the data); and the system may refuse to remove it.
        if (allInPlace && failed != "Remove" && failed != "Write" && failed != "Read" && failed != "CopyRange" &&
            (failed != "Close" || result != -1)) {
            EXPECT_TRUE(temps.empty());
        }
        for (const auto& t : temps) {
            EXPECT_EQ(t.substr(0, 3), "WAV");
            std::filesystem::remove(Path("tmp/" + t));
        }
    }

    Bytes m_orig;
    double m_left[kNew], m_right[kNew];
};

// The k-th call of the file layer fails, for every k until the edit completes;
// with the kernel's copy of file ranges and with the copy buffer alone.
TEST_F(FaultTest, EveryFailingCallLeavesAConsistentFile) {
    for (const bool kernel : {true, false}) {
        faults::KernelCopy(kernel);
        for (const EditCase& c : Cases()) {
            SCOPED_TRACE(std::string(c.name) + (kernel ? " (kernel copy)" : " (copy buffer)"));
            long long k = 1;
            for (;; ++k) {
                Prepare(c);
                faults::Arm(k);
                const int r = c.run(m_wav, W("a.wav"), m_left, m_right);
                const long long calls = faults::Calls();
                const std::string failed = faults::Failed();
                faults::Arm(0);
                if (calls < k) {  // no call failed: the edit completed
                    EXPECT_EQ(r, c.frames);
                    EXPECT_TRUE(TempFiles().empty());
                    EXPECT_EQ(Get32(Read("a.wav"), 40), 4u * c.frames);
                    EXPECT_EQ(Get32(Read("a.wav"), 4), Read("a.wav").size() - 8);
                    break;
                }
                SCOPED_TRACE("call " + std::to_string(k) + " (" + failed + ") fails");
                CheckAfter(c, r, failed);
                if (::testing::Test::HasFailure()) return;
            }
            EXPECT_GT(k, 4);  // the edit made enough calls for the sweep to mean something
            RecordProperty(std::string(c.name) + (kernel ? "" : " buffered"), static_cast<int>(k - 1));
        }
    }
}

// Save returns nothing: after a failing call the file is the old one (nothing was
// written yet), empty (no reader takes it for a WAV file), or the complete new one.
TEST_F(FaultTest, SaveLeavesTheOldFileAnEmptyOneOrTheNewOne) {
    std::vector<double> l(kFrames / 2), r(kFrames / 2);
    for (size_t i = 0; i < l.size(); ++i) l[i] = r[i] = (i % 100) / 200.0;
    m_wav.Save(W("ref.wav"), l.data(), r.data(), kFrames / 2, 16, 8000);
    const Bytes ref = Read("ref.wav");
    ASSERT_EQ(ref.size(), 44u + 2u * kFrames);
    long long k = 1;
    for (;; ++k) {
        Write("a.wav", m_orig);
        faults::Arm(k);
        m_wav.Save(W("a.wav"), l.data(), r.data(), kFrames / 2, 16, 8000);
        const long long calls = faults::Calls();
        faults::Arm(0);
        const Bytes b = Read("a.wav");
        EXPECT_TRUE(TempFiles().empty());
        if (calls < k) {
            EXPECT_EQ(b, ref);
            break;
        }
        SCOPED_TRACE("call " + std::to_string(k) + " fails");
        EXPECT_TRUE(b == m_orig || b.empty() || b == ref) << b.size();
    }
    EXPECT_GT(k, 3);
    RecordProperty("Save", static_cast<int>(k - 1));
}

// A real failure of the kernel: with a file-size limit (and SIGXFSZ ignored) a
// write past the limit stops part-way.
TEST_F(FaultTest, FileSizeLimitStopsAWritePartWay) {
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const EditCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        Prepare(c);
        struct rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(c.limit);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const int r = c.run(m_wav, W("a.wav"), m_left, m_right);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(r, -1);
        CheckAfter(c, r, "");
    }
    std::vector<double> l(kFrames), rr(kFrames);
    Write("a.wav", m_orig);
    struct rlimit limit = saved;
    limit.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    m_wav.Save(W("a.wav"), l.data(), rr.data(), kFrames, 16, 8000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, oldHandler);
    // The old file when the length could not be set, else emptied when the image did not fit.
    const Bytes b = Read("a.wav");
    EXPECT_TRUE(b == m_orig || b.empty()) << b.size();
}

}  // namespace
}  // namespace wavtest

namespace wavtest {
namespace {

// A load whose read fails delivers nothing and leaves the caller's arrays as they
// were; one that fails after the first work block delivers (and counts) the frames
// read so far, zero-filling the rest of the range. Either way it says why.
TEST_F(FaultTest, FailedLoadDeliversOnlyWhatItRead) {
    const int count = kFrames - 1000;
    std::vector<double> l(count), r(count);
    std::vector<short> sl(count);
    for (long long k = 1;; ++k) {
        std::fill(l.begin(), l.end(), 7.0);
        std::fill(r.begin(), r.end(), 7.0);
        std::fill(sl.begin(), sl.end(), 7);
        faults::Arm(k);
        const int got = m_wav.Load(W("orig.wav"), 1000, count, l.data(), r.data());
        const int error = m_wav.GetLastError(nullptr, 0);
        const int gotShort = m_wav.Load(W("orig.wav"), 1000, count, sl.data(), nullptr);
        const long long calls = faults::Calls();
        faults::Arm(0);
        SCOPED_TRACE("call " + std::to_string(k) + " fails");
        if (calls < k) {
            EXPECT_EQ(got, 4 * count);
            break;
        }
        EXPECT_EQ(got % 4, 0);
        const int frames = got / 4;
        EXPECT_TRUE(got == 4 * count || error != 0);
        for (int i = 0; i < count; ++i) {
            const double want = got == 0 ? 7.0 : i < frames ? Get16(m_orig, 44 + 4 * (1000 + i)) / 32768.0 : 0.0;
            if (l[i] != want) {
                ADD_FAILURE() << "left[" << i << "] is " << l[i] << ", not " << want;
                break;
            }
        }
        if (gotShort == 0) {
            EXPECT_TRUE(std::all_of(sl.begin(), sl.end(), [](short v) { return v == 7; }));
        }
    }
}

}  // namespace
}  // namespace wavtest
