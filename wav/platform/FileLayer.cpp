#include "platform/FileLayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <stdexcept>
#include <type_traits>

namespace covarne {
namespace platform {

#ifdef COVARNE_FAULTS
namespace {
long long g_calls = 0;
long long g_failAt = 0;
const char* g_failed = "";
bool g_kernelCopy = true;
}  // namespace

namespace faults {
void Arm(long long failAt) {
    g_calls = 0;
    g_failAt = failAt;
    g_failed = "";
}
long long Calls() { return g_calls; }
const char* Failed() { return g_failed; }
void KernelCopy(bool allowed) { g_kernelCopy = allowed; }
}  // namespace faults

// True when this call is the one to fail.
static bool Fault(const char* call) {
    if (++g_calls != g_failAt) return false;
    g_failed = call;
    errno = EIO;
    return true;
}
#else
static inline bool Fault(const char*) { return false; }
#endif

File::~File() {
    if (m_fd >= 0) ::close(m_fd);
}

bool File::Open(const std::string& path, OpenMode mode) {
    if (m_fd >= 0 || Fault("Open")) return false;
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::Update:
            flags |= O_RDWR;
            break;
        case OpenMode::Create:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case OpenMode::Replace:
            flags |= O_WRONLY | O_CREAT;
            break;
    }
    // A FIFO must not block the open; regular files ignore the flag.
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return false;
    }
    // O_NONBLOCK stays: regular files do not heed it.
    m_fd = fd;
    return true;
}

bool File::Close() {
    if (m_fd < 0) return false;
    int fd = m_fd;
    m_fd = -1;
    const bool fault = Fault("Close");
    // On Linux the descriptor is gone even when close reports EINTR; never retry.
    return ::close(fd) == 0 && !fault;
}

long long File::Length() {
    struct stat st;
    if (m_fd < 0 || Fault("Length") || ::fstat(m_fd, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool File::Seek(long long position) {
    if (m_fd < 0 || position < 0 || Fault("Seek")) return false;
    return ::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

long long File::Tell() {
    if (m_fd < 0 || Fault("Tell")) return -1;
    return static_cast<long long>(::lseek(m_fd, 0, SEEK_CUR));
}

bool File::Truncate(long long length) {
    if (m_fd < 0 || length < 0 || Fault("Truncate")) return false;
    int r;
    do {
        r = ::ftruncate(m_fd, static_cast<off_t>(length));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

long long File::ReadAt(long long position, void* buffer, long long bytes) {
    if (m_fd < 0 || bytes < 0 || position < 0 || Fault("Read")) return -1;
    auto* p = static_cast<unsigned char*>(buffer);
    long long done = 0;
    while (done < bytes) {
        ssize_t n = ::pread(m_fd, p + done, static_cast<size_t>(bytes - done), static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

bool File::WriteAt(long long position, const void* buffer, long long bytes) {
    if (m_fd < 0 || bytes < 0 || position < 0) return false;
    auto* p = static_cast<const unsigned char*>(buffer);
    long long done = 0;
    const bool fault = Fault("Write");
    if (fault) bytes = bytes > 4096 ? bytes / 2 : 0;
    while (done < bytes) {
        ssize_t n = ::pwrite(m_fd, p + done, static_cast<size_t>(bytes - done), static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += n;
    }
    if (fault) errno = EIO;
    return !fault;
}

bool File::Reserve(long long from, long long to) {
    if (m_fd < 0 || from < 0 || Fault("Reserve")) return false;
    if (to <= from) return true;
    int r;
    do {
        r = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from), static_cast<off_t>(to - from));
    } while (r != 0 && errno == EINTR);
    // A file system that cannot reserve leaves the room to the writes.
    return r == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

long long CopyRange(File& dst, long long dstAt, File& src, long long srcAt, long long bytes) {
    if (!dst.IsOpen() || !src.IsOpen() || bytes < 0 || dstAt < 0 || srcAt < 0) return -1;
#ifdef COVARNE_FAULTS
    if (!g_kernelCopy) return kCopyUnsupported;
#endif
    loff_t in = srcAt, out = dstAt;
    if (Fault("CopyRange")) {
        if (bytes > 1)
            ::copy_file_range(src.Descriptor(), &in, dst.Descriptor(), &out, static_cast<size_t>(bytes / 2), 0);
        errno = EIO;
        return -1;
    }
    const long long pass = bytes < (1LL << 30) ? bytes : (1LL << 30);
    for (;;) {
        ssize_t n = ::copy_file_range(src.Descriptor(), &in, dst.Descriptor(), &out, static_cast<size_t>(pass), 0);
        if (n >= 0) return n;
        switch (errno) {
            case EINTR:
                continue;
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP:
            case EBADF:
            case EPERM:
                return kCopyUnsupported;
            default:
                return -1;
        }
    }
}

Entry Lookup(const std::string& path) {
    struct stat st;
    if (Fault("Lookup")) return Entry::Unknown;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? Entry::Directory : Entry::File;
    return (errno == ENOENT || errno == ENOTDIR) ? Entry::Missing : Entry::Unknown;
}

bool Remove(const std::string& path) { return !Fault("Remove") && ::unlink(path.c_str()) == 0; }

bool RemoveCreated(const std::string& path, File& file) {
    if (Fault("Remove")) return false;
    struct stat link, mine;
    if (::lstat(path.c_str(), &link) != 0) return false;
    if (!S_ISLNK(link.st_mode)) return ::unlink(path.c_str()) == 0;
    // Created through a symbolic link: the file is the link's target; the link is the user's.
    char* target = ::realpath(path.c_str(), nullptr);
    if (target == nullptr) return false;
    // While the file is open, only the very file it names goes.
    struct stat st;
    const bool same = !file.IsOpen() || (::fstat(file.Descriptor(), &mine) == 0 && ::stat(target, &st) == 0 &&
                                         st.st_dev == mine.st_dev && st.st_ino == mine.st_ino);
    const bool removed = same && ::unlink(target) == 0;
    std::free(target);
    return removed;
}

bool File::OpenTemp(char* name, int room) {
    if (m_fd >= 0 || name == nullptr || room <= 0 || Fault("OpenTemp")) return false;
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    std::string pattern(dir);
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    pattern += "/WAVXXXXXX.wav";
    name[0] = '\0';
    if (pattern.size() >= static_cast<size_t>(room)) return false;
    std::memcpy(name, pattern.c_str(), pattern.size() + 1);
    // Created exclusively (O_EXCL) and for us alone (mode 0600); kept open, so that no
    // other process can slip in between naming and opening.
    const int fd = ::mkostemps(name, 4, O_CLOEXEC);
    if (fd < 0) {
        name[0] = '\0';
        return false;
    }
    m_fd = fd;
    return true;
}

bool ToUtf8(const wchar_t* path, std::string* out) {
    if (path == nullptr || out == nullptr) return false;
    out->clear();
    for (const wchar_t* p = path; *p != 0; ++p) {
        const auto c = static_cast<unsigned long>(static_cast<std::make_unsigned<wchar_t>::type>(*p));
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF) return false;  // a lone surrogate names no character
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x110000) {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

void UseUserLocale() {
    try {
        std::locale::global(std::locale(""));
    } catch (const std::runtime_error&) {
        // The default locale cannot be built here; the current one stays.
    }
}

}  // namespace platform
}  // namespace covarne
