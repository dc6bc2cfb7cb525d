#include "support/test_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace td_test {

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

void NoteStartedAgain(const std::string& what) {
    std::fprintf(stderr, "%s; started again\n", what.c_str());
    const char* lanes = std::getenv("TD_LANES");
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!lanes || !test) return;
    std::ofstream(FromUnixPath(std::string(lanes) + "/started-again.log"), std::ios::app)
        << test->test_suite_name() << "." << test->name() << ": " << what << "\n";
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
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return -1;
    }
    // For a Linux program Wine hands back no process handle and leaves a stale
    // value in hThread: closing that would close some other handle of ours
    // (once, the job that holds the deck, which then ended with it).
    if (pi.hProcess) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
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

std::string ScratchDir() {
    static std::string dir, forTest;
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    if (!dir.empty() && forTest == name) return dir;
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    dir = std::string(tmp) + "td-" + std::to_string(GetCurrentProcessId()) + "-";
    for (char c : name) dir += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directory(dir, ignored);
    forTest = name;
    return dir;
}

std::string CapturePath() {
    char unixPath[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA("TD_CAPTURE", unixPath, sizeof unixPath);
    return n > 0 && n < sizeof unixPath ? FromUnixPath(unixPath) : std::string();
}

static std::string CaptureFile(int index) {
    if (index == 0) return CapturePath();
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%04d", index);
    return CapturePath() + suffix;
}

int CaptureOpenings() {
    int n = 0;
    while (GetFileAttributesA(CaptureFile(n).c_str()) != INVALID_FILE_ATTRIBUTES) n++;
    return n;
}

size_t CaptureSize() {
    size_t total = 0;
    WIN32_FILE_ATTRIBUTE_DATA a;
    for (int i = 0; GetFileAttributesExA(CaptureFile(i).c_str(), GetFileExInfoStandard, &a); i++)
        total += a.nFileSizeLow;
    return total;
}

Bytes ReadCapture() {
    Bytes all;
    for (int i = 0, n = CaptureOpenings(); i < n; i++) {
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

Bytes WithoutPadding(Bytes played) {
    constexpr size_t kSample = 4;
    size_t kept = 0, at = 0;
    for (; at + kSample <= played.size(); at += kSample) {
        if (!played[at] && !played[at + 1] && !played[at + 2] && !played[at + 3]) continue;
        std::memmove(played.data() + kept, played.data() + at, kSample);
        kept += kSample;
    }
    std::memmove(played.data() + kept, played.data() + at, played.size() - at);
    played.resize(kept + played.size() - at);
    return played;
}

Bytes ReadFileBytes(const std::string& path) {
    // msvcrt opens files shared, so one that another program is still writing reads too.
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out.write(static_cast<const char*>(data), std::streamsize(size)).flush().good();
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

std::string WindowText(HWND hwnd) {
    // GetWindowTextW sends no message to another process's window, so a stuck
    // program cannot hold the test up; GetWindowTextLengthW would.
    WCHAR text[512] = {};
    GetWindowTextW(hwnd, text, sizeof text / sizeof text[0]);
    char utf8[3 * sizeof text / sizeof text[0]] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(
        size_t(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], int(wide.size()))));
    if (!wide.empty()) wide.pop_back(); // the terminator
    return wide;
}

} // namespace td_test
