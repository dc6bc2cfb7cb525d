// The core's system layer in the SG_IO library, which runs inside Wine's own
// processes. Paths come as the program's INI gives them, Windows paths, and
// reach Linux through the drive letters of the Wine prefix.
#include "vdrive/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __x86_64__
#include <asm/prctl.h>
#include <sys/syscall.h>
#endif

namespace vdrive {

namespace {

constexpr size_t kUnixPathBytes = 1024;
constexpr mode_t kLogMode = 0644;
constexpr char32_t kHighSurrogates = 0xD800, kLowSurrogates = 0xDC00, kAboveSurrogates = 0x10000;
constexpr int kSurrogateBits = 10;

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

// "C:\a\b" as $WINEPREFIX/dosdevices/c:/a/b; a Linux path stays as it is.
bool UnixPath(const char* path, char* out) {
    if (path[0] && path[1] == ':') {
        const char* prefix = std::getenv("WINEPREFIX");
        const char* home = std::getenv("HOME");
        int n = prefix && prefix[0]
                    ? std::snprintf(out, kUnixPathBytes, "%s/dosdevices/", prefix)
                    : std::snprintf(out, kUnixPathBytes, "%s/.wine/dosdevices/", home ? home : "");
        if (n < 0 || size_t(n) + 2 >= kUnixPathBytes) return false;
        // The drive links are named in lower case.
        out[n++] = char(std::tolower(static_cast<unsigned char>(path[0])));
        out[n++] = ':';
        out[n] = 0;
        path += 2;
    } else {
        out[0] = 0;
    }
    size_t at = std::strlen(out), n = std::strlen(path);
    if (at + n >= kUnixPathBytes) return false;
    for (size_t i = 0; i <= n; i++) out[at + i] = path[i] == '\\' ? '/' : path[i];
    return true;
}

// The environment of the Windows program: Wine keeps it in the process
// parameters, and SetEnvironmentVariable never reaches the Unix one. On Wine's
// threads the TEB is at gs (x86_64) or fs (i386); elsewhere that is unset.
const char16_t* WineEnvironment() {
#if defined(__x86_64__)
    constexpr size_t kTebSelf = 0x30, kTebPeb = 0x60, kPebParams = 0x20, kParamsEnv = 0x80;
    unsigned long base = 0;
    if (syscall(SYS_arch_prctl, ARCH_GET_GS, &base) != 0 || !base) return nullptr;
    const char* teb = reinterpret_cast<const char*>(base);
#elif defined(__i386__)
    constexpr size_t kTebSelf = 0x18, kTebPeb = 0x30, kPebParams = 0x10, kParamsEnv = 0x48;
    unsigned short fs;
    __asm__("mov %%fs, %0" : "=r"(fs));
    if (!fs) return nullptr;
    const char* teb;
    __asm__("movl %%fs:0x18, %0" : "=r"(teb));
#endif
    auto at = [](const char* p, size_t offset) {
        return *reinterpret_cast<const char* const*>(p + offset);
    };
    if (at(teb, kTebSelf) != teb) return nullptr;
    const char* params = at(at(teb, kTebPeb), kPebParams);
    return params ? reinterpret_cast<const char16_t*>(at(params, kParamsEnv)) : nullptr;
}

// Appends `c` as UTF-8, the encoding of Linux names; false when out of room.
bool PutUtf8(char32_t c, char* out, size_t size, size_t* at) {
    char bytes[4];
    size_t n;
    if (c < 0x80) {
        bytes[0] = char(c), n = 1;
    } else if (c < 0x800) {
        bytes[0] = char(0xC0 | c >> 6), bytes[1] = char(0x80 | (c & 0x3F)), n = 2;
    } else if (c < 0x10000) {
        bytes[0] = char(0xE0 | c >> 12), bytes[1] = char(0x80 | (c >> 6 & 0x3F));
        bytes[2] = char(0x80 | (c & 0x3F)), n = 3;
    } else {
        bytes[0] = char(0xF0 | c >> 18), bytes[1] = char(0x80 | (c >> 12 & 0x3F));
        bytes[2] = char(0x80 | (c >> 6 & 0x3F)), bytes[3] = char(0x80 | (c & 0x3F)), n = 4;
    }
    if (*at + n >= size) return false;
    std::memcpy(out + *at, bytes, n);
    *at += n;
    return true;
}

bool FromWineEnvironment(const char16_t* env, const char* name, char* out, size_t size) {
    size_t nameLen = std::strlen(name);
    for (const char16_t* entry = env; *entry;) {
        const char16_t* end = entry;
        while (*end) end++;
        bool match = size_t(end - entry) > nameLen && entry[nameLen] == u'=';
        for (size_t i = 0; match && i < nameLen; i++)
            match = entry[i] < 0x80 && std::tolower(entry[i]) == std::tolower(name[i]);
        if (match) {
            size_t at = 0;
            for (const char16_t* p = entry + nameLen + 1; p < end; p++) {
                char32_t c = *p;
                if (c >= kHighSurrogates && c < kLowSurrogates && p + 1 < end)
                    c = kAboveSurrogates + ((c - kHighSurrogates) << kSurrogateBits) +
                        (*++p - kLowSurrogates);
                if (!PutUtf8(c, out, size, &at)) return false;
            }
            out[at] = 0;
            return at > 0;
        }
        entry = end + 1;
    }
    return false;
}

// A sheet made on Windows may name its files in another letter case than
// they have: the one name in the folder that differs only so, put in place of
// the last part of `unixPath`.
bool FindOtherCase(char* unixPath) {
    char* slash = std::strrchr(unixPath, '/');
    char* name = slash ? slash + 1 : unixPath;
    if (slash) *slash = 0;
    DIR* dir = opendir(slash ? (slash == unixPath ? "/" : unixPath) : ".");
    if (slash) *slash = '/';
    if (!dir) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name) != 0) continue;
        std::memcpy(name, entry->d_name, std::strlen(name));
        found = true;
        break;
    }
    closedir(dir);
    return found;
}

} // namespace

SystemFile OpenForReading(const char* path, unsigned long* error) {
    char unixPath[kUnixPathBytes];
    if (!UnixPath(path, unixPath)) {
        *error = ENAMETOOLONG;
        return kNoFile;
    }
    int fd = open(unixPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && FindOtherCase(unixPath))
        fd = open(unixPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) *error = unsigned(errno);
    return fd < 0 ? kNoFile : fd;
}

bool ReadAt(SystemFile file, uint64_t offset, void* dst, uint32_t bytes) {
    char* to = static_cast<char*>(dst);
    while (bytes) {
        ssize_t got = pread(int(file), to, bytes, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got, offset += uint64_t(got), bytes -= uint32_t(got);
    }
    return true;
}

bool SizeOf(SystemFile file, uint64_t* bytes) {
    off_t end = lseek(int(file), 0, SEEK_END);
    if (end < 0) return false;
    *bytes = uint64_t(end);
    return true;
}

void CloseFile(SystemFile file) {
    close(int(file));
}

bool StampOf(const char* path, FileStamp* stamp) {
    char unixPath[kUnixPathBytes];
    struct stat st;
    if (!UnixPath(path, unixPath) || stat(unixPath, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    stamp->size = uint64_t(st.st_size);
    stamp->time = uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec);
    return true;
}

// Without a log there is no debugger to tell: the line goes nowhere.
void AppendToFile(const char* path, const char* text, size_t bytes) {
    char unixPath[kUnixPathBytes];
    if (!path[0] || !UnixPath(path, unixPath)) return;
    int fd = open(unixPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogMode);
    if (fd < 0) return;
    ssize_t put = write(fd, text, bytes);
    (void)put; // a log line that cannot be written is lost, like the ASPI door's
    close(fd);
}

bool ReadEnvironment(const char* name, char* out, size_t size) {
    if (const char16_t* env = WineEnvironment()) return FromWineEnvironment(env, name, out, size);
    const char* value = std::getenv(name);
    return value && value[0] && size_t(std::snprintf(out, size, "%s", value)) < size;
}

bool SamePath(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

void EnterLock() {
    pthread_mutex_lock(&g_lock);
}

void LeaveLock() {
    pthread_mutex_unlock(&g_lock);
}

} // namespace vdrive
