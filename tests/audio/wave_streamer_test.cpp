// Playback through the device under Wine: what reaches the capture, when the
// end message comes, and the faults the streamer must survive.
#include "import_patch.h"
#include "streamer_fixture.h"
#include "support/message_boxes.h"

#include <cctype>
#include <cstdlib>

using td_test::Bytes;

namespace {

constexpr DWORD kCdFrame = 2352;
constexpr DWORD kBlock = kTestBlock;

// Calls counted from the patch on; those from g_failFrom on fail.
int g_calls = 0;
int g_failFrom = 0;
ImportPatch* g_patch = nullptr;

MMRESULT WINAPI FailingWrite(HWAVEOUT h, LPWAVEHDR hdr, UINT size) {
    if (++g_calls >= g_failFrom) return MMSYSERR_ERROR;
    return g_patch->Original<decltype(&waveOutWrite)>()(h, hdr, size);
}

MMRESULT WINAPI FailingPrepare(HWAVEOUT h, LPWAVEHDR hdr, UINT size) {
    if (++g_calls >= g_failFrom) return MMSYSERR_NOMEM;
    return g_patch->Original<decltype(&waveOutPrepareHeader)>()(h, hdr, size);
}

// Only the block allocations count.
LPVOID WINAPI FailingBlockAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (bytes == kBlock + 1000 && ++g_calls >= g_failFrom) return nullptr;
    return g_patch->Original<decltype(&HeapAlloc)>()(heap, flags, bytes);
}

struct Fault {
    Fault(const char* dll, const char* fn, void* fake, int failFrom) : patch(dll, fn, fake) {
        g_calls = 0;
        g_failFrom = failFrom;
        g_patch = &patch;
    }
    ImportPatch patch;
};

} // namespace

TEST_F(StreamerTest, ACdTrackPlaysToItsLastFrameBeforeTheEndMessage) {
    Rebuild(kCdBlock);
    EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
    FakeSource& track = Source(100 * kCdFrame); // 3.85 blocks: the last read is a remainder
    HMMIO stream = Play(track, track.size);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(streamer_->IsSourceOpen(stream));
    DWORD last = 0;
    ASSERT_TRUE(td_test::PumpUntil(
        [&] {
            if (ends_ > 0) return true;
            EXPECT_GE(streamer_->GetPlayedBytes(), last);
            last = streamer_->GetPlayedBytes();
            return false;
        },
        10000));
    // The deck stops at once on the end message, so all must have played by then.
    EXPECT_EQ(playedAtEnd_, track.size);
    EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
    EXPECT_FALSE(streamer_->IsSourceOpen(stream));
    EXPECT_EQ(track.closes, 1);
    EXPECT_TRUE(Heard(0, FakeBytes(0, track.size)));
    Bytes played = td_test::ReadCapture();
    ASSERT_GE(played.size(), kCdFrame);
    EXPECT_EQ(Bytes(played.end() - kCdFrame, played.end()),
              FakeBytes(track.size - kCdFrame, kCdFrame));
    td_test::PumpMessages(200);
    EXPECT_EQ(ends_, 1);
}

TEST_F(StreamerTest, LengthZeroPlaysUntilTheSourceEnds) {
    FakeSource& source = Source(3 * kBlock + 1000);
    ASSERT_TRUE(Play(source, 0));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(0, FakeBytes(0, source.size)));
}

TEST_F(StreamerTest, OneBlockPlaybackEndsOnceWithNoEmptyBlock) {
    stopOnEnd_ = false;
    FakeSource& source = Source(kBlock / 2);
    ASSERT_TRUE(Play(source, source.size));
    ASSERT_TRUE(WaitForEnd());
    td_test::PumpMessages(300);
    EXPECT_EQ(ends_, 1);
    EXPECT_EQ(playedAtEnd_, source.size);
    EXPECT_TRUE(streamer_->StopOutput());
    EXPECT_TRUE(Heard(0, FakeBytes(0, source.size)));
}

TEST_F(StreamerTest, SetRemainingGovernsTheReadsThatFollow) {
    // Mid-playback: what is already read still plays, then only the new budget.
    FakeSource& seeked = Source(40 * kBlock);
    ASSERT_TRUE(Play(seeked, seeked.size));
    ASSERT_TRUE(td_test::PumpUntil([&] { return streamer_->GetPlayedBytes() > 0; }, 5000));
    const DWORD readSoFar = seeked.position;
    streamer_->SetRemaining(kBlock + 400);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(0, FakeBytes(0, readSoFar + kBlock + 400)));
    // After the budget ran out (the prefill took it all), more bytes resume the reads.
    FakeSource& extended = Source(40 * kBlock, 0x100000);
    ASSERT_TRUE(Play(extended, 2 * kBlock));
    streamer_->SetRemaining(3 * kBlock);
    ASSERT_TRUE(WaitForEnd(2));
    EXPECT_TRUE(Heard(1, FakeBytes(extended.base, 5 * kBlock)));
}

TEST_F(StreamerTest, FailedReadsEndAfterWhatWasReadOrLoseNothing) {
    // A READ CD failing for good mid-playback: what was read plays, nothing stale.
    FakeSource& broken = Source(20 * kBlock);
    broken.failFrom = 5;
    ASSERT_TRUE(Play(broken, broken.size));
    ASSERT_TRUE(WaitForEnd());
    td_test::PumpMessages(200);
    EXPECT_EQ(ends_, 1);
    EXPECT_TRUE(Heard(0, FakeBytes(0, 5 * kBlock)));
    // Two reads failing (with an error) and then recovering lose nothing.
    FakeSource& flaky = Source(8 * kBlock, 0x100000);
    flaky.failFrom = 4;
    flaky.failTo = 5;
    flaky.failResult = -1;
    ASSERT_TRUE(Play(flaky, flaky.size));
    ASSERT_TRUE(WaitForEnd(2));
    EXPECT_TRUE(Heard(1, FakeBytes(flaky.base, flaky.size)));
}

TEST_F(StreamerTest, FailedOpensCloseTheSourceAndLeaveTheStreamerReusable) {
    FakeSource& empty = Source(0);
    HMMIO stream = OpenFakeSource(&empty);
    EXPECT_EQ(streamer_->OpenOutput(stream, 0, &cd_), 0);
    EXPECT_EQ(empty.closes, 1);
    EXPECT_FALSE(streamer_->IsSourceOpen(stream));

    FakeSource& badDevice = Source(kBlock);
    streamer_->SetDevice(99);
    EXPECT_FALSE(Play(badDevice, badDevice.size));
    EXPECT_EQ(badDevice.closes, 1);
    streamer_->SetDevice(0);

    FakeSource& badFormat = Source(kBlock);
    PCMWAVEFORMAT none = {};
    EXPECT_EQ(streamer_->OpenOutput(OpenFakeSource(&badFormat), 0, &none), 0);
    EXPECT_EQ(badFormat.closes, 1);

    FakeSource& good = Source(kBlock + 8);
    ASSERT_TRUE(Play(good, good.size));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(1, FakeBytes(0, good.size))); // the empty source opened the device first
}

TEST_F(StreamerTest, ABusyStreamerRefusesAndPlaysOn) {
    FakeSource& first = Source(4 * kBlock);
    FakeSource& second = Source(kBlock);
    ASSERT_TRUE(Play(first, first.size));
    HMMIO refused = OpenFakeSource(&second);
    EXPECT_EQ(streamer_->OpenOutput(refused, 0, &cd_), 0);
    EXPECT_EQ(second.closes, 1);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(0, FakeBytes(0, first.size)));
}

TEST_F(StreamerTest, APlaybackOpenedBeforeTheOldCloseNoticeKeepsItsBlocksAndSource) {
    FakeSource& old = Source(40 * kBlock);
    FakeSource& fresh = Source(6 * kBlock + 100, 0x100000);
    HMMIO oldStream = Play(old, old.size);
    ASSERT_TRUE(oldStream);
    ASSERT_TRUE(td_test::PumpUntil([&] { return streamer_->GetPlayedBytes() > 0; }, 5000));
    EXPECT_TRUE(streamer_->StopOutput());
    EXPECT_EQ(old.closes, 1);
    EXPECT_FALSE(streamer_->IsSourceOpen(oldStream));
    // The old playback's notices are still queued when the new one opens.
    HMMIO stream = Play(fresh, fresh.size);
    ASSERT_TRUE(stream);
    td_test::PumpMessages(20);
    EXPECT_TRUE(streamer_->IsSourceOpen(stream));
    EXPECT_EQ(fresh.closes, 0);
    // Nor may a stray completion notice take a block that is still playing.
    SendMessageA(notify_, MM_WOM_DONE, 0, 0);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(fresh.closes, 1);
    EXPECT_EQ(old.closes, 1);
    EXPECT_TRUE(Heard(1, FakeBytes(fresh.base, fresh.size)));
}

TEST_F(StreamerTest, NoticesAfterStopAndDestructionChangeNothing) {
    FakeSource& stopped = Source(40 * kBlock);
    ASSERT_TRUE(Play(stopped, stopped.size));
    td_test::PumpMessages(50);
    EXPECT_TRUE(streamer_->StopOutput());
    for (UINT msg : {MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE, MM_WOM_OPEN})
        EXPECT_EQ(SendMessageA(notify_, msg, 0, 0), 1);
    td_test::PumpMessages(200);
    EXPECT_EQ(ends_, 0);
    EXPECT_EQ(stopped.closes, 1);
    // Destroying the streamer mid-playback stops it like StopOutput.
    FakeSource& dropped = Source(40 * kBlock);
    ASSERT_TRUE(Play(dropped, dropped.size));
    delete streamer_;
    streamer_ = nullptr;
    EXPECT_EQ(dropped.closes, 1);
    EXPECT_FALSE(IsWindow(notify_));
    // So does destroying the owner, which takes the notice window with it.
    Rebuild(kTestBlock);
    FakeSource& orphaned = Source(40 * kBlock);
    ASSERT_TRUE(Play(orphaned, orphaned.size));
    DestroyWindow(owner_);
    EXPECT_EQ(orphaned.closes, 1);
    EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
    td_test::PumpMessages(200);
    EXPECT_EQ(ends_, 0);
}

TEST_F(StreamerTest, AFailedWriteShowsOneBoxAndEndsAtOnce) {
    stopOnEnd_ = false;
    for (int failing : {1, 3}) { // the very first write, and one mid-playback
        td_test::MessageBoxWatcher boxes;
        FakeSource& source = Source(20 * kBlock);
        ends_ = 0;
        {
            Fault fault("winmm.dll", "waveOutWrite", (void*)FailingWrite, failing);
            ASSERT_TRUE(fault.patch.Active());
            ASSERT_TRUE(Play(source, source.size));
            ASSERT_TRUE(WaitForEnd()) << failing;
        }
        td_test::PumpMessages(200);
        EXPECT_EQ(ends_, 1);
        ASSERT_EQ(boxes.Seen().size(), 1u) << boxes.Texts();
        EXPECT_EQ(boxes.Seen()[0].text, "Failed to write block memory");
        EXPECT_EQ(boxes.Seen()[0].owner, owner_);
        EXPECT_TRUE(streamer_->StopOutput());
        EXPECT_EQ(source.closes, 1);
    }
    // Only the blocks written before the failure played.
    EXPECT_TRUE(Heard(1, FakeBytes(0, 2 * kBlock)));
}

TEST_F(StreamerTest, APrepareFailureEndsThePlaybackInsteadOfStalling) {
    FakeSource& source = Source(20 * kBlock);
    Fault fault("winmm.dll", "waveOutPrepareHeader", (void*)FailingPrepare, 4);
    ASSERT_TRUE(fault.patch.Active());
    ASSERT_TRUE(Play(source, source.size));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(0, FakeBytes(0, 3 * kBlock)));
}

TEST_F(StreamerTest, AShortRingStillPlaysEveryBlockInOrder) {
    {
        // With no block at all the open fails and the source is closed.
        FakeSource& source = Source(kBlock);
        Fault fault("kernel32.dll", "HeapAlloc", (void*)FailingBlockAlloc, 1);
        ASSERT_TRUE(fault.patch.Active());
        EXPECT_EQ(streamer_->OpenOutput(OpenFakeSource(&source), 0, &cd_), 0);
        EXPECT_EQ(source.closes, 1);
    }
    for (int slots = 1; slots <= 3; slots++) {
        FakeSource& source = Source(6 * kBlock + 40, slots * 0x100000);
        {
            Fault fault("kernel32.dll", "HeapAlloc", (void*)FailingBlockAlloc, slots + 1);
            ASSERT_TRUE(Play(source, source.size));
        }
        ASSERT_TRUE(WaitForEnd(slots)) << slots;
        EXPECT_TRUE(Heard(slots - 1, FakeBytes(source.base, source.size))) << slots << " slots";
    }
}

TEST_F(StreamerTest, VolumeGoesThroughTheOpenPlaybackAndCarriesToTheNext) {
    // Wine refuses the device number: with nothing open and nothing set there
    // is no volume to report.
    DWORD volume = 0x12345678;
    EXPECT_EQ(streamer_->GetVolume(&volume), 0);
    EXPECT_EQ(volume, 0x12345678u);
    FakeSource& first = Source(40 * kBlock);
    ASSERT_TRUE(Play(first, first.size));
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_EQ(volume, 0xFFFFFFFFu);
    EXPECT_EQ(streamer_->SetVolume(0x40008000), 1);
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_EQ(volume, 0x40008000u);
    streamer_->StopOutput();
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_EQ(volume, 0x40008000u);
    // The next playback opens at the volume set, and it is heard: left at a
    // half, right at a quarter.
    FakeSource& second = Source(2 * kBlock);
    ASSERT_TRUE(Play(second, second.size));
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_EQ(volume, 0x40008000u);
    ASSERT_TRUE(WaitForEnd());
    td_test::SettledCapture();
    Bytes played = td_test::ReadCaptureOpening(1), source = FakeBytes(0, second.size);
    ASSERT_GE(played.size(), source.size());
    double level[2][2] = {};
    for (size_t i = 0; i < source.size(); i += 2) {
        level[0][i / 2 % 2] += std::abs(*reinterpret_cast<const int16_t*>(&played[i]));
        level[1][i / 2 % 2] += std::abs(*reinterpret_cast<const int16_t*>(&source[i]));
    }
    EXPECT_NEAR(level[0][0] / level[1][0], 0.5, 0.1);
    EXPECT_NEAR(level[0][1] / level[1][1], 0.25, 0.1);
}

TEST_F(StreamerTest, FindWaveDeviceMatchesPartOfTheProductNameCaseSensitively) {
    WAVEOUTCAPSA caps = {};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    std::string name = caps.szPname, flipped = name;
    ASSERT_GE(name.size(), 3u);
    EXPECT_EQ(WaveStreamer::FindWaveDevice(name.substr(1, name.size() - 2).c_str()), 0);
    for (char& c : flipped) c = isalpha((unsigned char)c) ? c ^ 0x20 : c;
    if (flipped != name) {
        EXPECT_EQ(WaveStreamer::FindWaveDevice(flipped.c_str()), -1);
    }
    EXPECT_EQ(WaveStreamer::FindWaveDevice("Sonavel"), -1);
}
