// What the drive control layer puts on the bus, command by command, over ASPI
// and over pass-through, and how the ASPI transport survives refusals and a
// drive that answers too late.
#include "cd/aspi_transport.h"
#include "cd/disc_units.h"
#include "cd/scsi_commands.h"
#include "cd_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace td_test;
using ::testing::ElementsAre;

namespace {

constexpr int kAdapter = 0, kTarget = 3;
constexpr BYTE kUntouched = 0xA5;

struct ReadBlock {
    SRB_ExecSCSICmd srb = {};
    Bytes data;

    explicit ReadBlock(DWORD frames) : data(frames * kFrameBytes, kUntouched) {
        srb.SRB_HaId = kAdapter;
        srb.SRB_Target = kTarget;
        srb.SRB_BufPointer = data.data();
        srb.SRB_BufLen = static_cast<DWORD>(data.size());
    }
};

class CommandBench {
  protected:
    explicit CommandBench(Transport transport) : drive(transport) {}

    VDisc disc = MakeDisc("400 300");

    void Stage(bool withDisc = true) {
        VDevice& d = drive.AddCdRom(kAdapter, kTarget, withDisc ? disc.cuePath : "");
        d.unitAttention = false;
        ASSERT_TRUE(drive.Apply());
    }

    DriveBench drive;
};

class DriveCommands : public ::testing::TestWithParam<Transport>, public CommandBench {
  protected:
    DriveCommands() : CommandBench(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Transports, DriveCommands,
                         ::testing::Values(Transport::Aspi, Transport::PassThrough));

class DriveCommandsOverAspi : public ::testing::Test, public CommandBench {
  protected:
    DriveCommandsOverAspi() : CommandBench(Transport::Aspi) {}
};

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
    EXPECT_EQ(inquiry[0], 0x05);
}

TEST_P(DriveCommands, ReadCdFetchesTheFramesAndRecordsWhereItRead) {
    Stage();
    ReadBlock block(kTransferFrames);
    ASSERT_TRUE(ReadCdSectors(&block.srb, 300, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 300, kTransferFrames));
    EXPECT_EQ(LastReadAddress(), 300u);
    EXPECT_EQ(StreamCurrentAddress(&block.srb), 300u);
    EXPECT_THAT(CommandSummaries(drive),
                ElementsAre(drive.Sent("40 61152: BE 04 00 00 01 2C 00 00 1A F0 00 00")));

    // A read past the lead-out fails, and still counts as the last read.
    EXPECT_FALSE(ReadCdSectors(&block.srb, 5000, kTransferFrames));
    EXPECT_EQ(LastReadAddress(), 5000u);
}

TEST_P(DriveCommands, SectorCountKeepsItsHighByte) {
    Stage();
    ReadBlock block(1);
    ReadCdSectors(&block.srb, 0, 0x012345);
    EXPECT_EQ(CommandSummaries(drive).back(),
              drive.Sent("40 2352: BE 04 00 00 00 00 01 23 45 F0 00 00"));
}

TEST_P(DriveCommands, FailedStatusQueryLeavesAClearedReply) {
    Stage(false);
    BYTE reply[kSubchannelReplyBytes];
    memset(reply, kUntouched, sizeof reply);
    EXPECT_FALSE(ReadSubChannel(kAdapter, kTarget, reply));
    EXPECT_EQ(Bytes(reply, reply + sizeof reply), Bytes(sizeof reply, 0));
    // Eject without a disc: the probe still goes first.
    EXPECT_TRUE(EjectTray(kAdapter, kTarget));
    std::vector<std::string> sent = CommandSummaries(drive);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], sent[0]);
    EXPECT_EQ(sent[2], drive.Sent("40 0: 1B 00 00 00 02 00"));
}

TEST_P(DriveCommands, EjectIsRefusedWhileLocked) {
    Stage();
    ASSERT_TRUE(LockTray(kAdapter, kTarget));
    EXPECT_FALSE(EjectTray(kAdapter, kTarget));
    EXPECT_TRUE(UnlockTray(kAdapter, kTarget));
    EXPECT_TRUE(EjectTray(kAdapter, kTarget));
}

TEST_P(DriveCommands, CheckConditionComesBackWithItsSense) {
    drive.AddCdRom(kAdapter, kTarget, disc.cuePath); // just inserted: UNIT ATTENTION
    ASSERT_TRUE(drive.Apply());
    BYTE toc[kTocReplyBytes] = {};
    SRB_ExecSCSICmd b = {};
    b.SRB_Cmd = SC_EXEC_SCSI_CMD;
    b.SRB_HaId = kAdapter;
    b.SRB_Target = kTarget;
    b.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    b.SRB_BufLen = sizeof toc;
    b.SRB_BufPointer = toc;
    b.SRB_SenseLen = SENSE_LEN;
    b.SRB_CDBLen = 10;
    const BYTE readToc[] = {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0};
    memcpy(b.CDBByte, readToc, sizeof readToc);
    auto senseOf = [&] { return HexBytes({BYTE(b.SenseArea[2] & 0x0F), b.SenseArea[12]}); };

    EXPECT_FALSE(RunSrb(&b));
    EXPECT_EQ(b.SRB_Status, SS_ERR);
    EXPECT_EQ(b.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(senseOf(), "06 28");
    EXPECT_TRUE(RunSrb(&b));
    EXPECT_EQ(b.SRB_Status, SS_COMP);
    EXPECT_EQ(b.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(toc[3], 2);

    drive.devices[0].image.clear();
    ASSERT_TRUE(drive.Apply());
    EXPECT_FALSE(RunSrb(&b));
    EXPECT_EQ(senseOf(), "02 3A");
}

TEST_F(DriveCommandsOverAspi, AnyImmediateAnswerFromAspiIsAFailure) {
    for (const char* result : {"comp", "error", "invalid"}) {
        drive.aspi.sendResult = result;
        Stage();
        EXPECT_FALSE(LockTray(kAdapter, kTarget)) << result;
        drive.devices.clear();
    }
}

TEST_F(DriveCommandsOverAspi, LateCompletionCorruptsNothingAndTheNextCommandWorks) {
    VDevice& d = drive.AddCdRom(kAdapter, kTarget, disc.cuePath);
    d.unitAttention = false;
    d.hangMs = static_cast<int>(kSrbTimeoutMs) + 1500;
    ASSERT_TRUE(drive.Apply());

    ReadBlock block(kTransferFrames);
    DWORD start = GetTickCount();
    EXPECT_FALSE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_GE(GetTickCount() - start, kSrbTimeoutMs - 100);
    EXPECT_NE(block.srb.SRB_Status, SS_COMP);

    drive.devices[0].hangMs = 0;
    ASSERT_TRUE(drive.Apply());
    // The stale command completes during this one, which must still get its own answer.
    BYTE toc[kTocReplyBytes] = {};
    EXPECT_TRUE(ReadToc(kAdapter, kTarget, toc));
    EXPECT_EQ(toc[3], 2);
    Sleep(200);
    EXPECT_EQ(block.data, Bytes(block.data.size(), kUntouched));
    EXPECT_TRUE(ReadCdSectors(&block.srb, 0, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 0, kTransferFrames));
    std::vector<VLogLine> cmds = drive.Commands();
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].status, SS_COMP); // the drive did finish the first read, late
}

TEST_P(DriveCommands, AfterUnitAttentionNothingIsReadUntilTheDiscIsTakenAfresh) {
    drive.AddCdRom(kAdapter, kTarget, disc.cuePath); // just inserted: UNIT ATTENTION
    ASSERT_TRUE(drive.Apply());
    BYTE reply[kSubchannelReplyBytes];
    EXPECT_FALSE(DiscMayHaveChanged());
    EXPECT_FALSE(ReadSubChannel(kAdapter, kTarget, reply));
    EXPECT_TRUE(DiscMayHaveChanged());

    // The frames might be another disc's: refused without a command.
    ReadBlock block(kTransferFrames);
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
