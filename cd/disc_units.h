// The units in which the whole program measures a disc. Addresses are logical
// block addresses in frames, as READ TOC gives them in LBA form.
#pragma once
#include <windows.h>

#include "cd/toc.h" // kDiscEndMargin, with the rest of the addressing

constexpr DWORD kFrameBytes = 2352; // 588 stereo samples of 16 bits
constexpr DWORD kFramesPerSecond = 75;
constexpr DWORD kFramesPerMinute = 60 * kFramesPerSecond;
constexpr DWORD kTransferFrames = 26; // one READ CD, one streamer block
constexpr DWORD kTransferBytes = kTransferFrames * kFrameBytes;
constexpr DWORD kC2PointerBytes = kFrameBytes / 8; // a bit per byte, set where it may be wrong
constexpr DWORD kTrackEndMargin = 20; // a track's range ends this far before the next track
constexpr DWORD kSkipFrames = 30 * kFramesPerSecond;
