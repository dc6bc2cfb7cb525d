// The volume sliders: where they start, what a drag does to the sound, and
// the link between them.
#include "deck_fixture.h"

namespace deck_test {
namespace {

using VolumeTest = DeckTest;

constexpr int kLinkToggleX = 59, kLinkToggleY = 43; // deck pixels, the toggle's middle

// The thumb's top row for a position in the range 0-256.
int ThumbTop(int position) {
    int top = 47 - position * 47 / 256;
    return top == 0 ? 1 : top;
}

// The share of full volume a slider position gives its channel.
double Level(int position) {
    return double((position * 65535) >> 8) / 65535.0;
}

// The levels of the last `bytes` of an opening that started at `lba`.
void TailLevels(const td_test::VDisc& disc, const Bytes& opening, uint32_t lba, size_t bytes,
                double* left, double* right) {
    size_t from = opening.size() > bytes ? (opening.size() - bytes) / 2352 * 2352 : 0;
    Bytes tail(opening.begin() + from, opening.end());
    Bytes original =
        td_test::ExpectedFrames(disc, lba + uint32_t(from / 2352), uint32_t(tail.size() / 2352));
    ChannelLevels(tail, original, left, right);
}

TEST_F(VolumeTest, SlidersKeepTheirStartUntilAVolumeCanBeRead) {
    InsertDisc("3000 150");
    StartDeck();
    td_test::PumpMessages(500);
    EXPECT_EQ(deck_.SliderThumbTop(kLeftSlider), ThumbTop(2));
    EXPECT_EQ(deck_.SliderThumbTop(kRightSlider), ThumbTop(100));
    // A playback's volume can be read: full on both channels.
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    EXPECT_TRUE(WaitUntil([&] { return deck_.SliderThumbTop(kLeftSlider) == ThumbTop(255); }));
    EXPECT_EQ(deck_.SliderThumbTop(kRightSlider), ThumbTop(255));
    ASSERT_TRUE(deck_.ClickButton(kStop));
}

TEST_F(VolumeTest, AnUnlinkedDragSetsItsOwnChannelOnly) {
    InsertDisc("3000 150");
    StartDeck();
    // Row 24 of the track proposes 126.
    ASSERT_TRUE(deck_.DragSlider(kLeftSlider, 24));
    EXPECT_TRUE(WaitUntil([&] { return deck_.SliderThumbTop(kLeftSlider) == ThumbTop(126); }))
        << deck_.SliderThumbTop(kLeftSlider);
    EXPECT_EQ(deck_.SliderThumbTop(kRightSlider), ThumbTop(100));
    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForBytes(2 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    double left, right;
    TailLevels(disc_, td_test::SettledCapture(), 0, kBytesPerSecond, &left, &right);
    EXPECT_NEAR(left, Level(126), 0.03);
    EXPECT_NEAR(right, Level(100), 0.03);
    EXPECT_EQ(deck_.SliderThumbTop(kLeftSlider), ThumbTop(126));
    EXPECT_EQ(deck_.SliderThumbTop(kRightSlider), ThumbTop(100));
}

TEST_F(VolumeTest, ALinkedDragMovesBothAndReachesThePlaybackThatIsOpen) {
    InsertDisc("9000 150");
    StartDeck();
    ASSERT_TRUE(deck_.Click(kLinkToggleX, kLinkToggleY));
    // Right from 100 to 191 (row 12): the left follows by +91, from 2 to 93.
    ASSERT_TRUE(deck_.DragSlider(kRightSlider, 12));
    EXPECT_TRUE(WaitUntil([&] { return deck_.SliderThumbTop(kRightSlider) == ThumbTop(191); }))
        << deck_.SliderThumbTop(kRightSlider);
    EXPECT_EQ(deck_.SliderThumbTop(kLeftSlider), ThumbTop(93));

    ASSERT_TRUE(deck_.ClickButton(kPlay));
    ASSERT_TRUE(WaitForBytes(2 * kBytesPerSecond));
    // While it plays: left from 93 to 39 (row 40), the right follows by -54 to 137.
    ASSERT_TRUE(deck_.DragSlider(kLeftSlider, 40));
    EXPECT_TRUE(WaitUntil([&] { return deck_.SliderThumbTop(kLeftSlider) == ThumbTop(39); }))
        << deck_.SliderThumbTop(kLeftSlider);
    EXPECT_EQ(deck_.SliderThumbTop(kRightSlider), ThumbTop(137));
    ASSERT_TRUE(WaitForBytes(CaptureBytes() + 3 * kBytesPerSecond));
    ASSERT_TRUE(deck_.ClickButton(kStop));
    Bytes played = td_test::SettledCapture();
    double left, right;
    TailLevels(disc_, played, 0, kBytesPerSecond, &left, &right);
    EXPECT_NEAR(left, Level(39), 0.03);
    EXPECT_NEAR(right, Level(137), 0.03);
    // And the start of the playback had the levels set before it.
    Bytes head(played.begin(), played.begin() + kBytesPerSecond);
    ChannelLevels(head, td_test::ExpectedFrames(disc_, 0, kBytesPerSecond / 2352), &left, &right);
    EXPECT_NEAR(left, Level(93), 0.03);
    EXPECT_NEAR(right, Level(191), 0.03);
}

} // namespace
} // namespace deck_test
