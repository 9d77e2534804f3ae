// wavtool: edits WAV files from a shell, one subcommand a member of the WAV
// library. Ranges are checked against the file before the library is asked; what
// the library refuses it refuses for a reason, which wavtool passes on.
#include <covarne/Covarne2005.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const char kUsageText[] =
    "usage: wavtool COMMAND [ARGS]\n"
    "\n"
    "Reads and edits 8- and 16-bit PCM WAV files in place.\n"
    "\n"
    "commands:\n"
    "  info FILE...                 format, frames, duration and data offset\n"
    "  insert FILE AT LENGTH        insert LENGTH frames of silence before frame AT\n"
    "  delete FILE AT [LENGTH]      remove LENGTH frames from frame AT on (default: to the end)\n"
    "  silence FILE AT [LENGTH]     overwrite LENGTH frames from AT with silence (default: to the end)\n"
    "  append-silence FILE LENGTH   add LENGTH frames of silence at the end\n"
    "  rate FILE RATE               restate the sample rate; the samples stay as they are\n"
    "\n"
    "AT and LENGTH are frames (16000) or seconds with an s suffix (1.5s), at the\n"
    "file's own rate. `wavtool COMMAND --help` tells more about one command.\n"
    "Exit status: 0 done, 1 the file could not be read or edited (it is then\n"
    "unchanged), 2 wrong usage.\n";

struct Command {
    const char* name;
    const char* synopsis;
    const char* help;
    int minArgs, maxArgs;  // after the command name
    int (*run)(char** args, int n);
};

// ---- messages and exit status ----

enum Status { kOk = 0, kFailed = 1, kUsage = 2 };

const char* g_command = "";
bool g_badArgument = false;  // a failure came from an argument, not from the file

// The exit status of a failed command.
int Failed() { return g_badArgument ? kUsage : kFailed; }

void Message(const char* file, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Message(const char* file, const char* fmt, ...) {
    std::fprintf(stderr, "wavtool %s: ", g_command);
    if (file) std::fprintf(stderr, "%s: ", file);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

// ---- paths ----

// The library takes wide paths and hands them to the file system as UTF-8, so
// a name must come back from that as the very bytes the user typed. It is
// converted from the locale's multibyte form; where that does not give those
// bytes back (the C locale knows only ASCII), it is read as UTF-8.
std::string Utf8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) {
        const unsigned long c = static_cast<unsigned long>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool FromLocale(const char* path, std::wstring* w) {
    std::mbstate_t state{};
    const char* src = path;
    const size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1)) return false;
    w->assign(n, L'\0');
    src = path;
    state = std::mbstate_t{};
    std::mbsrtowcs(w->data(), &src, n, &state);
    return true;
}

bool FromUtf8(const char* path, std::wstring* w) {
    w->clear();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p;) {
        const unsigned b = *p;
        const int more = b < 0x80                ? 0
                         : b >= 0xC2 && b < 0xE0 ? 1
                         : b >= 0xE0 && b < 0xF0 ? 2
                         : b >= 0xF0 && b < 0xF5 ? 3
                                                 : -1;
        if (more < 0) return false;
        unsigned long c = more == 0 ? b : b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80) return false;
            c = c << 6 | (p[k] & 0x3F);
        }
        w->push_back(static_cast<wchar_t>(c));
        p += more + 1;
    }
    return Utf8(*w) == path;  // rejects overlong forms and surrogates
}

bool WidePath(const char* path, std::wstring* wide) {
    if ((FromLocale(path, wide) && Utf8(*wide) == path) || FromUtf8(path, wide)) return true;
    Message(path, "the name is neither UTF-8 nor, in the locale's character set, a name the WAV library can open");
    return false;
}

// ---- the file an edit works on ----

struct Wav {
    const char* name = nullptr;
    std::wstring path;
    tagWAVEFILEHEADER2005 header{};
    int offset = 0;  // data offset
    int frames = 0;
};

// The library's reason for its last refusal, on standard error.
void LibraryReason(Covarne2005& lib, const char* name) {
    wchar_t text[256];
    lib.GetLastError(text, 256);
    Message(name, "%ls", text);
}

// Opens `name` as a usable WAV file, or says why it is not one.
bool Inspect(Covarne2005& lib, const char* name, Wav* wav) {
    wav->name = name;
    if (!WidePath(name, &wav->path)) return false;
    wav->offset = lib.GetWaveInfo(wav->path.c_str(), &wav->header);
    if (wav->offset == 0) {
        LibraryReason(lib, name);
        return false;
    }
    wav->frames = wav->header.dataSize / (wav->header.blockAlign > 0 ? wav->header.blockAlign : 1);
    return true;
}

// Frames after the edit, held to what a 32-bit data size can say.
bool FitsAfter(const Wav& w, long long frames) {
    if (frames * w.header.blockAlign <= INT_MAX - 36) return true;
    Message(w.name, "the file would pass the 2 GiB a WAV file can hold");
    return false;
}

// ---- times ----

// Frames, or seconds with an "s" suffix at the file's rate. The count must
// fit the library's 32-bit frame counts.
bool ParseTime(const char* text, int rate, const char* what, long long* frames) {
    g_badArgument = true;
    const size_t len = std::strlen(text);
    char* end = nullptr;
    errno = 0;
    if (len > 1 && text[len - 1] == 's') {
        const std::string number(text, len - 1);
        const double seconds = std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !(seconds >= 0) || !std::isfinite(seconds) ||
            std::isspace(static_cast<unsigned char>(number[0]))) {
            Message(nullptr, "%s \"%s\": give frames (16000) or seconds (1.5s)", what, text);
            return false;
        }
        if (rate <= 0) {
            Message(nullptr, "%s \"%s\": the file states no sample rate; give frames", what, text);
            return false;
        }
        const double f = std::round(seconds * rate);
        if (f > INT_MAX) {
            Message(nullptr, "%s \"%s\" is too long", what, text);
            return false;
        }
        *frames = static_cast<long long>(f);
        g_badArgument = false;
        return true;
    }
    if (len == 0 || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        Message(nullptr, "%s \"%s\": give frames (16000) or seconds (1.5s)", what, text);
        return false;
    }
    const long long v = std::strtoll(text, &end, 10);
    if (*end != '\0') {
        Message(nullptr, "%s \"%s\": give frames (16000) or seconds (1.5s)", what, text);
        return false;
    }
    if (errno == ERANGE || v > INT_MAX) {
        Message(nullptr, "%s \"%s\" is too long", what, text);
        return false;
    }
    *frames = v;
    g_badArgument = false;
    return true;
}

double Seconds(long long frames, int rate) { return rate > 0 ? static_cast<double>(frames) / rate : 0.0; }

// The range [at, at + length) within the file's frames; a missing length runs to the end.
bool ParseRange(const Wav& w, char** args, int n, long long* at, long long* length) {
    const int rate = w.header.sampleRate;
    if (!ParseTime(args[1], rate, "position", at)) return false;
    if (*at >= w.frames) {
        Message(w.name, "position %lld is not before the end (%d frames)", *at, w.frames);
        return false;
    }
    if (n < 3) {
        *length = w.frames - *at;
        return true;
    }
    if (!ParseTime(args[2], rate, "length", length)) return false;
    if (*at + *length > w.frames) {
        Message(w.name, "frames %lld to %lld pass the end (%d frames)", *at, *at + *length - 1, w.frames);
        return false;
    }
    return true;
}

void Report(const Wav& w, const char* what, int framesAfter) {
    std::printf("%s: %s; now %d frames (%.3f s)\n", w.name, what, framesAfter,
                Seconds(framesAfter, w.header.sampleRate));
}

// The library's silence is zero bytes, which is the lowest level of an 8-bit
// file (its zero level is 128). 8-bit frames are therefore written as the
// sample 0.0, a block at a time.
bool Hush8(Covarne2005& lib, Wav& w, long long at, long long length) {
    if (w.header.bitsPerSample != 8) return true;
    const int block = 1 << 16;
    std::vector<double> zeros(static_cast<size_t>(std::min<long long>(length, block)), 0.0);
    double* right = w.header.channels == 2 ? zeros.data() : nullptr;
    for (long long done = 0; done < length;) {
        const int n = static_cast<int>(std::min<long long>(block, length - done));
        if (lib.SaveOW(w.path.data(), zeros.data(), right, static_cast<int>(at + done), n, w.header.sampleRate, 8) < 0)
            return false;
        done += n;
    }
    return true;
}

int EditFailed(Covarne2005& lib, const Wav& w) {
    LibraryReason(lib, w.name);
    return kFailed;
}

// ---- subcommands ----

int RunInfo(char** args, int n) {
    Covarne2005 lib;
    int status = kOk;
    for (int i = 0; i < n; ++i) {
        Wav w;
        if (!Inspect(lib, args[i], &w)) {
            status = kFailed;
            continue;
        }
        const auto& h = w.header;
        std::printf("%s: PCM %d-bit, %d channel%s, %d frames/s, %d frames, %.3f s, data at byte %d\n", w.name,
                    h.bitsPerSample, h.channels, h.channels == 1 ? "" : "s", h.sampleRate, w.frames,
                    Seconds(w.frames, h.sampleRate), w.offset);
    }
    return status;
}

int RunInsert(char** args, int /*n*/) {
    Covarne2005 lib;
    Wav w;
    long long at, length;
    if (!Inspect(lib, args[0], &w) || !ParseTime(args[1], w.header.sampleRate, "position", &at) ||
        !ParseTime(args[2], w.header.sampleRate, "length", &length))
        return Failed();
    if (at > w.frames) {
        Message(w.name, "position %lld is past the end (%d frames)", at, w.frames);
        return Failed();
    }
    if (length > 0 && !FitsAfter(w, w.frames + length)) return Failed();
    int after = w.frames;
    if (length > 0) {
        after = lib.Insert(w.path.data(), static_cast<int>(at), static_cast<int>(length));
        if (after < 0 || !Hush8(lib, w, at, length)) return EditFailed(lib, w);
    }
    Report(w, ("inserted " + std::to_string(length) + " silent frames at frame " + std::to_string(at)).c_str(), after);
    return kOk;
}

int RunDelete(char** args, int n) {
    Covarne2005 lib;
    Wav w;
    long long at, length;
    if (!Inspect(lib, args[0], &w) || !ParseRange(w, args, n, &at, &length)) return Failed();
    int after = w.frames;
    if (length > 0) {
        after = lib.Delete(w.path.data(), static_cast<int>(at), static_cast<int>(length));
        if (after < 0) return EditFailed(lib, w);
    }
    Report(w, ("deleted " + std::to_string(length) + " frames from frame " + std::to_string(at)).c_str(), after);
    return kOk;
}

int RunSilence(char** args, int n) {
    Covarne2005 lib;
    Wav w;
    long long at, length;
    if (!Inspect(lib, args[0], &w) || !ParseRange(w, args, n, &at, &length)) return Failed();
    const auto& h = w.header;
    if (length > 0) {
        const bool ok = h.bitsPerSample == 8
                            ? Hush8(lib, w, at, length)
                            : lib.MakeSilence(w.path.data(), static_cast<int>(at), static_cast<int>(length), h.channels,
                                              h.sampleRate, h.bitsPerSample) == w.frames;
        if (!ok) return EditFailed(lib, w);
    }
    Report(w, ("silenced " + std::to_string(length) + " frames from frame " + std::to_string(at)).c_str(), w.frames);
    return kOk;
}

int RunAppendSilence(char** args, int /*n*/) {
    Covarne2005 lib;
    Wav w;
    long long length;
    if (!Inspect(lib, args[0], &w) || !ParseTime(args[1], w.header.sampleRate, "length", &length)) return Failed();
    int after = w.frames;
    if (length > 0) {
        if (!FitsAfter(w, w.frames + length)) return Failed();
        after = lib.AddSilence(w.path.data(), static_cast<int>(length));
        if (after < 0 || !Hush8(lib, w, w.frames, length)) return EditFailed(lib, w);
    }
    Report(w, ("appended " + std::to_string(length) + " silent frames").c_str(), after);
    return kOk;
}

int RunRate(char** args, int /*n*/) {
    Covarne2005 lib;
    Wav w;
    if (!Inspect(lib, args[0], &w)) return Failed();
    char* end = nullptr;
    errno = 0;
    const long long rate = std::isdigit(static_cast<unsigned char>(args[1][0])) ? std::strtoll(args[1], &end, 10) : 0;
    if (end == nullptr || *end != '\0' || errno == ERANGE || rate <= 0 || rate > INT_MAX) {
        Message(nullptr, "rate \"%s\": give frames per second, a whole number above 0", args[1]);
        return kUsage;
    }
    if (w.header.blockAlign <= 0 || rate * w.header.blockAlign > INT_MAX) {
        Message(w.name, "a rate of %lld frames/s cannot be stated for this file's frames", rate);
        return Failed();
    }
    const int before = lib.SaveSr(w.path.data(), static_cast<int>(rate));
    if (before < 0) return EditFailed(lib, w);
    std::printf("%s: rate %d -> %lld frames/s; %d frames now last %.3f s\n", w.name, before, rate, w.frames,
                Seconds(w.frames, static_cast<int>(rate)));
    return kOk;
}

const Command kCommands[] = {
    {"info", "info FILE...",
     "Prints one line for each FILE: sample format, channels, rate, frames,\n"
     "duration and the byte offset of the first sample. Files that are not PCM\n"
     "WAV files are named on standard error, and the status is then 1.\n",
     1, INT_MAX, RunInfo},
    {"insert", "insert FILE AT LENGTH",
     "Inserts LENGTH frames of silence before frame AT; the frames from AT on\n"
     "move back. AT may be the frame count, which appends.\n",
     3, 3, RunInsert},
    {"delete", "delete FILE AT [LENGTH]",
     "Removes LENGTH frames from frame AT on (all of them to the end when LENGTH\n"
     "is left out); the frames after them move forward and the file shrinks.\n"
     "The range must lie within the file.\n",
     2, 3, RunDelete},
    {"silence", "silence FILE AT [LENGTH]",
     "Overwrites LENGTH frames from frame AT on (all of them to the end when\n"
     "LENGTH is left out) with silence; the length of the file stays.\n"
     "The range must lie within the file.\n",
     2, 3, RunSilence},
    {"append-silence", "append-silence FILE LENGTH", "Adds LENGTH frames of silence at the end of FILE.\n", 2, 2,
     RunAppendSilence},
    {"rate", "rate FILE RATE",
     "States RATE (frames per second) as the sample rate of FILE, with the byte\n"
     "rate to match. The samples are not touched, so they play faster or slower.\n",
     2, 2, RunRate},
};

bool IsHelp(const char* a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    if (IsHelp(argv[1])) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        g_command = c.name;
        // Arguments after "--" are names, even when they begin with "-".
        std::vector<char*> args;
        bool names = false;
        for (int i = 2; i < argc; ++i) {
            if (!names && std::strcmp(argv[i], "--") == 0) {
                names = true;
            } else if (!names && IsHelp(argv[i])) {
                std::printf("usage: wavtool %s\n\n%s", c.synopsis, c.help);
                return kOk;
            } else if (!names && argv[i][0] == '-' && argv[i][1] != '\0') {
                Message(nullptr, "unknown option %s\nusage: wavtool %s", argv[i], c.synopsis);
                return kUsage;
            } else {
                args.push_back(argv[i]);
            }
        }
        const int n = static_cast<int>(args.size());
        if (n < c.minArgs || n > c.maxArgs) {
            Message(nullptr, "%s arguments\nusage: wavtool %s", n < c.minArgs ? "too few" : "too many", c.synopsis);
            return kUsage;
        }
        return c.run(args.data(), n);
    }
    std::fprintf(stderr, "wavtool: unknown command \"%s\"; `wavtool --help` lists them\n", argv[1]);
    return kUsage;
}
