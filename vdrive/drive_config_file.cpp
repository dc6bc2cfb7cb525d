// Reading the virtual drive's INI file; the parsing is in drive_config.cpp.
#include "vdrive/drive_config.h"

#include <cstdio>

#include "vdrive/paths.h"
#include "vdrive/platform.h"

namespace vdrive {

namespace {

constexpr uint64_t kMaxIniBytes = 1 << 20;

} // namespace

bool LoadDriveConfig(const char* iniPath, DriveConfig* config, ConfigLog log, void* ctx) {
    unsigned long error;
    FileOwner f(OpenForReading(iniPath, &error));
    uint64_t size = 0;
    if (!f.Valid() || !SizeOf(f.Get(), &size) || size > kMaxIniBytes) return false;
    HeapBlock text{size_t(size)};
    if (!text.As<char>() || (size && !ReadAt(f.Get(), 0, text.As<char>(), uint32_t(size))))
        return false;
    char dir[kMaxConfigPath];
    std::snprintf(dir, sizeof dir, "%s", iniPath);
    size_t folder = FolderPrefixLength(dir);
    dir[folder ? folder - 1 : 0] = 0; // the folder without its separator
    ParseDriveConfig(text.As<char>(), size_t(size), dir, config, log, ctx);
    return true;
}

} // namespace vdrive
