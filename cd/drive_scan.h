// Finds the CD-ROM drives behind ASPI, once per process; where ASPI shows none,
// behind the platform's SCSI pass-through instead.
#pragma once
#include <windows.h>

constexpr int kMaxCdDrives = 5;
constexpr int kMaxScanTarget = 8; // targets 0 to 7 of each adapter
constexpr BYTE kDeviceTypeCdrom = 0x05;

struct CdDriveEntry {
    int adapter;
    int target;
};

// Bit t set for each target 0-7 whose INQUIRY byte 0, taken whole, is `deviceType`.
int FindCdTargets(int adapter, BYTE deviceType);

// Fills the drive table in adapter, then target order; returns its size (0-5).
int ScanCdDrives();

// Scans on the first call only; afterwards returns the stored count. A scan
// over ASPI that finds nothing moves RunSrb to pass-through and scans again.
int GetCdDriveCount();

// Entry `index` of the drive table (index below GetCdDriveCount()).
const CdDriveEntry& CdDriveAt(int index);
