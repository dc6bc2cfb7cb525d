// Checks on what the program produced: the audio it played and the wave files
// it saved, against the frame pattern of the test discs.
#pragma once
#include <string>
#include <vector>

#include "deck_harness.h"

namespace deck_test {

constexpr size_t kWaveHeaderBytes = 44;

// A saved file: a 44-byte RIFF/WAVE header for 44100 Hz 16-bit stereo PCM whose
// sizes match the file, and whole CD frames behind it. Empty when valid,
// otherwise what is wrong.
std::string WaveFileProblems(const Bytes& file);
// The data behind the header of a valid file.
Bytes WaveData(const Bytes& file);

// What is wrong with one opening's audio, empty when nothing: every stereo
// sample that is not silence must belong to the pattern, and the pattern must
// only go forward (no frame played twice or out of order).
std::string AudioProblems(const Bytes& played);
// Whether `played` holds the pattern at all (a frame's worth in one run; music
// matches a stray sample now and then).
bool PlaysPattern(const Bytes& played);

} // namespace deck_test
