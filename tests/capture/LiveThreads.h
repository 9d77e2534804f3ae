// Counts this process's threads by name and its open descriptors, to see that
// a capture left none behind.
#pragma once

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

// Threads named `name` (as pthread_setname_np set it) now.
inline int LiveThreads(const std::string& name) {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) {
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string s;
            if (e->d_name[0] != '.' && std::getline(comm, s) && s == name) ++n;
        }
        closedir(d);
    }
    return n;
}

// Descriptors open in this process now (the listing's own included).
inline int OpenFds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// Waits up to 5 s for a thread named `name` to block reading a pipe (its
// kernel wait channel says so); false when none did, or the channel is hidden.
inline bool WaitForPipeRead(const std::string& name) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        if (DIR* d = opendir("/proc/self/task")) {
            bool found = false;
            while (dirent* e = readdir(d)) {
                std::string task = std::string("/proc/self/task/") + e->d_name;
                std::ifstream comm(task + "/comm"), wchan(task + "/wchan");
                std::string c, w;
                if (e->d_name[0] != '.' && std::getline(comm, c) && c == name && std::getline(wchan, w) &&
                    w.find("pipe_read") != std::string::npos)
                    found = true;
            }
            closedir(d);
            if (found) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// Waits up to 2 s for the threads named `name` to fall back to `baseline`;
// returns how many more there are.
inline int ThreadsLeft(const std::string& name, int baseline) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int n;
    while ((n = LiveThreads(name) - baseline) > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return n;
}
