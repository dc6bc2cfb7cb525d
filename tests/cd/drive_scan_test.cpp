// Finding the CD-ROM drives: which targets qualify, in what order, and that the
// bus is scanned once per process.
#include "cd/drive_scan.h"
#include "cd_test_util.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

std::vector<std::pair<int, int>> FoundDrives() {
    std::vector<std::pair<int, int>> found;
    int n = GetCdDriveCount();
    for (int i = 0; i < n; i++) found.emplace_back(CdDriveAt(i).adapter, CdDriveAt(i).target);
    return found;
}

using Drives = std::vector<std::pair<int, int>>;

} // namespace

TEST(DriveScan, WithoutAspiConfigurationThereAreNoDrives) {
    SetEnvironmentVariableA("TUNEDECK_VDRIVE", nullptr);
    EXPECT_EQ(GetCdDriveCount(), 0);
}

TEST(DriveScan, ABadSupportStatusMeansNoDrivesAndNoCommands) {
    VirtualDrive drive;
    drive.AddCdRom(0, 2);
    drive.aspi.supportStatus = 0xE8;
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 0);
    EXPECT_TRUE(drive.Commands().empty());
}

TEST(DriveScan, FindsTargetsInOrderAndProbesEachBeforeAsking) {
    VirtualDrive drive;
    drive.AddCdRom(0, 5);
    drive.AddCdRom(0, 2);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 2}, {0, 5}}));
    std::vector<VLogLine> cmds = drive.Commands();
    ASSERT_EQ(cmds.size(), 16u); // a probe and an INQUIRY for each of targets 0-7
    for (size_t i = 0; i < cmds.size(); i++) {
        EXPECT_EQ(cmds[i].target, int(i / 2));
        EXPECT_EQ(cmds[i].cdb[0], i % 2 ? 0x12 : 0x42);
    }
}

TEST(DriveScan, KeepsTheFirstFiveAndStopsThere) {
    VirtualDrive drive;
    for (auto [ha, t] : Drives{{0, 6}, {0, 1}, {1, 7}, {1, 0}, {1, 3}, {1, 4}, {2, 0}})
        drive.AddCdRom(ha, t);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 1}, {0, 6}, {1, 0}, {1, 3}, {1, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_NE(l.ha, 2);
}

TEST(DriveScan, SkipsQualifiedDisksSilentTargetsAndTargetsAboveSeven) {
    VirtualDrive drive;
    drive.AddCdRom(0, 1).type = "cdrom-qualified";
    drive.AddCdRom(0, 2).type = "disk";
    drive.AddCdRom(0, 4);
    drive.AddCdRom(0, 9);
    drive.AddCdRom(0, 15);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 4}}));
    for (const VLogLine& l : drive.Commands()) EXPECT_LT(l.target, 8);
}

TEST(DriveScan, ASecondCountSendsNothing) {
    VirtualDrive drive;
    drive.AddCdRom(0, 0);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 1);
    size_t sent = drive.Commands().size();
    drive.AddCdRom(0, 1);
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(GetCdDriveCount(), 1);
    EXPECT_EQ(drive.Commands().size(), sent);
}
