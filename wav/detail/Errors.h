// The reason of the last refusal or failure of a member, as GetLastError gives it.
#ifndef COVARNE_DETAIL_ERRORS_H
#define COVARNE_DETAIL_ERRORS_H

#include <string>

namespace covarne {
namespace detail {

// Codes are part of the interface: never renumber.
enum Code {
    kOk = 0,
    kNoPath = 1,   // a null path or one without a UTF-8 form
    kMissing = 2,  // nothing of that name
    kDirectory = 3,
    kNotWave = 4,    // not a RIFF/WAVE file
    kNotPcm = 5,     // another sample format
    kNoData = 6,     // no data chunk
    kBadLayout = 7,  // the block align does not match channels and bits
    kDepth = 8,      // a bit depth the library does not convert
    kChannels = 9,   // channels given do not match the file
    kBits = 10,      // bits given do not match the file
    kArgument = 11,  // a negative count, a missing array, a rate of 0, ...
    kRange = 12,     // a frame range outside the file
    kTooLarge = 13,  // beyond the 32-bit sizes of a WAV file
    kMounted = 14,   // a file is already mounted
    kNoSpace = 15,   // the file system is full
    kSystem = 16,    // another error of the system, with its own text
};

class LastError {
public:
    void Clear() { Set(kOk, ""); }
    int Set(Code code, const std::string& text);
    // Code 15 for ENOSPC, else 16 with the system's text of `error` after `what`.
    int System(const char* what, int error);
    int Code() const { return m_code; }
    // The text, cut to `size` - 1 characters and terminated.
    void Copy(wchar_t* text, int size) const;

private:
    int m_code = kOk;
    std::wstring m_text;
};

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace detail
}  // namespace covarne

#endif
