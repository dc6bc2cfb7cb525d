// The volume sliders: where they start, what a drag does to the sound, and
// the link between them.
#include "deck_fixture.h"

#include <cstdlib>

namespace deck_test {
namespace {

constexpr int kLeftStart = 2, kRightStart = 100, kFull = 255;
constexpr double kLevelTolerance = 0.03;

class VolumeTest : public DeckTest {
  protected:
    // The thumb's top row for a position in the range 0-256.
    static int ThumbTop(int position) {
        int top = 47 - position * 47 / 256;
        return top == 0 ? 1 : top;
    }

    bool ThumbsAt(int left, int right) const {
        return WaitUntil([&] {
            return deck_.SliderThumbTop(kLeftSliderId) == ThumbTop(left) &&
                   deck_.SliderThumbTop(kRightSliderId) == ThumbTop(right);
        });
    }

    // The share of full volume each channel of `played` has in its bytes
    // [from, from + kBytesPerSecond), which hold the disc from its first frame on,
    // against the shares that slider positions `left` and `right` give.
    void ExpectLevels(const Bytes& played, size_t from, int left, int right) const {
        from = from / kFrameBytes * kFrameBytes;
        ASSERT_LE(from + kBytesPerSecond, played.size());
        Bytes original = td_test::ExpectedFrames(disc_, uint32_t(from / kFrameBytes),
                                                 uint32_t(kBytesPerSecond / kFrameBytes));
        double sum[2][2] = {};
        for (size_t i = 0; i + td_disc::kStereoBytes <= original.size(); i += td_disc::kStereoBytes)
            for (int ch = 0; ch < 2; ch++) {
                sum[0][ch] +=
                    std::abs(*reinterpret_cast<const int16_t*>(&played[from + i + 2 * ch]));
                sum[1][ch] += std::abs(*reinterpret_cast<const int16_t*>(&original[i + 2 * ch]));
            }
        int positions[] = {left, right};
        for (int ch = 0; ch < 2; ch++)
            EXPECT_NEAR(sum[0][ch] / sum[1][ch], double((positions[ch] * 65535) >> 8) / 65535.0,
                        kLevelTolerance)
                << (ch ? "right" : "left") << " at byte " << from;
    }
};

TEST_F(VolumeTest, SlidersKeepTheirStartUntilAVolumeCanBeRead) {
    InsertDisc("3000 150");
    StartDeck();
    td_test::PumpMessages(500);
    EXPECT_TRUE(ThumbsAt(kLeftStart, kRightStart));
    // A playback's volume can be read: full on both channels.
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    EXPECT_TRUE(ThumbsAt(kFull, kFull));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
}

TEST_F(VolumeTest, UnlinkedAndLinkedDragsSetTheChannelsOfThePlaybackThatIsOpen) {
    InsertDisc("9000 150");
    StartDeck();
    // Unlinked: row 24 of the left track proposes 126; the right stays.
    ASSERT_TRUE(deck_.DragSlider(kLeftSliderId, 24));
    EXPECT_TRUE(ThumbsAt(126, kRightStart)) << deck_.SliderThumbTop(kLeftSliderId);
    ASSERT_TRUE(deck_.ClickButton(kCmdPlay));
    ASSERT_TRUE(WaitForBytes(2 * kBytesPerSecond));
    // Linked, while it plays: the right to 191 (row 12), the left follows by +91
    // to 217; then the left to 39 (row 40), the right follows by -178 to 13.
    ASSERT_TRUE(deck_.Click(kToggleX, kToggleY));
    ASSERT_TRUE(deck_.DragSlider(kRightSliderId, 12));
    EXPECT_TRUE(ThumbsAt(217, 191)) << deck_.SliderThumbTop(kRightSliderId);
    ASSERT_TRUE(deck_.DragSlider(kLeftSliderId, 40));
    EXPECT_TRUE(ThumbsAt(39, 13)) << deck_.SliderThumbTop(kLeftSliderId);
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 3 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kCmdStop));
    Bytes played = td_test::SettledCapture();
    // The playback opened with the levels set before it, and took the later ones.
    ExpectLevels(played, 0, 126, kRightStart);
    ExpectLevels(played, played.size() - kBytesPerSecond, 39, 13);
}

TEST_F(VolumeTest, UpAndDownMoveBothSlidersAsALinkedDragWould) {
    InsertDisc("3000 150");
    StartDeck();
    ASSERT_TRUE(deck_.Keys("Up"));
    EXPECT_TRUE(ThumbsAt(kLeftStart + 16, kRightStart + 16));
    // The left one stops at the bottom; the right goes on.
    ASSERT_TRUE(deck_.Keys("Down Down"));
    EXPECT_TRUE(ThumbsAt(0, kRightStart - 16));
    ASSERT_TRUE(deck_.Keys("space"));
    ASSERT_TRUE(WaitForBytes(2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.Keys("s"));
    ExpectLevels(td_test::SettledCapture(), 0, 0, kRightStart - 16);
}

} // namespace
} // namespace deck_test
