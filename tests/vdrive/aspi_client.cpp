#include "aspi_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace td_test {

namespace {

constexpr BYTE kGuard = 0xEE;
constexpr BYTE kOpTestUnitReady = 0x00, kOpInquiry = 0x12, kOpStartStop = 0x1B,
               kOpPreventAllow = 0x1E, kOpReadSubChannel = 0x42, kOpReadToc = 0x43,
               kOpReadCd = 0xBE;
constexpr BYTE kCddaSectorType = 0x04, kUserDataBits = 0xF0;

} // namespace

bool AspiLib::Load() {
    dll = LoadLibraryA("WNASPI32.DLL");
    if (!dll) return false;
    // Through void*: FARPROC's own signature never matches.
    support = reinterpret_cast<GetASPI32SupportInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))));
    send = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(2))));
    return support && send;
}

std::string ExecResult::Sense() const {
    char text[16];
    std::snprintf(text, sizeof text, "%X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
    return text;
}

uint32_t ExecResult::SenseInfo() const {
    return uint32_t(sense[3]) << 24 | uint32_t(sense[4]) << 16 | uint32_t(sense[5]) << 8 | sense[6];
}

ExecResult Exec(AspiLib& aspi, const ExecRequest& request, DWORD timeoutMs) {
    ExecResult result;
    Bytes buffer(request.bufLen + kGuardBytes, kGuard);
    std::memset(buffer.data(), kUntouched, request.bufLen);
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = request.ha;
    srb.SRB_Target = request.target;
    srb.SRB_Lun = request.lun;
    srb.SRB_Flags = request.flags;
    srb.SRB_BufLen = request.bufLen;
    srb.SRB_BufPointer = request.bufLen ? buffer.data() : nullptr;
    srb.SRB_SenseLen = request.senseLen;
    srb.SRB_CDBLen = BYTE(request.cdb.size());
    std::memcpy(srb.CDBByte, request.cdb.data(), request.cdb.size());
    std::memset(srb.SenseArea, kUntouched, sizeof srb.SenseArea);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    srb.SRB_PostProc = done;
    result.sent = aspi.send(&srb);
    if (result.sent == SS_PENDING)
        result.signalled = WaitForSingleObject(done, timeoutMs) == WAIT_OBJECT_0;
    // A command that has not finished still owns the block: wait it out so that
    // the drive never writes into a block that is gone.
    if (result.sent == SS_PENDING && !result.signalled) {
        ADD_FAILURE() << "command did not complete in " << timeoutMs << " ms";
        WaitForSingleObject(done, INFINITE);
    }
    CloseHandle(done);
    result.status = srb.SRB_Status;
    result.haStat = srb.SRB_HaStat;
    result.targStat = srb.SRB_TargStat;
    std::memcpy(result.sense, srb.SenseArea, sizeof result.sense);
    for (size_t i = request.bufLen; i < buffer.size(); i++)
        if (buffer[i] != kGuard) result.guardIntact = false;
    result.data.assign(buffer.begin(), buffer.begin() + request.bufLen);
    return result;
}

Bytes CdbTestUnitReady() {
    return Bytes{kOpTestUnitReady, 0, 0, 0, 0, 0};
}
Bytes CdbInquiry(BYTE alloc) {
    return Bytes{kOpInquiry, 0, 0, 0, alloc, 0};
}

Bytes CdbReadToc(bool msf, BYTE startTrack, WORD alloc) {
    return Bytes{kOpReadToc, BYTE(msf ? 2 : 0), 0,           0, 0, 0,
                 startTrack, BYTE(alloc >> 8),  BYTE(alloc), 0};
}

Bytes CdbReadSubChannel(bool msf, WORD alloc) {
    return Bytes{kOpReadSubChannel, BYTE(msf ? 2 : 0), 0x40, 1, 0, 0, 0,
                 BYTE(alloc >> 8),  BYTE(alloc),       0,    0, 0};
}

Bytes CdbReadCd(uint32_t lba, uint32_t count) {
    return Bytes{kOpReadCd,
                 kCddaSectorType,
                 BYTE(lba >> 24),
                 BYTE(lba >> 16),
                 BYTE(lba >> 8),
                 BYTE(lba),
                 BYTE(count >> 16),
                 BYTE(count >> 8),
                 BYTE(count),
                 kUserDataBits,
                 0,
                 0};
}

Bytes CdbStartStop(bool loEj, bool start) {
    return Bytes{kOpStartStop, 0, 0, 0, BYTE((loEj ? 2 : 0) | (start ? 1 : 0)), 0};
}

Bytes CdbPreventAllow(bool prevent) {
    return Bytes{kOpPreventAllow, 0, 0, 0, BYTE(prevent ? 1 : 0), 0};
}

ExecRequest Request(BYTE target, const Bytes& cdb, DWORD bufLen, BYTE ha) {
    ExecRequest r;
    r.ha = ha;
    r.target = target;
    r.cdb = cdb;
    r.bufLen = bufLen;
    return r;
}

} // namespace td_test
