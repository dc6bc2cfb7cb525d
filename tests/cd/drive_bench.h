// The same virtual drives behind either transport, so that one scenario runs
// over both: over ASPI the virtual WNASPI32, over pass-through Wine's own
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the stand-in devices of the SG_IO library,
// which read the very same INI (./test loads the library and maps the devices).
//
//   DriveBench drive(GetParam());
//   drive.AddCdRom(0, 3, disc.cuePath);   // as with VirtualDrive
//   drive.Apply();
//   ... LockTray(0, 3) ...
//   CommandSummaries(drive)               // what reached the devices, in order
#pragma once
#include "cd/aspi.h"
#include "fake_scsi_port.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace td_test {

enum class Transport { Aspi, PassThrough };

// "Aspi" or "PassThrough", as parameterised tests are named.
void PrintTo(Transport transport, std::ostream* os);
inline const auto kBothTransports = ::testing::Values(Transport::Aspi, Transport::PassThrough);

class DriveBench : public VirtualDrive {
  public:
    // Over pass-through RunSrb goes there from the start, as after a scan that
    // found nothing through ASPI. Over ASPI an empty fake port stands in for
    // the platform, so a fallback finds nothing, whatever the machine has.
    explicit DriveBench(Transport transport);

    // One line per command that reached a device. Over pass-through `flags`
    // holds the request's DataIn (SCSI_IOCTL_DATA_*).
    std::vector<VLogLine> Commands() const;

    // A command as CommandSummaries writes it over ASPI ("40 16: 42 02 ..."),
    // as it reads over this bench's transport: over pass-through the flags
    // give way to the direction that the buffer implies ("in 16: 42 02 ...").
    std::string Sent(const std::string& overAspi) const;

    const Transport transport;

  private:
    std::unique_ptr<FakeScsiPort> blankPlatform_;
};

// The commands as "flags buflen: CDB" (over pass-through "in|out|none buflen: CDB").
std::vector<std::string> CommandSummaries(const DriveBench& drive);

// A READ CD block as the player keeps it, aimed at a buffer of its own.
struct ReadBlock {
    static constexpr BYTE kUntouched = 0xA5; // the buffer's bytes before any read
    ReadBlock(int adapter, int target, DWORD frames);
    SRB_ExecSCSICmd srb = {};
    Bytes data;
};

using Drives = std::vector<std::pair<int, int>>;

// The drive table as (adapter, target) pairs, scanning first if need be.
Drives FoundDrives();

} // namespace td_test
