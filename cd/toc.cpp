#include "cd/toc.h"

#include <cstring>

namespace {

constexpr size_t kLengthFieldSize = 2; // the data length counts the bytes after itself
constexpr size_t kControlOffset = 1;   // within a descriptor: ADR (high), CONTROL (low)
constexpr size_t kAddressOffset = 4;
constexpr size_t kFullSessionAt = 0, kFullPointAt = 3, kFullMsfAt = 8; // within a descriptor
constexpr uint8_t kPointLastTrack = 0xA1, kPointLeadOut = 0xA2;
constexpr uint32_t kFramesPerSecond = 75, kSecondsPerMinute = 60;
constexpr uint32_t kMsfOffset = 150; // MSF addresses count the two-second lead-in

size_t AddressOffset(int index) {
    return kTocHeaderSize + index * kTocDescriptorSize + kAddressOffset;
}

size_t DataLength(const uint8_t* reply) {
    return (size_t(reply[0]) << 8) | reply[1];
}

// The descriptor of `track`, as TocTrackStart counts them.
int DescriptorOf(int track) {
    return track <= 0 ? 0 : track - 1;
}

} // namespace

bool CheckTocReply(const uint8_t* reply, TocHeader* header) {
    int last = reply[3];
    if (last > kMaxTrackNumber) return false;
    if (DataLength(reply) + kLengthFieldSize < kTocHeaderSize + (last + 1) * kTocDescriptorSize)
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

void ReadSessionEnds(const uint8_t* reply, SessionEnds* ends) {
    ends->count = 0;
    int lastTrack[kMaxSessions + 1] = {};
    uint32_t leadOut[kMaxSessions + 1] = {};
    int sessions = 0;
    size_t length = DataLength(reply) + kLengthFieldSize;
    if (length > kFullTocBufferSize) length = kFullTocBufferSize;
    for (size_t at = kTocHeaderSize; at + kFullTocDescriptorSize <= length;
         at += kFullTocDescriptorSize) {
        const uint8_t* d = reply + at;
        int session = d[kFullSessionAt];
        if (session < 1 || session > kMaxSessions) continue;
        if (session > sessions) sessions = session;
        const uint8_t* msf = d + kFullMsfAt;
        if (d[kFullPointAt] == kPointLastTrack) lastTrack[session] = msf[0];
        if (d[kFullPointAt] == kPointLeadOut) {
            uint32_t a = (msf[0] * kSecondsPerMinute + msf[1]) * kFramesPerSecond + msf[2];
            leadOut[session] = a > kMsfOffset ? a - kMsfOffset : 0;
        }
    }
    for (int s = 1; s < sessions; s++) {
        if (!lastTrack[s] || !leadOut[s]) continue;
        ends->lastTrack[ends->count] = lastTrack[s];
        ends->leadOut[ends->count++] = leadOut[s];
    }
}

uint32_t TocAddress(const uint8_t* reply, int index) {
    uint32_t address;
    memcpy(&address, reply + AddressOffset(index), sizeof address);
    return address;
}

uint32_t TocTrackStart(const TocTable& toc, int track) {
    if (!toc.reply) return 0;
    if (track > toc.last) return toc.leadOut;
    return TocAddress(toc.reply, DescriptorOf(track));
}

uint32_t TocTrackEnd(const TocTable& toc, int track) {
    uint32_t start = TocTrackStart(toc, track), next = TocTrackStart(toc, track + 1);
    // A drive cannot read the lead-out and lead-in between sessions as audio.
    if (toc.sessions && track >= toc.first && track < toc.last)
        for (int s = 0; s < toc.sessions->count; s++)
            if (toc.sessions->lastTrack[s] == track && toc.sessions->leadOut[s] > start &&
                toc.sessions->leadOut[s] < next)
                return toc.sessions->leadOut[s];
    return next;
}

uint32_t TocTrackLength(const TocTable& toc, int track) {
    if (track < toc.first || track > toc.last) return 0;
    return TocTrackEnd(toc, track) - TocTrackStart(toc, track);
}

bool TocTrackIsAudio(const TocTable& toc, int track) {
    if (!toc.reply || track < toc.first || track > toc.last) return false;
    const uint8_t* descriptor =
        toc.reply + kTocHeaderSize + DescriptorOf(track) * kTocDescriptorSize;
    return !(descriptor[kControlOffset] & kControlDataTrack);
}

uint32_t TocDiscEnd(uint32_t leadOut) {
    return leadOut > kDiscEndMargin ? leadOut - kDiscEndMargin : leadOut;
}

int TocTrackOfAddress(const TocTable& toc, uint32_t address) {
    for (int t = toc.first; t <= toc.last; t++)
        if (TocTrackStart(toc, t) <= address && address < TocTrackEnd(toc, t)) return t;
    return 0;
}

void TrackSet::Add(int track) {
    if (track >= 0 && track <= kMaxTrackNumber)
        bits_[track / kWordBits] |= 1u << (track % kWordBits);
}

bool TrackSet::Has(int track) const {
    return track >= 0 && track <= kMaxTrackNumber &&
           (bits_[track / kWordBits] >> (track % kWordBits) & 1);
}

int TrackSet::Count(int first, int last) const {
    int n = 0;
    for (int t = first; t <= last; t++) n += Has(t);
    return n;
}

int TrackSet::Nearest(int track, int step, int first, int last) const {
    for (int tried = 0; tried <= last - first; tried++, track += step) {
        if (track > last) track = first;
        if (track < first) track = last;
        if (Has(track)) return track;
    }
    return 0;
}

TrackSet TocAudioTracks(const TocTable& toc) {
    TrackSet audio;
    for (int t = toc.first; t <= toc.last; t++)
        if (TocTrackIsAudio(toc, t)) audio.Add(t);
    return audio;
}
