#include "app/commands.h"
#include "app/deck.h"

#include <gtest/gtest.h>

#include <mmsystem.h>

#include <string>

namespace {

// Buttons 0-10 as '+' enabled and '-' disabled.
std::string Enabled(int state) {
    WORD bits;
    if (!TransportButtonsFor(state, &bits)) return "unknown";
    std::string faces;
    for (int i = 0; i < kTransportButtonCount; i++) faces += (bits >> i) & 1 ? '+' : '-';
    return faces;
}

TEST(ButtonTable, EachStateEnablesItsButtons) {
    EXPECT_EQ(Enabled(kWantWaveFile), "---+-------");
    EXPECT_EQ(Enabled(kWantSaveTrack), "-----------");
    EXPECT_EQ(Enabled(MCI_MODE_NOT_READY), "+++++++++++");
    EXPECT_EQ(Enabled(MCI_MODE_STOP), "++--+++++++");
    EXPECT_EQ(Enabled(MCI_MODE_PLAY), "--++++++-+-");
    EXPECT_EQ(Enabled(MCI_MODE_PAUSE), "+-++-------");
    EXPECT_EQ(Enabled(MCI_MODE_OPEN), "-----------");
    EXPECT_EQ(Enabled(MCI_MODE_SEEK), "unknown");
    EXPECT_EQ(Enabled(kNoButtonState), "unknown");
}

TEST(WaveDeviceChoice, AMatchFromIndexTwoOnSelectsTheDeviceAfterIt) {
    EXPECT_EQ(ChooseWaveDevice(-1, 6), 0u);
    EXPECT_EQ(ChooseWaveDevice(0, 6), 0u);
    EXPECT_EQ(ChooseWaveDevice(1, 6), 0u);
    EXPECT_EQ(ChooseWaveDevice(2, 6), 3u);
    EXPECT_EQ(ChooseWaveDevice(3, 6), 4u);
    EXPECT_EQ(ChooseWaveDevice(3, 4), 3u); // never a device that is not there
}

} // namespace
