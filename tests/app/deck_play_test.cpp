// Playing the disc through the deck's buttons: the order of tracks by play
// mode, stop and play, the track and 30-second skips.
#include "deck_fixture.h"

namespace deck_test {
namespace {

using PlayTest = DeckTest;

TEST_F(PlayTest, SequentialPlaysTrackAfterTrackThenStopsAndPlayStartsTheLastAgain) {
    InsertDisc("225 225 225");
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
    // After the last track the deck stops by itself. (Between tracks the
    // buttons show "stopped" for one tick, so the sound decides.)
    ASSERT_TRUE(WaitForOpenings(3));
    td_test::SettledCapture(1000);
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    std::vector<Bytes> played = Openings();
    ASSERT_EQ(played.size(), 3u);
    for (int track = 1; track <= 3; track++) {
        std::vector<PatternSpan> spans = PatternSpans(played[track - 1]);
        ASSERT_EQ(spans.size(), 1u) << "track " << track << " played with a break";
        EXPECT_EQ(spans[0].lba, TrackStart(track));
        EXPECT_EQ(spans[0].offset, 0u);
        // Each track plays whole, up to the end margin before the next one.
        EXPECT_EQ(spans[0].bytes, size_t(225 - kEndMargin) * 2352) << "track " << track;
    }
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(4));
    EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(3)), 3);
    ASSERT_TRUE(deck_.ClickButton(kStop));
}

TEST_F(PlayTest, RepeatStartsWithTheSecondTrackAndWrapsToTheFirst) {
    InsertDisc("150 150 150");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlayMode));
    ASSERT_TRUE(deck_.ClickButton(kPlayMode));
    ASSERT_TRUE(WaitUntil([&] { return deck_.LitMode() == 2; })) << deck_.LitMode();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(5));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    std::vector<Bytes> played = Openings();
    int expected[] = {2, 3, 1, 2, 3};
    for (int i = 0; i < 5; i++) EXPECT_EQ(TrackPlayed(played[i]), expected[i]) << "opening " << i;
}

TEST_F(PlayTest, RandomNeverStartsTheTrackThatIsCurrent) {
    InsertDisc("150 150 150");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlayMode));
    ASSERT_TRUE(WaitUntil([&] { return deck_.LitMode() == 1; })) << deck_.LitMode();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(8, 30000));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    std::vector<Bytes> played = Openings();
    int previous = 1; // the current track when Play was pressed
    for (size_t i = 0; i < 8; i++) {
        int track = TrackPlayed(played[i]);
        EXPECT_GE(track, 1) << "opening " << i;
        EXPECT_NE(track, previous) << "opening " << i;
        previous = track;
    }
}

TEST_F(PlayTest, StopThenPlayStartsTheCurrentTrackAgain) {
    InsertDisc("3000 3000");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    Bytes first = td_test::SettledCapture();
    std::vector<PatternSpan> spans = PatternSpans(first);
    ASSERT_FALSE(spans.empty());
    EXPECT_LT(spans.back().EndLba(), TrackStart(2) - kEndMargin) << "Stop did not stop";
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(2));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    std::vector<PatternSpan> again = PatternSpans(td_test::ReadCaptureOpening(1));
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].lba, TrackStart(1));
}

TEST_F(PlayTest, PreviousAndNextStepThroughTheTracksAndWrap) {
    InsertDisc("150 150 150");
    StartDeck();
    ASSERT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "01-"; }));
    struct Step {
        int button;
        const char* shown;
    } steps[] = {{kNextTrack, "02-"},
                 {kPreviousTrack, "01-"},
                 {kPreviousTrack, "03-"},
                 {kNextTrack, "01-"},
                 {kNextTrack, "02-"}};
    for (const Step& s : steps) {
        ASSERT_TRUE(deck_.ClickButton(s.button));
        EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == s.shown; }, 5000))
            << "expected " << s.shown << ", shows " << deck_.TrackNumber();
    }
    // Play starts the track stepped to.
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(1));
    ASSERT_TRUE(WaitForBytes(2352 * 26));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(0)), 2);
}

TEST_F(PlayTest, ThirtySecondSkipsMoveThePlayingStream) {
    InsertDisc("9000 9000");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kForward30));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kBack30));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    std::vector<PatternSpan> spans = PatternSpans(td_test::SettledCapture());
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].lba, 0u);
    // Each skip goes 2250 frames from the last block read (26 frames), after
    // the blocks already read have played.
    EXPECT_EQ(spans[1].lba, spans[0].EndLba() - 26 + 2250);
    EXPECT_EQ(spans[2].lba, spans[1].EndLba() - 26 - 2250);
}

} // namespace
} // namespace deck_test
