// A platform whose CD-ROM devices answer IOCTL_SCSI_PASS_THROUGH_DIRECT with
// the virtual drive's own command logic, put behind the pass-through transport.
//
//   FakeScsiPort port;                          // in place until it goes
//   FakeCdRom& d = port.Add('E', 1, 3);         // \\.\E:, port 1, target 3
//   d.Load(MakeDisc("300 200").cuePath);        // the disc in the tray
//   d.scsi.SetTray(true);                       // the device's state, directly
//   ... GetCdDriveCount(), RunSrb(...) ...
//   port.calls                                  // every pass-through, in order
//
// Like a port driver it refuses a malformed request (wrong Length, a length
// without a direction, a buffer off the adapter's alignment) with
// ERROR_INVALID_PARAMETER, and sends data only to a DATA_IN buffer; like the
// platform it opens a device for pass-through only as an existing one, for
// reading and writing, shared both ways.
#pragma once
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <deque>
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
    ULONG alignmentMask = 0;
    bool fails = false; // every pass-through fails (ERROR_IO_DEVICE)
    // Every command takes this long; one that would outlast the request's
    // TimeOutValue ends at once in ERROR_SEM_TIMEOUT, as the port driver
    // reports it once the time is up.
    DWORD hangMs = 0;
    vdrive::ScsiTarget scsi;
    std::string disc; // the .cue of the disc in the tray, empty for none

    // Puts the disc of a .cue (empty: none) in the device, which does not notice.
    void Load(const std::string& cuePath);

  private:
    std::unique_ptr<vdrive::CueImage> image_;
};

// One IOCTL_SCSI_PASS_THROUGH_DIRECT as a device got it, and how it ended.
struct PassThroughCall {
    char letter;
    int port, target; // the device's own address
    SCSI_PASS_THROUGH_DIRECT sent;
    Bytes cdb;
    int scsiStatus; // -1 when the call itself failed
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

    std::string fixedLetters = "CZ"; // hard disks the platform lists too
    std::vector<PassThroughCall> calls;
    std::vector<std::string> opened; // paths, as CreateFile got them
    std::vector<char> closed;

  private:
    std::deque<FakeCdRom> devices_;
};

} // namespace td_test
