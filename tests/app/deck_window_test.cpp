// The deck as a window: what it shows at start, its buttons' states through
// eject, a disc coming in and a wave file, and the clicks and drags a user makes.
#include "deck_fixture.h"

namespace deck_test {
namespace {

using DeckWindowTest = DeckTest;

TEST_F(DeckWindowTest, StartsAtItsPlaceWithTheDiscStoppedOnTrackOne) {
    InsertDisc("150 150 150");
    StartDeck();
    RECT r;
    GetWindowRect(deck_.Deck(), &r);
    EXPECT_EQ(r.left, kDeckScreenX);
    EXPECT_EQ(r.top, kDeckScreenY);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 80);
    char title[64] = {};
    GetWindowTextA(deck_.Deck(), title, sizeof title);
    EXPECT_STREQ(title, "Velmora Tunedeck 1.5");
    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    // Between the children the face is the skin's deck, drawn 1:1 inside the border.
    ScreenGrab grab = GrabScreen(kDeckScreenX, kDeckScreenY, 300, 80);
    for (int y = 1; y < 79; y += 7)
        for (int x : {3, 27, 48, 73, 271, 297})
            EXPECT_EQ(grab.At(kDeckScreenX + x, kDeckScreenY + y), SkinPixel("IDCD_DECK", x, y))
                << x << "," << y;
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.TrackLine(), "[ 3] 00:00  00:02");
    EXPECT_EQ(deck_.TrackNumber(), "01-");
    EXPECT_EQ(deck_.Time(), "00:00");
    EXPECT_EQ(deck_.LitMode(), 0);
}

TEST_F(DeckWindowTest, EjectDisablesTheTransportAndADiscInsertedLaterIsPickedUp) {
    InsertDisc("150 150");
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kEject));
    // With the tray open only the wave-file button (and minimise, exit) is left.
    ASSERT_TRUE(deck_.WaitForFaces(kNoDiscFaces)) << deck_.Faces();
    bool ejected = false;
    for (const td_test::VLogLine& l : drive_.Commands())
        ejected |= l.cdb.size() > 4 && l.cdb[0] == 0x1B && (l.cdb[4] & 3) == 2;
    EXPECT_TRUE(ejected) << "no START STOP UNIT with eject was sent";
    td_test::PumpMessages(500);
    EXPECT_EQ(deck_.Faces(), kNoDiscFaces);

    InsertDisc("150 150 150 150", "second");
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    EXPECT_TRUE(WaitUntil([&] { return deck_.TrackLine() == "[ 4] 00:00  00:02"; }, 5000))
        << deck_.TrackLine();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForOpenings(1));
    ASSERT_TRUE(WaitForBytes(2352 * 26));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(0)), 1);
}

TEST_F(DeckWindowTest, DuringAWaveFileOnlyStopIsEnabledAndStopEndsIt) {
    InsertDisc("150 150");
    std::string wave = WriteWaveFile("tune.wav", 90000, 3000);
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kPlayWave));
    ASSERT_TRUE(deck_.ChooseFile("Select a file to play", wave));
    ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces)) << deck_.Faces();
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    std::vector<PatternSpan> spans = PatternSpans(td_test::SettledCapture());
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].lba, 90000u);
    EXPECT_LT(spans[0].EndLba(), 90000u + 3000) << "Stop did not end the file";
    // The disc is where it was: Play starts track 1.
    EXPECT_EQ(deck_.TrackNumber(), "01-");
}

TEST_F(DeckWindowTest, AWaveFileThatCannotPlayIsReportedWithItsPath) {
    InsertDisc("150 150");
    std::string bad = td_test::ScratchDir() + "\\notes.wav";
    ASSERT_TRUE(td_test::WriteTextFile(bad, "not a RIFF file at all"));
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlayWave));
    ASSERT_TRUE(deck_.ChooseFile("Select a file to play", bad));
    DeckProcess::Box box;
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Not found wave format");
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Can't Play");
    EXPECT_EQ(box.caption, bad);
    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
}

TEST_F(DeckWindowTest, WithoutADiscAWaveFileStillHasItsStopButton) {
    EmptyDrive();
    std::string wave = WriteWaveFile("tune.wav", 90000, 3000);
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kNoDiscFaces)) << deck_.Faces();
    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(deck_.ClickButton(kPlayWave));
        ASSERT_TRUE(deck_.ChooseFile("Select a file to play", wave));
        ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces))
            << "round " << round << ": " << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kStop));
        ASSERT_TRUE(deck_.WaitForFaces(kNoDiscFaces)) << deck_.Faces();
    }
    EXPECT_EQ(OpeningCount(), 2u);
}

TEST_F(DeckWindowTest, ADoubleClickActsOnce) {
    InsertDisc("150 150");
    StartDeck();
    ASSERT_TRUE(WaitUntil([&] { return deck_.LitMode() == 0; }, 5000));
    ASSERT_TRUE(deck_.DoubleClickButton(kPlayMode));
    EXPECT_TRUE(WaitUntil([&] { return deck_.LitMode() != 0; }, 5000));
    td_test::PumpMessages(400);
    EXPECT_EQ(deck_.LitMode(), 1) << "the second click of a double-click acted too";
}

TEST_F(DeckWindowTest, TheDeckIsDraggedByItsFace) {
    InsertDisc("150 150");
    StartDeck();
    // A point of the face that no child covers.
    ASSERT_TRUE(deck_.Drag(60, 65, 160, 115));
    RECT r = {};
    EXPECT_TRUE(WaitUntil(
        [&] {
            GetWindowRect(deck_.Deck(), &r);
            return r.left == kDeckScreenX + 100 && r.top == kDeckScreenY + 50;
        },
        5000))
        << "deck at " << r.left << "," << r.top;
}

TEST_F(DeckWindowTest, MinimiseIconisesTheDeckAndExitEndsTheProgram) {
    InsertDisc("3000 150");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond / 2));
    ASSERT_TRUE(deck_.ClickButton(kMinimise));
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, 5000));
    ShowWindow(deck_.Deck(), SW_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return deck_.Faces() == kPlayingFaces; }, 5000)) << deck_.Faces();
    DWORD code = 1;
    ASSERT_TRUE(deck_.Quit(10000, &code));
    EXPECT_EQ(code, 0u);
    Bytes played = td_test::SettledCapture();
    std::vector<PatternSpan> spans = PatternSpans(played);
    ASSERT_FALSE(spans.empty());
    EXPECT_LT(spans.back().EndLba(), TrackStart(2) - kEndMargin) << "the music went on";
}

} // namespace
} // namespace deck_test
