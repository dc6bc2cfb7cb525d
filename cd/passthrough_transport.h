// The platform's SCSI pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT on the
// CD-ROM devices, as Windows NT and later and Wine provide it): what stands
// behind RunSrb and GetHostAdapterCount once the drive scan finds no CD-ROM
// through ASPI. Each CD-ROM device gets a (host adapter, target) of its own, so
// the drive table, the scan and every caller work as they do over ASPI. Like
// RunSrb it serves one thread, one command at a time.
#pragma once
#include "cd/aspi.h"

// Whether RunSrb and GetHostAdapterCount go to pass-through rather than ASPI.
bool PassThroughSelected();
// Moves them there for the rest of the process; false when they already were.
bool SelectPassThrough();

// RunSrb over pass-through: the block's CDB, direction, buffer and length go to
// the device at its adapter and target with a time-out of kSrbTimeoutMs; the
// outcome comes back into SRB_Status (SS_COMP or an error), SRB_HaStat,
// SRB_TargStat, the sense area and the data buffer, as ASPI would leave them.
bool PassThroughRunSrb(SRB_ExecSCSICmd* block);

// One more than the highest host adapter given to a device; 0 without devices.
int PassThroughAdapterCount();

// The platform calls behind the transport, with the Win32 signatures.
struct PassThroughIo {
    DWORD(WINAPI* getLogicalDrives)();
    UINT(WINAPI* getDriveType)(LPCSTR root);
    HANDLE(WINAPI* createFile)
    (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
     DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* deviceIoControl)
    (HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
     LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
};

// Puts other calls in place of the platform's (nullptr: the platform's again).
// The devices are looked for once, at first use: set it before the first scan.
void SetPassThroughIo(const PassThroughIo* io);

// Where the platform says a device is (IOCTL_SCSI_GET_ADDRESS), if it says.
struct ReportedAddress {
    bool known;
    BYTE port, path, target, lun;
};

// Where the transport puts it.
struct BusSlot {
    bool used; // false: the same device as an earlier one
    BYTE adapter, target;
};

// Gives each device a slot the scan examines (targets 0-7): its own port and
// target when known, with LUN 0, below 8 and still free; otherwise the first
// free slot from its port (adapter 0 when unknown) on. A device whose whole
// address repeats an earlier one (one drive under two letters) gets none.
void AssignBusSlots(const ReportedAddress* devices, int count, BusSlot* slots);

// An adapter's AlignmentMask as a mask of low bits (some report the alignment itself).
ULONG_PTR AlignmentBits(ULONG reported);
