// Shared by the drive control tests.
#pragma once
#include "cd/cd_drive.h"
#include "drive_bench.h"
#include "support/vdrive_fixture.h"

#include <string>

namespace td_test {

// "BE 04 00 ..." as the tests write CDBs.
std::string HexBytes(const Bytes& bytes);

using Drives = std::vector<std::pair<int, int>>;

// The drive table as (adapter, target) pairs, scanning first if need be.
Drives FoundDrives();

// A drive layer aimed at one (adapter, target), as the player aims it.
class AimedDrive : public CdDrive {
  public:
    AimedDrive(int adapter, int target) {
        adapter_ = adapter;
        target_ = target;
    }
};

} // namespace td_test
