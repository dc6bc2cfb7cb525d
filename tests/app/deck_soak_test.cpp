// The soak: the real program clicked and dragged at random on every control,
// with a fixed seed and a bounded number of actions, while the drive fails at
// random moments. Between actions every message box must be one the program
// shows in that situation; at the end the deck answers, every saved file is a
// valid wave file holding a run of a disc's frames, and the program holds as
// many windows, GDI objects and as much memory as before, within a margin.
#include "deck_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace deck_test {
namespace {

constexpr unsigned kDefaultSeed = 1505;
constexpr char kSeedVariable[] = "TD_SOAK_SEED";
constexpr int kMaxActions = 140;
// The i686 lane runs beside the x86_64 one on the same cores: half the time
// there keeps the whole suite within its half hour.
#if defined(__i386__)
constexpr DWORD kActionBudgetMs = 60000;
#else
constexpr DWORD kActionBudgetMs = 120000;
#endif
constexpr int kMaxHangs = 2;
constexpr DWORD kFirstHangAfterMs = 20000;

// The two discs that take turns in the drive; the second plays music, so that
// nothing of one can pass for the other.
constexpr char kDiscA[] = "600 600 600 600";
constexpr char kDiscB[] = "450 450 450 450 450 --music";
constexpr uint32_t kWaveLba = 200000, kWaveFrames = 150;

// Margins between the counts after the same quiet sequence before and after
// the soak; the windows must be exactly as many.
constexpr int kGdiMargin = 8;
constexpr SIZE_T kPrivateMargin = 4u << 20;

constexpr DWORD kDialogWaitMs = 2500, kAnswerMs = 30000, kSaveWaitMs = 90000;
constexpr DWORD kIconicMs = 2000, kFacesBackMs = 3000, kBoxWaitMs = 3000, kSettleMs = 1500;
constexpr DWORD kHangReachedMs = 1500;

// Deck pixels: the status display; and the rows of a slider.
constexpr int kStatusLeft = 80, kStatusRight = 265, kStatusTop = 12, kStatusBottom = 44;
constexpr int kSliderRows = 66;

struct Tally {
    int clicks = 0, drags = 0, faults = 0, saves = 0, cancelled = 0, boxes = 0, failures = 0;
    int trays = 0, swaps = 0, readErrors = 0, slow = 0, hangs = 0;
};

class DeckSoakTest : public DeckTest {
  protected:
    int Random(int low, int high) { // inclusive
        return std::uniform_int_distribution<int>(low, high)(rng_);
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    void Fail(const std::string& what) {
        tally_.failures++;
        ADD_FAILURE() << "action " << action_ << ": " << what;
    }

    // A save is over when its file is complete (the header tells) and the
    // progress dialog has gone, or when the program says it failed.
    bool WaitForSaveEnd(const std::string& path) {
        return WaitUntil(
            [&] {
                return deck_.BoxShown() || (!deck_.Dialog(kSavingTitle) &&
                                            WaveFileProblems(td_test::ReadFileBytes(path)).empty());
            },
            kSaveWaitMs);
    }

    // Takes every box the deck shows: those the program may show are "Can't
    // Read the CD", or the list of places it could not read alike, for a save
    // that met a fault. Returns whether one came.
    bool CheckBoxes(const std::string& savePath, bool saveFaulted, DWORD waitMs = 300) {
        bool saveBox = false;
        for (const DeckProcess::Box& box : TakeBoxes(waitMs)) {
            tally_.boxes++;
            bool explained = saveFaulted && box.caption == savePath &&
                             (box.text == kCannotReadCd || box.text.rfind(kInexactSaveText, 0) == 0);
            saveBox |= explained;
            if (!explained)
                Fail("unexplained box \"" + box.text + "\" captioned \"" + box.caption + "\"");
        }
        return saveBox;
    }

    // Waits until the deck takes messages again (a hang holds it for 10 s).
    void ExpectAnswers() {
        if (!WaitUntil([&] { return deck_.Answers(500); }, kAnswerMs)) Fail("the deck is stuck");
    }

    // A file dialog nobody asked for (a click that reached a button late) is cancelled.
    void CancelStrayDialogs() {
        for (const char* title : {kSaveTitle, kPlayTitle})
            if (deck_.Dialog(title)) deck_.CancelFile(title);
    }

    // Minimises the deck and, as its owner would, restores it.
    void MinimiseAndRestore() {
        deck_.ClickButton(kCmdMinimise);
        WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, kIconicMs);
        ShowWindow(deck_.Deck(), SW_RESTORE);
        WaitUntil([&] { return deck_.Faces()[kCmdExit] == '+'; }, kFacesBackMs);
    }

    void InjectFault() {
        td_test::VDevice& d = drive_.devices[0];
        tally_.faults++;
        faultEpoch_++;
        int kind = Random(0, 6);
        if (kind == 5 && (tally_.hangs >= kMaxHangs || GetTickCount() - start_ < kFirstHangAfterMs))
            kind = 0; // no hang yet, or no more: the tray instead
        switch (kind) {
            case 0:
            case 1:
                d.trayOpen = !d.trayOpen;
                tally_.trays++;
                break;
            case 2:
                onA_ = !onA_;
                d.image = (onA_ ? discA_ : discB_).cuePath;
                tally_.swaps++;
                break;
            case 3:
            case 6:
                if (!d.readErrors.empty()) {
                    d.readErrors.clear();
                } else {
                    int lba = Random(0, int((onA_ ? discA_ : discB_).layout.leadOut) - 1);
                    d.readErrors = std::to_string(lba) + "-" + std::to_string(lba + Random(0, 60));
                }
                tally_.readErrors++;
                break;
            case 4:
                d.delayMs = d.delayMs ? 0 : Random(30, 300);
                tally_.slow++;
                break;
            case 5:
                tally_.hangs++;
                d.hangMs = kHangMs;
                drive_.Apply();
                WaitUntil([&] { return !deck_.Answers(100); }, kHangReachedMs);
                d.hangMs = 0;
                break;
        }
        drive_.Apply();
    }

    // Saving and playing a file want a stopped deck, so a user often stops first.
    // Then the button; false when its dialog did not come (the button was off)
    // or the user cancelled it.
    bool OpenFileDialog(int button, const char* title, double cancelChance) {
        if (Chance(0.6)) {
            tally_.clicks++;
            deck_.ClickButton(kCmdStop);
        }
        tally_.clicks++;
        deck_.ClickButton(button);
        if (!WaitUntil([&] { return deck_.Dialog(title) != nullptr; }, kDialogWaitMs)) return false;
        if (!Chance(cancelChance)) return true;
        tally_.cancelled++;
        if (!deck_.CancelFile(title)) Fail(std::string(title) + ": the dialog does not cancel");
        return false;
    }

    void Save() {
        int epoch = faultEpoch_;
        if (!OpenFileDialog(kCmdSaveTrack, kSaveTitle, 0.1)) return;
        char name[32];
        std::snprintf(name, sizeof name, "\\saved%02d.wav", tally_.saves++);
        std::string path = td_test::ScratchDir() + name;
        if (!deck_.ChooseFile(kSaveTitle, path)) {
            Fail("the save dialog does not take a path");
            return;
        }
        if (Chance(0.35) &&
            WaitUntil([&] { return deck_.Dialog(kSavingTitle) != nullptr; }, 1000)) {
            td_test::PumpMessages(DWORD(Random(0, 400)));
            InjectFault();
        }
        ExpectAnswers();
        if (!WaitForSaveEnd(path)) Fail("a save never ends");
        // A fault before the save (the tray out, errors, another disc) explains a failure too.
        const td_test::VDevice& d = drive_.devices[0];
        bool faulted = epoch != faultEpoch_ || d.trayOpen || !d.readErrors.empty();
        CheckSaved(path, CheckBoxes(path, faulted, 1000));
    }

    // Frame for frame the same, or, where the program said it could not read
    // some, silence in their place.
    static bool SameOrSilent(const Bytes& data, const Bytes& want, bool silenceTold) {
        if (data.size() != want.size()) return false;
        const Bytes silence(kFrameBytes, 0);
        for (size_t at = 0; at + kFrameBytes <= data.size(); at += kFrameBytes) {
            bool same = std::equal(data.begin() + at, data.begin() + at + kFrameBytes, want.begin() + at);
            if (!same && !(silenceTold && std::equal(silence.begin(), silence.end(), data.begin() + at)))
                return false;
        }
        return true;
    }

    // A saved file is a valid wave file holding one track's frames of one of
    // the discs, from the track's start on, and the whole track unless the
    // program said it could not read it (when there may be no file at all).
    void CheckSaved(const std::string& path, bool boxShown) {
        Bytes file = td_test::ReadFileBytes(path);
        std::string problem = WaveFileProblems(file);
        if (file.empty() && boxShown) return;
        if (!problem.empty()) return Fail(path + ": " + problem);
        Bytes data = WaveData(file);
        uint32_t frames = uint32_t(data.size() / kFrameBytes);
        for (const td_test::VDisc* disc : {&discA_, &discB_})
            for (const td_disc::TrackLayout& t : disc->layout.tracks)
                if (frames <= t.frames && (boxShown || frames == t.frames) &&
                    SameOrSilent(data, td_test::ExpectedFrames(*disc, t.start, frames), boxShown))
                    return;
        Fail(path + ": not " + (boxShown ? "a run" : "the whole") + " of one track's frames (" +
             std::to_string(frames) + " frames)");
    }

    void PlayWave() {
        if (OpenFileDialog(kCmdPlayWave, kPlayTitle, 0.15) && !deck_.ChooseFile(kPlayTitle, wave_))
            Fail("the play dialog does not take a path");
    }

    void Act() {
        int pick = Random(0, 99);
        if (pick < 40) {
            tally_.clicks++;
            deck_.ClickButton(Random(kCmdPlay, kCmdPlayMode));
        } else if (pick < 51) {
            Save();
        } else if (pick < 54) {
            PlayWave();
        } else if (pick < 57) {
            tally_.clicks++;
            MinimiseAndRestore();
        } else if (pick < 64) {
            tally_.drags++;
            int slider = Chance(0.5) ? kLeftSliderId : kRightSliderId;
            deck_.DragSlider(slider, Random(0, kSliderRows - 1));
        } else if (pick < 67) {
            tally_.clicks++;
            deck_.Click(kToggleX, kToggleY);
        } else if (pick < 74) {
            tally_.clicks++;
            int x = Random(kStatusLeft, kStatusRight);
            deck_.Click(x, Random(kStatusTop, kStatusBottom));
        } else {
            InjectFault();
        }
    }

    // The same quiet round before and after the soak, so that whatever the
    // program (and the system's dialogs) create once is there both times.
    void QuietRound(const std::string& tag) {
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces, kShownMs)) << tag;
        ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
        ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << tag;
        ASSERT_TRUE(deck_.ClickButton(kCmdStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << tag;
        std::string path = td_test::ScratchDir() + "\\quiet-" + tag + ".wav";
        ASSERT_TRUE(SaveTrackAs(path));
        ASSERT_TRUE(WaitForSaveEnd(path));
        ASSERT_FALSE(deck_.BoxShown()) << tag;
        // A path held open by another program cannot be written: the program's box
        // (not always seen in the first round; the round only warms the program up).
        HANDLE held =
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(SaveTrackAs(path));
        DeckProcess::Box box;
        deck_.TakeMessageBox(&box, kBoxWaitMs);
        CloseHandle(held);
        WaitForSaveEnd(path);
        ASSERT_TRUE(PlayWaveFile(wave_));
        ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces)) << tag;
        ASSERT_TRUE(deck_.ClickButton(kCmdStop));
        MinimiseAndRestore();
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << tag;
        td_test::PumpMessages(kSettleMs);
    }

    std::mt19937 rng_;
    Tally tally_;
    int action_ = 0;
    int faultEpoch_ = 0;
    bool onA_ = true;
    DWORD start_ = 0;
    td_test::VDisc discA_, discB_;
    std::string wave_;
};

// The GDI objects are read from Wine's own table: first, that it is read right.
TEST(ProcessCountersTest, SeeTheGdiObjectsAProcessMakesAndFrees) {
    constexpr int kBrushes = 25;
    auto gdiObjects = [] {
        return ReadCounters(GetCurrentProcess(), GetCurrentProcessId()).gdiObjects;
    };
    gdiObjects(); // the first reading brings the window manager's own objects along
    const int before = gdiObjects();
    ASSERT_GE(before, 0) << "the GDI handle table cannot be read";
    HBRUSH brushes[kBrushes];
    for (HBRUSH& b : brushes) b = CreateSolidBrush(RGB(&b - brushes, 0, 0));
    EXPECT_EQ(gdiObjects(), before + kBrushes);
    for (HBRUSH b : brushes) DeleteObject(b);
    EXPECT_EQ(gdiObjects(), before);
}

TEST_F(DeckSoakTest, RandomUseUnderRandomFaultsLeavesTheDeckWhole) {
    const char* seedText = std::getenv(kSeedVariable);
    const unsigned seed =
        seedText && *seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : kDefaultSeed;
    rng_.seed(seed);
    std::printf("soak seed %u (set %s to repeat another)\n", seed, kSeedVariable);
    discB_ = td_test::MakeDisc(kDiscB, "discB");
    InsertDisc(kDiscA, "discA");
    discA_ = disc_;
    wave_ = WriteWaveFile("tune.wav", kWaveLba, kWaveFrames);
    StartDeck();
    ASSERT_NO_FATAL_FAILURE(QuietRound("before"));
    ProcessCounters before = deck_.Counters();
    ASSERT_GE(before.gdiObjects, 0);

    start_ = GetTickCount();
    for (action_ = 0; action_ < kMaxActions && GetTickCount() - start_ < kActionBudgetMs;
         action_++) {
        Act();
        ExpectAnswers();
        CheckBoxes(std::string(), false);
        CancelStrayDialogs();
        if (!deck_.Running()) {
            Fail("the program ended");
            break;
        }
    }
    DWORD soakMs = GetTickCount() - start_;

    // The drive made well, disc A back in, the deck stopped.
    drive_.devices[0].image = discA_.cuePath;
    HealDrive();
    ExpectAnswers();
    while (deck_.Dialog(kSavingTitle))
        WaitUntil([&] { return !deck_.Dialog(kSavingTitle); }, kSaveWaitMs);
    CheckBoxes(std::string(), false, 1000);
    CancelStrayDialogs();
    ShowWindow(deck_.Deck(), SW_RESTORE);
    ASSERT_TRUE(deck_.WaitForAnyFaces({kStoppedFaces, kPlayingFaces, kPausedFaces, kWaveFileFaces},
                                      kShownMs))
        << "the disc did not come back";
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
    ASSERT_NO_FATAL_FAILURE(QuietRound("after"));
    ProcessCounters after = deck_.Counters();

    EXPECT_TRUE(deck_.Answers());
    EXPECT_LE(std::abs(after.gdiObjects - before.gdiObjects), kGdiMargin);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateMargin);

    std::printf("soak seed %u: %d actions in %lu s: %d clicks, %d drags, %d faults (tray %d, "
                "swaps %d, read errors %d, slow %d, hangs %d), %d saves (%d dialogs cancelled), "
                "%d boxes, %d failures\n",
                seed, action_, soakMs / 1000, tally_.clicks, tally_.drags, tally_.faults,
                tally_.trays, tally_.swaps, tally_.readErrors, tally_.slow, tally_.hangs,
                tally_.saves, tally_.cancelled, tally_.boxes, tally_.failures);
    std::printf("soak before: %s\nsoak after:  %s\n", Describe(before).c_str(),
                Describe(after).c_str());
    EXPECT_EQ(tally_.failures, 0);
}

} // namespace
} // namespace deck_test
