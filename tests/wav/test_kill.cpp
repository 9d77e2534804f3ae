// Edits killed (SIGKILL) at random instants on a file of tens of megabytes: the
// header never counts a frame that is not at its place (old or new), and every
// old frame the edit keeps is in the file, at its old or its new place, or in the
// temporary file the edit leaves behind.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <random>

#include "WavFixture.h"

namespace wavtest {
namespace {

constexpr int kFrames = 8000000;  // one channel, 16 bits: 16 MB of samples
constexpr int kKills = 6;         // per edit

struct KillCase {
    const char* name;
    int at, removed, added;  // frames from `at`: `removed` go, `added` new ones come
    bool moves;              // frames after the edit point move
    std::function<void(Covarne2005&, wchar_t*, std::vector<double>&)> run;
};

std::vector<KillCase> Cases() {
    const int n = kFrames, m = 1000000;
    return {
        {"Save", 0, n, n + m, false,
         [=](Covarne2005& w, wchar_t* p, std::vector<double>& x) { w.Save(p, x.data(), n + m, 16, 8000); }},
        {"SaveAdd", n, 0, m, false,
         [=](Covarne2005& w, wchar_t* p, std::vector<double>& x) { w.SaveAdd(p, x.data(), m, 8000, 16); }},
        {"AddSilence", n, 0, m, false, [=](Covarne2005& w, wchar_t* p, std::vector<double>&) { w.AddSilence(p, m); }},
        {"SaveOW", 100, m, m, false,
         [=](Covarne2005& w, wchar_t* p, std::vector<double>& x) { w.SaveOW(p, x.data(), 100, m, 8000, 16); }},
        {"Insert", 100, 0, 48000, true,
         [](Covarne2005& w, wchar_t* p, std::vector<double>&) { w.Insert(p, 100, 48000); }},
        {"short Insert", 100, 0, 7, true,
         [](Covarne2005& w, wchar_t* p, std::vector<double>&) { w.Insert(p, 100, 7); }},
        {"Delete", 100, 48000, 0, true,
         [](Covarne2005& w, wchar_t* p, std::vector<double>&) { w.Delete(p, 100, 48000); }},
        {"SaveRep longer", 100, 10, 48000, true,
         [](Covarne2005& w, wchar_t* p, std::vector<double>& x) { w.SaveRep(p, x.data(), 100, 10, 48000, 8000, 16); }},
        {"SaveRep shorter", 100, 48000, 10, true,
         [](Covarne2005& w, wchar_t* p, std::vector<double>& x) { w.SaveRep(p, x.data(), 100, 48000, 10, 8000, 16); }},
    };
}

class KillTest : public TempDirTest {};

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

TEST_F(KillTest, KilledEditsLeaveOnlyTrueHeaders) {
    std::vector<int> v(kFrames);
    for (int i = 0; i < kFrames; ++i) v[i] = static_cast<std::int16_t>(i * 7 + 1);
    Write16("orig.wav", v, 1, 8000);
    const Bytes orig = Read("orig.wav");
    std::vector<double> x(kFrames + 1000000, -0.25);
    std::mt19937 random(12345);
    for (const KillCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        // The finished edit, and how long it takes.
        Write("a.wav", orig);
        double t = Seconds();
        c.run(m_wav, W("a.wav"), x);
        t = Seconds() - t;
        const Bytes done = Read("a.wav");
        const int total = kFrames - c.removed + c.added;
        ASSERT_EQ(Get32(done, 40), 2u * total);
        for (int k = 0; k < kKills; ++k) {
            Write("a.wav", orig);
            const long delay = std::uniform_int_distribution<long>(0, static_cast<long>(t * 1.2e6))(random);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                Covarne2005 w;
                c.run(w, W("a.wav"), x);
                _exit(0);
            }
            usleep(static_cast<useconds_t>(delay));
            kill(child, SIGKILL);
            int status;
            ASSERT_EQ(waitpid(child, &status, 0), child);

            const Bytes b = Read("a.wav");
            const std::vector<std::string> temps = TempFiles();
            ASSERT_LE(temps.size(), 1u);
            Bytes kept;
            if (!temps.empty()) kept = Read("tmp/" + temps[0]);
            SCOPED_TRACE("killed after " + std::to_string(delay) + " us");
            // An unfinished new file (no RIFF yet) counts nothing.
            if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0) {
                EXPECT_EQ(std::string(c.name), "Save");
                continue;
            }
            const long long count = Get32(b, 40) / 2;
            ASSERT_LE(44 + 2 * count, static_cast<long long>(b.size()));
            EXPECT_TRUE(count == kFrames || count == total || (c.moves && count == c.at) || count == 0) << count;
            // Every counted frame is the old one or the new one at its place.
            auto same = [&](const Bytes& ref, long long frame, long long frames) {
                return 44 + 2 * (frame + frames) <= static_cast<long long>(ref.size()) &&
                       std::memcmp(b.data() + 44 + 2 * frame, ref.data() + 44 + 2 * frame, 2 * frames) == 0;
            };
            for (long long p = 0; p < count;) {
                const long long run = std::min<long long>(65536, count - p);
                if (same(orig, p, run) || same(done, p, run)) {
                    p += run;
                    continue;
                }
                ASSERT_TRUE(same(orig, p, 1) || same(done, p, 1)) << "frame " << p << " is neither old nor new";
                ++p;
            }
            // Every old frame the edit keeps is somewhere: at its old place, its new one, or in the kept file.
            if (!c.moves || c.name == std::string("Save")) continue;
            const long long from = c.at + c.removed, shift = c.added - c.removed;
            for (long long i = from; i < kFrames;) {
                const long long run = std::min<long long>(65536, kFrames - i);
                auto at = [&](long long place, long long frames) {
                    return 44 + 2 * (place + frames) <= static_cast<long long>(b.size()) &&
                           std::memcmp(b.data() + 44 + 2 * place, orig.data() + 44 + 2 * i, 2 * frames) == 0;
                };
                auto inTemp = [&](long long frames) {
                    return 2 * (i - from + frames) <= static_cast<long long>(kept.size()) &&
                           std::memcmp(kept.data() + 2 * (i - from), orig.data() + 44 + 2 * i, 2 * frames) == 0;
                };
                if (at(i, run) || at(i + shift, run) || inTemp(run)) {
                    i += run;
                    continue;
                }
                ASSERT_TRUE(at(i, 1) || at(i + shift, 1) || inTemp(1)) << "old frame " << i << " is lost";
                ++i;
            }
            for (const auto& name : temps) std::remove(Path("tmp/" + name).c_str());
        }
    }
}

}  // namespace
}  // namespace wavtest
