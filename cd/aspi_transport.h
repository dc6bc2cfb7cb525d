// Sends request blocks through ASPI for Win32 (WNASPI32.DLL, loaded at run time
// so that a machine without ASPI still starts) and waits for them; or, once the
// drive scan has found no CD-ROM through ASPI, through the platform's SCSI
// pass-through (passthrough_transport.h), which takes the same blocks.
#pragma once
#include "cd/aspi.h"

constexpr DWORD kSrbTimeoutMs = 10000;

// Sends one filled block and waits up to kSrbTimeoutMs; true exactly when the
// command completed with SS_COMP. The status, target status, sense area and
// data reach the caller's block and buffer only if it completed in time: ASPI
// itself works on a private copy, so a late completion corrupts nothing.
bool RunSrb(SRB_ExecSCSICmd* block);

// Completion routine placed in blocks; signals the current command's event.
void __cdecl SrbPostRoutine(SRB_ExecSCSICmd* block);

// Number of host adapters, 0 when ASPI is missing or reports a problem (over
// pass-through: one more than the highest adapter given to a CD-ROM device).
int GetHostAdapterCount();
