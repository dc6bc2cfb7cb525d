// One emulated SCSI device: its medium, tray, lock and pending unit attention,
// and the commands a CD player sends it. Knows nothing of ASPI, so any
// pass-through transport can put it behind its own interface.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vdrive/cue_sheet.h"
#include "vdrive/frame_damage.h"

namespace vdrive {

// The bytes behind a disc: what its files hold (of a WAVE, its samples).
class ImageFiles {
  public:
    virtual ~ImageFiles() {}
    virtual bool Read(int file, uint64_t offset, void* dst, uint32_t bytes) = 0;
};

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

// INQUIRY byte 0: peripheral qualifier and device type.
constexpr uint8_t kDeviceCdRom = 0x05;
constexpr uint8_t kDeviceCdRomQualified = 0x25; // a CD-ROM type that is "not connected"
constexpr uint8_t kDeviceDisk = 0x00;

constexpr uint8_t kSenseNotReady = 0x02;
constexpr uint8_t kSenseMediumError = 0x03;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kSenseUnitAttention = 0x06;

constexpr uint8_t kOpReadCd = 0xBE;

constexpr size_t kSenseBytes = 18;      // fixed format
constexpr uint32_t kMaxFrameMarks = 64; // in a READ CD's log line; a + for more

struct ScsiSense {
    uint8_t key, asc, ascq;
    bool infoValid;
    uint32_t info; // the failing address of a READ CD
};

struct ScsiResult {
    uint8_t status;
    ScsiSense sense;                 // with CHECK CONDITION
    uint32_t transferred;            // bytes placed in the data buffer
    bool overrun;                    // the device had more to send than the buffer holds
    uint32_t frameCount;             // frames a READ CD delivered, whole or in part
    char frames[kMaxFrameMarks + 2]; // a mark for each (kMarkFresh...)
};

// Writes fixed-format sense data (response code 0x70) of kSenseBytes.
void FormatSense(const ScsiSense& sense, uint8_t* out);

class ScsiTarget {
  public:
    ScsiTarget();

    void SetDeviceType(uint8_t inquiryByte0);
    void SetUnitAttention(bool enabled);
    void SetReadErrors(const LbaRanges& ranges);
    void SetDamage(const DamageConfig& damage);
    // The disc in the tray, or none; the target does not own it.
    void SetMedium(const DiscLayout* layout, ImageFiles* files);
    void SetTray(bool open);
    // A disc has just come in: the next media command reports it once.
    void NoteMediumInserted();

    uint8_t DeviceType() const { return type_; }
    bool TrayOpen() const { return trayOpen_; }
    bool Locked() const { return locked_; }
    bool Ready() const { return layout_ && !trayOpen_; }

    // Runs one command block. Data goes to `data`, never past `dataLen` bytes.
    uint8_t Execute(const uint8_t* cdb, unsigned cdbLen, uint8_t* data, uint32_t dataLen,
                    ScsiResult* result);

  private:
    struct Request;

    bool MediaGate(Request& r);
    void Inquiry(Request& r);
    void StartStopUnit(Request& r);
    void ReadSubChannel(Request& r);
    void ReadToc(Request& r);
    void ReadSessionInfo(Request& r);
    void ReadCd(Request& r);
    bool ReadableAudio(uint32_t lba, Request& r) const;
    bool FetchFrames(uint32_t lba, uint32_t count, uint8_t* dst) const;
    uint32_t RunOfFrames(uint32_t lba, uint32_t limit, uint32_t room) const;
    void Deliver(Request& r, uint32_t lba, uint32_t index, uint8_t* frame, uint32_t c2Bytes);

    uint8_t type_;
    bool unitAttentionEnabled_;
    bool unitAttention_;
    bool trayOpen_;
    bool locked_;
    const DiscLayout* layout_;
    ImageFiles* files_;
    uint32_t position_; // address of the last READ CD, for READ SUB-CHANNEL
    LbaRanges readErrors_;
    C2Mode c2Mode_;
    FrameDamage damage_;
};

} // namespace vdrive
