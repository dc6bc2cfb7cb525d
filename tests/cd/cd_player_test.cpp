// The CD player end to end: discs opened through the virtual drive (over ASPI
// and over pass-through), their tables of contents, the disc as an mmio
// stream, and playback through the real waveOut into the capture, with every
// transport operation moving the stream where the user would expect.
#include "audio/cd_audio_ioproc.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "cd/scsi_commands.h"
#include "drive_bench.h"
#include "streamer_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace td_test;

namespace {

// The disc's pattern is never zero, so a zero sample was Wine's, not the disc's.
Bytes UnpaddedOpening(int opening) {
    return WithoutPadding(ReadCaptureOpening(opening));
}

// The player plays through the test streamer, and stops on its end message as
// the deck does.
class CdPlayerTest : public StreamerTest, public ::testing::WithParamInterface<Transport> {
  protected:
    void SetUp() override {
        StreamerTest::SetUp();
        Rebuild(kCdBlock);
        stopOnEnd_ = false;
        player.SetStreamer(streamer_);
        InstallCdAudioIOProc();
    }

    void TearDown() override {
        if (stream) mmioClose(stream, 0);
        player.Stop();
        RemoveCdAudioIOProc();
        StreamerTest::TearDown();
    }

    // Puts `description` in drive (0, 1), in place of any disc before, and opens it.
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

    // Lets the playback run until the streamer reports its end, stops the
    // player, and returns everything played by then.
    Bytes PlayToEnd(int ends = 1) {
        EXPECT_TRUE(WaitForEnd(ends, 30000)) << "no end message";
        player.Stop();
        return WithoutPadding(SettledCapture());
    }

    // Opens the player's request over frames [start, end) as an mmio stream.
    void OpenStream(DWORD start, DWORD end) {
        ASSERT_TRUE(player.SetStreamRange(start, end));
        MMIOINFO info = {};
        info.fccIOProc = kCdAudioFourcc;
        stream = mmioOpenA(reinterpret_cast<LPSTR>(player.StreamRequest()), &info, 0);
        ASSERT_NE(stream, nullptr);
    }

    // What one read of `bytes` from the stream gave: nothing when it failed.
    Bytes Read(DWORD bytes) {
        Bytes got(bytes);
        LONG n = mmioRead(stream, reinterpret_cast<HPSTR>(got.data()), static_cast<LONG>(bytes));
        got.resize(n > 0 ? n : 0);
        return got;
    }

    CdPlayer player;
    DriveBench drive{GetParam()};
    HMMIO stream = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Transports, CdPlayerTest, kBothTransports);

} // namespace

TEST_P(CdPlayerTest, PlaysATrackToTwentyFramesBeforeTheNextOrTheLeadOut) {
    VDisc disc = Open("300 200/75 150");
    const DWORD second = disc.layout.tracks[1].start, third = disc.layout.tracks[2].start;
    ASSERT_TRUE(player.PlayTrack(2));
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    EXPECT_EQ(player.CurrentTrack(), 2);
    PlayToEnd();
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP);
    ASSERT_TRUE(player.PlayTrack(3));
    PlayToEnd(2);
    EXPECT_EQ(ends_, 2);
    // The next track's pregap plays with the track before it.
    EXPECT_TRUE(UnpaddedOpening(0) ==
                ExpectedFrames(disc, second, third - kTrackEndMargin - second));
    EXPECT_TRUE(UnpaddedOpening(1) ==
                ExpectedFrames(disc, third, disc.layout.leadOut - kTrackEndMargin - third));
}

// The blocks read before the seek play, then the track from the new frame on.
TEST_P(CdPlayerTest, ASeekWhilePlayingContinuesFromTheNewFrame) {
    VDisc disc = Open("2000 300");
    ASSERT_TRUE(player.PlayTrack(1));
    ASSERT_TRUE(player.SeekTo(1500));
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    Bytes played = PlayToEnd();
    const DWORD after = 2000 - kTrackEndMargin - 1500;
    ASSERT_GE(played.size(), after * kFrameBytes);
    const DWORD before = DWORD(played.size() / kFrameBytes) - after;
    EXPECT_EQ(before % kTransferFrames, 0u);
    Bytes heard = ExpectedFrames(disc, 0, before), rest = ExpectedFrames(disc, 1500, after);
    heard.insert(heard.end(), rest.begin(), rest.end());
    EXPECT_TRUE(played == heard) << before << " frames before";
}

// Resuming right after the disc opened plays track 1; after a pause it goes on
// from the read position, which runs ahead of what was heard.
TEST_P(CdPlayerTest, ResumeGoesOnFromTheStreamPosition) {
    VDisc disc = Open("1500 300");
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    PumpMessages(100);
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PAUSE);
    const DWORD resumeAt = player.StreamPosition();
    Bytes before = WithoutPadding(SettledCapture()); // may end inside a frame
    player.PauseResume();
    EXPECT_EQ(player.GetState(), MCI_MODE_PLAY);
    PlayToEnd();
    Bytes heard = ExpectedFrames(disc, 0, resumeAt);
    ASSERT_TRUE(!before.empty() && before.size() <= heard.size()) << before.size();
    heard.resize(before.size());
    EXPECT_TRUE(before == heard) << before.size() << " bytes played before the pause";
    Bytes resumed = UnpaddedOpening(1);
    EXPECT_TRUE(resumed == ExpectedFrames(disc, resumeAt, 1500 - kTrackEndMargin - resumeAt))
        << resumed.size() << " bytes played from frame " << resumeAt;
}

// A scratch costs only its own frames: the track plays on to its end, every
// frame played the disc's and in order (the silence in their place is dropped
// with Wine's padding).
TEST_P(CdPlayerTest, PlaybackGoesOnPastFramesThatWillNotRead) {
    VDisc disc = Open("1000 300", "600-601, 700");
    ASSERT_TRUE(player.PlayTrack(1));
    Bytes heard = ExpectedFrames(disc, 0, 600), between = ExpectedFrames(disc, 602, 98),
          after = ExpectedFrames(disc, 701, 1000 - kTrackEndMargin - 701);
    heard.insert(heard.end(), between.begin(), between.end());
    heard.insert(heard.end(), after.begin(), after.end());
    EXPECT_TRUE(PlayToEnd() == heard);
    EXPECT_EQ(ends_, 1);
}

TEST_P(CdPlayerTest, OpensOnlyDiscsWithAudioPlaysTheirTracksAndLocksTheDoor) {
    drive.AddCdRom(0, 1, MakeDisc("data:300", "data").cuePath).unitAttention = false;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0);
    // A data disc is read once and kept, with a status query a try, until the
    // drive reports a change: here the tray opening.
    size_t sent = drive.Commands().size();
    EXPECT_EQ(player.OpenDisc(), 0);
    EXPECT_EQ(drive.Commands().size(), sent + 1);
    EXPECT_TRUE(player.HoldsRefusedDisc());
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0);
    EXPECT_FALSE(player.HoldsRefusedDisc());
    Open("300", "", "single");
    EXPECT_EQ(player.TrackCount(), 1);
    Open("300 200", "", "two");
    EXPECT_EQ(player.TrackCount(), 2);
    EXPECT_EQ(player.CurrentTrack(), 1);
    // A track beyond the disc sends nothing.
    sent = drive.Commands().size();
    EXPECT_FALSE(player.PlayTrack(3));
    EXPECT_EQ(drive.Commands().size(), sent);
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP);
    // A locked door refuses the eject.
    EXPECT_TRUE(player.LockDoor());
    EXPECT_FALSE(player.Eject());
    EXPECT_TRUE(player.UnlockDoor());
    EXPECT_TRUE(player.Eject());
    EXPECT_EQ(player.GetState(), MCI_MODE_OPEN);
}

// The display's length of a CD Extra's last audio track and the 30-second
// skips stop at the first session's lead-out; from a mixed-mode disc's data
// track, Play goes to its first audio track.
TEST_P(CdPlayerTest, DataTracksAndTheGapBeforeASessionArePassedOver) {
    Open("300 200 --session data:100", "", "extra");
    EXPECT_EQ(player.TrackLength(2), 200u);
    player.SeekTo(400);
    player.Skip30Seconds(true);
    EXPECT_EQ(player.StreamPosition(), 0u);
    VDisc disc = Open("data:100 300 200", "", "mixed");
    player.PauseResume();
    EXPECT_TRUE(PlayToEnd() == ExpectedFrames(disc, 100, 300 - kTrackEndMargin));
    player.Skip30Seconds(false);
    EXPECT_EQ(player.StreamPosition(), 100u);
}

// Three sessions: each session's last track ends at its own lead-out (the
// first 11,400 frames before the next session, a later one 6,900), and plays
// and reads whole; a 30-second skip into a gap or onto a data track goes on to
// the nearest audio frame in its direction that still plays.
TEST_P(CdPlayerTest, EverySessionEndsAtItsLeadOutAndSkipsPassOverGapsAndData) {
    VDisc disc = Open("300 200 --session 300 200 --session data:100 300", "", "sessions");
    const DWORD s2 = 500 + 11400, s3 = s2 + 500 + 6900;
    EXPECT_EQ(std::make_tuple(player.TrackStart(3), player.TrackStart(5), player.TrackLength(2),
                              player.TrackLength(4)),
              std::make_tuple(s2, s3, 200u, 200u));
    for (int t : {2, 4, 6}) {
        const td_disc::TrackLayout& track = disc.layout.tracks[size_t(t - 1)];
        Bytes saved, block(kTransferFrames * kFrameBytes);
        ASSERT_EQ(player.TrackLengthForSave(t), track.frames);
        for (DWORD f = 0; f < track.frames; f += kTransferFrames) {
            DWORD n = std::min<DWORD>(kTransferFrames, track.frames - f);
            ASSERT_EQ(player.ReadRawSectors(block.data(), track.start + f, n), n * kFrameBytes);
            saved.insert(saved.end(), block.begin(), block.begin() + n * kFrameBytes);
        }
        EXPECT_TRUE(saved == ExpectedFrames(disc, track.start, track.frames)) << t;
        ASSERT_TRUE(player.PlayTrack(t));
        PlayToEnd(t / 2);
        EXPECT_TRUE(UnpaddedOpening(t / 2 - 1) ==
                    ExpectedFrames(disc, track.start, track.frames - kTrackEndMargin))
            << t;
    }
    const std::pair<DWORD, DWORD> skips[][2] = {
        {{450, s2}, {s2 + 100, 500 - kTrackEndMargin - 1}},
        {{s2 + 400, s3 + 100}, {s3 + 110, s2 + 500 - kTrackEndMargin - 1}}};
    for (const auto& pair : skips)
        for (bool forward : {true, false}) {
            player.SeekTo(pair[!forward].first);
            player.Skip30Seconds(forward);
            EXPECT_EQ(player.StreamPosition(), pair[!forward].second) << pair[!forward].first;
        }
}

// CD-Text: the disc's and each track's title and performer, ISO 8859-1 in the
// ANSI code page (Wine's here is 1252), a tab for the text of the track before.
// A pack with a bad CRC is left out, and every text it held a part of; a disc
// without text has none.
TEST_P(CdPlayerTest, ReadsCdTextAndLeavesOutPacksWithABadCrc) {
    VDisc disc =
        Open("300 300 300 --title 0 \"Velvet Days\" --performer 0 \"The Velvet Quartet\" "
             "--title 1 \"Caf\xC3\xA9 Noir\" --title 2 \"Second Light\" --performer 2 Quartet "
             "--performer 3 Quartet",
             "", "text");
    auto texts = [&] {
        std::vector<std::string> all;
        for (int t = 0; t <= 3; t++) all.insert(all.end(), {player.Title(t), player.Performer(t)});
        return all;
    };
    EXPECT_EQ(texts(),
              (std::vector<std::string>{"Velvet Days", "The Velvet Quartet", "Caf\xE9 Noir", "",
                                        "Second Light", "Quartet", "", "Quartet"}));
    // The titles lie in packs 0 to 2: "Velvet Days", then "Caf\xE9 Noir" and the
    // start of "Second Light". Break the second.
    Bytes reply(4096);
    ASSERT_TRUE(ReadCdTextPacks(0, 1, reply.data(), DWORD(reply.size())));
    reply.resize((reply[0] << 8 | reply[1]) + 2);
    reply[4 + 18 + 6] ^= 1;
    // In a CD-Text file, with the reply's header and without.
    Bytes sheet = ReadFileBytes(disc.cuePath);
    for (size_t header : {0, 4}) {
        std::string name = "text" + std::to_string(header);
        ASSERT_TRUE(WriteFileBytes(ScratchDir() + "\\" + name + ".cdt", reply.data() + header,
                                   reply.size() - header));
        std::string text =
            "CDTEXTFILE \"" + name + ".cdt\"\r\n" + std::string(sheet.begin(), sheet.end());
        ASSERT_TRUE(WriteTextFile(ScratchDir() + "\\" + name + ".cue", text));
        drive.devices[0].image = ScratchDir() + "\\" + name + ".cue";
        ASSERT_TRUE(drive.Apply());
        ASSERT_EQ(player.OpenDisc(), 1);
        EXPECT_EQ(texts(), (std::vector<std::string>{"Velvet Days", "The Velvet Quartet", "", "",
                                                     "", "Quartet", "", "Quartet"}));
    }
    Open("300 300");
    EXPECT_EQ(texts(), std::vector<std::string>(8, ""));
}

TEST_P(CdPlayerTest, OpensTheSecondDriveWhenTheFirstHasNoDisc) {
    drive.AddCdRom(0, 1);
    drive.AddCdRom(0, 3, MakeDisc("300 200").cuePath).unitAttention = false;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 2);
    EXPECT_EQ(drive.Commands().back().target, 3);
    EXPECT_EQ(player.TrackStart(2), 300u);
}

TEST_P(CdPlayerTest, ADiscInsertedLaterOpensAfterItsUnitAttention) {
    drive.AddCdRom(0, 1);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0);
    drive.devices[0].image = MakeDisc("300 200").cuePath;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.OpenDisc(), 0); // the status query meets the unit attention
    EXPECT_EQ(player.OpenDisc(), 1);
}

TEST_P(CdPlayerTest, TrackAndSkipButtonsWrapAroundTheDisc) {
    VDisc disc = Open("3000 3000 1000");
    const DWORD discEnd = disc.layout.leadOut - kDiscEndMargin;
    auto where = [&] { return std::make_pair(player.CurrentTrack(), player.StreamPosition()); };
    player.StepTrack(false);
    EXPECT_EQ(where(), std::make_pair(3, DWORD(6000)));
    player.StepTrack(true);
    EXPECT_EQ(where(), std::make_pair(1, DWORD(0)));
    player.SeekTo(1000);
    player.Skip30Seconds(false);
    EXPECT_EQ(where(), std::make_pair(2, discEnd - kSkipFrames));
    player.SeekTo(discEnd - 100);
    player.Skip30Seconds(true);
    EXPECT_EQ(where(), std::make_pair(1, DWORD(0)));
    player.SeekTo(4000);
    player.Skip30Seconds(true);
    EXPECT_EQ(where(), std::make_pair(3, 4000 + kSkipFrames));
    EXPECT_EQ(player.GetState(), MCI_MODE_STOP); // seeking never starts playback
}

// Stopped, the position is the read position; playing, it adds the frames of
// the current block heard. A status query that fails counts as the drive
// reporting itself open (the position is then 1 and those frames), and the
// table read before stays when a new one cannot be read.
TEST_P(CdPlayerTest, PositionAndStateFollowThePlaybackTheTrayAndTheDisc) {
    VDisc disc = Open("3000 200");
    SetLastReadAddress(700);
    EXPECT_FALSE(player.DriveReportsOpen());
    EXPECT_EQ(player.GetPosition(), 700u);
    ASSERT_TRUE(player.PlayTrack(1));
    DWORD p = player.GetPosition();
    EXPECT_GE(p, LastReadAddress());
    EXPECT_LT(p, LastReadAddress() + kTransferFrames);
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(player.GetState(), MCI_MODE_OPEN);
    EXPECT_EQ(player.DrivePosition(), 1u);
    EXPECT_LT(player.GetPosition(), 1 + kTransferFrames);
    EXPECT_FALSE(player.LoadToc());
    EXPECT_EQ(player.TrackStart(3), disc.layout.leadOut);
    drive.devices[0].trayOpen = false;
    drive.devices[0].image.clear();
    ASSERT_TRUE(drive.Apply());
    EXPECT_TRUE(player.DriveReportsOpen());
}

TEST_P(CdPlayerTest, AnswersAddressingFromTheTableOfContentsUpToNinetyNineTracks) {
    VDisc disc = Open("1000 900 800 700/150 600 500 400 300 200 1000 2000 3000");
    const auto& t = disc.layout.tracks;
    uint32_t leadOut = disc.layout.leadOut;
    EXPECT_EQ(player.TrackCount(), 12);
    EXPECT_EQ(player.FirstTrack(), 1);
    EXPECT_EQ(player.LastTrack(), 12);
    EXPECT_EQ(player.TrackStart(4), t[3].start);
    EXPECT_EQ(player.TrackStart(13), leadOut);
    EXPECT_EQ(player.TrackStart(0), player.TrackStart(1));
    EXPECT_EQ(player.DiscEnd(), leadOut - 151);
    EXPECT_EQ(player.TrackOfAddress(t[4].start), 5);
    EXPECT_EQ(player.TrackOfAddress(t[5].start - 1), 5);
    EXPECT_EQ(player.TrackOfAddress(t[3].start - 1), 3); // a pregap belongs to the track before
    EXPECT_EQ(player.TrackOfAddress(leadOut), 0);
    EXPECT_EQ(player.TrackLength(12), leadOut - t[11].start);
    EXPECT_EQ(player.TrackLength(0), 0u);
    EXPECT_EQ(player.TrackLength(13), 0u);
    // A disc shorter than the end margin ends at its lead-out.
    Open("60 40", "", "short");
    EXPECT_EQ(player.DiscEnd(), 100u);
    std::string full;
    for (int i = 0; i < 99; i++) full += "5 ";
    disc = Open(full, "", "full");
    EXPECT_EQ(player.TrackCount(), 99);
    EXPECT_EQ(player.TrackStart(99), 98u * 5);
    EXPECT_EQ(player.TrackStart(100), disc.layout.leadOut);
    EXPECT_EQ(player.TrackOfAddress(99 * 5 - 1), 99);
}

// The disc as an mmio stream: whole frames per read (one READ CD), nothing
// asked past the range's end, and closing leaves the request as it was.
TEST_P(CdPlayerTest, TheStreamReadsWholeFramesUpToTheRangeEnd) {
    VDisc disc = Open("400 100");
    OpenStream(100, 162);
    EXPECT_TRUE(Read(kTransferBytes) == ExpectedFrames(disc, 100, kTransferFrames));
    EXPECT_TRUE(Read(kTransferBytes) == ExpectedFrames(disc, 126, kTransferFrames));
    EXPECT_TRUE(Read(kTransferBytes) == ExpectedFrames(disc, 152, 10));
    size_t sent = drive.Commands().size();
    EXPECT_TRUE(Read(kTransferBytes).empty());
    EXPECT_EQ(drive.Commands().size(), sent);
    const SRB_ExecSCSICmd before = *player.StreamRequest();
    EXPECT_EQ(mmioClose(stream, 0), 0u);
    stream = nullptr;
    EXPECT_EQ(memcmp(&before, player.StreamRequest(), sizeof before), 0);
}

// Less than a frame reads nothing and does not move; seeks are by frame
// address, from the start only; a frame that will not read comes as silence,
// and a read the disc did not answer leaves the position for the next try.
TEST_P(CdPlayerTest, TheStreamMovesByWholeFramesAndAbsoluteSeeksOnly) {
    VDisc disc = Open("400 100", "300");
    OpenStream(0, 400);
    EXPECT_TRUE(Read(kFrameBytes - 1).empty());
    EXPECT_TRUE(Read(kFrameBytes) == ExpectedFrames(disc, 0, 1));
    EXPECT_EQ(mmioSeek(stream, 250, SEEK_SET), 250);
    EXPECT_EQ(mmioSeek(stream, 10, SEEK_CUR), 0);
    EXPECT_EQ(mmioSeek(stream, -10, SEEK_END), 0);
    EXPECT_TRUE(Read(kFrameBytes) == ExpectedFrames(disc, 250, 1));
    EXPECT_EQ(mmioSeek(stream, 290, SEEK_SET), 290);
    Bytes scratched = ExpectedFrames(disc, 290, kTransferFrames);
    std::fill_n(scratched.begin() + 10 * kFrameBytes, kFrameBytes, 0);
    EXPECT_TRUE(Read(kTransferBytes) == scratched);
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_TRUE(Read(kTransferBytes).empty());
    drive.devices[0].trayOpen = false;
    ASSERT_TRUE(drive.Apply());
    EXPECT_TRUE(Read(kTransferBytes) == ExpectedFrames(disc, 316, kTransferFrames));
}
