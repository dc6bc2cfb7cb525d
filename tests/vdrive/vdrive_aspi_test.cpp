// The virtual drive's ASPI face: entry points by ordinal, request blocks,
// completion on the drive's own thread, and the failure modes a caller meets.
#include "aspi_client.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace td_test;

namespace {

constexpr DWORD kNoAdapters = DWORD(SS_NO_ADAPTERS) << 8;
constexpr BYTE kInquiryLen = 36;

class VirtualDriveAspi : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(aspi.Load()); }

    // An INQUIRY block that the test sends and waits for by hand.
    void Prepare(SRB_ExecSCSICmd* srb, BYTE* buffer, BYTE flags, void* post) {
        std::memset(srb, 0, sizeof *srb);
        srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb->SRB_Flags = flags;
        srb->SRB_BufLen = kInquiryLen;
        srb->SRB_BufPointer = buffer;
        srb->SRB_SenseLen = SENSE_LEN;
        srb->SRB_CDBLen = 6;
        Bytes cdb = CdbInquiry(kInquiryLen);
        std::memcpy(srb->CDBByte, cdb.data(), cdb.size());
        srb->SRB_PostProc = post;
    }

    AspiLib aspi;
    VirtualDrive drive;
};

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

BYTE PolledStatus(const SRB_ExecSCSICmd& srb, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (*reinterpret_cast<const volatile BYTE*>(&srb.SRB_Status) == SS_PENDING &&
           GetTickCount() - start < timeoutMs)
        Sleep(1);
    return srb.SRB_Status;
}

} // namespace

TEST_F(VirtualDriveAspi, SupportInfoFollowsTheConfiguration) {
    EXPECT_EQ(aspi.support(), kNoAdapters); // TUNEDECK_VDRIVE not set
    EXPECT_EQ(Exec(aspi, Request(0, CdbTestUnitReady())).sent, SS_INVALID_HA);

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
    EXPECT_EQ(Exec(aspi, Request(0, CdbTestUnitReady(), 0, 2)).sent, SS_INVALID_HA);
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

TEST_F(VirtualDriveAspi, HostAdapterInquiryAndDeviceTypes) {
    drive.AddCdRom(0, 1);
    drive.AddCdRom(0, 2).type = "cdrom-qualified";
    drive.AddCdRom(0, 3).type = "disk";
    drive.AddCdRom(1, 15);
    drive.Apply();

    SRB_HAInquiry ha = {};
    ha.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(aspi.send(&ha), SS_COMP);
    EXPECT_EQ(ha.SRB_Status, SS_COMP);
    EXPECT_EQ(ha.HA_Count, 2);
    EXPECT_EQ(ha.HA_SCSI_ID, 7);
    EXPECT_EQ(std::memcmp(ha.HA_ManagerId, "ASPI for WIN32", 14), 0);
    EXPECT_EQ(ha.HA_Unique[3], 16); // targets per adapter
    ha.SRB_HaId = 2;
    EXPECT_EQ(aspi.send(&ha), SS_INVALID_HA);
    EXPECT_EQ(ha.HA_Count, 2);

    struct {
        BYTE ha, target, lun;
        DWORD status;
        BYTE type;
    } cases[] = {{0, 1, 0, SS_COMP, 5},      {0, 2, 0, SS_COMP, 5},      {0, 3, 0, SS_COMP, 0},
                 {1, 15, 0, SS_COMP, 5},     {0, 4, 0, SS_NO_DEVICE, 0}, {0, 1, 1, SS_NO_DEVICE, 0},
                 {2, 0, 0, SS_INVALID_HA, 0}};
    for (const auto& c : cases) {
        SRB_GDEVBlock dev = {};
        dev.SRB_Cmd = SC_GET_DEV_TYPE;
        dev.SRB_HaId = c.ha;
        dev.SRB_Target = c.target;
        dev.SRB_Lun = c.lun;
        EXPECT_EQ(aspi.send(&dev), c.status) << int(c.ha) << ":" << int(c.target);
        EXPECT_EQ(dev.SRB_Status, c.status);
        if (c.status == SS_COMP) {
            EXPECT_EQ(dev.SRB_DeviceType, c.type);
        }
    }

    BYTE unknown[sizeof(SRB_ExecSCSICmd)] = {0x07};
    EXPECT_EQ(aspi.send(unknown), SS_INVALID_SRB);
    EXPECT_EQ(unknown[1], SS_INVALID_SRB);
    EXPECT_EQ(aspi.send(nullptr), SS_INVALID_SRB);
}

TEST_F(VirtualDriveAspi, CompletionSignalsTheEventCallsThePostRoutineOrIsPolled) {
    drive.AddCdRom(0, 0).delayMs = 300;
    drive.Apply();
    SRB_ExecSCSICmd srb;
    BYTE data[kInquiryLen] = {};

    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Prepare(&srb, data, SRB_EVENT_NOTIFY | SRB_DIR_IN, done);
    EXPECT_EQ(aspi.send(&srb), SS_PENDING);
    EXPECT_EQ(srb.SRB_Status, SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(done, 50), DWORD(WAIT_TIMEOUT));
    ASSERT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(data[0], 0x05);
    CloseHandle(done);

    Prepare(&srb, data, SRB_POSTING, reinterpret_cast<void*>(&PostRoutine));
    EXPECT_EQ(aspi.send(&srb), SS_PENDING);
    EXPECT_TRUE(PumpUntil([] { return g_post.calls > 0; }, 5000));
    Sleep(200);
    EXPECT_EQ(g_post.calls, 1);
    EXPECT_NE(g_post.thread, GetCurrentThreadId());
    EXPECT_EQ(g_post.srb, &srb);
    EXPECT_EQ(g_post.status, SS_COMP); // written before the routine runs

    Prepare(&srb, data, SRB_DIR_IN, nullptr);
    EXPECT_EQ(aspi.send(&srb), SS_PENDING);
    EXPECT_EQ(PolledStatus(srb, 5000), SS_COMP);
}

TEST_F(VirtualDriveAspi, SendResultModesAnswerAtOnceAndQueueNothing) {
    drive.AddCdRom(0, 0);
    struct {
        const char* mode;
        DWORD result;
    } modes[] = {{"comp", SS_COMP}, {"error", SS_ERR}, {"invalid", SS_INVALID_SRB}};
    for (const auto& m : modes) {
        drive.aspi.sendResult = m.mode;
        drive.Apply();
        ExecResult r = Exec(aspi, Request(0, CdbInquiry(kInquiryLen), kInquiryLen));
        EXPECT_EQ(r.sent, m.result) << m.mode;
        EXPECT_EQ(r.status, m.result) << m.mode;
        EXPECT_FALSE(r.signalled);
        EXPECT_EQ(r.data[0], kUntouched);
    }
    Sleep(200);
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 3u); // one each, and no late completion
    EXPECT_EQ(lines[0].status, SS_COMP);
    EXPECT_EQ(lines[2].status, SS_INVALID_SRB);

    drive.aspi.sendResult = "pending";
    drive.Apply();
    EXPECT_EQ(Exec(aspi, Request(0, CdbInquiry(kInquiryLen), kInquiryLen)).status, SS_COMP);
}

TEST_F(VirtualDriveAspi, MissingDevicesAndBadBlocks) {
    drive.AddCdRom(0, 1);
    drive.Apply();
    ExecResult r = Exec(aspi, Request(5, CdbInquiry(kInquiryLen), kInquiryLen));
    EXPECT_EQ(r.sent, SS_PENDING);
    EXPECT_EQ(r.status, SS_NO_DEVICE);
    ExecRequest lun = Request(1, CdbInquiry(kInquiryLen), kInquiryLen);
    lun.lun = 1;
    EXPECT_EQ(Exec(aspi, lun).status, SS_NO_DEVICE);
    EXPECT_EQ(Exec(aspi, Request(1, Bytes())).sent, SS_INVALID_SRB);

    SRB_ExecSCSICmd srb;
    Prepare(&srb, nullptr, SRB_DIR_IN, nullptr); // a length without a buffer
    EXPECT_EQ(aspi.send(&srb), SS_INVALID_SRB);
    BYTE data[kInquiryLen];
    srb.SRB_BufPointer = data;
    srb.SRB_CDBLen = 17;
    EXPECT_EQ(aspi.send(&srb), SS_INVALID_SRB);
}

TEST_F(VirtualDriveAspi, ReplyIsCutToTheBufferAndTheAllocationLength) {
    VDisc disc = MakeDisc("100 50");
    drive.AddCdRom(0, 0, disc.cuePath).unitAttention = false;
    drive.Apply();
    const size_t tocBytes = 4 + 3 * 8;
    ExecResult full = Exec(aspi, Request(0, CdbReadToc(false, 0, 804), 804));
    ASSERT_EQ(full.status, SS_COMP);
    EXPECT_EQ(full.data[tocBytes - 1], 150); // lead-out, low byte
    EXPECT_EQ(full.data[tocBytes], kUntouched);

    ExecResult small = Exec(aspi, Request(0, CdbReadToc(false, 0, 804), 20));
    EXPECT_EQ(small.status, SS_ERR);
    EXPECT_EQ(small.haStat, HASTAT_DO_DU);
    EXPECT_EQ(small.targStat, STATUS_GOOD);
    EXPECT_TRUE(small.guardIntact);
    EXPECT_EQ(small.data, Bytes(full.data.begin(), full.data.begin() + 20));

    ExecResult alloc = Exec(aspi, Request(0, CdbReadToc(false, 0, 12), 804));
    EXPECT_EQ(alloc.status, SS_COMP);
    EXPECT_EQ(alloc.data[11], full.data[11]);
    EXPECT_EQ(alloc.data[12], kUntouched);

    ExecResult cd = Exec(aspi, Request(0, CdbReadCd(10, 2), 3000));
    EXPECT_EQ(cd.status, SS_ERR);
    EXPECT_EQ(cd.haStat, HASTAT_DO_DU);
    EXPECT_TRUE(cd.guardIntact);
    Bytes want = ExpectedFrames(disc, 10, 2);
    EXPECT_EQ(cd.data, Bytes(want.begin(), want.begin() + 3000));
    EXPECT_EQ(Exec(aspi, Request(0, CdbReadCd(10, 0))).status, SS_COMP);
}

TEST_F(VirtualDriveAspi, DelaysKeepTheOrderAndAHangOutlastsTheCaller) {
    VDevice& dev = drive.AddCdRom(0, 0);
    dev.delayMs = 150;
    drive.Apply();
    const int kCount = 3;
    SRB_ExecSCSICmd srb[kCount];
    BYTE data[kCount][kInquiryLen];
    HANDLE done[kCount];
    DWORD start = GetTickCount();
    for (int i = 0; i < kCount; i++) {
        done[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Prepare(&srb[i], data[i], SRB_EVENT_NOTIFY, done[i]);
        srb[i].SRB_BufLen = srb[i].CDBByte[4] = BYTE(kInquiryLen - i); // tells the lines apart
        ASSERT_EQ(aspi.send(&srb[i]), SS_PENDING);
    }
    for (int i = 0; i < kCount; i++) {
        ASSERT_EQ(WaitForSingleObject(done[i], 5000), WAIT_OBJECT_0);
        EXPECT_GE(GetTickCount() - start, DWORD(140 * (i + 1)));
        EXPECT_EQ(srb[i].SRB_Status, SS_COMP);
        CloseHandle(done[i]);
    }
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), size_t(kCount));
    for (int i = 0; i < kCount; i++) EXPECT_EQ(lines[i].bufLen, kInquiryLen - unsigned(i));

    dev.delayMs = 0;
    dev.hangMs = 600;
    drive.Apply();
    HANDLE late = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Prepare(&srb[0], data[0], SRB_EVENT_NOTIFY, late);
    start = GetTickCount();
    ASSERT_EQ(aspi.send(&srb[0]), SS_PENDING);
    EXPECT_EQ(WaitForSingleObject(late, 150), DWORD(WAIT_TIMEOUT)); // the caller gives up
    dev.hangMs = 0; // the command keeps the hang it was sent with
    drive.Apply();
    EXPECT_EQ(aspi.support(), 0x0101u);
    EXPECT_EQ(srb[0].SRB_Status, SS_PENDING);
    ASSERT_EQ(WaitForSingleObject(late, 5000), WAIT_OBJECT_0);
    EXPECT_GE(GetTickCount() - start, 590u);
    EXPECT_EQ(srb[0].SRB_Status, SS_COMP);
    CloseHandle(late);
}

TEST_F(VirtualDriveAspi, AbortEndsAQueuedCommandOnceAndLeavesTheRest) {
    drive.AddCdRom(0, 0).hangMs = 2000;
    drive.Apply();
    SRB_ExecSCSICmd first, second;
    BYTE data[2][kInquiryLen];
    HANDLE done[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    Prepare(&first, data[0], SRB_EVENT_NOTIFY, done[0]);
    Prepare(&second, data[1], SRB_EVENT_NOTIFY, done[1]);
    ASSERT_EQ(aspi.send(&first), SS_PENDING);
    ASSERT_EQ(aspi.send(&second), SS_PENDING);

    SRB_Abort abort = {};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &second;
    EXPECT_EQ(aspi.send(&abort), SS_COMP);
    ASSERT_EQ(WaitForSingleObject(done[1], 1000), WAIT_OBJECT_0); // ahead of the hung one
    EXPECT_EQ(second.SRB_Status, SS_ABORTED);
    EXPECT_EQ(first.SRB_Status, SS_PENDING);
    ASSERT_EQ(WaitForSingleObject(done[0], 5000), WAIT_OBJECT_0);
    EXPECT_EQ(first.SRB_Status, SS_COMP);

    abort.SRB_ToAbort = &first; // already done: nothing changes
    EXPECT_EQ(aspi.send(&abort), SS_COMP);
    abort.SRB_HaId = 1;
    EXPECT_EQ(aspi.send(&abort), SS_INVALID_HA);
    Sleep(100);
    EXPECT_EQ(first.SRB_Status, SS_COMP);
    std::vector<VLogLine> lines = drive.Commands();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].status, SS_ABORTED);
    EXPECT_EQ(lines[1].status, SS_COMP);
    CloseHandle(done[0]);
    CloseHandle(done[1]);
}
