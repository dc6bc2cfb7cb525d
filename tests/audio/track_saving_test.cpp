// Saving a track: the wave files written, the progress dialog and its Cancel,
// and what happens when the disc or the disk lets the copy down.
#include "audio/pcm_format.h"
#include "audio/progress_dialog.h"
#include "audio/track_extraction.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gauge.h"
#include "support/message_boxes.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace td_test;

namespace {

constexpr char kOwnerClass[] = "TrackSavingTestOwner";

struct WavFile {
    Bytes header;
    Bytes data;
    DWORD riffSize = 0, dataSize = 0;
};

DWORD DwordAt(const Bytes& b, size_t at) {
    DWORD v = 0;
    memcpy(&v, &b[at], sizeof v);
    return v;
}

WavFile ReadWav(const std::string& path) {
    Bytes all = ReadFileBytes(path);
    WavFile w;
    if (all.size() < kWavHeaderBytes) {
        ADD_FAILURE() << path << " holds " << all.size() << " bytes";
        return w;
    }
    w.header.assign(all.begin(), all.begin() + kWavHeaderBytes);
    w.data.assign(all.begin() + kWavHeaderBytes, all.end());
    w.riffSize = DwordAt(all, 4);
    w.dataSize = DwordAt(all, 40);
    return w;
}

// The canonical header for CD audio with `dataBytes` of data, byte for byte.
Bytes CdHeader(DWORD dataBytes) {
    const BYTE fixed[] = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                          'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                          2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                          0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    Bytes h(fixed, fixed + sizeof fixed);
    DWORD riff = dataBytes + 36;
    memcpy(&h[4], &riff, 4);
    memcpy(&h[40], &dataBytes, 4);
    return h;
}

PCMWAVEFORMAT CdFormat() {
    PCMWAVEFORMAT f;
    MakePcmFormat(WAVE_FORMAT_4S16, &f);
    return f;
}

// The reads the drive saw, as frame counts.
std::vector<int> ReadCdCounts(const VirtualDrive& drive) {
    std::vector<int> counts;
    for (const VLogLine& l : drive.Commands())
        if (l.cdb[0] == 0xBE) counts.push_back((l.cdb[6] << 16) | (l.cdb[7] << 8) | l.cdb[8]);
    return counts;
}

bool SentLock(const VirtualDrive& drive) {
    for (const VLogLine& l : drive.Commands())
        if (l.cdb[0] == 0x1E) return true;
    return false;
}

class TrackSaving : public ::testing::Test {
  protected:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        RegisterGaugeClass(instance);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = instance;
        wc.lpszClassName = kOwnerClass;
        RegisterClassA(&wc);
        owner = CreateWindowExA(0, kOwnerClass, "", WS_POPUP | WS_VISIBLE, 10, 10, 300, 80, nullptr,
                                nullptr, instance, nullptr);
        path = ScratchDir() + "\\track.wav";
    }
    void TearDown() override { DestroyWindow(owner); }

    VDisc Open(const std::string& description, const std::string& readErrors = "") {
        VDisc disc = MakeDisc(description);
        VDevice& d = drive.AddCdRom(0, 1, disc.cuePath);
        d.unitAttention = false;
        d.readErrors = readErrors;
        EXPECT_TRUE(drive.Apply());
        EXPECT_EQ(player.OpenDisc(), 1);
        return disc;
    }

    HWND owner = nullptr;
    std::string path;
    CdPlayer player;
    VirtualDrive drive;
    MessageBoxWatcher boxes;
};

} // namespace

TEST(WavFileWriter, WritesTheCanonicalHeaderAroundTheData) {
    std::string path = ScratchDir() + "\\out.wav";
    ASSERT_TRUE(WriteTextFile(path, std::string(100000, 'x'))); // truncated by BeginFile
    WavFileWriter empty;
    ASSERT_TRUE(empty.BeginFile(path.c_str(), CdFormat()));
    empty.FinishFile();
    EXPECT_EQ(ReadFileBytes(path), CdHeader(0));

    Bytes block(kTransferBytes);
    for (size_t i = 0; i < block.size(); i++) block[i] = BYTE(i * 7);
    WavFileWriter one;
    ASSERT_TRUE(one.BeginFile(path.c_str(), CdFormat()));
    EXPECT_EQ(one.AppendData(block.data(), kTransferBytes), 0);
    one.FinishFile();
    WavFile w = ReadWav(path);
    EXPECT_EQ(w.header, CdHeader(kTransferBytes));
    EXPECT_EQ(w.riffSize, 61188u);
    EXPECT_EQ(w.data, block);
}

TEST(WavFileWriter, TakesAnyPathTheDialogCanReturnAndRefusesRatherThanCut) {
    std::string dir = ScratchDir() + "\\" + std::string(100, 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string path = dir + "\\" + std::string(240 - dir.size(), 'n') + ".wav";
    ASSERT_GT(path.size(), 128u);
    WavFileWriter writer;
    ASSERT_TRUE(writer.BeginFile(path.c_str(), CdFormat()));
    writer.FinishFile();
    EXPECT_EQ(ReadFileBytes(path), CdHeader(0));

    std::string tooLong = dir + "\\" + std::string(MAX_PATH, 'n');
    WavFileWriter refused;
    EXPECT_FALSE(refused.BeginFile(tooLong.c_str(), CdFormat()));
}

TEST(WavFileWriter, AFullDiskLeavesAValidShorterFile) {
    char fs[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("TD_SMALL_FS", fs, sizeof fs) || !fs[0])
        GTEST_SKIP() << "needs the small file system that ./test mounts as root";
    std::string path = FromUnixPath(std::string(fs) + "/full.wav");
    MessageBoxWatcher boxes;
    Bytes block(kTransferBytes, 0x5A);
    WavFileWriter writer;
    ASSERT_TRUE(writer.BeginFile(path.c_str(), CdFormat()));
    int blocks = 0;
    while (writer.AppendData(block.data(), kTransferBytes) == 0) ASSERT_LT(++blocks, 100);
    EXPECT_EQ(boxes.Count("Disk Full!!"), 1u) << boxes.Texts();
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "Wav Record");
    WavFile w = ReadWav(path);
    DeleteFileA(path.c_str());
    EXPECT_EQ(w.dataSize, w.data.size()); // the header counts what reached the disk
    EXPECT_EQ(w.dataSize % 4, 0u);
    EXPECT_GE(w.dataSize, DWORD(blocks) * kTransferBytes);
    EXPECT_EQ(w.header, CdHeader(w.dataSize));
}

TEST_F(TrackSaving, SavesTheTrackByteForByteAsAnotherToolReadsTheImage) {
    VDisc disc = Open("200 150/30 47");
    EXPECT_EQ(SaveTrack(player, owner, 2, path.c_str()), 130u * kFrameBytes);
    WavFile w = ReadWav(path);
    EXPECT_EQ(w.header, CdHeader(130 * kFrameBytes));
    EXPECT_TRUE(w.data == ExpectedFrames(disc, disc.layout.tracks[1].start, 130));
    EXPECT_EQ(ReadCdCounts(drive), (std::vector<int>{26, 26, 26, 26, 26}));

    // bchunk cuts the same track out of the image on its own.
    std::string cue = ToUnixPath(disc.cuePath);
    std::string bin = cue.substr(0, cue.size() - 4) + ".bin";
    std::string out = ToUnixPath(ScratchDir()) + "/bchunk";
    ASSERT_EQ(RunLinuxCommand("bchunk -w " + bin + " " + cue + " " + out + " >/dev/null"), 0);
    WavFile theirs = ReadWav(FromUnixPath(out + "02.wav"));
    ASSERT_GE(theirs.data.size(), w.data.size());
    EXPECT_TRUE(Bytes(theirs.data.begin(), theirs.data.begin() + w.data.size()) == w.data);
    EXPECT_EQ(Bytes(theirs.header.begin() + 8, theirs.header.begin() + 36),
              Bytes(w.header.begin() + 8, w.header.begin() + 36));
}

TEST_F(TrackSaving, ALastTrackOfTwentySevenFramesTakesTwoBlocks) {
    VDisc disc = Open("200 47");
    EXPECT_EQ(SaveTrack(player, owner, 2, path.c_str()), 27u * kFrameBytes);
    EXPECT_EQ(ReadCdCounts(drive), (std::vector<int>{26, 1}));
    EXPECT_TRUE(ReadWav(path).data == ExpectedFrames(disc, 200, 27));
}

TEST_F(TrackSaving, ThePathThatCannotBeCreatedNeverLocksTheTray) {
    Open("200 100");
    std::string bad = ScratchDir() + "\\no such folder\\track.wav";
    EXPECT_EQ(SaveTrack(player, owner, 1, bad.c_str()), 0u);
    EXPECT_FALSE(SentLock(drive));
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
}

TEST_F(TrackSaving, TheTrayStaysLockedWhileSaving) {
    Open("200 100");
    drive.devices[0].delayMs = 50;
    ASSERT_TRUE(drive.Apply());
    // Every block lets one message through: an eject queued now runs mid-copy.
    static CdPlayer* s_player;
    static bool s_ejected;
    s_player = &player;
    s_ejected = true;
    SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        s_ejected = s_player->Eject();
    });
    EXPECT_EQ(SaveTrack(player, owner, 1, path.c_str()), 180u * kFrameBytes);
    EXPECT_FALSE(s_ejected);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP); // still closed; the tray was unlocked after
    EXPECT_TRUE(player.Eject());
}

TEST_F(TrackSaving, AReadErrorEndsTheSaveWithOnlyGoodFramesInTheFile) {
    VDisc disc = Open("300 100", "60");
    EXPECT_EQ(SaveTrack(player, owner, 1, path.c_str()), 0u);
    WavFile w = ReadWav(path);
    EXPECT_EQ(w.header, CdHeader(52 * kFrameBytes));
    EXPECT_TRUE(w.data == ExpectedFrames(disc, 0, 52));
    std::vector<int> reads = ReadCdCounts(drive);
    EXPECT_EQ(reads.size(), 2u + 3u); // two good blocks, then three tries at the bad one
}

TEST_F(TrackSaving, CancelStopsAtTheStepThatDispatchesTheRelease) {
    Open("600 100");
    drive.devices[0].delayMs = 200;
    ASSERT_TRUE(drive.Apply());
    // Click Cancel while the first block is read: press and release are queued.
    HANDLE clicker = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            // This process's dialog: tests running beside this one save tracks too.
            HWND dialog = nullptr;
            for (int i = 0; i < 500 && !dialog; i++, Sleep(5)) {
                HWND w = nullptr;
                while ((w = FindWindowExA(nullptr, w, nullptr, "Saving Track #1")) && !dialog) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(w, &pid);
                    if (pid == GetCurrentProcessId()) dialog = w;
                }
            }
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
            return 0;
        },
        nullptr, 0, nullptr);
    DWORD saved = SaveTrack(player, owner, 1, path.c_str());
    WaitForSingleObject(clicker, 5000);
    CloseHandle(clicker);
    EXPECT_EQ(saved, 122304u);
    WavFile w = ReadWav(path);
    EXPECT_EQ(w.dataSize, 122304u);
    EXPECT_EQ(w.data.size(), 122304u);
}

TEST(ProgressDialog, ShowsTheGaugeAndCancelsByDisablingCancel) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterGaugeClass(instance);
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10, 300, 80, nullptr,
                                 nullptr, instance, nullptr);
    HWND dialog = ProgressOpen(owner, kGaugeDialogTemplate, "Saving Track #3", 130);
    ASSERT_NE(dialog, nullptr);
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Saving Track #3");
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
    DestroyWindow(owner);
}

TEST(ProgressDialog, AQuitDuringTheCopyEndsItAndStillReachesTheMessageLoop) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterGaugeClass(instance);
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 instance, nullptr);
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
