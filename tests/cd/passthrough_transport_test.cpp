// The pass-through transport: where each device lands on the buses, how a
// block goes out and comes back, a platform that misbehaves, and when it is
// chosen over ASPI (at the first scan, when ASPI finds no CD-ROM).
#include "cd/aspi_transport.h"
#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"
#include "cd/scsi_commands.h"
#include "drive_bench.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace td_test;
using ::testing::ElementsAre;

namespace {

constexpr BYTE kUntouched = ReadBlock::kUntouched;
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
        d.Load(disc.cuePath);
        return d;
    }

    FakeScsiPort port;
    VDisc disc = MakeDisc("400 300");
};

// How ASPI lets the scan down.
enum class Aspi { Missing, BadStatus, NoCdRom, RefusesCommands };

void PrintTo(Aspi aspi, std::ostream* os) {
    const char* names[] = {"Missing", "BadStatus", "NoCdRom", "RefusesCommands"};
    *os << names[int(aspi)];
}

class AspiFallback : public ::testing::TestWithParam<Aspi> {};

INSTANTIATE_TEST_SUITE_P(Cases, AspiFallback,
                         ::testing::Values(Aspi::Missing, Aspi::BadStatus, Aspi::NoCdRom,
                                           Aspi::RefusesCommands));

} // namespace

TEST(PassThroughSlots, KeepsReportedPlacesTheScanSeesAndNumbersTheRestFromZero) {
    EXPECT_THAT(Slots({kUnknown, At(1, 3), kUnknown}), ElementsAre("0,0", "1,3", "0,1"));
    // A device that can stay where it is keeps its place against an earlier one.
    EXPECT_THAT(Slots({kUnknown, At(0, 0)}), ElementsAre("0,1", "0,0"));
    EXPECT_EQ(Slots(std::vector<ReportedAddress>(9, kUnknown)).back(), "1,0");
    // Two drives on one port's two paths (as one per SATA port), a target
    // above 7, a LUN above 0: each gets the first free slot from its port on.
    EXPECT_THAT(Slots({At(2, 0, 0), At(2, 0, 1), At(0, 9), At(1, 0, 0, 1)}),
                ElementsAre("2,0", "2,1", "0,0", "1,0"));
    // One drive under two letters is one drive; unknown addresses can't tell.
    EXPECT_THAT(Slots({At(1, 2), At(1, 2), kUnknown, kUnknown}),
                ElementsAre("1,2", "-", "0,0", "0,1"));
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
    EXPECT_THAT(port.opened, ElementsAre("\\\\.\\D:", "\\\\.\\E:", "\\\\.\\G:"));
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

// Some adapters report the alignment itself rather than its mask.
TEST_F(PassThrough, BouncesOnlyBuffersTheAdapterCannotTake) {
    EXPECT_EQ(AlignmentBits(0x1000), 0x1FFFu);
    AddDrive('D', 0, 1).alignmentMask = 0x3;
    Bytes raw(kTransferBytes + 8, kUntouched);
    BYTE* aligned = raw.data() + (4 - reinterpret_cast<ULONG_PTR>(raw.data()) % 4) % 4;
    BYTE* odd = aligned + 1;

    ReadBlock block(0, 1, kTransferFrames);
    SRB_ExecSCSICmd& b = block.srb;
    b.SRB_BufPointer = odd;
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

    ReadBlock block(0, 1, kTransferFrames);
    SRB_ExecSCSICmd& b = block.srb;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_ERR);
    EXPECT_EQ(b.SRB_HaStat, HASTAT_COMMAND_TIMEOUT);
    EXPECT_EQ(block.data, Bytes(kTransferBytes, kUntouched));
    b.SRB_Target = 0;
    EXPECT_FALSE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(b.SRB_Status, SS_ERR);
    EXPECT_EQ(b.SRB_HaStat, HASTAT_OK);

    BYTE toc[kTocReplyBytes] = {};
    EXPECT_TRUE(ReadToc(0, 2, toc));
    hung.hangMs = 0; // answering again
    b.SRB_Target = 1;
    EXPECT_TRUE(ReadCdSectors(&b, 0, kTransferFrames));
    EXPECT_EQ(block.data, ExpectedFrames(disc, 0, kTransferFrames));
}

TEST_F(PassThrough, BlocksForNoDeviceReachNone) {
    AddDrive('D', 0, 1);
    const struct {
        BYTE adapter, target, lun, status;
    } blocks[] = {{0, 1, 1, SS_NO_DEVICE}, {0, 2, 0, SS_NO_DEVICE}, {1, 1, 0, SS_INVALID_HA}};
    for (const auto& block : blocks) {
        ReadBlock b(block.adapter, block.target, kTransferFrames);
        b.srb.SRB_Lun = block.lun;
        EXPECT_FALSE(ReadCdSectors(&b.srb, 0, kTransferFrames));
        EXPECT_EQ(b.srb.SRB_Status, block.status);
    }
    EXPECT_TRUE(port.calls.empty());
}

TEST(TransportChoice, AspiWithACdRomWins) {
    FakeScsiPort port;
    port.Add('D', 0, 0);
    VirtualDrive aspi;
    aspi.AddCdRom(0, 2);
    ASSERT_TRUE(aspi.Apply());
    EXPECT_EQ(FoundDrives(), (Drives{{0, 2}}));
    EXPECT_FALSE(PassThroughSelected());
    EXPECT_TRUE(LockTray(0, 2));
    EXPECT_EQ(aspi.Commands().back().cdb[0], 0x1E);
    EXPECT_TRUE(port.opened.empty());
}

TEST_P(AspiFallback, ThePassThroughDrivesAreUsed) {
    FakeScsiPort port;
    port.Add('E', 1, 4).Load(MakeDisc("300 200").cuePath);
    VirtualDrive aspi;
    if (GetParam() != Aspi::Missing) {
        VDevice& v = aspi.AddCdRom(0, 2);
        if (GetParam() == Aspi::BadStatus) aspi.aspi.supportStatus = 0xE8;
        if (GetParam() == Aspi::NoCdRom) v.type = "disk";
        if (GetParam() == Aspi::RefusesCommands) aspi.aspi.sendResult = "invalid"; // as Wine's
        ASSERT_TRUE(aspi.Apply());
    }
    EXPECT_EQ(FoundDrives(), (Drives{{1, 4}}));
    EXPECT_TRUE(PassThroughSelected());
    // Where ASPI has adapters its scan went first: a probe and an INQUIRY for
    // each of targets 0-7, found wanting or refused.
    size_t overAspi = aspi.Commands().size();
    bool scanned = GetParam() == Aspi::NoCdRom || GetParam() == Aspi::RefusesCommands;
    EXPECT_EQ(overAspi, scanned ? 16u : 0u);

    BYTE toc[kTocReplyBytes] = {};
    EXPECT_TRUE(ReadToc(1, 4, toc));
    EXPECT_EQ(toc[3], 2);
    EXPECT_EQ(port.calls.back().cdb[0], 0x43);
    EXPECT_EQ(aspi.Commands().size(), overAspi);
}

// The machine's own devices, through the platform's calls: whatever it has,
// only its CD-ROM letters can become drives (under Wine without a mapped
// drive, none), and looking must neither fail nor hang.
TEST(TransportChoice, TheMachinesOwnDevicesAreLookedAtSafely) {
    int cdLetters = 0;
    char root[] = "?:\\";
    for (root[0] = 'A'; root[0] <= 'Z'; root[0]++) cdLetters += GetDriveTypeA(root) == DRIVE_CDROM;
    EXPECT_LE(GetCdDriveCount(), cdLetters);
    EXPECT_TRUE(PassThroughSelected());
}
