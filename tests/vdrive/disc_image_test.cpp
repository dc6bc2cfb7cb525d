// The generated test discs: the frame pattern tells where any captured sample
// came from. (That the written images hold what their layout says, the drive's
// own tests show through READ TOC and READ CD.)
#include "tools/disc/disc_image.h"
#include "tools/disc/frame_pattern.h"

#include "support/test_env.h"

#include <gtest/gtest.h>

#include <cstring>

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
    uint8_t frame[kFrameBytes];
    for (uint32_t lba : lbas) {
        FillFrame(lba, frame);
        for (uint32_t off = 0; off < kFrameBytes; off += kStereoBytes) {
            PatternPos pos;
            ASSERT_TRUE(LocateSample(frame + off, &pos)) << lba << "+" << off;
            ASSERT_EQ(pos.lba, lba);
            ASSERT_EQ(pos.offset, off);
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
    const Bytes good = Frames(1000, 8);
    Bytes dropped = good, repeated = good, silent = good, wrongHalf = good;
    dropped.erase(dropped.begin() + 3 * F, dropped.begin() + 4 * F);
    repeated.insert(repeated.begin() + 4 * F, good.begin() + 3 * F, good.begin() + 4 * F);
    std::memset(silent.data() + 5 * F, 0, F);
    wrongHalf[2 * F + 102] ^= 1; // one channel of one sample
    const Bytes shifted(good.begin() + kStereoBytes, good.end());
    const struct {
        const Bytes& data;
        size_t run;
        uint32_t lba, offset;
    } cases[] = {{good, 8 * F, 1000, 0},
                 {dropped, 3 * F, 1000, 0},
                 {repeated, 4 * F, 1000, 0},
                 {silent, 5 * F, 1000, 0},
                 {wrongHalf, 2 * F + 100, 1000, 0},
                 {shifted, shifted.size(), 1000, kStereoBytes}};
    for (const auto& c : cases) {
        PatternPos at;
        EXPECT_EQ(PatternRun(c.data.data(), c.data.size(), &at), c.run) << &c - cases;
        EXPECT_EQ(std::make_pair(at.lba, at.offset), std::make_pair(c.lba, c.offset));
    }
    PatternPos after;
    ASSERT_TRUE(LocateSample(dropped.data() + 3 * F, &after));
    EXPECT_EQ(after.lba, 1004u); // the frame after the gap says which one went missing
}

TEST(DiscImage, DescriptionsAndTheirMistakes) {
    DiscPlan plan;
    std::string error;
    ASSERT_TRUE(
        ParseDiscDescription("10 20/7 30 data:5 --pregap 3 --split --music", &plan, &error));
    EXPECT_TRUE(plan.tracks[3].data && plan.filePerTrack && plan.music);
    // The first track keeps no pregap unless it asks; the others take --pregap's.
    DiscLayout l = LayOut(plan);
    EXPECT_EQ(std::make_tuple(l.tracks[0].pregapStart, l.tracks[1].pregapStart, l.tracks[1].start,
                              l.tracks[2].pregapStart, l.tracks[3].start, l.leadOut),
              std::make_tuple(0u, 10u, 17u, 37u, 73u, 78u));
    for (const char* bad : {"", "--music", "0", "abc", "10 data:", "10/x", "--pregap",
                            "--pregap x 5", "-5", "10 --loud", "1999999 2", "--session 10",
                            "10 --session", "10 --session --session 5", "10+x"}) {
        EXPECT_FALSE(ParseDiscDescription(bad, &plan, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    std::string many;
    for (int i = 0; i < 100; i++) many += "1 ";
    EXPECT_FALSE(ParseDiscDescription(many, &plan, &error)); // a track too many
}
