// CUE sheets for BIN images: the parser and the layout of the tracks on the
// disc. Plain C++ without Windows, so it can be exercised natively.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vdrive {

constexpr int kMaxTracks = 99;
constexpr int kMaxSessions = kMaxTracks;
constexpr int kMaxCueFiles = kMaxTracks;
// A FILE name's length as Windows counts it (UTF-16 units), and the bytes it
// may take in UTF-8, where one unit takes up to three.
constexpr int kMaxCueName = 260;
constexpr int kMaxCueNameBytes = 3 * kMaxCueName;
constexpr uint32_t kSectorBytes = 2352;
constexpr uint32_t kFramesPerSecond = 75;
constexpr uint32_t kSecondsPerMinute = 60;
constexpr int kCueMessageChars = 160;
constexpr uint32_t kMaxDiscSectors = 1u << 30; // what LayOutDisc accepts in all
// Before the first track of a later session: the lead-out of the one before
// (the first session's is longer) and the lead-in of the new one, never
// readable; then its 150-frame pregap.
constexpr uint32_t kFirstSessionLeadOutFrames = 6750;
constexpr uint32_t kLaterSessionLeadOutFrames = 2250;
constexpr uint32_t kSessionLeadInFrames = 4500;
constexpr uint32_t kStandardPregapFrames = 150;

// The track types of a sheet; a data track's sectors may be held whole (2352
// bytes) or cut to their user data.
enum class TrackMode : uint8_t { Audio, Mode1Raw, Mode2Raw, Mode1Cooked, Mode2Form, CdiRaw };
uint32_t SectorBytesOf(TrackMode mode);

// FLAGS, as they go into the CONTROL field of the TOC and the sub-channel.
constexpr uint8_t kControlPreEmphasis = 0x01;
constexpr uint8_t kControlCopyPermitted = 0x02;
constexpr uint8_t kControlFourChannel = 0x08;
// BINARY: raw little-endian frames. WAVE: the samples of a RIFF WAVE file's
// data chunk, which CueImage finds; the last frame may be short.
enum class FileType : uint8_t { Binary, Wave };

// A place in the image: a frame offset within one of the sheet's FILEs.
struct CuePos {
    int file;
    uint32_t frame;
};

struct CueTrack {
    int number;
    int line;    // where the TRACK line stands, for messages
    int session; // 1 unless a REM SESSION nn came before
    TrackMode mode;
    uint8_t control; // FLAGS
    bool hasPregap;  // INDEX 00 given
    bool hasStart;   // INDEX 01 given
    CuePos pregap;
    CuePos start;
    uint32_t pregapSilence;  // PREGAP: frames on the disc before the track, not in a file
    uint32_t postgapSilence; // POSTGAP: the same after it
};

// CD-Text as a sheet gives it: TITLE, PERFORMER and SONGWRITER of the disc
// (before the first TRACK) and of each track, as the sheet has them (UTF-8 or
// the system's code page); or the raw packs of a CDTEXTFILE.
enum CueTextField { kCueTitle, kCuePerformer, kCueSongwriter, kCueTextFields };
constexpr int kCueTextChars = 160;

struct CueSheet {
    char texts[kMaxTracks + 1][kCueTextFields][kCueTextChars]; // [0] the disc's
    char cdTextFile[kMaxCueNameBytes];                         // empty: none
    int cdTextFileLine;
    int fileCount;
    char files[kMaxCueFiles][kMaxCueNameBytes];
    FileType fileTypes[kMaxCueFiles];
    int fileLines[kMaxCueFiles];
    int trackCount;
    CueTrack tracks[kMaxTracks];
};

struct CueError {
    int line; // 0 when the fault is not on one line
    char message[kCueMessageChars];
};

// Parses a sheet held in memory, UTF-8 (or the system's code page) with or
// without a byte order mark, lines ending in CRLF, LF or CR, a Ctrl-Z at the
// end. FILE "name" BINARY | WAVE, TRACK nn AUDIO | MODE1/2352 | MODE2/2352 |
// MODE1/2048 | MODE2/2336 | CDI/2352, FLAGS, INDEX nn mm:ss:ff, PREGAP and
// POSTGAP mm:ss:ff, REM SESSION nn; other REMs, the CD-Text commands, ISRC and
// the like are skipped. Anything else, or anything out of order, fails with
// the line and a message.
bool ParseCueSheet(const char* text, size_t length, CueSheet* sheet, CueError* error);

// Whether `n` bytes are UTF-8 (else a sheet's text is in the system's code page).
bool IsUtf8(const char* p, size_t n);

// A sheet in UTF-16 (it starts with a byte order mark) takes up to this many
// bytes in UTF-8; any other sheet 0.
size_t Utf8BytesOfSheet(const char* text, size_t length);
// Writes such a sheet as UTF-8 into `out`; returns the bytes written.
size_t Utf16SheetToUtf8(const char* text, size_t length, char* out);

struct DiscTrack {
    int number;
    TrackMode mode;
    int session;
    uint8_t control;
    uint32_t pregapStart; // first sector of the track's pregap (PREGAP, INDEX 00), or INDEX 01
    uint32_t start;       // INDEX 01, the address the TOC lists
};

// A run of sectors and where they come from.
enum class ExtentKind : uint8_t {
    File,      // frames of a FILE, from `fileFrame` (at byte `fileByte`) on
    Silence,   // PREGAP and POSTGAP: zeros
    Unreadable // the lead-out, lead-in and pregap between sessions
};
struct DiscExtent {
    uint32_t start;
    uint32_t frames;
    ExtentKind kind;
    int file;
    uint32_t fileFrame;
    uint64_t fileByte; // the sectors before it in the FILE need not all be 2352 bytes
};
constexpr int kMaxCdTextPacks = 8 * 256; // eight blocks of 256
constexpr int kCdTextPackBytes = 18;
constexpr int kCdTextHeaderBytes = 4;

// Every FILE, cut where gaps come between its tracks, and the gaps.
constexpr int kMaxExtents = kMaxCueFiles + 4 * kMaxTracks + 2;

// The disc as a drive sees it: LBA 0 is the first sector of the first FILE;
// the FILEs follow each other with the gaps the sheet asks for between their
// tracks; the lead-out is the end of the last of them.
struct DiscLayout {
    int trackCount;
    DiscTrack tracks[kMaxTracks];
    uint32_t leadOut;
    int sessionCount;
    int extentCount;
    DiscExtent extents[kMaxExtents]; // in order, with no room between them
    int fileCount;
    uint64_t fileBytes[kMaxCueFiles]; // the bytes of frames each FILE holds
    // READ TOC format 5's reply: a 4-byte header, then the CD-Text packs.
    int cdTextPacks;
    uint8_t cdText[kCdTextHeaderBytes + kMaxCdTextPacks * kCdTextPackBytes];
};

// Places the sheet's tracks given the bytes of frames each of its files holds
// (for a WAVE, its data chunk).
bool LayOutDisc(const CueSheet& sheet, const uint64_t* fileBytes, DiscLayout* layout,
                CueError* error);

// The extent that holds `lba` (below the lead-out), as an index into layout.extents.
int ExtentIndexOf(const DiscLayout& layout, uint32_t lba);

// The track whose TOC range [start, next start) holds `lba`, or -1 (an index
// into layout.tracks). Sectors before the first track's start count as its own.
int TrackIndexOf(const DiscLayout& layout, uint32_t lba);

// The track whose recorded sectors (from its pregap on) hold `lba`: decides the
// sector's mode.
int RecordedTrackIndexOf(const DiscLayout& layout, uint32_t lba);

} // namespace vdrive
