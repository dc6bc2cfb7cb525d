#include "cd_test_util.h"

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

std::vector<std::string> CommandSummaries(const VirtualDrive& drive) {
    std::vector<std::string> out;
    char head[32];
    for (const VLogLine& l : drive.Commands()) {
        std::snprintf(head, sizeof head, "%02X %lu: ", l.flags, l.bufLen);
        out.push_back(head + HexBytes(l.cdb));
    }
    return out;
}

} // namespace td_test
