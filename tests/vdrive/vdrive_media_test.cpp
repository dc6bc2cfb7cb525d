// The virtual drive's answers to each command a CD player sends, byte for
// byte, with the sense codes of a real drive.
#include "aspi_client.h"

#include <algorithm>

using namespace td_test;

namespace {

using VirtualDriveMedia = DriveTest;

constexpr size_t kSenseInfoAt = 3; // the failing address, in fixed-format sense
constexpr DWORD kC2Frame = kFrame + kC2PointerBytes;

Bytes Slice(const Bytes& b, size_t from, size_t n) {
    return Bytes(b.begin() + from, b.begin() + from + n);
}

// READ CD with C2 error pointers after each frame: error field 01 or 10.
Bytes CdbReadCdC2(uint32_t lba, uint32_t count, size_t c2Bytes) {
    Bytes cdb = CdbReadCd(lba, count);
    cdb[9] |= c2Bytes == kC2BlockBytes ? 0x04 : 0x02;
    return cdb;
}

// Whether a frame read differs from the disc's in one run of 4 to 300 bytes.
bool OneWrongRun(const BYTE* got, const BYTE* want) {
    std::vector<size_t> wrong;
    for (size_t k = 0; k < kFrame; k++)
        if (got[k] != want[k]) wrong.push_back(k);
    return wrong.size() >= 4 && wrong.size() <= 300 &&
           wrong.back() - wrong.front() + 1 == wrong.size();
}

} // namespace

TEST_F(VirtualDriveMedia, InquiryAnswersForEachDeviceTypeWithoutTouchingTheDisc) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 1, disc.cuePath);
    drive.AddCdRom(0, 2).type = "cdrom-qualified";
    drive.AddCdRom(0, 3).type = "disk";
    drive.AddCdRom(0, 4).trayOpen = true;
    drive.AddCdRom(0, 5, disc.cuePath).unitAttention = false;
    drive.Apply();
    struct {
        BYTE target, type, removable;
    } cases[] = {{1, 0x05, 0x80}, {2, 0x25, 0x80}, {3, 0x00, 0x00}, {4, 0x05, 0x80}};
    for (const auto& c : cases) {
        ExecResult r = Run(CdbInquiry(32), 32, c.target);
        ASSERT_EQ(r.Outcome(), kOk) << int(c.target);
        EXPECT_EQ((Bytes{r.data[0], r.data[1], r.data[4]}), (Bytes{c.type, c.removable, 31}));
    }
    EXPECT_EQ(Outcome({0x12, 0x01, 0x80, 0, 32, 0}, 32, 1), kInvalidField); // no vital product data

    // INQUIRY left the disc's unit attention for the first media command, once;
    // a drive with the attention turned off never gives it.
    EXPECT_EQ(Outcome(kTestUnitReady, 0, 1), kUnitAttention);
    EXPECT_EQ(Outcome(kTestUnitReady, 0, 1), kOk);
    EXPECT_EQ(Outcome(kTestUnitReady, 0, 1), kOk);
    EXPECT_EQ(Outcome(CdbReadToc(false, 0), kTocAlloc, 5), kOk);
    // A disk is no CD drive.
    EXPECT_EQ(Outcome(kTestUnitReady, 0, 3), kOk);
    EXPECT_EQ(Outcome(CdbReadToc(false, 0), kTocAlloc, 3), kInvalidOpcode);
}

TEST_F(VirtualDriveMedia, WithoutADiscEveryMediaCommandIsNotReady) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0);
    drive.AddCdRom(0, 1, disc.cuePath).trayOpen = true;
    drive.AddCdRom(0, 2, ScratchDir() + "\\missing.cue");
    drive.Apply();
    const Bytes media[] = {kTestUnitReady, CdbReadSubChannel(true, 16), CdbReadToc(false, 0),
                           CdbReadCd(0, 1)};
    for (BYTE target = 0; target < 3; target++)
        for (const Bytes& cdb : media) {
            ExecResult r = Run(cdb, kFrame, target);
            EXPECT_EQ(r.Outcome(), kNoMedium) << int(target) << " " << int(cdb[0]);
            EXPECT_EQ(r.sense[7], 10); // fixed format, additional length
            EXPECT_EQ(r.data[0], kUntouched);
        }
    ExecResult r = Exec(aspi, {0, kTestUnitReady, 0, 0, 0, SRB_EVENT_NOTIFY, 3}); // short sense
    EXPECT_EQ(Bytes(r.sense + 2, r.sense + 4), (Bytes{0x02, kUntouched}));
    EXPECT_EQ(r.sense[12], kUntouched);
    // The tray and its lock work without a disc.
    EXPECT_EQ(Outcome(kLock), kOk);
    EXPECT_EQ(Outcome(kEject), kRemovalPrevented);
    EXPECT_EQ(Outcome(kUnlock), kOk);
    EXPECT_EQ(Outcome(kEject), kOk);
    EXPECT_EQ(Outcome(kLoad), kOk);
}

TEST_F(VirtualDriveMedia, ReadTocListsTheTracksAndSubChannelWhereTheLastReadWas) {
    // Track 1 at 0, track 2 at 375 after a 75-frame pregap, a data track at 650,
    // lead-out at 750.
    VDisc disc = MakeDisc("300 200/75 data:100/75");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadToc(false, 0), kTocAlloc);
    ASSERT_EQ(r.Outcome(), kOk);
    const Bytes lba = {0x00, 0x22, 1,    3,                   //
                       0,    0x10, 1,    0, 0, 0, 0x00, 0x00, //
                       0,    0x10, 2,    0, 0, 0, 0x01, 0x77, //
                       0,    0x14, 3,    0, 0, 0, 0x02, 0x8A, //
                       0,    0x14, 0xAA, 0, 0, 0, 0x02, 0xEE};
    EXPECT_EQ(Slice(r.data, 0, lba.size()), lba);
    EXPECT_EQ(r.data[lba.size()], kUntouched);

    r = Run(CdbReadToc(true, 0), kTocAlloc); // 00 M S F, counting the lead-in
    const Bytes msf[] = {{0, 0, 2, 0}, {0, 0, 7, 0}, {0, 0, 10, 50}, {0, 0, 12, 0}};
    for (int i = 0; i < 4; i++) EXPECT_EQ(Slice(r.data, 8 + 8 * i, 4), msf[i]) << i;

    r = Run(CdbReadToc(false, 2), kTocAlloc);
    EXPECT_EQ(Slice(r.data, 0, 7), (Bytes{0x00, 0x1A, 1, 3, 0, 0x10, 2}));
    r = Run(CdbReadToc(false, kLeadOutTrack), kTocAlloc);
    EXPECT_EQ(Slice(r.data, 0, 7), (Bytes{0x00, 0x0A, 1, 3, 0, 0x14, 0xAA}));
    EXPECT_EQ(Outcome(CdbReadToc(false, 4), kTocAlloc), kInvalidField);
    Bytes pma = CdbReadToc(false, 0); // format 3, which a player never asks for
    pma[2] = 3;
    EXPECT_EQ(Outcome(pma, kTocAlloc), kInvalidField);

    // The position is where the last read was.
    r = Run(CdbReadSubChannel(true, 16), 16);
    ASSERT_EQ(r.Outcome(), kOk);
    EXPECT_EQ(r.data, (Bytes{0, 0x15, 0, 12, 1, 0x10, 1, 1, 0, 0, 2, 0, 0, 0, 0, 0}));

    ASSERT_EQ(Outcome(CdbReadCd(400, 1), kFrame), kOk);
    r = Run(CdbReadSubChannel(true, 16), 16);
    EXPECT_EQ(r.data, (Bytes{0, 0x15, 0, 12, 1, 0x10, 2, 1, 0, 0, 7, 25, 0, 0, 0, 25}));
    r = Run(CdbReadSubChannel(false, 16), 16);
    EXPECT_EQ(Slice(r.data, 8, 8), (Bytes{0, 0, 0x01, 0x90, 0, 0, 0, 25}));

    // A pregap is its own track's index 0, counting down to INDEX 01.
    ASSERT_EQ(Outcome(CdbReadCd(330, 1), kFrame), kOk);
    r = Run(CdbReadSubChannel(true, 16), 16);
    EXPECT_EQ(Slice(r.data, 6, 10), (Bytes{2, 0, 0, 0, 6, 30, 0, 0, 0, 45}));
    r = Run(CdbReadSubChannel(false, 16), 16);
    EXPECT_EQ(Slice(r.data, 12, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xD3}));
    r = Run(CdbReadSubChannel(true, 4), 16);
    EXPECT_EQ(Slice(r.data, 3, 2), (Bytes{12, kUntouched}));
    Bytes isrc = CdbReadSubChannel(true, 16);
    isrc[3] = 3;
    EXPECT_EQ(Outcome(isrc, 16), kInvalidField);
    // Commands outside the player's set.
    EXPECT_EQ(Outcome({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, kFrame), kInvalidOpcode);    // READ(10)
    EXPECT_EQ(Outcome({0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF, 0}, 255), kInvalidOpcode); // MODE SENSE
    EXPECT_EQ(Outcome({0x03, 0, 0, 0, 18, 0}, 18), kInvalidOpcode); // REQUEST SENSE
}

TEST_F(VirtualDriveMedia, ReadCdGivesTheImageAcrossFilesAndRefusesDataAndTheLeadOut) {
    // One BIN per track: 0-59, pregap 60 and track 2 at 70-109, a data track
    // recorded from 110 (pregap) and listed at 115, lead-out 135.
    VDisc disc = MakeDisc("60 40/10 data:20/5 --split");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadCd(0, 110), 110 * kFrame); // every audio frame
    ASSERT_EQ(r.Outcome(), kOk);
    EXPECT_TRUE(r.data == ExpectedFrames(disc, 0, 110));
    EXPECT_TRUE(r.guardIntact);

    r = Run(CdbReadCd(105, 8), 8 * kFrame);
    EXPECT_EQ(r.Outcome(), kIllegalModeForTrack);
    EXPECT_TRUE(r.sense[0] & 0x80);
    EXPECT_EQ(Be32(r.sense + kSenseInfoAt), 110u);
    EXPECT_TRUE(Slice(r.data, 0, 5 * kFrame) == ExpectedFrames(disc, 105, 5));
    EXPECT_EQ(r.data[5 * kFrame], kUntouched);

    for (uint32_t lba : {135u, 130u, 0xFFFFFFFFu})
        EXPECT_EQ(Outcome(CdbReadCd(lba, 6), 6 * kFrame), kOutOfRange) << lba;
    Bytes mode1 = CdbReadCd(0, 1), c2 = CdbReadCd(0, 1);
    mode1[1] = 0x08;
    c2[9] |= 0x06; // an error field of 11 has no meaning
    EXPECT_EQ(Outcome(mode1, kFrame), kInvalidField);
    EXPECT_EQ(Outcome(c2, kFrame), kInvalidField);
}

// A CD Extra as rippers write it: the audio in a WAVE file named in UTF-8 (the
// sheet with a byte order mark), PREGAP and POSTGAP silence in no file, a
// second session after the standard gap, which no READ CD gets through.
TEST_F(VirtualDriveMedia, ARippersSheetReadsAsTheDiscItDescribes) {
    // Track 1 0-299, its postgap to 324, track 2's pregap to 399, track 2 to
    // 599; session 2 from 12000 (the lead-out at 600, 11400 frames before it).
    VDisc disc = MakeDisc("300+25 200/75 --silent-pregaps --wave --session data:100", "rip");
    Bytes sheet = ReadFileBytes(disc.cuePath);
    std::string text(sheet.begin(), sheet.end());
    text.replace(text.find("rip.wav"), 3, "Caf\xC3\xA9");
    text.insert(text.find("TRACK 01 AUDIO\r\n") + 16, "FLAGS DCP PRE\r\n");
    std::wstring dir(MAX_PATH, L'\0');
    dir.resize(MultiByteToWideChar(CP_ACP, 0, ScratchDir().c_str(), -1, &dir[0], MAX_PATH) - 1);
    ASSERT_TRUE(MoveFileW((dir + L"\\rip.wav").c_str(), (dir + L"\\Caf\u00E9.wav").c_str()));
    ASSERT_TRUE(WriteTextFile(ScratchDir() + "\\utf8.cue", "\xEF\xBB\xBF" + text));
    drive.AddCdRom(0, 0, ScratchDir() + "\\utf8.cue").unitAttention = false;
    drive.Apply();
    ExecResult r = Run(CdbReadToc(false, 0), kTocAlloc); // every session's tracks
    EXPECT_EQ(std::make_tuple(r.data[3], Be32(&r.data[16]), Be32(&r.data[24]), Be32(&r.data[32])),
              std::make_tuple(BYTE(3), 400u, 12000u, 12100u));
    Bytes sessions = CdbReadToc(true, 0);
    sessions[2] = 1;
    EXPECT_EQ(Slice(Run(sessions, kTocAlloc).data, 0, 12),
              (Bytes{0, 0x0A, 1, 2, 0, 0x14, 3, 0, 0, 2, 42, 0}));

    r = Run(CdbReadCd(0, 610), 610 * kFrame);
    EXPECT_EQ(r.Outcome(), kEndOfUserArea);
    EXPECT_EQ(Be32(r.sense + kSenseInfoAt), 600u);
    EXPECT_TRUE(Slice(r.data, 0, 600 * kFrame) == ExpectedFrames(disc, 0, 600));
    EXPECT_TRUE(Slice(r.data, 300 * kFrame, 100 * kFrame) == Bytes(100 * kFrame, 0));
    EXPECT_EQ(Outcome(CdbReadCd(11999, 1), kFrame), kEndOfUserArea);
    EXPECT_EQ(Outcome(CdbReadCd(12000, 1), kFrame), kIllegalModeForTrack);
    // FLAGS go into CONTROL, in the TOC and the sub-channel alike.
    EXPECT_EQ(Run(CdbReadToc(false, 0), kTocAlloc).data[5], 0x13);
    ASSERT_EQ(Outcome(CdbReadCd(100, 1), kFrame), kOk);
    EXPECT_EQ(Run(CdbReadSubChannel(true, 16), 16).data[5], 0x13);
}

TEST_F(VirtualDriveMedia, ReadErrorsAndAnImageCutShortFailWithMediumErrorAtTheirFrame) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.devices[0].readErrors = "10-12, 40";
    drive.Apply();
    ExecResult r = Run(CdbReadCd(5, 10), 10 * kFrame);
    EXPECT_EQ(r.Outcome(), kMediumError);
    EXPECT_EQ(Be32(r.sense + kSenseInfoAt), 10u);
    EXPECT_TRUE(Slice(r.data, 0, 5 * kFrame) == ExpectedFrames(disc, 5, 5));
    EXPECT_EQ(Outcome(CdbReadCd(13, 27), 27 * kFrame), kOk);
    r = Run(CdbReadCd(40, 1), kFrame);
    EXPECT_EQ(r.Outcome(), kMediumError);
    EXPECT_EQ(Be32(r.sense + kSenseInfoAt), 40u);

    // The BIN loses everything from inside frame 60 on while the drive holds it:
    // a run of frames read at once must still fail at the first one missing.
    std::string bin = disc.cuePath.substr(0, disc.cuePath.size() - 4) + ".bin";
    HANDLE f = CreateFileA(bin.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER cut;
    cut.QuadPart = 60 * kFrame + 100;
    EXPECT_TRUE(SetFilePointerEx(f, cut, nullptr, FILE_BEGIN) && SetEndOfFile(f));
    CloseHandle(f);
    r = Run(CdbReadCd(50, 26), 26 * kFrame);
    EXPECT_EQ(r.Outcome(), kMediumError);
    EXPECT_EQ(Be32(r.sense + kSenseInfoAt), 60u);
    EXPECT_TRUE(Slice(r.data, 0, 10 * kFrame) == ExpectedFrames(disc, 50, 10));
    EXPECT_EQ(Outcome(CdbReadCd(60, 1), kFrame), kMediumError);
    r = Run(CdbReadCd(14, 26), 26 * kFrame);
    EXPECT_EQ(r.Outcome(), kOk);
    EXPECT_TRUE(r.data == ExpectedFrames(disc, 14, 26));
}

TEST_F(VirtualDriveMedia, EjectLoadAndLockMoveTheTray) {
    VDisc disc = MakeDisc("100");
    drive.AddCdRom(0, 0, disc.cuePath);
    drive.Apply();
    // Stop without LoEj leaves the tray; loading a closed tray changes nothing.
    const Bytes stopOnly = {0x1B, 0, 0, 0, 0, 0};
    const std::pair<Bytes, const char*> steps[] = {{kTestUnitReady, kUnitAttention},
                                                   {kTestUnitReady, kOk},
                                                   {stopOnly, kOk},
                                                   {kTestUnitReady, kOk},
                                                   {kEject, kOk},
                                                   {kTestUnitReady, kNoMedium},
                                                   {kLoad, kOk},
                                                   {kTestUnitReady, kUnitAttention},
                                                   {kTestUnitReady, kOk},
                                                   {kLoad, kOk},
                                                   {kTestUnitReady, kOk},
                                                   {kLock, kOk},
                                                   {kEject, kRemovalPrevented},
                                                   {kTestUnitReady, kOk},
                                                   {kUnlock, kOk},
                                                   {kEject, kOk},
                                                   {kTestUnitReady, kNoMedium}};
    int step = 0;
    for (const auto& [cdb, want] : steps) EXPECT_EQ(Outcome(cdb), want) << "step " << step++;
}

TEST_F(VirtualDriveMedia, DamagedAndGarbledFramesReadWrongWithGoodStatusAndC2FlagsTheWrongBytes) {
    VDisc disc = MakeDisc("100");
    VDevice& dev = drive.AddCdRom(0, 0, disc.cuePath);
    dev.unitAttention = false;
    dev.garbled = "10";
    dev.damaged = "20-29";
    dev.damageOdds = 100;
    drive.Apply();
    const Bytes want = ExpectedFrames(disc, 10, 20);
    std::vector<Bytes> seen; // a garbled frame never reads the same way twice
    for (const char* c2 : {"on", "off"}) {
        dev.c2 = c2;
        drive.Apply();
        for (size_t c2Bytes : {kC2PointerBytes, kC2BlockBytes}) {
            const size_t stride = kFrame + c2Bytes;
            ExecResult r = Run(CdbReadCdC2(10, 20, c2Bytes), DWORD(20 * stride));
            ASSERT_EQ(r.Outcome(), kOk);
            for (size_t i = 0; i < 20; i++) {
                const BYTE* got = &r.data[i * stride];
                Bytes flagged = dev.c2 == "on" ? C2PointersOf(got, &want[i * kFrame], c2Bytes)
                                               : Bytes(c2Bytes, 0);
                EXPECT_EQ(OneWrongRun(got, &want[i * kFrame]), i == 0 || i >= 10) << i;
                EXPECT_EQ(Slice(r.data, i * stride + kFrame, c2Bytes), flagged) << i;
            }
            EXPECT_EQ(drive.Commands().back().frames, "w.........wwwwwwwwww");
            seen.push_back(Slice(r.data, 0, kFrame));
            EXPECT_EQ(std::count(seen.begin(), seen.end(), seen.back()), 1);
        }
    }
    // The same seed, the same noise; an INI read again with the seed unchanged goes on with it.
    Bytes noise[4];
    for (unsigned i = 0; i < 4; i++) {
        dev.damageSeed = i == 1 ? 6 : 5;
        drive.Apply();
        noise[i] = Run(CdbReadCd(10, 20), 20 * kFrame).data;
    }
    EXPECT_TRUE(noise[1] != noise[0] && noise[2] == noise[0] && noise[3] != noise[0]);
    dev.damageOdds = 0;
    drive.Apply();
    Bytes all = Run(CdbReadCd(0, 70), 70 * kFrame).data;
    EXPECT_TRUE(Slice(all, 11 * kFrame, 59 * kFrame) == ExpectedFrames(disc, 11, 59));
    EXPECT_EQ(drive.Commands().back().frames,
              std::string(10, '.') + "w" + std::string(53, '.') + "+");
    dev.c2 = "refused";
    drive.Apply();
    EXPECT_EQ(Outcome(CdbReadCdC2(10, 1, kC2BlockBytes), 2 * kFrame), kInvalidField);
    EXPECT_EQ(Outcome(CdbReadCd(10, 1), kFrame), kOk);
}

TEST_F(VirtualDriveMedia, TheCacheGivesAFrameBackAsItCameUntilOtherFramesOrANewDiscPushItOut) {
    VDisc disc = MakeDisc("100");
    VDevice& dev = drive.AddCdRom(0, 0, disc.cuePath);
    dev.unitAttention = false;
    dev.garbled = "0-51";
    dev.readErrors = "52";
    dev.cacheFrames = 4;
    drive.Apply();
    auto read = [&](uint32_t lba, uint32_t count, const char* marks) {
        Bytes data = Run(CdbReadCdC2(lba, count, kC2PointerBytes), count * kC2Frame).data;
        EXPECT_EQ(drive.Commands().back().frames, marks) << lba;
        return data;
    };
    Bytes first = read(5, 1, "w");
    EXPECT_TRUE(read(5, 1, "C") == first); // main bytes and pointers alike
    read(6, 3, "www");
    EXPECT_TRUE(read(5, 1, "C") == first); // kept, and now the newest
    read(9, 4, "wwww");
    EXPECT_TRUE(read(5, 1, "w") != first);
    read(50, 3, "ww"); // failed at 52: nothing of it is kept
    read(50, 2, "ww");
    EXPECT_EQ(Outcome(kEject), kOk);
    EXPECT_EQ(Outcome(kLoad), kOk);
    read(50, 2, "ww");
}
