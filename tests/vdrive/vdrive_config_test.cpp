// The virtual drive's configuration: changes to the INI take effect while the
// program runs, and every command and every problem leaves a line in the log.
#include "aspi_client.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace td_test;

namespace {

constexpr WORD kTocAlloc = 804;
constexpr DWORD kFrame = 2352;

class VirtualDriveConfig : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(aspi.Load()); }

    ExecResult Run(const Bytes& cdb, DWORD bufLen = 0, BYTE target = 0, BYTE ha = 0) {
        return Exec(aspi, Request(target, cdb, bufLen, ha));
    }
    std::string Outcome(const Bytes& cdb, DWORD bufLen = 0) {
        ExecResult r = Run(cdb, bufLen);
        return r.status == SS_COMP ? "ok" : r.Sense();
    }
    uint32_t LeadOut() {
        ExecResult r = Run(CdbReadToc(false, 0xAA, kTocAlloc), kTocAlloc);
        EXPECT_EQ(r.status, SS_COMP);
        return uint32_t(r.data[8]) << 24 | uint32_t(r.data[9]) << 16 | uint32_t(r.data[10]) << 8 |
               r.data[11];
    }

    AspiLib aspi;
    VirtualDrive drive;
};

bool Logged(const std::vector<VLogLine>& lines, const std::string& text) {
    for (const VLogLine& l : lines)
        if (l.text.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

TEST_F(VirtualDriveConfig, ChangesToTheIniTakeEffectWhileRunning) {
    VDisc a = MakeDisc("100 50", "a");
    VDisc b = MakeDisc("80", "b");
    VDevice& dev = drive.AddCdRom(0, 0, a.cuePath);
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(LeadOut(), 150u);

    dev.trayOpen = true;
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "2/3A/00");
    dev.trayOpen = false;
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "ok");

    dev.image = b.cuePath; // a new disc
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(LeadOut(), 80u);

    dev.readErrors = "5"; // a fault on the same disc: no new unit attention
    drive.Apply();
    EXPECT_EQ(Outcome(CdbReadCd(5, 1), kFrame), "3/11/00");
    dev.readErrors.clear();
    drive.Apply();
    EXPECT_EQ(Outcome(CdbReadCd(5, 1), kFrame), "ok");
    drive.Apply(); // rewritten unchanged
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "ok");

    // The program ejects; the INI still says closed, and applies afresh when written.
    EXPECT_EQ(Outcome(CdbStartStop(true, false)), "ok");
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "2/3A/00");
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "ok");

    dev.image.clear();
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "2/3A/00");
    drive.devices.clear(); // the device goes away, its adapter stays
    drive.aspi.adapters = 1;
    drive.Apply();
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_NO_DEVICE);
}

TEST_F(VirtualDriveConfig, RelativePathsAndProblemsInTheIni) {
    MakeDisc("50", "rel");
    drive.AddCdRom(0, 0, "rel.cue");
    drive.aspi.log = "logs\\..\\drive.log";
    drive.extraIni = "[device]\r\n"
                     "target = 16\r\n"
                     "type = tape\r\n"
                     "read-error = 5-2\r\n"
                     "delay-ms = soon\r\n"
                     "colour = blue\r\n"
                     "[mystery]\r\n"
                     "key = 1\r\n"
                     "[aspi]\r\n"
                     "send-result = later\r\n"
                     "just words\r\n";
    CreateDirectoryA((ScratchDir() + "\\logs").c_str(), nullptr);
    drive.Apply();
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Outcome(CdbTestUnitReady()), "ok"); // the bad keys changed nothing
    EXPECT_EQ(aspi.support(), 0x0101u);

    std::vector<VLogLine> log = drive.Log();
    std::string ini = "ini " + drive.IniPath() + " line ";
    for (const char* says :
         {"target = 16: expected a number from 0 to 15",
          "type = tape: expected cdrom, cdrom-qualified or disk",
          "read-error = 5-2: expected addresses and ranges",
          "delay-ms = soon: expected milliseconds", "unknown key 'colour' in [device]",
          "a second device at adapter 0 target 0 is ignored",
          "unknown section [mystery] is ignored",
          "send-result = later: expected pending, comp, error or invalid", "expected key = value"})
        EXPECT_TRUE(Logged(log, says)) << says;
    std::string text = drive.IniText();
    size_t line = 1 + std::count(text.begin(), text.begin() + text.find("just words"), '\n');
    EXPECT_TRUE(Logged(log, ini + std::to_string(line) + ": expected key = value"));
}

TEST_F(VirtualDriveConfig, EveryCommandIsLoggedOnce) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 2, disc.cuePath);
    drive.Apply();
    Run(CdbInquiry(36), 36, 2);
    ExecRequest toc = Request(2, CdbReadToc(false, 0, kTocAlloc), kTocAlloc);
    toc.flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    Exec(aspi, toc);
    Run(CdbReadCd(300, 26), 26 * kFrame, 2);
    Run(CdbTestUnitReady(), 0, 5);
    Run(CdbTestUnitReady(), 0, 0, 3);
    SRB_HAInquiry ha = {};
    aspi.send(&ha);

    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 5u);
    const VLogLine& inquiry = lines[0];
    EXPECT_EQ(inquiry.target, 2);
    EXPECT_EQ(inquiry.flags, 0x40);
    EXPECT_EQ(inquiry.bufLen, 36u);
    EXPECT_EQ(inquiry.cdb, CdbInquiry(36));
    EXPECT_EQ(inquiry.status, SS_COMP);
    const VLogLine& t = lines[1];
    EXPECT_EQ(t.flags, 0x48);
    EXPECT_EQ(t.cdb, CdbReadToc(false, 0, kTocAlloc));
    EXPECT_EQ(t.status, SS_ERR);
    EXPECT_EQ(t.targStat, STATUS_CHKCOND);
    EXPECT_EQ(t.senseKey, 6);
    EXPECT_EQ(t.asc, 0x28);
    EXPECT_EQ(lines[2].cdb, CdbReadCd(300, 26));
    EXPECT_EQ(lines[2].senseKey, 5);
    EXPECT_EQ(lines[2].asc, 0x21);
    EXPECT_EQ(lines[3].status, SS_NO_DEVICE);
    EXPECT_EQ(lines[4].ha, 3);
    EXPECT_EQ(lines[4].status, SS_INVALID_HA);
    EXPECT_TRUE(Logged(drive.Log(), "ha-inquiry ha=0 count=1 status=01"));
}
