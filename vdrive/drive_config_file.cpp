// Reading the virtual drive's INI file; the parsing is in drive_config.cpp.
#include "vdrive/drive_config.h"

#include "vdrive/paths.h"
#include "vdrive/win_raii.h"

namespace vdrive {

namespace {

constexpr DWORD kMaxIniBytes = 1 << 20;
static_assert(kMaxConfigPath == MAX_PATH, "paths in the configuration are Windows paths");

} // namespace

bool LoadDriveConfig(const char* iniPath, DriveConfig* config, ConfigLog log, void* ctx) {
    FileHandle f(CreateFileA(iniPath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.Valid()) return false;
    DWORD size = GetFileSize(f.Get(), nullptr), got = 0;
    if (size > kMaxIniBytes) return false;
    HeapBlock text(size);
    if (!text.As<char>() ||
        (size && (!ReadFile(f.Get(), text.As<char>(), size, &got, nullptr) || got != size)))
        return false;
    char dir[MAX_PATH];
    lstrcpynA(dir, iniPath, MAX_PATH);
    size_t folder = FolderPrefixLength(dir);
    dir[folder ? folder - 1 : 0] = 0; // the folder without its separator
    ParseDriveConfig(text.As<char>(), size, dir, config, log, ctx);
    return true;
}

} // namespace vdrive
