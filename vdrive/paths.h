// Paths as the INI and cue sheets give them: either separator counts.
#pragma once

#include <cstring>

namespace vdrive {

// The length of `path`'s folder with its last separator; 0 for a bare name.
inline size_t FolderPrefixLength(const char* path) {
    const char* back = std::strrchr(path, '\\');
    const char* slash = std::strrchr(path, '/');
    const char* sep = slash > back ? slash : back;
    return sep ? size_t(sep - path) + 1 : 0;
}

} // namespace vdrive
