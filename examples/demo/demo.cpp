// Demo host: the road of a typical piece of work, with the three libraries
// linked as any host links them. It records two seconds of stereo (from the
// default capture device, or from a generated test signal where none opens),
// draws the spectrum of one frame and a spectrogram, saves the recording and
// loads it back, band-passes it and draws its envelope, and edits copies.
//
//   demo [--test-signal] [folder]     writes into folder (default: demo-out)
#include <cstdarg>
#include <cstring>

#include "Road.h"

namespace demo {

namespace {
int g_quarter = 0;  // the progress marks printed in the current step
}

void Step(int n, const char* fmt, ...) {
    std::printf("[%d/%d] ", n, kSteps);
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
    g_quarter = 0;
}

void Done(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::putchar('\n');
    std::fflush(stdout);
}

void Progress(long done, long total) {
    while (g_quarter < 3 && done * 4 >= (g_quarter + 1) * total) {
        std::printf(" %d%%", ++g_quarter * 25);
        std::fflush(stdout);
    }
}

bool Fail(const char* fmt, ...) {
    std::fflush(stdout);
    std::fputs("demo: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt[0] == '\n' ? fmt + 1 : fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    if (fmt[0] == '\n') std::putchar('\n');
    return false;
}

// A narrow path decoded as UTF-8, whatever the locale says, since that is how
// the library gives it back to the file system. A byte that does not start a
// valid sequence stands for itself.
std::wstring Wide(const fs::path& p) {
    const std::string& s = p.native();
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    std::wstring w;
    for (size_t i = 0; i < s.size();) {
        const unsigned b = byte(i);
        const int more = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : -1;
        unsigned long c = more == 1 ? b & 0x1F : more == 2 ? b & 0x0F : more == 3 ? b & 0x07 : b;
        int k = 1;
        while (k <= more && i + k < s.size() && (byte(i + k) & 0xC0) == 0x80) c = c << 6 | (byte(i + k++) & 0x3F);
        if (k <= more) {  // a broken sequence: its first byte stands for itself
            c = b;
            k = 1;
        }
        w += static_cast<wchar_t>(c);
        i += k;
    }
    return w;
}

fs::path Output(Road& road, const char* name) {
    road.written.push_back(road.dir / name);
    return road.written.back();
}

}  // namespace demo

int main(int argc, char** argv) {
    using namespace demo;
    Road road;
    road.dir = "demo-out";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--test-signal") == 0) {
            road.testSignal = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "usage: demo [--test-signal] [folder]\n"
                "Runs the kit's road of work and writes its files into folder (default: demo-out).\n"
                "--test-signal records the generated test signal even where a capture device opens.\n");
            return 0;
        } else {
            road.dir = argv[i];
        }
    }
    std::error_code ec;
    fs::create_directories(road.dir, ec);
    if (ec) {
        std::fprintf(stderr, "demo: cannot create %s: %s\n", road.dir.c_str(), ec.message().c_str());
        return 1;
    }
    if (!Record(road) || !Analyse(road) || !Store(road) || !Filter(road) || !Edit(road)) return 1;
    std::printf("wrote %zu files:\n", road.written.size());
    for (const fs::path& p : road.written) std::printf("  %s\n", p.c_str());
    return 0;
}
