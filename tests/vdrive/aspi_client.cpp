#include "aspi_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace td_test {

namespace {

constexpr BYTE kGuard = 0xEE;
constexpr size_t kGuardBytes = 64;
constexpr BYTE kFixedSense = 0x70;

} // namespace

AspiLib::AspiLib() {
    HMODULE dll = LoadLibraryA("WNASPI32.DLL");
    // Through void*: FARPROC's own signature never matches.
    support = reinterpret_cast<GetASPI32SupportInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))));
    send = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(2))));
}

std::string ExecResult::Outcome() const {
    char text[24];
    if (status == SS_COMP) return kOk;
    if (status == SS_ERR && targStat == STATUS_CHKCOND && (sense[0] & 0x7F) == kFixedSense)
        std::snprintf(text, sizeof text, "%X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
    else
        std::snprintf(text, sizeof text, "status %02X/%02X/%02X", status, haStat, targStat);
    return text;
}

uint32_t Be32(const BYTE* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

SRB_ExecSCSICmd MakeSrb(const ExecRequest& request, BYTE* buffer, void* post) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = request.ha;
    srb.SRB_Flags = request.flags;
    srb.SRB_Target = request.target;
    srb.SRB_Lun = request.lun;
    srb.SRB_BufLen = request.bufLen;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = request.senseLen;
    srb.SRB_CDBLen = BYTE(request.cdb.size());
    std::copy(request.cdb.begin(), request.cdb.end(), srb.CDBByte);
    std::memset(srb.SenseArea, kUntouched, sizeof srb.SenseArea);
    srb.SRB_PostProc = post;
    return srb;
}

ExecResult Exec(AspiLib& aspi, const ExecRequest& request, DWORD timeoutMs) {
    ExecResult result;
    Bytes buffer(request.bufLen + kGuardBytes, kGuard);
    std::memset(buffer.data(), kUntouched, request.bufLen);
    Event done;
    SRB_ExecSCSICmd srb = MakeSrb(request, request.bufLen ? buffer.data() : nullptr, done.handle);
    result.sent = aspi.send(&srb);
    if (result.sent == SS_PENDING)
        result.signalled = WaitForSingleObject(done.handle, timeoutMs) == WAIT_OBJECT_0;
    // A command that has not finished still owns the block: wait it out so that
    // the drive never writes into a block that is gone.
    if (result.sent == SS_PENDING && !result.signalled) {
        ADD_FAILURE() << "command did not complete in " << timeoutMs << " ms";
        WaitForSingleObject(done.handle, INFINITE);
    }
    result.status = srb.SRB_Status;
    result.haStat = srb.SRB_HaStat;
    result.targStat = srb.SRB_TargStat;
    std::memcpy(result.sense, srb.SenseArea, sizeof result.sense);
    result.guardIntact = std::all_of(buffer.begin() + request.bufLen, buffer.end(),
                                     [](BYTE b) { return b == kGuard; });
    result.data.assign(buffer.begin(), buffer.begin() + request.bufLen);
    return result;
}

Bytes CdbInquiry(BYTE alloc) {
    return {0x12, 0, 0, 0, alloc, 0};
}

Bytes CdbReadToc(bool msf, BYTE startTrack, WORD alloc) {
    return {0x43, BYTE(msf ? 2 : 0), 0, 0, 0, 0, startTrack, BYTE(alloc >> 8), BYTE(alloc), 0};
}

Bytes CdbReadSubChannel(bool msf, WORD alloc) {
    return {0x42, BYTE(msf ? 2 : 0), 0x40, 1, 0, 0, 0, BYTE(alloc >> 8), BYTE(alloc), 0, 0, 0};
}

// Expected sector type CD-DA, the whole 2352-byte frame.
Bytes CdbReadCd(uint32_t lba, uint32_t count) {
    Bytes cdb = {0xBE,        0x04, 0, 0, 0, 0, BYTE(count >> 16), BYTE(count >> 8),
                 BYTE(count), 0xF0, 0, 0};
    for (int i = 0; i < 4; i++) cdb[2 + i] = BYTE(lba >> (24 - 8 * i));
    return cdb;
}

} // namespace td_test
