// Playing the disc through the deck's buttons: the order of tracks by play
// mode, stop and play, the track and 30-second skips, and what the status
// display shows meanwhile.
#include "deck_fixture.h"

namespace deck_test {
namespace {

class PlayTest : public DeckTest {
  protected:
    // Plays `openings` tracks in play mode `mode` (from sequential, by presses
    // of the mode button) and returns the track each started in.
    std::vector<int> PlayInMode(int mode, size_t openings) {
        for (int press = 0; press < mode; press++) EXPECT_TRUE(deck_.ClickButton(kCmdPlayMode));
        EXPECT_TRUE(WaitUntil([&] { return deck_.LitMode() == mode; })) << deck_.LitMode();
        EXPECT_TRUE(deck_.ClickButton(kCmdPlay));
        EXPECT_TRUE(WaitForOpenings(openings, 30000));
        EXPECT_TRUE(deck_.ClickButton(kCmdStop));
        std::vector<int> tracks;
        for (const Bytes& opening : Openings()) tracks.push_back(TrackPlayed(opening));
        tracks.resize(openings);
        return tracks;
    }
};

TEST_F(PlayTest, SequentialPlaysTrackAfterTrackThenStopsAndPlayStartsTheLastAgain) {
    constexpr uint32_t kTrackFrames = 225;
    InsertDisc("225 225 225");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
    // After the last track the deck stops by itself. (Between tracks the
    // buttons show "stopped" for one tick, so the sound decides.)
    ASSERT_TRUE(WaitForOpenings(3));
    td_test::SettledCapture(1000);
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    std::vector<Bytes> played = Openings();
    ASSERT_EQ(played.size(), 3u);
    for (int track = 1; track <= 3; track++) {
        // Each track plays whole, without a break, up to the end margin before the next one.
        std::vector<PatternSpan> spans = PatternSpans(played[track - 1]);
        ASSERT_EQ(spans.size(), 1u) << "track " << track << " played with a break";
        EXPECT_EQ(spans[0].start, uint64_t(TrackStart(track)) * kFrameBytes);
        EXPECT_EQ(spans[0].bytes, size_t(kTrackFrames - kEndMargin) * kFrameBytes) << track;
    }
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForOpenings(4));
    // The opening's file comes before its sound.
    EXPECT_TRUE(WaitUntil([&] { return TrackPlayed(td_test::ReadCaptureOpening(3)) == 3; }));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
}

TEST_F(PlayTest, RepeatStartsWithTheSecondTrackAndWrapsToTheFirst) {
    InsertDisc("150 150 150");
    StartDeck();
    EXPECT_EQ(PlayInMode(2, 5), (std::vector<int>{2, 3, 1, 2, 3}));
}

TEST_F(PlayTest, RandomNeverStartsTheTrackThatIsCurrent) {
    InsertDisc("150 150 150");
    StartDeck();
    std::vector<int> tracks = PlayInMode(1, 8);
    int previous = 1; // the current track when Play was pressed
    for (int track : tracks) {
        EXPECT_GE(track, 1);
        EXPECT_NE(track, previous);
        previous = track;
    }
}

TEST_F(PlayTest, PreviousAndNextStepAndWrapAndStopThenPlayStartsTheTrackAgain) {
    // Track 3 starts at frame 24000 (05:20) and lasts 19500 frames (04:20).
    InsertDisc("12000 12000 19500 75 75 75 75 75 75 75 75 75");
    StartDeck();
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.TrackLine(), "[12] 00:00  02:40");
    const std::pair<int, std::string> steps[] = {
        {kCmdNextTrack, "02-"}, {kCmdPreviousTrack, "01-"}, {kCmdPreviousTrack, "12-"},
        {kCmdNextTrack, "01-"}, {kCmdNextTrack, "02-"},     {kCmdNextTrack, "03-"}};
    for (const auto& step : steps) {
        ASSERT_TRUE(deck_.ClickButton(step.first));
        EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == step.second; }, 5000))
            << "expected " << step.second << ", shows " << deck_.TrackNumber();
    }
    EXPECT_EQ(deck_.TrackLine(), "[12] 05:20  04:20");
    EXPECT_EQ(deck_.Time(), "00:00");
    EXPECT_EQ(deck_.StateIcon(), kStopIcon);
    // Play starts the track stepped to; Stop stops it, and Play starts it again.
    ASSERT_TRUE(deck_.ClickButton(kCmdPreviousTrack));
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    std::vector<PatternSpan> first = PatternSpans(td_test::SettledCapture());
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].Lba(), TrackStart(2));
    EXPECT_LT(first[0].EndLba(), TrackStart(3) - kEndMargin) << "Stop did not stop";
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForOpenings(2));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
    std::vector<PatternSpan> again = PatternSpans(td_test::ReadCaptureOpening(1));
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].Lba(), TrackStart(2));
    // The image is 100 MB: it goes at once.
    for (const char* part : {".cue", ".bin"})
        DeleteFileA((td_test::ScratchDir() + "\\disc" + part).c_str());
}

TEST_F(PlayTest, ThirtySecondSkipsMoveThePlayingStream) {
    constexpr uint32_t kSkipFrames = 2250;
    InsertDisc("9000 9000");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kCmdForward30));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kCmdBack30));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
    std::vector<PatternSpan> spans = PatternSpans(td_test::SettledCapture());
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].Lba(), 0u);
    // Each skip goes from the last block read, after the blocks already read have played.
    EXPECT_EQ(spans[1].Lba(), spans[0].EndLba() - kBlockFrames + kSkipFrames);
    EXPECT_EQ(spans[2].Lba(), spans[1].EndLba() - kBlockFrames - kSkipFrames);
}

TEST_F(PlayTest, TheDisplayShowsTheTimeIntoTheTrackAndPauseHoldsIt) {
    InsertDisc("300 2250");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kCmdNextTrack));
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
    ASSERT_TRUE(WaitUntil([&] {
        return deck_.StateIcon() == kPlayIcon && deck_.Time() >= "00:02";
    })) << deck_.Time();
    EXPECT_EQ(deck_.TrackLine(), "[ 2] 00:04  00:30");
    EXPECT_EQ(deck_.TrackNumber(), "02-");
    EXPECT_EQ(deck_.Time().substr(0, 3), "00:");

    ASSERT_TRUE(deck_.ClickButton(kCmdPause));
    ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces));
    ASSERT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kPauseIcon; }, 5000));
    td_test::PumpMessages(1200);
    std::string held = deck_.Time();
    td_test::PumpMessages(2200);
    EXPECT_EQ(deck_.Time(), held) << "the time moved while paused";
    size_t heard = CaptureBytes();

    // Pause again resumes; the wish stays "paused", so the track plays out and
    // nothing follows it.
    ASSERT_TRUE(deck_.ClickButton(kCmdPause));
    ASSERT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kPlayIcon; }, 5000));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces, 30000));
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.Time(), "00:00");
    td_test::PumpMessages(600);
    EXPECT_EQ(OpeningCount(), 2u) << "a track followed the resumed one";
    std::vector<PatternSpan> resumed = PatternSpans(td_test::ReadCaptureOpening(1));
    ASSERT_FALSE(resumed.empty());
    EXPECT_EQ(resumed.back().EndLba(), disc_.layout.leadOut - kEndMargin);
    EXPECT_GT(CaptureBytes(), heard);
}

} // namespace
} // namespace deck_test
