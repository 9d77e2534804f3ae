#include "detail/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace covarne {
namespace detail {

std::string Format(const char* format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    return text;
}

int LastError::Set(enum Code code, const std::string& text) {
    m_code = code;
    // The texts are ASCII but for the system's own, which are in the locale's encoding.
    m_text.assign(text.size(), L'\0');
    std::mbstate_t state{};
    const char* src = text.c_str();
    const size_t n = std::mbsrtowcs(&m_text[0], &src, text.size(), &state);
    if (n == static_cast<size_t>(-1)) {
        m_text.assign(text.begin(), text.end());
    } else {
        m_text.resize(n);
    }
    return code;
}

int LastError::System(const char* what, int error) {
    if (error == ENOSPC) return Set(kNoSpace, "no space left on the device");
    char buffer[256];
    // The GNU strerror_r gives a pointer to the text, not always into `buffer`.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return Set(kSystem, std::string(what) + ": " + text);
}

void LastError::Copy(wchar_t* text, int size) const {
    if (text == nullptr || size <= 0) return;
    const size_t n = std::min(m_text.size(), static_cast<size_t>(size - 1));
    std::wmemcpy(text, m_text.data(), n);
    text[n] = L'\0';
}

}  // namespace detail
}  // namespace covarne
