// The status display as the user sees it: the track line, the big track
// number, the time into the track and the transport icon.
#include "deck_fixture.h"

namespace deck_test {
namespace {

using DisplayTest = DeckTest;

TEST_F(DisplayTest, StoppedOnTrackThreeOfTwelveShowsItsStartAndLength) {
    // Track 3 starts at frame 24000 (05:20) and lasts 19500 frames (04:20).
    InsertDisc("12000 12000 19500 75 75 75 75 75 75 75 75 75");
    StartDeck();
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.TrackLine(), "[12] 00:00  02:40");
    ASSERT_TRUE(deck_.ClickButton(kNextTrack));
    ASSERT_TRUE(deck_.ClickButton(kNextTrack));
    EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "03-"; }, 5000))
        << deck_.TrackNumber();
    EXPECT_EQ(deck_.TrackLine(), "[12] 05:20  04:20");
    EXPECT_EQ(deck_.Time(), "00:00");
    EXPECT_EQ(deck_.StateIcon(), kStopIcon);
    // The image is 100 MB: it goes at once.
    for (const char* part : {".cue", ".bin"})
        DeleteFileA((td_test::ScratchDir() + "\\disc" + part).c_str());
}

TEST_F(DisplayTest, PlayingShowsTheTimeIntoTheTrackAndPauseHoldsIt) {
    InsertDisc("300 2250");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kNextTrack));
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
    ASSERT_TRUE(
        WaitUntil([&] { return deck_.StateIcon() == kPlayIcon && deck_.Time() >= "00:02"; }, 10000))
        << deck_.Time();
    EXPECT_EQ(deck_.TrackLine(), "[ 2] 00:04  00:30");
    EXPECT_EQ(deck_.TrackNumber(), "02-");
    EXPECT_EQ(deck_.Time().substr(0, 3), "00:");

    ASSERT_TRUE(deck_.ClickButton(kPause));
    ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces)) << deck_.Faces();
    ASSERT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kPauseIcon; }, 5000));
    td_test::PumpMessages(1200);
    std::string held = deck_.Time();
    td_test::PumpMessages(2200);
    EXPECT_EQ(deck_.Time(), held) << "the time moved while paused";
    size_t heard = td_test::ReadCapture().size();

    // Pause again resumes; the wish stays "paused", so the track plays out and
    // nothing follows it.
    ASSERT_TRUE(deck_.ClickButton(kPause));
    ASSERT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kPlayIcon; }, 5000));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces, 30000)) << deck_.Faces();
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.Time(), "00:00");
    td_test::PumpMessages(600);
    EXPECT_EQ(OpeningCount(), 2u) << "a track followed the resumed one";
    std::vector<PatternSpan> resumed = PatternSpans(td_test::ReadCaptureOpening(1));
    ASSERT_FALSE(resumed.empty());
    EXPECT_EQ(resumed.back().EndLba(), disc_.layout.leadOut - kEndMargin);
    EXPECT_GT(td_test::ReadCapture().size(), heard);
}

} // namespace
} // namespace deck_test
