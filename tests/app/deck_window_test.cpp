// The deck as a window: what it shows at start, its buttons' states through
// eject, a disc coming in and a wave file, and the clicks and drags a user makes.
#include "deck_fixture.h"

#include <map>

namespace deck_test {
namespace {

using DeckWindowTest = DeckTest;

constexpr uint32_t kWaveLba = 90000, kWaveFrames = 3000;

BOOL CALLBACK AddControlName(HWND child, LPARAM found) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpA(cls, "cd_status") != 0)
        (*reinterpret_cast<std::map<int, std::string>*>(found))[GetDlgCtrlID(child)] =
            td_test::WindowText(child);
    return TRUE;
}

// What screen readers read: every control's window text, by control id.
std::map<int, std::string> ControlNames(HWND deck) {
    std::map<int, std::string> names;
    EnumChildWindows(deck, AddControlName, reinterpret_cast<LPARAM>(&names));
    return names;
}

// A string of the program file's version resource.
std::string VersionString(const std::string& path, const std::string& name) {
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), nullptr) + 1);
    char* value = nullptr;
    UINT chars = 0;
    GetFileVersionInfoA(path.c_str(), 0, DWORD(info.size()), info.data());
    VerQueryValueA(info.data(), ("\\StringFileInfo\\040904B0\\" + name).c_str(),
                   reinterpret_cast<void**>(&value), &chars);
    return value ? value : "(none)";
}

TEST_F(DeckWindowTest, StartsAtItsPlaceWithTheDiscStoppedOnTrackOne) {
    InsertDisc("150 150 150");
    StartDeck();
    RECT r;
    GetWindowRect(deck_.Deck(), &r);
    EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top}),
              std::vector<LONG>({kDeckScreenX, kDeckScreenY, 300, 80}));
    EXPECT_EQ(td_test::WindowText(deck_.Deck()), "Velmora Tunedeck 1.5");
    // Between the children the face is the skin's deck, drawn 1:1 inside the border.
    for (int x : {3, 27, 48, 73, 271, 297})
        EXPECT_TRUE(deck_.ShowsSkin(x, 1, "IDCD_DECK", x, 1, 1, 78)) << "column " << x;
    EXPECT_TRUE(WaitUntil([&] { return deck_.StateIcon() == kStopIcon; }, 5000));
    EXPECT_EQ(deck_.TrackLine(), "[ 3] 00:00  00:02");
    EXPECT_EQ(deck_.TrackNumber(), "01-");
    EXPECT_EQ(deck_.Time(), "00:00");
    EXPECT_EQ(deck_.LitMode(), 0);

    // The program file names itself and carries an icon of its own.
    char self[MAX_PATH];
    std::string exe(self, GetModuleFileNameA(nullptr, self, sizeof self));
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "tunedeck.exe";
    EXPECT_EQ(VersionString(exe, "ProductName"), "Velmora Tunedeck");
    EXPECT_EQ(VersionString(exe, "FileVersion"), "1.5.0.0");
    HMODULE file = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(FindResourceA(file, "IDI_TUNEDECK", RT_GROUP_ICON), nullptr);
    // And a manifest: as invoked, the common controls 6, Vista to 11, DPI-aware.
    HRSRC found = FindResourceA(file, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(file, found))),
                         SizeofResource(file, found));
    for (const char* part :
         {"\"asInvoker\"", "Common-Controls\" version=\"6.0.0.0\"", "{e2011457-", "{35138b9a-",
          "{4a2f28e3-", "{1f676c76-", "{8e0f7a12-", ">true/pm<", ">PerMonitorV2<"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    FreeLibrary(file);
}

TEST_F(DeckWindowTest, EveryControlIsNamedAndATooltipGivesTheNameAndTheKey) {
    InsertDisc("150 150");
    StartDeck();
    std::map<int, std::string> names = {{100, "Left volume"}, {101, "Right volume"}};
    int id = 0; // the buttons by id, then the link toggle
    for (const char* name : {"Play a wave file", "Play", "Pause", "Stop", "Previous track",
                             "30 seconds back", "30 seconds forward", "Next track", "Eject",
                             "Play mode", "Save track", "Minimise", "Power", "Link volumes"})
        names[id++] = name;
    EXPECT_EQ(ControlNames(deck_.Deck()), names);
    // The owner-drawn faces never paint their names.
    EXPECT_EQ(deck_.Faces(), kStoppedFaces);
    // Over an enabled button and over a disabled one (Pause, while stopped).
    for (int button : {kCmdPlay, kCmdPause}) {
        ASSERT_TRUE(deck_.Hover(button));
        HWND tip = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (tip = deck_.Tooltip()) != nullptr; }, 5000)) << button;
        char text[64] = {};
        SendMessageTimeoutA(tip, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_NORMAL, 2000, nullptr);
        EXPECT_STREQ(text, button == kCmdPlay ? "Play (Space)" : "Pause (Space)");
        RECT r;
        GetWindowRect(tip, &r);
        EXPECT_GE(r.top, kDeckScreenY + 53) << "the tip is not by the button";
        std::string shot = td_test::ToUnixPath(td_test::ScratchDir()) + "/tooltip.png";
        EXPECT_EQ(td_test::RunLinuxCommand("import -window root -crop 300x140+10+10 " + shot), 0);
        ASSERT_TRUE(deck_.Click(150, 30)); // the display: the tip goes
        ASSERT_TRUE(WaitUntil([&] { return deck_.Tooltip() == nullptr; }, 5000));
    }
}

TEST_F(DeckWindowTest, EjectDisablesTheTransportAndADiscInsertedLaterIsPickedUp) {
    InsertDisc("150 150");
    StartDeck();
    ASSERT_TRUE(deck_.ClickButton(kCmdEject));
    // With the tray open only the wave-file button (and minimise, exit) is left.
    ASSERT_TRUE(deck_.WaitForFaces(kNoDiscFaces));
    td_test::PumpMessages(500);
    EXPECT_EQ(deck_.Faces(), kNoDiscFaces);

    InsertDisc("150 150 150 150", "second");
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    EXPECT_TRUE(WaitUntil([&] { return deck_.TrackLine() == "[ 4] 00:00  00:02"; }, 5000))
        << deck_.TrackLine();
}

// A data-only disc is read once, then only asked whether it is still there
// (as the player's state, and as the disc to open: two status queries a
// 150 ms tick, one a second for the display); Eject takes it out.
TEST_F(DeckWindowTest, ADataOnlyDiscIsReadOnceAndEjectTakesItOut) {
    constexpr DWORD kWatchMs = 2000;
    InsertDisc("data:300");
    ASSERT_TRUE(deck_.Start());
    ASSERT_TRUE(deck_.WaitForFaces("+-------+--++")) << deck_.Faces();
    const size_t before = drive_.Commands().size();
    td_test::PumpMessages(kWatchMs);
    std::vector<td_test::VLogLine> sent = drive_.Commands();
    EXPECT_LE(sent.size() - before, 2 * (kWatchMs / kTickMs + 1) + kWatchMs / 1000 + 1);
    for (size_t i = before; i < sent.size(); i++)
        EXPECT_EQ(sent[i].cdb[0], 0x42) << sent[i].text; // READ SUB-CHANNEL
    ASSERT_TRUE(deck_.ClickButton(kCmdEject));
    ASSERT_TRUE(deck_.WaitForFaces(kNoDiscFaces));
}

// A RIFF file's chunks as the RIFF rules lay them out, by path ("LIST/INFO/INAM"):
// an id, a little-endian size and the body, padded to an even length; a LIST
// holds a type and chunks of its own. Each with where its body begins.
void ReadChunks(const Bytes& file, size_t at, size_t end, const std::string& path,
                std::map<std::string, std::pair<size_t, std::string>>* chunks) {
    while (at + 8 <= end) {
        std::string id(file.begin() + at, file.begin() + at + 4);
        size_t size =
            file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 | size_t(file[at + 7]) << 24;
        size_t body = at + 8;
        if (body + size > end) return; // a chunk cut short: what comes after is not read
        if (id == "LIST" || id == "RIFF") {
            std::string type(file.begin() + body, file.begin() + body + 4);
            ReadChunks(file, body + 4, body + size, path + id + "/" + type + "/", chunks);
        } else {
            (*chunks)[path + id] = {body,
                                    std::string(file.begin() + body, file.begin() + body + size)};
        }
        at = body + size + size % 2;
    }
}

// CD-Text in the deck: the status display's window text and tooltip name the
// current track and follow it; saving proposes "NN Title.wav" where the track
// has a title, and the file carries the text in a LIST chunk after its data.
TEST_F(DeckWindowTest, CdTextNamesTheTrackTheProposedFileAndTheSavedText) {
    InsertDisc("150 150 --title 0 \"Velvet Days\" --performer 0 \"The Velvet Quartet\" "
               "--title 2 \"Second Light: Live\"");
    StartDeck();
    HWND display = FindWindowExA(deck_.Deck(), nullptr, "cd_status", nullptr);
    const std::string first = "1 - The Velvet Quartet",
                      second = "2. Second Light: Live - The Velvet Quartet";
    EXPECT_TRUE(WaitUntil([&] { return td_test::WindowText(display) == first; }, 5000))
        << td_test::WindowText(display);
    ASSERT_TRUE(deck_.ClickButton(kCmdSaveTrack));
    EXPECT_EQ(deck_.ProposedName(kSaveTitle), "");
    ASSERT_TRUE(deck_.CancelFile(kSaveTitle));

    ASSERT_TRUE(deck_.ClickButton(kCmdNextTrack));
    EXPECT_TRUE(WaitUntil([&] { return td_test::WindowText(display) == second; }, 5000))
        << td_test::WindowText(display);
    ASSERT_TRUE(deck_.HoverAt(150, 40));
    HWND tip = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (tip = deck_.Tooltip()) != nullptr; }, 5000));
    EXPECT_EQ(SentText(tip), second);

    std::string path = td_test::ScratchDir() + "\\second.wav";
    ASSERT_TRUE(deck_.ClickButton(kCmdSaveTrack));
    EXPECT_EQ(deck_.ProposedName(kSaveTitle), "02 Second Light_ Live.wav");
    ASSERT_TRUE(deck_.ChooseFile(kSaveTitle, path));
    // The sizes go into the header last: then the RIFF chunk holds the LIST.
    const std::string info = "RIFF/WAVE/LIST/INFO/";
    std::map<std::string, std::pair<size_t, std::string>> chunks;
    ASSERT_TRUE(WaitUntil(
        [&] {
            Bytes file = td_test::ReadFileBytes(path);
            chunks.clear();
            ReadChunks(file, 0, file.size(), "", &chunks);
            return chunks.count(info + "ITRK") != 0;
        },
        20000));
    EXPECT_EQ(chunks["RIFF/WAVE/data"].first, 44u);
    EXPECT_EQ(chunks["RIFF/WAVE/data"].second.size(), 150 * kFrameBytes);
    EXPECT_EQ(chunks[info + "INAM"].second, std::string("Second Light: Live", 19));
    EXPECT_EQ(chunks[info + "IART"].second, std::string("The Velvet Quartet", 19));
    EXPECT_EQ(chunks[info + "IPRD"].second, std::string("Velvet Days", 12));
    EXPECT_EQ(chunks[info + "ITRK"].second, std::string("2", 2));
}

// Whether another program could take the Play/Pause key now.
bool PlayKeyFree() {
    bool free = RegisterHotKey(nullptr, 1, 0, VK_MEDIA_PLAY_PAUSE);
    return free && UnregisterHotKey(nullptr, 1);
}

// With a disc and without one; twice over, so that the deck comes back ready
// for another file.
class WaveFileTest : public DeckTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WaveFileTest, OnlyStopIsEnabledAndStopEndsTheFile) {
    const bool withDisc = GetParam();
    const char* idle = withDisc ? kStoppedFaces : kNoDiscFaces;
    InsertDisc(withDisc ? "150 150" : "");
    std::string wave = WriteWaveFile("tune.wav", kWaveLba, kWaveFrames);
    StartDeck();
    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(PlayWaveFile(wave));
        ASSERT_TRUE(deck_.WaitForFaces(kWaveFileFaces)) << round;
        EXPECT_TRUE(WaitUntil([] { return !PlayKeyFree(); }, 2000)) << "media keys not held";
        ASSERT_TRUE(WaitForBytes(CaptureBytes() + kBytesPerSecond));
        ASSERT_TRUE(deck_.ClickButton(kCmdStop));
        ASSERT_TRUE(deck_.WaitForFaces(idle)) << round;
        // Without a disc the deck gives them back for other players.
        EXPECT_TRUE(WaitUntil([&] { return PlayKeyFree() != withDisc; }, 2000)) << withDisc;
    }
    td_test::SettledCapture();
    std::vector<Bytes> played = Openings();
    ASSERT_EQ(played.size(), 2u);
    for (const Bytes& opening : played) {
        std::vector<PatternSpan> spans = PatternSpans(opening);
        ASSERT_EQ(spans.size(), 1u);
        EXPECT_EQ(spans[0].Lba(), kWaveLba);
        EXPECT_LT(spans[0].EndLba(), kWaveLba + kWaveFrames) << "Stop did not end the file";
    }
    // The disc is where it was: Play starts track 1.
    if (withDisc) {
        EXPECT_EQ(deck_.TrackNumber(), "01-");
    }
}

INSTANTIATE_TEST_SUITE_P(Drive, WaveFileTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "WithADisc" : "WithoutADisc");
                         });

// A media key another program holds stays its own; once let go, the deck takes it.
TEST_F(DeckWindowTest, AMediaKeyHeldElsewhereIsTheDecksOnceLetGo) {
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, VK_MEDIA_PLAY_PAUSE));
    InsertDisc("150 150");
    StartDeck();
    td_test::PumpMessages(500); // a few of the deck's ticks
    ASSERT_TRUE(UnregisterHotKey(nullptr, 1));
    EXPECT_TRUE(WaitUntil([] { return !PlayKeyFree(); }, 2000));
}

TEST_F(DeckWindowTest, AWaveFileThatCannotPlayIsReportedWithItsPath) {
    InsertDisc("150 150");
    std::string bad = td_test::ScratchDir() + "\\notes.wav";
    ASSERT_TRUE(td_test::WriteTextFile(bad, "not a RIFF file at all"));
    StartDeck();
    ASSERT_TRUE(PlayWaveFile(bad));
    DeckProcess::Box box;
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Not found wave format");
    ASSERT_TRUE(deck_.TakeMessageBox(&box));
    EXPECT_EQ(box.text, "Can't Play");
    EXPECT_EQ(box.caption, bad);
    EXPECT_TRUE(deck_.WaitForFaces(kStoppedFaces));
}

// Letters that no Western code page has, for the file dialogs, the saved file,
// the played one and the box that names it.
TEST_F(DeckWindowTest, ATrackSavesAndPlaysUnderANameInAnyScript) {
    InsertDisc("150 150");
    StartDeck();
    const std::string dir = td_test::ScratchDir() + "\\", named = dir + "Ωμέγα 日本 Ünï.wav";
    ASSERT_TRUE(SaveTrackAs(named));
    EXPECT_TRUE(TakeBoxes(1000).empty());
    ASSERT_TRUE(CopyFileW(td_test::Wide(named).c_str(), td_test::Wide(dir + "1.wav").c_str(), 0));
    EXPECT_TRUE(WaveData(td_test::ReadFileBytes(dir + "1.wav")) ==
                td_test::ExpectedFrames(disc_, TrackStart(1), 150));
    ASSERT_TRUE(PlayWaveFile(named));
    ASSERT_TRUE(WaitForOpenings(1));
    std::vector<PatternSpan> spans = PatternSpans(td_test::SettledCapture());
    EXPECT_TRUE(spans.size() == 1 && spans[0].Lba() == TrackStart(1) &&
                spans[0].bytes == 150 * kFrameBytes);
    // A file that cannot play: the box names it with its letters.
    ASSERT_TRUE(deck_.WaitForFaces(kStoppedFaces));
    ASSERT_TRUE(td_test::WriteTextFile(dir + "2.wav", "not a RIFF file"));
    ASSERT_TRUE(
        MoveFileW(td_test::Wide(dir + "2.wav").c_str(), td_test::Wide(named + "2").c_str()));
    ASSERT_TRUE(PlayWaveFile(named + "2"));
    std::vector<DeckProcess::Box> boxes = TakeBoxes(1500);
    EXPECT_TRUE(boxes.size() == 2 && boxes[1].caption == named + "2");
}

TEST_F(DeckWindowTest, At192DpiEverySkinPixelIsATwoByTwoBlockAndThePointerFollows) {
    InsertDisc("150 150");
    ASSERT_EQ(td_test::RunLinuxCommand("xdotool mousemove 900 700"), 0); // no tooltip on the shots
    StartDeck();
    td_test::PumpMessages(500); // the sliders follow the device's volume
    std::vector<COLORREF> face = deck_.Shot();
    DWORD code = 1;
    ASSERT_TRUE(deck_.Quit(&code));
    ASSERT_EQ(td_test::RunLinuxCommand("xdotool mousemove 900 700"), 0);
    HKEY desktop; // Wine reads the DPI as a program starts
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop), 0);
    DWORD dpi = 192;
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi), sizeof dpi);
    DeckProcess big(2);
    bool started = big.Start();
    RegDeleteValueA(desktop, "LogPixels");
    RegCloseKey(desktop);
    ASSERT_TRUE(started && big.WaitForFaces(kStoppedFaces));
    td_test::PumpMessages(500);
    // Inside the border each device pixel shows the 96-dpi deck's pixel at half its place.
    std::vector<COLORREF> shot = big.Shot();
    int differ = 0;
    for (int y = 2; y < 158; y++)
        for (int x = 2; x < 598; x++) differ += shot[y * 600 + x] != face[y / 2 * 300 + x / 2];
    EXPECT_EQ(differ, 0);
    ASSERT_TRUE(big.DragSlider(kLeftSliderId, 24));
    EXPECT_TRUE(WaitUntil([&] { return big.SliderThumbTop(kLeftSliderId) == 24; }, 5000));
    ASSERT_TRUE(big.ClickButton(kCmdPlay));
    EXPECT_TRUE(big.WaitForFaces(kPlayingFaces));
}

TEST_F(DeckWindowTest, ADoubleClickActsOnceAndTheFaceDragsTheDeck) {
    InsertDisc("150 150");
    StartDeck();
    ASSERT_TRUE(WaitUntil([&] { return deck_.LitMode() == 0; }, 5000));
    ASSERT_TRUE(deck_.ClickButton(kCmdPlayMode, 2));
    EXPECT_TRUE(WaitUntil([&] { return deck_.LitMode() != 0; }, 5000));
    td_test::PumpMessages(400);
    EXPECT_EQ(deck_.LitMode(), 1) << "the second click of a double-click acted too";
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
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForBytes(kBytesPerSecond / 2));
    ASSERT_TRUE(deck_.ClickButton(kCmdMinimise));
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(deck_.Deck()) != FALSE; }, 5000));
    ShowWindow(deck_.Deck(), SW_RESTORE);
    ASSERT_TRUE(deck_.WaitForFaces(kPlayingFaces, 5000));
    DWORD code = 1;
    ASSERT_TRUE(deck_.Quit(&code));
    EXPECT_EQ(code, 0u);
    std::vector<PatternSpan> spans = PatternSpans(td_test::SettledCapture());
    ASSERT_FALSE(spans.empty());
    EXPECT_LT(spans.back().EndLba(), TrackStart(2) - kEndMargin) << "the music went on";
}

} // namespace
} // namespace deck_test
