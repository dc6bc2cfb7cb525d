// The little of the system that the virtual drive's core needs: reading the
// image and INI files, their stamps for the re-read, appending to the log, the
// environment and one lock. Each door brings its own: platform_win32.cpp for
// WNASPI32.DLL, platform_posix.cpp for the SG_IO library. Paths are taken as
// the INI gives them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace vdrive {

using SystemFile = intptr_t; // a HANDLE or a file descriptor
constexpr SystemFile kNoFile = -1;

// An existing file, for reading; kNoFile with the system's error code in `error`.
SystemFile OpenForReading(const char* path, unsigned long* error);
bool ReadAt(SystemFile file, uint64_t offset, void* dst, uint32_t bytes);
bool SizeOf(SystemFile file, uint64_t* bytes);
void CloseFile(SystemFile file);

// What tells one version of a file from the next.
struct FileStamp {
    uint64_t size;
    uint64_t time;
};

// False when there is no such file (a folder does not count).
bool StampOf(const char* path, FileStamp* stamp);

// Appends to the file, creating it; with an empty path, to the debugger's output.
void AppendToFile(const char* path, const char* text, size_t bytes);

// False when unset, or too long for `size` bytes with its terminator.
bool ReadEnvironment(const char* name, char* out, size_t size);

// Whether two paths are one name as the system compares them.
bool SamePath(const char* a, const char* b);

// The lock of the drive's state; not re-entrant.
void EnterLock();
void LeaveLock();

class Locked {
  public:
    Locked() { EnterLock(); }
    ~Locked() { LeaveLock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Owns a file opened here, so that no early return leaks it.
class FileOwner {
  public:
    explicit FileOwner(SystemFile f) : f_(f) {}
    ~FileOwner() {
        if (f_ != kNoFile) CloseFile(f_);
    }
    FileOwner(const FileOwner&) = delete;
    FileOwner& operator=(const FileOwner&) = delete;

    SystemFile Get() const { return f_; }
    bool Valid() const { return f_ != kNoFile; }

  private:
    SystemFile f_;
};

// A block of memory; null when the allocation failed.
class HeapBlock {
  public:
    explicit HeapBlock(size_t bytes) : p_(std::malloc(bytes ? bytes : 1)) {}
    ~HeapBlock() { std::free(p_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    template <class T>
    T* As() const {
        return static_cast<T*>(p_);
    }

  private:
    void* p_;
};

} // namespace vdrive
