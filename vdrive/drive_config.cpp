#include "vdrive/drive_config.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vdrive {

namespace {

constexpr uint8_t kDefaultSupportStatus = 1; // SS_COMP
constexpr uint32_t kMaxWaitMs = 3600000;
constexpr int kMaxByte = 255;
constexpr uint32_t kPercent = 100;
constexpr int kMessageChars = 320;
constexpr int kShownChars = 60;
constexpr int kMaxNumberDigits = 10;
constexpr int kHexBase = 16, kDecimalBase = 10;

struct Text {
    const char* p;
    size_t n;
};

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Keys and words are ASCII; case does not matter.
bool Is(Text t, const char* s) {
    size_t n = std::strlen(s);
    if (t.n != n) return false;
    for (size_t i = 0; i < n; i++)
        if (Upper(t.p[i]) != Upper(s[i])) return false;
    return true;
}

Text Trim(Text t) {
    while (t.n && (*t.p == ' ' || *t.p == '\t')) t.p++, t.n--;
    while (t.n && (t.p[t.n - 1] == ' ' || t.p[t.n - 1] == '\t')) t.n--;
    return t;
}

int Shown(Text t) {
    return t.n < size_t(kShownChars) ? int(t.n) : kShownChars;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal, or hexadecimal after 0x; at most `max`.
bool ParseNumber(Text t, uint32_t max, uint32_t* value) {
    int base = kDecimalBase;
    if (t.n > 2 && t.p[0] == '0' && (t.p[1] == 'x' || t.p[1] == 'X')) {
        base = kHexBase;
        t.p += 2;
        t.n -= 2;
    }
    if (t.n == 0 || t.n > size_t(kMaxNumberDigits)) return false;
    unsigned long long v = 0;
    for (size_t i = 0; i < t.n; i++) {
        int d = HexDigit(t.p[i]);
        if (d < 0 || d >= base) return false;
        v = v * unsigned(base) + unsigned(d);
    }
    if (v > max) return false;
    *value = uint32_t(v);
    return true;
}

// "1000-1025, 5000"
bool ParseRanges(Text t, LbaRanges* ranges) {
    int n = 0;
    size_t i = 0;
    while (i < t.n) {
        size_t end = i;
        while (end < t.n && t.p[end] != ',') end++;
        Text item = Trim({t.p + i, end - i});
        const char* dash = static_cast<const char*>(std::memchr(item.p, '-', item.n));
        uint32_t first, last;
        if (dash) {
            Text a = Trim({item.p, size_t(dash - item.p)});
            Text b = Trim({dash + 1, item.n - size_t(dash - item.p) - 1});
            if (!ParseNumber(a, UINT32_MAX, &first) || !ParseNumber(b, UINT32_MAX, &last))
                return false;
        } else if (!ParseNumber(item, UINT32_MAX, &first)) {
            return false;
        } else {
            last = first;
        }
        if (last < first || n >= kMaxLbaRanges) return false;
        ranges->items[n++] = {first, last};
        i = end + 1;
    }
    ranges->count = n;
    return true;
}

bool ParseSwitch(Text t, bool* on) {
    if (Is(t, "on") || Is(t, "yes") || Is(t, "true") || Is(t, "1")) return *on = true, true;
    if (Is(t, "off") || Is(t, "no") || Is(t, "false") || Is(t, "0")) return *on = false, true;
    return false;
}

bool IsAbsolute(Text t) {
    return (t.n >= 2 && t.p[1] == ':') || (t.n >= 1 && (t.p[0] == '\\' || t.p[0] == '/'));
}

bool ResolvePath(Text t, const char* dir, char* out) {
    out[0] = 0;
    if (t.n == 0) return true;
    int n = IsAbsolute(t) || !dir[0]
                ? std::snprintf(out, kMaxConfigPath, "%.*s", int(t.n), t.p)
                : std::snprintf(out, kMaxConfigPath, "%s\\%.*s", dir, int(t.n), t.p);
    if (n < 0 || size_t(n) >= kMaxConfigPath) {
        out[0] = 0;
        return false;
    }
    return true;
}

enum class Section { None, Aspi, Device, Ignored };

struct Parser {
    const char* dir;
    DriveConfig* config;
    ConfigLog log;
    void* ctx;
    int lineNo = 0;
    Section section = Section::None;

    void Say(const char* format, ...) {
        char message[kMessageChars];
        int n = std::snprintf(message, sizeof message, "line %d: ", lineNo);
        va_list args;
        va_start(args, format);
        std::vsnprintf(message + n, sizeof message - size_t(n), format, args);
        va_end(args);
        log(ctx, message);
    }

    void BadValue(Text key, Text value, const char* expected) {
        Say("%.*s = %.*s: expected %s", Shown(key), key.p, Shown(value), value.p, expected);
    }

    DeviceConfig* Device() { return &config->devices[config->deviceCount - 1]; }

    // A device is kept only once its section is complete, if no other holds its place.
    void FinishDevice() {
        if (section != Section::Device) return;
        const DeviceConfig* d = Device();
        for (int i = 0; i + 1 < config->deviceCount; i++) {
            const DeviceConfig& o = config->devices[i];
            if (o.adapter == d->adapter && o.target == d->target) {
                char message[kMessageChars];
                std::snprintf(message, sizeof message,
                              "line %d: a second device at adapter %u target %u is ignored",
                              d->line, d->adapter, d->target);
                log(ctx, message);
                config->deviceCount--;
                return;
            }
        }
    }

    void OnSection(Text name) {
        FinishDevice();
        if (Is(name, "aspi")) {
            section = Section::Aspi;
        } else if (Is(name, "device")) {
            if (config->deviceCount >= kMaxDevices) {
                Say("more than %d devices; this one is ignored", kMaxDevices);
                section = Section::Ignored;
                return;
            }
            DeviceConfig* d = &config->devices[config->deviceCount++];
            std::memset(d, 0, sizeof *d);
            d->line = lineNo;
            d->type = kDeviceCdRom;
            d->unitAttention = true;
            d->damage.odds = kDefaultDamageOdds;
            d->damage.seed = kDefaultDamageSeed;
            d->damage.c2 = C2Mode::On;
            section = Section::Device;
        } else {
            Say("unknown section [%.*s] is ignored", Shown(name), name.p);
            section = Section::Ignored;
        }
    }

    void OnAspiKey(Text key, Text value) {
        uint32_t n;
        if (Is(key, "support-status")) {
            if (ParseNumber(value, kMaxByte, &n))
                config->supportStatus = uint8_t(n);
            else
                BadValue(key, value, "a number from 0 to 255");
        } else if (Is(key, "adapters")) {
            if (ParseNumber(value, kMaxByte, &n))
                config->adapters = int(n);
            else
                BadValue(key, value, "a number from 0 to 255");
        } else if (Is(key, "send-result")) {
            if (Is(value, "pending"))
                config->sendResult = SendResult::Pending;
            else if (Is(value, "comp"))
                config->sendResult = SendResult::Comp;
            else if (Is(value, "error"))
                config->sendResult = SendResult::Error;
            else if (Is(value, "invalid"))
                config->sendResult = SendResult::Invalid;
            else
                BadValue(key, value, "pending, comp, error or invalid");
        } else if (Is(key, "log")) {
            if (!ResolvePath(value, dir, config->log)) BadValue(key, value, "a shorter path");
        } else {
            Say("unknown key '%.*s' in [aspi]", Shown(key), key.p);
        }
    }

    void OnDeviceKey(Text key, Text value) {
        DeviceConfig* d = Device();
        uint32_t n;
        if (Is(key, "adapter")) {
            if (ParseNumber(value, kMaxAdapterId, &n))
                d->adapter = uint8_t(n);
            else
                BadValue(key, value, "a number from 0 to 254");
        } else if (Is(key, "target")) {
            if (ParseNumber(value, kMaxTargetId, &n))
                d->target = uint8_t(n);
            else
                BadValue(key, value, "a number from 0 to 15");
        } else if (Is(key, "type")) {
            if (Is(value, "cdrom"))
                d->type = kDeviceCdRom;
            else if (Is(value, "cdrom-qualified"))
                d->type = kDeviceCdRomQualified;
            else if (Is(value, "disk"))
                d->type = kDeviceDisk;
            else
                BadValue(key, value, "cdrom, cdrom-qualified or disk");
        } else if (Is(key, "image")) {
            if (!ResolvePath(value, dir, d->image)) BadValue(key, value, "a shorter path");
        } else if (Is(key, "tray")) {
            if (Is(value, "open"))
                d->trayOpen = true;
            else if (Is(value, "closed"))
                d->trayOpen = false;
            else
                BadValue(key, value, "open or closed");
        } else if (Is(key, "read-error") || Is(key, "damaged") || Is(key, "garbled")) {
            LbaRanges* ranges = Is(key, "read-error") ? &d->readErrors
                                : Is(key, "damaged")  ? &d->damage.damaged
                                                      : &d->damage.garbled;
            if (!ParseRanges(value, ranges)) {
                ranges->count = 0;
                BadValue(key, value, "addresses and ranges such as 1000-1025, 5000");
            }
        } else if (Is(key, "damage-odds")) {
            if (!ParseNumber(value, kPercent, &d->damage.odds))
                BadValue(key, value, "a percentage from 0 to 100");
        } else if (Is(key, "cache-frames")) {
            if (!ParseNumber(value, kMaxCacheFrames, &d->damage.cacheFrames))
                BadValue(key, value, "a number of frames from 0 to 8192");
        } else if (Is(key, "damage-seed")) {
            if (!ParseNumber(value, UINT32_MAX, &d->damage.seed)) BadValue(key, value, "a number");
        } else if (Is(key, "c2")) {
            if (Is(value, "on"))
                d->damage.c2 = C2Mode::On;
            else if (Is(value, "off"))
                d->damage.c2 = C2Mode::Off;
            else if (Is(value, "refused"))
                d->damage.c2 = C2Mode::Refused;
            else
                BadValue(key, value, "on, off or refused");
        } else if (Is(key, "delay-ms") || Is(key, "hang-ms")) {
            if (ParseNumber(value, kMaxWaitMs, &n))
                (Is(key, "delay-ms") ? d->delayMs : d->hangMs) = n;
            else
                BadValue(key, value, "milliseconds, at most 3600000");
        } else if (Is(key, "unit-attention")) {
            if (!ParseSwitch(value, &d->unitAttention)) BadValue(key, value, "on or off");
        } else {
            Say("unknown key '%.*s' in [device]", Shown(key), key.p);
        }
    }

    void OnLine(Text line) {
        line = Trim(line);
        if (line.n == 0 || line.p[0] == ';' || line.p[0] == '#') return;
        if (line.p[0] == '[') {
            if (line.p[line.n - 1] != ']') return Say("a section name needs a closing ]");
            return OnSection(Trim({line.p + 1, line.n - 2}));
        }
        const char* eq = static_cast<const char*>(std::memchr(line.p, '=', line.n));
        if (!eq) return Say("expected key = value");
        Text key = Trim({line.p, size_t(eq - line.p)});
        Text value = Trim({eq + 1, line.n - size_t(eq - line.p) - 1});
        if (value.n >= 2 && value.p[0] == '"' && value.p[value.n - 1] == '"')
            value = {value.p + 1, value.n - 2};
        switch (section) {
            case Section::None: return Say("'%.*s' stands outside a section", Shown(key), key.p);
            case Section::Aspi: return OnAspiKey(key, value);
            case Section::Device: return OnDeviceKey(key, value);
            case Section::Ignored: return;
        }
    }
};

} // namespace

void ParseDriveConfig(const char* text, size_t length, const char* iniDir, DriveConfig* config,
                      ConfigLog log, void* ctx) {
    std::memset(config, 0, sizeof *config);
    config->supportStatus = kDefaultSupportStatus;
    config->adapters = kAdaptersFromDevices;
    config->sendResult = SendResult::Pending;
    Parser parser;
    parser.dir = iniDir;
    parser.config = config;
    parser.log = log;
    parser.ctx = ctx;
    size_t i = 0;
    while (i < length) {
        size_t end = i;
        while (end < length && text[end] != '\n') end++;
        size_t n = end - i;
        if (n && text[i + n - 1] == '\r') n--;
        parser.lineNo++;
        parser.OnLine({text + i, n});
        i = end + 1;
    }
    parser.FinishDevice();
    if (config->adapters == kAdaptersFromDevices) {
        config->adapters = 0;
        for (int d = 0; d < config->deviceCount; d++)
            if (config->devices[d].adapter >= config->adapters)
                config->adapters = config->devices[d].adapter + 1;
    }
}

} // namespace vdrive
