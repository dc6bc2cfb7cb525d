// The virtual drive's answers to each command a CD player sends, byte for
// byte, with the sense codes of a real drive.
#include "aspi_client.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

constexpr DWORD kFrame = 2352;
constexpr WORD kTocAlloc = 804;

class VirtualDriveMedia : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(aspi.Load()); }

    ExecResult Run(const Bytes& cdb, DWORD bufLen = 0, BYTE target = 0) {
        return Exec(aspi, Request(target, cdb, bufLen));
    }

    // A command that fails with CHECK CONDITION; returns its sense as "K/AS/AQ".
    std::string Fails(const Bytes& cdb, DWORD bufLen = 0, BYTE target = 0) {
        ExecResult r = Run(cdb, bufLen, target);
        EXPECT_EQ(r.status, SS_ERR);
        EXPECT_EQ(r.targStat, STATUS_CHKCOND);
        EXPECT_EQ(r.sense[0] & 0x7F, 0x70);
        return r.Sense();
    }

    AspiLib aspi;
    VirtualDrive drive;
};

Bytes Slice(const Bytes& b, size_t from, size_t n) {
    return Bytes(b.begin() + from, b.begin() + from + n);
}

} // namespace

TEST_F(VirtualDriveMedia, InquiryAnswersForEachDeviceTypeWithoutTouchingTheDisc) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 1, disc.cuePath);
    drive.AddCdRom(0, 2).type = "cdrom-qualified";
    drive.AddCdRom(0, 3).type = "disk";
    drive.AddCdRom(0, 4).trayOpen = true;
    drive.Apply();
    struct {
        BYTE target, type, removable;
    } cases[] = {{1, 0x05, 0x80}, {2, 0x25, 0x80}, {3, 0x00, 0x00}, {4, 0x05, 0x80}};
    for (const auto& c : cases) {
        ExecResult r = Run(CdbInquiry(32), 32, c.target);
        ASSERT_EQ(r.status, SS_COMP) << int(c.target);
        EXPECT_EQ(r.data[0], c.type);
        EXPECT_EQ(r.data[1], c.removable);
        EXPECT_EQ(r.data[4], 31);
        EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "VELMORA ");
    }
    ExecResult cut = Run(CdbInquiry(5), 32, 1);
    EXPECT_EQ(cut.status, SS_COMP);
    EXPECT_EQ(cut.data[4], 31);
    EXPECT_EQ(cut.data[5], kUntouched);
    EXPECT_EQ(Fails({0x12, 0x01, 0x80, 0, 32, 0}, 32, 1), "5/24/00"); // no vital product data

    // INQUIRY left the disc's unit attention for the first media command.
    EXPECT_EQ(Fails(CdbTestUnitReady(), 0, 1), "6/28/00");
    EXPECT_EQ(Run(CdbTestUnitReady(), 0, 1).status, SS_COMP);
    EXPECT_EQ(Run(CdbTestUnitReady(), 0, 1).status, SS_COMP);
    // A disk is no CD drive.
    EXPECT_EQ(Run(CdbTestUnitReady(), 0, 3).status, SS_COMP);
    EXPECT_EQ(Fails(CdbReadToc(false, 0, kTocAlloc), kTocAlloc, 3), "5/20/00");
}

TEST_F(VirtualDriveMedia, UnitAttentionComesOnceUnlessTurnedOff) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath);
    drive.AddCdRom(0, 1, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult first = Run(CdbReadToc(false, 0, kTocAlloc), kTocAlloc);
    EXPECT_EQ(first.Sense(), "6/28/00");
    EXPECT_EQ(first.data[0], kUntouched);
    EXPECT_EQ(Run(CdbReadToc(false, 0, kTocAlloc), kTocAlloc).status, SS_COMP);
    EXPECT_EQ(Run(CdbReadToc(false, 0, kTocAlloc), kTocAlloc, 1).status, SS_COMP);
}

TEST_F(VirtualDriveMedia, WithoutADiscEveryMediaCommandIsNotReady) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0);
    drive.AddCdRom(0, 1, disc.cuePath).trayOpen = true;
    drive.AddCdRom(0, 2, ScratchDir() + "\\missing.cue");
    drive.Apply();
    const Bytes media[] = {CdbTestUnitReady(), CdbReadSubChannel(true, 16),
                           CdbReadToc(false, 0, kTocAlloc), CdbReadCd(0, 1)};
    for (BYTE target = 0; target < 3; target++) {
        for (const Bytes& cdb : media) {
            ExecResult r = Run(cdb, kFrame, target);
            EXPECT_EQ(r.Sense(), "2/3A/00") << int(target) << " " << int(cdb[0]);
            EXPECT_EQ(r.sense[7], 10); // fixed format, additional length
            EXPECT_EQ(r.data[0], kUntouched);
        }
    }
    ExecRequest shortSense = Request(0, CdbTestUnitReady());
    shortSense.senseLen = 3;
    ExecResult r = Exec(aspi, shortSense);
    EXPECT_EQ(r.sense[2], 0x02);
    EXPECT_EQ(r.sense[3], kUntouched);
    EXPECT_EQ(r.sense[12], kUntouched);
    // The tray and its lock work without a disc.
    EXPECT_EQ(Run(CdbPreventAllow(true)).status, SS_COMP);
    EXPECT_EQ(Fails(CdbStartStop(true, false)), "5/53/02");
    EXPECT_EQ(Run(CdbPreventAllow(false)).status, SS_COMP);
    EXPECT_EQ(Run(CdbStartStop(true, false)).status, SS_COMP);
    EXPECT_EQ(Run(CdbStartStop(true, true)).status, SS_COMP);
}

TEST_F(VirtualDriveMedia, ReadTocListsTheTracksAndTheLeadOut) {
    // Track 1 at 0, track 2 at 375 after a 75-frame pregap, a data track at 650,
    // lead-out at 750.
    VDisc disc = MakeDisc("300 200/75 data:100/75");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadToc(false, 0, kTocAlloc), kTocAlloc);
    ASSERT_EQ(r.status, SS_COMP);
    const Bytes lba = {0x00, 0x22, 1,    3,                   //
                       0,    0x10, 1,    0, 0, 0, 0x00, 0x00, //
                       0,    0x10, 2,    0, 0, 0, 0x01, 0x77, //
                       0,    0x14, 3,    0, 0, 0, 0x02, 0x8A, //
                       0,    0x14, 0xAA, 0, 0, 0, 0x02, 0xEE};
    EXPECT_EQ(Slice(r.data, 0, lba.size()), lba);
    EXPECT_EQ(r.data[lba.size()], kUntouched);

    r = Run(CdbReadToc(true, 0, kTocAlloc), kTocAlloc); // 00 M S F, counting the lead-in
    const Bytes msf[] = {{0, 0, 2, 0}, {0, 0, 7, 0}, {0, 0, 10, 50}, {0, 0, 12, 0}};
    for (int i = 0; i < 4; i++) EXPECT_EQ(Slice(r.data, 8 + 8 * i, 4), msf[i]) << i;

    r = Run(CdbReadToc(false, 2, kTocAlloc), kTocAlloc);
    EXPECT_EQ(Slice(r.data, 0, 7), (Bytes{0x00, 0x1A, 1, 3, 0, 0x10, 2}));
    r = Run(CdbReadToc(false, 0xAA, kTocAlloc), kTocAlloc);
    EXPECT_EQ(Slice(r.data, 0, 7), (Bytes{0x00, 0x0A, 1, 3, 0, 0x14, 0xAA}));
    EXPECT_EQ(Fails(CdbReadToc(false, 4, kTocAlloc), kTocAlloc), "5/24/00");
    Bytes sessions = CdbReadToc(false, 0, kTocAlloc);
    sessions[2] = 1;
    EXPECT_EQ(Fails(sessions, kTocAlloc), "5/24/00");
}

TEST_F(VirtualDriveMedia, ReadCdGivesTheImageAcrossFilesAndRefusesDataAndTheLeadOut) {
    // One BIN per track: 0-59, pregap 60 and track 2 at 70-109, a data track
    // recorded from 110 (pregap) and listed at 115, lead-out 135.
    VDisc disc = MakeDisc("60 40/10 data:20/5 --split");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadCd(50, 26), 26 * kFrame);
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_TRUE(r.data == ExpectedFrames(disc, 50, 26));
    EXPECT_TRUE(r.guardIntact);

    r = Run(CdbReadCd(105, 8), 8 * kFrame);
    EXPECT_EQ(r.Sense(), "5/64/00");
    EXPECT_TRUE(r.sense[0] & 0x80);
    EXPECT_EQ(r.SenseInfo(), 110u);
    EXPECT_TRUE(Slice(r.data, 0, 5 * kFrame) == ExpectedFrames(disc, 105, 5));
    EXPECT_EQ(r.data[5 * kFrame], kUntouched);

    EXPECT_EQ(Fails(CdbReadCd(135, 1), kFrame), "5/21/00");
    EXPECT_EQ(Fails(CdbReadCd(130, 6), 6 * kFrame), "5/21/00");
    EXPECT_EQ(Fails(CdbReadCd(0xFFFFFFFF, 2), 2 * kFrame), "5/21/00");
    Bytes mode1 = CdbReadCd(0, 1);
    mode1[1] = 0x08;
    EXPECT_EQ(Fails(mode1, kFrame), "5/24/00");
    Bytes c2 = CdbReadCd(0, 1);
    c2[9] |= 0x02;
    EXPECT_EQ(Fails(c2, kFrame), "5/24/00");
}

TEST_F(VirtualDriveMedia, ReadErrorsFailWithMediumErrorAtTheirAddress) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.devices[0].readErrors = "10-12, 40";
    drive.Apply();
    ExecResult r = Run(CdbReadCd(5, 10), 10 * kFrame);
    EXPECT_EQ(r.Sense(), "3/11/00");
    EXPECT_EQ(r.SenseInfo(), 10u);
    EXPECT_TRUE(Slice(r.data, 0, 5 * kFrame) == ExpectedFrames(disc, 5, 5));
    EXPECT_EQ(Run(CdbReadCd(13, 27), 27 * kFrame).status, SS_COMP);
    r = Run(CdbReadCd(40, 1), kFrame);
    EXPECT_EQ(r.Sense(), "3/11/00");
    EXPECT_EQ(r.SenseInfo(), 40u);
}

TEST_F(VirtualDriveMedia, AnImageCutShortInTheDriveFailsAtItsFirstMissingFrame) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ASSERT_EQ(Run(CdbReadCd(0, 1), kFrame).status, SS_COMP); // the image is open
    // Its BIN loses everything from inside frame 40 on while the drive holds it.
    std::string bin = disc.cuePath.substr(0, disc.cuePath.size() - 4) + ".bin";
    HANDLE f = CreateFileA(bin.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER cut;
    cut.QuadPart = 40 * kFrame + 100;
    EXPECT_TRUE(SetFilePointerEx(f, cut, nullptr, FILE_BEGIN) && SetEndOfFile(f));
    CloseHandle(f);

    ExecResult r = Run(CdbReadCd(30, 26), 26 * kFrame);
    EXPECT_EQ(r.Sense(), "3/11/00");
    EXPECT_EQ(r.SenseInfo(), 40u);
    EXPECT_TRUE(Slice(r.data, 0, 10 * kFrame) == ExpectedFrames(disc, 30, 10));
    EXPECT_EQ(Fails(CdbReadCd(40, 1), kFrame), "3/11/00");
    r = Run(CdbReadCd(14, 26), 26 * kFrame);
    EXPECT_EQ(r.status, SS_COMP);
    EXPECT_TRUE(r.data == ExpectedFrames(disc, 14, 26));
}

TEST_F(VirtualDriveMedia, SubChannelReportsWhereTheLastReadWas) {
    VDisc disc = MakeDisc("300 200/75");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadSubChannel(true, 16), 16);
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_EQ(r.data, (Bytes{0, 0x15, 0, 12, 1, 0x10, 1, 1, 0, 0, 2, 0, 0, 0, 0, 0}));

    ASSERT_EQ(Run(CdbReadCd(400, 1), kFrame).status, SS_COMP);
    r = Run(CdbReadSubChannel(true, 16), 16);
    EXPECT_EQ(r.data, (Bytes{0, 0x15, 0, 12, 1, 0x10, 2, 1, 0, 0, 7, 25, 0, 0, 0, 25}));
    r = Run(CdbReadSubChannel(false, 16), 16);
    EXPECT_EQ(Slice(r.data, 8, 8), (Bytes{0, 0, 0x01, 0x90, 0, 0, 0, 25}));

    ASSERT_EQ(Run(CdbReadCd(330, 1), kFrame).status,
              SS_COMP); // a pregap lists under the track before
    r = Run(CdbReadSubChannel(true, 16), 16);
    EXPECT_EQ(Slice(r.data, 6, 10), (Bytes{1, 1, 0, 0, 6, 30, 0, 0, 4, 30}));
    r = Run(CdbReadSubChannel(true, 4), 16);
    EXPECT_EQ(r.data[3], 12);
    EXPECT_EQ(r.data[4], kUntouched);
    Bytes isrc = CdbReadSubChannel(true, 16);
    isrc[3] = 3;
    EXPECT_EQ(Fails(isrc, 16), "5/24/00");
}

TEST_F(VirtualDriveMedia, EjectLoadAndLockMoveTheTray) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath);
    drive.Apply();
    EXPECT_EQ(Fails(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);
    EXPECT_EQ(Run(CdbStartStop(false, false)).status, SS_COMP); // no LoEj: the tray stays
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);

    EXPECT_EQ(Run(CdbStartStop(true, false)).status, SS_COMP);
    EXPECT_EQ(Fails(CdbTestUnitReady()), "2/3A/00");
    EXPECT_EQ(Run(CdbStartStop(true, true)).status, SS_COMP);
    EXPECT_EQ(Fails(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);
    EXPECT_EQ(Run(CdbStartStop(true, true)).status, SS_COMP); // closing a closed tray
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);

    EXPECT_EQ(Run(CdbPreventAllow(true)).status, SS_COMP);
    EXPECT_EQ(Fails(CdbStartStop(true, false)), "5/53/02");
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);
    EXPECT_EQ(Run(CdbPreventAllow(false)).status, SS_COMP);
    EXPECT_EQ(Run(CdbStartStop(true, false)).status, SS_COMP);
    EXPECT_EQ(Fails(CdbTestUnitReady()), "2/3A/00");
}

TEST_F(VirtualDriveMedia, OtherCommandsAreIllegalRequests) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    EXPECT_EQ(Fails({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, kFrame), "5/20/00");    // READ(10)
    EXPECT_EQ(Fails({0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF, 0}, 255), "5/20/00"); // MODE SENSE
    EXPECT_EQ(Fails({0x03, 0, 0, 0, 18, 0}, 18), "5/20/00");                   // REQUEST SENSE
}

TEST_F(VirtualDriveMedia, MalformedCueSheetsLeaveNoDiscAndALogLine) {
    const std::string ok = "TRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\n";
    ASSERT_TRUE(WriteTextFile(ScratchDir() + "\\ragged.bin", std::string(2352 * 3 + 5, 'x')));
    ASSERT_TRUE(WriteTextFile(ScratchDir() + "\\short.bin", std::string(2352 * 10, 'x')));
    struct {
        const char* name;
        std::string text;
        const char* says;
    } sheets[] = {
        {"nofile", ok, "line 1: TRACK before any FILE"},
        {"wave", "FILE x.wav WAVE\r\n" + ok, "line 1: file type 'WAVE'"},
        {"gone", "FILE gone.bin BINARY\r\n" + ok, "line 1: cannot open \"gone.bin\""},
        {"ragged", "FILE ragged.bin BINARY\r\n" + ok, "not a whole number of 2352-byte sectors"},
        {"past", "FILE short.bin BINARY\r\n" + ok + "TRACK 02 AUDIO\r\nINDEX 01 00:00:10\r\n",
         "line 4: track 02: INDEX 01 lies past the end"},
        {"binary",
         std::string("\x7f"
                     "ELF\x01\x02\0\0",
                     8),
         "line 1: not a line of text"},
        {"empty", "", "no TRACK"},
    };
    drive.AddCdRom(0, 0);
    for (const auto& s : sheets) {
        std::string cue = ScratchDir() + "\\" + s.name + ".cue";
        ASSERT_TRUE(WriteTextFile(cue, s.text));
        drive.devices[0].image = cue;
        drive.Apply();
        EXPECT_EQ(Fails(CdbTestUnitReady()), "2/3A/00") << s.name;
        bool logged = false;
        for (const VLogLine& l : drive.Log())
            logged |=
                l.text.find("image " + cue + ": ") == 0 && l.text.find(s.says) != std::string::npos;
        EXPECT_TRUE(logged) << s.name << " should log: " << s.says;
    }
    VDisc good = MakeDisc("20");
    drive.devices[0].image = good.cuePath;
    drive.Apply();
    EXPECT_EQ(Fails(CdbTestUnitReady()), "6/28/00");
    EXPECT_EQ(Run(CdbTestUnitReady()).status, SS_COMP);
}
