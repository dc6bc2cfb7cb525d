// The same virtual drives behind either transport, so that one scenario runs
// over both: over ASPI the virtual WNASPI32, over pass-through a FakeScsiPort
// whose devices follow the very same descriptions.
//
//   DriveBench drive(GetParam());
//   drive.AddCdRom(0, 3, disc.cuePath);   // as with VirtualDrive
//   drive.Apply();
//   ... LockTray(0, 3) ...
//   drive.Commands()                      // what reached the devices, in order
#pragma once
#include "fake_scsi_port.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace td_test {

enum class Transport { Aspi, PassThrough };

// "Aspi" or "PassThrough", as parameterised tests are named.
void PrintTo(Transport transport, std::ostream* os);

class DriveBench : public VirtualDrive {
  public:
    // Over pass-through RunSrb goes there from the start, as after a scan that
    // found nothing through ASPI. Over ASPI the port is there but empty, so a
    // fallback finds nothing, whatever the machine has.
    explicit DriveBench(Transport transport);

    Transport transport() const { return transport_; }

    // Takes effect at the next command, keeping each device's own state (tray
    // as its commands moved it, lock) as the virtual drive does. Over
    // pass-through `aspi` plays no part.
    bool Apply();

    // One line per command that reached a device. Over pass-through `flags`
    // holds the request's DataIn and `status` the ASPI status it maps to.
    std::vector<VLogLine> Commands() const;

    // A command as CommandSummaries writes it over ASPI ("40 16: 42 02 ..."),
    // as it reads over this bench's transport: over pass-through the flags
    // give way to the direction that the buffer implies ("in 16: 42 02 ...").
    std::string Sent(const std::string& overAspi) const;

    FakeScsiPort port;

  private:
    Transport transport_;
    std::map<std::pair<int, int>, char> letters_;
    char nextLetter_ = 'D';
};

// The commands as "flags buflen: CDB" (over pass-through "in|out|none buflen: CDB").
std::vector<std::string> CommandSummaries(const DriveBench& drive);

} // namespace td_test
