// Playing the disc through the deck's buttons: the order of tracks by play
// mode, stop and play, the track and 30-second skips, and what the status
// display shows meanwhile.
#include "deck_fixture.h"

#include "cd/aspi.h"

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

TEST_F(PlayTest, KeysActAsTheirButtonsAndNotWhileTheButtonIsDisabled) {
    constexpr uint32_t kSkipFrames = 2250;
    InsertDisc("9000 9000");
    StartDeck();
    ASSERT_TRUE(deck_.Keys("Right Right Left m"));
    EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "02-" && deck_.LitMode() == 1; }));
    ASSERT_TRUE(deck_.Keys("m m space"));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
    EXPECT_EQ(deck_.LitMode(), 0);
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    // Playing: eject, save and the wave-file button are disabled, and so are their keys.
    ASSERT_TRUE(deck_.Keys("e r o shift+Right"));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + kBytesPerSecond));
    EXPECT_EQ(deck_.Faces(), kPlayingFaces);
    EXPECT_EQ(deck_.Dialog(kSaveTitle), nullptr);
    EXPECT_EQ(deck_.Dialog(kPlayTitle), nullptr);
    ASSERT_TRUE(deck_.Keys("space"));
    ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces));
    ASSERT_TRUE(deck_.Keys("space"));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
    ASSERT_TRUE(deck_.Keys("s"));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    std::vector<PatternSpan> spans = PatternSpans(td_test::ReadCaptureOpening(0));
    ASSERT_GE(spans.size(), 2u);
    EXPECT_EQ(spans[0].Lba(), TrackStart(2));
    EXPECT_EQ(spans[1].Lba(), spans[0].EndLba() - kBlockFrames + kSkipFrames);
    // A click leaves the keys with the deck.
    ASSERT_TRUE(deck_.ClickButton(kCmdNextTrack));
    ASSERT_TRUE(deck_.Keys("Escape"));
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, 5000));
}

// The media keys as global hot keys: acting once however long they are
// held, and never behind a dialog.
class HotKeyTest : public DeckTest {
  protected:
    void FocusAnotherWindow() {
        other_ = CreateWindowExA(0, "STATIC", "Another program", WS_POPUP | WS_VISIBLE, 400, 300,
                                 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetForegroundWindow(other_);
        ASSERT_EQ(td_test::RunLinuxCommand(
                      "xdotool search --name '^Another program$' windowfocus --sync"),
                  0);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == other_; }, 5000));
    }
    HWND other_ = nullptr;
};

TEST_F(HotKeyTest, PlayPauseHeldDownActsOnce) {
    InsertDisc("3000 3000");
    StartDeck();
    FocusAnotherWindow();
    ASSERT_EQ(td_test::RunLinuxCommand("xdotool keydown XF86AudioPlay"), 0);
    bool playing = bool(deck_.WaitForFaces(kPlayingFaces));
    // The system repeats a held key many times a second.
    for (int i = 0; i < 15 && playing; i++, td_test::PumpMessages(100))
        playing = deck_.Faces() == kPlayingFaces;
    ASSERT_EQ(td_test::RunLinuxCommand("xdotool keyup XF86AudioPlay"), 0);
    EXPECT_TRUE(playing) << "the held key paused or resumed";
    td_test::PumpMessages(300); // a hand takes that long to press again
    ASSERT_TRUE(deck_.Keys("XF86AudioPlay")); // released, it acts again
    EXPECT_TRUE(deck_.WaitForFaces(kPausedFaces));
}

TEST_F(HotKeyTest, NoKeyActsBehindADialogNorWhileATrackIsSaved) {
    InsertDisc("1500 150");
    drive_.devices[0].delayMs = 40; // a save long enough to press a key in
    ASSERT_TRUE(drive_.Apply());
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kCmdPlayWave));
    ASSERT_TRUE(WaitUntil([&] { return deck_.Dialog(kPlayTitle) != nullptr; }));
    ASSERT_TRUE(deck_.Keys("XF86AudioPlay"));
    ASSERT_TRUE(deck_.CancelFile(kPlayTitle));
    ASSERT_TRUE(SaveTrackAs(td_test::ScratchDir() + "\\one.wav")) << "the disc plays";
    ASSERT_TRUE(WaitUntil([&] { return deck_.Dialog(kSavingTitle) != nullptr; }));
    ASSERT_TRUE(deck_.Keys("XF86AudioPlay"));
    ASSERT_TRUE(deck_.Dialog(kSavingTitle)) << "the save was over before the key";
    ASSERT_TRUE(WaitUntil([&] { return !deck_.Dialog(kSavingTitle); }, 30000));
    td_test::PumpMessages(1000);
    EXPECT_EQ(OpeningCount(), 0u) << "the disc played after the save";
}

// With the deck focused, and with another window of the session focused
// (the test's own), where the deck holds the media keys as hot keys.
class MediaKeyTest : public HotKeyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MediaKeyTest, PlayPauseStopAndTheTrackKeysWorkAsTheirButtons) {
    InsertDisc("1500 1500 1500");
    StartDeck();
    if (GetParam()) FocusAnotherWindow();
    ASSERT_TRUE(deck_.Keys("XF86AudioNext"));
    EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "02-"; }));
    ASSERT_TRUE(deck_.Keys("XF86AudioPlay"));
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond));
    ASSERT_TRUE(deck_.Keys("XF86AudioPlay"));
    ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces));
    // Paused, the track buttons are disabled: so is the key.
    ASSERT_TRUE(deck_.Keys("XF86AudioPrev"));
    td_test::PumpMessages(500);
    EXPECT_EQ(deck_.TrackNumber(), "02-");
    ASSERT_TRUE(deck_.Keys("XF86AudioStop"));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(0)), 2);
    if (other_) {
        EXPECT_EQ(GetForegroundWindow(), other_) << "the deck took the focus";
    }
}

INSTANTIATE_TEST_SUITE_P(Focus, MediaKeyTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "OnAnotherWindow" : "OnTheDeck");
                         });

// Discs as people own them: a CD Extra (a data session after its audio), a
// mixed-mode disc (data first) and a single. Every mode plays only their audio
// tracks, whole; no READ CD meets a data track or the gap before a session; a
// data track cannot be saved. (Without pregaps a track's frames end where the
// TOC ends it, the last before a session at that session's lead-out.)
class OwnedDiscTest : public DeckTest, public ::testing::WithParamInterface<const char*> {
  protected:
    // Plays (in the mode lit) until `more` tracks have started, then stops:
    // the track each of them played.
    std::vector<int> Played(size_t more) {
        size_t before = OpeningCount();
        EXPECT_TRUE(deck_.ClickButton(kCmdPlay));
        EXPECT_TRUE(WaitForOpenings(before + more, 30000));
        int lastOpening = int(before + more) - 1; // its file comes before its first sound
        EXPECT_TRUE(WaitUntil(
            [&] { return td_test::ReadCaptureOpening(lastOpening).size() >= kFrameBytes; }));
        EXPECT_TRUE(deck_.ClickButton(kCmdStop));
        EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces));
        std::vector<int> tracks;
        for (size_t i = before; i < before + more; i++)
            tracks.push_back(TrackPlayed(td_test::ReadCaptureOpening(int(i))));
        return tracks;
    }
};

TEST_P(OwnedDiscTest, PlaysStepsAndSavesItsAudioTracksOnly) {
    InsertDisc(GetParam());
    StartDeck();
    std::vector<const td_disc::TrackLayout*> audio;
    for (const td_disc::TrackLayout& t : disc_.layout.tracks)
        if (!t.data) audio.push_back(&t);
    const int first = audio.front()->number, last = audio.back()->number;
    if (first > 1) { // a mixed-mode disc opens on its data track
        std::string path = td_test::ScratchDir() + "\\data.wav";
        ASSERT_TRUE(SaveTrackAs(path));
        std::vector<DeckProcess::Box> boxes = TakeBoxes(1500);
        EXPECT_TRUE(boxes.size() == 1 && boxes[0].text == kCannotReadCd);
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForOpenings(audio.size()));
    td_test::SettledCapture(1000);
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    ASSERT_EQ(OpeningCount(), audio.size());
    for (size_t i = 0; i < audio.size(); i++)
        EXPECT_TRUE(td_test::ReadCaptureOpening(int(i)) ==
                    td_test::ExpectedFrames(disc_, audio[i]->start, audio[i]->frames - kEndMargin))
            << i;
    for (auto [button, track] : {std::pair(kCmdNextTrack, first), {kCmdPreviousTrack, last}}) {
        ASSERT_TRUE(deck_.ClickButton(button));
        std::string shown = "0" + std::to_string(track) + "-";
        EXPECT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == shown; }, 5000)) << shown;
    }
    // Random: never the track just played (a single plays once); repeat: in turn.
    ASSERT_TRUE(deck_.ClickButton(kCmdPlayMode));
    std::vector<int> random = Played(audio.size() == 1 ? 1 : 4);
    ASSERT_TRUE(deck_.ClickButton(kCmdPlayMode));
    std::vector<int> repeat = Played(audio.size() + 2);
    int previous = audio.size() == 1 ? 0 : last;
    for (int t : random) {
        EXPECT_TRUE(t >= first && t <= last && t != previous) << t;
        previous = t;
    }
    for (size_t i = 1; i < repeat.size(); i++)
        EXPECT_EQ(repeat[i], repeat[i - 1] == last ? first : repeat[i - 1] + 1) << i;
    for (const td_test::VLogLine& l : drive_.Commands()) {
        if (l.cdb[0] != 0xBE) continue; // READ CD
        uint32_t lba = uint32_t(l.cdb[2] << 24 | l.cdb[3] << 16 | l.cdb[4] << 8 | l.cdb[5]);
        uint32_t end = lba + uint32_t(l.cdb[6] << 16 | l.cdb[7] << 8 | l.cdb[8]);
        EXPECT_TRUE(l.status == SS_COMP && lba >= audio.front()->start &&
                    end <= audio.back()->start + audio.back()->frames)
            << l.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Discs, OwnedDiscTest,
                         ::testing::Values("150 150 --session data:150", "data:150 150 150", "225"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0   ? "CdExtra"
                                                : info.index == 1 ? "MixedMode"
                                                                  : "Single");
                         });

} // namespace
} // namespace deck_test
