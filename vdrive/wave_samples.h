// The samples of a WAVE file that a cue sheet names as a track's frames: the
// data chunk of a RIFF WAVE file in PCM, 44100 Hz, 16-bit stereo, its chunks
// in any order. Plain C++ without Windows, so it can be exercised natively.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vdrive {

struct WaveSamples {
    uint64_t offset; // of the first sample byte in the file
    uint64_t bytes;  // as the data chunk says, or up to the end of a file cut short
};

// Reads `bytes` at `offset` of the file `file`; false when it cannot.
using ReadFileAt = bool (*)(void* file, uint64_t offset, void* dst, uint32_t bytes);

// Finds the samples of a file of `fileBytes` bytes. False, with the reason
// (to follow the file's name in a message), for anything else.
bool FindWaveSamples(ReadFileAt read, void* file, uint64_t fileBytes, WaveSamples* samples,
                     char* reason, size_t reasonSize);

} // namespace vdrive
