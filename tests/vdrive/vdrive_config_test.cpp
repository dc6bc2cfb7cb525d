// The virtual drive's configuration: changes to the INI take effect while the
// program runs, and every command and every problem leaves a line in the log.
#include "aspi_client.h"

#include <algorithm>

using namespace td_test;

namespace {

using VirtualDriveConfig = DriveTest;

bool Logged(const std::vector<VLogLine>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const VLogLine& l) { return l.text.find(text) != std::string::npos; });
}

} // namespace

TEST_F(VirtualDriveConfig, ChangesToTheIniTakeEffectWhileRunning) {
    VDisc a = MakeDisc("100 50", "a");
    VDisc b = MakeDisc("80", "b");
    VDevice& dev = drive.AddCdRom(0, 0, a.cuePath);
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kUnitAttention);
    EXPECT_EQ(Be32(&Run(CdbReadToc(false, kLeadOutTrack), kTocAlloc).data[kLeadOutAddressAt]),
              150u);

    dev.trayOpen = true;
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kNoMedium);
    dev.trayOpen = false;
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kUnitAttention);
    EXPECT_EQ(Outcome(kTestUnitReady), kOk);

    dev.image = b.cuePath; // a new disc
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kUnitAttention);
    EXPECT_EQ(Be32(&Run(CdbReadToc(false, kLeadOutTrack), kTocAlloc).data[kLeadOutAddressAt]), 80u);

    dev.readErrors = "5"; // a fault on the same disc: no new unit attention
    drive.Apply();
    EXPECT_EQ(Outcome(CdbReadCd(5, 1), kFrame), kMediumError);
    dev.readErrors.clear();
    drive.Apply();
    EXPECT_EQ(Outcome(CdbReadCd(5, 1), kFrame), kOk);

    // The program ejects; the INI still says closed, and applies afresh when written.
    EXPECT_EQ(Outcome(kEject), kOk);
    EXPECT_EQ(Outcome(kTestUnitReady), kNoMedium);
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kUnitAttention);
    EXPECT_EQ(Outcome(kTestUnitReady), kOk);

    dev.image.clear();
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kNoMedium);
    drive.devices.clear(); // the device goes away, its adapter stays
    drive.aspi.adapters = 1;
    drive.Apply();
    EXPECT_EQ(Run(kTestUnitReady).status, SS_NO_DEVICE);
}

TEST_F(VirtualDriveConfig, RelativePathsAndProblemsInTheIni) {
    MakeDisc("50", "rel");
    drive.AddCdRom(0, 0, "rel.cue");
    drive.aspi.log = "logs\\..\\drive.log";
    drive.extraIni = "[device]\r\ntarget = 16\r\ntype = tape\r\nread-error = 5-2\r\n"
                     "delay-ms = soon\r\ncolour = blue\r\ndamage-odds = 101\r\n"
                     "cache-frames = 8193\r\nc2 = maybe\r\ngarbled = 3-\r\n[mystery]\r\nkey = 1\r\n"
                     "[aspi]\r\nsend-result = later\r\njust words\r\n";
    CreateDirectoryA((ScratchDir() + "\\logs").c_str(), nullptr);
    drive.Apply();
    EXPECT_EQ(Outcome(kTestUnitReady), kUnitAttention);
    EXPECT_EQ(Outcome(kTestUnitReady), kOk); // the bad keys changed nothing
    EXPECT_EQ(aspi.support(), 0x0101u);

    std::vector<VLogLine> log = drive.Log();
    for (const char* says :
         {"target = 16: expected a number from 0 to 15",
          "type = tape: expected cdrom, cdrom-qualified or disk",
          "read-error = 5-2: expected addresses and ranges",
          "delay-ms = soon: expected milliseconds", "unknown key 'colour' in [device]",
          "damage-odds = 101: expected a percentage", "cache-frames = 8193: expected a number",
          "c2 = maybe: expected on, off or refused", "garbled = 3-: expected addresses",
          "a second device at adapter 0 target 0 is ignored",
          "unknown section [mystery] is ignored",
          "send-result = later: expected pending, comp, error or invalid"})
        EXPECT_TRUE(Logged(log, says)) << says;
    std::string text = drive.IniText();
    size_t line = 1 + std::count(text.begin(), text.begin() + text.find("just words"), '\n');
    std::string says = "ini " + drive.IniPath() + " line " + std::to_string(line) + ": ";
    EXPECT_TRUE(Logged(log, says + "expected key = value")) << says;
}

TEST_F(VirtualDriveConfig, EveryCommandIsLoggedOnce) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 2, disc.cuePath);
    drive.Apply();
    Run(CdbInquiry(36), 36, 2);
    Exec(aspi, {2, CdbReadToc(false, 0), kTocAlloc, 0, 0, SRB_EVENT_NOTIFY | SRB_DIR_IN});
    Run(CdbReadCd(300, 26), 26 * kFrame, 2);
    Run(kTestUnitReady, 0, 5);
    Exec(aspi, {0, kTestUnitReady, 0, 3});
    SRB_HAInquiry ha = {};
    aspi.send(&ha);

    // Each line: ha, target, flags, length, CDB, status, target status, sense.
    auto fields = [](const VLogLine& l) {
        return std::make_tuple(l.ha, l.target, l.flags, l.bufLen, l.cdb, l.status, l.targStat,
                               l.senseKey, l.asc);
    };
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(fields(lines[0]),
              std::make_tuple(0, 2, 0x40, 36ul, CdbInquiry(36), SS_COMP, 0, 0, 0));
    EXPECT_EQ(fields(lines[1]), std::make_tuple(0, 2, 0x48, 804ul, CdbReadToc(false, 0), SS_ERR,
                                                STATUS_CHKCOND, 6, 0x28));
    EXPECT_EQ(fields(lines[2]), std::make_tuple(0, 2, 0x40, 26ul * kFrame, CdbReadCd(300, 26),
                                                SS_ERR, STATUS_CHKCOND, 5, 0x21));
    EXPECT_EQ(lines[3].status, SS_NO_DEVICE);
    EXPECT_EQ(lines[4].ha, 3);
    EXPECT_EQ(lines[4].status, SS_INVALID_HA);
    EXPECT_TRUE(Logged(drive.Log(), "ha-inquiry ha=0 count=1 status=01"));
}
