#include "vdrive/cue_image.h"

#include "vdrive/paths.h"
#include "vdrive/win_raii.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace vdrive {

namespace {

constexpr DWORD kMaxCueBytes = 1 << 20;
bool IsAbsolute(const char* p) {
    return (p[0] && p[1] == ':') || p[0] == '\\' || p[0] == '/';
}

} // namespace

CueImage::CueImage() : layout_(), fileCount_(0), files_() {}

CueImage::~CueImage() {
    for (int i = 0; i < fileCount_; i++) CloseHandle(files_[i]);
}

CueImage* CueImage::Load(const char* cuePath, char* error, size_t errorSize) {
    FileHandle cue(CreateFileA(cuePath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!cue.Valid()) {
        std::snprintf(error, errorSize, "cannot open the cue sheet (error %lu)", GetLastError());
        return nullptr;
    }
    DWORD size = GetFileSize(cue.Get(), nullptr), got = 0;
    if (size > kMaxCueBytes) {
        std::snprintf(error, errorSize, "the cue sheet is too large (%lu bytes)", size);
        return nullptr;
    }
    HeapBlock text(size);
    HeapBlock sheetBlock(sizeof(CueSheet));
    CueSheet* sheet = sheetBlock.As<CueSheet>();
    if (!text.As<char>() || !sheet) {
        std::snprintf(error, errorSize, "out of memory");
        return nullptr;
    }
    if (size && (!ReadFile(cue.Get(), text.As<char>(), size, &got, nullptr) || got != size)) {
        std::snprintf(error, errorSize, "cannot read the cue sheet");
        return nullptr;
    }
    CueError cueError;
    if (!ParseCueSheet(text.As<char>(), size, sheet, &cueError)) {
        std::snprintf(error, errorSize, "line %d: %s", cueError.line, cueError.message);
        return nullptr;
    }

    CueImage* image = new (std::nothrow) CueImage();
    if (!image) {
        std::snprintf(error, errorSize, "out of memory");
        return nullptr;
    }
    char dir[MAX_PATH];
    lstrcpynA(dir, cuePath, MAX_PATH);
    dir[FolderPrefixLength(dir)] = 0; // the folder with its separator, ready for a name
    uint64_t sizes[kMaxCueFiles];
    for (int f = 0; f < sheet->fileCount; f++) {
        char path[MAX_PATH];
        const char* name = sheet->files[f];
        int n = std::snprintf(path, sizeof path, "%s%s", IsAbsolute(name) ? "" : dir, name);
        HANDLE h = n > 0 && n < MAX_PATH
                       ? CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
        LARGE_INTEGER bytes;
        if (h == INVALID_HANDLE_VALUE) {
            std::snprintf(error, errorSize, "line %d: cannot open \"%s\" (error %lu)",
                          sheet->fileLines[f], name, GetLastError());
            delete image;
            return nullptr;
        }
        image->files_[image->fileCount_++] = h;
        if (!GetFileSizeEx(h, &bytes)) bytes.QuadPart = 0;
        sizes[f] = uint64_t(bytes.QuadPart);
    }
    if (!LayOutDisc(*sheet, sizes, &image->layout_, &cueError)) {
        if (cueError.line)
            std::snprintf(error, errorSize, "line %d: %s", cueError.line, cueError.message);
        else
            std::snprintf(error, errorSize, "%s", cueError.message);
        delete image;
        return nullptr;
    }
    return image;
}

bool CueImage::Read(int file, uint64_t offset, void* dst, uint32_t bytes) {
    if (file < 0 || file >= fileCount_) return false;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    DWORD got = 0;
    return SetFilePointerEx(files_[file], at, nullptr, FILE_BEGIN) &&
           ReadFile(files_[file], dst, bytes, &got, nullptr) && got == bytes;
}

} // namespace vdrive
