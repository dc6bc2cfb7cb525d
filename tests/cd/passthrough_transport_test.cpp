// The pass-through transport on its own: where each device lands on the
// buses, how a block goes out and comes back, and a platform that misbehaves.
#include "cd/aspi_transport.h"
#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"
#include "cd/scsi_commands.h"
#include "cd_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace td_test;
using ::testing::ElementsAre;

namespace {

constexpr BYTE kUntouched = 0xA5;
const ReportedAddress kUnknown = {};

ReportedAddress At(int port, int target, int path = 0, int lun = 0) {
    return ReportedAddress{true, BYTE(port), BYTE(path), BYTE(target), BYTE(lun)};
}

std::vector<std::string> Slots(const std::vector<ReportedAddress>& reported) {
    std::vector<BusSlot> slots(reported.size());
    AssignBusSlots(reported.data(), int(reported.size()), slots.data());
    std::vector<std::string> out;
    for (const BusSlot& s : slots)
        out.push_back(s.used ? std::to_string(s.adapter) + "," + std::to_string(s.target) : "-");
    return out;
}

class PassThrough : public ::testing::Test {
  protected:
    void SetUp() override { SelectPassThrough(); }

    FakeCdRom& AddDrive(char letter, int port, int target) {
        FakeCdRom& d = this->port.Add(letter, port, target);
        d.scsi.SetUnitAttention(false);
        d.Insert(disc.cuePath);
        return d;
    }

    FakeScsiPort port;
    VDisc disc = MakeDisc("400 300");
};

// A READ CD block as the player keeps it, aimed at `data`.
SRB_ExecSCSICmd ReadBlock(int adapter, int target, BYTE* data) {
    SRB_ExecSCSICmd b = {};
    b.SRB_HaId = BYTE(adapter);
    b.SRB_Target = BYTE(target);
    b.SRB_BufPointer = data;
    b.SRB_BufLen = kTransferBytes;
    return b;
}

} // namespace

TEST(PassThroughSlots, KeepsReportedPlacesAndNumbersTheRestFromZero) {
    EXPECT_THAT(Slots({kUnknown, At(1, 3), kUnknown}), ElementsAre("0,0", "1,3", "0,1"));
    // A device that can stay where it is keeps its place against an earlier one.
    EXPECT_THAT(Slots({kUnknown, At(0, 0)}), ElementsAre("0,1", "0,0"));
    EXPECT_EQ(Slots(std::vector<ReportedAddress>(9, kUnknown)).back(), "1,0");
}

TEST(PassThroughSlots, MovesDevicesTheScanWouldMissOrThatCollide) {
    // Two drives on one port's two paths (as one per SATA port), a target
    // above 7, a LUN above 0: each gets the first free slot from its port on.
    EXPECT_THAT(Slots({At(2, 0, 0), At(2, 0, 1), At(0, 9), At(1, 0, 0, 1)}),
                ElementsAre("2,0", "2,1", "0,0", "1,0"));
    // One drive under two letters is one drive; unknown addresses can't tell.
    EXPECT_THAT(Slots({At(1, 2), At(1, 2), kUnknown, kUnknown}),
                ElementsAre("1,2", "-", "0,0", "0,1"));
}

TEST(PassThroughSlots, AlignmentMasksCoverEveryLowBit) {
    EXPECT_EQ(AlignmentBits(0), 0u);
    EXPECT_EQ(AlignmentBits(0x3), 0x3u);
    EXPECT_EQ(AlignmentBits(0x1FF), 0x1FFu);
    EXPECT_EQ(AlignmentBits(0x1000), 0x1FFFu); // the alignment given for its mask
}

TEST_F(PassThrough, FindsTheCdRomLettersOnceAndListsThemInBusOrder) {
    AddDrive('E', 1, 0);
    AddDrive('D', 0, 6);
    AddDrive('G', 0, 2);
    port.fixedLetters = "CFZ";
    EXPECT_EQ(FoundDrives(), (Drives{{0, 2}, {0, 6}, {1, 0}}));
    EXPECT_EQ(GetHostAdapterCount(), 2);

    BYTE reply[kSubchannelReplyBytes];
    EXPECT_TRUE(ReadSubChannel(1, 0, reply));
    EXPECT_EQ(port.calls.back().letter, 'E');
    ASSERT_EQ(port.opened.size(), 3u);
    const char* paths[] = {"\\\\.\\D:", "\\\\.\\E:", "\\\\.\\G:"};
    for (size_t i = 0; i < port.opened.size(); i++) {
        EXPECT_EQ(port.opened[i].path, paths[i]);
        EXPECT_EQ(port.opened[i].access, DWORD(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(port.opened[i].share, DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE));
        EXPECT_EQ(port.opened[i].disposition, DWORD(OPEN_EXISTING));
    }
}

TEST_F(PassThrough, LeavesOutWhatCannotBeOpenedAndDrivesSeenTwice) {
    AddDrive('D', 0, 0).opens = false;
    AddDrive('E', 5, 5).answersAddress = false;
    AddDrive('F', 3, 1);
    AddDrive('H', 3, 1);
    EXPECT_EQ(FoundDrives(), (Drives{{0, 0}, {3, 1}}));
    EXPECT_THAT(port.closed, ElementsAre('H'));
    for (const PassThroughCall& c : port.calls) EXPECT_NE(c.letter, 'H');
}

TEST_F(PassThrough, WithoutCdRomDevicesThereIsNothingToOpen) {
    EXPECT_EQ(GetCdDriveCount(), 0);
    EXPECT_EQ(GetHostAdapterCount(), 0);
    EXPECT_TRUE(port.opened.empty());
}

TEST_F(PassThrough, BouncesOnlyBuffersTheAdapterCannotTake) {
    AddDrive('D', 0, 1).alignmentMask = 0x3;
    Bytes raw(kTransferBytes + 8, kUntouched);
    BYTE* aligned = raw.data() + (4 - reinterpret_cast<ULONG_PTR>(raw.data()) % 4) % 4;
    BYTE* odd = aligned + 1;

    SRB_ExecSCSICmd b = ReadBlock(0, 1, odd);
    ASSERT_TRUE(ReadCdSectors(&b, 300, kTransferFrames));
    EXPECT_EQ(Bytes(odd, odd + kTransferBytes), ExpectedFrames(disc, 300, kTransferFrames));
    EXPECT_EQ(*(odd - 1), kUntouched);
    EXPECT_EQ(odd[kTransferBytes], kUntouched);
    EXPECT_NE(port.calls.back().sent.DataBuffer, odd);

    b.SRB_BufPointer = aligned;
    ASSERT_TRUE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(Bytes(aligned, aligned + kTransferBytes), ExpectedFrames(disc, 0, kTransferFrames));
    EXPECT_EQ(port.calls.back().sent.DataBuffer, aligned);
    for (const PassThroughCall& c : port.calls) {
        EXPECT_EQ(c.sent.TimeOutValue * 1000, kSrbTimeoutMs);
        EXPECT_EQ(c.sent.SenseInfoLength, SENSE_LEN);
        EXPECT_EQ(c.sent.DataIn, SCSI_IOCTL_DATA_IN);
    }
}

TEST_F(PassThrough, AFailingOrHungDeviceFailsItsOwnCommandsOnly) {
    FakeCdRom& broken = AddDrive('D', 0, 0);
    FakeCdRom& hung = AddDrive('E', 0, 1);
    AddDrive('F', 0, 2);
    broken.fails = true;
    hung.hangMs = 60000;
    EXPECT_EQ(FoundDrives(), (Drives{{0, 2}})); // neither answers INQUIRY

    Bytes data(kTransferBytes, kUntouched);
    SRB_ExecSCSICmd b = ReadBlock(0, 1, data.data());
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_ERR);
    EXPECT_EQ(b.SRB_HaStat, HASTAT_COMMAND_TIMEOUT);
    EXPECT_EQ(data, Bytes(kTransferBytes, kUntouched));
    b.SRB_Target = 0;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_ERR);
    EXPECT_EQ(b.SRB_HaStat, HASTAT_OK);

    BYTE toc[kTocReplyBytes] = {};
    EXPECT_TRUE(ReadToc(0, 2, toc));
    hung.hangMs = 0; // answering again
    b.SRB_Target = 1;
    EXPECT_TRUE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(data, ExpectedFrames(disc, 0, kTransferFrames));
}

TEST_F(PassThrough, BlocksForNoDeviceReachNone) {
    AddDrive('D', 0, 1);
    Bytes data(kTransferBytes);
    SRB_ExecSCSICmd b = ReadBlock(0, 1, data.data());
    b.SRB_Lun = 1;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_NO_DEVICE);
    b.SRB_Lun = 0;
    b.SRB_Target = 2;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_NO_DEVICE);
    b.SRB_HaId = 1;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_INVALID_HA);
    EXPECT_TRUE(port.calls.empty());
}
