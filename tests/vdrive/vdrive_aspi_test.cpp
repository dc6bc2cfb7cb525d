// The virtual drive's ASPI face: entry points by ordinal, request blocks,
// completion on the drive's own thread, and the failure modes a caller meets.
#include "aspi_client.h"

using namespace td_test;

namespace {

constexpr DWORD kNoAdapters = DWORD(SS_NO_ADAPTERS) << 8;
constexpr BYTE kInquiryLen = 36;
constexpr DWORD kWaitMs = 5000;

using VirtualDriveAspi = DriveTest;

// An INQUIRY block that the test sends and waits for by hand.
SRB_ExecSCSICmd Inquiry(BYTE* buffer, BYTE flags, void* post, BYTE length = kInquiryLen) {
    return MakeSrb({0, CdbInquiry(length), length, 0, 0, flags}, buffer, post);
}

struct PostSeen {
    volatile LONG calls;
    DWORD thread;
    void* srb;
    BYTE status;
} g_post;

void __cdecl PostRoutine(SRB_ExecSCSICmd* srb) {
    g_post.thread = GetCurrentThreadId();
    g_post.srb = srb;
    g_post.status = srb->SRB_Status;
    InterlockedIncrement(&g_post.calls);
}

} // namespace

TEST_F(VirtualDriveAspi, SupportInfoFollowsTheConfiguration) {
    EXPECT_EQ(aspi.support(), kNoAdapters); // TUNEDECK_VDRIVE not set
    EXPECT_EQ(Run(kTestUnitReady).sent, SS_INVALID_HA);

    drive.AddCdRom(0, 1);
    drive.AddCdRom(2, 0);
    drive.Apply();
    EXPECT_EQ(aspi.support(), 0x0103u);
    drive.aspi.supportStatus = 0;
    drive.aspi.adapters = 5;
    drive.Apply();
    EXPECT_EQ(aspi.support(), 0x0005u);
    drive.aspi.supportStatus = 1;
    drive.aspi.adapters = 1; // adapter 2 is out of reach now
    drive.Apply();
    EXPECT_EQ(Exec(aspi, {0, kTestUnitReady, 0, 2}).sent, SS_INVALID_HA);
    drive.devices.clear();
    drive.aspi.adapters = -1;
    drive.Apply();
    EXPECT_EQ(aspi.support(), 0x0100u);

    std::string other = ScratchDir() + "\\other.ini";
    ASSERT_TRUE(WriteTextFile(other, "[device]\r\nadapter = 3\r\n"));
    SetEnvironmentVariableA("TUNEDECK_VDRIVE", other.c_str());
    EXPECT_EQ(aspi.support(), 0x0104u);
    SetEnvironmentVariableA("TUNEDECK_VDRIVE", (ScratchDir() + "\\missing.ini").c_str());
    EXPECT_EQ(aspi.support(), kNoAdapters);
    SetEnvironmentVariableA("TUNEDECK_VDRIVE", nullptr);
    EXPECT_EQ(aspi.support(), kNoAdapters);
}

TEST_F(VirtualDriveAspi, BlocksForNoDeviceOrMalformed) {
    drive.AddCdRom(0, 1);
    drive.AddCdRom(1, 15);
    drive.Apply();

    EXPECT_EQ(Exec(aspi, {15, CdbInquiry(kInquiryLen), kInquiryLen, 1}).Outcome(), kOk);

    // Execute blocks for no device: pending, then SS_NO_DEVICE; malformed ones at once.
    ExecResult r = Run(CdbInquiry(kInquiryLen), kInquiryLen, 5);
    EXPECT_EQ(r.sent, SS_PENDING);
    EXPECT_EQ(r.status, SS_NO_DEVICE);
    EXPECT_EQ(Exec(aspi, {1, CdbInquiry(kInquiryLen), kInquiryLen, 0, 1}).status, SS_NO_DEVICE);
    EXPECT_EQ(Run(Bytes(), 0, 1).sent, SS_INVALID_SRB);
    SRB_ExecSCSICmd srb = Inquiry(nullptr, SRB_DIR_IN, nullptr); // a length without a buffer
    EXPECT_EQ(aspi.send(&srb), SS_INVALID_SRB);
    BYTE data[kInquiryLen];
    srb.SRB_BufPointer = data;
    srb.SRB_CDBLen = 17;
    EXPECT_EQ(aspi.send(&srb), SS_INVALID_SRB);
    BYTE unknown[sizeof(SRB_ExecSCSICmd)] = {0x07};
    EXPECT_EQ(aspi.send(unknown), SS_INVALID_SRB);
    EXPECT_EQ(unknown[1], SS_INVALID_SRB);
    EXPECT_EQ(aspi.send(nullptr), SS_INVALID_SRB);
}

TEST_F(VirtualDriveAspi, CommandsCompleteInOrderByEventPostRoutineOrPolling) {
    drive.AddCdRom(0, 0).delayMs = 150;
    drive.Apply();
    BYTE data[3][kInquiryLen] = {};
    Event done;
    // The lengths tell the log lines apart.
    SRB_ExecSCSICmd srb[] = {
        Inquiry(data[0], SRB_EVENT_NOTIFY | SRB_DIR_IN, done.handle),
        Inquiry(data[1], SRB_POSTING, reinterpret_cast<void*>(&PostRoutine), kInquiryLen - 1),
        Inquiry(data[2], SRB_DIR_IN, nullptr, kInquiryLen - 2)};
    DWORD start = GetTickCount();
    for (SRB_ExecSCSICmd& s : srb) ASSERT_EQ(aspi.send(&s), SS_PENDING);
    EXPECT_EQ(srb[0].SRB_Status, SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(done.handle, 50), DWORD(WAIT_TIMEOUT));
    ASSERT_EQ(WaitForSingleObject(done.handle, kWaitMs), WAIT_OBJECT_0);
    EXPECT_GE(GetTickCount() - start, 140u);
    EXPECT_EQ(srb[0].SRB_Status, SS_COMP);
    EXPECT_EQ(data[0][0], 0x05);
    EXPECT_TRUE(PumpUntil([] { return g_post.calls > 0; }, kWaitMs));
    EXPECT_GE(GetTickCount() - start, 280u);
    const volatile BYTE& polled = srb[2].SRB_Status;
    EXPECT_TRUE(PumpUntil([&] { return polled == SS_COMP; }, kWaitMs));
    EXPECT_GE(GetTickCount() - start, 420u);
    Sleep(200);
    EXPECT_EQ(g_post.calls, 1);
    EXPECT_NE(g_post.thread, GetCurrentThreadId());
    EXPECT_EQ(g_post.srb, &srb[1]);
    EXPECT_EQ(g_post.status, SS_COMP); // written before the routine runs
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 3u);
    for (unsigned i = 0; i < 3; i++) EXPECT_EQ(lines[i].bufLen, kInquiryLen - i);
}

TEST_F(VirtualDriveAspi, SendResultModesAnswerAtOnceAndQueueNothing) {
    drive.AddCdRom(0, 0);
    const std::pair<const char*, DWORD> modes[] = {
        {"comp", SS_COMP}, {"error", SS_ERR}, {"invalid", SS_INVALID_SRB}};
    for (const auto& [mode, result] : modes) {
        drive.aspi.sendResult = mode;
        drive.Apply();
        ExecResult r = Run(CdbInquiry(kInquiryLen), kInquiryLen);
        EXPECT_EQ(std::make_tuple(r.sent, DWORD(r.status), r.signalled, r.data[0]),
                  std::make_tuple(result, result, false, kUntouched))
            << mode;
    }
    Sleep(200); // one line each, and no late completion
    std::vector<int> statuses;
    for (const VLogLine& l : drive.Commands()) statuses.push_back(l.status);
    EXPECT_EQ(statuses, (std::vector<int>{SS_COMP, SS_ERR, SS_INVALID_SRB}));

    drive.aspi.sendResult = "pending";
    drive.Apply();
    EXPECT_EQ(Outcome(CdbInquiry(kInquiryLen), kInquiryLen), kOk);
}

TEST_F(VirtualDriveAspi, ReplyIsCutToTheBufferAndTheAllocationLength) {
    VDisc disc = MakeDisc("100 50");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    const size_t tocBytes = 4 + 3 * 8;
    ExecResult full = Run(CdbReadToc(false, 0), kTocAlloc);
    ASSERT_EQ(full.Outcome(), kOk);
    EXPECT_EQ(full.data[tocBytes - 1], 150); // lead-out, low byte
    EXPECT_EQ(full.data[tocBytes], kUntouched);

    ExecResult small = Run(CdbReadToc(false, 0), 20);
    EXPECT_EQ(small.Outcome(), kOverrun);
    EXPECT_TRUE(small.guardIntact);
    EXPECT_EQ(small.data, Bytes(full.data.begin(), full.data.begin() + 20));

    ExecResult alloc = Run(CdbReadToc(false, 0, 12), kTocAlloc);
    EXPECT_EQ(alloc.Outcome(), kOk);
    EXPECT_EQ(alloc.data[11], full.data[11]);
    EXPECT_EQ(alloc.data[12], kUntouched);

    ExecResult cd = Run(CdbReadCd(10, 2), 3000);
    EXPECT_EQ(cd.Outcome(), kOverrun);
    EXPECT_TRUE(cd.guardIntact);
    Bytes want = ExpectedFrames(disc, 10, 2);
    EXPECT_EQ(cd.data, Bytes(want.begin(), want.begin() + 3000));
    EXPECT_EQ(Outcome(CdbReadCd(10, 0)), kOk);
}

TEST_F(VirtualDriveAspi, AHangOutlastsTheCallerAndAbortEndsAQueuedCommand) {
    VDevice& dev = drive.AddCdRom(0, 0);
    dev.hangMs = 600;
    drive.Apply();
    BYTE data[2][kInquiryLen];
    Event done[2];
    SRB_ExecSCSICmd first = Inquiry(data[0], SRB_EVENT_NOTIFY, done[0].handle);
    SRB_ExecSCSICmd second = Inquiry(data[1], SRB_EVENT_NOTIFY, done[1].handle);
    DWORD start = GetTickCount();
    ASSERT_EQ(aspi.send(&first), SS_PENDING);
    ASSERT_EQ(aspi.send(&second), SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(done[0].handle, 150), DWORD(WAIT_TIMEOUT)); // the caller gives up
    dev.hangMs = 0; // the command keeps the hang it was sent with
    drive.Apply();
    EXPECT_EQ(aspi.support(), 0x0101u);

    SRB_Abort abort = {SC_ABORT_SRB, 0, 0, 0, 0, &second};
    EXPECT_EQ(aspi.send(&abort), SS_COMP);
    ASSERT_EQ(WaitForSingleObject(done[1].handle, 300), WAIT_OBJECT_0); // ahead of the hung one
    EXPECT_EQ(second.SRB_Status, SS_ABORTED);
    EXPECT_EQ(first.SRB_Status, SS_PENDING);
    ASSERT_EQ(WaitForSingleObject(done[0].handle, kWaitMs), WAIT_OBJECT_0);
    EXPECT_GE(GetTickCount() - start, 590u);
    EXPECT_EQ(first.SRB_Status, SS_COMP);

    abort.SRB_ToAbort = &first; // already done: nothing changes
    EXPECT_EQ(aspi.send(&abort), SS_COMP);
    Sleep(100);
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].status, SS_ABORTED);
    EXPECT_EQ(lines[1].status, SS_COMP);
}
