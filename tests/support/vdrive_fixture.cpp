#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include "tools/disc/frame_pattern.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace td_test {

namespace {

constexpr char kVariable[] = "TUNEDECK_VDRIVE";
constexpr char kIniName[] = "vdrive.ini";
constexpr char kCommandPrefix[] = "ha=";
constexpr char kStatusMarker[] = " status=";
constexpr ULONGLONG kOneMs = 10000; // in FILETIME units

// The last modification time this process gave an INI: every write moves on
// from it, so even two writes in one clock tick look different to the DLL.
ULONGLONG g_lastStamp = 0;

ULONGLONG Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ULONGLONG(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

bool SetStamp(const std::string& path, ULONGLONG stamp) {
    HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    FILETIME ft = {DWORD(stamp), DWORD(stamp >> 32)};
    bool ok = SetFileTime(f, nullptr, nullptr, &ft) != 0;
    CloseHandle(f);
    return ok;
}

int Hex(const std::string& s) {
    return int(std::strtol(s.c_str(), nullptr, 16));
}

std::string Field(const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) return std::string();
        at = 0;
    } else {
        at += 1;
    }
    at += key.size() + 1;
    size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
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
    }
    return t + extraIni;
}

bool VirtualDrive::Apply() {
    std::string temp = iniPath_ + ".new";
    ULONGLONG stamp = Now();
    if (stamp <= g_lastStamp) stamp = g_lastStamp + kOneMs;
    g_lastStamp = stamp;
    bool ok = WriteTextFile(temp, IniText()) && SetStamp(temp, stamp) &&
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
    return ParseVDriveLog(std::string(raw.begin(), raw.end()));
}

std::vector<VLogLine> VirtualDrive::Commands() const {
    std::vector<VLogLine> out;
    for (const VLogLine& l : Log())
        if (l.command) out.push_back(l);
    return out;
}

std::vector<VLogLine> ParseVDriveLog(const std::string& text) {
    std::vector<VLogLine> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        VLogLine l;
        l.text = text.substr(at, end - at);
        if (!l.text.empty() && l.text.back() == '\r') l.text.pop_back();
        at = end + 1;
        if (l.text.empty()) continue;
        size_t status = l.text.find(kStatusMarker);
        l.command = l.text.compare(0, sizeof kCommandPrefix - 1, kCommandPrefix) == 0 &&
                    status != std::string::npos;
        if (l.command) {
            l.ha = std::atoi(Field(l.text, "ha").c_str());
            l.target = std::atoi(Field(l.text, "target").c_str());
            l.lun = std::atoi(Field(l.text, "lun").c_str());
            l.flags = Hex(Field(l.text, "flags"));
            l.bufLen = std::strtoul(Field(l.text, "buflen").c_str(), nullptr, 10);
            size_t cdb = l.text.find(" cdb=") + 5;
            for (size_t i = cdb; i + 1 < status; i += 3)
                l.cdb.push_back(uint8_t(Hex(l.text.substr(i, 2))));
            l.status = Hex(Field(l.text, "status"));
            l.haStat = Hex(Field(l.text, "hastat"));
            l.targStat = Hex(Field(l.text, "targstat"));
            std::string sense = Field(l.text, "sense");
            unsigned key = 0, asc = 0, ascq = 0;
            std::sscanf(sense.c_str(), "%x/%x/%x", &key, &asc, &ascq);
            l.senseKey = int(key);
            l.asc = int(asc);
            l.ascq = int(ascq);
        }
        lines.push_back(l);
    }
    return lines;
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

} // namespace td_test
