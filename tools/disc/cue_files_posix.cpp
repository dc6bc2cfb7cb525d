// The file part of the virtual drive's system layer, natively, for cuecheck:
// the names of a sheet written on Windows may separate folders with '\'.
#include "vdrive/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vdrive {

SystemFile OpenForReading(const char* path, unsigned long* error) {
    std::string name(path);
    for (char& c : name)
        if (c == '\\') c = '/';
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
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

} // namespace vdrive
