// The ground the audio tests stand on: what a program plays reaches the
// capture unchanged. (That windows can be drawn and their pixels read back
// on the display, every control test shows.)
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

using namespace td_test;

TEST(Platform, WaveOutReachesCaptureUnchanged) {
    ASSERT_FALSE(CapturePath().empty()) << "run through tests/wine_run";
    WAVEFORMATEX f = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> pcm(44100 * 2);
    for (size_t i = 0; i < pcm.size(); i++) pcm[i] = (int16_t)(i * 7919 + 3);
    WAVEHDR hdr = {};
    hdr.lpData = (LPSTR)pcm.data();
    hdr.dwBufferLength = (DWORD)(pcm.size() * 2);
    ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    for (int i = 0; i < 500 && !(hdr.dwFlags & WHDR_DONE); i++) Sleep(10);
    EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
    waveOutUnprepareHeader(h, &hdr, sizeof hdr);
    waveOutClose(h);

    // Consecutive samples differ, so no stereo sample of it is silent.
    Bytes got = WithoutPadding(WaitForCapture(hdr.dwBufferLength));
    ASSERT_EQ(got.size(), hdr.dwBufferLength);
    EXPECT_EQ(memcmp(got.data(), pcm.data(), got.size()), 0);
}
