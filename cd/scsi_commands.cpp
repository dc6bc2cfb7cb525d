#include "cd/scsi_commands.h"

#include "cd/aspi_transport.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr BYTE kOpPreventAllow = 0x1E;
constexpr BYTE kOpStartStop = 0x1B;
constexpr BYTE kOpReadSubchannel = 0x42;
constexpr BYTE kOpReadToc = 0x43;
constexpr BYTE kOpReadCd = 0xBE;
constexpr BYTE kOpInquiry = 0x12;

constexpr BYTE kPreventRemoval = 0x01;
constexpr BYTE kAllowRemoval = 0x00;
constexpr BYTE kEjectTray = 0x02; // LoEj 1, Start 0
constexpr BYTE kLoadTray = 0x03;  // LoEj 1, Start 1

constexpr BYTE kSubchannelMsf = 0x02;
constexpr BYTE kSubchannelSubq = 0x40;
constexpr BYTE kSubchannelCurrentPosition = 0x01;
constexpr BYTE kTocFormatToc = 0x00;
constexpr BYTE kTocFormatFullToc = 0x02;
constexpr BYTE kTocFormatCdText = 0x05;
constexpr BYTE kFirstSession = 1;
constexpr size_t kTocSessionAt = 6;
constexpr BYTE kReadCdTypeCdda = 0x04;
constexpr BYTE kReadCdWholeSector = 0xF0; // sync, header codes, user data, EDC
constexpr BYTE kReadCdC2Pointers = 0x02;  // error field 01: the C2 pointer bits

constexpr size_t kSenseKeyAt = 2; // fixed-format sense data
constexpr BYTE kSenseKeyMask = 0x0F;
constexpr BYTE kSenseNotReady = 0x02;
constexpr BYTE kSenseMediumError = 0x03;
constexpr BYTE kSenseHardwareError = 0x04;
constexpr BYTE kSenseUnitAttention = 0x06;

constexpr BYTE kCdb6 = 6;
constexpr BYTE kCdb10 = 10;
constexpr BYTE kCdb12 = 12;

// The CD stream request's own fields live in the block's reserved bytes, at
// block bytes 36 and 40 in the 32-bit layout.
constexpr size_t kCurrentField = offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) + 8;
constexpr size_t kEndField = kCurrentField + sizeof(DWORD);
#ifndef _WIN64
static_assert(kCurrentField == 36 && kEndField == 40, "CD stream request layout");
#endif

DWORD g_lastReadAddress;
bool g_discChanged;

void PrepareBlock(SRB_ExecSCSICmd* b, int adapter, int target, BYTE cdbLength) {
    memset(b, 0, sizeof *b);
    b->SRB_Cmd = SC_EXEC_SCSI_CMD;
    b->SRB_HaId = static_cast<BYTE>(adapter);
    b->SRB_Target = static_cast<BYTE>(target);
    b->SRB_Flags = SRB_EVENT_NOTIFY;
    b->SRB_SenseLen = SENSE_LEN;
    b->SRB_CDBLen = cdbLength;
    b->SRB_PostProc = reinterpret_cast<void*>(&SrbPostRoutine);
}

// Whichever command meets the drive's UNIT ATTENTION after a disc came in, the
// disc behind the table may be another one from then on.
bool RunMediaCommand(SRB_ExecSCSICmd* b) {
    b->SRB_TargStat = STATUS_GOOD;
    b->SenseArea[kSenseKeyAt] = 0;
    bool ok = RunSrb(b);
    if (!ok && b->SRB_TargStat == STATUS_CHKCOND &&
        (b->SenseArea[kSenseKeyAt] & kSenseKeyMask) == kSenseUnitAttention)
        g_discChanged = true;
    return ok;
}

void PutBigEndian(BYTE* at, DWORD value, int bytes) {
    for (int i = bytes - 1; i >= 0; i--, value >>= 8) at[i] = static_cast<BYTE>(value);
}

bool ReadTocFormat(int adapter, int target, BYTE format, BYTE* reply, DWORD length,
                   BYTE session = 0) {
    SRB_ExecSCSICmd b;
    PrepareBlock(&b, adapter, target, kCdb10);
    b.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    b.SRB_BufLen = length;
    b.SRB_BufPointer = reply;
    b.CDBByte[0] = kOpReadToc;
    b.CDBByte[2] = format;
    b.CDBByte[kTocSessionAt] = session;
    PutBigEndian(&b.CDBByte[7], length, 2);
    return RunMediaCommand(&b);
}

} // namespace

bool SendSixByteCommand(int adapter, int target, BYTE opcode, BYTE fifthByte) {
    SRB_ExecSCSICmd b;
    PrepareBlock(&b, adapter, target, kCdb6);
    b.CDBByte[0] = opcode;
    b.CDBByte[4] = fifthByte;
    return RunMediaCommand(&b);
}

bool LockTray(int adapter, int target) {
    return SendSixByteCommand(adapter, target, kOpPreventAllow, kPreventRemoval);
}

bool UnlockTray(int adapter, int target) {
    return SendSixByteCommand(adapter, target, kOpPreventAllow, kAllowRemoval);
}

bool EjectTray(int adapter, int target) {
    BYTE scratch[kSubchannelReplyBytes];
    ReadSubChannel(adapter, target, scratch);
    return SendSixByteCommand(adapter, target, kOpStartStop, kEjectTray);
}

bool LoadTray(int adapter, int target) {
    BYTE scratch[kSubchannelReplyBytes];
    ReadSubChannel(adapter, target, scratch);
    return SendSixByteCommand(adapter, target, kOpStartStop, kLoadTray);
}

bool ReadSubChannel(int adapter, int target, BYTE* reply) {
    memset(reply, 0, kSubchannelReplyBytes);
    SRB_ExecSCSICmd b;
    PrepareBlock(&b, adapter, target, kCdb12);
    b.SRB_BufLen = kSubchannelReplyBytes;
    b.SRB_BufPointer = reply;
    b.CDBByte[0] = kOpReadSubchannel;
    b.CDBByte[1] = kSubchannelMsf;
    b.CDBByte[2] = kSubchannelSubq;
    b.CDBByte[3] = kSubchannelCurrentPosition;
    PutBigEndian(&b.CDBByte[7], kSubchannelReplyBytes, 2);
    return RunMediaCommand(&b);
}

bool InquireDevice(int adapter, int target, BYTE* buffer, int length) {
    BYTE scratch[kSubchannelReplyBytes];
    ReadSubChannel(adapter, target, scratch);
    SRB_ExecSCSICmd b;
    PrepareBlock(&b, adapter, target, kCdb6);
    b.SRB_BufLen = static_cast<DWORD>(length);
    b.SRB_BufPointer = buffer;
    b.CDBByte[0] = kOpInquiry;
    b.CDBByte[4] = static_cast<BYTE>(length);
    return RunSrb(&b);
}

bool ReadToc(int adapter, int target, BYTE* reply) {
    return ReadTocFormat(adapter, target, kTocFormatToc, reply, kTocReplyBytes);
}

bool ReadCdTextPacks(int adapter, int target, BYTE* reply, DWORD length) {
    return ReadTocFormat(adapter, target, kTocFormatCdText, reply, length);
}

bool ReadFullToc(int adapter, int target, BYTE* reply) {
    return ReadTocFormat(adapter, target, kTocFormatFullToc, reply, kFullTocReplyBytes,
                         kFirstSession);
}

bool ReadCdSectors(SRB_ExecSCSICmd* block, DWORD address, DWORD count, bool withC2) {
    // Frames of another disc must not pass for the opened one's.
    if (g_discChanged) return false;
    block->SRB_Cmd = SC_EXEC_SCSI_CMD;
    block->SRB_Flags = SRB_EVENT_NOTIFY;
    block->SRB_SenseLen = SENSE_LEN;
    block->SRB_CDBLen = kCdb12;
    g_lastReadAddress = address;
    SetStreamCurrentAddress(block, address);
    block->CDBByte[0] = kOpReadCd;
    block->CDBByte[1] = kReadCdTypeCdda;
    PutBigEndian(&block->CDBByte[2], address, 4);
    PutBigEndian(&block->CDBByte[6], count, 3);
    block->CDBByte[9] = withC2 ? kReadCdWholeSector | kReadCdC2Pointers : kReadCdWholeSector;
    block->SRB_PostProc = reinterpret_cast<void*>(&SrbPostRoutine);
    return RunMediaCommand(block);
}

bool FailedOnMedium(const SRB_ExecSCSICmd* block) {
    if (g_discChanged || block->SRB_TargStat != STATUS_CHKCOND) return false;
    BYTE key = block->SenseArea[kSenseKeyAt] & kSenseKeyMask;
    // Some drives report a frame they cannot recover as a hardware error.
    return key == kSenseMediumError || key == kSenseHardwareError;
}

bool DiscMayHaveChanged() {
    return g_discChanged;
}
void ForgetDiscChange() {
    g_discChanged = false;
}

DWORD LastReadAddress() {
    return g_lastReadAddress;
}
void SetLastReadAddress(DWORD address) {
    g_lastReadAddress = address;
}

DWORD StreamCurrentAddress(const SRB_ExecSCSICmd* request) {
    DWORD v;
    memcpy(&v, reinterpret_cast<const BYTE*>(request) + kCurrentField, sizeof v);
    return v;
}

DWORD StreamEndAddress(const SRB_ExecSCSICmd* request) {
    DWORD v;
    memcpy(&v, reinterpret_cast<const BYTE*>(request) + kEndField, sizeof v);
    return v;
}

void SetStreamCurrentAddress(SRB_ExecSCSICmd* request, DWORD address) {
    memcpy(reinterpret_cast<BYTE*>(request) + kCurrentField, &address, sizeof address);
}

void SetStreamEndAddress(SRB_ExecSCSICmd* request, DWORD address) {
    memcpy(reinterpret_cast<BYTE*>(request) + kEndField, &address, sizeof address);
}
