// Shared by the drive control tests.
#pragma once
#include "cd/cd_drive.h"
#include "support/vdrive_fixture.h"

#include <string>

namespace td_test {

// "BE 04 00 ..." as the tests write CDBs.
std::string HexBytes(const Bytes& bytes);

// The logged commands as "flags buflen: CDB", e.g. "48 804: 43 00 00 00 00 00 00 03 24 00".
std::vector<std::string> CommandSummaries(const VirtualDrive& drive);

// A drive layer aimed at one (adapter, target), as the player aims it.
class AimedDrive : public CdDrive {
  public:
    AimedDrive(int adapter, int target) {
        adapter_ = adapter;
        target_ = target;
    }
};

} // namespace td_test
