#include "drive_bench.h"

#include "cd/aspi.h"
#include "cd/passthrough_transport.h"
#include "cd_test_util.h"
#include "vdrive/drive_config.h"

#include <cstdio>
#include <memory>

namespace td_test {

namespace {

const char* const kDirections[] = {"out", "in", "none"}; // by SCSI_IOCTL_DATA_*

// What the virtual drive does with a [device] section, done to a fake device.
void Follow(FakeCdRom& d, const vdrive::DeviceConfig& c) {
    d.delayMs = c.delayMs;
    d.hangMs = c.hangMs;
    d.scsi.SetDeviceType(c.type);
    d.scsi.SetUnitAttention(c.unitAttention);
    d.scsi.SetReadErrors(c.readErrors, c.readErrorCount);
    bool wasReady = d.scsi.Ready();
    bool closing = d.scsi.TrayOpen() && !c.trayOpen;
    bool reload = lstrcmpiA(d.DiscPath().c_str(), c.image) != 0 || !d.HasDisc() || closing;
    if (reload) d.Load(c.image);
    d.scsi.SetTray(c.trayOpen);
    if (d.scsi.Ready() && (!wasReady || reload)) d.scsi.NoteMediumInserted();
}

} // namespace

void PrintTo(Transport transport, std::ostream* os) {
    *os << (transport == Transport::Aspi ? "Aspi" : "PassThrough");
}

DriveBench::DriveBench(Transport transport) : transport_(transport) {
    if (transport == Transport::PassThrough) SelectPassThrough();
}

bool DriveBench::Apply() {
    if (transport_ == Transport::Aspi) return VirtualDrive::Apply();
    std::string text = IniText(), dir = ScratchDir(), notes;
    auto cfg = std::make_unique<vdrive::DriveConfig>();
    vdrive::ParseDriveConfig(
        text.data(), text.size(), dir.c_str(), cfg.get(),
        [](void* ctx, const char* line) { *static_cast<std::string*>(ctx) += line; }, &notes);
    EXPECT_EQ(notes, "");

    for (auto it = letters_.begin(); it != letters_.end();) {
        bool kept = false;
        for (int i = 0; i < cfg->deviceCount && !kept; i++)
            kept = std::make_pair(int(cfg->devices[i].adapter), int(cfg->devices[i].target)) ==
                   it->first;
        if (kept) {
            ++it;
            continue;
        }
        port.Remove(it->second);
        it = letters_.erase(it);
    }
    for (int i = 0; i < cfg->deviceCount; i++) {
        const vdrive::DeviceConfig& c = cfg->devices[i];
        auto key = std::make_pair(int(c.adapter), int(c.target));
        if (!letters_.count(key)) {
            if (port.fixedLetters.find(nextLetter_) != std::string::npos) nextLetter_++;
            letters_[key] = nextLetter_;
            port.Add(nextLetter_++, c.adapter, c.target);
        }
        Follow(*port.Find(letters_[key]), c);
    }
    return notes.empty();
}

std::vector<VLogLine> DriveBench::Commands() const {
    if (transport_ == Transport::Aspi) return VirtualDrive::Commands();
    std::vector<VLogLine> out;
    for (const PassThroughCall& c : port.calls) {
        VLogLine l;
        l.command = true;
        l.ha = c.port;
        l.target = c.target;
        l.lun = c.sent.Lun;
        l.flags = c.sent.DataIn;
        l.bufLen = c.sent.DataTransferLength;
        l.cdb = c.cdb;
        l.status = c.succeeded && c.scsiStatus == STATUS_GOOD ? SS_COMP : SS_ERR;
        l.targStat = c.scsiStatus;
        l.senseKey = c.senseKey;
        l.asc = c.asc;
        l.ascq = c.ascq;
        out.push_back(l);
    }
    return out;
}

std::string DriveBench::Sent(const std::string& overAspi) const {
    if (transport_ == Transport::Aspi) return overAspi;
    unsigned flags = 0;
    unsigned long length = 0;
    std::sscanf(overAspi.c_str(), "%x %lu:", &flags, &length);
    bool out = (flags & (SRB_DIR_IN | SRB_DIR_OUT)) == SRB_DIR_OUT;
    const char* dir = !length ? "none" : out ? "out" : "in";
    return dir + overAspi.substr(overAspi.find(' '));
}

std::vector<std::string> CommandSummaries(const DriveBench& drive) {
    std::vector<std::string> out;
    char head[32];
    for (const VLogLine& l : drive.Commands()) {
        if (drive.transport() == Transport::Aspi)
            std::snprintf(head, sizeof head, "%02X %lu: ", l.flags, l.bufLen);
        else
            std::snprintf(head, sizeof head, "%s %lu: ", kDirections[l.flags], l.bufLen);
        out.push_back(head + HexBytes(l.cdb));
    }
    return out;
}

} // namespace td_test
