#include "app/status_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Line(int count, DWORD start, DWORD frames) {
    char text[128];
    FormatTrackLine(text, sizeof text, count, start, frames);
    return text;
}

TEST(StatusFormat, TheTrackLineShowsCountStartAndLength) {
    EXPECT_EQ(Line(12, 24000, 19500), "[12] 05:20  04:20");
    EXPECT_EQ(Line(12, (3 * 60 + 25) * 75, (4 * 60 + 10) * 75 + 74), "[12] 03:25  04:10");
    EXPECT_EQ(Line(3, 0, 300), "[ 3] 00:00  00:04");
    EXPECT_EQ(Line(0, 0, 0), "[ 0] 00:00  00:00");
}

TEST(StatusFormat, ElapsedTimeCountsFromTheTrackStartAndNeverGoesNegative) {
    EXPECT_EQ(ElapsedSeconds(24000 + 750, 24000), 10u);
    EXPECT_EQ(ElapsedSeconds(24000 + 74, 24000), 0u);
    EXPECT_EQ(ElapsedSeconds(100, 24000), 0u);
    int cells[kTimeCells];
    TimeCells(10, cells);
    EXPECT_EQ(std::vector<int>(cells, cells + kTimeCells), (std::vector<int>{0, 0, 10, 1, 0}));
    TimeCells(4 * 60 + 20, cells);
    EXPECT_EQ(std::vector<int>(cells, cells + kTimeCells), (std::vector<int>{0, 4, 10, 2, 0}));
    TrackNumberCells(3, cells);
    EXPECT_EQ(std::vector<int>(cells, cells + kTrackNumberCells), (std::vector<int>{0, 3, 11}));
    TrackNumberCells(42, cells);
    EXPECT_EQ(std::vector<int>(cells, cells + kTrackNumberCells), (std::vector<int>{4, 2, 11}));
}

TEST(StatusFormat, OnlyTheShownModeIsLit) {
    EXPECT_EQ(ModeCell(0, 1), 3);
    EXPECT_EQ(ModeCell(1, 1), 1);
    EXPECT_EQ(ModeCell(2, 1), 5);
    for (int i = 0; i < 3; i++) EXPECT_EQ(ModeCell(i, kNoModeShown), i + 3);
}

TEST(StatusFormat, TheCharacterMapHoldsPrintableAsciiOnly) {
    EXPECT_EQ(MapCell(' '), 0);
    EXPECT_EQ(MapCell('A'), 33);
    EXPECT_EQ(MapCell('~'), 94);
    EXPECT_EQ(MapCell('\x1f'), -1);
    EXPECT_EQ(MapCell('\x7f'), -1);
    EXPECT_EQ(MapCell(static_cast<char>(0xE9)), -1);
}

} // namespace
