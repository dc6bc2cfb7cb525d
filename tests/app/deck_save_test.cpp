// Saving the current track from the deck: the file written, the buttons and
// the tray while the copy runs, and what the user is told when it fails.
#include "deck_fixture.h"

#include "support/message_boxes.h"

namespace deck_test {
namespace {

constexpr char kSaveTitle[] = "Select a file to save";
constexpr char kSavingFaces[] = "-----------++";
constexpr size_t kHeaderBytes = 44;

class DeckSaveTest : public DeckTest {
  protected:
    // Where the drive was told to lock (1) and unlock (0) its tray, in order.
    std::vector<int> TrayLocks() const {
        std::vector<int> locks;
        for (const td_test::VLogLine& l : drive_.Commands())
            if (l.cdb.size() > 4 && l.cdb[0] == 0x1E) locks.push_back(l.cdb[4]);
        return locks;
    }

    bool WaitForFile(const std::string& path, size_t bytes) {
        return WaitUntil([&] { return td_test::ReadFileBytes(path).size() >= bytes; }, 20000);
    }

    std::string path_ = td_test::ScratchDir() + "\\saved.wav";
};

TEST_F(DeckSaveTest, SavesTheCurrentTrackAndLocksTheTrayMeanwhile) {
    InsertDisc("150 400 150");
    drive_.devices[0].delayMs = 40; // slow enough to watch the copy
    ASSERT_TRUE(drive_.Apply());
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kNextTrack));
    ASSERT_TRUE(WaitUntil([&] { return deck_.TrackNumber() == "02-"; }, 5000));
    ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
    ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path_));
    // While it copies, every transport button is off, eject included.
    EXPECT_TRUE(deck_.WaitForFaces(kSavingFaces, 5000)) << deck_.Faces();
    uint32_t frames = 400 - kEndMargin;
    ASSERT_TRUE(WaitForFile(path_, kHeaderBytes + frames * 2352));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    Bytes file = td_test::ReadFileBytes(path_);
    EXPECT_TRUE(Bytes(file.begin() + kHeaderBytes, file.end()) ==
                td_test::ExpectedFrames(disc_, TrackStart(2), frames));
    EXPECT_EQ(TrayLocks(), (std::vector<int>{1, 0}));
    bool readWhileLocked = false;
    int locks = 0;
    for (const td_test::VLogLine& l : drive_.Commands()) {
        if (l.cdb[0] == 0x1E) locks = l.cdb[4];
        if (l.cdb[0] == 0xBE) readWhileLocked |= locks == 1;
    }
    EXPECT_TRUE(readWhileLocked);
}

TEST_F(DeckSaveTest, APathThatCannotBeCreatedSaysSoWithoutLockingTheTray) {
    InsertDisc("150 150");
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    // A file another program holds open without sharing cannot be created anew.
    std::string unwritable = path_;
    ASSERT_TRUE(td_test::WriteTextFile(unwritable, "in use"));
    HANDLE held = CreateFileA(unwritable.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
    ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, unwritable));
    DeckProcess::Box box;
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Can't Read the CD");
    EXPECT_EQ(box.caption, unwritable);
    CloseHandle(held);
    EXPECT_TRUE(TrayLocks().empty());
    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
}

TEST_F(DeckSaveTest, AnUnreadableDiscKeepsOnlyTheGoodFramesAndSaysSo) {
    InsertDisc("300 150");
    drive_.devices[0].readErrors = "100";
    ASSERT_TRUE(drive_.Apply());
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
    ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path_));
    DeckProcess::Box box;
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Can't Read the CD");
    Bytes file = td_test::ReadFileBytes(path_);
    uint32_t good = 100 / 26 * 26;
    ASSERT_EQ(file.size(), kHeaderBytes + good * 2352);
    EXPECT_TRUE(Bytes(file.begin() + kHeaderBytes, file.end()) ==
                td_test::ExpectedFrames(disc_, 0, good));
    EXPECT_EQ(TrayLocks(), (std::vector<int>{1, 0}));
}

TEST_F(DeckSaveTest, CancelLeavesAValidShorterFile) {
    InsertDisc("2000 150");
    drive_.devices[0].delayMs = 60;
    ASSERT_TRUE(drive_.Apply());
    StartDeck();
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces)) << deck_.Faces();
    ASSERT_TRUE(deck_.ClickButton(kSaveTrack));
    ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path_));
    HWND progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND d : deck_.Dialogs()) {
            char title[64] = {};
            GetWindowTextA(d, title, sizeof title);
            if (std::string(title) == "Saving Track #1") progress = d;
        }
        return progress != nullptr;
    }));
    RECT cancel;
    GetWindowRect(GetDlgItem(progress, IDCANCEL), &cancel);
    RECT deck;
    GetWindowRect(deck_.Deck(), &deck);
    ASSERT_TRUE(deck_.Click((cancel.left + cancel.right) / 2 - deck.left,
                            (cancel.top + cancel.bottom) / 2 - deck.top));
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces, 20000)) << deck_.Faces();
    Bytes file = td_test::ReadFileBytes(path_);
    ASSERT_GT(file.size(), kHeaderBytes);
    size_t data = file.size() - kHeaderBytes;
    EXPECT_LT(data, (2000 - kEndMargin) * 2352u);
    EXPECT_EQ(data % (26 * 2352), 0u);
    DWORD dataSize = 0, riffSize = 0;
    memcpy(&riffSize, &file[4], 4);
    memcpy(&dataSize, &file[40], 4);
    EXPECT_EQ(dataSize, data);
    EXPECT_EQ(riffSize, data + 36);
    EXPECT_TRUE(Bytes(file.begin() + kHeaderBytes, file.end()) ==
                td_test::ExpectedFrames(disc_, 0, uint32_t(data / 2352)));
}

} // namespace
} // namespace deck_test
