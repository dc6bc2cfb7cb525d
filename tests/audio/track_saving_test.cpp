// Saving a track: the wave files written, the progress dialog and its Cancel,
// and what happens when the disc or the disk lets the copy down.
#include "audio/progress_dialog.h"
#include "audio/track_extraction.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gauge.h"
#include "support/message_boxes.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace td_test;

namespace {

constexpr BYTE kReadCd = 0xBE;

// The canonical file for CD audio around `data`, byte for byte.
Bytes CdWav(const Bytes& data) {
    const BYTE header[] = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                           'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                           2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                           0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    Bytes file(sizeof header + data.size());
    DWORD sizes[] = {DWORD(data.size()) + 36, DWORD(data.size())};
    memcpy(file.data(), header, sizeof header);
    memcpy(&file[4], &sizes[0], 4);
    memcpy(&file[40], &sizes[1], 4);
    std::copy(data.begin(), data.end(), file.begin() + sizeof header);
    return file;
}

const PCMWAVEFORMAT kCdFormat = {{WAVE_FORMAT_PCM, 2, 44100, 176400, 4}, 16};

// Callbacks are __stdcall on i686, which no lambda converts to.
CdPlayer* g_ejectingPlayer;
bool g_ejected;
void CALLBACK EjectOnce(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_ejected = g_ejectingPlayer->Eject();
}

HHOOK g_cancelHook;
LRESULT CALLBACK CancelOnActivate(int code, WPARAM wParam, LPARAM lParam) {
    HWND cancel = GetDlgItem(reinterpret_cast<HWND>(wParam), IDCANCEL);
    if (code == HCBT_ACTIVATE && cancel) {
        PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    }
    return CallNextHookEx(g_cancelHook, code, wParam, lParam);
}

// The frame counts of the READ CDs the drive saw.
std::vector<int> Reads(const VirtualDrive& drive) {
    std::vector<int> counts;
    for (const VLogLine& l : drive.Commands())
        if (l.cdb[0] == kReadCd) counts.push_back((l.cdb[6] << 16) | (l.cdb[7] << 8) | l.cdb[8]);
    return counts;
}

class TrackSaving : public ::testing::Test {
  protected:
    void SetUp() override { RegisterGaugeClass(GetModuleHandleA(nullptr)); }
    void TearDown() override { DestroyWindow(owner); }

    VDisc Open(const std::string& description, const std::string& readErrors = "",
               const std::string& name = "disc") {
        VDisc disc = MakeDisc(description, name);
        drive.devices.clear();
        VDevice& d = drive.AddCdRom(0, 1, disc.cuePath);
        d.unitAttention = false;
        d.readErrors = readErrors;
        EXPECT_TRUE(drive.Apply());
        EXPECT_EQ(player.OpenDisc(), 1);
        return disc;
    }

    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10, 300, 80, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    std::string path = ScratchDir() + "\\track.wav";
    CdPlayer player;
    VirtualDrive drive;
    MessageBoxWatcher boxes;
};

} // namespace

TEST(WavFileWriter, TakesAnyPathTheDialogCanReturnAndRefusesRatherThanCut) {
    std::string dir = ScratchDir() + "\\" + std::string(100, 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string path = dir + "\\" + std::string(240 - dir.size(), 'n') + ".wav";
    ASSERT_GT(path.size(), 128u);
    WavFileWriter writer;
    ASSERT_TRUE(writer.BeginFile(path.c_str(), kCdFormat));
    writer.FinishFile();
    EXPECT_EQ(ReadFileBytes(path), CdWav({}));
    std::string tooLong = dir + "\\" + std::string(MAX_PATH, 'n');
    WavFileWriter refused;
    EXPECT_FALSE(refused.BeginFile(tooLong.c_str(), kCdFormat));
}

TEST(WavFileWriter, AFullDiskLeavesAValidShorterFile) {
    char fs[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("TD_SMALL_FS", fs, sizeof fs) || !fs[0])
        GTEST_SKIP() << "needs the small file system that ./test mounts as root";
    std::string path = FromUnixPath(std::string(fs) + "/full.wav");
    MessageBoxWatcher boxes;
    Bytes block(kTransferBytes, 0x5A);
    WavFileWriter writer;
    ASSERT_TRUE(writer.BeginFile(path.c_str(), kCdFormat));
    DWORD blocks = 0;
    while (writer.AppendData(block.data(), kTransferBytes) == 0) ASSERT_LT(++blocks, 100u);
    ASSERT_EQ(boxes.Seen().size(), 1u) << boxes.Texts();
    EXPECT_EQ(boxes.Seen()[0].text, "Disk Full!!");
    EXPECT_EQ(boxes.Seen()[0].caption, "Wav Record");
    Bytes file = ReadFileBytes(path);
    DeleteFileA(path.c_str());
    // The header counts the whole sample frames that reached the disk.
    ASSERT_GE(file.size(), kWavHeaderBytes + blocks * kTransferBytes);
    EXPECT_EQ((file.size() - kWavHeaderBytes) % 4, 0u);
    EXPECT_TRUE(file == CdWav(Bytes(file.size() - kWavHeaderBytes, 0x5A)));
}

// Whole tracks, the last one (of the disc, of a session) too, exactly as bchunk
// cuts them out of the image; a data track is never saved.
TEST_F(TrackSaving, SavesWholeTracksByteForByteInBlocksAsAnotherToolReadsTheImage) {
    VDisc disc = Open("200 150 47 131");
    // A path that cannot be created saves nothing, and sends nothing: no lock.
    size_t sent = drive.Commands().size();
    EXPECT_EQ(SaveTrack(player, owner, 1, (ScratchDir() + "\\no such\\1.wav").c_str()), 0u);
    EXPECT_EQ(drive.Commands().size(), sent);
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
    std::string dir = ScratchDir() + "\\";
    ASSERT_TRUE(WriteTextFile(dir + "2.wav", std::string(400000, 'x'))); // replaced whole
    EXPECT_EQ(SaveTrack(player, owner, 2, (dir + "2.wav").c_str()), 150u * kFrameBytes);
    EXPECT_EQ(SaveTrack(player, owner, 3, (dir + "3.wav").c_str()), 47u * kFrameBytes);
    EXPECT_EQ(Reads(drive), (std::vector<int>{26, 26, 26, 26, 26, 20, 26, 21}));
    EXPECT_TRUE(ReadFileBytes(dir + "3.wav") == CdWav(ExpectedFrames(disc, 350, 47)));

    for (const char* image : {"200 150 47 131", "300 200 --session data:100"}) {
        SCOPED_TRACE(image);
        const std::string name = image[0] == '2' ? "four" : "extra";
        disc = Open(image, "", name);
        std::string cue = ToUnixPath(disc.cuePath);
        std::string bin = cue.substr(0, cue.size() - 4) + ".bin";
        std::string out = ToUnixPath(ScratchDir()) + "/bchunk";
        ASSERT_EQ(RunLinuxCommand("bchunk -w " + bin + " " + cue + " " + out + " >/dev/null"), 0);
        for (const td_disc::TrackLayout& t : disc.layout.tracks) {
            std::string ours = dir + name + std::to_string(t.number) + ".wav";
            DWORD saved = SaveTrack(player, owner, t.number, ours.c_str());
            if (t.data) {
                EXPECT_EQ(saved, 0u);
                EXPECT_EQ(GetFileAttributesA(ours.c_str()), INVALID_FILE_ATTRIBUTES);
                continue;
            }
            Bytes theirs =
                ReadFileBytes(FromUnixPath(out + "0" + std::to_string(t.number) + ".wav"));
            EXPECT_EQ(saved, t.frames * kFrameBytes);
            EXPECT_TRUE(ReadFileBytes(ours) == theirs) << t.number;
        }
    }
}

TEST_F(TrackSaving, TheTrayStaysLockedWhileSaving) {
    Open("200 100");
    drive.devices[0].delayMs = 50;
    ASSERT_TRUE(drive.Apply());
    // Every block lets one message through: an eject queued now runs mid-copy.
    g_ejectingPlayer = &player;
    g_ejected = true;
    SetTimer(nullptr, 0, 1, EjectOnce);
    EXPECT_EQ(SaveTrack(player, owner, 1, path.c_str()), 200u * kFrameBytes);
    EXPECT_FALSE(g_ejected);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP); // still closed; the tray was unlocked after
    EXPECT_TRUE(player.Eject());
}

TEST_F(TrackSaving, AReadErrorEndsTheSaveWithOnlyGoodFramesInTheFile) {
    VDisc disc = Open("300 100", "60");
    EXPECT_EQ(SaveTrack(player, owner, 1, path.c_str()), 0u);
    EXPECT_TRUE(ReadFileBytes(path) == CdWav(ExpectedFrames(disc, 0, 52)));
    // Two good blocks, then three tries at the bad one.
    EXPECT_EQ(Reads(drive), (std::vector<int>{26, 26, 26, 26, 26}));
}

TEST_F(TrackSaving, CancelStopsAtTheStepThatDispatchesTheRelease) {
    VDisc disc = Open("600 100");
    // Click Cancel as the dialog comes up: press and release wait in the queue.
    g_cancelHook = SetWindowsHookExA(WH_CBT, CancelOnActivate, nullptr, GetCurrentThreadId());
    DWORD saved = SaveTrack(player, owner, 1, path.c_str());
    UnhookWindowsHookEx(g_cancelHook);
    EXPECT_EQ(saved, 2 * kTransferBytes);
    EXPECT_TRUE(ReadFileBytes(path) == CdWav(ExpectedFrames(disc, 0, 2 * kTransferFrames)));
}

TEST_F(TrackSaving, TheProgressDialogShowsTheGaugeAndCancelsByDisablingCancel) {
    HWND dialog = ProgressOpen(owner, kGaugeDialogTemplate, "Saving Track #3", 130);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), "Saving Track #3");
    HWND gauge = GetDlgItem(dialog, kGaugeDialogGaugeId);
    EXPECT_EQ(SendMessageA(gauge, GAUGE_GETRANGE, 0, 0), 130);
    PumpMessages(50);
    EXPECT_EQ(ProgressStep(26), 0);
    EXPECT_EQ(SendMessageA(gauge, GAUGE_GETPOS, 0, 0), 26);

    SendMessageA(dialog, WM_COMMAND, 12345, 0); // any command cancels
    EXPECT_EQ(ProgressStep(52), 1);
    SendMessageA(dialog, WM_SHOWWINDOW, TRUE, 0); // showing again forgets it
    EXPECT_EQ(ProgressStep(78), 0);
    ProgressClose();
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(TrackSaving, AQuitDuringTheCopyEndsItAndStillReachesTheMessageLoop) {
    ASSERT_NE(ProgressOpen(owner, kGaugeDialogTemplate, "Saving Track #1", 100), nullptr);
    PumpMessages(20);
    PostQuitMessage(7);
    int cancelled = 0;
    for (int i = 0; i < 20 && !cancelled; i++) cancelled = ProgressStep(i);
    EXPECT_EQ(cancelled, 1);
    ProgressClose();
    DestroyWindow(owner);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
}
