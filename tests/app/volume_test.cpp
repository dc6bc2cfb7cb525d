#include "app/volume.h"

#include <gtest/gtest.h>

namespace {

TEST(VolumeConversions, PositionsBecomeChannelVolumesAndComeBackUnchanged) {
    EXPECT_EQ(PositionToChannel(0), 0);
    EXPECT_EQ(PositionToChannel(255), 0xFEFF);
    EXPECT_EQ(PositionToChannel(256), 0xFEFF); // the top of the track is limited to 255
    EXPECT_EQ(PositionToChannel(-3), 0);
    for (int p = 1; p <= 255; p++) EXPECT_EQ(ChannelToPosition(PositionToChannel(p)), p) << p;
    // 0 and 256 come back as 1 and 255.
    EXPECT_EQ(ChannelToPosition(PositionToChannel(0)), 1);
    EXPECT_EQ(ChannelToPosition(PositionToChannel(256)), 255);
}

TEST(VolumeConversions, DeviceVolumesBecomePositions) {
    EXPECT_EQ(ChannelToPosition(0x8000), 129);
    EXPECT_EQ(ChannelToPosition(0xFFFF), 255);
    EXPECT_EQ(ChannelToPosition(0), 1);
}

TEST(VolumeConversions, LeftIsTheLowWordAndRightTheHigh) {
    EXPECT_EQ(PositionsToVolume(255, 0), 0x0000FEFFu);
    EXPECT_EQ(PositionsToVolume(0, 255), 0xFEFF0000u);
    EXPECT_EQ(PositionsToVolume(126, 100), DWORD(PositionToChannel(100)) << 16 | 32255u);
}

TEST(LinkedDrag, TheOtherSliderMovesByTheSameAmountWithinTheRange) {
    EXPECT_EQ(LinkedPosition(100, 120, 100), 120);
    EXPECT_EQ(LinkedPosition(2, 191, 100), 93);
    EXPECT_EQ(LinkedPosition(10, 0, 50), 0);       // would go below 0
    EXPECT_EQ(LinkedPosition(250, 256, 240), 255); // would go above 255
}

} // namespace
