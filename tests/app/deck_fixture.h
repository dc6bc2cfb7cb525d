// A test with the real program: a virtual drive (with or without a disc), the
// deck started on it, and what it played and saved checked against the frame
// pattern of the test discs.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/deck.h"
#include "deck_harness.h"
#include "support/vdrive_fixture.h"
#include "tools/disc/frame_pattern.h"

namespace deck_test {

// Button faces, one per button 0-12 ('+' enabled, '-' disabled).
constexpr char kStoppedFaces[] = "++--+++++++++";
constexpr char kPlayingFaces[] = "--++++++-+-++";
constexpr char kPausedFaces[] = "+-++-------++";
constexpr char kWaveFileFaces[] = "---+-------++";
constexpr char kNoDiscFaces[] = "+----------++";
constexpr char kSavingFaces[] = "-----------++";

constexpr int kToggleX = 59, kToggleY = 43; // deck pixels, the link toggle's middle
constexpr int kStopIcon = 2, kPauseIcon = 1, kPlayIcon = 0;

constexpr char kPlayTitle[] = "Select a file to play";
constexpr char kSaveTitle[] = "Select a file to save";
constexpr char kSavingTitle[] = "Saving Track #";
constexpr char kCannotReadCd[] = "Can't Read the CD";
// The warning after a save that could not read some frames alike twice.
constexpr char kInexactSaveText[] = "The drive could not read these places of the track the same "
                                    "way twice, so the file may differ from the disc there:";

constexpr uint32_t kFrameBytes = td_disc::kFrameBytes;
constexpr uint32_t kBlockFrames = 26;
constexpr uint32_t kEndMargin = 20;
constexpr size_t kBytesPerSecond = 176400;
constexpr int kHangMs = 11000;    // past the deck's 10 s wait for a command
constexpr DWORD kShownMs = 20000; // for the deck to show what the drive did

// One run of the test pattern in captured audio.
struct PatternSpan {
    uint64_t start; // its first byte, counted in the pattern from frame 0 on
    size_t bytes;
    uint32_t Lba() const { return uint32_t(start / kFrameBytes); }
    uint32_t EndLba() const { return uint32_t((start + bytes) / kFrameBytes); }
};
// Every run of the pattern in order: a run that goes on where the one before
// it stopped (even with silence between) is the same run. `stray` receives
// where the first audio that is neither silence nor pattern lies, or SIZE_MAX.
std::vector<PatternSpan> PatternSpans(const Bytes& played, size_t* stray = nullptr);

// What is wrong with one opening's audio, empty when nothing: every stereo
// sample that is not silence must belong to the pattern, and the pattern must
// only go forward (no frame played twice or out of order).
std::string AudioProblems(const Bytes& played);
// Whether `played` holds the pattern at all (a frame's worth in one run; music
// matches a stray sample now and then).
bool PlaysPattern(const Bytes& played);

// A saved file: the canonical 44-byte header of 44100 Hz 16-bit stereo PCM
// whose sizes match the file, and whole CD frames behind it. Empty when valid,
// otherwise what is wrong.
std::string WaveFileProblems(const Bytes& file);
// The data behind the header of a valid file.
Bytes WaveData(const Bytes& file);

class DeckTest : public ::testing::Test {
  protected:
    // Puts a disc made from mkdisc's words in the drive, or none for "" (the
    // first call adds the drive).
    void InsertDisc(const std::string& description, const std::string& name = "disc");
    // The drive without faults, the tray closed.
    void HealDrive();
    // Starts the deck and waits until its buttons show the disc stopped, or no disc.
    void StartDeck();

    // What each device opening of the program played, in order.
    static std::vector<Bytes> Openings();
    static size_t OpeningCount() { return size_t(td_test::CaptureOpenings()); }
    static size_t CaptureBytes() { return td_test::CaptureSize(); }
    bool WaitForOpenings(size_t count, DWORD timeoutMs = 20000);
    bool WaitForBytes(size_t bytes, DWORD timeoutMs = 20000);
    // The track that an opening started in (by the first frame it played), 0 for none.
    int TrackPlayed(const Bytes& opening) const;
    uint32_t TrackStart(int track) const;

    // A wave file of `frames` CD frames holding the pattern from `lba` on.
    std::string WriteWaveFile(const std::string& name, uint32_t lba, uint32_t frames);
    bool PlayWaveFile(const std::string& path);
    bool SaveTrackAs(const std::string& path);
    // Every message box the deck shows until none comes for `quietMs`, each closed.
    std::vector<DeckProcess::Box> TakeBoxes(DWORD quietMs);

    td_test::VirtualDrive drive_;
    td_test::VDisc disc_;
    DeckProcess deck_;
};

} // namespace deck_test
