#include "vdrive/scsi_target.h"

#include "vdrive/full_toc.h"

#include <cstring>

namespace vdrive {

namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpStartStopUnit = 0x1B;
constexpr uint8_t kOpPreventAllow = 0x1E;
constexpr uint8_t kOpReadSubChannel = 0x42;
constexpr uint8_t kOpReadToc = 0x43;

constexpr uint8_t kAscUnrecoveredRead = 0x11;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscMediumChanged = 0x28;
constexpr uint8_t kAscMediumNotPresent = 0x3A;
constexpr uint8_t kAscRemovalPrevented = 0x53;
constexpr uint8_t kAscqRemovalPrevented = 0x02;
constexpr uint8_t kAscEndOfUserArea = 0x63; // reading into a lead-out or lead-in
constexpr uint8_t kAscIllegalModeForTrack = 0x64;

constexpr unsigned kMaxCdb = 16;
// Where the fields of the command blocks lie.
constexpr size_t kEvpdAt = 1, kPageCodeAt = 2, kInquiryAllocAt = 3; // allocation: 16 bits
constexpr size_t kFlagsAt = 4; // START STOP UNIT, PREVENT ALLOW MEDIUM REMOVAL
constexpr size_t kMsfAt = 1;   // READ TOC, READ SUB-CHANNEL
constexpr size_t kAllocAt = 7; // READ TOC, READ SUB-CHANNEL: 16 bits
constexpr size_t kTocFormatAt = 2, kTocStartTrackAt = 6, kTocControlAt = 9;
constexpr size_t kSubQAt = 2, kSubFormatAt = 3;
constexpr size_t kCdSectorTypeAt = 1, kCdLbaAt = 2, kCdCountAt = 6, kCdSelectAt = 9,
                 kCdSubChannelAt = 10;
// and of the replies
constexpr size_t kReplyLengthAt = 0;
constexpr size_t kTocFirstAt = 2, kTocLastAt = 3;
constexpr size_t kDescControlAt = 1, kDescTrackAt = 2, kDescAddressAt = 4;
constexpr size_t kSubAudioStatusAt = 1, kSubLengthAt = 2, kSubFormatCodeAt = 4, kSubControlAt = 5,
                 kSubTrackAt = 6, kSubIndexAt = 7, kSubAbsoluteAt = 8, kSubRelativeAt = 12;
constexpr uint8_t kIndexZero = 0, kIndexOne = 1;
constexpr uint8_t kMsfBit = 0x02;  // byte 1 of READ TOC and READ SUB-CHANNEL
constexpr uint8_t kSubQBit = 0x40; // byte 2 of READ SUB-CHANNEL
constexpr uint8_t kFormatPosition = 0x01;
constexpr uint8_t kEvpdBit = 0x01;
constexpr uint8_t kLoEjBit = 0x02;
constexpr uint8_t kStartBit = 0x01;
constexpr uint8_t kPreventBit = 0x01;
constexpr uint8_t kTocFormatMask = 0x0F;
constexpr int kTocLegacyFormatShift = 6; // older drives take the format in the control byte
constexpr uint8_t kTocFormatToc = 0x00;
constexpr uint8_t kTocFormatSessions = 0x01;
constexpr uint8_t kTocFormatFullToc = 0x02;
constexpr uint8_t kTocFormatCdText = 0x05;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr int kSectorTypeShift = 2;
constexpr uint8_t kSectorTypeMask = 0x07;
constexpr uint8_t kSectorTypeAny = 0;
constexpr uint8_t kSectorTypeCdda = 1;
constexpr uint8_t kMainChannelBits = 0xF8; // sync, header codes, user data, EDC/ECC
constexpr uint8_t kC2Bits = 0x06;
constexpr int kC2Shift = 1;
constexpr uint8_t kC2None = 0, kC2Pointers = 1, kC2Block = 2;
constexpr uint8_t kSubChannelMask = 0x07;

constexpr uint8_t kAdrControlAudio = 0x10; // ADR 1 (position), two-channel audio
constexpr uint8_t kAdrControlData = 0x14;  // ADR 1, data track
constexpr uint8_t kAudioStatusNone = 0x15;

constexpr size_t kInquiryBytes = 36;
constexpr uint8_t kRemovableBit = 0x80;
constexpr uint8_t kScsi2 = 0x02;
constexpr char kVendor[] = "VELMORA ";
constexpr char kProductCd[] = "VIRTUAL CD-ROM  ";
constexpr char kProductDisk[] = "VIRTUAL DISK    ";
constexpr char kRevision[] = "1.0 ";
constexpr size_t kInqTypeAt = 0, kInqRemovableAt = 1, kInqVersionAt = 2, kInqFormatAt = 3,
                 kInqAdditionalAt = 4;
constexpr size_t kVendorAt = 8, kProductAt = 16, kRevisionAt = 32;

constexpr size_t kTocHeader = 4;
constexpr size_t kTocDescriptor = 8;
constexpr size_t kTocMaxBytes = kTocHeader + kTocDescriptor * (kMaxTracks + 1);
constexpr size_t kSessionInfoBytes = kTocHeader + kTocDescriptor;
constexpr uint8_t kFirstSession = 1;
constexpr size_t kSubChannelHeader = 4;
constexpr size_t kSubChannelPosition = 16;

constexpr uint32_t kMsfOffset = 150; // MSF addresses count the two-second lead-in

constexpr uint8_t kSenseCurrent = 0x70;
constexpr uint8_t kSenseInfoValid = 0x80;
constexpr uint8_t kSenseAdditional = uint8_t(kSenseBytes - 8);
constexpr size_t kSenseKeyAt = 2, kSenseInfoAt = 3, kSenseAddAt = 7, kSenseAscAt = 12,
                 kSenseAscqAt = 13;

uint32_t Be16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}
uint32_t Be24(const uint8_t* p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | Be24(p + 1);
}

void PutBe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void PutBe32(uint8_t* p, uint32_t v) {
    PutBe16(p, v >> 16);
    PutBe16(p + 2, v);
}

// An address as READ TOC and READ SUB-CHANNEL give it: LBA or 00 M S F.
void PutAddress(uint8_t* p, uint32_t lba, bool msf, uint32_t msfOffset) {
    if (!msf) return PutBe32(p, lba);
    uint32_t a = lba + msfOffset;
    p[0] = 0;
    p[1] = uint8_t(a / (kFramesPerSecond * kSecondsPerMinute));
    p[2] = uint8_t(a / kFramesPerSecond % kSecondsPerMinute);
    p[3] = uint8_t(a % kFramesPerSecond);
}

uint8_t AdrControl(const DiscTrack& t) {
    return uint8_t((t.mode == TrackMode::Audio ? kAdrControlAudio : kAdrControlData) | t.control);
}

} // namespace

struct ScsiTarget::Request {
    uint8_t cdb[kMaxCdb];
    uint8_t* data;
    uint32_t dataLen;
    ScsiResult* result;

    void Fail(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
        result->status = kStatusCheckCondition;
        result->sense.key = key;
        result->sense.asc = asc;
        result->sense.ascq = ascq;
    }

    void FailAt(uint8_t key, uint8_t asc, uint32_t lba) {
        Fail(key, asc);
        result->sense.infoValid = true;
        result->sense.info = lba;
    }

    // Sends a reply of `len` bytes cut to the allocation length and the buffer.
    void Reply(const uint8_t* bytes, uint32_t len, uint32_t alloc) {
        uint32_t want = len < alloc ? len : alloc;
        uint32_t n = want < dataLen ? want : dataLen;
        if (n) std::memcpy(data, bytes, n);
        result->transferred = n;
        result->overrun = want > dataLen;
    }
};

void FormatSense(const ScsiSense& sense, uint8_t* out) {
    std::memset(out, 0, kSenseBytes);
    out[0] = uint8_t(kSenseCurrent | (sense.infoValid ? kSenseInfoValid : 0));
    out[kSenseKeyAt] = sense.key;
    if (sense.infoValid) PutBe32(out + kSenseInfoAt, sense.info);
    out[kSenseAddAt] = kSenseAdditional;
    out[kSenseAscAt] = sense.asc;
    out[kSenseAscqAt] = sense.ascq;
}

ScsiTarget::ScsiTarget()
    : type_(kDeviceCdRom), unitAttentionEnabled_(true), unitAttention_(false), trayOpen_(false),
      locked_(false), layout_(nullptr), files_(nullptr), position_(0), readErrors_(),
      c2Mode_(C2Mode::On) {}

void ScsiTarget::SetDeviceType(uint8_t inquiryByte0) {
    type_ = inquiryByte0;
}

void ScsiTarget::SetUnitAttention(bool enabled) {
    unitAttentionEnabled_ = enabled;
    if (!enabled) unitAttention_ = false;
}

void ScsiTarget::SetReadErrors(const LbaRanges& ranges) {
    readErrors_ = ranges;
}

void ScsiTarget::SetDamage(const DamageConfig& damage) {
    c2Mode_ = damage.c2;
    damage_.Configure(damage);
}

void ScsiTarget::SetMedium(const DiscLayout* layout, ImageFiles* files) {
    layout_ = layout;
    files_ = files;
    damage_.Forget(layout ? layout->leadOut : 0);
    position_ = layout && layout->trackCount ? layout->tracks[0].start : 0;
    if (!layout) unitAttention_ = false;
}

void ScsiTarget::SetTray(bool open) {
    trayOpen_ = open;
    if (!open) return;
    unitAttention_ = false;
    damage_.Forget(layout_ ? layout_->leadOut : 0);
}

void ScsiTarget::NoteMediumInserted() {
    if (unitAttentionEnabled_ && Ready()) unitAttention_ = true;
}

uint8_t ScsiTarget::Execute(const uint8_t* cdb, unsigned cdbLen, uint8_t* data, uint32_t dataLen,
                            ScsiResult* result) {
    *result = ScsiResult();
    result->status = kStatusGood;
    Request r;
    std::memset(r.cdb, 0, sizeof r.cdb);
    std::memcpy(r.cdb, cdb, cdbLen < kMaxCdb ? cdbLen : kMaxCdb);
    r.data = data;
    r.dataLen = data ? dataLen : 0;
    r.result = result;

    uint8_t op = r.cdb[0];
    if (type_ == kDeviceDisk && op != kOpInquiry && op != kOpTestUnitReady) {
        r.Fail(kSenseIllegalRequest, kAscInvalidOpcode);
        return result->status;
    }
    switch (op) {
        case kOpInquiry: Inquiry(r); break;
        case kOpTestUnitReady:
            if (type_ != kDeviceDisk) MediaGate(r);
            break;
        case kOpStartStopUnit: StartStopUnit(r); break;
        case kOpPreventAllow: locked_ = (r.cdb[kFlagsAt] & kPreventBit) != 0; break;
        case kOpReadSubChannel:
            if (MediaGate(r)) ReadSubChannel(r);
            break;
        case kOpReadToc:
            if (MediaGate(r)) ReadToc(r);
            break;
        case kOpReadCd:
            if (MediaGate(r)) ReadCd(r);
            break;
        default: r.Fail(kSenseIllegalRequest, kAscInvalidOpcode); break;
    }
    return result->status;
}

bool ScsiTarget::MediaGate(Request& r) {
    if (!Ready()) {
        r.Fail(kSenseNotReady, kAscMediumNotPresent);
        return false;
    }
    if (unitAttention_) {
        unitAttention_ = false;
        r.Fail(kSenseUnitAttention, kAscMediumChanged);
        return false;
    }
    return true;
}

void ScsiTarget::Inquiry(Request& r) {
    if ((r.cdb[kEvpdAt] & kEvpdBit) || r.cdb[kPageCodeAt])
        return r.Fail(kSenseIllegalRequest, kAscInvalidField);
    uint8_t reply[kInquiryBytes] = {};
    reply[kInqTypeAt] = type_;
    reply[kInqRemovableAt] = type_ == kDeviceDisk ? 0 : kRemovableBit;
    reply[kInqVersionAt] = kScsi2;
    reply[kInqFormatAt] = kScsi2;
    reply[kInqAdditionalAt] = uint8_t(kInquiryBytes - kInqAdditionalAt - 1);
    std::memcpy(reply + kVendorAt, kVendor, kProductAt - kVendorAt);
    std::memcpy(reply + kProductAt, type_ == kDeviceDisk ? kProductDisk : kProductCd,
                kRevisionAt - kProductAt);
    std::memcpy(reply + kRevisionAt, kRevision, kInquiryBytes - kRevisionAt);
    r.Reply(reply, kInquiryBytes, Be16(r.cdb + kInquiryAllocAt));
}

void ScsiTarget::StartStopUnit(Request& r) {
    if (!(r.cdb[kFlagsAt] & kLoEjBit)) return; // spinning up or down: nothing to do
    if (!(r.cdb[kFlagsAt] & kStartBit)) {
        if (locked_)
            return r.Fail(kSenseIllegalRequest, kAscRemovalPrevented, kAscqRemovalPrevented);
        SetTray(true);
        return;
    }
    bool wasOpen = trayOpen_;
    SetTray(false);
    if (wasOpen) NoteMediumInserted();
}

void ScsiTarget::ReadSubChannel(Request& r) {
    bool subQ = (r.cdb[kSubQAt] & kSubQBit) != 0;
    if (subQ && r.cdb[kSubFormatAt] != kFormatPosition)
        return r.Fail(kSenseIllegalRequest, kAscInvalidField);
    uint8_t reply[kSubChannelPosition] = {};
    reply[kSubAudioStatusAt] = kAudioStatusNone;
    uint32_t len = kSubChannelHeader;
    if (subQ) {
        len = kSubChannelPosition;
        PutBe16(reply + kSubLengthAt, uint32_t(kSubChannelPosition - kSubChannelHeader));
        // A pregap is its track's index 0, its time counting down to INDEX 01:
        // in MSF the frames still to come, in LBA a negative address.
        int t = RecordedTrackIndexOf(*layout_, position_);
        const DiscTrack& track = layout_->tracks[t < 0 ? 0 : t];
        bool msf = (r.cdb[kMsfAt] & kMsfBit) != 0;
        bool inPregap = position_ < track.start;
        uint32_t relative = position_ - track.start;
        if (inPregap && msf) relative = track.start - position_;
        reply[kSubFormatCodeAt] = kFormatPosition;
        reply[kSubControlAt] = AdrControl(track);
        reply[kSubTrackAt] = uint8_t(track.number);
        reply[kSubIndexAt] = inPregap ? kIndexZero : kIndexOne;
        PutAddress(reply + kSubAbsoluteAt, position_, msf, kMsfOffset);
        PutAddress(reply + kSubRelativeAt, relative, msf, 0);
    }
    r.Reply(reply, len, Be16(r.cdb + kAllocAt));
}

void ScsiTarget::ReadToc(Request& r) {
    uint8_t format = r.cdb[kTocFormatAt] & kTocFormatMask;
    if (format == kTocFormatToc) format = uint8_t(r.cdb[kTocControlAt] >> kTocLegacyFormatShift);
    if (format == kTocFormatSessions) return ReadSessionInfo(r);
    if (format == kTocFormatFullToc) {
        uint8_t full[kFullTocMaxBytes];
        return r.Reply(full, uint32_t(WriteFullToc(*layout_, full)), Be16(r.cdb + kAllocAt));
    }
    if (format == kTocFormatCdText) {
        uint32_t bytes = uint32_t(kCdTextHeaderBytes + layout_->cdTextPacks * kCdTextPackBytes);
        return r.Reply(layout_->cdText, bytes, Be16(r.cdb + kAllocAt));
    }
    if (format != kTocFormatToc) return r.Fail(kSenseIllegalRequest, kAscInvalidField);
    // Every session's tracks, and the lead-out of the last session.
    const DiscLayout& d = *layout_;
    const DiscTrack& last = d.tracks[d.trackCount - 1];
    uint8_t from = r.cdb[kTocStartTrackAt];
    if (from > last.number && from != kLeadOutTrack)
        return r.Fail(kSenseIllegalRequest, kAscInvalidField);
    bool msf = (r.cdb[kMsfAt] & kMsfBit) != 0;

    uint8_t reply[kTocMaxBytes] = {};
    size_t at = kTocHeader;
    for (int t = 0; t <= d.trackCount; t++) {
        bool leadOut = t == d.trackCount;
        const DiscTrack& track = leadOut ? last : d.tracks[t];
        if (!leadOut && (from == kLeadOutTrack || track.number < from)) continue;
        reply[at + kDescControlAt] = AdrControl(track);
        reply[at + kDescTrackAt] = leadOut ? kLeadOutTrack : uint8_t(track.number);
        PutAddress(reply + at + kDescAddressAt, leadOut ? d.leadOut : track.start, msf, kMsfOffset);
        at += kTocDescriptor;
    }
    PutBe16(reply + kReplyLengthAt, uint32_t(at - kTocFirstAt));
    reply[kTocFirstAt] = uint8_t(d.tracks[0].number);
    reply[kTocLastAt] = uint8_t(last.number);
    r.Reply(reply, uint32_t(at), Be16(r.cdb + kAllocAt));
}

// The sessions, and the first track of the last one.
void ScsiTarget::ReadSessionInfo(Request& r) {
    const DiscLayout& d = *layout_;
    int t = d.trackCount - 1;
    while (t > 0 && d.tracks[t - 1].session == d.tracks[t].session) t--;
    uint8_t reply[kSessionInfoBytes] = {};
    PutBe16(reply + kReplyLengthAt, uint32_t(kSessionInfoBytes - kTocFirstAt));
    reply[kTocFirstAt] = kFirstSession;
    reply[kTocLastAt] = uint8_t(d.sessionCount);
    reply[kTocHeader + kDescControlAt] = AdrControl(d.tracks[t]);
    reply[kTocHeader + kDescTrackAt] = uint8_t(d.tracks[t].number);
    PutAddress(reply + kTocHeader + kDescAddressAt, d.tracks[t].start,
               (r.cdb[kMsfAt] & kMsfBit) != 0, kMsfOffset);
    r.Reply(reply, kSessionInfoBytes, Be16(r.cdb + kAllocAt));
}

void ScsiTarget::ReadCd(Request& r) {
    uint32_t lba = Be32(r.cdb + kCdLbaAt), count = Be24(r.cdb + kCdCountAt);
    uint8_t sectorType = (r.cdb[kCdSectorTypeAt] >> kSectorTypeShift) & kSectorTypeMask;
    uint8_t c2 = uint8_t((r.cdb[kCdSelectAt] & kC2Bits) >> kC2Shift);
    if ((sectorType != kSectorTypeAny && sectorType != kSectorTypeCdda) ||
        (c2 != kC2None && (c2Mode_ == C2Mode::Refused || c2 > kC2Block)) ||
        (r.cdb[kCdSubChannelAt] & kSubChannelMask))
        return r.Fail(kSenseIllegalRequest, kAscInvalidField);
    if (uint64_t(lba) + count > layout_->leadOut)
        return r.Fail(kSenseIllegalRequest, kAscLbaOutOfRange);
    position_ = lba;
    if (!(r.cdb[kCdSelectAt] & kMainChannelBits)) return; // nothing selected: nothing sent

    uint32_t c2Bytes = c2 == kC2Pointers ? kC2PointerBytes : c2 == kC2Block ? kC2BlockBytes : 0;
    uint32_t stride = kSectorBytes + c2Bytes;
    uint8_t partial[kSectorBytes + kC2BlockBytes];
    // Frames that lie one after another in one extent go in one read; after a
    // read that fails, frame by frame, so the failure names its own frame.
    bool oneByOne = false;
    for (uint32_t i = 0; i < count;) {
        uint32_t a = lba + i;
        uint64_t at = uint64_t(i) * stride;
        if (at >= r.dataLen) {
            r.result->overrun = true;
            return;
        }
        if (!ReadableAudio(a, r)) return;
        uint32_t room = r.dataLen - uint32_t(at);
        if (room < stride) {
            if (!FetchFrames(a, 1, partial))
                return r.FailAt(kSenseMediumError, kAscUnrecoveredRead, a);
            Deliver(r, a, i, partial, c2Bytes);
            std::memcpy(r.data + at, partial, room);
            r.result->transferred += room;
            r.result->overrun = true;
            return;
        }
        uint8_t* frames = r.data + at;
        uint32_t run = oneByOne ? 1 : RunOfFrames(a, count - i, room / stride);
        if (!FetchFrames(a, run, frames)) {
            if (run > 1) {
                oneByOne = true;
                continue;
            }
            return r.FailAt(kSenseMediumError, kAscUnrecoveredRead, a);
        }
        // The frames came in back to back: each moves up to its place, the last
        // first, to leave room for the error pointers after it.
        if (c2Bytes)
            for (uint32_t k = run - 1; k > 0; k--)
                std::memmove(frames + size_t(k) * stride, frames + size_t(k) * kSectorBytes,
                             kSectorBytes);
        for (uint32_t k = 0; k < run; k++)
            Deliver(r, a + k, i + k, frames + size_t(k) * stride, c2Bytes);
        r.result->transferred += run * stride;
        i += run;
    }
    damage_.Keep(lba, count, r.data, stride);
}

// One frame as the drive hands it back: the damage, its error pointers and its
// mark in the log.
void ScsiTarget::Deliver(Request& r, uint32_t lba, uint32_t index, uint8_t* frame,
                         uint32_t c2Bytes) {
    DeliveredFrame d = damage_.Deliver(lba, index, frame);
    if (c2Bytes)
        PutC2Pointers(c2Mode_ == C2Mode::On ? d.wrong : WrongRun(), frame + kSectorBytes, c2Bytes);
    ScsiResult& result = *r.result;
    if (result.frameCount < kMaxFrameMarks)
        result.frames[result.frameCount] = d.mark;
    else if (result.frameCount == kMaxFrameMarks)
        result.frames[kMaxFrameMarks] = '+';
    result.frameCount++;
}

// Checks one frame as READ CD must before sending it; fails the request if not.
bool ScsiTarget::ReadableAudio(uint32_t lba, Request& r) const {
    if (layout_->extents[ExtentIndexOf(*layout_, lba)].kind == ExtentKind::Unreadable) {
        r.FailAt(kSenseIllegalRequest, kAscEndOfUserArea, lba);
        return false;
    }
    const DiscTrack& track = layout_->tracks[RecordedTrackIndexOf(*layout_, lba)];
    if (track.mode != TrackMode::Audio) {
        r.FailAt(kSenseIllegalRequest, kAscIllegalModeForTrack, lba);
        return false;
    }
    if (readErrors_.Has(lba)) {
        r.FailAt(kSenseMediumError, kAscUnrecoveredRead, lba);
        return false;
    }
    return true;
}

// The `count` frames from `lba` on, all in one extent: a FILE's bytes (and
// silence past the end of a WAVE's samples), or silence.
bool ScsiTarget::FetchFrames(uint32_t lba, uint32_t count, uint8_t* dst) const {
    const DiscExtent& e = layout_->extents[ExtentIndexOf(*layout_, lba)];
    uint32_t bytes = count * kSectorBytes;
    if (e.kind != ExtentKind::File) {
        std::memset(dst, 0, bytes);
        return true;
    }
    uint64_t offset = e.fileByte + uint64_t(lba - e.start) * kSectorBytes;
    uint64_t held = layout_->fileBytes[e.file] - offset;
    uint32_t got = held < bytes ? uint32_t(held) : bytes;
    std::memset(dst + got, 0, bytes - got);
    return files_->Read(e.file, offset, dst, got);
}

// How many frames from `lba` (itself readable, at most `limit`) are audio,
// free of read errors and in its extent, so that one read fetches them all.
uint32_t ScsiTarget::RunOfFrames(uint32_t lba, uint32_t limit, uint32_t room) const {
    uint32_t most = limit < room ? limit : room;
    const DiscExtent& e = layout_->extents[ExtentIndexOf(*layout_, lba)];
    uint32_t end = e.start + e.frames;
    uint32_t run = 1;
    while (run < most && lba + run < end && !readErrors_.Has(lba + run) &&
           layout_->tracks[RecordedTrackIndexOf(*layout_, lba + run)].mode == TrackMode::Audio)
        run++;
    return run;
}

} // namespace vdrive
