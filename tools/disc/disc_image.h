// Disc images to test with: a short description of the tracks becomes a CUE
// sheet and its BIN (or WAVE) files. Audio frames hold the test pattern of
// their address (or, for a demo disc, a synthesized tune); data tracks hold
// MODE1/2352 or MODE2/2352 sectors. Sessions, pregaps and postgaps lie where
// the virtual drive lays them, so an address means the same to both.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace td_disc {

constexpr int kMaxTracks = 99;

struct TrackPlan {
    uint32_t frames = 0;  // from INDEX 01 to the postgap, the next track's pregap or the lead-out
    uint32_t pregap = 0;  // frames before INDEX 01: INDEX 00, or PREGAP with silentPregaps
    uint32_t postgap = 0; // POSTGAP: silence after the track, in no file
    bool data = false;    // MODE1/2352 (or MODE2/2352) instead of AUDIO
    bool mode2 = false;
    int session = 1;
};

struct DiscPlan {
    std::vector<TrackPlan> tracks;
    bool filePerTrack = false;  // one file per track (NAME-01.bin ...) instead of NAME.bin
    bool music = false;         // a tune in the audio tracks instead of the pattern
    bool wave = false;          // audio in WAVE files (NAME.wav), data tracks in BINs of their own
    bool silentPregaps = false; // pregaps as PREGAP (silence in no file) instead of INDEX 00
    // CD-Text: TITLE and PERFORMER lines of the disc ([0]) and of each track.
    std::vector<std::string> titles, performers;
};

struct TrackLayout {
    int number;
    uint32_t pregapStart; // address of INDEX 00 or PREGAP (== start without a pregap)
    uint32_t start;       // address of INDEX 01, as the TOC lists it
    uint32_t frames;
    uint32_t postgap;
    bool data;
    bool mode2;
    int session;
};

// Where everything lies: LBA 0 is the first frame of the image, the lead-out
// its frame count.
struct DiscLayout {
    std::vector<TrackLayout> tracks;
    uint32_t leadOut = 0;
};

DiscLayout LayOut(const DiscPlan& plan);

// Reads a description in mkdisc's words, e.g. {"9000", "6000/150+75", "--session",
// "data:1500", "--pregap", "150", "--split", "--music", "--title", "2", "Song"}.
// On failure `error` says why.
bool ParseDiscArgs(const std::vector<std::string>& args, DiscPlan* plan, std::string* error);

// The same from one string of words separated by spaces, a word in double
// quotes holding any but those.
bool ParseDiscDescription(const std::string& text, DiscPlan* plan, std::string* error);

// Writes the cue sheet and its BIN files beside it.
bool WriteDiscImage(const std::string& cuePath, const DiscPlan& plan, std::string* error);

// The 2352 bytes that the image holds at `lba` (lba < leadOut).
void ImageFrame(const DiscPlan& plan, const DiscLayout& layout, uint32_t lba, uint8_t* frame);

// Fills a MODE1/2352 (MODE2/2352) sector: sync, header with the address and
// mode, the pattern as user data.
void FillDataFrame(uint32_t lba, uint8_t* frame, bool mode2 = false);

} // namespace td_disc
