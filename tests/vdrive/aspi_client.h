// Drives WNASPI32.DLL the way a program does: loaded by name, entry points by
// ordinal, one execute-command block at a time with an event to wait on.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "cd/aspi.h"
#include "support/test_env.h"

namespace td_test {

struct AspiLib {
    HMODULE dll = nullptr;
    GetASPI32SupportInfoFn support = nullptr;
    SendASPI32CommandFn send = nullptr;

    bool Load();
};

constexpr BYTE kUntouched = 0xCC; // what a data or sense byte holds until the drive writes it
constexpr size_t kGuardBytes = 64;

struct ExecRequest {
    BYTE ha = 0, target = 0, lun = 0;
    Bytes cdb;
    DWORD bufLen = 0;
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

    std::string Sense() const; // "5/24/00"
    uint32_t SenseInfo() const;
};

// Sends one command and waits for its event (up to `timeoutMs`).
ExecResult Exec(AspiLib& aspi, const ExecRequest& request, DWORD timeoutMs = 5000);

// Command blocks, as a CD player sends them.
Bytes CdbTestUnitReady();
Bytes CdbInquiry(BYTE alloc);
Bytes CdbReadToc(bool msf, BYTE startTrack, WORD alloc);
Bytes CdbReadSubChannel(bool msf, WORD alloc);
Bytes CdbReadCd(uint32_t lba, uint32_t count);
Bytes CdbStartStop(bool loEj, bool start);
Bytes CdbPreventAllow(bool prevent);

ExecRequest Request(BYTE target, const Bytes& cdb, DWORD bufLen = 0, BYTE ha = 0);

} // namespace td_test
