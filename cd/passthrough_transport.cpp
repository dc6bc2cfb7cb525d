#include "cd/passthrough_transport.h"

#include "cd/aspi_transport.h"
#include "cd/drive_scan.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#ifndef _WIN64
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "pass-through request layout");
static_assert(sizeof(SCSI_ADDRESS) == 8, "SCSI address layout");
static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24, "adapter capabilities layout");
#endif

namespace {

constexpr int kDriveLetters = 26;
constexpr char kFirstLetter = 'A';
constexpr char kRootTemplate[] = "?:\\";
constexpr char kDeviceTemplate[] = "\\\\.\\?:";
constexpr size_t kDeviceLetterAt = 4;
constexpr int kAdapterNumbers = 256; // SRB_HaId is one byte
constexpr DWORD kMsPerSecond = 1000;
constexpr DWORD kDeviceAccess = GENERIC_READ | GENERIC_WRITE; // pass-through asks for both
constexpr DWORD kDeviceShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct Device {
    HANDLE handle;
    BYTE adapter, target;
    ReportedAddress reported;
    ULONG_PTR alignment;
};

// The CDB travels in the request; the sense data comes back right behind it.
struct Request {
    SCSI_PASS_THROUGH_DIRECT sptd;
    BYTE sense[sizeof(SRB_ExecSCSICmd::SenseArea)];
};

const PassThroughIo* g_io; // null: the platform's own calls
bool g_selected;
bool g_searched;
Device g_devices[kDriveLetters];
int g_deviceCount;
int g_adapterCount;
// Where a buffer the adapter cannot take directly is read into; kept, and grown
// as needed. VirtualAlloc places it on an allocation boundary (64 KB).
BYTE* g_bounce;
DWORD g_bounceBytes;

const PassThroughIo& Io() {
    static const PassThroughIo platform = {GetLogicalDrives, GetDriveTypeA, CreateFileA,
                                           DeviceIoControl, CloseHandle};
    return g_io ? *g_io : platform;
}

bool SlotTaken(const BusSlot* slots, int count, int adapter, int target) {
    for (int i = 0; i < count; i++)
        if (slots[i].used && slots[i].adapter == adapter && slots[i].target == target) return true;
    return false;
}

bool SameAddress(const ReportedAddress& a, const ReportedAddress& b) {
    return a.known && b.known && a.port == b.port && a.path == b.path && a.target == b.target &&
           a.lun == b.lun;
}

ReportedAddress AskAddress(const PassThroughIo& io, HANDLE device) {
    SCSI_ADDRESS a = {};
    a.Length = sizeof a;
    DWORD got = 0;
    ReportedAddress r = {};
    r.known = io.deviceIoControl(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &got,
                                 nullptr) &&
              got >= sizeof a;
    if (r.known) {
        r.port = a.PortNumber;
        r.path = a.PathId;
        r.target = a.TargetId;
        r.lun = a.Lun;
    }
    return r;
}

ULONG_PTR AskAlignment(const PassThroughIo& io, HANDLE device) {
    IO_SCSI_CAPABILITIES caps = {};
    DWORD got = 0;
    bool answered =
        io.deviceIoControl(device, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps,
                           &got, nullptr) &&
        got >= offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) + sizeof caps.AlignmentMask;
    return answered ? AlignmentBits(caps.AlignmentMask) : 0;
}

// Looks for the CD-ROM devices once; their handles stay open for the process.
void FindDevices() {
    if (g_searched) return;
    g_searched = true;
    const PassThroughIo& io = Io();
    HANDLE handles[kDriveLetters];
    ReportedAddress reported[kDriveLetters];
    int found = 0;
    DWORD present = io.getLogicalDrives();
    for (int i = 0; i < kDriveLetters; i++) {
        if (!(present & (1u << i))) continue;
        char root[sizeof kRootTemplate], path[sizeof kDeviceTemplate];
        memcpy(root, kRootTemplate, sizeof root);
        memcpy(path, kDeviceTemplate, sizeof path);
        root[0] = path[kDeviceLetterAt] = static_cast<char>(kFirstLetter + i);
        if (io.getDriveType(root) != DRIVE_CDROM) continue;
        HANDLE h =
            io.createFile(path, kDeviceAccess, kDeviceShare, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue; // in use elsewhere, or not ours to open
        handles[found] = h;
        reported[found] = AskAddress(io, h);
        found++;
    }
    BusSlot slots[kDriveLetters];
    AssignBusSlots(reported, found, slots);
    for (int i = 0; i < found; i++) {
        if (!slots[i].used) {
            io.closeHandle(handles[i]);
            continue;
        }
        Device& d = g_devices[g_deviceCount++];
        d.handle = handles[i];
        d.adapter = slots[i].adapter;
        d.target = slots[i].target;
        d.reported = reported[i];
        d.alignment = AskAlignment(io, handles[i]);
        if (d.adapter + 1 > g_adapterCount) g_adapterCount = d.adapter + 1;
    }
}

const Device* FindDevice(BYTE adapter, BYTE target) {
    for (int i = 0; i < g_deviceCount; i++)
        if (g_devices[i].adapter == adapter && g_devices[i].target == target) return &g_devices[i];
    return nullptr;
}

BYTE* BounceBuffer(DWORD bytes) {
    if (bytes > g_bounceBytes) {
        if (g_bounce) VirtualFree(g_bounce, 0, MEM_RELEASE);
        g_bounceBytes = 0;
        g_bounce = static_cast<BYTE*>(
            VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (g_bounce) g_bounceBytes = bytes;
    }
    return g_bounce;
}

// The system's READ CD and READ SUB-CHANNEL blocks carry no direction bit
// although they read: over pass-through a buffer means data in, unless the
// block asks for data out alone.
UCHAR DirectionOf(const SRB_ExecSCSICmd& b) {
    if (!b.SRB_BufLen) return SCSI_IOCTL_DATA_UNSPECIFIED;
    if ((b.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) == SRB_DIR_OUT) return SCSI_IOCTL_DATA_OUT;
    return SCSI_IOCTL_DATA_IN;
}

void FillRequest(const SRB_ExecSCSICmd& b, const Device& d, BYTE* data, Request* r) {
    memset(r, 0, sizeof *r);
    SCSI_PASS_THROUGH_DIRECT& s = r->sptd;
    s.Length = sizeof s;
    s.PathId = d.reported.path;
    s.TargetId = d.reported.target;
    s.Lun = d.reported.lun;
    s.CdbLength = b.SRB_CDBLen;
    s.SenseInfoLength = b.SRB_SenseLen < sizeof r->sense ? b.SRB_SenseLen : sizeof r->sense;
    s.DataIn = DirectionOf(b);
    s.DataTransferLength = b.SRB_BufLen;
    s.TimeOutValue = kSrbTimeoutMs / kMsPerSecond;
    s.DataBuffer = data;
    s.SenseInfoOffset = offsetof(Request, sense);
    memcpy(s.Cdb, b.CDBByte, b.SRB_CDBLen);
}

bool IsTimeout(DWORD error) {
    return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT;
}

// Sends the block and returns its ASPI status.
BYTE Send(SRB_ExecSCSICmd* b) {
    if (b->SRB_HaId >= g_adapterCount) return SS_INVALID_HA;
    const Device* d = FindDevice(b->SRB_HaId, b->SRB_Target);
    if (!d || b->SRB_Lun != 0) return SS_NO_DEVICE;
    if (b->SRB_CDBLen == 0 || b->SRB_CDBLen > sizeof b->CDBByte ||
        (b->SRB_BufLen && !b->SRB_BufPointer))
        return SS_INVALID_SRB;

    BYTE* data = b->SRB_BufLen ? b->SRB_BufPointer : nullptr;
    bool bounced = data && (reinterpret_cast<ULONG_PTR>(data) & d->alignment);
    if (bounced) {
        data = BounceBuffer(b->SRB_BufLen);
        if (!data) return SS_ERR;
        memcpy(data, b->SRB_BufPointer, b->SRB_BufLen); // what the device leaves alone stays
    }
    Request r;
    FillRequest(*b, *d, data, &r);
    DWORD returned = 0;
    // A device that does not answer in time fails the call once TimeOutValue
    // has passed; nothing is left in flight.
    if (!Io().deviceIoControl(d->handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &r, sizeof r, &r, sizeof r,
                              &returned, nullptr)) {
        b->SRB_HaStat = IsTimeout(GetLastError()) ? HASTAT_COMMAND_TIMEOUT : HASTAT_OK;
        b->SRB_TargStat = STATUS_GOOD;
        return SS_ERR;
    }
    b->SRB_HaStat = HASTAT_OK;
    b->SRB_TargStat = r.sptd.ScsiStatus;
    // Wine hands back a command that the port gave up on (a time-out) as done,
    // GOOD: all it shows is that none of the data came. No drive answers so.
    if (r.sptd.ScsiStatus == STATUS_GOOD && r.sptd.DataIn == SCSI_IOCTL_DATA_IN &&
        r.sptd.DataTransferLength == 0) {
        b->SRB_HaStat = HASTAT_DO_DU;
        return SS_ERR;
    }
    if (r.sptd.ScsiStatus != STATUS_GOOD) {
        size_t room = b->SRB_SenseLen < sizeof b->SenseArea ? b->SRB_SenseLen : sizeof b->SenseArea;
        memcpy(b->SenseArea, r.sense, room);
    }
    if (bounced) memcpy(b->SRB_BufPointer, data, b->SRB_BufLen);
    return r.sptd.ScsiStatus == STATUS_GOOD ? SS_COMP : SS_ERR;
}

} // namespace

bool PassThroughSelected() {
    return g_selected;
}

bool SelectPassThrough() {
    if (g_selected) return false;
    g_selected = true;
    return true;
}

bool PassThroughRunSrb(SRB_ExecSCSICmd* block) {
    block->SRB_Status = SS_PENDING;
    FindDevices();
    block->SRB_Status = Send(block);
    return block->SRB_Status == SS_COMP;
}

int PassThroughAdapterCount() {
    FindDevices();
    return g_adapterCount;
}

void SetPassThroughIo(const PassThroughIo* io) {
    g_io = io;
}

void AssignBusSlots(const ReportedAddress* devices, int count, BusSlot* slots) {
    for (int i = 0; i < count; i++) slots[i] = BusSlot{};
    // First every device that can stand where the platform says it is, so that
    // no device placed later takes its place.
    for (int i = 0; i < count; i++) {
        const ReportedAddress& a = devices[i];
        if (!a.known || a.lun != 0 || a.target >= kMaxScanTarget ||
            SlotTaken(slots, count, a.port, a.target))
            continue;
        slots[i] = BusSlot{true, a.port, a.target};
    }
    for (int i = 0; i < count; i++) {
        if (slots[i].used) continue;
        bool repeat = false;
        for (int j = 0; j < i && !repeat; j++) repeat = SameAddress(devices[i], devices[j]);
        if (repeat) continue;
        int from = devices[i].known ? devices[i].port : 0;
        for (int n = 0; n < kAdapterNumbers && !slots[i].used; n++) {
            int adapter = (from + n) % kAdapterNumbers;
            for (int t = 0; t < kMaxScanTarget && !slots[i].used; t++)
                if (!SlotTaken(slots, count, adapter, t))
                    slots[i] = BusSlot{true, static_cast<BYTE>(adapter), static_cast<BYTE>(t)};
        }
    }
}

ULONG_PTR AlignmentBits(ULONG reported) {
    ULONG_PTR bits = reported;
    for (int shift = 1; shift < int(sizeof bits * 8); shift <<= 1) bits |= bits >> shift;
    return bits;
}
