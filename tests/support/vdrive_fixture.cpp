#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include "tools/disc/frame_pattern.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace td_test {

namespace {

constexpr char kVariable[] = "TUNEDECK_VDRIVE";
constexpr char kIniName[] = "vdrive.ini";
constexpr char kStatusMarker[] = " status=";
constexpr char kFramesMarker[] = " frames=";
constexpr ULONGLONG kOneMs = 10000; // in FILETIME units

// The last modification time this process gave an INI: every write moves on
// from it, so even two writes in one clock tick look different to the DLL.
ULONGLONG g_lastStamp = 0;

bool SetStamp(const std::string& path, ULONGLONG stamp) {
    HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    FILETIME ft = {DWORD(stamp), DWORD(stamp >> 32)};
    bool ok = SetFileTime(f, nullptr, nullptr, &ft) != 0;
    CloseHandle(f);
    return ok;
}

// One line of the log: a command's fields, or only the text for other lines.
VLogLine ParseLine(const std::string& text) {
    VLogLine l;
    l.text = text;
    size_t status = text.find(kStatusMarker);
    unsigned flags = 0, st = 0, haStat = 0, targStat = 0, key = 0, asc = 0, ascq = 0;
    int cdb = 0;
    l.command = status != std::string::npos &&
                std::sscanf(text.c_str(), "ha=%d target=%d lun=%d flags=%x buflen=%lu cdb=%n",
                            &l.ha, &l.target, &l.lun, &flags, &l.bufLen, &cdb) == 5 &&
                cdb > 0;
    if (!l.command) return l;
    for (size_t i = size_t(cdb); i + 1 < status; i += 3)
        l.cdb.push_back(uint8_t(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    std::sscanf(text.c_str() + status, " status=%x hastat=%x targstat=%x sense=%x/%x/%x", &st,
                &haStat, &targStat, &key, &asc, &ascq);
    l.flags = int(flags);
    l.status = int(st);
    l.haStat = int(haStat);
    l.targStat = int(targStat);
    l.senseKey = int(key);
    l.asc = int(asc);
    l.ascq = int(ascq);
    size_t frames = text.find(kFramesMarker, status);
    if (frames != std::string::npos) l.frames = text.substr(frames + sizeof kFramesMarker - 1);
    return l;
}

} // namespace

VirtualDrive::VirtualDrive() : iniPath_(ScratchDir() + "\\" + kIniName) {}

VirtualDrive::~VirtualDrive() {
    SetEnvironmentVariableA(kVariable, nullptr);
}

VDevice& VirtualDrive::AddCdRom(int adapter, int target, const std::string& image) {
    VDevice d;
    d.adapter = adapter;
    d.target = target;
    d.image = image;
    devices.push_back(d);
    return devices.back();
}

std::string VirtualDrive::IniText() const {
    std::string t = "[aspi]\r\n";
    t += "support-status = " + std::to_string(aspi.supportStatus) + "\r\n";
    if (aspi.adapters >= 0) t += "adapters = " + std::to_string(aspi.adapters) + "\r\n";
    t += "send-result = " + aspi.sendResult + "\r\n";
    if (!aspi.log.empty()) t += "log = " + aspi.log + "\r\n";
    for (const VDevice& d : devices) {
        t += "\r\n[device]\r\n";
        t += "adapter = " + std::to_string(d.adapter) + "\r\n";
        t += "target = " + std::to_string(d.target) + "\r\n";
        t += "type = " + d.type + "\r\n";
        t += "image = " + d.image + "\r\n";
        t += std::string("tray = ") + (d.trayOpen ? "open" : "closed") + "\r\n";
        t += "read-error = " + d.readErrors + "\r\n";
        t += "delay-ms = " + std::to_string(d.delayMs) + "\r\n";
        t += "hang-ms = " + std::to_string(d.hangMs) + "\r\n";
        t += std::string("unit-attention = ") + (d.unitAttention ? "on" : "off") + "\r\n";
        t += "damaged = " + d.damaged + "\r\n";
        t += "garbled = " + d.garbled + "\r\n";
        t += "damage-odds = " + std::to_string(d.damageOdds) + "\r\n";
        t += "cache-frames = " + std::to_string(d.cacheFrames) + "\r\n";
        t += "c2 = " + d.c2 + "\r\n";
        t += "damage-seed = " + std::to_string(d.damageSeed) + "\r\n";
    }
    return t + extraIni;
}

bool VirtualDrive::Apply() {
    std::string temp = iniPath_ + ".new";
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG stamp = ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    g_lastStamp = stamp > g_lastStamp ? stamp : g_lastStamp + kOneMs;
    bool ok = WriteTextFile(temp, IniText()) && SetStamp(temp, g_lastStamp) &&
              MoveFileExA(temp.c_str(), iniPath_.c_str(), MOVEFILE_REPLACE_EXISTING) &&
              SetEnvironmentVariableA(kVariable, iniPath_.c_str());
    EXPECT_TRUE(ok) << "cannot stage the virtual drive at " << iniPath_;
    return ok;
}

std::string VirtualDrive::LogPath() const {
    if (aspi.log.empty()) return std::string();
    bool absolute = aspi.log.size() > 1 && (aspi.log[1] == ':' || aspi.log[0] == '\\');
    return absolute ? aspi.log : ScratchDir() + "\\" + aspi.log;
}

std::vector<VLogLine> VirtualDrive::Log() const {
    Bytes raw = ReadFileBytes(LogPath());
    std::istringstream text(std::string(raw.begin(), raw.end()));
    std::vector<VLogLine> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(ParseLine(line));
    }
    return lines;
}

std::vector<VLogLine> VirtualDrive::Commands() const {
    std::vector<VLogLine> out;
    for (const VLogLine& l : Log())
        if (l.command) out.push_back(l);
    return out;
}

VDisc MakeDisc(const std::string& description, const std::string& name) {
    VDisc disc;
    std::string error;
    if (!td_disc::ParseDiscDescription(description, &disc.plan, &error)) {
        ADD_FAILURE() << "disc \"" << description << "\": " << error;
        return disc;
    }
    disc.layout = td_disc::LayOut(disc.plan);
    disc.cuePath = ScratchDir() + "\\" + name + ".cue";
    if (!td_disc::WriteDiscImage(disc.cuePath, disc.plan, &error)) ADD_FAILURE() << error;
    return disc;
}

Bytes ExpectedFrames(const VDisc& disc, uint32_t lba, uint32_t count) {
    if (disc.layout.tracks.empty()) return Bytes();
    Bytes out(size_t(count) * td_disc::kFrameBytes);
    for (uint32_t i = 0; i < count; i++)
        td_disc::ImageFrame(disc.plan, disc.layout, lba + i,
                            out.data() + size_t(i) * td_disc::kFrameBytes);
    return out;
}

Bytes C2PointersOf(const BYTE* got, const BYTE* want, size_t bytes) {
    Bytes pointers(bytes, 0);
    for (size_t k = 0; k < td_disc::kFrameBytes; k++)
        if (got[k] != want[k]) pointers[k / 8] |= BYTE(0x80 >> (k % 8));
    for (size_t i = 0; bytes == kC2BlockBytes && i < kC2PointerBytes; i++)
        pointers[kC2PointerBytes] |= pointers[i];
    return pointers;
}

} // namespace td_test
