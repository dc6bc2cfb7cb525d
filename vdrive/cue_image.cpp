#include "vdrive/cue_image.h"

#include "vdrive/cd_text_packs.h"
#include "vdrive/paths.h"
#include "vdrive/wave_samples.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace vdrive {

namespace {

constexpr uint64_t kMaxCueBytes = 1 << 20;

bool IsAbsolute(const char* p) {
    return (p[0] && p[1] == ':') || p[0] == '\\' || p[0] == '/';
}

bool ReadSystemFile(void* file, uint64_t offset, void* dst, uint32_t bytes) {
    return ReadAt(*static_cast<SystemFile*>(file), offset, dst, bytes);
}

// The packs of the sheet's CDTEXTFILE, in place of those of its texts.
bool ReadCdTextFile(const char* dir, const CueSheet& sheet, DiscLayout* layout, char* error,
                    size_t errorSize) {
    char path[kMaxCueNameBytes];
    const char* name = sheet.cdTextFile;
    int n = std::snprintf(path, sizeof path, "%s%s", IsAbsolute(name) ? "" : dir, name);
    unsigned long code = 0;
    FileOwner file(n > 0 && n < int(sizeof path) ? OpenForReading(path, &code) : kNoFile);
    uint8_t bytes[kCdTextHeaderBytes + kMaxCdTextPacks * kCdTextPackBytes];
    uint64_t size = 0;
    if (!file.Valid() || !SizeOf(file.Get(), &size) || size > sizeof bytes ||
        !ReadAt(file.Get(), 0, bytes, uint32_t(size)) ||
        !TakeCdTextFile(bytes, size_t(size), layout)) {
        std::snprintf(error, errorSize, "line %d: \"%s\" holds no CD-Text packs (error %lu)",
                      sheet.cdTextFileLine, name, code);
        return false;
    }
    return true;
}

} // namespace

CueImage::CueImage() : layout_(), fileCount_(0), files_(), sampleOffsets_() {}

CueImage::~CueImage() {
    for (int i = 0; i < fileCount_; i++) CloseFile(files_[i]);
}

CueImage* CueImage::Load(const char* cuePath, char* error, size_t errorSize) {
    unsigned long code = 0;
    FileOwner cue(OpenForReading(cuePath, &code));
    if (!cue.Valid()) {
        std::snprintf(error, errorSize, "cannot open the cue sheet (error %lu)", code);
        return nullptr;
    }
    uint64_t size = 0;
    if (!SizeOf(cue.Get(), &size) || size > kMaxCueBytes) {
        std::snprintf(error, errorSize, "the cue sheet is too large (%llu bytes)",
                      (unsigned long long)size);
        return nullptr;
    }
    HeapBlock text{size_t(size)};
    HeapBlock sheetBlock(sizeof(CueSheet));
    CueSheet* sheet = sheetBlock.As<CueSheet>();
    if (!text.As<char>() || !sheet) {
        std::snprintf(error, errorSize, "out of memory");
        return nullptr;
    }
    if (size && !ReadAt(cue.Get(), 0, text.As<char>(), uint32_t(size))) {
        std::snprintf(error, errorSize, "cannot read the cue sheet");
        return nullptr;
    }
    // A sheet in UTF-16 is read as the same sheet in UTF-8.
    size_t utf8Bytes = Utf8BytesOfSheet(text.As<char>(), size_t(size));
    HeapBlock utf8{utf8Bytes};
    if (!utf8.As<char>()) {
        std::snprintf(error, errorSize, "out of memory");
        return nullptr;
    }
    const char* sheetText = text.As<char>();
    size_t sheetBytes = size_t(size);
    if (utf8Bytes) {
        sheetBytes = Utf16SheetToUtf8(sheetText, sheetBytes, utf8.As<char>());
        sheetText = utf8.As<char>();
    }
    CueError cueError;
    if (!ParseCueSheet(sheetText, sheetBytes, sheet, &cueError)) {
        std::snprintf(error, errorSize, "line %d: %s", cueError.line, cueError.message);
        return nullptr;
    }

    CueImage* image = new (std::nothrow) CueImage();
    if (!image) {
        std::snprintf(error, errorSize, "out of memory");
        return nullptr;
    }
    char dir[kMaxCueNameBytes];
    std::snprintf(dir, sizeof dir, "%s", cuePath);
    dir[FolderPrefixLength(dir)] = 0; // the folder with its separator, ready for a name
    uint64_t sizes[kMaxCueFiles];
    for (int f = 0; f < sheet->fileCount; f++) {
        char path[kMaxCueNameBytes];
        const char* name = sheet->files[f];
        int n = std::snprintf(path, sizeof path, "%s%s", IsAbsolute(name) ? "" : dir, name);
        code = 0;
        SystemFile file = n > 0 && n < int(sizeof path) ? OpenForReading(path, &code) : kNoFile;
        if (file == kNoFile) {
            std::snprintf(error, errorSize, "line %d: cannot open \"%s\" (error %lu)",
                          sheet->fileLines[f], name, code);
            delete image;
            return nullptr;
        }
        image->files_[image->fileCount_++] = file;
        if (!SizeOf(file, &sizes[f])) sizes[f] = 0;
        if (sheet->fileTypes[f] != FileType::Wave) continue;
        WaveSamples samples;
        char reason[kCueMessageChars];
        if (!FindWaveSamples(ReadSystemFile, &file, sizes[f], &samples, reason, sizeof reason)) {
            std::snprintf(error, errorSize, "line %d: \"%s\" %s", sheet->fileLines[f], name,
                          reason);
            delete image;
            return nullptr;
        }
        image->sampleOffsets_[f] = samples.offset;
        sizes[f] = samples.bytes;
    }
    if (!LayOutDisc(*sheet, sizes, &image->layout_, &cueError)) {
        if (cueError.line)
            std::snprintf(error, errorSize, "line %d: %s", cueError.line, cueError.message);
        else
            std::snprintf(error, errorSize, "%s", cueError.message);
        delete image;
        return nullptr;
    }
    if (sheet->cdTextFile[0] && !ReadCdTextFile(dir, *sheet, &image->layout_, error, errorSize)) {
        delete image;
        return nullptr;
    }
    return image;
}

bool CueImage::Read(int file, uint64_t offset, void* dst, uint32_t bytes) {
    return file >= 0 && file < fileCount_ &&
           ReadAt(files_[file], sampleOffsets_[file] + offset, dst, bytes);
}

} // namespace vdrive
