// A wave file's text: a LIST chunk of type INFO, which goes after the data
// chunk so that the samples stay at byte 44.
#pragma once
#include <windows.h>

constexpr int kWaveInfoChars = 128; // of one text, with its terminator

// Each text empty, and the track 0, when not known.
struct WaveInfo {
    char title[kWaveInfoChars];     // INAM
    char performer[kWaveInfoChars]; // IART
    char album[kWaveInfoChars];     // IPRD
    int track;                      // ITRK
};

class CdDrive;
// The CD-Text of a track of the disc, and its number.
WaveInfo TrackWaveInfo(const CdDrive& disc, int track);

// Room for the chunk of any WaveInfo.
constexpr DWORD kWaveInfoChunkBytes = 12 + 4 * (8 + kWaveInfoChars);

// Writes the LIST chunk with a subchunk for each text known; returns its
// bytes, even, 0 (no chunk) when neither title, performer nor album is known.
DWORD BuildInfoChunk(const WaveInfo& info, BYTE* out);
