// The only code of the library that knows it runs on Linux: files by path,
// existence tests, temporary files, path conversion and the process locale.
//
// Every open, seek, read, write, truncate, copy and removal of the library goes
// through this layer, so that its results can be checked (and, in tests,
// changed) in one place. Positions and sizes are 64-bit.
#ifndef COVARNE_PLATFORM_FILELAYER_H
#define COVARNE_PLATFORM_FILELAYER_H

#include <string>

namespace covarne {
namespace platform {

enum class OpenMode {
    Read,     // existing regular file, read only
    Update,   // existing regular file, read and write, not truncated
    Create,   // write only, created or truncated
    Replace,  // write only, created if missing, not truncated (the caller sets the length)
};

// An open file; closed (without report) when destroyed.
class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // False when the path does not open in that mode or is not a regular file; errno
    // then tells why (ENOENT: nothing of that name, EISDIR: a directory).
    bool Open(const std::string& path, OpenMode mode);
    // Creates and opens (read and write) a new empty file, private to the caller, in
    // the temporary directory ($TMPDIR, else /tmp), named "WAV<unique>.wav"; writes its
    // path into `name` (room for `room` bytes, terminator included).
    bool OpenTemp(char* name, int room);
    bool IsOpen() const { return m_fd >= 0; }
    // False when the system reports an error on closing (data may not have reached the file).
    bool Close();

    // File length in bytes, or -1.
    long long Length();
    bool Seek(long long position);
    // The current position, or -1.
    long long Tell();
    bool Truncate(long long length);
    // Up to `bytes` bytes at `position` (the file position stays): fewer only at the
    // end of the file, -1 on an error.
    long long ReadAt(long long position, void* buffer, long long bytes);
    // All `bytes` bytes at `position`, or false.
    bool WriteAt(long long position, const void* buffer, long long bytes);
    // Makes sure the blocks from `from` to `to` exist without changing the length, so that
    // later writes there cannot run out of room. True where the file system cannot reserve.
    bool Reserve(long long from, long long to);

    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
};

// Lets the kernel move up to `bytes` bytes from `srcAt` in `src` to `dstAt` in `dst`
// (the two ranges do not overlap). Returns the bytes moved (0 at the end of `src`), -1 on an
// error, or kCopyUnsupported when these two files cannot be copied this way (the
// caller then copies through a buffer).
constexpr long long kCopyUnsupported = -2;
long long CopyRange(File& dst, long long dstAt, File& src, long long srcAt, long long bytes);

enum class Entry { Missing, File, Directory, Unknown };
// What the path names. Unknown when the system cannot tell (no permission, ...).
Entry Lookup(const std::string& path);
bool Remove(const std::string& path);
// Removes the file the caller created under `path` (and opened as `file`, which may be
// closed by now): the target when `path` is a symbolic link, never the link itself.
bool RemoveCreated(const std::string& path, File& file);

#ifdef COVARNE_FAULTS
// Test builds only (the shipped library has none of this): counts the calls of this
// layer that can fail and makes the one numbered `failAt` (from 1) fail as the system
// would. A failing Write of more than 4096 bytes first writes half of them (a large
// write may stop part-way, as on a full disk); a failing Close still closes; a
// failing CopyRange first moves half of its bytes.
namespace faults {
void Arm(long long failAt);     // 0: no failure; the count restarts
long long Calls();              // calls counted since Arm
const char* Failed();           // name of the call that was made to fail, or ""
void KernelCopy(bool allowed);  // false: CopyRange reports kCopyUnsupported
}  // namespace faults
#endif

// UTF-8 form of a wide path. False for a null path or a character that has none.
bool ToUtf8(const wchar_t* path, std::string* out);

// Makes the user's default locale the process locale; keeps the current one when
// the default cannot be built (a LANG naming a locale the machine lacks).
void UseUserLocale();

}  // namespace platform
}  // namespace covarne

#endif
