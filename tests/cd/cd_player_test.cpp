// The CD player end to end: discs opened through the virtual drive (over ASPI
// and over pass-through) and played digitally through the real waveOut into
// the capture, with every transport operation moving the stream where the user
// would expect.
#include "audio/cd_audio_ioproc.h"
#include "audio/wave_streamer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "cd/scsi_commands.h"
#include "cd_test_util.h"
#include "tools/disc/frame_pattern.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

constexpr char kOwnerClass[] = "CdPlayerTestOwner";
int g_endMessages;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kWaveEndMessage) {
        g_endMessages++;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Where a stretch of played audio came from: consecutive frames from `first`.
// A playback that was stopped may end inside a frame.
struct PlayedRun {
    uint32_t first;
    size_t bytes;
    uint32_t Frames() const { return static_cast<uint32_t>(bytes / kFrameBytes); }
};

// Splits what was played into runs of consecutive pattern frames.
std::vector<PlayedRun> PlayedRuns(const Bytes& played) {
    std::vector<PlayedRun> runs;
    size_t at = 0;
    while (at < played.size()) {
        td_disc::PatternPos pos;
        size_t n = td_disc::PatternRun(&played[at], played.size() - at, &pos);
        if (n == 0) {
            ADD_FAILURE() << "audio that is not from the disc at byte " << at;
            break;
        }
        EXPECT_EQ(pos.offset, 0u) << "a run that starts inside a frame";
        runs.push_back({pos.lba, n});
        at += n;
    }
    return runs;
}

class CdPlayerTest : public ::testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = instance;
        wc.lpszClassName = kOwnerClass;
        RegisterClassA(&wc);
        WaveStreamer::RegisterNotifyClass(instance);
        owner_ = CreateWindowExA(0, kOwnerClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 instance, nullptr);
        streamer_ = new WaveStreamer(owner_, kTransferBytes, 4);
        WaveStreamer::CreateNotifyWindow(owner_, instance, streamer_);
        player.SetStreamer(streamer_);
        InstallCdAudioIOProc();
        g_endMessages = 0;
    }

    void TearDown() override {
        player.Stop();
        RemoveCdAudioIOProc();
        DestroyWindow(owner_);
        delete streamer_;
    }

    // Puts `description` in drive (0, 1) and opens it.
    VDisc Open(const std::string& description) {
        VDisc disc = MakeDisc(description);
        drive.AddCdRom(0, 1, disc.cuePath).unitAttention = false;
        EXPECT_TRUE(drive.Apply());
        EXPECT_EQ(player.OpenDisc(), 1);
        return disc;
    }

    // Lets the playback run until the streamer reports its end, then stops the
    // player as the deck does, and returns everything played.
    Bytes PlayToEnd() {
        EXPECT_TRUE(PumpUntil([] { return g_endMessages > 0; }, 30000)) << "no end message";
        player.Stop();
        return SettledCapture();
    }

    DWORD Start(const VDisc& disc, int track) { return disc.layout.tracks[track - 1].start; }

    CdPlayer player;
    DriveBench drive{GetParam()};
    WaveStreamer* streamer_ = nullptr;
    HWND owner_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Transports, CdPlayerTest,
                         ::testing::Values(Transport::Aspi, Transport::PassThrough));

} // namespace

TEST_P(CdPlayerTest, PlaysATrackToTwentyFramesBeforeTheNext) {
    VDisc disc = Open("300 200/75 150");
    ASSERT_TRUE(player.PlayTrack(2));
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    EXPECT_EQ(player.CurrentTrack(), 2);
    Bytes played = PlayToEnd();
    DWORD end = disc.layout.tracks[2].start - kTrackEndMargin; // the next track's pregap plays
    EXPECT_EQ(played.size(), (end - Start(disc, 2)) * kFrameBytes);
    EXPECT_TRUE(played == ExpectedFrames(disc, Start(disc, 2), end - Start(disc, 2)));
    EXPECT_EQ(g_endMessages, 1);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP);
}

TEST_P(CdPlayerTest, TheLastTrackEndsTwentyFramesBeforeTheLeadOut) {
    VDisc disc = Open("100 130");
    ASSERT_TRUE(player.PlayTrack(2));
    Bytes played = PlayToEnd();
    EXPECT_TRUE(played == ExpectedFrames(disc, 100, 130 - kTrackEndMargin));
}

TEST_P(CdPlayerTest, ASeekWhilePlayingContinuesFromTheNewFrame) {
    VDisc disc = Open("2000 300");
    ASSERT_TRUE(player.PlayTrack(1));
    ASSERT_TRUE(player.SeekTo(1500));
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    std::vector<PlayedRun> runs = PlayedRuns(PlayToEnd());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[0].bytes % kTransferBytes, 0u); // the blocks read before the seek
    EXPECT_EQ(runs[1].first, 1500u);
    EXPECT_EQ(runs[1].first + runs[1].Frames(), 2000 - kTrackEndMargin);
    EXPECT_EQ(runs[1].bytes % kFrameBytes, 0u);
}

TEST_P(CdPlayerTest, PauseThenResumeGoesOnFromTheStreamPosition) {
    VDisc disc = Open("1500 300");
    ASSERT_TRUE(player.PlayTrack(1));
    PumpMessages(100);
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PAUSE);
    DWORD resumeAt = player.StreamPosition();
    Bytes before = SettledCapture();
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    PlayToEnd();
    std::vector<PlayedRun> first = PlayedRuns(before);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].first, 0u);
    EXPECT_GE(resumeAt, first[0].Frames()); // the read position runs ahead of what was heard
    std::vector<PlayedRun> second = PlayedRuns(ReadCaptureOpening(1));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].first, resumeAt);
    EXPECT_EQ(second[0].first + second[0].Frames(), 1500 - kTrackEndMargin);
}

TEST_P(CdPlayerTest, AReadErrorEndsThePlaybackWithNothingStale) {
    VDisc disc = MakeDisc("1000 300");
    VDevice& d = drive.AddCdRom(0, 1, disc.cuePath);
    d.unitAttention = false;
    d.readErrors = "600";
    ASSERT_TRUE(drive.Apply());
    ASSERT_EQ(player.OpenDisc(), 1);
    ASSERT_TRUE(player.PlayTrack(1));
    std::vector<PlayedRun> runs = PlayedRuns(PlayToEnd());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[0].bytes, 600 / kTransferFrames * kTransferBytes); // up to the bad block
}

TEST_P(CdPlayerTest, OpensOnlyDiscsOfTwoTracksOrMore) {
    VDisc single = MakeDisc("300", "single");
    drive.AddCdRom(0, 1, single.cuePath).unitAttention = false;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0);
    VDisc two = MakeDisc("300 200", "two");
    drive.devices[0].image = two.cuePath;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 1);
    EXPECT_EQ(player.TrackCount(), 2);
    EXPECT_EQ(player.CurrentTrack(), 1);
}

TEST_P(CdPlayerTest, OpensTheSecondDriveWhenTheFirstHasNoDisc) {
    VDisc disc = MakeDisc("300 200");
    drive.AddCdRom(0, 1);
    drive.AddCdRom(0, 3, disc.cuePath).unitAttention = false;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 2);
    EXPECT_EQ(drive.Commands().back().target, 3);
    EXPECT_EQ(player.TrackStart(2), 300u);
}

TEST_P(CdPlayerTest, ADiscInsertedLaterOpensAfterItsUnitAttention) {
    drive.AddCdRom(0, 1);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0);
    VDisc disc = MakeDisc("300 200");
    drive.devices[0].image = disc.cuePath;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0); // the status query meets the unit attention
    EXPECT_EQ(player.OpenDisc(), 1);
}

TEST_P(CdPlayerTest, TrackAndSkipButtonsWrapAroundTheDisc) {
    VDisc disc = Open("3000 3000 1000");
    DWORD discEnd = disc.layout.leadOut - kDiscEndMargin;
    player.StepTrack(false);
    EXPECT_EQ(player.CurrentTrack(), 3);
    EXPECT_EQ(player.StreamPosition(), 6000u);
    player.StepTrack(true);
    EXPECT_EQ(player.CurrentTrack(), 1);
    EXPECT_EQ(player.StreamPosition(), 0u);

    player.SeekTo(1000);
    player.Skip30Seconds(false);
    EXPECT_EQ(player.StreamPosition(), discEnd - kSkipFrames);
    EXPECT_EQ(player.CurrentTrack(), 2);
    player.SeekTo(discEnd - 100);
    player.Skip30Seconds(true);
    EXPECT_EQ(player.StreamPosition(), 0u);
    player.SeekTo(4000);
    player.Skip30Seconds(true);
    EXPECT_EQ(player.StreamPosition(), 4000 + kSkipFrames);
    EXPECT_EQ(player.CurrentTrack(), 3);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP); // seeking never starts playback
}

TEST_P(CdPlayerTest, PlayingATrackBeyondTheDiscSendsNothing) {
    Open("300 200");
    size_t sent = drive.Commands().size();
    EXPECT_FALSE(player.PlayTrack(3));
    EXPECT_EQ(drive.Commands().size(), sent);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP);
}

TEST_P(CdPlayerTest, ATrayOpenedWhilePlayingReportsOpen) {
    Open("3000 200");
    ASSERT_TRUE(player.PlayTrack(1));
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.GetState(), MCI_MODE_OPEN);
    EXPECT_LT(player.GetPosition(), 1 + kTransferFrames); // 1 and the frames heard of the block
}

TEST_P(CdPlayerTest, ResumeRightAfterOpeningPlaysTrackOne) {
    VDisc disc = Open("200 200");
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    std::vector<PlayedRun> runs = PlayedRuns(PlayToEnd());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[0].bytes, (200 - kTrackEndMargin) * kFrameBytes);
}

TEST_P(CdPlayerTest, SavingRangesAndRawReads) {
    VDisc disc = Open("300 200");
    EXPECT_EQ(player.TrackLengthForSave(2), 200 - kTrackEndMargin);
    EXPECT_EQ(player.StreamPosition(), 300u);
    EXPECT_EQ(StreamEndAddress(player.StreamRequest()), 500 - kTrackEndMargin);
    Bytes buffer(kTransferBytes);
    EXPECT_EQ(player.ReadRawSectors(buffer.data(), 310, kTransferFrames), kTransferBytes);
    EXPECT_TRUE(buffer == ExpectedFrames(disc, 310, kTransferFrames));
    EXPECT_EQ(player.ReadRawSectors(buffer.data(), 499, kTransferFrames), 0u);
    EXPECT_TRUE(player.LockDoor());
    EXPECT_FALSE(player.Eject());
    EXPECT_TRUE(player.UnlockDoor());
    EXPECT_TRUE(player.Eject());
    EXPECT_EQ(player.GetState(), MCI_MODE_OPEN);
}

TEST_P(CdPlayerTest, PositionAddsTheFramesPlayedOfTheCurrentBlock) {
    Open("3000 200");
    SetLastReadAddress(700);
    EXPECT_EQ(player.GetPosition(), 700u); // stopped: the read position alone
    ASSERT_TRUE(player.PlayTrack(1));
    DWORD p = player.GetPosition();
    EXPECT_GE(p, LastReadAddress());
    EXPECT_LT(p, LastReadAddress() + kTransferFrames);
}
