// READ TOC replies as a drive might send them, however wrong: the reply check,
// the conversion in place, and every question the player asks of a loaded
// table. Input: the reply (zero-filled to its full size), then any number of
// 4-byte addresses to look up besides those the table itself suggests.
#include "cd/toc.h"
#include "fuzz_check.h"

#include <cstring>
#include <vector>

namespace {

constexpr size_t kAddressBytes = 4;
constexpr size_t kAddressAt = 4; // within a descriptor
constexpr size_t kFirstAt = 2, kLastAt = 3;
// Track numbers the player may ask about: PlayTrack takes anything up to the
// count, StepTrack and the shell ask first - 1 to last + 1.
constexpr int kLowestAsked = -2;
constexpr int kAskedPastLast = 2;

uint32_t BigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t LittleEndian(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool IsConvertedAddress(size_t offset, int last) {
    if (offset < kTocHeaderSize) return false;
    size_t d = (offset - kTocHeaderSize) / kTocDescriptorSize;
    size_t within = (offset - kTocHeaderSize) % kTocDescriptorSize;
    return int(d) <= last && within >= kAddressAt && within < kAddressAt + kAddressBytes;
}

// What TrackOfAddress must answer, worked out the long way.
int ExpectedTrackOf(const TocTable& toc, uint32_t a) {
    for (int t = toc.first; t <= toc.last; t++) {
        uint32_t from = TocTrackStart(toc, t), to = TocTrackStart(toc, t + 1);
        if (from <= a && a < to) return t;
    }
    return 0;
}

void AskEverything(const TocTable& toc, const std::vector<uint32_t>& addresses) {
    for (int t = kLowestAsked; t <= toc.last + kAskedPastLast; t++) {
        TocTrackStart(toc, t);
        TocTrackLength(toc, t);
    }
    TocDiscEnd(toc.leadOut);
    for (uint32_t a : addresses) TocTrackOfAddress(toc, a);
}

void CheckLoadedTable(const TocTable& toc, const uint8_t* original,
                      const std::vector<uint32_t>& extra) {
    FUZZ_CHECK(TocTrackStart(toc, 0) == TocTrackStart(toc, 1));
    FUZZ_CHECK(TocTrackStart(toc, -1) == TocTrackStart(toc, 1));
    FUZZ_CHECK(TocTrackStart(toc, toc.last + 1) == toc.leadOut);
    FUZZ_CHECK(TocTrackStart(toc, kMaxTrackNumber + 1) == toc.leadOut);
    for (int t = 1; t <= toc.last; t++) {
        const uint8_t* d = original + kTocHeaderSize + (t - 1) * kTocDescriptorSize;
        FUZZ_CHECK(TocTrackStart(toc, t) == BigEndian(d + kAddressAt));
    }
    for (int t = kLowestAsked; t <= toc.last + kAskedPastLast; t++) {
        uint32_t length = TocTrackLength(toc, t);
        if (t < toc.first || t > toc.last)
            FUZZ_CHECK(length == 0);
        else
            FUZZ_CHECK(length == TocTrackStart(toc, t + 1) - TocTrackStart(toc, t));
    }
    uint32_t end = TocDiscEnd(toc.leadOut);
    FUZZ_CHECK(toc.leadOut > kDiscEndMargin ? end == toc.leadOut - kDiscEndMargin
                                            : end == toc.leadOut);

    std::vector<uint32_t> addresses = extra;
    for (int t = 1; t <= toc.last + 1; t++) {
        uint32_t s = TocTrackStart(toc, t);
        for (uint32_t a : {s - 1, s, s + 1}) addresses.push_back(a);
    }
    for (uint32_t a : {0u, 0xFFFFFFFFu, end, end - 1}) addresses.push_back(a);
    for (uint32_t a : addresses) {
        int t = TocTrackOfAddress(toc, a);
        FUZZ_CHECK(t == ExpectedTrackOf(toc, a));
        if (t == 0) continue;
        FUZZ_CHECK(t >= toc.first && t <= toc.last);
        FUZZ_CHECK(TocTrackStart(toc, t) <= a && a < TocTrackStart(toc, t + 1));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the table's size on the heap, so a read past it is caught.
    std::vector<uint8_t> original(kTocBufferSize, 0);
    std::memcpy(original.data(), data, size < kTocBufferSize ? size : kTocBufferSize);
    std::vector<uint32_t> extra;
    for (size_t at = kTocBufferSize; at + kAddressBytes <= size; at += kAddressBytes)
        extra.push_back(LittleEndian(data + at));
    uint8_t* reply = new uint8_t[kTocBufferSize];
    std::memcpy(reply, original.data(), kTocBufferSize);

    TocHeader header = {};
    if (CheckTocReply(reply, &header)) {
        FUZZ_CHECK(header.first == original[kFirstAt] && header.last == original[kLastAt]);
        FUZZ_CHECK(header.last <= kMaxTrackNumber);
        FUZZ_CHECK(std::memcmp(reply, original.data(), kTocBufferSize) == 0);
        uint32_t leadOut = ConvertTocAddresses(reply, header.last);
        const uint8_t* lastDescriptor =
            original.data() + kTocHeaderSize + header.last * kTocDescriptorSize;
        FUZZ_CHECK(leadOut == BigEndian(lastDescriptor + kAddressAt));
        for (size_t i = 0; i < kTocBufferSize; i++)
            if (!IsConvertedAddress(i, header.last)) FUZZ_CHECK(reply[i] == original[i]);
        for (int d = 0; d <= header.last; d++)
            FUZZ_CHECK(TocAddress(reply, d) == BigEndian(original.data() + kTocHeaderSize +
                                                         d * kTocDescriptorSize + kAddressAt));
        TocTable toc = {reply, header.first, header.last, leadOut};
        if (header.last - header.first + 1 > 0)
            CheckLoadedTable(toc, original.data(), extra);
        else
            AskEverything(toc, extra); // refused by the player, which keeps these numbers
    } else {
        // A refused reply leaves the numbers of the one before; any mix of
        // those with this buffer must still be safe to ask.
        TocTable toc = {reply, original[kFirstAt], original[kLastAt] % (kMaxTrackNumber + 1),
                        BigEndian(original.data())};
        AskEverything(toc, extra);
    }
    TocTable empty = {nullptr, 0, 0, 0};
    AskEverything(empty, extra);
    FUZZ_CHECK(TocTrackStart(empty, 1) == 0 && TocTrackOfAddress(empty, 0) == 0);
    delete[] reply;
    return 0;
}
