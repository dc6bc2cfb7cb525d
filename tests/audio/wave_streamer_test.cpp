// Playback through the device under Wine: what reaches the capture, when the
// end message comes, and the faults the streamer must survive.
#include "streamer_fixture.h"
#include "support/message_boxes.h"

#include <cctype>
#include <cstdlib>

using td_test::Bytes;

namespace {

constexpr DWORD kBlock = kTestBlock;

// Calls counted from the fault on; those from g_failFrom on fail.
int g_calls = 0;
int g_failFrom = 0;
void* g_original = nullptr;

template <class Fn>
Fn Original(Fn) {
    return reinterpret_cast<Fn>(g_original);
}

// Replaces a function this test program imports from a DLL by rewriting its
// entry in the import address table, so that one platform call fails; the
// product code is linked in, so its calls go through the same entry. Restored
// when it goes.
class Fault {
  public:
    Fault(const char* dll, const char* function, void* fake, int failFrom) {
        g_calls = 0;
        g_failFrom = failFrom;
        g_original = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), function));
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
            base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (; desc->Name && !slot_; desc++)
            for (auto slot = reinterpret_cast<void**>(base + desc->FirstThunk); *slot; slot++)
                if (*slot == g_original && g_original) slot_ = slot;
        if (slot_) Write(fake);
    }
    ~Fault() {
        if (slot_) Write(g_original);
    }

  private:
    void Write(void* value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }

    void** slot_ = nullptr;
};

MMRESULT WINAPI FailingWrite(HWAVEOUT h, LPWAVEHDR hdr, UINT size) {
    if (++g_calls >= g_failFrom) return MMSYSERR_ERROR;
    return Original(&waveOutWrite)(h, hdr, size);
}

MMRESULT WINAPI FailingPrepare(HWAVEOUT h, LPWAVEHDR hdr, UINT size) {
    if (++g_calls >= g_failFrom) return MMSYSERR_NOMEM;
    return Original(&waveOutPrepareHeader)(h, hdr, size);
}

// Only the block allocations count.
LPVOID WINAPI FailingBlockAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (bytes == kBlock + 1000 && ++g_calls >= g_failFrom) return nullptr;
    return Original(&HeapAlloc)(heap, flags, bytes);
}

} // namespace

// Left playing after the end message, a playback of less than a block ends
// once, with no block that was never filled.
TEST_F(StreamerTest, OneBlockPlaybackEndsOnce) {
    stopOnEnd_ = false;
    FakeSource& half = Source(kBlock / 2);
    ASSERT_TRUE(Play(half, half.size));
    ASSERT_TRUE(WaitForEnd());
    td_test::PumpMessages(300);
    EXPECT_EQ(ends_, 1);
    EXPECT_EQ(playedAtEnd_, half.size);
    EXPECT_TRUE(streamer_->StopOutput());
    EXPECT_TRUE(Heard(0, FakeBytes(0, half.size)));
}

// A seek mid-playback is the CD player's (shown there). Here the budget runs
// out in the prefill and more bytes resume the reads; then two reads fail and
// the next ones succeed: nothing is lost.
TEST_F(StreamerTest, ReadsResumeAfterTheBudgetRanOutOrAReadFailed) {
    FakeSource& source = Source(40 * kBlock);
    source.failFrom = 4;
    source.failTo = 5;
    source.failResult = -1;
    ASSERT_TRUE(Play(source, 2 * kBlock));
    streamer_->SetRemaining(6 * kBlock);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heard(0, FakeBytes(0, 8 * kBlock)));
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

TEST_F(StreamerTest, ABusyStreamerRefusesWithoutABoxAndPlaysOn) {
    FakeSource& first = Source(4 * kBlock);
    FakeSource& second = Source(kBlock);
    ASSERT_TRUE(Play(first, first.size));
    EXPECT_EQ(streamer_->OpenOutput(OpenFakeSource(&second), 0, &cd_), 0);
    EXPECT_EQ(second.closes, 1);
    td_test::MessageBoxWatcher boxes;
    EXPECT_EQ(
        streamer_->PlayWaveFile(td_test::FromUnixPath(TD_TEST_WAVES "/s16_44100.wav").c_str()), 0);
    EXPECT_TRUE(boxes.Seen().empty()) << boxes.Texts();
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

// As when the deck is destroyed while playing: the notice window goes with it.
TEST_F(StreamerTest, DestroyingTheOwnerStopsThePlayback) {
    FakeSource& orphaned = Source(40 * kBlock);
    ASSERT_TRUE(Play(orphaned, orphaned.size));
    DestroyWindow(owner_);
    EXPECT_EQ(orphaned.closes, 1);
    EXPECT_EQ(streamer_->GetPlayedBytes(), 0u);
    td_test::PumpMessages(200);
    EXPECT_EQ(ends_, 0);
}

// A failed write ends the playback at once with the streamer's box; a failed
// prepare ends it quietly once the blocks written have played.
TEST_F(StreamerTest, AFailedWriteOrPrepareEndsThePlaybackAfterTheBlocksWritten) {
    stopOnEnd_ = false;
    const struct {
        const char* function;
        void* fake;
        int failFrom;
        DWORD blocksHeard;
        size_t boxes;
    } faults[] = {
        {"waveOutWrite", (void*)FailingWrite, 1, 0, 1},
        {"waveOutWrite", (void*)FailingWrite, 3, 2, 1},
        {"waveOutPrepareHeader", (void*)FailingPrepare, 4, 3, 0},
    };
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(std::string(faults[i].function) + " failing from call " +
                     std::to_string(faults[i].failFrom));
        td_test::MessageBoxWatcher boxes;
        FakeSource& source = Source(20 * kBlock);
        ends_ = 0;
        {
            Fault fault("winmm.dll", faults[i].function, faults[i].fake, faults[i].failFrom);
            ASSERT_TRUE(Play(source, source.size));
            ASSERT_TRUE(WaitForEnd());
        }
        td_test::PumpMessages(200);
        EXPECT_EQ(ends_, 1);
        ASSERT_EQ(boxes.Seen().size(), faults[i].boxes) << boxes.Texts();
        for (const td_test::MessageBoxSeen& box : boxes.Seen())
            EXPECT_EQ(std::make_pair(box.text, box.owner),
                      std::make_pair(std::string("Failed to write block memory"), owner_));
        EXPECT_TRUE(streamer_->StopOutput());
        EXPECT_EQ(source.closes, 1);
        EXPECT_TRUE(Heard(i, FakeBytes(0, faults[i].blocksHeard * kBlock)));
    }
}

TEST_F(StreamerTest, AShortRingStillPlaysEveryBlockInOrder) {
    {
        // With no block at all the open fails and the source is closed.
        FakeSource& source = Source(kBlock);
        Fault fault("kernel32.dll", "HeapAlloc", (void*)FailingBlockAlloc, 1);
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
    // The mixer keeps a channel's volume as a fraction, and 32-bit Wine rounds
    // it back down by one: what the deck's sliders show is the same either way.
    auto withinAStep = [](DWORD got, DWORD set) {
        return std::abs(int(LOWORD(got)) - int(LOWORD(set))) <= 1 &&
               std::abs(int(HIWORD(got)) - int(HIWORD(set))) <= 1;
    };
    // Wine refuses the device number: with nothing open and nothing set there
    // is no volume to report.
    DWORD volume = 0x12345678;
    EXPECT_EQ(streamer_->GetVolume(&volume), 0);
    EXPECT_EQ(volume, 0x12345678u);
    FakeSource& first = Source(40 * kBlock);
    ASSERT_TRUE(Play(first, first.size));
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_PRED2(withinAStep, volume, 0xFFFFFFFFu);
    EXPECT_EQ(streamer_->SetVolume(0x40008000), 1);
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_PRED2(withinAStep, volume, 0x40008000u);
    streamer_->StopOutput();
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_PRED2(withinAStep, volume, 0x40008000u);
    // The next playback opens at the volume set.
    FakeSource& second = Source(2 * kBlock);
    ASSERT_TRUE(Play(second, second.size));
    ASSERT_EQ(streamer_->GetVolume(&volume), 1);
    EXPECT_PRED2(withinAStep, volume, 0x40008000u);
}

TEST(WaveDevice, IsFoundByPartOfItsProductNameCaseSensitively) {
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
