// The demo host's road: what its steps share, and the steps themselves, each
// in a file of its own.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace demo {

namespace fs = std::filesystem;

constexpr int kSeconds = 2;
constexpr int kFrameLength = 512;  // samples per analysis frame
constexpr int kSteps = 8;

struct Road {
    fs::path dir;                     // where every file goes
    bool testSignal = false;          // record the generated signal even if a device opens
    std::vector<double> left, right;  // the recording, kSeconds * kRate frames each
    std::vector<double> filtered[2];  // band-passed left and right
    fs::path recording;               // the saved recording
    std::vector<fs::path> written;    // every file written, in order
};

// "[n/8] " and the text, without a line end; Done ends the line.
void Step(int n, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Done(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Progress within a step: prints 25%, 50%, 75% as `done` of `total` passes them.
void Progress(long done, long total);
// Says what went wrong, on standard error, and gives false.
bool Fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The library takes wide paths and hands them to the file system as UTF-8.
std::wstring Wide(const fs::path& p);
fs::path Output(Road& road, const char* name);

// The steps, in road order; each returns false after saying why it stopped.
bool Record(Road& road);   // 1
bool Analyse(Road& road);  // 2, 3
bool Store(Road& road);    // 4, 5
bool Filter(Road& road);   // 6, 7
bool Edit(Road& road);     // 8

}  // namespace demo
