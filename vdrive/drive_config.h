// The virtual drive's configuration: an INI file with one [device] section per
// emulated device and one [aspi] section for the library itself.
//
//   [aspi]
//   support-status = 1      status byte that GetASPI32SupportInfo reports
//   adapters = 2            adapter count; default one more than the highest used
//   send-result = pending   or comp, error, invalid: what SendASPI32Command answers at once
//   log = vdrive.log        one line per command, and every problem met
//
//   [device]
//   adapter = 0             0-254
//   target = 2              0-15
//   type = cdrom            cdrom (INQUIRY 0x05), cdrom-qualified (0x25) or disk (0x00)
//   image = discs\a.cue     empty: no disc
//   tray = closed           or open
//   read-error = 1000-1025, 5000   READ CD there fails with MEDIUM ERROR
//   damaged = 300-309, 520  a fresh read there is now and then wrong, with GOOD status
//   damage-odds = 30        percent of the fresh reads of a damaged frame that are wrong
//   garbled = 700-702       every fresh read there is wrong, never twice the same way
//   cache-frames = 0        the last frames read (up to 8192) come back as they came,
//                           until the medium changes
//   c2 = on                 READ CD's error pointers flag the wrong bytes; off: they
//                           never flag any; refused: READ CD with them is refused
//   damage-seed = 1         the noise of damaged and garbled frames starts from it
//   delay-ms = 0            added to every command
//   hang-ms = 0             every command completes only this long after it was sent
//   unit-attention = on     the first media command after a disc comes in fails once
//
// Relative paths are taken from the INI file's folder. Lines starting with ; or #
// are comments. The parser is plain C++ without Windows, so it can be exercised
// natively; reading the file is in drive_config_file.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vdrive/scsi_target.h"

namespace vdrive {

constexpr int kMaxDevices = 32;
constexpr int kMaxAdapterId = 254; // the adapter count travels in one byte
constexpr int kMaxTargetId = 15;
constexpr int kAdaptersFromDevices = -1;
constexpr size_t kMaxConfigPath = 260; // MAX_PATH

enum class SendResult : uint8_t { Pending, Comp, Error, Invalid };

struct DeviceConfig {
    int line; // of its [device] header, for messages
    uint8_t adapter;
    uint8_t target;
    uint8_t type; // INQUIRY byte 0
    bool trayOpen;
    bool unitAttention;
    char image[kMaxConfigPath]; // full path of the .cue; empty: no disc
    LbaRanges readErrors;
    DamageConfig damage;
    uint32_t delayMs;
    uint32_t hangMs;
};

struct DriveConfig {
    uint8_t supportStatus;
    int adapters; // kAdaptersFromDevices until parsed
    SendResult sendResult;
    char log[kMaxConfigPath]; // full path; empty: no log
    int deviceCount;
    DeviceConfig devices[kMaxDevices];
};

// Receives one line about a problem in the file.
using ConfigLog = void (*)(void* ctx, const char* line);

// Parses INI text. A bad key or value is reported and left at its default; a
// section that cannot be used is reported and skipped. Relative paths are taken
// from `iniDir`.
void ParseDriveConfig(const char* text, size_t length, const char* iniDir, DriveConfig* config,
                      ConfigLog log, void* ctx);

// Reads and parses the file; false (and nothing parsed) when it cannot be read.
bool LoadDriveConfig(const char* iniPath, DriveConfig* config, ConfigLog log, void* ctx);

} // namespace vdrive
