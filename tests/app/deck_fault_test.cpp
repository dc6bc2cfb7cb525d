// The drive failing under the running deck, at each moment a user meets it:
// stopped with a disc, playing, paused, saving a track, playing a wave file.
// Each case asserts what the deck then shows, what was played and saved, the
// boxes shown, and that a disc plays again once the drive is well.
#include "deck_fixture.h"

#include <algorithm>

namespace deck_test {
namespace {

enum class Moment { kIdle, kPlaying, kPaused, kSaving, kWaveFile };
enum class Fault { kTrayOpened, kTrayClosedAgain, kDiscSwapped, kReadErrors, kSlowDrive, kHang };
constexpr const char* kMomentNames[] = {"Idle", "Playing", "Paused", "Saving", "WaveFile"};
constexpr const char* kFaultNames[] = {"TrayOpened", "TrayClosedAgain", "DiscSwapped",
                                       "ReadErrors", "SlowDrive",       "Hang"};
// So that test listings name the parameters rather than dump their bytes.
void PrintTo(Moment m, std::ostream* os) {
    *os << kMomentNames[int(m)];
}
void PrintTo(Fault f, std::ostream* os) {
    *os << kFaultNames[int(f)];
}

constexpr char kDisc[] = "1500 1500 1500";
constexpr uint32_t kTrackFrames = 1500;
// The disc swapped in: another layout and music instead of the pattern, so
// any of its audio among the first disc's shows.
constexpr char kOtherDisc[] = "900 900 900 900 --music";
constexpr char kOtherTrackCount[] = "[ 4]";
// Unreadable frames: ahead of a playback that has just begun, and some way
// into the track being saved.
constexpr uint32_t kPlayErrorLba = 300, kSaveErrorFrame = 1000, kErrorFrames = 10;
constexpr int kSlowMs = 150;
constexpr int kSaveDelayMs = 40; // a save long enough to be caught in the middle
constexpr DWORD kHangReachedMs = 1000, kHangRecoveryMs = 30000, kTrayNoticedMs = 700;
constexpr DWORD kSaveOverMs = 150000, kWaveOverMs = 40000;
constexpr DWORD kBoxQuietMs = 1500, kNoMoreBoxesMs = 300, kPlayedOnMs = 500;
constexpr uint32_t kWaveLba = 100000, kWaveFrames = 300; // 4 s

constexpr uint8_t kPreventAllow = 0x1E, kReadCd = 0xBE;
constexpr size_t kLockByte = 4;

class DeckFaultTest : public DeckTest,
                      public ::testing::WithParamInterface<std::tuple<Moment, Fault>> {
  protected:
    void SetUp() override {
        InsertDisc(kDisc);
        if (std::get<Moment>(GetParam()) == Moment::kSaving)
            drive_.devices[0].delayMs = kSaveDelayMs;
        ASSERT_TRUE(drive_.Apply());
        wave_ = WriteWaveFile("tune.wav", kWaveLba, kWaveFrames);
        StartDeck();
    }

    void Reach(Moment moment) {
        switch (moment) {
            case Moment::kIdle: break;
            case Moment::kPlaying:
            case Moment::kPaused:
                ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
                ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces));
                ASSERT_TRUE(WaitForBytes(kBytesPerSecond / 2));
                if (moment == Moment::kPlaying) break;
                ASSERT_TRUE(deck_.ClickButton(kCmdPause));
                ASSERT_TRUE(deck_.WaitForFaces(kPausedFaces));
                td_test::SettledCapture();
                break;
            case Moment::kSaving:
                // The current track, the second: every transport button is off meanwhile.
                ASSERT_TRUE(deck_.ClickButton(kCmdNextTrack));
                ASSERT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "02-"; }));
                ASSERT_TRUE(SaveTrackAs(savePath_));
                ASSERT_TRUE(deck_.WaitForFaces(kSavingFaces));
                break;
            case Moment::kWaveFile:
                ASSERT_TRUE(PlayWaveFile(wave_));
                ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces));
                break;
        }
    }

    void Inject(Fault fault) {
        td_test::VDevice& d = drive_.devices[0];
        switch (fault) {
            case Fault::kTrayOpened:
            case Fault::kTrayClosedAgain: d.trayOpen = true; break;
            case Fault::kDiscSwapped:
                other_ = td_test::MakeDisc(kOtherDisc, "other");
                d.image = other_.cuePath;
                break;
            case Fault::kReadErrors: {
                uint32_t lba = std::get<Moment>(GetParam()) == Moment::kSaving
                                   ? TrackStart(2) + kSaveErrorFrame
                                   : kPlayErrorLba;
                d.readErrors = std::to_string(lba) + "-" + std::to_string(lba + kErrorFrames);
                break;
            }
            case Fault::kSlowDrive: d.delayMs = kSlowMs; break;
            case Fault::kHang: d.hangMs = kHangMs; break;
        }
        ASSERT_TRUE(drive_.Apply());
        // The tray goes in again once the deck has seen it out; the hang meets the
        // next command the deck sends, and no later one.
        if (fault == Fault::kTrayClosedAgain || fault == Fault::kHang) {
            td_test::PumpMessages(fault == Fault::kHang ? kHangReachedMs : kTrayNoticedMs);
            d.trayOpen = false;
            d.hangMs = 0;
            ASSERT_TRUE(drive_.Apply());
        }
        EXPECT_TRUE(fault != Fault::kHang ||
                    WaitUntil([&] { return deck_.Answers(); }, kHangRecoveryMs))
            << "the deck stays stuck after the hang";
    }

    // The last of `spans` played past the frames that cannot be read, in
    // silence, to the end of the track.
    static void ExpectPlayedPastTheError(const std::vector<PatternSpan>& spans) {
        ASSERT_GE(spans.size(), 2u);
        const PatternSpan &before = spans[spans.size() - 2], &after = spans.back();
        EXPECT_EQ(before.EndLba(), kPlayErrorLba);
        EXPECT_EQ(after.Lba(), kPlayErrorLba + kErrorFrames + 1);
        EXPECT_EQ(after.EndLba(), kTrackFrames - kEndMargin);
    }

    // Track 1 played past the frames that cannot be read, then track 2 from its start.
    void ExpectPlayedPastTheErrorThenTrack2() {
        ASSERT_TRUE(WaitForOpenings(2));
        ASSERT_TRUE(WaitUntil(
            [] { return td_test::ReadCaptureOpening(1).size() >= kBlockFrames * kFrameBytes; },
            kShownMs));
        std::vector<PatternSpan> first = PatternSpans(td_test::ReadCaptureOpening(0));
        ExpectPlayedPastTheError(first);
        EXPECT_EQ(first.size(), 2u);
        EXPECT_EQ(TrackPlayed(td_test::ReadCaptureOpening(1)), 2);
    }

    // Every opening that played the test disc's pattern is clean; the other
    // disc's music may only stand in openings of its own.
    void ExpectCleanAudio() {
        std::vector<Bytes> openings = Openings();
        for (size_t i = 0; i < openings.size(); i++)
            EXPECT_EQ(PlaysPattern(openings[i]) ? AudioProblems(openings[i]) : "", "") << i;
    }

    // After the fault: the drive is made well again and a disc must play.
    void ExpectRecovers() {
        HealDrive();
        ASSERT_TRUE(deck_.Answers(kHangRecoveryMs));
        ASSERT_TRUE(deck_.WaitForAnyFaces({kStoppedFaces, kPlayingFaces, kPausedFaces}, kShownMs))
            << "the disc did not come back";
        ASSERT_TRUE(deck_.ClickButton(kCmdStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
        td_test::SettledCapture();
        size_t before = OpeningCount();
        ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
        EXPECT_TRUE(WaitForOpenings(before + 1)) << "Play plays nothing after the fault";
        EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces));
        ASSERT_TRUE(deck_.ClickButton(kCmdStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
        std::vector<DeckProcess::Box> boxes = TakeBoxes(kNoMoreBoxesMs);
        EXPECT_TRUE(boxes.empty()) << "a box while recovering: " << boxes[0].text;
    }

    // How many frames the saved file at `path` holds when it is a valid wave
    // file of the disc's frames from `lba` on; -1, with the reason as a failure, otherwise.
    int SavedFrames(const std::string& path, uint32_t lba) const {
        Bytes file = td_test::ReadFileBytes(path);
        std::string problem = WaveFileProblems(file);
        uint32_t frames = uint32_t(WaveData(file).size() / kFrameBytes);
        if (problem.empty() && WaveData(file) != td_test::ExpectedFrames(disc_, lba, frames))
            problem = "frames that are not the disc's from " + std::to_string(lba);
        if (problem.empty()) return int(frames);
        ADD_FAILURE() << path << ": " << problem;
        return -1;
    }

    // What the drive was told, in order: lock the tray (L), unlock it (U), and
    // runs of READ CD (R).
    std::string TrayLog() const {
        std::string log;
        for (const td_test::VLogLine& l : drive_.Commands()) {
            char c = l.cdb.size() <= kLockByte   ? 0
                     : l.cdb[0] == kPreventAllow ? (l.cdb[kLockByte] ? 'L' : 'U')
                     : l.cdb[0] == kReadCd       ? 'R'
                                                 : 0;
            if (c && (log.empty() || log.back() != c || c != 'R')) log += c;
        }
        return log;
    }

    const std::string savePath_ = td_test::ScratchDir() + "\\saved.wav";
    std::string wave_;
    td_test::VDisc other_;
};

TEST_P(DeckFaultTest, ShowsTheFaultKeepsWhatWasDoneAndRecovers) {
    const auto [moment, fault] = GetParam();
    ASSERT_NO_FATAL_FAILURE(Reach(moment));
    ASSERT_NO_FATAL_FAILURE(Inject(fault));
    const bool gone = fault == Fault::kTrayOpened;
    const bool reloaded = fault == Fault::kTrayClosedAgain || fault == Fault::kDiscSwapped;
    const bool unreadable = fault == Fault::kReadErrors;
    const char* idle = gone ? kNoDiscFaces : kStoppedFaces;
    switch (moment) {
        case Moment::kIdle:
            EXPECT_TRUE(deck_.WaitForFaces(idle, kShownMs));
            if (unreadable) {
                // Play runs past the unreadable frames and goes on with the next track.
                ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
                ExpectPlayedPastTheErrorThenTrack2();
                ASSERT_TRUE(deck_.ClickButton(kCmdStop));
            }
            break;
        case Moment::kPlaying:
            if (gone) {
                EXPECT_TRUE(deck_.WaitForFaces(kNoDiscFaces, kShownMs));
                td_test::SettledCapture();
                EXPECT_EQ(OpeningCount(), 1u);
                EXPECT_TRUE(deck_.WaitForFaces(kNoDiscFaces, kPlayedOnMs))
                    << "played on without a disc";
            } else if (reloaded) {
                // Play is still wished, so the disc now in the drive starts from its first track.
                ASSERT_TRUE(WaitForOpenings(2)) << deck_.Faces();
                EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces));
                Bytes again = td_test::ReadCaptureOpening(1);
                if (fault == Fault::kTrayClosedAgain) {
                    EXPECT_EQ(TrackPlayed(again), 1);
                } else {
                    EXPECT_FALSE(PlaysPattern(again)) << "the old disc plays on";
                }
            } else if (unreadable) {
                ExpectPlayedPastTheErrorThenTrack2();
            } else {
                // Slow or stuck for a while, it plays on (after a hang perhaps from the
                // first track again, as a failed status read counts as the disc gone).
                EXPECT_TRUE(WaitForBytes(CaptureBytes() + kBytesPerSecond)) << "stopped playing";
                EXPECT_TRUE(deck_.WaitForFaces(kPlayingFaces));
            }
            break;
        case Moment::kPaused:
            if (gone || reloaded) {
                EXPECT_TRUE(deck_.WaitForFaces(idle, kShownMs));
            } else if (fault == Fault::kHang) {
                // The pause survives unless the stuck command was the state poll.
                EXPECT_TRUE(deck_.WaitForAnyFaces({kPausedFaces, kStoppedFaces}));
            } else {
                EXPECT_TRUE(deck_.WaitForFaces(kPausedFaces));
                // Resuming plays on from where the pause left, up to what cannot be read.
                size_t had = OpeningCount();
                ASSERT_TRUE(deck_.ClickButton(kCmdPause));
                ASSERT_TRUE(WaitForOpenings(had + 1));
                if (unreadable) {
                    // Pause, not Play, was the last wish: no next track follows.
                    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces, kShownMs));
                    ExpectPlayedPastTheError(PatternSpans(td_test::SettledCapture()));
                    EXPECT_EQ(OpeningCount(), had + 1);
                }
            }
            break;
        case Moment::kSaving: {
            ASSERT_TRUE(WaitUntil([&] { return !deck_.Dialog(kSavingTitle); }, kSaveOverMs))
                << "the save never ends";
            std::vector<DeckProcess::Box> boxes = TakeBoxes(kBoxQuietMs);
            // The file is valid and holds track 2's frames from its start, nothing else.
            if (unreadable) {
                // The whole track, silence where it would not read, and the box says where.
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].text, std::string(kInexactSaveText) + "\n0:13.25 (11 frames)");
                EXPECT_EQ(boxes[0].caption, savePath_);
                Bytes data = WaveData(td_test::ReadFileBytes(savePath_));
                Bytes want = td_test::ExpectedFrames(disc_, TrackStart(2), kTrackFrames);
                std::fill_n(want.begin() + kSaveErrorFrame * kFrameBytes,
                            (kErrorFrames + 1) * kFrameBytes, 0);
                EXPECT_TRUE(data == want) << data.size() / kFrameBytes << " frames saved";
            } else if (gone || reloaded) {
                int frames = SavedFrames(savePath_, TrackStart(2));
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].text, kCannotReadCd);
                EXPECT_EQ(boxes[0].caption, savePath_);
                EXPECT_LT(frames, int(kTrackFrames));
            } else {
                int frames = SavedFrames(savePath_, TrackStart(2));
                EXPECT_TRUE(boxes.empty()) << boxes[0].text;
                EXPECT_EQ(frames, int(kTrackFrames)); // the whole track
            }
            EXPECT_TRUE(deck_.WaitForFaces(idle, kShownMs));
            // The tray is locked while the track is read, and unlocked however the save ended.
            EXPECT_EQ(TrayLog(), "LRU");
            break;
        }
        case Moment::kWaveFile: {
            // The file plays to its end whatever the drive does.
            ASSERT_TRUE(WaitForBytes(size_t(kWaveFrames) * kFrameBytes, kWaveOverMs));
            EXPECT_TRUE(deck_.WaitForFaces(idle, kShownMs));
            std::vector<PatternSpan> spans = PatternSpans(td_test::ReadCaptureOpening(0));
            ASSERT_EQ(spans.size(), 1u);
            EXPECT_EQ(spans[0].Lba(), kWaveLba);
            EXPECT_EQ(spans[0].EndLba(), kWaveLba + kWaveFrames);
            break;
        }
    }
    // The deck reads the new disc's table (four tracks), not the old one's.
    EXPECT_TRUE(fault != Fault::kDiscSwapped ||
                WaitUntil([&] { return deck_.TrackLine().compare(0, 4, kOtherTrackCount) == 0; }))
        << "the old disc's table is kept: " << deck_.TrackLine();
    std::vector<DeckProcess::Box> late = TakeBoxes(kNoMoreBoxesMs);
    EXPECT_TRUE(late.empty()) << "unexpected box: " << late[0].text;
    ExpectRecovers();
    ExpectCleanAudio();
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, DeckFaultTest,
    ::testing::Combine(::testing::Values(Moment::kIdle, Moment::kPlaying, Moment::kPaused,
                                         Moment::kSaving, Moment::kWaveFile),
                       ::testing::Values(Fault::kTrayOpened, Fault::kTrayClosedAgain,
                                         Fault::kDiscSwapped, Fault::kReadErrors, Fault::kSlowDrive,
                                         Fault::kHang)),
    [](const ::testing::TestParamInfo<std::tuple<Moment, Fault>>& info) {
        return std::string(kMomentNames[int(std::get<Moment>(info.param))]) +
               kFaultNames[int(std::get<Fault>(info.param))];
    });

} // namespace
} // namespace deck_test
