// Small owners for Windows resources, so that no early return leaks one.
#pragma once
#include <windows.h>

namespace vdrive {

// A block from the process heap; null when the allocation failed.
class HeapBlock {
  public:
    explicit HeapBlock(size_t bytes) : p_(HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1)) {}
    ~HeapBlock() {
        if (p_) HeapFree(GetProcessHeap(), 0, p_);
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    template <class T>
    T* As() const {
        return static_cast<T*>(p_);
    }

  private:
    void* p_;
};

class FileHandle {
  public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace vdrive
