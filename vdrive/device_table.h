// What both doors of the virtual drive share: the devices of the INI named by
// TUNEDECK_VDRIVE, taken up afresh whenever the file changes, and the log of
// every command and every problem. Call everything here with the lock held
// (platform.h's Locked).
#pragma once
#include <cstdint>

#include "vdrive/cue_image.h"
#include "vdrive/drive_config.h"
#include "vdrive/scsi_target.h"

namespace vdrive {

constexpr char kConfigVariable[] = "TUNEDECK_VDRIVE";
constexpr unsigned kMaxCdbBytes = 16;

struct Device {
    bool used;
    uint8_t adapter, target;
    int order; // its place among the INI's [device] sections
    uint32_t delayMs, hangMs;
    ScsiTarget scsi;
    CueImage* image;
    char imagePath[kMaxConfigPath];
};

struct DeviceTable {
    bool configured; // an INI is in force
    uint8_t supportStatus;
    int adapters;
    SendResult sendResult;
    Device devices[kMaxDevices];
};

// The table as the INI now has it, read again if the file changed.
DeviceTable& RefreshedTable();
// The table as it stands.
DeviceTable& Table();

Device* FindDevice(uint8_t adapter, uint8_t target);
// The device of the `order`th [device] section (from 0), or nullptr.
Device* DeviceInOrder(int order);

// Lets go of every device and disc, as when the INI is gone.
void Unconfigure();

// One line of the command log.
struct CommandRecord {
    uint8_t adapter, target, lun;
    uint8_t flags; // ASPI's SRB_Flags; over SG_IO the SRB_DIR_* bit of the direction
    uint32_t bufLen;
    const uint8_t* cdb;
    unsigned cdbLen;
    uint8_t status, haStat, targStat; // as ASPI reports them
    ScsiSense sense;
    const char* frames; // a READ CD's marks, as ScsiResult has them; null: none delivered
};

void LogCommand(const CommandRecord& c);
void Logf(const char* format, ...);

} // namespace vdrive
