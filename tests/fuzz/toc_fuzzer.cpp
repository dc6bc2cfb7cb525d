// READ TOC replies as a drive might send them, however wrong: the reply check,
// the conversion in place, and every question the player asks of a loaded
// table. Input: the reply (zero-filled to its full size), then any number of
// 4-byte addresses to look up besides those the table itself suggests.
#include "cd/cd_text.h"
#include "cd/toc.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kAddressBytes = 4;
constexpr size_t kAddressAt = 4; // within a descriptor
constexpr size_t kFirstAt = 2, kLastAt = 3;
// Track numbers the player may ask about: PlayTrack takes anything up to the
// count, StepTrack and the shell ask first - 1 to last + 1.
constexpr int kLowestAsked = -2;
constexpr int kAskedPastLast = 2;

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t AddressOf(const uint8_t* reply, int descriptor) {
    return Be32(reply + kTocHeaderSize + descriptor * kTocDescriptorSize + kAddressAt);
}

// Asks every question; for a table the player took, checks each answer
// against the original reply, worked out the long way.
void Ask(const TocTable& toc, const uint8_t* original, std::vector<uint32_t> addresses) {
    const bool loaded = original && toc.last >= toc.first;
    for (int t = kLowestAsked; t <= toc.last + kAskedPastLast; t++) {
        uint32_t start = TocTrackStart(toc, t), length = TocTrackLength(toc, t);
        if (!loaded) continue;
        FUZZ_CHECK(start == (t > toc.last ? toc.leadOut : AddressOf(original, std::max(t, 1) - 1)));
        FUZZ_CHECK(length == (t < toc.first || t > toc.last ? 0 : TocTrackEnd(toc, t) - start));
        // A session's lead-out ends its last track early, never late.
        uint32_t end = TocTrackEnd(toc, t), next = TocTrackStart(toc, t + 1);
        FUZZ_CHECK(end == next || (end > start && end < next));
        addresses.insert(addresses.end(), {start - 1, start, start + 1});
    }
    FUZZ_CHECK(TocTrackStart(toc, kMaxTrackNumber + 1) == (toc.reply ? toc.leadOut : 0));
    uint32_t end = TocDiscEnd(toc.leadOut);
    FUZZ_CHECK(end == (toc.leadOut > kDiscEndMargin ? toc.leadOut - kDiscEndMargin : toc.leadOut));
    addresses.insert(addresses.end(), {0u, 0xFFFFFFFFu, end, end - 1});
    for (uint32_t a : addresses) {
        int found = TocTrackOfAddress(toc, a), expected = 0;
        for (int t = toc.last; t >= toc.first; t--)
            if (TocTrackStart(toc, t) <= a && a < TocTrackEnd(toc, t)) expected = t;
        FUZZ_CHECK(!loaded || found == expected);
        FUZZ_CHECK(found == 0 || (found >= toc.first && found <= toc.last));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the table's size on the heap, so a read past it is caught.
    std::vector<uint8_t> original(kTocBufferSize, 0);
    std::memcpy(original.data(), data, size < kTocBufferSize ? size : kTocBufferSize);
    std::vector<uint32_t> extra;
    for (size_t at = kTocBufferSize; at + kAddressBytes <= size; at += kAddressBytes)
        extra.push_back(Be32(data + at));
    uint8_t* reply = new uint8_t[kTocBufferSize];
    std::memcpy(reply, original.data(), kTocBufferSize);
    // The same bytes as a full TOC reply tell where sessions end.
    std::vector<uint8_t> full(kFullTocBufferSize, 0);
    std::memcpy(full.data(), data, size < kFullTocBufferSize ? size : kFullTocBufferSize);
    SessionEnds ends;
    ReadSessionEnds(full.data(), &ends);
    // And as CD-Text packs: every text kept ends within its room.
    std::unique_ptr<CdText> text(new CdText());
    ReadCdText(full.data(), full.size(), text.get());
    for (const auto& field : text->texts)
        for (const char* t : field) FUZZ_CHECK(strnlen(t, kCdTextChars) < size_t(kCdTextChars));
    FUZZ_CHECK(ends.count >= 0 && ends.count < kMaxSessions);

    TocHeader header = {};
    if (CheckTocReply(reply, &header)) {
        FUZZ_CHECK(header.first == original[kFirstAt] && header.last == original[kLastAt]);
        FUZZ_CHECK(header.last <= kMaxTrackNumber);
        FUZZ_CHECK(std::memcmp(reply, original.data(), kTocBufferSize) == 0);
        // Only the addresses of descriptors 0 to last change, to host order.
        std::vector<uint8_t> converted = original;
        for (int d = 0; d <= header.last; d++) {
            uint32_t a = AddressOf(original.data(), d);
            std::memcpy(&converted[kTocHeaderSize + d * kTocDescriptorSize + kAddressAt], &a,
                        sizeof a);
        }
        uint32_t leadOut = ConvertTocAddresses(reply, header.last);
        FUZZ_CHECK(leadOut == AddressOf(original.data(), header.last));
        FUZZ_CHECK(std::memcmp(reply, converted.data(), kTocBufferSize) == 0);
        FUZZ_CHECK(TocAddress(reply, header.last) == leadOut);
        // A table with no tracks is refused by the player, which keeps these
        // numbers all the same.
        Ask({reply, header.first, header.last, leadOut, &ends}, original.data(), extra);
    } else {
        // A refused reply leaves the numbers of the one before; any mix of
        // those with this buffer must still be safe to ask.
        Ask({reply, original[kFirstAt], original[kLastAt] % (kMaxTrackNumber + 1),
             Be32(original.data()), &ends},
            nullptr, extra);
    }
    Ask({nullptr, 0, 0, 0, nullptr}, nullptr, extra);
    delete[] reply;
    return 0;
}
