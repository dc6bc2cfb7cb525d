#include "app/play_modes.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(PlayModes, ThreePressesComeBackToSequential) {
    EXPECT_EQ(NextPlayMode(kModeSequential), kModeRandom);
    EXPECT_EQ(NextPlayMode(kModeRandom), kModeRepeat);
    EXPECT_EQ(NextPlayMode(kModeRepeat), kModeSequential);
}

TEST(PlayModes, SequentialStartsTheCurrentTrackAfterStopAndEndsAfterTheLast) {
    struct Case {
        int current, count, startAtCurrent, next;
    } cases[] = {
        {1, 12, 1, 1},   // just opened: Play starts track 1
        {5, 12, 1, 5},   // after Stop: the current track again
        {5, 12, 0, 6},   // a track ended: the next one
        {12, 12, 0, 0},  // the last track ended: nothing follows
        {12, 12, 1, 12}, // Play after the end starts the last track again
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextTrackForMode(kModeSequential, c.current, c.count, c.startAtCurrent), c.next)
            << "current " << c.current << " flag " << c.startAtCurrent;
}

TEST(PlayModes, RepeatGoesOnAfterTheCurrentTrackAndWraps) {
    EXPECT_EQ(NextTrackForMode(kModeRepeat, 1, 12, 1), 2); // the flag is not consulted
    EXPECT_EQ(NextTrackForMode(kModeRepeat, 7, 12, 0), 8);
    EXPECT_EQ(NextTrackForMode(kModeRepeat, 12, 12, 0), 1);
}

TEST(PlayModes, RandomNeverRepeatsTheCurrentTrackAndFollowsTheSeededGenerator) {
    for (int current = 1; current <= 5; current++)
        for (int draw = 0; draw < 200; draw++) {
            int next = NextTrackForMode(kModeRandom, current, 5, draw & 1);
            EXPECT_NE(next, current);
            EXPECT_GE(next, 1);
            EXPECT_LE(next, 5);
        }
    // Two tracks alternate.
    int current = 1;
    for (int i = 0; i < 20; i++) {
        current = NextTrackForMode(kModeRandom, current, 2, 0);
        EXPECT_EQ(current, i % 2 ? 1 : 2);
    }
    // The draws are rand()'s: the same seed gives the same tracks.
    std::srand(1234);
    int expected[8], got[8];
    for (int& t : expected) {
        do t = std::rand() % 9 + 1;
        while (t == 4);
    }
    std::srand(1234);
    for (int& t : got) t = NextTrackForMode(kModeRandom, 4, 9, 0);
    for (int i = 0; i < 8; i++) EXPECT_EQ(got[i], expected[i]) << i;
}

TEST(PlayModes, NoTrackWithoutAChoice) {
    EXPECT_EQ(NextTrackForMode(kModeRandom, 1, 1, 0), 0);
    EXPECT_EQ(NextTrackForMode(kModeRandom, 0, 0, 1), 0);
    EXPECT_EQ(NextTrackForMode(3, 1, 12, 1), 0);
    EXPECT_EQ(NextTrackForMode(-1, 1, 12, 1), 0);
}

} // namespace
