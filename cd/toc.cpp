#include "cd/toc.h"

#include <cstring>

namespace {

constexpr size_t kLengthFieldSize = 2; // the data length counts the bytes after itself
constexpr size_t kAddressOffset = 4;   // within a descriptor

size_t AddressOffset(int index) {
    return kTocHeaderSize + index * kTocDescriptorSize + kAddressOffset;
}

} // namespace

bool CheckTocReply(const uint8_t* reply, TocHeader* header) {
    size_t dataLength = (size_t(reply[0]) << 8) | reply[1];
    int last = reply[3];
    if (last > kMaxTrackNumber) return false;
    if (dataLength + kLengthFieldSize < kTocHeaderSize + (last + 1) * kTocDescriptorSize)
        return false;
    header->first = reply[2];
    header->last = last;
    return true;
}

uint32_t ConvertTocAddresses(uint8_t* reply, int last) {
    for (int i = 0; i <= last; i++) {
        uint8_t* at = reply + AddressOffset(i);
        uint32_t host =
            (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | at[3];
        memcpy(at, &host, sizeof host);
    }
    return TocAddress(reply, last);
}

uint32_t TocAddress(const uint8_t* reply, int index) {
    uint32_t address;
    memcpy(&address, reply + AddressOffset(index), sizeof address);
    return address;
}

uint32_t TocTrackStart(const TocTable& toc, int track) {
    if (!toc.reply) return 0;
    if (track > toc.last) return toc.leadOut;
    return TocAddress(toc.reply, track <= 0 ? 0 : track - 1);
}

uint32_t TocTrackLength(const TocTable& toc, int track) {
    if (track < toc.first || track > toc.last) return 0;
    return TocTrackStart(toc, track + 1) - TocTrackStart(toc, track);
}

uint32_t TocDiscEnd(uint32_t leadOut) {
    return leadOut > kDiscEndMargin ? leadOut - kDiscEndMargin : leadOut;
}

int TocTrackOfAddress(const TocTable& toc, uint32_t address) {
    for (int t = toc.first; t <= toc.last; t++)
        if (TocTrackStart(toc, t) <= address && address < TocTrackStart(toc, t + 1)) return t;
    return 0;
}
