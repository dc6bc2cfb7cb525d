// READ TOC replies (LBA form): a 4-byte header, then 8-byte descriptors whose
// index is the track number less one, the lead-out after the last track.
// Standard C++ only, so it also builds natively for fuzzing.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kTocHeaderSize = 4;
constexpr size_t kTocDescriptorSize = 8;
constexpr int kMaxTrackNumber = 99;
constexpr size_t kTocBufferSize = kTocHeaderSize + (kMaxTrackNumber + 1) * kTocDescriptorSize;
// The disc ends this many frames before its lead-out, when it is longer than that.
constexpr uint32_t kDiscEndMargin = 151;

struct TocHeader {
    int first; // header byte 2
    int last;  // header byte 3
};

// Reads the header of a kTocBufferSize reply. False for a reply that names a
// last track above 99, or whose data length does not cover descriptors 0 to
// last (the ones that will be read): those are never read past.
bool CheckTocReply(const uint8_t* reply, TocHeader* header);

// Converts the addresses of descriptors 0 to `last` from big-endian to host
// order in place and returns the lead-out, the address of descriptor `last`.
uint32_t ConvertTocAddresses(uint8_t* reply, int last);

// The (converted) address of descriptor `index`.
uint32_t TocAddress(const uint8_t* reply, int index);

// A loaded table as the player keeps it: the converted reply (kTocBufferSize
// bytes, or null before one was allocated) and what its header said. The
// table is indexed by track number as if the first track were number 1.
struct TocTable {
    const uint8_t* reply;
    int first;
    int last;
    uint32_t leadOut;
};

// Start of `track`: the first track's for 0 or below, the lead-out past the last.
uint32_t TocTrackStart(const TocTable& toc, int track);
// Frames from the start of `track` to the next start; 0 outside first..last.
uint32_t TocTrackLength(const TocTable& toc, int track);
uint32_t TocDiscEnd(uint32_t leadOut);
// The track whose range holds `address` (unsigned comparisons), 0 if none.
int TocTrackOfAddress(const TocTable& toc, uint32_t address);
