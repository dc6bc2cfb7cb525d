#include "drive_bench.h"

#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/passthrough_transport.h"
#include "vdrive/drive_config.h"

#include <cstdio>
#include <memory>

namespace td_test {

namespace {

const char* const kDirections[] = {"out", "in", "none"}; // by SCSI_IOCTL_DATA_*

// What the virtual drive does with a [device] section, done to a fake device.
void Follow(FakeCdRom& d, const vdrive::DeviceConfig& c) {
    d.hangMs = c.hangMs;
    d.scsi.SetDeviceType(c.type);
    d.scsi.SetUnitAttention(c.unitAttention);
    d.scsi.SetReadErrors(c.readErrors, c.readErrorCount);
    bool wasReady = d.scsi.Ready();
    bool reload = d.disc != c.image || (d.scsi.TrayOpen() && !c.trayOpen);
    if (reload) d.Load(c.image);
    d.scsi.SetTray(c.trayOpen);
    if (d.scsi.Ready() && (!wasReady || reload)) d.scsi.NoteMediumInserted();
}

} // namespace

void PrintTo(Transport transport, std::ostream* os) {
    *os << (transport == Transport::Aspi ? "Aspi" : "PassThrough");
}

DriveBench::DriveBench(Transport transport) : transport(transport) {
    if (transport == Transport::PassThrough) SelectPassThrough();
}

bool DriveBench::Apply() {
    if (transport == Transport::Aspi) return VirtualDrive::Apply();
    std::string text = IniText(), dir = ScratchDir(), notes;
    auto cfg = std::make_unique<vdrive::DriveConfig>();
    vdrive::ParseDriveConfig(
        text.data(), text.size(), dir.c_str(), cfg.get(),
        [](void* ctx, const char* line) { *static_cast<std::string*>(ctx) += line; }, &notes);
    for (int i = 0; i < cfg->deviceCount; i++) {
        const vdrive::DeviceConfig& c = cfg->devices[i];
        char& letter = letters_[{c.adapter, c.target}];
        if (!letter) {
            letter = nextLetter_++;
            port.Add(letter, c.adapter, c.target);
        }
        Follow(*port.Find(letter), c);
    }
    EXPECT_EQ(notes, "");
    return notes.empty();
}

std::vector<VLogLine> DriveBench::Commands() const {
    if (transport == Transport::Aspi) return VirtualDrive::Commands();
    std::vector<VLogLine> out;
    for (const PassThroughCall& c : port.calls) {
        int status = c.scsiStatus == STATUS_GOOD ? SS_COMP : SS_ERR;
        out.push_back({"", true, c.port, c.target, c.sent.Lun, c.sent.DataIn,
                       c.sent.DataTransferLength, c.cdb, status, 0, c.scsiStatus});
    }
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
