#include "drive_bench.h"

#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <cstdio>

namespace td_test {

namespace {

const char* const kDirections[] = {"out", "in", "none"}; // by SCSI_IOCTL_DATA_*

// What Wine asked of the device, as the direction of a pass-through request.
int DataIn(int srbFlags) {
    if (srbFlags & SRB_DIR_IN) return SCSI_IOCTL_DATA_IN;
    return srbFlags & SRB_DIR_OUT ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_UNSPECIFIED;
}

} // namespace

void PrintTo(Transport transport, std::ostream* os) {
    *os << (transport == Transport::Aspi ? "Aspi" : "PassThrough");
}

DriveBench::DriveBench(Transport transport) : transport(transport) {
    if (transport == Transport::PassThrough)
        SelectPassThrough();
    else
        blankPlatform_ = std::make_unique<FakeScsiPort>();
}

std::vector<VLogLine> DriveBench::Commands() const {
    std::vector<VLogLine> out = VirtualDrive::Commands();
    if (transport == Transport::PassThrough)
        for (VLogLine& l : out) l.flags = DataIn(l.flags);
    return out;
}

std::string DriveBench::Sent(const std::string& overAspi) const {
    if (transport == Transport::Aspi) return overAspi;
    unsigned flags = 0;
    unsigned long length = 0;
    std::sscanf(overAspi.c_str(), "%x %lu:", &flags, &length);
    bool out = (flags & (SRB_DIR_IN | SRB_DIR_OUT)) == SRB_DIR_OUT;
    const char* dir = !length ? "none" : out ? "out" : "in";
    return dir + overAspi.substr(overAspi.find(' '));
}

std::vector<std::string> CommandSummaries(const DriveBench& drive) {
    std::vector<std::string> out;
    for (const VLogLine& l : drive.Commands()) {
        char line[128];
        int n = drive.transport == Transport::Aspi
                    ? std::snprintf(line, sizeof line, "%02X %lu:", l.flags, l.bufLen)
                    : std::snprintf(line, sizeof line, "%s %lu:", kDirections[l.flags], l.bufLen);
        for (BYTE b : l.cdb) n += std::snprintf(line + n, sizeof line - n, " %02X", b);
        out.push_back(line);
    }
    return out;
}

ReadBlock::ReadBlock(int adapter, int target, DWORD frames)
    : data(frames * kFrameBytes, kUntouched) {
    srb.SRB_HaId = BYTE(adapter);
    srb.SRB_Target = BYTE(target);
    srb.SRB_BufPointer = data.data();
    srb.SRB_BufLen = DWORD(data.size());
}

Drives FoundDrives() {
    Drives found;
    for (int i = 0; i < GetCdDriveCount(); i++)
        found.emplace_back(CdDriveAt(i).adapter, CdDriveAt(i).target);
    return found;
}

} // namespace td_test
