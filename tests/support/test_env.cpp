#include "support/test_env.h"

#include <gtest/gtest.h>
#include <cstdio>

namespace td_test {

static std::string EnvVar(const char* name) {
    char buf[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string FromUnixPath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string ToUnixPath(const std::string& windowsPath) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return std::string();
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* name = unixName(wide.c_str());
    if (!name) return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

int RunLinuxCommand(const std::string& commandLine, DWORD timeoutMs) {
    // Wine does not wait for a Linux process, nor pass on its exit status: the
    // shell writes the status to a file when the command is done.
    static int serial;
    std::string marker = ScratchDir() + "\\linux-status-" + std::to_string(++serial);
    // Wine splits the command line the Windows way, so the script is one
    // double-quoted argument.
    std::string script = commandLine + "; echo $? > " + ToUnixPath(marker), quoted;
    for (char c : script) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    std::string cmd = "/bin/sh -c \"" + quoted + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return -1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string status;
    PumpUntil(
        [&] {
            Bytes b = ReadFileBytes(marker);
            status.assign(b.begin(), b.end());
            return !status.empty() && status.back() == '\n';
        },
        timeoutMs);
    return status.empty() ? -1 : atoi(status.c_str());
}

static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string ScratchDir() {
    static std::string dir;
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    static std::string forTest;
    if (!dir.empty() && forTest == name) return dir;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    char unique[64];
    std::snprintf(unique, sizeof unique, "td-%lu-", GetCurrentProcessId());
    dir = std::string(tmp) + unique;
    for (char c : name) dir += (isalnum((unsigned char)c) ? c : '_');
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    forTest = name;
    return dir;
}

std::string CapturePath() {
    std::string unixPath = EnvVar("TD_CAPTURE");
    return unixPath.empty() ? std::string() : FromUnixPath(unixPath);
}

static std::string CaptureFile(int index) {
    if (index == 0) return CapturePath();
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%04d", index);
    return CapturePath() + suffix;
}

static bool FileSize(const std::string& path, size_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return false;
    *size = a.nFileSizeLow;
    return true;
}

static size_t CaptureSize() {
    size_t total = 0, size;
    for (int i = 0; FileSize(CaptureFile(i), &size); i++) total += size;
    return total;
}

Bytes ReadCapture() {
    Bytes all;
    size_t size;
    for (int i = 0; FileSize(CaptureFile(i), &size); i++) {
        Bytes part = ReadFileBytes(CaptureFile(i));
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes ReadCaptureOpening(int index) {
    return ReadFileBytes(CaptureFile(index));
}

Bytes WaitForCapture(size_t bytes, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    size_t last = (size_t)-1;
    while (GetTickCount() - start < timeoutMs) {
        size_t size = CaptureSize();
        if (size >= bytes && size == last) break;
        last = size;
        PumpMessages(100);
    }
    return ReadCapture();
}

Bytes SettledCapture(DWORD quietMs, DWORD timeoutMs) {
    DWORD start = GetTickCount(), lastChange = start;
    size_t last = CaptureSize();
    while (GetTickCount() - start < timeoutMs && GetTickCount() - lastChange < quietMs) {
        PumpMessages(50);
        size_t size = CaptureSize();
        if (size != last) {
            last = size;
            lastChange = GetTickCount();
        }
    }
    return ReadCapture();
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes data;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return data;
    data.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!data.empty() && !ReadFile(f, data.data(), (DWORD)data.size(), &got, nullptr)) got = 0;
    data.resize(got);
    CloseHandle(f);
    return data;
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(f, data, (DWORD)size, &put, nullptr) && put == size;
    CloseHandle(f);
    return ok;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, text.data(), text.size());
}

void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

COLORREF PixelAt(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

} // namespace td_test
