// Drives WNASPI32.DLL the way a program does: loaded by name, entry points by
// ordinal, one execute-command block at a time with an event to wait on; and
// the fixture the drive's tests share.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cd/aspi.h"
#include "support/test_env.h"
#include "support/vdrive_fixture.h"

namespace td_test {

constexpr BYTE kUntouched = 0xCC; // what a data or sense byte holds until the drive writes it
constexpr DWORD kFrame = 2352;
constexpr WORD kTocAlloc = 804;
constexpr BYTE kLeadOutTrack = 0xAA;
// In a READ TOC reply that starts at the lead-out: its control and address.
constexpr size_t kLeadOutControlAt = 5, kLeadOutAddressAt = 8;
constexpr char kOk[] = "ok";
constexpr char kNoMedium[] = "2/3A/00";
constexpr char kUnitAttention[] = "6/28/00";
constexpr char kMediumError[] = "3/11/00";
constexpr char kInvalidField[] = "5/24/00";
constexpr char kInvalidOpcode[] = "5/20/00";
constexpr char kOutOfRange[] = "5/21/00";
constexpr char kIllegalModeForTrack[] = "5/64/00";
constexpr char kEndOfUserArea[] = "5/63/00";
constexpr char kRemovalPrevented[] = "5/53/02";
constexpr char kOverrun[] = "status 04/12/00"; // SS_ERR, HASTAT_DO_DU, STATUS_GOOD

// WNASPI32.DLL as a program loads it: by name, the entry points by ordinal.
struct AspiLib {
    AspiLib();
    GetASPI32SupportInfoFn support = nullptr;
    SendASPI32CommandFn send = nullptr;
};

struct ExecRequest {
    BYTE target = 0;
    Bytes cdb;
    DWORD bufLen = 0;
    BYTE ha = 0, lun = 0;
    BYTE flags = SRB_EVENT_NOTIFY;
    BYTE senseLen = SENSE_LEN;
};

struct ExecResult {
    DWORD sent = 0; // what SendASPI32Command returned
    bool signalled = false;
    BYTE status = 0, haStat = 0, targStat = 0;
    BYTE sense[SENSE_LEN + 2] = {};
    Bytes data;              // the buffer, bufLen bytes
    bool guardIntact = true; // nothing written past bufLen

    // "ok"; a CHECK CONDITION's fixed-format sense as "5/24/00"; otherwise
    // "status SS/HA/TS".
    std::string Outcome() const;
};

struct Event {
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Event() { CloseHandle(handle); }
};

// The execute-command block for a request, with `buffer` (at least bufLen
// bytes) and SRB_PostProc = `post`; the sense area holds kUntouched.
SRB_ExecSCSICmd MakeSrb(const ExecRequest& request, BYTE* buffer, void* post);

// Sends one command and waits for its event (up to `timeoutMs`).
ExecResult Exec(AspiLib& aspi, const ExecRequest& request, DWORD timeoutMs = 5000);

// Command blocks, as a CD player sends them.
const Bytes kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
const Bytes kEject = {0x1B, 0, 0, 0, 0x02, 0};
const Bytes kLoad = {0x1B, 0, 0, 0, 0x03, 0};
const Bytes kLock = {0x1E, 0, 0, 0, 1, 0};
const Bytes kUnlock = {0x1E, 0, 0, 0, 0, 0};
Bytes CdbInquiry(BYTE alloc);
Bytes CdbReadToc(bool msf, BYTE startTrack, WORD alloc = kTocAlloc);
Bytes CdbReadSubChannel(bool msf, WORD alloc);
Bytes CdbReadCd(uint32_t lba, uint32_t count);

uint32_t Be32(const BYTE* p);

// A virtual drive to stage and the DLL to talk to it through.
class DriveTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(aspi.send && aspi.support); }
    ExecResult Run(const Bytes& cdb, DWORD bufLen = 0, BYTE target = 0) {
        return Exec(aspi, {target, cdb, bufLen});
    }
    std::string Outcome(const Bytes& cdb, DWORD bufLen = 0, BYTE target = 0) {
        return Run(cdb, bufLen, target).Outcome();
    }

    AspiLib aspi;
    VirtualDrive drive;
};

} // namespace td_test
