// A test with the real program: a virtual drive (with or without a disc), the
// deck started on it, and what it played read back from the capture.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deck_harness.h"
#include "support/vdrive_fixture.h"

namespace deck_test {

// Button faces, one per button 0-12 ('+' enabled, '-' disabled).
constexpr char kStoppedFaces[] = "++--+++++++++";
constexpr char kPlayingFaces[] = "--++++++-+-++";
constexpr char kPausedFaces[] = "+-++-------++";
constexpr char kWaveFileFaces[] = "---+-------++";
constexpr char kNoDiscFaces[] = "+----------++";

// Button ids.
enum : int {
    kPlayWave = 0,
    kPlay,
    kPause,
    kStop,
    kPreviousTrack,
    kBack30,
    kForward30,
    kNextTrack,
    kEject,
    kPlayMode,
    kSaveTrack,
    kMinimise,
    kExit
};
constexpr int kLeftSlider = 100, kRightSlider = 101;
constexpr int kStopIcon = 2, kPauseIcon = 1, kPlayIcon = 0;
constexpr uint32_t kEndMargin = 20;
constexpr size_t kBytesPerSecond = 176400;

class DeckTest : public ::testing::Test {
  protected:
    // Puts a disc made from mkdisc's words in the drive (the first call adds the drive).
    void InsertDisc(const std::string& description, const std::string& name = "disc");
    void EmptyDrive();
    void StartDeck();

    // What each device opening of the program played, in order.
    static std::vector<Bytes> Openings();
    static size_t OpeningCount();
    bool WaitForOpenings(size_t count, DWORD timeoutMs = 20000);
    // Bytes captured so far, and waiting until there are at least `bytes`.
    static size_t CaptureBytes();
    bool WaitForBytes(size_t bytes, DWORD timeoutMs = 20000);
    // The track that an opening started in (by the first frame it played), 0 for none.
    int TrackPlayed(const Bytes& opening) const;
    uint32_t TrackStart(int track) const;
    // A wave file of `frames` CD frames holding the pattern from `lba` on.
    std::string WriteWaveFile(const std::string& name, uint32_t lba, uint32_t frames);

    td_test::VirtualDrive drive_;
    td_test::VDisc disc_;
    DeckProcess deck_;
};

} // namespace deck_test
