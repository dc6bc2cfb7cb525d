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
// A track whose CONTROL field has this bit holds data, never to be read as audio.
constexpr uint8_t kControlDataTrack = 0x04;
// READ TOC format 2 (the full TOC): a 4-byte header, then 11-byte
// descriptors, points A0 to A2 of every session and one for each track.
constexpr size_t kFullTocDescriptorSize = 11;
constexpr int kMaxSessions = kMaxTrackNumber;
constexpr size_t kFullTocBufferSize =
    kTocHeaderSize + kFullTocDescriptorSize * (3 * kMaxSessions + kMaxTrackNumber);

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

// Where the sessions before the last one end: the last track of each and the
// address of its lead-out.
struct SessionEnds {
    int count;
    int lastTrack[kMaxSessions];
    uint32_t leadOut[kMaxSessions];
};

// Reads them from a full TOC reply of kFullTocBufferSize bytes (MSF points A1
// and A2 of each session but the last); a reply that names none, or that
// cannot be read, gives none: the disc counts as one session.
void ReadSessionEnds(const uint8_t* reply, SessionEnds* ends);

// A loaded table as the player keeps it: the converted reply (kTocBufferSize
// bytes, or null before one was allocated), what its header said, and where
// the sessions before the last end (null: one session). The table is indexed
// by track number as if the first track were number 1.
struct TocTable {
    const uint8_t* reply;
    int first;
    int last;
    uint32_t leadOut;
    const SessionEnds* sessions;
};

// Start of `track`: the first track's for 0 or below, the lead-out past the last.
uint32_t TocTrackStart(const TocTable& toc, int track);
// The first frame past `track` (first..last): the next track's start, or for
// the last track of a session before the last one, that session's lead-out
// (when it lies within the track).
uint32_t TocTrackEnd(const TocTable& toc, int track);
// Frames from the start of `track` to its end; 0 outside first..last.
uint32_t TocTrackLength(const TocTable& toc, int track);
// Whether `track` (first..last) is an audio track, by its CONTROL field.
bool TocTrackIsAudio(const TocTable& toc, int track);
uint32_t TocDiscEnd(uint32_t leadOut);
// The track whose range holds `address` (unsigned comparisons), 0 if none:
// the gap between two sessions belongs to no track.
int TocTrackOfAddress(const TocTable& toc, uint32_t address);

// A set of track numbers (0-99).
class TrackSet {
  public:
    void Add(int track);
    bool Has(int track) const;
    int Count(int first, int last) const; // members within first..last
    // The nearest member from `track` on, going by `step` (1 or -1) and
    // wrapping from one end of first..last to the other; 0 when there is none.
    int Nearest(int track, int step, int first, int last) const;

  private:
    static constexpr int kWordBits = 32;
    uint32_t bits_[(kMaxTrackNumber + kWordBits) / kWordBits] = {};
};

// The audio tracks of a loaded table.
TrackSet TocAudioTracks(const TocTable& toc);
