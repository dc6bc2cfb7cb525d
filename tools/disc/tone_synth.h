// A pleasant tone sequence for demo discs: a slow pentatonic melody over a
// soft bass, different for every track, computed sample by sample so that any
// frame can be made on its own.
#pragma once
#include <cstdint>

namespace td_disc {

// Stereo sample `sample` of track `track` (1-99) that lasts `trackSamples`
// samples; left channel in the low half, 16-bit little-endian each.
uint32_t ToneSample(int track, uint32_t sample, uint32_t trackSamples);

} // namespace td_disc
