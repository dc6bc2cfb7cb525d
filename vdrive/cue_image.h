// A disc image loaded from a cue sheet: its layout and its open files (BINs,
// and WAVE files, whose samples are its frames).
#pragma once
#include <cstddef>

#include "vdrive/platform.h"
#include "vdrive/scsi_target.h"

namespace vdrive {

constexpr int kImageErrorChars = 400;

class CueImage : public ImageFiles {
  public:
    // Reads the sheet, opens its files and lays out the disc; nullptr with a
    // reason (and the sheet's line, where there is one) in `error` when any of
    // that fails.
    static CueImage* Load(const char* cuePath, char* error, size_t errorSize);
    ~CueImage() override;

    const DiscLayout& Layout() const { return layout_; }
    bool Read(int file, uint64_t offset, void* dst, uint32_t bytes) override;

  private:
    CueImage();
    CueImage(const CueImage&) = delete;
    CueImage& operator=(const CueImage&) = delete;

    DiscLayout layout_;
    int fileCount_;
    SystemFile files_[kMaxCueFiles];
    uint64_t sampleOffsets_[kMaxCueFiles]; // where a file's frames begin: a WAVE's data chunk
};

} // namespace vdrive
