#include "vdrive/device_table.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vdrive/platform.h"

namespace vdrive {

namespace {

constexpr int kLogLineChars = 640;
constexpr int kNotesChars = 8192;
constexpr int kHexByteChars = 3; // "BE "
constexpr char kLineEnd[] = "\r\n";

struct State {
    DeviceTable table;
    // which file the configuration in force came from, and when it was written
    bool stamped;
    char iniPath[kMaxConfigPath];
    FileStamp iniStamp;
    char logPath[kMaxConfigPath];
};

State g_state;

void CopyPath(char* to, const char* from) {
    std::snprintf(to, kMaxConfigPath, "%s", from);
}

void WriteLog(const char* line) {
    char text[kLogLineChars + sizeof kLineEnd];
    int n = std::snprintf(text, sizeof text, "%s%s", line, kLineEnd);
    if (n < 0) return;
    if (n >= int(sizeof text)) n = int(sizeof text) - 1;
    AppendToFile(g_state.logPath, text, size_t(n));
}

void ReleaseDevice(Device& d) {
    d.scsi.SetMedium(nullptr, nullptr);
    delete d.image;
    d.image = nullptr;
    d.imagePath[0] = 0;
    d.used = false;
}

// The keys hold afresh: a disc counts as inserted when its path changed or the
// tray closed over it; an unchanged image is not read again.
void ApplyDevice(Device& d, const DeviceConfig& c) {
    d.delayMs = c.delayMs;
    d.hangMs = c.hangMs;
    d.scsi.SetDeviceType(c.type);
    d.scsi.SetUnitAttention(c.unitAttention);
    d.scsi.SetReadErrors(c.readErrors);
    d.scsi.SetDamage(c.damage);

    bool wasReady = d.scsi.Ready();
    bool closing = d.scsi.TrayOpen() && !c.trayOpen;
    bool reload = !SamePath(d.imagePath, c.image) || !d.image || closing;
    if (reload) {
        d.scsi.SetMedium(nullptr, nullptr);
        delete d.image;
        d.image = nullptr;
        CopyPath(d.imagePath, c.image);
        if (c.image[0]) {
            char error[kImageErrorChars];
            d.image = CueImage::Load(c.image, error, sizeof error);
            if (!d.image) Logf("image %s: %s", c.image, error);
        }
        if (d.image) d.scsi.SetMedium(&d.image->Layout(), d.image);
    }
    d.scsi.SetTray(c.trayOpen);
    if (d.scsi.Ready() && (!wasReady || reload)) d.scsi.NoteMediumInserted();
}

struct Notes {
    char text[kNotesChars];
    size_t used;
};

void CollectNote(void* ctx, const char* line) {
    Notes* notes = static_cast<Notes*>(ctx);
    size_t n = std::strlen(line);
    if (notes->used + n + 2 > sizeof notes->text) return;
    std::memcpy(notes->text + notes->used, line, n);
    notes->used += n;
    notes->text[notes->used++] = '\n';
    notes->text[notes->used] = 0;
}

void Apply(const DriveConfig& cfg, const Notes& notes) {
    DeviceTable& t = g_state.table;
    t.configured = true;
    t.supportStatus = cfg.supportStatus;
    t.adapters = cfg.adapters;
    t.sendResult = cfg.sendResult;
    CopyPath(g_state.logPath, cfg.log);
    for (const char* p = notes.text; *p;) {
        const char* end = std::strchr(p, '\n');
        Logf("ini %s %.*s", g_state.iniPath, int(end - p), p);
        p = end + 1;
    }

    for (Device& d : t.devices) {
        bool kept = false;
        for (int i = 0; i < cfg.deviceCount && d.used && !kept; i++)
            kept = cfg.devices[i].adapter == d.adapter && cfg.devices[i].target == d.target;
        if (d.used && !kept) ReleaseDevice(d);
    }
    for (int i = 0; i < cfg.deviceCount; i++) {
        const DeviceConfig& c = cfg.devices[i];
        Device* d = FindDevice(c.adapter, c.target);
        for (int k = 0; !d && k < kMaxDevices; k++) {
            Device& slot = t.devices[k];
            if (slot.used) continue;
            slot.scsi = ScsiTarget();
            slot.used = true;
            slot.adapter = c.adapter;
            slot.target = c.target;
            d = &slot;
        }
        if (!d) continue;
        d->order = i;
        ApplyDevice(*d, c);
    }
}

// Takes up the INI file when it is new or has changed.
void Refresh() {
    char path[kMaxConfigPath];
    if (!ReadEnvironment(kConfigVariable, path, sizeof path)) path[0] = 0;
    FileStamp stamp = {};
    bool exists = path[0] && StampOf(path, &stamp);
    if (g_state.stamped && SamePath(path, g_state.iniPath) && stamp.size == g_state.iniStamp.size &&
        stamp.time == g_state.iniStamp.time)
        return;
    g_state.stamped = true;
    CopyPath(g_state.iniPath, path);
    g_state.iniStamp = stamp;
    if (!exists) {
        if (path[0]) Logf("vdrive: %s names no file, so there are no adapters", kConfigVariable);
        Unconfigure();
        return;
    }
    HeapBlock cfgBlock(sizeof(DriveConfig));
    HeapBlock notesBlock(sizeof(Notes));
    DriveConfig* cfg = cfgBlock.As<DriveConfig>();
    Notes* notes = notesBlock.As<Notes>();
    if (notes) {
        notes->used = 0;
        notes->text[0] = 0;
    }
    if (!cfg || !notes || !LoadDriveConfig(path, cfg, CollectNote, notes)) {
        g_state.stamped = false; // keep what holds and try again at the next call
        return;
    }
    Apply(*cfg, *notes);
}

} // namespace

DeviceTable& RefreshedTable() {
    Refresh();
    return g_state.table;
}

DeviceTable& Table() {
    return g_state.table;
}

Device* FindDevice(uint8_t adapter, uint8_t target) {
    for (Device& d : g_state.table.devices)
        if (d.used && d.adapter == adapter && d.target == target) return &d;
    return nullptr;
}

Device* DeviceInOrder(int order) {
    for (Device& d : g_state.table.devices)
        if (d.used && d.order == order) return &d;
    return nullptr;
}

void Unconfigure() {
    DeviceTable& t = g_state.table;
    for (Device& d : t.devices)
        if (d.used) ReleaseDevice(d);
    t.configured = false;
    t.adapters = 0;
    t.sendResult = SendResult::Pending;
    g_state.logPath[0] = 0;
}

void Logf(const char* format, ...) {
    char line[kLogLineChars];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    WriteLog(line);
}

void LogCommand(const CommandRecord& c) {
    char cdb[kMaxCdbBytes * kHexByteChars + 1] = "";
    unsigned len = c.cdbLen < kMaxCdbBytes ? c.cdbLen : kMaxCdbBytes;
    for (unsigned i = 0; i < len; i++)
        std::snprintf(cdb + i * kHexByteChars, sizeof cdb - size_t(i) * kHexByteChars, "%02X ",
                      c.cdb[i]);
    if (len) cdb[len * kHexByteChars - 1] = 0; // no space after the last byte
    // A READ CD says how each frame came back, after everything the other lines have.
    bool readCd = len && c.cdb[0] == kOpReadCd;
    Logf("ha=%u target=%u lun=%u flags=%02X buflen=%lu cdb=%s status=%02X hastat=%02X "
         "targstat=%02X sense=%X/%02X/%02X%s%s",
         c.adapter, c.target, c.lun, c.flags, (unsigned long)c.bufLen, cdb, c.status, c.haStat,
         c.targStat, c.sense.key, c.sense.asc, c.sense.ascq, readCd ? " frames=" : "",
         readCd && c.frames ? c.frames : "");
}

} // namespace vdrive
