// The capability formats, and which "fmt " records reach the device and in what form.
#include "audio/pcm_format.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

constexpr GUID kSubtype(DWORD tag) {
    return {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

WAVEFORMATEXTENSIBLE Record(WORD tag, WORD channels, WORD bits, WORD valid = 0, DWORD sub = 1) {
    WAVEFORMATEXTENSIBLE f = {};
    f.Format = {tag, channels, 44100, 0, (WORD)(channels * bits / 8), bits, 22};
    f.Samples.wValidBitsPerSample = valid ? valid : bits;
    f.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : 0x33;
    f.SubFormat = kSubtype(sub);
    return f;
}

} // namespace

TEST(PcmFormat, CapabilityFlagsGiveTheirFormatsAndNothingElse) {
    struct {
        DWORD flag;
        WORD channels;
        DWORD rate;
        WORD bits;
    } const table[] = {{0, 1, 8192, 8},
                       {WAVE_FORMAT_1S16, 2, 11025, 16},
                       {WAVE_FORMAT_2S08, 2, 22050, 8},
                       {WAVE_FORMAT_4M08, 1, 44100, 8},
                       {WAVE_FORMAT_4S16, 2, 44100, 16}};
    for (const auto& row : table) {
        PCMWAVEFORMAT f = {};
        ASSERT_EQ(MakePcmFormat(row.flag, &f), 1) << row.flag;
        EXPECT_EQ(f.wf.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.wf.nChannels, row.channels);
        EXPECT_EQ(f.wf.nSamplesPerSec, row.rate);
        EXPECT_EQ(f.wBitsPerSample, row.bits);
        EXPECT_EQ(f.wf.nBlockAlign * row.rate, f.wf.nAvgBytesPerSec);
    }
    PCMWAVEFORMAT f = {};
    MakePcmFormat(WAVE_FORMAT_4S16, &f);
    EXPECT_EQ(f.wf.nAvgBytesPerSec, 176400u);
    // Anything else leaves a record that no playback accepts.
    for (DWORD flag : {DWORD(0x1000), DWORD(WAVE_FORMAT_4S16 | WAVE_FORMAT_1M08)}) {
        memset(&f, 0x5A, sizeof f);
        EXPECT_EQ(MakePcmFormat(flag, &f), 0);
        WAVEFORMATEX wide = {};
        memcpy(&wide, &f, sizeof f);
        EXPECT_EQ(IsPlayablePcm(&wide), 0);
    }
}

TEST(PcmFormat, PlayableRecordsAreMadePlainWhereTheDeviceWouldRemapThem) {
    WAVEFORMATEXTENSIBLE plain = Record(WAVE_FORMAT_PCM, 1, 8);
    plain.Format.cbSize = 0x7777; // an 18-byte chunk with a stray extra size
    ASSERT_EQ(PreparePlayableFormat(&plain, 18), 1);
    EXPECT_EQ(plain.Format.cbSize, 0);
    EXPECT_EQ(plain.Format.nAvgBytesPerSec, 44100u);
    for (WORD channels : {1, 2}) {
        WAVEFORMATEXTENSIBLE f = Record(WAVE_FORMAT_EXTENSIBLE, channels, 16);
        ASSERT_EQ(PreparePlayableFormat(&f, kFmtRecordSize), 1);
        EXPECT_EQ(f.Format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.Format.cbSize, 0);
    }
    // More channels, or fewer valid bits, need the extensible part: kept, but
    // never claiming more bytes than the record holds.
    WAVEFORMATEXTENSIBLE quad = Record(WAVE_FORMAT_EXTENSIBLE, 4, 16);
    quad.Format.cbSize = 200;
    ASSERT_EQ(PreparePlayableFormat(&quad, kFmtRecordSize), 1);
    EXPECT_EQ(quad.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(quad.Format.cbSize, 22);
    WAVEFORMATEXTENSIBLE padded = Record(WAVE_FORMAT_EXTENSIBLE, 2, 32, 24);
    ASSERT_EQ(PreparePlayableFormat(&padded, kFmtRecordSize), 1);
    EXPECT_EQ(padded.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
}

TEST(PcmFormat, NonPcmInconsistentAndShortRecordsAreRefused) {
    WAVEFORMATEXTENSIBLE refused[] = {
        Record(WAVE_FORMAT_IEEE_FLOAT, 2, 32),
        Record(WAVE_FORMAT_ADPCM, 1, 4),
        Record(WAVE_FORMAT_MULAW, 1, 8),
        Record(WAVE_FORMAT_EXTENSIBLE, 2, 32, 32, WAVE_FORMAT_IEEE_FLOAT),
        Record(WAVE_FORMAT_EXTENSIBLE, 2, 16, 20), // more valid bits than stored
        Record(WAVE_FORMAT_PCM, 0, 16),
        Record(WAVE_FORMAT_PCM, 2, 12),
        Record(WAVE_FORMAT_PCM, 2, 64),
    };
    for (WAVEFORMATEXTENSIBLE& f : refused)
        EXPECT_EQ(PreparePlayableFormat(&f, kFmtRecordSize), 0) << f.Format.wFormatTag;
    WAVEFORMATEXTENSIBLE odd = Record(WAVE_FORMAT_PCM, 2, 16);
    odd.Format.nBlockAlign = 3;
    EXPECT_EQ(PreparePlayableFormat(&odd, 16), 0);
    odd = Record(WAVE_FORMAT_PCM, 2, 16);
    odd.Format.nSamplesPerSec = 0;
    EXPECT_EQ(PreparePlayableFormat(&odd, 16), 0);
    // A chunk too short for what its tag promises.
    WAVEFORMATEXTENSIBLE pcm = Record(WAVE_FORMAT_PCM, 2, 16);
    EXPECT_EQ(PreparePlayableFormat(&pcm, 14), 0);
    WAVEFORMATEXTENSIBLE ext = Record(WAVE_FORMAT_EXTENSIBLE, 2, 16);
    EXPECT_EQ(PreparePlayableFormat(&ext, 24), 0);
}

// Wine's audio corrupts its heap when a device is asked for dozens of
// channels or an absurd rate, so such records never reach it.
TEST(PcmFormat, ChannelsAndRatesBeyondAnySpeakersAreRefused) {
    WAVEFORMATEXTENSIBLE most = Record(WAVE_FORMAT_EXTENSIBLE, 18, 16);
    EXPECT_EQ(IsPlayablePcm(&most.Format), 1);
    WAVEFORMATEXTENSIBLE more = Record(WAVE_FORMAT_EXTENSIBLE, 19, 16);
    EXPECT_EQ(IsPlayablePcm(&more.Format), 0);
    more = Record(WAVE_FORMAT_PCM, 1000, 16);
    EXPECT_EQ(IsPlayablePcm(&more.Format), 0);
    WAVEFORMATEXTENSIBLE fast = Record(WAVE_FORMAT_PCM, 2, 16);
    fast.Format.nSamplesPerSec = 768000;
    EXPECT_EQ(IsPlayablePcm(&fast.Format), 1);
    for (DWORD rate : {768001u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        fast.Format.nSamplesPerSec = rate;
        EXPECT_EQ(PreparePlayableFormat(&fast, kFmtRecordSize), 0) << rate;
    }
}
