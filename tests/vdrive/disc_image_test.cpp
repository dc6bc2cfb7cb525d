// The generated test discs: the frame pattern tells where any captured sample
// came from, and the written images hold exactly what their layout says.
#include "tools/disc/disc_image.h"
#include "tools/disc/frame_pattern.h"
#include "tools/disc/tone_synth.h"
#include "vdrive/cue_sheet.h"

#include "support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace td_disc;
using td_test::Bytes;

namespace {

Bytes Frames(uint32_t lba, uint32_t count) {
    Bytes b(size_t(count) * kFrameBytes);
    FillFrames(lba, count, b.data());
    return b;
}

} // namespace

TEST(DiscImage, PatternTellsFrameAndOffsetOfEverySample) {
    const uint32_t lbas[] = {0, 1, 149, 150, 4499, 65535, 65536, 359999, kMaxPatternLba - 1};
    uint8_t frame[kFrameBytes], other[kFrameBytes];
    for (uint32_t lba : lbas) {
        FillFrame(lba, frame);
        FillFrame(lba + 1, other);
        for (uint32_t off = 0; off < kFrameBytes; off += kStereoBytes) {
            PatternPos pos;
            ASSERT_TRUE(LocateSample(frame + off, &pos)) << lba << "+" << off;
            ASSERT_EQ(pos.lba, lba);
            ASSERT_EQ(pos.offset, off);
            uint32_t v;
            std::memcpy(&v, frame + off, sizeof v);
            ASSERT_NE(v, 0u) << "silent sample at " << lba << "+" << off;
            ASSERT_NE(std::memcmp(frame + off, other + off, kStereoBytes), 0);
        }
    }
    // No sample of the first half hour is silent.
    for (uint32_t lba = 0; lba < 135000; lba++)
        for (uint32_t s = 0; s < kFrameSamples; s++) ASSERT_NE(PatternSample(lba, s), 0u);
    uint8_t silence[kStereoBytes] = {};
    PatternPos pos;
    EXPECT_FALSE(LocateSample(silence, &pos));
}

TEST(DiscImage, PatternRunEndsAtDroppedRepeatedShiftedOrSilentFrames) {
    const size_t F = kFrameBytes;
    Bytes good = Frames(1000, 8);
    PatternPos at;
    EXPECT_EQ(PatternRun(good.data(), good.size(), &at), good.size());
    EXPECT_EQ(at.lba, 1000u);

    Bytes dropped = good;
    dropped.erase(dropped.begin() + 3 * F, dropped.begin() + 4 * F);
    EXPECT_EQ(PatternRun(dropped.data(), dropped.size(), &at), 3 * F);
    ASSERT_TRUE(LocateSample(dropped.data() + 3 * F, &at));
    EXPECT_EQ(at.lba, 1004u); // the frame after the gap says which one went missing

    Bytes repeated = good;
    repeated.insert(repeated.begin() + 4 * F, good.begin() + 3 * F, good.begin() + 4 * F);
    EXPECT_EQ(PatternRun(repeated.data(), repeated.size(), &at), 4 * F);

    Bytes shifted(good.begin() + kStereoBytes, good.end());
    EXPECT_EQ(PatternRun(shifted.data(), shifted.size(), &at), shifted.size());
    EXPECT_EQ(at.offset, kStereoBytes);

    Bytes silent = good;
    std::memset(silent.data() + 5 * F, 0, F);
    EXPECT_EQ(PatternRun(silent.data(), silent.size(), &at), 5 * F);

    Bytes wrongHalf = good; // one channel of one sample
    wrongHalf[2 * F + 102] ^= 1;
    EXPECT_EQ(PatternRun(wrongHalf.data(), wrongHalf.size(), &at), 2 * F + 100);
}

TEST(DiscImage, WrittenImagesHoldWhatTheirLayoutSays) {
    for (const char* words :
         {"40 30/5 data:20/6", "40 30/5 data:20/6 --split", "7/3 9 --pregap 4"}) {
        SCOPED_TRACE(words);
        DiscPlan plan;
        std::string error;
        ASSERT_TRUE(ParseDiscDescription(words, &plan, &error)) << error;
        std::string cue = td_test::ScratchDir() + "\\img.cue";
        ASSERT_TRUE(WriteDiscImage(cue, plan, &error)) << error;
        DiscLayout layout = LayOut(plan);

        // The drive's own parser must read the sheet back to the same layout.
        Bytes text = td_test::ReadFileBytes(cue);
        auto sheet = std::make_unique<vdrive::CueSheet>();
        vdrive::CueError cueError;
        ASSERT_TRUE(vdrive::ParseCueSheet(reinterpret_cast<const char*>(text.data()), text.size(),
                                          sheet.get(), &cueError))
            << cueError.message;
        ASSERT_EQ(sheet->trackCount, int(layout.tracks.size()));
        ASSERT_EQ(sheet->fileCount, plan.filePerTrack ? int(layout.tracks.size()) : 1);
        Bytes image;
        uint64_t sizes[vdrive::kMaxCueFiles];
        for (int f = 0; f < sheet->fileCount; f++) {
            Bytes bin = td_test::ReadFileBytes(td_test::ScratchDir() + "\\" + sheet->files[f]);
            sizes[f] = bin.size();
            image.insert(image.end(), bin.begin(), bin.end());
        }
        auto disc = std::make_unique<vdrive::DiscLayout>();
        ASSERT_TRUE(vdrive::LayOutDisc(*sheet, sizes, disc.get(), &cueError)) << cueError.message;
        ASSERT_EQ(disc->leadOut, layout.leadOut);
        for (size_t t = 0; t < layout.tracks.size(); t++) {
            EXPECT_EQ(disc->tracks[t].start, layout.tracks[t].start);
            EXPECT_EQ(disc->tracks[t].pregapStart, layout.tracks[t].pregapStart);
            EXPECT_EQ(disc->tracks[t].mode == vdrive::TrackMode::Mode1Raw, layout.tracks[t].data);
        }
        ASSERT_EQ(image.size(), size_t(layout.leadOut) * kFrameBytes);
        for (uint32_t lba = 0; lba < layout.leadOut; lba++) {
            uint8_t want[kFrameBytes];
            ImageFrame(plan, layout, lba, want);
            ASSERT_EQ(std::memcmp(image.data() + size_t(lba) * kFrameBytes, want, kFrameBytes), 0)
                << lba;
        }
    }
}

TEST(DiscImage, DataFramesCarrySyncAndHeader) {
    uint8_t frame[kFrameBytes];
    FillDataFrame(4500 - 150 + 76, frame); // 01:01:01 once the lead-in is counted
    const uint8_t head[16] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0xFF, 0xFF, 0xFF, 0,    0x01, 0x01, 0x01, 0x01};
    EXPECT_EQ(std::memcmp(frame, head, sizeof head), 0);
}

TEST(DiscImage, DescriptionsAndTheirMistakes) {
    DiscPlan plan;
    std::string error;
    ASSERT_TRUE(ParseDiscDescription("9000 6000 data:1500 --pregap 150 --music", &plan, &error));
    ASSERT_EQ(plan.tracks.size(), 3u);
    EXPECT_EQ(plan.tracks[0].pregap, 0u); // the first track keeps none unless it asks
    EXPECT_EQ(plan.tracks[1].pregap, 150u);
    EXPECT_TRUE(plan.tracks[2].data);
    EXPECT_TRUE(plan.music);
    ASSERT_TRUE(ParseDiscDescription("10/0 20/7 --pregap 3 --split", &plan, &error));
    EXPECT_EQ(plan.tracks[1].pregap, 7u);
    EXPECT_TRUE(plan.filePerTrack);
    DiscLayout l = LayOut(plan);
    EXPECT_EQ(l.tracks[1].pregapStart, 10u);
    EXPECT_EQ(l.tracks[1].start, 17u);
    EXPECT_EQ(l.leadOut, 37u);

    for (const char* bad : {"", "--music", "0", "abc", "10 data:", "10/x", "--pregap",
                            "--pregap x 5", "-5", "10 --loud", "1999999 2"}) {
        EXPECT_FALSE(ParseDiscDescription(bad, &plan, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    std::string many;
    for (int i = 0; i < 100; i++) many += "1 ";
    EXPECT_FALSE(ParseDiscDescription(many, &plan, &error));
}

TEST(DiscImage, MusicIsAudibleBoundedAndSilentInPregaps) {
    DiscPlan plan;
    std::string error;
    ASSERT_TRUE(ParseDiscDescription("150 150/10 --music", &plan, &error));
    DiscLayout layout = LayOut(plan);
    uint8_t frame[kFrameBytes];
    ImageFrame(plan, layout, 155, frame); // in the second track's pregap
    EXPECT_EQ(std::count(frame, frame + kFrameBytes, 0), long(kFrameBytes));
    int peak = 0;
    for (uint32_t lba = 75; lba < 150; lba++) {
        ImageFrame(plan, layout, lba, frame);
        PatternPos pos;
        EXPECT_FALSE(LocateSample(frame, &pos) && pos.lba == lba);
        for (uint32_t i = 0; i < kFrameBytes; i += 2) {
            int16_t s;
            std::memcpy(&s, frame + i, 2);
            peak = std::max(peak, std::abs(int(s)));
        }
    }
    EXPECT_GT(peak, 2000);
    EXPECT_LT(peak, 16000); // headroom: a demo tune, not a test signal
    EXPECT_NE(ToneSample(1, 20000, 100000), ToneSample(2, 20000, 100000));
}
