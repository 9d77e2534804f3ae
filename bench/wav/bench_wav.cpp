// Covarne2005 side by side with its peers on one generated file of about
// 200 MB (16-bit, two channels, 48000 frames/s), page cache warm:
//   - Load of the whole file into doubles and Save of it, against libsndfile
//     (sf_readf_double, sf_writef_double) and a plain read of the file;
//   - Save against a plain write() of the same bytes, Load against a plain read()
//     with the int16-to-double conversion;
//   - Insert(path, 0, 48000) and Delete(path, 0, 48000), against one cp of it;
//   - the peak resident memory of an Insert, a Delete and a growing SaveRep, each
//     run in a fresh child process;
//   - the system calls of a growing SaveRep on a small file, counted by strace
//     between two markers (skipped when strace is missing).
// Times are the best of five rounds, each of which runs every step once (the
// machine is shared and noisy). The program reports the targets and whether
// they are met; it never fails because one is missed.
//
//   bench_wav [frames]     (default 50,000,000 frames, 200 MB of samples)
#include <covarne/Covarne2005.h>
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kRate = 48000;
constexpr int kEditFrames = 48000;
constexpr int kRuns = 5;
constexpr int kRepFrames = 4800;  // the growing SaveRep: 10 frames become 4800

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Runs argv to its end.
bool Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peak resident set of this process in kB (VmHWM), or -1.
long PeakRssKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return kb;
}

// The child of the memory measurement: one edit on a fresh object, nothing
// else, then its own peak resident set on stdout. (The high-water mark is read
// in the child: the one the parent gets from wait4 includes the memory the
// child shared with the parent before its exec.)
int Child(const std::string& op, const std::string& path) {
    int r = 0;
    {
        Covarne2005 wav;
        std::wstring w = Wide(path);
        std::vector<double> x(op == "saverep" ? kRepFrames : 0, 0.25);
        // The markers around the edit let a trace count its system calls alone.
        ::syscall(SYS_getppid);
        if (op == "insert") r = wav.Insert(w.data(), 0, kEditFrames);
        if (op == "delete") r = wav.Delete(w.data(), 0, kEditFrames);
        if (op == "saverep") r = wav.SaveRep(w.data(), x.data(), x.data(), 10, 10, kRepFrames, kRate, 16);
        ::syscall(SYS_getppid);
    }
    std::printf("%ld\n", PeakRssKb());
    return r >= 0 ? 0 : 1;
}

// Runs the memory child for `op`; its peak resident set in kB, or -1.
long ChildRss(const std::string& self, const std::string& op, const std::string& path) {
    const std::string cmd = "'" + self + "' --child " + op + " '" + path + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    long kb = -1;
    if (std::fscanf(p, "%ld", &kb) != 1) kb = -1;
    return ::pclose(p) == 0 ? kb : -1;
}

// The system calls of `op` in a child under strace, between its two markers; -1
// when strace is missing or may not trace.
long ChildSyscalls(const std::string& self, const std::string& op, const std::string& path, const std::string& log) {
    if (!Spawn({"strace", "-f", "-qq", "-o", log, self, "--child", op, path})) return -1;
    FILE* f = std::fopen(log.c_str(), "r");
    if (!f) return -1;
    char line[4096];
    long calls = 0;
    int markers = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strstr(line, "getppid(") != nullptr) {
            ++markers;
            continue;
        }
        if (markers == 1) ++calls;
    }
    std::fclose(f);
    return markers >= 2 ? calls : -1;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& buf) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    size_t got = 0;
    for (ssize_t n; got < buf.size() && (n = ::read(fd, buf.data() + got, buf.size() - got)) > 0;)
        got += static_cast<size_t>(n);
    ::close(fd);
    buf.resize(got);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], argv[3]);

    const long long want = argc > 1 ? std::atoll(argv[1]) : 50000000LL;
    if (want <= kEditFrames || want > 100000000LL) {
        std::fprintf(stderr, "bench_wav: frames must lie between %d and 100000000\n", kEditFrames);
        return 2;
    }
    const int frames = static_cast<int>(want);

    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_wav.XXXXXX";
    if (!::mkdtemp(templ.data())) {
        std::perror("bench_wav: mkdtemp");
        return 2;
    }
    const std::string dir = templ;
    const std::string ours = dir + "/covarne.wav", theirs = dir + "/sndfile.wav", copy = dir + "/copy.wav",
                      plain = dir + "/plain.wav";
    const std::wstring wOurs = Wide(ours);

    // The signal: two tones and a little noise, so that no sample repeats.
    std::vector<double> left(frames), right(frames), interleaved(2 * size_t(frames));
    uint32_t seed = 12345;
    for (int i = 0; i < frames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<int32_t>(seed) >> 8) * (0.01 / (1 << 23));
        left[i] = 0.5 * std::sin(2 * M_PI * 440.0 * i / kRate) + noise;
        right[i] = 0.5 * std::sin(2 * M_PI * 660.0 * i / kRate) - noise;
        interleaved[2 * size_t(i)] = left[i];
        interleaved[2 * size_t(i) + 1] = right[i];
    }
    const double mb = frames * 4.0 / 1e6;
    std::printf("bench_wav: %d frames, 16-bit stereo at %d frames/s, %.0f MB of samples, in %s\n", frames, kRate, mb,
                dir.c_str());

    Covarne2005 wav;

    // The loads go into the arrays that were saved, and libsndfile reads into
    // the interleaved array it wrote from: every destination is in memory
    // already, so no side pays for page faults. (Saved values then drift by the
    // rounding of each round trip from one round to the next; sizes do not.)
    std::vector<uint8_t> raw;
    size_t fileBytes = 0;
    int loaded = 0;
    sf_count_t sfFrames = 0;
    bool cpOk = true, editsOk = true;
    std::wstring wEdit = wOurs;
    double tSave = 1e300, tSfWrite = 1e300, tLoad = 1e300, tSfRead = 1e300, tRead = 1e300, tReadConvert = 1e300,
           tCp = 1e300, tRm = 1e300, tInsert = 1e300, tDelete = 1e300, tWrite = 1e300;

    // Every round runs each step once, so that a member and the peer it is
    // compared with meet the same state of a shared, noisy machine; each step
    // keeps its best time. Dirty pages are written back before each step,
    // outside the timing, so that no step pays for the writeback of the one
    // before, while the page cache stays warm.
    auto keep = [](double& best, const std::function<void()>& step) {
        ::sync();
        const auto t0 = std::chrono::steady_clock::now();
        step();
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        best = std::min(best, dt.count());
    };
    for (int round = 0; round < kRuns; ++round) {
        keep(tSave, [&] { wav.Save(wOurs.c_str(), left.data(), right.data(), frames, 16, kRate); });
        keep(tSfWrite, [&] {
            SF_INFO info{};
            info.samplerate = kRate;
            info.channels = 2;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            SNDFILE* sf = sf_open(theirs.c_str(), SFM_WRITE, &info);
            if (!sf) return;
            sf_writef_double(sf, interleaved.data(), frames);
            sf_close(sf);
        });
        if (round == 0) {
            if (wav.GetN(wOurs.c_str()) != frames) {
                std::fprintf(stderr, "bench_wav: Save wrote %d frames, not %d\n", wav.GetN(wOurs.c_str()), frames);
                return 2;
            }
            fileBytes = std::filesystem::file_size(ours);
            raw.resize(fileBytes);
            ReadAll(ours, raw);  // pages of the buffer and of the file in memory
        }

        // The same bytes, written by a plain write() into a file of their own.
        keep(tWrite, [&] {
            const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) return;
            for (size_t done = 0; done < raw.size();) {
                const ssize_t n = ::write(fd, raw.data() + done, raw.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            ::close(fd);
        });
        keep(tLoad, [&] { loaded = wav.Load(wOurs.c_str(), 0, frames, left.data(), right.data()); });
        keep(tSfRead, [&] {
            SF_INFO info{};
            SNDFILE* sf = sf_open(ours.c_str(), SFM_READ, &info);
            if (!sf) return;
            sfFrames = sf_readf_double(sf, interleaved.data(), frames);
            sf_close(sf);
        });
        keep(tRead, [&] {
            raw.resize(fileBytes);
            ReadAll(ours, raw);
        });
        keep(tReadConvert, [&] {
            raw.resize(fileBytes);
            ReadAll(ours, raw);
            const uint8_t* p = raw.data() + 44;
            for (int i = 0; i < frames; ++i, p += 4) {
                left[i] = int16_t(p[0] | p[1] << 8) * (1.0 / 32768);
                right[i] = int16_t(p[2] | p[3] << 8) * (1.0 / 32768);
            }
        });

        // cp into a fresh name, as a user would. Removing the copy is timed
        // apart: an edit also removes a temporary file of the tail's size.
        keep(tCp, [&] { cpOk = Spawn({"cp", ours, copy}) && cpOk; });
        keep(tRm, [&] { ::unlink(copy.c_str()); });

        // The Delete undoes the Insert, so every round sees the same file.
        keep(tInsert, [&] { editsOk = wav.Insert(wEdit.data(), 0, kEditFrames) == frames + kEditFrames && editsOk; });
        keep(tDelete, [&] { editsOk = wav.Delete(wEdit.data(), 0, kEditFrames) == frames && editsOk; });
    }
    if (loaded != frames * 4 || sfFrames != frames)
        std::printf("warning: Load gave %d bytes and libsndfile %lld frames\n", loaded, (long long)sfFrames);

    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const long rssIdle = ChildRss(self, "idle", ours);
    const long rssInsert = ChildRss(self, "insert", ours);
    const long rssDelete = ChildRss(self, "delete", ours);
    const std::string small = dir + "/small.wav";
    {
        std::vector<double> x(1000, 0.1);
        wav.Save(Wide(small).c_str(), x.data(), x.data(), 1000, 16, kRate);
    }
    const long rssSaveRep = ChildRss(self, "saverep", small);
    wav.Save(Wide(small).c_str(), left.data(), right.data(), 1000, 16, kRate);
    const long syscalls = ChildSyscalls(self, "saverep", small, dir + "/strace.log");
    const bool rssOk = rssIdle > 0 && rssInsert > 0 && rssDelete > 0 && rssSaveRep > 0;

    std::printf("\n%-26s %9s   %-22s %9s   %s\n", "operation", "covarne", "peer", "peer", "covarne vs peer");
    auto line = [](const char* what, double t, const char* peer, double tp) {
        std::printf("%-26s %8.3fs   %-22s %8.3fs   %5.2fx %s\n", what, t, peer, tp, t <= tp ? tp / t : t / tp,
                    t <= tp ? "faster" : "slower");
    };
    line("Load whole file (doubles)", tLoad, "sf_readf_double", tSfRead);
    line("", tLoad, "plain read", tRead);
    line("", tLoad, "plain read + convert", tReadConvert);
    line("Save whole file", tSave, "sf_writef_double", tSfWrite);
    line("", tSave, "plain write", tWrite);
    line("Insert(path, 0, 48000)", tInsert, "cp of the file", tCp);
    line("Delete(path, 0, 48000)", tDelete, "cp of the file", tCp);
    std::printf("%-26s %9s   %-22s %8.3fs\n", "", "", "rm of that copy", tRm);
    std::printf(
        "\npeak resident memory (child process): Insert %.1f MB, Delete %.1f MB, SaveRep %.1f MB "
        "(a process that only constructs the object: %.1f MB)\n",
        rssInsert / 1024.0, rssDelete / 1024.0, rssSaveRep / 1024.0, rssIdle / 1024.0);
    if (syscalls >= 0)
        std::printf("system calls of SaveRep(10 frames -> %d) on a 1000-frame file: %ld\n", kRepFrames, syscalls);
    else
        std::printf("system calls of SaveRep: not counted (strace is missing or may not trace)\n");

    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("\ntargets:\n");
    std::printf("  Load >= 2x faster than libsndfile: %.2fx  %s\n", tSfRead / tLoad, verdict(tSfRead / tLoad >= 2));
    std::printf("  Save >= 2x faster than libsndfile: %.2fx  %s\n", tSfWrite / tSave, verdict(tSfWrite / tSave >= 2));
    std::printf("  Load at most 1.0x of read + convert: %.2fx %s\n", tLoad / tReadConvert,
                verdict(tLoad <= tReadConvert));
    std::printf("  Save within 1.5x of plain write:   %.2fx  %s\n", tSave / tWrite, verdict(tSave / tWrite <= 1.5));
    std::printf("  Insert within 2.2x of cp:          %.2fx  %s\n", tInsert / tCp, verdict(tInsert / tCp <= 2.2));
    std::printf("  Delete within 1.3x of cp:          %.2fx  %s\n", tDelete / tCp, verdict(tDelete / tCp <= 1.3));
    const long rssMax = std::max(rssInsert, std::max(rssDelete, rssSaveRep));
    std::printf("  peak RSS of any edit < 6 MB:       %.1f MB %s\n", rssMax / 1024.0,
                verdict(rssOk && rssMax < 6 * 1024));
    if (syscalls >= 0)
        std::printf("  growing SaveRep <= 30 system calls: %ld   %s\n", syscalls, verdict(syscalls <= 30));
    if (!cpOk || !editsOk || !rssOk)
        std::printf("warning: %s%s%s\n", cpOk ? "" : "cp failed; ", editsOk ? "" : "an edit gave a wrong count; ",
                    rssOk ? "" : "a memory child failed");

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
