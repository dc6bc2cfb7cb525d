// Finding the CD-ROM drives, over ASPI and over pass-through: which targets
// qualify, in what order, and that the buses are scanned once per process.
#include "cd/drive_scan.h"
#include "cd_test_util.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

class DriveScan : public ::testing::TestWithParam<Transport> {
  protected:
    DriveBench drive{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Transports, DriveScan,
                         ::testing::Values(Transport::Aspi, Transport::PassThrough));

} // namespace

TEST_P(DriveScan, WithoutAnyDriveThereAreNoDrives) {
    SetEnvironmentVariableA("TUNEDECK_VDRIVE", nullptr);
    EXPECT_EQ(GetCdDriveCount(), 0);
}

TEST(DriveScanOverAspi, ABadSupportStatusMeansNoDrivesAndNoCommands) {
    DriveBench drive(Transport::Aspi);
    drive.AddCdRom(0, 2);
    drive.aspi.supportStatus = 0xE8;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 0);
    EXPECT_TRUE(drive.Commands().empty());
}

TEST_P(DriveScan, FindsTargetsInOrderAndProbesEachBeforeAsking) {
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
}

TEST_P(DriveScan, KeepsTheFirstFiveAndStopsThere) {
    for (auto [ha, t] : Drives{{0, 6}, {0, 1}, {1, 7}, {1, 0}, {1, 3}, {1, 4}, {2, 0}})
        drive.AddCdRom(ha, t);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 1}, {0, 6}, {1, 0}, {1, 3}, {1, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_NE(l.ha, 2);
}

TEST_P(DriveScan, SkipsQualifiedDisksAndSilentTargets) {
    drive.AddCdRom(0, 1).type = "cdrom-qualified";
    drive.AddCdRom(0, 2).type = "disk";
    drive.AddCdRom(0, 4);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 4}}));
}

// Over pass-through the transport numbers the devices itself, within 0-7.
TEST(DriveScanOverAspi, NeverExaminesTargetsAboveSeven) {
    DriveBench drive(Transport::Aspi);
    drive.AddCdRom(0, 4);
    drive.AddCdRom(0, 9);
    drive.AddCdRom(0, 15);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_LT(l.target, 8);
}

TEST_P(DriveScan, ASecondCountSendsNothing) {
    drive.AddCdRom(0, 0);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 1);
    size_t sent = drive.Commands().size();
    drive.AddCdRom(0, 1);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 1);
    EXPECT_EQ(drive.Commands().size(), sent);
}
