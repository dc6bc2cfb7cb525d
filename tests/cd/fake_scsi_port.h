// A platform whose CD-ROM devices answer IOCTL_SCSI_PASS_THROUGH_DIRECT with
// the virtual drive's own command logic, put behind the pass-through transport.
//
//   FakeScsiPort port;                          // in place until it goes
//   FakeCdRom& d = port.Add('E', 1, 3);         // \\.\E:, port 1, target 3
//   d.Insert(MakeDisc("300 200").cuePath);      // UNIT ATTENTION once, as on a drive
//   d.scsi.SetTray(true);                       // the device's state, directly
//   ... GetCdDriveCount(), RunSrb(...) ...
//   port.calls                                  // every pass-through, in order
//
// Like a port driver it refuses a malformed request (wrong Length, a length
// without a direction, a buffer off the adapter's alignment) with
// ERROR_INVALID_PARAMETER, and sends data only to a DATA_IN buffer.
#pragma once
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "vdrive/cue_image.h"
#include "vdrive/scsi_target.h"

namespace td_test {

struct FakeCdRom {
    char letter = 0;
    bool opens = true;          // CreateFile on \\.\X: succeeds
    bool answersAddress = true; // IOCTL_SCSI_GET_ADDRESS
    SCSI_ADDRESS address = {sizeof(SCSI_ADDRESS), 0, 0, 0, 0};
    bool answersCapabilities = true; // IOCTL_SCSI_GET_CAPABILITIES
    ULONG alignmentMask = 0;
    bool fails = false; // every pass-through fails (ERROR_IO_DEVICE)
    // Every command takes this long; one that would outlast the request's
    // TimeOutValue ends in ERROR_SEM_TIMEOUT, as the port driver reports it
    // then (the fake does not wait it out).
    DWORD hangMs = 0;
    DWORD delayMs = 0;
    vdrive::ScsiTarget scsi;

    // Loads the disc of a .cue (empty: none) into the device, which does not
    // notice: false when the image cannot be read.
    bool Load(const std::string& cuePath);
    // Loads it, closes the tray and lets the device see a new disc.
    bool Insert(const std::string& cuePath);
    const std::string& DiscPath() const { return discPath_; }
    bool HasDisc() const { return image_ != nullptr; }

  private:
    std::unique_ptr<vdrive::CueImage> image_;
    std::string discPath_;
};

// One IOCTL_SCSI_PASS_THROUGH_DIRECT as a device got it, and how it ended.
struct PassThroughCall {
    char letter;
    int port, target; // the device's own address
    SCSI_PASS_THROUGH_DIRECT sent;
    Bytes cdb;
    bool succeeded;
    DWORD error; // when it failed
    BYTE scsiStatus;
    BYTE senseKey, asc, ascq; // with CHECK CONDITION
};

struct OpenCall {
    std::string path;
    DWORD access, share, disposition;
};

class FakeScsiPort {
  public:
    FakeScsiPort();
    ~FakeScsiPort();
    FakeScsiPort(const FakeScsiPort&) = delete;
    FakeScsiPort& operator=(const FakeScsiPort&) = delete;

    // A CD-ROM device at drive letter `letter`, reporting (port, target).
    FakeCdRom& Add(char letter, int port, int target);
    FakeCdRom* Find(char letter);
    void Remove(char letter); // unplugged: its handle fails from now on

    std::string fixedLetters = "CZ"; // hard disks the platform lists too
    std::vector<PassThroughCall> calls;
    std::vector<OpenCall> opened;
    std::vector<char> closed;

  private:
    std::vector<std::unique_ptr<FakeCdRom>> devices_;
};

} // namespace td_test
