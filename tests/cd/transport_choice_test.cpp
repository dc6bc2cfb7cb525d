// Which transport carries the commands: ASPI when its scan finds a CD-ROM,
// otherwise the platform's pass-through, decided once at the first scan.
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"
#include "cd/scsi_commands.h"
#include "cd_test_util.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

enum class Aspi { Missing, BadStatus, NoCdRom, RefusesCommands };

class AspiFallback : public ::testing::TestWithParam<Aspi> {};

void PrintTo(Aspi aspi, std::ostream* os) {
    const char* names[] = {"Missing", "BadStatus", "NoCdRom", "RefusesCommands"};
    *os << names[int(aspi)];
}

INSTANTIATE_TEST_SUITE_P(Cases, AspiFallback,
                         ::testing::Values(Aspi::Missing, Aspi::BadStatus, Aspi::NoCdRom,
                                           Aspi::RefusesCommands));

} // namespace

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
    FakeCdRom& d = port.Add('E', 1, 4);
    d.scsi.SetUnitAttention(false);
    d.Insert(MakeDisc("300 200").cuePath);
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

TEST(TransportChoice, PassThroughWithoutCdRomsLeavesNoDrives) {
    FakeScsiPort port; // hard disks only
    EXPECT_EQ(GetCdDriveCount(), 0);
    EXPECT_TRUE(PassThroughSelected());
    EXPECT_EQ(GetCdDriveCount(), 0);
}

// The machine's own devices, through the platform's calls: whatever it has,
// only its CD-ROM letters can become drives (under Wine without a mapped
// drive, none), and looking must neither fail nor hang.
TEST(TransportChoice, TheMachinesOwnDevicesAreLookedAtSafely) {
    int cdLetters = 0;
    char root[] = "?:\\";
    for (char c = 'A'; c <= 'Z'; c++) {
        root[0] = c;
        if (GetDriveTypeA(root) == DRIVE_CDROM) cdLetters++;
    }
    EXPECT_LE(GetCdDriveCount(), cdLetters);
    EXPECT_TRUE(PassThroughSelected());
}
