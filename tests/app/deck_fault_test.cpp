// The drive failing under the running deck, at each moment a user meets it:
// stopped with a disc, playing, paused, saving a track, playing a wave file.
// Each case asserts what the deck then shows, what was played and saved, the
// boxes shown, and that a disc plays again once the drive is well.
#include "deck_checks.h"
#include "deck_fixture.h"

#include <sstream>

namespace deck_test {
namespace {

enum class Moment { kIdle, kPlaying, kPaused, kSaving, kWaveFile };
enum class Fault { kTrayOpened, kTrayClosedAgain, kDiscSwapped, kReadErrors, kSlowDrive, kHang };

struct FaultCase {
    Moment moment;
    Fault fault;
};

constexpr char kDisc[] = "1500 1500 1500";
// The disc swapped in: another layout and music instead of the pattern, so
// any of its audio among the first disc's shows.
constexpr char kOtherDisc[] = "900 900 900 900 --music";
constexpr char kOtherTrackCount[] = "[ 4]";
constexpr char kSaveTitle[] = "Select a file to save";
constexpr char kPlayTitle[] = "Select a file to play";
constexpr char kCannotReadCd[] = "Can't Read the CD";
constexpr char kSavingTitle[] = "Saving Track #1";
constexpr uint32_t kTrackFrames = 1500;
constexpr uint32_t kBlockFrames = 26;
constexpr uint32_t kFrameBytes = 2352;
// Unreadable frames: ahead of a playback that has just begun, and ahead of
// the first blocks of a save.
constexpr uint32_t kPlayErrorLba = 300;
constexpr uint32_t kSaveErrorLba = 1000;
constexpr int kErrorFrames = 10;
constexpr int kSlowMs = 250;
constexpr int kSaveDelayMs = 40; // a save long enough to be caught in the middle
constexpr int kHangMs = 11000;   // past the deck's 10 s wait for a command
constexpr DWORD kHangReachedMs = 1000;
constexpr DWORD kHangRecoveryMs = 30000;
constexpr uint32_t kWaveLba = 100000;
constexpr uint32_t kWaveFrames = 300; // 4 s
constexpr DWORD kTrayNoticedMs = 700;

const char* MomentName(Moment m) {
    static const char* const names[] = {"Idle", "Playing", "Paused", "Saving", "WaveFile"};
    return names[int(m)];
}
const char* FaultName(Fault f) {
    static const char* const names[] = {"TrayOpened", "TrayClosedAgain", "DiscSwapped",
                                        "ReadErrors", "SlowDrive",       "Hang"};
    return names[int(f)];
}

uint32_t FirstBadBlock(uint32_t errorLba) {
    return errorLba / kBlockFrames * kBlockFrames;
}

class DeckFaultTest : public DeckTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    void SetUp() override {
        InsertDisc(kDisc);
        if (Param().moment == Moment::kSaving) drive_.devices[0].delayMs = kSaveDelayMs;
        ASSERT_TRUE(drive_.Apply());
        wave_ = WriteWaveFile("tune.wav", kWaveLba, kWaveFrames);
        StartDeck();
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    }

    static FaultCase Param() { return GetParam(); }

    void Reach(Moment moment) {
        switch (moment) {
            case Moment::kIdle: break;
            case Moment::kPlaying:
            case Moment::kPaused:
                ASSERT_TRUE(deck_.ClickButton(kPlay));
                ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
                ASSERT_TRUE(WaitForBytes(kBytesPerSecond / 2));
                if (moment == Moment::kPlaying) break;
                ASSERT_TRUE(deck_.ClickButton(kPause));
                ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces)) << deck_.Faces();
                td_test::SettledCapture();
                break;
            case Moment::kSaving:
                ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
                ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, savePath_));
                ASSERT_TRUE(WaitUntil([&] { return ProgressShown(); })) << "no progress dialog";
                break;
            case Moment::kWaveFile:
                ASSERT_TRUE(deck_.ClickButton(kPlayWave));
                ASSERT_TRUE(deck_.ChooseFile(kPlayTitle, wave_));
                ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces)) << deck_.Faces();
                break;
        }
    }

    bool ProgressShown() const {
        for (HWND d : deck_.Dialogs()) {
            char title[64] = {};
            GetWindowTextA(d, title, sizeof title);
            if (std::string(title) == kSavingTitle) return true;
        }
        return false;
    }

    void Inject(Fault fault) {
        td_test::VDevice& d = drive_.devices[0];
        switch (fault) {
            case Fault::kTrayOpened: d.trayOpen = true; break;
            case Fault::kTrayClosedAgain:
                d.trayOpen = true;
                ASSERT_TRUE(drive_.Apply());
                WaitUntil([] { return false; }, kTrayNoticedMs);
                d.trayOpen = false;
                break;
            case Fault::kDiscSwapped:
                other_ = td_test::MakeDisc(kOtherDisc, "other");
                d.image = other_.cuePath;
                break;
            case Fault::kReadErrors: {
                uint32_t lba = Param().moment == Moment::kSaving ? kSaveErrorLba : kPlayErrorLba;
                d.readErrors = std::to_string(lba) + "-" + std::to_string(lba + kErrorFrames);
                break;
            }
            case Fault::kSlowDrive: d.delayMs = kSlowMs; break;
            case Fault::kHang:
                d.hangMs = kHangMs;
                ASSERT_TRUE(drive_.Apply());
                // The next command the deck sends takes the hang; later ones do not.
                WaitUntil([] { return false; }, kHangReachedMs);
                d.hangMs = 0;
                break;
        }
        ASSERT_TRUE(drive_.Apply());
        if (fault == Fault::kHang) {
            EXPECT_TRUE(WaitUntil([&] { return deck_.Answers(); }, kHangRecoveryMs))
                << "the deck stays stuck after the hang";
        }
    }

    // Everything the deck showed in message boxes until it is quiet; fails on any
    // box but the expected ones.
    void TakeBoxes(std::vector<DeckProcess::Box>* boxes, DWORD quietMs = 1500) {
        DeckProcess::Box box;
        while (deck_.TakeMessageBox(&box, quietMs)) boxes->push_back(box);
    }

    // After the fault: the drive is made well again and a disc must play.
    void ExpectRecovers() {
        td_test::VDevice& d = drive_.devices[0];
        d.trayOpen = false;
        d.readErrors.clear();
        d.delayMs = 0;
        d.hangMs = 0;
        ASSERT_TRUE(drive_.Apply());
        ASSERT_TRUE(deck_.Answers(kHangRecoveryMs));
        ASSERT_TRUE(WaitUntil(
            [&] {
                std::string f = deck_.Faces();
                return f == kStoppedFaces || f == kPlayingFaces || f == kPausedFaces;
            },
            20000))
            << "the disc did not come back: " << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
        td_test::SettledCapture();
        size_t before = OpeningCount();
        ASSERT_TRUE(deck_.ClickButton(kPlay));
        EXPECT_TRUE(WaitForOpenings(before + 1)) << "Play plays nothing after the fault";
        EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
        std::vector<DeckProcess::Box> boxes;
        TakeBoxes(&boxes, 300);
        EXPECT_TRUE(boxes.empty()) << "a box while recovering: " << boxes[0].text;
    }

    // Every opening that played the test disc's pattern is clean; the other
    // disc's music may only stand in openings of its own.
    void ExpectCleanAudio() {
        std::vector<Bytes> openings = Openings();
        for (size_t i = 0; i < openings.size(); i++) {
            if (!PlaysPattern(openings[i])) continue; // the other disc's own playback
            EXPECT_EQ(AudioProblems(openings[i]), "") << "opening " << i;
        }
    }

    // The saved file is valid and holds the first `frames` frames of track 1
    // of the test disc, nothing else.
    void ExpectSaved(uint32_t frames) {
        Bytes file = td_test::ReadFileBytes(savePath_);
        ASSERT_EQ(WaveFileProblems(file), "");
        Bytes data = WaveData(file);
        EXPECT_EQ(data.size(), size_t(frames) * kFrameBytes);
        EXPECT_TRUE(data == td_test::ExpectedFrames(disc_, 0, uint32_t(data.size() / kFrameBytes)))
            << "the file holds frames that are not the track's";
    }

    void ExpectSaveFailedWithBox(const std::vector<DeckProcess::Box>& boxes) {
        ASSERT_EQ(boxes.size(), 1u) << "boxes: " << boxes.size();
        EXPECT_EQ(boxes[0].text, kCannotReadCd);
        EXPECT_EQ(boxes[0].caption, savePath_);
        Bytes file = td_test::ReadFileBytes(savePath_);
        ASSERT_EQ(WaveFileProblems(file), "");
        ExpectSaved(uint32_t(WaveData(file).size() / kFrameBytes));
        EXPECT_LT(WaveData(file).size(), size_t(kTrackFrames - kEndMargin) * kFrameBytes);
    }

    // Track 1 played up to the block that cannot be read, then track 2 from its start.
    void ExpectPlayedUpToTheErrorThenTrack2(int opening) {
        ASSERT_TRUE(WaitForOpenings(size_t(opening) + 2, 20000));
        ASSERT_TRUE(WaitUntil(
            [&] {
                return td_test::ReadCaptureOpening(opening + 1).size() >=
                       kBlockFrames * kFrameBytes;
            },
            20000));
        std::vector<PatternSpan> first = PatternSpans(td_test::ReadCaptureOpening(opening));
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(first[0].EndLba(), FirstBadBlock(kPlayErrorLba));
        EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(opening + 1)), 2);
    }

    bool WaitForSaveOver() {
        return WaitUntil([&] { return !ProgressShown(); }, 60000);
    }

    std::string savePath_ = td_test::ScratchDir() + "\\saved.wav";
    std::string wave_;
    td_test::VDisc other_;
};

TEST_P(DeckFaultTest, ShowsTheFaultKeepsWhatWasDoneAndRecovers) {
    const FaultCase c = Param();
    ASSERT_NO_FATAL_FAILURE(Reach(c.moment));
    ASSERT_NO_FATAL_FAILURE(Inject(c.fault));
    std::vector<DeckProcess::Box> boxes;

    const bool gone = c.fault == Fault::kTrayOpened;
    const bool reloaded = c.fault == Fault::kTrayClosedAgain || c.fault == Fault::kDiscSwapped;
    switch (c.moment) {
        case Moment::kIdle:
            EXPECT_TRUE(deck_.WaitForFaces(gone ? kNoDiscFaces : kStoppedFaces, 20000))
                << deck_.Faces();
            if (c.fault == Fault::kReadErrors) {
                // Play runs up to the unreadable block and goes on with the next track.
                ASSERT_TRUE(deck_.ClickButton(kPlay));
                ExpectPlayedUpToTheErrorThenTrack2(0);
                ASSERT_TRUE(deck_.ClickButton(kStop));
            }
            break;
        case Moment::kPlaying:
            if (gone) {
                EXPECT_TRUE(deck_.WaitForFaces(kNoDiscFaces, 20000)) << deck_.Faces();
                td_test::SettledCapture();
                EXPECT_EQ(OpeningCount(), 1u);
                EXPECT_TRUE(deck_.WaitForFaces(kNoDiscFaces, 500)) << "played on without a disc";
            } else if (reloaded) {
                // Play is still wished, so the disc now in the drive starts from its first track.
                ASSERT_TRUE(WaitForOpenings(2, 20000)) << deck_.Faces();
                EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
                Bytes again = td_test::ReadCaptureOpening(1);
                if (c.fault == Fault::kTrayClosedAgain) {
                    EXPECT_EQ(TrackPlayed(again), 1);
                } else {
                    EXPECT_FALSE(PlaysPattern(again)) << "the old disc plays on";
                }
            } else if (c.fault == Fault::kReadErrors) {
                ExpectPlayedUpToTheErrorThenTrack2(0);
            } else {
                // Slow or stuck for a while, it plays on (after a hang perhaps from the
                // first track again, as a failed status read counts as the disc gone).
                size_t had = CaptureBytes();
                EXPECT_TRUE(WaitForBytes(had + kBytesPerSecond, 20000)) << "stopped playing";
                EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << deck_.Faces();
            }
            break;
        case Moment::kPaused:
            if (gone) {
                EXPECT_TRUE(deck_.WaitForFaces(kNoDiscFaces, 20000)) << deck_.Faces();
            } else if (reloaded) {
                EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces, 20000)) << deck_.Faces();
            } else if (c.fault == Fault::kHang) {
                // The pause survives unless the stuck command was the state poll.
                EXPECT_TRUE(WaitUntil([&] {
                    std::string f = deck_.Faces();
                    return f == kPausedFaces || f == kStoppedFaces;
                })) << deck_.Faces();
            } else {
                EXPECT_TRUE(deck_.WaitForFaces(kPausedFaces)) << deck_.Faces();
                // Resuming plays on from where the pause left, up to what cannot be read.
                size_t had = OpeningCount();
                ASSERT_TRUE(deck_.ClickButton(kPause));
                ASSERT_TRUE(WaitForOpenings(had + 1, 20000));
                if (c.fault == Fault::kReadErrors) {
                    // Pause, not Play, was the last wish: no next track follows.
                    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces, 20000)) << deck_.Faces();
                    std::vector<PatternSpan> resumed = PatternSpans(td_test::SettledCapture());
                    ASSERT_FALSE(resumed.empty());
                    EXPECT_EQ(resumed.back().EndLba(), FirstBadBlock(kPlayErrorLba));
                    EXPECT_EQ(OpeningCount(), had + 1);
                }
            }
            break;
        case Moment::kSaving:
            ASSERT_TRUE(WaitForSaveOver()) << "the save never ends";
            TakeBoxes(&boxes);
            if (gone || reloaded || c.fault == Fault::kReadErrors) {
                ExpectSaveFailedWithBox(boxes);
                if (c.fault == Fault::kReadErrors) ExpectSaved(FirstBadBlock(kSaveErrorLba));
                EXPECT_TRUE(deck_.WaitForFaces(gone ? kNoDiscFaces : kStoppedFaces, 20000))
                    << deck_.Faces();
            } else {
                EXPECT_TRUE(boxes.empty()) << boxes[0].text;
                ExpectSaved(kTrackFrames - kEndMargin);
                EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces, 20000)) << deck_.Faces();
            }
            break;
        case Moment::kWaveFile: {
            // The file plays to its end whatever the drive does.
            ASSERT_TRUE(WaitForBytes(size_t(kWaveFrames) * kFrameBytes, 40000));
            EXPECT_TRUE(deck_.WaitForFaces(gone ? kNoDiscFaces : kStoppedFaces, 20000))
                << deck_.Faces();
            std::vector<PatternSpan> spans = PatternSpans(td_test::ReadCaptureOpening(0));
            ASSERT_EQ(spans.size(), 1u);
            EXPECT_EQ(spans[0].lba, kWaveLba);
            EXPECT_EQ(spans[0].EndLba(), kWaveLba + kWaveFrames);
            break;
        }
    }
    // The deck reads the new disc's table (four tracks), not the old one's.
    if (c.fault == Fault::kDiscSwapped) {
        EXPECT_TRUE(WaitUntil([&] {
            return deck_.TrackLine().compare(0, 4, kOtherTrackCount) == 0;
        })) << "the old disc's table is kept: "
            << deck_.TrackLine();
    }
    TakeBoxes(&boxes, 300);
    if (c.moment != Moment::kSaving || !(gone || reloaded || c.fault == Fault::kReadErrors)) {
        EXPECT_TRUE(boxes.empty()) << "unexpected box: " << boxes[0].text;
    }
    ExpectCleanAudio();
    ExpectRecovers();
    ExpectCleanAudio();
}

std::vector<FaultCase> AllCases() {
    std::vector<FaultCase> cases;
    for (Moment m :
         {Moment::kIdle, Moment::kPlaying, Moment::kPaused, Moment::kSaving, Moment::kWaveFile})
        for (Fault f : {Fault::kTrayOpened, Fault::kTrayClosedAgain, Fault::kDiscSwapped,
                        Fault::kReadErrors, Fault::kSlowDrive, Fault::kHang})
            cases.push_back({m, f});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, DeckFaultTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(MomentName(info.param.moment)) +
                                    FaultName(info.param.fault);
                         });

} // namespace
} // namespace deck_test
