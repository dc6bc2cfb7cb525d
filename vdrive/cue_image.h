// A disc image loaded from a cue sheet: its layout and its open BIN files.
#pragma once
#include <cstddef>

#include "vdrive/platform.h"
#include "vdrive/scsi_target.h"

namespace vdrive {

constexpr int kImageErrorChars = 400;

class CueImage : public ImageFiles {
  public:
    // Reads the sheet, opens its BINs and lays out the disc; nullptr with a
    // reason in `error` when any of that fails.
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
};

} // namespace vdrive
