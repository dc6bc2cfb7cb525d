// The soak: the real program clicked and dragged at random on every control,
// with a fixed seed and a bounded number of actions, while the drive fails at
// random moments. Between actions every message box must be one the program
// shows in that situation; at the end the deck answers, every saved file is a
// valid wave file holding a run of a disc's frames, and the program holds as
// many windows, GDI objects and as much memory as before, within a margin.
#include "deck_checks.h"
#include "deck_fixture.h"
#include "process_counters.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace deck_test {
namespace {

constexpr unsigned kDefaultSeed = 1505;
constexpr char kSeedVariable[] = "TD_SOAK_SEED";
constexpr int kMaxActions = 140;
constexpr DWORD kActionBudgetMs = 120000;
constexpr int kMaxHangs = 2;
constexpr DWORD kFirstHangAfterMs = 20000;

// The two discs that take turns in the drive; the second plays music, so that
// nothing of one can pass for the other.
constexpr char kDiscA[] = "600 600 600 600";
constexpr char kDiscB[] = "450 450 450 450 450 --music";

constexpr char kSaveTitle[] = "Select a file to save";
constexpr char kPlayTitle[] = "Select a file to play";
constexpr char kCannotReadCd[] = "Can't Read the CD";
constexpr char kSavingPrefix[] = "Saving Track #";
constexpr uint32_t kWaveLba = 200000;
constexpr uint32_t kWaveFrames = 150;
constexpr uint32_t kFrameBytes = 2352;

// Margins between the counts after the same quiet sequence before and after the soak.
constexpr int kGdiMargin = 8;
constexpr int kWindowMargin = 0;
constexpr SIZE_T kPrivateMargin = 4u << 20;

constexpr DWORD kDialogWaitMs = 2500;
constexpr DWORD kAnswerMs = 30000;
constexpr DWORD kSaveWaitMs = 90000;
constexpr int kHangMs = 11000;
constexpr DWORD kHangReachedMs = 1500;

// Deck pixels: a spot on the bare face for dragging, the toggle, the status display.
constexpr int kFaceX = 60, kFaceY = 65;
constexpr int kMinDeckShift = 10, kMaxDeckShift = 30;
constexpr int kToggleX = 59, kToggleY = 43;
constexpr int kStatusLeft = 80, kStatusRight = 265, kStatusTop = 12, kStatusBottom = 44;
constexpr int kSliderRows = 66;

struct SavedFile {
    std::string path;
    bool boxShown; // "Can't Read the CD" came after it
    bool faulted;  // the drive failed while it ran
};

struct Tally {
    int clicks = 0, drags = 0, faults = 0, saves = 0, cancelled = 0, boxes = 0, failures = 0;
    int trays = 0, swaps = 0, readErrors = 0, slow = 0, hangs = 0, trayPushes = 0, putBack = 0;
};

class DeckSoakTest : public DeckTest {
  protected:
    unsigned Seed() const {
        const char* text = std::getenv(kSeedVariable);
        return text && *text ? unsigned(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
    }

    int Random(int low, int high) { // inclusive
        return std::uniform_int_distribution<int>(low, high)(rng_);
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    void Fail(const std::string& what) {
        tally_.failures++;
        ADD_FAILURE() << "action " << action_ << ": " << what;
    }

    bool SaveInProgress() const {
        for (HWND d : deck_.Dialogs()) {
            char title[64] = {};
            GetWindowTextA(d, title, sizeof title);
            if (std::string(title).compare(0, sizeof kSavingPrefix - 1, kSavingPrefix) == 0)
                return true;
        }
        return false;
    }

    bool BoxShown() const {
        for (HWND d : deck_.Dialogs())
            if (deck_.IsMessageBox(d)) return true;
        return false;
    }

    // A save is over when its file is complete (the header tells) and the
    // progress dialog has gone, or when the program says it failed.
    bool WaitForSaveEnd(const std::string& path) {
        return WaitUntil(
            [&] {
                return BoxShown() || (!SaveInProgress() &&
                                      WaveFileProblems(td_test::ReadFileBytes(path)).empty());
            },
            kSaveWaitMs);
    }

    // Takes every box the deck shows; `saveFailureExplained` says whether a save
    // just met a fault, the one reason for the program's box.
    void TakeBoxes(const std::string& savePath, bool saveFailureExplained, bool* saveBox,
                   DWORD waitMs = 300) {
        DeckProcess::Box box;
        while (deck_.TakeMessageBox(&box, waitMs)) {
            tally_.boxes++;
            bool explained = box.text == kCannotReadCd && !savePath.empty() &&
                             box.caption == savePath && saveFailureExplained;
            if (explained && saveBox) *saveBox = true;
            if (!explained)
                Fail("unexplained box \"" + box.text + "\" captioned \"" + box.caption + "\"");
        }
    }

    // Waits until the deck takes messages again (a hang holds it for 10 s).
    void ExpectAnswers() {
        if (!WaitUntil([&] { return deck_.Answers(500); }, kAnswerMs)) Fail("the deck is stuck");
    }

    // A file dialog nobody asked for (a click that reached a button late) is cancelled.
    void CancelStrayDialogs() {
        for (const char* title : {kSaveTitle, kPlayTitle})
            if (deck_.FileDialogShown(title)) deck_.CancelFile(title);
    }

    void PutDeckBack() {
        if (IsIconic(deck_.Deck())) ShowWindow(deck_.Deck(), SW_RESTORE);
        RECT r;
        GetWindowRect(deck_.Deck(), &r);
        if (r.left != kDeckScreenX || r.top != kDeckScreenY) {
            // The pointer's way back is the harness's, not the program's doing.
            tally_.putBack++;
            SetWindowPos(deck_.Deck(), nullptr, kDeckScreenX, kDeckScreenY, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER);
        }
        WaitUntil([&] { return deck_.Faces()[kExit] == '+'; }, 3000);
    }

    // --- faults -------------------------------------------------------------

    void ApplyDrive() {
        if (!drive_.Apply()) Fail("cannot write the drive's INI");
    }

    void InjectFault() {
        td_test::VDevice& d = drive_.devices[0];
        tally_.faults++;
        faultEpoch_++;
        switch (Random(0, 6)) {
            case 0:
            case 1:
                d.trayOpen = !d.trayOpen;
                tally_.trays++;
                break;
            case 2: {
                onA_ = !onA_;
                d.image = (onA_ ? discA_ : discB_).cuePath;
                tally_.swaps++;
                break;
            }
            case 3:
            case 6: {
                if (!d.readErrors.empty()) {
                    d.readErrors.clear();
                } else {
                    const td_test::VDisc& disc = onA_ ? discA_ : discB_;
                    int lba = Random(0, int(disc.layout.leadOut) - 1);
                    d.readErrors = std::to_string(lba) + "-" + std::to_string(lba + Random(0, 60));
                }
                tally_.readErrors++;
                break;
            }
            case 4:
                d.delayMs = d.delayMs ? 0 : Random(30, 300);
                tally_.slow++;
                break;
            case 5:
                if (tally_.hangs >= kMaxHangs || GetTickCount() - start_ < kFirstHangAfterMs) {
                    d.trayOpen = !d.trayOpen;
                    tally_.trays++;
                    break;
                }
                tally_.hangs++;
                d.hangMs = kHangMs;
                ApplyDrive();
                WaitUntil([&] { return !deck_.Answers(100); }, kHangReachedMs);
                d.hangMs = 0;
                break;
        }
        ApplyDrive();
    }

    // An ejected tray stays out until the user pushes it in: the INI's next
    // change does that.
    void PushTrayInIfOut() {
        if (drive_.devices[0].trayOpen || deck_.Faces() != kNoDiscFaces) {
            noDiscSeen_ = 0;
            return;
        }
        if (++noDiscSeen_ < 3) return;
        noDiscSeen_ = 0;
        tally_.trayPushes++;
        ApplyDrive();
    }

    // --- actions ------------------------------------------------------------

    // Saving and playing a file want a stopped deck, so a user often stops first.
    void MaybeStopFirst() {
        if (!Chance(0.6)) return;
        tally_.clicks++;
        deck_.ClickButton(kStop);
    }

    void Save() {
        MaybeStopFirst();
        int epoch = faultEpoch_;
        tally_.clicks++;
        deck_.ClickButton(kSaveTrack);
        if (!WaitUntil([&] { return deck_.FileDialogShown(kSaveTitle) != nullptr; }, kDialogWaitMs))
            return; // the button was off
        if (Chance(0.1)) {
            tally_.cancelled++;
            if (!deck_.CancelFile(kSaveTitle)) Fail("the save dialog does not cancel");
            return;
        }
        char name[32];
        std::snprintf(name, sizeof name, "\\saved%02d.wav", tally_.saves);
        SavedFile saved = {td_test::ScratchDir() + name, false, false};
        tally_.saves++;
        if (!deck_.ChooseFile(kSaveTitle, saved.path)) {
            Fail("the save dialog does not take a path");
            return;
        }
        if (Chance(0.35) && WaitUntil([&] { return SaveInProgress(); }, 1000)) {
            WaitUntil([] { return false; }, DWORD(Random(0, 400)));
            InjectFault();
        }
        ExpectAnswers();
        if (!WaitForSaveEnd(saved.path)) Fail("a save never ends");
        // A fault before the save (the tray out, errors, another disc) explains a failure too.
        saved.faulted = epoch != faultEpoch_ || FaultStanding();
        TakeBoxes(saved.path, saved.faulted, &saved.boxShown, 1000);
        saves_.push_back(saved);
    }

    // The tray out or unreadable frames, left from before the save.
    bool FaultStanding() const {
        const td_test::VDevice& d = drive_.devices[0];
        return d.trayOpen || !d.readErrors.empty();
    }

    void PlayWave() {
        MaybeStopFirst();
        tally_.clicks++;
        deck_.ClickButton(kPlayWave);
        if (!WaitUntil([&] { return deck_.FileDialogShown(kPlayTitle) != nullptr; }, kDialogWaitMs))
            return;
        if (Chance(0.15)) {
            tally_.cancelled++;
            if (!deck_.CancelFile(kPlayTitle)) Fail("the play dialog does not cancel");
            return;
        }
        if (!deck_.ChooseFile(kPlayTitle, wave_)) Fail("the play dialog does not take a path");
    }

    // Drags the deck away and back by the distance it really moved.
    void DragDeck() {
        int dx = Random(kMinDeckShift, kMaxDeckShift) * (Chance(0.5) ? 1 : -1);
        int dy = Random(kMinDeckShift, kMaxDeckShift) * (Chance(0.5) ? 1 : -1);
        tally_.drags += 2;
        deck_.Drag(kFaceX, kFaceY, kFaceX + dx, kFaceY + dy);
        RECT r;
        GetWindowRect(deck_.Deck(), &r);
        int movedX = r.left - kDeckScreenX, movedY = r.top - kDeckScreenY;
        deck_.Drag(kFaceX + movedX, kFaceY + movedY, kFaceX, kFaceY);
        PutDeckBack();
    }

    void Act() {
        int pick = Random(0, 99);
        if (pick < 40) {
            tally_.clicks++;
            deck_.ClickButton(Random(kPlay, kPlayMode));
        } else if (pick < 51) {
            Save();
        } else if (pick < 54) {
            PlayWave();
        } else if (pick < 57) {
            tally_.clicks++;
            deck_.ClickButton(kMinimise);
            WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, 2000);
            PutDeckBack();
        } else if (pick < 64) {
            tally_.drags++;
            deck_.DragSlider(Chance(0.5) ? kLeftSlider : kRightSlider, Random(0, kSliderRows - 1));
        } else if (pick < 67) {
            tally_.clicks++;
            deck_.Click(kToggleX, kToggleY);
        } else if (pick < 70) {
            DragDeck();
        } else if (pick < 74) {
            tally_.clicks++;
            deck_.Click(Random(kStatusLeft, kStatusRight), Random(kStatusTop, kStatusBottom));
        } else {
            InjectFault();
        }
    }

    // The same quiet round before and after the soak, so that whatever the
    // program (and the system's dialogs) create once is there both times.
    void QuietRound(const std::string& tag) {
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces, 20000)) << tag << ": " << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kPlay));
        ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces)) << tag << ": " << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kPause));
        ASSERT_TRUE(deck_.ClickButton(kPause));
        ASSERT_TRUE(deck_.ClickButton(kStop));
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << tag << ": " << deck_.Faces();
        std::string path = td_test::ScratchDir() + "\\quiet-" + tag + ".wav";
        ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
        ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path));
        ASSERT_TRUE(WaitForSaveEnd(path));
        ASSERT_FALSE(BoxShown()) << tag;
        ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
        ASSERT_TRUE(deck_.CancelFile(kSaveTitle));
        // A path held open by another program cannot be written: the program's box
        // (not always seen in the first round; the round only warms the program up).
        HANDLE held =
            CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
        ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path));
        DeckProcess::Box box;
        deck_.TakeMessageBox(&box, 3000);
        CloseHandle(held);
        WaitForSaveEnd(path);
        ASSERT_TRUE(deck_.ClickButton(kPlayWave));
        ASSERT_TRUE(deck_.ChooseFile(kPlayTitle, wave_));
        ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces)) << tag << ": " << deck_.Faces();
        ASSERT_TRUE(deck_.ClickButton(kStop));
        ASSERT_TRUE(deck_.ClickButton(kPlayWave));
        ASSERT_TRUE(deck_.CancelFile(kPlayTitle));
        deck_.DragSlider(kLeftSlider, kSliderRows / 2);
        deck_.Click(kToggleX, kToggleY);
        deck_.Click(kToggleX, kToggleY);
        ASSERT_TRUE(deck_.ClickButton(kMinimise));
        WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, 2000);
        PutDeckBack();
        ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << tag << ": " << deck_.Faces();
        WaitUntil([] { return false; }, 1500);
    }

    // Every saved file is a valid wave file holding one track's frames of one
    // of the discs, from the track's start on, and the whole track unless the
    // program said it could not read it.
    void CheckSavedFiles() {
        for (const SavedFile& s : saves_) {
            Bytes file = td_test::ReadFileBytes(s.path);
            if (file.empty() && s.boxShown) continue; // the file could not be made
            std::string problem = WaveFileProblems(file);
            if (!problem.empty()) {
                Fail(s.path + ": " + problem);
                continue;
            }
            Bytes data = WaveData(file);
            uint32_t frames = uint32_t(data.size() / kFrameBytes);
            bool matched = false;
            for (const td_test::VDisc* disc : {&discA_, &discB_})
                for (const td_disc::TrackLayout& t : disc->layout.tracks) {
                    uint32_t whole = t.frames - kEndMargin;
                    if (matched || frames > whole || (!s.boxShown && frames != whole)) continue;
                    matched = data == td_test::ExpectedFrames(*disc, t.start, frames);
                }
            if (!matched)
                Fail(s.path + ": not " + (s.boxShown ? "a run" : "the whole") +
                     " of one track's frames (" + std::to_string(frames) + " frames)");
        }
    }

    std::mt19937 rng_;
    Tally tally_;
    int action_ = 0;
    int faultEpoch_ = 0;
    int noDiscSeen_ = 0;
    bool onA_ = true;
    DWORD start_ = 0;
    td_test::VDisc discA_, discB_;
    std::string wave_;
    std::vector<SavedFile> saves_;
};

TEST_F(DeckSoakTest, RandomUseUnderRandomFaultsLeavesTheDeckWhole) {
    const unsigned seed = Seed();
    rng_.seed(seed);
    std::printf("soak seed %u (set %s to repeat another)\n", seed, kSeedVariable);
    discB_ = td_test::MakeDisc(kDiscB, "discB");
    InsertDisc(kDiscA, "discA");
    discA_ = disc_;
    wave_ = WriteWaveFile("tune.wav", kWaveLba, kWaveFrames);
    StartDeck();
    ASSERT_NO_FATAL_FAILURE(QuietRound("before"));
    ProcessCounters before = ReadCounters(deck_.Process(), deck_.ProcessId());
    ASSERT_GE(before.gdiObjects, 0);

    start_ = GetTickCount();
    for (action_ = 0; action_ < kMaxActions && GetTickCount() - start_ < kActionBudgetMs;
         action_++) {
        Act();
        ExpectAnswers();
        TakeBoxes(std::string(), false, nullptr);
        CancelStrayDialogs();
        PushTrayInIfOut();
        if (!deck_.Running()) {
            Fail("the program ended");
            break;
        }
    }
    DWORD soakMs = GetTickCount() - start_;

    // The drive made well, disc A back in, the deck stopped.
    td_test::VDevice& d = drive_.devices[0];
    d.trayOpen = false;
    d.readErrors.clear();
    d.delayMs = 0;
    d.hangMs = 0;
    d.image = discA_.cuePath;
    ApplyDrive();
    ExpectAnswers();
    while (SaveInProgress()) WaitUntil([&] { return !SaveInProgress(); }, kSaveWaitMs);
    TakeBoxes(std::string(), false, nullptr, 1000);
    CancelStrayDialogs();
    PutDeckBack();
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::string f = deck_.Faces();
            return f == kStoppedFaces || f == kPlayingFaces || f == kPausedFaces ||
                   f == kWaveFileFaces;
        },
        20000))
        << "the disc did not come back: " << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kStop));
    ASSERT_NO_FATAL_FAILURE(QuietRound("after"));
    ProcessCounters after = ReadCounters(deck_.Process(), deck_.ProcessId());

    EXPECT_TRUE(deck_.Answers());
    CheckSavedFiles();
    EXPECT_LE(std::abs(after.gdiObjects - before.gdiObjects), kGdiMargin);
    EXPECT_LE(std::abs(after.windows - before.windows), kWindowMargin);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateMargin);

    std::printf("soak seed %u: %d actions in %lu s: %d clicks, %d drags, %d faults (tray %d, "
                "swaps %d, read errors %d, slow %d, hangs %d; tray pushed in %d), %d saves "
                "(%d dialogs cancelled), %d boxes, %d failures; deck put back by hand %d times\n",
                seed, action_, soakMs / 1000, tally_.clicks, tally_.drags, tally_.faults,
                tally_.trays, tally_.swaps, tally_.readErrors, tally_.slow, tally_.hangs,
                tally_.trayPushes, tally_.saves, tally_.cancelled, tally_.boxes, tally_.failures,
                tally_.putBack);
    std::printf("soak before: %s\nsoak after:  %s\n", Describe(before).c_str(),
                Describe(after).c_str());
    EXPECT_EQ(tally_.failures, 0);
}

} // namespace
} // namespace deck_test
