#include "vdrive/full_toc.h"

namespace vdrive {

namespace {

constexpr uint32_t kMsfOffset = 150; // MSF addresses count the two-second lead-in
constexpr uint8_t kAdrPosition = 0x10;
constexpr uint8_t kControlData = 0x04;
constexpr uint8_t kPointFirstTrack = 0xA0, kPointLastTrack = 0xA1, kPointLeadOut = 0xA2;
constexpr size_t kSessionAt = 0, kAdrControlAt = 1, kPointAt = 3, kPminAt = 8;
constexpr size_t kLengthAt = 0, kFirstSessionAt = 2, kLastSessionAt = 3;

uint8_t AdrControl(const DiscTrack& t) {
    return uint8_t(kAdrPosition | (t.mode == TrackMode::Audio ? 0 : kControlData) | t.control);
}

void PutMsf(uint8_t* p, uint32_t lba) {
    uint32_t a = lba + kMsfOffset;
    p[0] = uint8_t(a / (kFramesPerSecond * kSecondsPerMinute));
    p[1] = uint8_t(a / kFramesPerSecond % kSecondsPerMinute);
    p[2] = uint8_t(a % kFramesPerSecond);
}

} // namespace

size_t WriteFullToc(const DiscLayout& d, uint8_t* reply) {
    size_t at = kFullTocHeader;
    auto point = [&](const DiscTrack& t, uint8_t number) {
        uint8_t* p = reply + at;
        for (size_t i = 0; i < kFullTocDescriptor; i++) p[i] = 0;
        p[kSessionAt] = uint8_t(t.session);
        p[kAdrControlAt] = AdrControl(t);
        p[kPointAt] = number;
        at += kFullTocDescriptor;
        return p;
    };
    for (int first = 0; first < d.trackCount;) {
        int last = first;
        while (last + 1 < d.trackCount && d.tracks[last + 1].session == d.tracks[first].session)
            last++;
        // A session ends where the gap before the next begins, or at the lead-out.
        uint32_t leadOut = d.leadOut;
        if (last + 1 < d.trackCount)
            leadOut = d.extents[ExtentIndexOf(d, d.tracks[last + 1].pregapStart - 1)].start;
        // A0's PSEC, the disc type, stays 0: CD-DA or CD-ROM.
        point(d.tracks[first], kPointFirstTrack)[kPminAt] = uint8_t(d.tracks[first].number);
        point(d.tracks[last], kPointLastTrack)[kPminAt] = uint8_t(d.tracks[last].number);
        PutMsf(point(d.tracks[last], kPointLeadOut) + kPminAt, leadOut);
        for (int t = first; t <= last; t++)
            PutMsf(point(d.tracks[t], uint8_t(d.tracks[t].number)) + kPminAt, d.tracks[t].start);
        first = last + 1;
    }
    uint32_t length = uint32_t(at - kFirstSessionAt);
    reply[kLengthAt] = uint8_t(length >> 8);
    reply[kLengthAt + 1] = uint8_t(length);
    reply[kFirstSessionAt] = uint8_t(d.tracks[0].session);
    reply[kLastSessionAt] = uint8_t(d.sessionCount);
    return at;
}

} // namespace vdrive
