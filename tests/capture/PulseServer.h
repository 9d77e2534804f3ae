// The tests' PulseAudio server (tests/capture/pulse/pulse-server.sh), a
// player that plays a signal naming every frame's position into one of its
// null sinks, and the check that a recording is that signal, exact and
// contiguous.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace pulse {

// Interleaved sample i of the played signal: the top 16 bits of a hash of i.
inline std::int16_t Sample(long i) {
    std::uint64_t z = static_cast<std::uint64_t>(i) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(z >> 48));
}

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Points this process's ALSA and PulseAudio clients at the server in `dir`
// and at the monitor of the sink for `rate` and `channels`.
inline void Use(const std::string& dir, int rate, int channels) {
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (dir + "/client.conf").c_str(), 1);
    setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    std::string sink = "tamblo_" + std::to_string(rate) + "_" + std::to_string(channels);
    setenv("PULSE_SINK", sink.c_str(), 1);
    setenv("PULSE_SOURCE", (sink + ".monitor").c_str(), 1);
}

// Why the server in `dir` is not there, or "" when it is.
inline std::string Missing(const std::string& dir) {
    if (dir.empty()) return "TAMBLO_PULSE_DIR is not set (run the test through ctest)";
    std::ifstream skip(dir + "/skip");
    std::string why;
    if (skip && std::getline(skip, why)) return why;
    if (access((dir + "/native").c_str(), F_OK) != 0) return "no server socket in " + dir;
    return "";
}

inline int Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A server of the test's own (to freeze or kill), under the shared one's
// folder so that the fixture's clean-up stops it whatever happens.
class PrivateServer {
public:
    explicit PrivateServer(const std::string& name)
        : m_dir(Env("TAMBLO_PULSE_DIR") + "/" + name), m_script(Env("TAMBLO_PULSE_SCRIPT")) {
        Run({"/bin/sh", m_script, "start", m_dir});
        std::ifstream pid(m_dir + "/run/pulse/pid");
        pid >> m_pid;
    }
    ~PrivateServer() {
        Resume();
        Run({"/bin/sh", m_script, "stop", m_dir});
    }
    const std::string& Dir() const { return m_dir; }
    bool Up() const { return m_pid > 0 && Missing(m_dir).empty(); }
    void Freeze() { kill(m_pid, SIGSTOP); }
    void Resume() { kill(m_pid, SIGCONT); }
    void Kill() { kill(m_pid, SIGKILL); }

private:
    std::string m_dir, m_script;
    pid_t m_pid = 0;
};

// pacat playing `seconds` of the signal into the sink named by PULSE_SINK.
class Player {
public:
    Player(const std::string& dir, int rate, int channels, int seconds) {
        std::string raw = dir + "/signal-" + std::to_string(rate) + "-" + std::to_string(channels) + ".raw";
        if (access(raw.c_str(), F_OK) != 0) {
            std::vector<std::int16_t> data(static_cast<size_t>(rate) * channels * seconds);
            for (size_t i = 0; i < data.size(); ++i) data[i] = Sample(static_cast<long>(i));
            std::string tmp = raw + ".tmp";
            if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
                std::fwrite(data.data(), 2, data.size(), f);
                std::fclose(f);
                std::rename(tmp.c_str(), raw.c_str());
            }
        }
        std::string pacat = "/usr/bin/pacat";
        std::vector<std::string> args = {pacat,
                                         "--playback",
                                         "--device=" + Env("PULSE_SINK"),
                                         "--format=s16le",
                                         "--rate=" + std::to_string(rate),
                                         "--channels=" + std::to_string(channels),
                                         "--latency-msec=1000",
                                         "--raw",
                                         raw};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, pacat.c_str(), nullptr, nullptr, argv.data(), environ) != 0) m_pid = 0;
        usleep(300 * 1000);  // its stream is playing before the recording starts
    }
    ~Player() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = 0;
};

// What a recording holds: after `silence` leading frames of silence (the
// sink before the player began), runs of the signal; a break between runs
// is frames lost (or repeated).
struct Check {
    long silence = 0;
    long frames = 0;  // signal frames, from the first
    long breaks = 0;
    long skipped = 0;  // frames of the signal missing at the breaks
    long unknown = 0;  // frames that are not the signal at all
};

// Frame position in the signal of frame `at` of rec, or -1.
inline long Locate(const std::vector<std::int16_t>& rec, long at, int ch, long signalFrames) {
    const long n = static_cast<long>(rec.size()) / ch;
    const int need = static_cast<int>(std::min<long>(4, n - at));
    for (long f = 0; f < signalFrames; ++f) {
        bool ok = true;
        for (int k = 0; k < need * ch && ok; ++k) ok = rec[static_cast<size_t>(at * ch + k)] == Sample(f * ch + k);
        if (ok) return f;
    }
    return -1;
}

// rec holds interleaved frames of `ch` channels as recorded.
inline Check Verify(const std::vector<std::int16_t>& rec, int ch, long signalFrames) {
    Check c;
    const long n = static_cast<long>(rec.size()) / ch;
    auto silent = [&](long f) {
        for (int k = 0; k < ch; ++k)
            if (rec[static_cast<size_t>(f * ch + k)] != 0) return false;
        return true;
    };
    long f = 0;
    while (f < n && silent(f)) ++f;
    c.silence = f;
    long expect = -1;
    while (f < n) {
        if (expect >= 0) {
            bool ok = expect < signalFrames;
            for (int k = 0; k < ch && ok; ++k) ok = rec[static_cast<size_t>(f * ch + k)] == Sample(expect * ch + k);
            if (ok) {
                ++c.frames;
                ++expect;
                ++f;
                continue;
            }
        }
        if (c.unknown > 100) {  // not the signal: no use searching on
            c.unknown += n - f;
            break;
        }
        long at = Locate(rec, f, ch, signalFrames);
        if (at < 0) {
            ++c.unknown;
            ++f;
            continue;
        }
        if (expect >= 0) {
            ++c.breaks;
            c.skipped += at - expect;
        }
        expect = at;
    }
    return c;
}

}  // namespace pulse
