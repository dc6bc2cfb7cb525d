#include "cd_test_util.h"

#include "cd/drive_scan.h"

#include <cstdio>

namespace td_test {

std::string HexBytes(const Bytes& bytes) {
    std::string s;
    char hex[4];
    for (BYTE b : bytes) {
        std::snprintf(hex, sizeof hex, s.empty() ? "%02X" : " %02X", b);
        s += hex;
    }
    return s;
}

Drives FoundDrives() {
    Drives found;
    int n = GetCdDriveCount();
    for (int i = 0; i < n; i++) found.emplace_back(CdDriveAt(i).adapter, CdDriveAt(i).target);
    return found;
}

} // namespace td_test
