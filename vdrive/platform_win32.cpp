// The core's system layer in WNASPI32.DLL.
#include "vdrive/platform.h"

#include <windows.h>

namespace vdrive {

namespace {

static_assert(sizeof(SystemFile) == sizeof(HANDLE), "a handle travels as a SystemFile");
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(SystemFile f) {
    return reinterpret_cast<HANDLE>(f);
}

// Made as the library is loaded, before any entry point can run.
struct DriveLock {
    DriveLock() { InitializeCriticalSection(&section); }
    ~DriveLock() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
};

DriveLock g_lock;

} // namespace

SystemFile OpenForReading(const char* path, unsigned long* error) {
    HANDLE h = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        // A name from a cue sheet in UTF-8 rather than the system's code page.
        WCHAR wide[MAX_PATH];
        bool ascii = true;
        for (const char* p = path; *p; p++) ascii = ascii && static_cast<unsigned char>(*p) < 0x80;
        if (!ascii && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH))
            h = CreateFileW(wide, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return kNoFile;
    }
    return reinterpret_cast<SystemFile>(h);
}

bool ReadAt(SystemFile file, uint64_t offset, void* dst, uint32_t bytes) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    DWORD got = 0;
    return SetFilePointerEx(AsHandle(file), at, nullptr, FILE_BEGIN) &&
           ReadFile(AsHandle(file), dst, bytes, &got, nullptr) && got == bytes;
}

bool SizeOf(SystemFile file, uint64_t* bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(file), &size)) return false;
    *bytes = uint64_t(size.QuadPart);
    return true;
}

void CloseFile(SystemFile file) {
    CloseHandle(AsHandle(file));
}

bool StampOf(const char* path, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp->size = uint64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
    stamp->time =
        uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32 | a.ftLastWriteTime.dwLowDateTime;
    return true;
}

void AppendToFile(const char* path, const char* text, size_t bytes) {
    if (!path[0]) {
        OutputDebugStringA(text);
        return;
    }
    FileOwner f(reinterpret_cast<SystemFile>(CreateFileA(
        path, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!f.Valid()) return;
    DWORD put;
    SetFilePointer(AsHandle(f.Get()), 0, nullptr, FILE_END);
    WriteFile(AsHandle(f.Get()), text, DWORD(bytes), &put, nullptr);
}

bool ReadEnvironment(const char* name, char* out, size_t size) {
    DWORD n = GetEnvironmentVariableA(name, out, DWORD(size));
    return n > 0 && n < size;
}

bool SamePath(const char* a, const char* b) {
    return lstrcmpiA(a, b) == 0;
}

void EnterLock() {
    EnterCriticalSection(&g_lock.section);
}

void LeaveLock() {
    LeaveCriticalSection(&g_lock.section);
}

} // namespace vdrive
