// A streamer on a hidden owner window that answers the end message the way the
// deck does, and a check of played audio against its source.
#pragma once
#include "audio/pcm_format.h"
#include "audio/wave_streamer.h"
#include "fake_source.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <deque>

// Small blocks keep the tests quick; CD-sized ones are used where the size matters.
constexpr WORD kTestBlock = 16384;
constexpr WORD kCdBlock = 61152;
constexpr size_t kCdFrameBytes = 4; // one stereo 16-bit sample

// `played` is `source` exactly, apart from whole frames of silence the audio
// path inserts wherever a block reached it late.
::testing::AssertionResult PlayedExactly(const td_test::Bytes& played, const td_test::Bytes& source,
                                         size_t frame, BYTE silence = 0);

class StreamerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void Rebuild(WORD blockSize);
    // A fake source of `size` bytes that outlives the streamer, so a failed
    // check never leaves the streamer reading a dead one.
    FakeSource& Source(DWORD size, DWORD base = 0);
    // Opens `source` and starts it in CD format for `length` bytes; the stream, or null.
    HMMIO Play(FakeSource& source, DWORD length);
    // Pumps until `count` end messages have come, or the timeout.
    bool WaitForEnd(int count = 1, DWORD timeoutMs = 10000);
    // What the `opening`-th device opening played, once the capture has settled,
    // is exactly `expected` in CD frames.
    ::testing::AssertionResult Heard(int opening, const td_test::Bytes& expected);

    PCMWAVEFORMAT cd_ = {};
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
