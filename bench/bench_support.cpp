#include "bench/bench_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {

constexpr double kFiletimeTicksPerSecond = 1e7;
constexpr int kProcTextChars = 4096;
constexpr char kProcFolder[] = "Z:\\proc";
constexpr double kBytesPerKb = 1024.0;
// In /proc/PID/stat, after the ")" that closes the command name: utime and
// stime are the 12th and 13th fields (fields 14 and 15 of the whole line).
constexpr int kUtimeFieldAfterName = 12;
constexpr double kLinuxClockTicks = 100.0; // USER_HZ on Linux
constexpr char kDriveVariable[] = "TUNEDECK_VDRIVE";
constexpr char kIniName[] = "\\bench-vdrive.ini";
constexpr char kCaptureVariable[] = "TD_CAPTURE";
constexpr int kMaxCaptureFiles = 10000;

double FiletimeSeconds(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / kFiletimeTicksPerSecond;
}

int Compare(const void* a, const void* b) {
    double x = *static_cast<const double*>(a), y = *static_cast<const double*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

} // namespace

double Now() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    return FiletimeSeconds(kernel) + FiletimeSeconds(user);
}

// Text of a /proc file; false when it cannot be read.
bool ReadProcText(const char* path, char* text, DWORD size) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    BOOL ok = ReadFile(f, text, size - 1, &got, nullptr);
    CloseHandle(f);
    text[ok ? got : 0] = '\0';
    return ok && got > 0;
}

// The value of a "Name:   123 kB" line, in bytes; 0 when there is none.
double ProcKb(const char* text, const char* name) {
    const char* at = strstr(text, name);
    return at ? atof(at + strlen(name)) * kBytesPerKb : 0;
}

DWORD LinuxPidOf(const char* windowsPath) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, wide, MAX_PATH)) return 0;
    char* unixPath = unixName(wide);
    if (!unixPath) return 0;
    DWORD pid = 0;
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", kProcFolder);
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern, &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const DWORD candidate = strtoul(fd.cFileName, nullptr, 10);
            if (!candidate) continue;
            char path[MAX_PATH], text[kProcTextChars];
            snprintf(path, sizeof path, "%s\\%s\\cmdline", kProcFolder, fd.cFileName);
            if (ReadProcText(path, text, sizeof text) &&
                (lstrcmpiA(text, windowsPath) == 0 || strcmp(text, unixPath) == 0))
                pid = candidate;
        } while (!pid && FindNextFileA(find, &fd));
        FindClose(find);
    }
    HeapFree(GetProcessHeap(), 0, unixPath);
    return pid;
}

double LinuxCpuSeconds(DWORD pid) {
    char path[MAX_PATH], text[kProcTextChars];
    snprintf(path, sizeof path, "%s\\%lu\\stat", kProcFolder, pid);
    if (!pid || !ReadProcText(path, text, sizeof text)) return -1;
    // The command name may hold spaces and parentheses: count from the last ")".
    const char* at = strrchr(text, ')');
    for (int field = 0; field < kUtimeFieldAfterName && at; field++) at = strchr(at + 1, ' ');
    if (!at) return -1;
    char* end = nullptr;
    double utime = strtod(at + 1, &end);
    double stime = strtod(end, nullptr);
    return (utime + stime) / kLinuxClockTicks;
}

double LinuxPrivateBytes(DWORD pid) {
    char path[MAX_PATH], text[kProcTextChars];
    snprintf(path, sizeof path, "%s\\%lu\\smaps_rollup", kProcFolder, pid);
    if (!pid || !ReadProcText(path, text, sizeof text)) return -1;
    return ProcKb(text, "Private_Clean:") + ProcKb(text, "Private_Dirty:");
}

void Samples::Add(double value) {
    if (count_ < kMaxSamples) values_[count_++] = value;
}

double Samples::Median() const {
    if (count_ == 0) return 0;
    double sorted[kMaxSamples];
    memcpy(sorted, values_, sizeof(double) * count_);
    qsort(sorted, count_, sizeof(double), Compare);
    return count_ % 2 ? sorted[count_ / 2] : (sorted[count_ / 2 - 1] + sorted[count_ / 2]) / 2;
}

double Samples::Low() const {
    double low = count_ ? values_[0] : 0;
    for (int i = 1; i < count_; i++)
        if (values_[i] < low) low = values_[i];
    return low;
}

double Samples::High() const {
    double high = count_ ? values_[0] : 0;
    for (int i = 1; i < count_; i++)
        if (values_[i] > high) high = values_[i];
    return high;
}

double Samples::Sum() const {
    double sum = 0;
    for (int i = 0; i < count_; i++) sum += values_[i];
    return sum;
}

void PrintFigure(const char* name, const Samples& samples, const char* unit) {
    printf("figure %s %.6g %.6g %.6g %d %s\n", name, samples.Median(), samples.Low(),
           samples.High(), samples.Count(), unit);
    fflush(stdout);
}

void PrintValue(const char* name, double value, const char* unit) {
    printf("figure %s %.6g %.6g %.6g 1 %s\n", name, value, value, value, unit);
    fflush(stdout);
}

const char* Option(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

int IntOption(int argc, char** argv, const char* name, int fallback) {
    const char* value = Option(argc, argv, name, nullptr);
    return value ? atoi(value) : fallback;
}

bool Flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], name) == 0) return true;
    return false;
}

bool StageVirtualDrive(const char* folder, const char* cuePath, const char* deviceKeys) {
    char ini[MAX_PATH];
    char text[MAX_PATH * 3];
    int pathChars = snprintf(ini, sizeof ini, "%s%s", folder, kIniName);
    int textChars = snprintf(text, sizeof text,
                             "[aspi]\r\n\r\n[device]\r\nadapter = 0\r\ntarget = 0\r\n"
                             "type = cdrom\r\nimage = %s\r\ntray = closed\r\n%s",
                             cuePath, deviceKeys);
    if (pathChars <= 0 || pathChars >= (int)sizeof ini || textChars <= 0 ||
        textChars >= (int)sizeof text)
        return false;
    HANDLE f = CreateFileA(ini, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(f, text, (DWORD)textChars, &put, nullptr);
    CloseHandle(f);
    return ok && put == (DWORD)textChars && SetEnvironmentVariableA(kDriveVariable, ini);
}

void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    exit(1);
}

LONGLONG FileBytes(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return -1;
    return (LONGLONG)a.nFileSizeHigh << 32 | a.nFileSizeLow;
}

LONGLONG CapturedBytes() {
    char unixPath[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(kCaptureVariable, unixPath, sizeof unixPath);
    if (n == 0 || n >= sizeof unixPath) return -1;
    char base[MAX_PATH];
    snprintf(base, sizeof base, "Z:%s", unixPath);
    for (char* c = base; *c; c++)
        if (*c == '/') *c = '\\';
    LONGLONG total = 0;
    for (int i = 0; i < kMaxCaptureFiles; i++) {
        char path[MAX_PATH + 8];
        if (i == 0)
            snprintf(path, sizeof path, "%s", base);
        else
            snprintf(path, sizeof path, "%s.%04d", base, i);
        LONGLONG size = FileBytes(path);
        if (size < 0) break;
        total += size;
    }
    return total;
}

} // namespace bench
