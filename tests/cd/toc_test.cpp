// The table of contents: addressing answered from a real disc's TOC and the
// drive status queries, over ASPI and over pass-through, and replies that must
// be refused rather than read.
#include "cd/scsi_commands.h"
#include "cd/toc.h"
#include "cd_test_util.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

class Toc : public ::testing::TestWithParam<Transport> {
  protected:
    AimedDrive player{0, 1};
    DriveBench drive{GetParam()};

    VDisc Insert(const std::string& description) {
        VDisc disc = MakeDisc(description);
        drive.devices.clear();
        drive.AddCdRom(0, 1, disc.cuePath).unitAttention = false;
        EXPECT_TRUE(drive.Apply());
        return disc;
    }
};

// A reply as a drive would send it: `last` tracks, the descriptors from
// `starts` (the lead-out last), and a data length that covers `described` of them.
Bytes Reply(int first, int last, const std::vector<uint32_t>& starts, size_t described) {
    Bytes r(kTocBufferSize, 0);
    size_t length = 2 + described * kTocDescriptorSize;
    r[0] = BYTE(length >> 8), r[1] = BYTE(length);
    r[2] = BYTE(first), r[3] = BYTE(last);
    for (size_t i = 0; i < starts.size(); i++) {
        BYTE* d = &r[kTocHeaderSize + i * kTocDescriptorSize];
        d[2] = BYTE(i + 1);
        for (int b = 0; b < 4; b++) d[4 + b] = BYTE(starts[i] >> (24 - 8 * b));
    }
    return r;
}

INSTANTIATE_TEST_SUITE_P(Transports, Toc,
                         ::testing::Values(Transport::Aspi, Transport::PassThrough));

} // namespace

TEST_P(Toc, AnswersAddressingFromTheDisc) {
    VDisc disc = Insert("1000 900 800 700/150 600 500 400 300 200 1000 2000 3000");
    ASSERT_TRUE(player.LoadToc());
    const auto& t = disc.layout.tracks;
    uint32_t leadOut = disc.layout.leadOut;
    EXPECT_EQ(player.TrackCount(), 12);
    EXPECT_EQ(player.FirstTrack(), 1);
    EXPECT_EQ(player.LastTrack(), 12);
    EXPECT_EQ(player.TrackStart(4), t[3].start);
    EXPECT_EQ(player.TrackStart(13), leadOut);
    EXPECT_EQ(player.TrackStart(0), player.TrackStart(1));
    EXPECT_EQ(player.DiscEnd(), leadOut - 151);
    EXPECT_EQ(player.TrackOfAddress(t[4].start), 5);
    EXPECT_EQ(player.TrackOfAddress(t[5].start - 1), 5);
    EXPECT_EQ(player.TrackOfAddress(t[3].start - 1), 3); // a pregap belongs to the track before
    EXPECT_EQ(player.TrackOfAddress(leadOut), 0);
    EXPECT_EQ(player.TrackLength(12), leadOut - t[11].start);
    EXPECT_EQ(player.TrackLength(0), 0u);
    EXPECT_EQ(player.TrackLength(13), 0u);
}

TEST_P(Toc, ShortDiscEndsAtItsLeadOut) {
    Insert("60 40");
    ASSERT_TRUE(player.LoadToc());
    EXPECT_EQ(player.DiscEnd(), 100u);
}

TEST_P(Toc, FullDiscOfNinetyNineTracks) {
    std::string description;
    for (int i = 0; i < kMaxTrackNumber; i++) description += "5 ";
    VDisc disc = Insert(description);
    ASSERT_TRUE(player.LoadToc());
    EXPECT_EQ(player.TrackCount(), 99);
    EXPECT_EQ(player.TrackStart(99), 98u * 5);
    EXPECT_EQ(player.TrackStart(100), disc.layout.leadOut);
    EXPECT_EQ(player.TrackOfAddress(99 * 5 - 1), 99);
}

TEST_P(Toc, AFailedReadKeepsTheTable) {
    VDisc disc = Insert("300 200");
    ASSERT_TRUE(player.LoadToc());
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_FALSE(player.LoadToc());
    EXPECT_EQ(player.TrackCount(), 2);
    EXPECT_EQ(player.TrackStart(3), disc.layout.leadOut);
}

TEST_P(Toc, StatusQueriesFollowTheTray) {
    Insert("300 200");
    SetLastReadAddress(1234);
    EXPECT_FALSE(player.DriveReportsOpen());
    EXPECT_EQ(player.DrivePosition(), 1234u);
    drive.devices[0].trayOpen = true;
    ASSERT_TRUE(drive.Apply());
    EXPECT_TRUE(player.DriveReportsOpen());
    EXPECT_EQ(player.DrivePosition(), 1u);
    drive.devices[0].trayOpen = false;
    drive.devices[0].image.clear();
    ASSERT_TRUE(drive.Apply());
    EXPECT_TRUE(player.DriveReportsOpen());
}

TEST(TocReply, AcceptsAFullTableAndConvertsOnlyWithinIt) {
    std::vector<uint32_t> starts;
    for (uint32_t i = 0; i <= 99; i++) starts.push_back(i * 1000 + 150);
    Bytes buffer = Reply(1, 99, starts, 100);
    buffer.resize(kTocBufferSize + 16, 0xEE); // guard bytes past the table
    TocHeader h;
    ASSERT_TRUE(CheckTocReply(buffer.data(), &h));
    EXPECT_EQ(h.last, 99);
    EXPECT_EQ(ConvertTocAddresses(buffer.data(), h.last), 99150u);
    EXPECT_EQ(TocAddress(buffer.data(), 41), 41150u);
    EXPECT_EQ(Bytes(buffer.begin() + kTocBufferSize, buffer.end()), Bytes(16, 0xEE));
}

TEST(TocReply, RefusesTrackNumbersAboveNinetyNine) {
    TocHeader h;
    for (int last : {100, 170, 255})
        EXPECT_FALSE(CheckTocReply(Reply(1, last, {0, 100}, 100).data(), &h)) << last;
}

TEST(TocReply, RefusesADataLengthThatDoesNotCoverTheDescriptors) {
    TocHeader h;
    EXPECT_FALSE(CheckTocReply(Reply(1, 12, {0, 100, 200}, 5).data(), &h));
    EXPECT_FALSE(CheckTocReply(Reply(1, 1, {0, 100}, 1).data(), &h));
    EXPECT_TRUE(CheckTocReply(Reply(1, 1, {0, 100}, 2).data(), &h));
    // Discs that do not start at track 1 are read by track number, so their
    // descriptors for tracks below the first are missing.
    EXPECT_FALSE(CheckTocReply(Reply(3, 4, {0, 100, 200}, 3).data(), &h));
}
