// Saving a track: the wave files written, the progress dialog and its Cancel,
// and what happens when the disc or the disk lets the copy down.
#include "audio/progress_dialog.h"
#include "audio/track_extraction.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gauge.h"
#include "support/message_boxes.h"
#include "drive_bench.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

using namespace td_test;

bool operator==(const FrameRun& a, const FrameRun& b) {
    return a.first == b.first && a.count == b.count;
}
void PrintTo(const FrameRun& run, std::ostream* os) {
    *os << "{" << run.first << ", " << run.count << "}";
}

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

DWORD Be(const Bytes& cdb, size_t at, int bytes) {
    DWORD v = 0;
    for (int i = 0; i < bytes; i++) v = v << 8 | cdb[at + i];
    return v;
}

// For each frame of [first, first + count), the marks of the READ CDs that
// delivered it, from the drive's `since`th command on: "." right, "w" wrong,
// "c" and "C" the same from its cache.
std::vector<std::string> Reads(const DriveBench& drive, DWORD first, DWORD count, size_t since = 0) {
    std::vector<std::string> reads(count);
    std::vector<VLogLine> commands = drive.Commands();
    for (size_t i = since; i < commands.size(); i++) {
        const VLogLine& l = commands[i];
        for (DWORD k = 0, a = Be(l.cdb, 2, 4); l.cdb[0] == kReadCd && k < l.frames.size(); k++)
            if (a + k >= first && a + k < first + count) reads[a + k - first] += l.frames[k];
    }
    return reads;
}

size_t ReadCount(const DriveBench& drive) {
    std::vector<VLogLine> commands = drive.Commands();
    return std::count_if(commands.begin(), commands.end(),
                         [](const VLogLine& l) { return l.cdb[0] == kReadCd; });
}

// Presses Cancel, once the drive has read some frame of the saved track a
// third time, and notes how many READ CDs it had had by then.
const DriveBench* g_rereadDrive;
size_t g_commandsAtCancel;
void CALLBACK CancelDuringRereads(HWND, UINT, UINT_PTR id, DWORD) {
    std::vector<std::string> reads = Reads(*g_rereadDrive, 3000, 2000);
    if (std::none_of(reads.begin(), reads.end(), [](const std::string& r) { return r.size() > 2; }))
        return;
    KillTimer(nullptr, id);
    g_commandsAtCancel = ReadCount(*g_rereadDrive);
    HWND cancel = GetDlgItem(FindWindowA(nullptr, "Saving Track #2"), IDCANCEL);
    PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

class TrackSaving : public ::testing::Test {
  protected:
    explicit TrackSaving(Transport transport = Transport::Aspi) : drive(transport) {}
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
    DriveBench drive;
    MessageBoxWatcher boxes;
    SaveReport report;
};

// A drive that gets frames wrong with GOOD status and answers from its cache,
// over each transport, with C2 pointers that flag the wrong bytes, that flag
// nothing, or that the drive refuses to send.
class DamagedDisc : public TrackSaving,
                    public ::testing::WithParamInterface<std::tuple<Transport, const char*>> {
  protected:
    DamagedDisc() : TrackSaving(std::get<Transport>(GetParam())) {}

    // Track 2, 2000 frames, behind a cache of 1000 that track 1's 3000 can push out.
    VDisc OpenDamaged(const std::string& damaged, const std::string& garbled,
                      const std::string& readErrors = "") {
        VDisc disc = Open("3000 2000", readErrors);
        VDevice& d = drive.devices[0];
        d.damaged = damaged;
        d.damageOdds = 40;
        d.garbled = garbled;
        d.cacheFrames = 1000;
        d.c2 = std::get<const char*>(GetParam());
        EXPECT_TRUE(drive.Apply());
        return disc;
    }

    DWORD SaveSecond() { return SaveTrack(player, owner, 2, path.c_str(), &report); }

    std::vector<FrameRun> Runs() const {
        return std::vector<FrameRun>(report.inexact.runs,
                                     report.inexact.runs + std::min(report.inexact.runCount, kListedRuns));
    }
};

INSTANTIATE_TEST_SUITE_P(TransportsAndC2, DamagedDisc,
                         ::testing::Combine(kBothTransports, ::testing::Values("on", "off", "refused")),
                         [](const ::testing::TestParamInfo<std::tuple<Transport, const char*>>& info) {
                             std::ostringstream name;
                             PrintTo(std::get<Transport>(info.param), &name);
                             return name.str() + "C2" + std::get<const char*>(info.param);
                         });

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
    EXPECT_EQ(SaveTrack(player, owner, 1, (ScratchDir() + "\\no such\\1.wav").c_str(), &report),
              0u);
    EXPECT_EQ(drive.Commands().size(), sent);
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
    std::string dir = ScratchDir() + "\\";
    ASSERT_TRUE(WriteTextFile(dir + "2.wav", std::string(400000, 'x'))); // replaced whole
    EXPECT_EQ(SaveTrack(player, owner, 2, (dir + "2.wav").c_str(), &report), 150u * kFrameBytes);
    EXPECT_EQ(report.inexact.runCount, 0);
    // A clean disc: each frame read twice, in blocks; the other 378 frames
    // read five times over between, to push the track out of the cache.
    EXPECT_EQ(Reads(drive, 200, 150, sent), std::vector<std::string>(150, ".."));
    EXPECT_EQ(Reads(drive, 0, 1, sent)[0], ".....");
    for (const VLogLine& l : drive.Commands()) {
        if (l.cdb[0] == kReadCd) {
            EXPECT_LE(Be(l.cdb, 6, 3), kTransferFrames);
        }
    }
    EXPECT_EQ(SaveTrack(player, owner, 3, (dir + "3.wav").c_str(), &report), 47u * kFrameBytes);
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
            DWORD saved = SaveTrack(player, owner, t.number, ours.c_str(), &report);
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
    EXPECT_EQ(SaveTrack(player, owner, 1, path.c_str(), &report), 200u * kFrameBytes);
    EXPECT_FALSE(g_ejected);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP); // still closed; the tray was unlocked after
    EXPECT_TRUE(player.Eject());
}

TEST_F(TrackSaving, CancelStopsAtTheStepThatDispatchesTheRelease) {
    Open("600 100");
    // Click Cancel as the dialog comes up: press and release wait in the queue.
    g_cancelHook = SetWindowsHookExA(WH_CBT, CancelOnActivate, nullptr, GetCurrentThreadId());
    DWORD saved = SaveTrack(player, owner, 1, path.c_str(), &report);
    UnhookWindowsHookEx(g_cancelHook);
    // Two reads, each frame once: nothing is settled yet, so nothing reaches the file.
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(saved, 0u);
    std::vector<std::string> reads(600);
    std::fill_n(reads.begin(), 2 * kTransferFrames, ".");
    EXPECT_EQ(Reads(drive, 0, 600), reads);
    EXPECT_TRUE(ReadFileBytes(path) == CdWav({}));
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

// Wrong samples with GOOD status, and the same again from the cache: every
// frame saved is one read alike twice with the cache pushed out between, and
// the drive never answered a second reading of the track from its cache.
TEST_P(DamagedDisc, DamagedFramesBehindTheCacheSaveExactly) {
    VDisc disc = OpenDamaged("3100-3149, 4500-4509", "");
    const size_t sent = drive.Commands().size();
    ASSERT_EQ(SaveSecond(), 2000u * kFrameBytes);
    EXPECT_EQ(report.inexact.runCount, 0);
    EXPECT_TRUE(ReadFileBytes(path) == CdWav(ExpectedFrames(disc, 3000, 2000)));
    std::string marks;
    for (const std::string& r : Reads(drive, 3000, 2000, sent)) marks += r;
    EXPECT_NE(marks.find('w'), std::string::npos) << "the drive got nothing wrong";
    EXPECT_EQ(marks.find_first_of("cC"), std::string::npos) << "a reading came from the cache";
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
}

// Frames that never read alike, or never read at all, cost only themselves:
// the whole track is saved, the rest exact, and the report says where, as
// runs from the track's start.
TEST_P(DamagedDisc, FramesThatNeverReadAlikeAreListedAndTheRestIsExact) {
    VDisc disc = OpenDamaged("3300-3309", "3500-3501, 4200", "3100-3102");
    ASSERT_EQ(SaveSecond(), 2000u * kFrameBytes);
    EXPECT_EQ(Runs(), (std::vector<FrameRun>{{100, 3}, {500, 2}, {1200, 1}}));
    // Silence where nothing read; garbled frames as some wrong reading.
    Bytes data = ReadFileBytes(path), want = ExpectedFrames(disc, 3000, 2000);
    ASSERT_EQ(data.size(), kWavHeaderBytes + want.size());
    std::fill_n(want.begin() + 100 * kFrameBytes, 3 * kFrameBytes, 0);
    for (DWORD f : {500, 501, 1200}) {
        const size_t at = f * kFrameBytes;
        EXPECT_FALSE(std::equal(want.begin() + at, want.begin() + at + kFrameBytes,
                                data.begin() + kWavHeaderBytes + at))
            << "garbled frame " << f << " read right";
        std::copy_n(data.begin() + kWavHeaderBytes + at, kFrameBytes, want.begin() + at);
    }
    EXPECT_TRUE(std::equal(want.begin(), want.end(), data.begin() + kWavHeaderBytes));
}

// Cancel is seen within a read of the click, re-reads or not; the file holds
// the frames written so far, those still in doubt listed.
TEST_P(DamagedDisc, CancelAnswersWithinAReadDuringReReads) {
    OpenDamaged("", "3000-4999");
    g_rereadDrive = &drive;
    g_commandsAtCancel = 0;
    SetTimer(nullptr, 0, 1, CancelDuringRereads);
    DWORD saved = SaveSecond();
    ASSERT_GT(g_commandsAtCancel, 0u) << "no frame was read a third time";
    EXPECT_TRUE(report.cancelled);
    EXPECT_LE(ReadCount(drive), g_commandsAtCancel + 2);
    Bytes file = ReadFileBytes(path);
    EXPECT_EQ(file.size(), kWavHeaderBytes + saved);
    EXPECT_GE(report.inexact.runCount, 1);
}

TEST(SaveWarning, ListsTheFirstRunsAsTimesFromTheTrackStartAndCountsTheRest) {
    CopyReport report = {7, {{0, 1}, {74, 3}, {75, 2}, {4500 + 59 * 75 + 74, 1}, {10 * 4500, 30}}};
    char text[512];
    FormatInexactRuns(report, text, sizeof text);
    std::string shown = text;
    EXPECT_EQ(shown.substr(shown.find('\n')),
              "\n0:00.00 (1 frame)\n0:00.74 (3 frames)\n0:01.00 (2 frames)\n1:59.74 (1 frame)"
              "\n10:00.00 (30 frames)\nand 2 more");
    report.runCount = 1;
    FormatInexactRuns(report, text, 60); // cut, but ended
    EXPECT_EQ(std::string(text).size(), 59u);
}
