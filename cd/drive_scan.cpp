#include "cd/drive_scan.h"

#include "cd/aspi_transport.h"
#include "cd/passthrough_transport.h"
#include "cd/scsi_commands.h"

namespace {

constexpr int kTopTargetBit = kMaxScanTarget - 1;

CdDriveEntry g_drives[kMaxCdDrives];
int g_driveCount;
bool g_scanned;

} // namespace

int FindCdTargets(int adapter, BYTE deviceType) {
    int mask = 0;
    for (int target = 0; target < kMaxScanTarget; target++) {
        mask >>= 1;
        BYTE answer[kInquiryReplyBytes] = {};
        if (InquireDevice(adapter, target, answer, kInquiryReplyBytes) && answer[0] == deviceType)
            mask |= 1 << kTopTargetBit;
    }
    return mask;
}

int ScanCdDrives() {
    int adapters = GetHostAdapterCount();
    int count = 0;
    for (int adapter = 0; adapter < adapters; adapter++) {
        int mask = FindCdTargets(adapter, kDeviceTypeCdrom);
        for (int bit = 0; mask != 0 && bit < kMaxScanTarget; bit++) {
            if (!(mask & (1 << bit))) continue;
            g_drives[count].adapter = adapter;
            g_drives[count].target = bit;
            if (++count == kMaxCdDrives) return count;
        }
    }
    return count;
}

int GetCdDriveCount() {
    if (!g_scanned) {
        g_scanned = true;
        g_driveCount = ScanCdDrives();
        // ASPI missing, failing or blind to the drives (current Windows has
        // none, Wine's refuses every command): pass-through may reach them.
        if (g_driveCount == 0 && SelectPassThrough()) g_driveCount = ScanCdDrives();
    }
    return g_driveCount;
}

const CdDriveEntry& CdDriveAt(int index) {
    return g_drives[index];
}
