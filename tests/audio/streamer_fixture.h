// A streamer on a hidden owner window that answers the end message the way the
// deck does, sources for it to play, and a check of played audio against its
// source.
#pragma once
#include "audio/wave_streamer.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <deque>

// Small blocks keep the tests quick; CD-sized ones are used where the size matters.
constexpr WORD kTestBlock = 16384;
constexpr WORD kCdBlock = 61152;
constexpr size_t kCdFrameBytes = 4; // one stereo 16-bit sample

// A source stream served from a byte pattern through an mmio I/O procedure,
// whose reads can be made to fail.
struct FakeSource {
    DWORD size = 0; // bytes it holds
    DWORD base = 0; // pattern offset of its first byte, to tell sources apart
    DWORD position = 0;
    int reads = 0;             // read requests so far, numbered from 0
    int failFrom = 0x7FFFFFFF; // requests failFrom .. failTo answer failResult
    int failTo = 0x7FFFFFFF;
    LONG failResult = 0;
    int closes = 0;
};

// Opens `source` as a stream (it must outlive the stream).
HMMIO OpenFakeSource(FakeSource* source);

// The pattern: no byte is 0, so no frame of it is silence.
td_test::Bytes FakeBytes(DWORD from, DWORD count);

// `played` is `source` exactly, apart from whole frames of silence the audio
// path inserts wherever a block reached it late.
::testing::AssertionResult PlayedExactly(const td_test::Bytes& played, const td_test::Bytes& source,
                                         size_t frame, BYTE silence = 0);

class StreamerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override {
        delete streamer_;
        DestroyWindow(owner_);
    }
    void Rebuild(WORD blockSize) {
        delete streamer_;
        streamer_ = new WaveStreamer(owner_, blockSize, 4);
        notify_ = WaveStreamer::CreateNotifyWindow(owner_, GetModuleHandleA(nullptr), streamer_);
    }
    // A fake source of `size` bytes that outlives the streamer, so a failed
    // check never leaves the streamer reading a dead one.
    FakeSource& Source(DWORD size, DWORD base = 0) {
        return sources_.emplace_back(FakeSource{size, base});
    }
    // Opens `source` and starts it in CD format for `length` bytes; the stream, or null.
    HMMIO Play(FakeSource& source, DWORD length);
    // Pumps until `count` end messages have come, or the timeout.
    bool WaitForEnd(int count = 1, DWORD timeoutMs = 10000) {
        return td_test::PumpUntil([&] { return ends_ >= count; }, timeoutMs);
    }
    // What the `opening`-th device opening played, once the capture has settled,
    // is exactly `expected` in CD frames.
    ::testing::AssertionResult Heard(int opening, const td_test::Bytes& expected) {
        td_test::SettledCapture();
        return PlayedExactly(td_test::ReadCaptureOpening(opening), expected, kCdFrameBytes);
    }

    const PCMWAVEFORMAT cd_ = {{WAVE_FORMAT_PCM, 2, 44100, 176400, 4}, 16};
    HWND owner_ = nullptr;
    HWND notify_ = nullptr;
    WaveStreamer* streamer_ = nullptr;
    bool stopOnEnd_ = true; // the deck stops the player on the end message
    int ends_ = 0;
    DWORD playedAtEnd_ = 0;

  private:
    static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    std::deque<FakeSource> sources_;
};
