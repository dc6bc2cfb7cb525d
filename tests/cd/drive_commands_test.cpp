// What the drive control layer puts on the bus, command by command, over ASPI
// and over pass-through: finding the drives (the buses are scanned once per
// process), every command's block, and how the ASPI transport survives
// refusals and a drive that answers too late; and the table-of-contents
// replies that must be refused rather than read.
#include "cd/aspi_transport.h"
#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"
#include "cd/scsi_commands.h"
#include "cd/toc.h"
#include "drive_bench.h"

#include <gmock/gmock.h>
#include <algorithm>
#include <gtest/gtest.h>

using namespace td_test;
using ::testing::ElementsAre;

namespace {

constexpr int kAdapter = 0, kTarget = 3;

class DriveCommands : public ::testing::TestWithParam<Transport> {
  protected:
    // The disc, or none; without the UNIT ATTENTION of a disc just inserted
    // unless `inserted`.
    VDevice& Stage(bool withDisc = true, bool inserted = false) {
        VDevice& d = drive.AddCdRom(kAdapter, kTarget, withDisc ? disc.cuePath : "");
        d.unitAttention = inserted;
        EXPECT_TRUE(drive.Apply());
        return d;
    }

    VDisc disc = MakeDisc("400 300");
    DriveBench drive{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Transports, DriveCommands, kBothTransports);

// Immediate answers, targets above 7 and more than five drives belong to ASPI
// (over pass-through the transport numbers the devices itself, within 0-7, and
// Wine serves at most five CD-ROM devices to a process).
class DriveCommandsOverAspi : public DriveCommands {};

INSTANTIATE_TEST_SUITE_P(Aspi, DriveCommandsOverAspi, ::testing::Values(Transport::Aspi));

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

} // namespace

TEST_P(DriveCommands, EachCommandSendsItsExactBlock) {
    Stage();
    BYTE reply[kTocReplyBytes];
    BYTE inquiry[kInquiryReplyBytes];
    EXPECT_TRUE(LockTray(kAdapter, kTarget));
    EXPECT_TRUE(UnlockTray(kAdapter, kTarget));
    EXPECT_TRUE(ReadSubChannel(kAdapter, kTarget, reply));
    EXPECT_TRUE(ReadToc(kAdapter, kTarget, reply));
    EXPECT_TRUE(InquireDevice(kAdapter, kTarget, inquiry, kInquiryReplyBytes));
    EXPECT_TRUE(EjectTray(kAdapter, kTarget));
    EXPECT_TRUE(LoadTray(kAdapter, kTarget));

    const std::string probe = drive.Sent("40 16: 42 02 40 01 00 00 00 00 10 00 00 00");
    EXPECT_THAT(CommandSummaries(drive),
                ElementsAre(drive.Sent("40 0: 1E 00 00 00 01 00"),
                            drive.Sent("40 0: 1E 00 00 00 00 00"), probe,
                            drive.Sent("48 804: 43 00 00 00 00 00 00 03 24 00"), probe,
                            drive.Sent("40 32: 12 00 00 00 20 00"), probe,
                            drive.Sent("40 0: 1B 00 00 00 02 00"), probe,
                            drive.Sent("40 0: 1B 00 00 00 03 00")));
}

TEST_P(DriveCommands, ReadCdFetchesTheFramesAndRecordsWhereItRead) {
    Stage();
    ReadBlock block(kAdapter, kTarget, kTransferFrames);
    ASSERT_TRUE(ReadCdSectors(&block.srb, 300, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 300, kTransferFrames));
    EXPECT_EQ(LastReadAddress(), 300u);
    EXPECT_EQ(StreamCurrentAddress(&block.srb), 300u);
    // A read past the lead-out fails, and still counts as the last read; the
    // sector count keeps its high byte.
    EXPECT_FALSE(ReadCdSectors(&block.srb, 5000, 0x012345));
    EXPECT_EQ(LastReadAddress(), 5000u);
    EXPECT_THAT(CommandSummaries(drive),
                ElementsAre(drive.Sent("40 61152: BE 04 00 00 01 2C 00 00 1A F0 00 00"),
                            drive.Sent("40 61152: BE 04 00 00 13 88 01 23 45 F0 00 00")));
}

// A scratched disc: wrong bytes with GOOD status, the drive's cache giving
// them back, C2 pointers flagging them, and the log telling each frame's story.
TEST_P(DriveCommands, DamagedFramesReadWrongFromTheCacheAlikeAndC2FlagsThem) {
    VDevice& d = Stage();
    d.garbled = "300-302";
    d.cacheFrames = kTransferFrames;
    drive.Apply();
    const Bytes want = ExpectedFrames(disc, 300, kTransferFrames);
    ReadBlock block(kAdapter, kTarget, kTransferFrames);
    ASSERT_TRUE(ReadCdSectors(&block.srb, 300, kTransferFrames));
    const Bytes first = block.data;
    EXPECT_FALSE(std::equal(first.begin(), first.begin() + 3 * kFrameBytes, want.begin()));
    ASSERT_TRUE(ReadCdSectors(&block.srb, 300, kTransferFrames));
    EXPECT_TRUE(block.data == first);

    d.cacheFrames = 0;
    drive.Apply();
    block.srb.CDBByte[8] = 1;     // one frame
    block.srb.CDBByte[9] |= 0x04; // and its 294 pointers, their OR and a pad byte
    ASSERT_TRUE(RunSrb(&block.srb));
    EXPECT_EQ(Bytes(&block.data[kFrameBytes], &block.data[kFrameBytes + kC2BlockBytes]),
              C2PointersOf(block.data.data(), want.data(), kC2BlockBytes));
    std::vector<std::string> marks;
    for (const VLogLine& l : drive.Commands()) marks.push_back(l.frames);
    EXPECT_THAT(marks,
                ElementsAre("www" + std::string(23, '.'), "CCC" + std::string(23, 'c'), "w"));
}

TEST_P(DriveCommands, FailedStatusQueryLeavesAClearedReply) {
    Stage(false);
    BYTE reply[kSubchannelReplyBytes];
    memset(reply, ReadBlock::kUntouched, sizeof reply);
    EXPECT_FALSE(ReadSubChannel(kAdapter, kTarget, reply));
    EXPECT_EQ(Bytes(reply, reply + sizeof reply), Bytes(sizeof reply, 0));
    // Eject without a disc: the probe fails, and the eject goes on.
    EXPECT_TRUE(EjectTray(kAdapter, kTarget));
}

TEST_P(DriveCommandsOverAspi, AnyImmediateAnswerFromAspiIsAFailure) {
    for (const char* result : {"comp", "error", "invalid"}) {
        drive.aspi.sendResult = result;
        Stage();
        EXPECT_FALSE(LockTray(kAdapter, kTarget)) << result;
        drive.devices.clear();
    }
}

// Over ASPI the drive finishes the command late; over pass-through the port
// gives up on it at the time-out.
TEST_P(DriveCommands, AHungCommandFailsCorruptsNothingAndTheNextCommandWorks) {
    VDevice& d = Stage();
    d.hangMs = static_cast<int>(kSrbTimeoutMs) + 1500;
    ASSERT_TRUE(drive.Apply());

    ReadBlock block(kAdapter, kTarget, kTransferFrames);
    DWORD start = GetTickCount();
    EXPECT_FALSE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_GE(GetTickCount() - start, kSrbTimeoutMs - 100);
    EXPECT_NE(block.srb.SRB_Status, SS_COMP);

    d.hangMs = 0;
    ASSERT_TRUE(drive.Apply());
    // The stale command completes during this one, which must still get its own answer.
    BYTE toc[kTocReplyBytes] = {};
    EXPECT_TRUE(ReadToc(kAdapter, kTarget, toc));
    EXPECT_EQ(toc[3], 2);
    Sleep(200);
    EXPECT_EQ(block.data, Bytes(block.data.size(), ReadBlock::kUntouched));
    EXPECT_TRUE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 0, kTransferFrames));
    ASSERT_EQ(drive.Commands().size(), 3u);
    EXPECT_EQ(drive.Commands()[0].status, GetParam() == Transport::Aspi ? SS_COMP : SS_ERR);
}

TEST_P(DriveCommands, AfterUnitAttentionNothingIsReadUntilTheDiscIsTakenAfresh) {
    Stage(true, true);
    BYTE reply[kSubchannelReplyBytes];
    EXPECT_FALSE(DiscMayHaveChanged());
    EXPECT_FALSE(ReadSubChannel(kAdapter, kTarget, reply));
    EXPECT_TRUE(DiscMayHaveChanged());

    // The frames might be another disc's: refused without a command.
    ReadBlock block(kAdapter, kTarget, kTransferFrames);
    size_t sent = CommandSummaries(drive).size();
    EXPECT_FALSE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_EQ(CommandSummaries(drive).size(), sent);

    ForgetDiscChange();
    ASSERT_TRUE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 0, kTransferFrames));
    // Other failures say nothing about the disc.
    EXPECT_FALSE(ReadCdSectors(&block.srb, 5000, kTransferFrames));
    EXPECT_FALSE(DiscMayHaveChanged());
}

// Without a device there is no adapter over ASPI, and the scan falls back to
// pass-through, where a device letter with nothing behind it is no drive.
TEST_P(DriveCommands, WithoutAnyDeviceThereAreNoDrives) {
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 0);
    EXPECT_TRUE(PassThroughSelected());
    EXPECT_TRUE(drive.Commands().empty());
}

// Once: a second count sends nothing, even with another drive come along.
TEST_P(DriveCommands, FindsTargetsInOrderAndProbesEachBeforeAskingOnce) {
    drive.AddCdRom(0, 5);
    drive.AddCdRom(0, 2);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 2}, {0, 5}}));
    // A probe and an INQUIRY for each of targets 0-7; over pass-through only
    // the targets with a device hear them.
    std::vector<int> heard = {0, 1, 2, 3, 4, 5, 6, 7};
    if (GetParam() == Transport::PassThrough) heard = {2, 5};
    std::vector<VLogLine> cmds = drive.Commands();
    ASSERT_EQ(cmds.size(), 2 * heard.size());
    for (size_t i = 0; i < cmds.size(); i++) {
        EXPECT_EQ(cmds[i].target, heard[i / 2]);
        EXPECT_EQ(cmds[i].cdb[0], i % 2 ? 0x12 : 0x42);
    }
    drive.AddCdRom(0, 1);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 2);
    EXPECT_EQ(drive.Commands().size(), cmds.size());
}

TEST_P(DriveCommandsOverAspi, KeepsTheFirstFiveAndStopsThere) {
    for (auto [ha, t] : Drives{{0, 6}, {0, 1}, {1, 7}, {1, 0}, {1, 3}, {1, 4}, {2, 0}})
        drive.AddCdRom(ha, t);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 1}, {0, 6}, {1, 0}, {1, 3}, {1, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_NE(l.ha, 2);
}

TEST_P(DriveCommands, SkipsQualifiedDisksAndSilentTargets) {
    drive.AddCdRom(0, 1).type = "cdrom-qualified";
    drive.AddCdRom(0, 2).type = "disk";
    drive.AddCdRom(0, 4);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 4}}));
}

TEST_P(DriveCommandsOverAspi, NeverExaminesTargetsAboveSeven) {
    for (int target : {4, 9, 15}) drive.AddCdRom(0, target);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_LT(l.target, 8);
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

TEST(TocReply, RefusesTracksAboveNinetyNineAndLengthsShortOfTheDescriptors) {
    const struct {
        int first, last;
        std::vector<uint32_t> starts;
        size_t described;
        bool accepted;
    } replies[] = {
        {1, 100, {0, 100}, 100, false},
        {1, 170, {0, 100}, 100, false},
        {1, 255, {0, 100}, 100, false},
        {1, 12, {0, 100, 200}, 5, false},
        {1, 1, {0, 100}, 1, false},
        {1, 1, {0, 100}, 2, true},
        // Discs that do not start at track 1 are read by track number, so their
        // descriptors for tracks below the first are missing.
        {3, 4, {0, 100, 200}, 3, false},
    };
    TocHeader h;
    for (const auto& r : replies)
        EXPECT_EQ(CheckTocReply(Reply(r.first, r.last, r.starts, r.described).data(), &h),
                  r.accepted)
            << r.first << "-" << r.last << ", " << r.described << " described";
}
