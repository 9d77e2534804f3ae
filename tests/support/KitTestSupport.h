// Small helpers shared by the tests that drive programs and peer tools:
// a private scratch folder, wide paths for the WAV library, and running a
// shell command to capture its standard output.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace kittest {

// A fresh folder under TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/kittest.XXXXXX";
        if (char* made = ::mkdtemp(templ.data())) path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The scratch paths are ASCII, so a byte-for-byte widening is exact.
inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Single-quotes a word for /bin/sh.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `command` under /bin/sh; its standard output goes to `out`. True when
// it ran and exited with status 0.
inline bool RunShell(const std::string& command, std::string* out = nullptr) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return false;
    std::string text;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    int status = ::pclose(p);
    if (out) *out = std::move(text);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kittest
