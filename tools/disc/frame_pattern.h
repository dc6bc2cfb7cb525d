// The test pattern that fills audio frames of generated discs: every stereo
// sample encodes the frame's address and the sample's place in it, so a frame
// that is dropped, repeated, shifted or silenced shows up in what was played.
#pragma once
#include <cstddef>
#include <cstdint>

namespace td_disc {

constexpr uint32_t kFrameBytes = 2352;
constexpr uint32_t kFrameSamples = 588; // stereo samples of 16 bits
constexpr uint32_t kStereoBytes = 4;
constexpr uint32_t kFramesPerSecond = 75;
// Past this address a frame's samples may repeat those of another (over seven hours).
constexpr uint32_t kMaxPatternLba = 2000000;

// Stereo sample `sample` (0-587) of frame `lba`: left channel in the low half.
// Never zero.
uint32_t PatternSample(uint32_t lba, uint32_t sample);

// Fills one frame (2352 bytes, little-endian samples) with the pattern of `lba`.
void FillFrame(uint32_t lba, uint8_t* frame);
void FillFrames(uint32_t lba, uint32_t count, uint8_t* dst);

struct PatternPos {
    uint32_t lba;
    uint32_t offset; // byte offset within the frame, a multiple of 4
};

// Which frame and offset the stereo sample at `data` (4 bytes) came from.
bool LocateSample(const uint8_t* data, PatternPos* pos);

// How many bytes from the start of `data` continue the pattern without a break
// (whole stereo samples); 0 when the first sample is not a pattern sample.
// `start` receives where the run begins.
size_t PatternRun(const uint8_t* data, size_t bytes, PatternPos* start);

} // namespace td_disc
