// CUE sheets for BIN images: the parser and the layout of the tracks on the
// disc. Plain C++ without Windows, so it can be exercised natively.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vdrive {

constexpr int kMaxTracks = 99;
constexpr int kMaxCueFiles = kMaxTracks;
constexpr int kMaxCueName = 260;
constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kFramesPerSecond = 75;
constexpr uint32_t kSecondsPerMinute = 60;
constexpr int kCueMessageChars = 160;
constexpr uint32_t kMaxDiscSectors = 1u << 30; // what LayOutDisc accepts in all

enum class TrackMode : uint8_t { Audio, Mode1Raw };

// A place in the image: a frame offset within one of the sheet's FILEs.
struct CuePos {
    int file;
    uint32_t frame;
};

struct CueTrack {
    int number;
    int line; // where the TRACK line stands, for messages
    TrackMode mode;
    bool hasPregap; // INDEX 00 given
    bool hasStart;  // INDEX 01 given
    CuePos pregap;
    CuePos start;
};

struct CueSheet {
    int fileCount;
    char files[kMaxCueFiles][kMaxCueName];
    int fileLines[kMaxCueFiles];
    int trackCount;
    CueTrack tracks[kMaxTracks];
};

struct CueError {
    int line; // 0 when the fault is not on one line
    char message[kCueMessageChars];
};

// Parses a sheet held in memory. FILE "name" BINARY, TRACK nn AUDIO | MODE1/2352,
// INDEX nn mm:ss:ff; REM, TITLE, PERFORMER and the like are skipped. Anything
// else, or anything out of order, fails with the line and a message.
bool ParseCueSheet(const char* text, size_t length, CueSheet* sheet, CueError* error);

struct DiscTrack {
    int number;
    TrackMode mode;
    uint32_t pregapStart; // first sector recorded for this track (INDEX 00 or 01)
    uint32_t start;       // INDEX 01, the address the TOC lists
};

// The disc as a drive sees it: LBA 0 is the first sector of the first FILE and
// the FILEs follow each other; the lead-out is the total sector count.
struct DiscLayout {
    int trackCount;
    DiscTrack tracks[kMaxTracks];
    uint32_t leadOut;
    int fileCount;
    uint32_t fileStart[kMaxCueFiles + 1]; // fileStart[fileCount] == leadOut
};

// Places the sheet's tracks given the size in bytes of each of its files.
bool LayOutDisc(const CueSheet& sheet, const uint64_t* fileBytes, DiscLayout* layout,
                CueError* error);

// The track whose TOC range [start, next start) holds `lba`, or -1 (an index
// into layout.tracks). Sectors before the first track's start count as its own.
int TrackIndexOf(const DiscLayout& layout, uint32_t lba);

// The track whose recorded sectors (from its pregap on) hold `lba`: decides the
// sector's mode.
int RecordedTrackIndexOf(const DiscLayout& layout, uint32_t lba);

} // namespace vdrive
