// Cue sheets, however wrong, through the virtual drive's parser and disc
// layout, then the drive itself: what READ TOC and READ CD answer must agree
// with the layout and with the bytes of the BIN files, and the player's own
// TOC parsing must read the drive's reply back to the same addresses.
// Input: the sheet's text. The BIN files are made up to fit it, or not.
#include "cd/toc.h"
#include "fuzz_check.h"
#include "vdrive/cue_sheet.h"
#include "vdrive/scsi_target.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace vdrive;

namespace {

constexpr uint8_t kOpReadToc = 0x43;
constexpr uint8_t kOpReadCd = 0xBE;
constexpr uint8_t kMsfBit = 0x02;
constexpr uint8_t kCddaSectorType = 0x04; // expected sector type 1, in bits 2-4
constexpr uint8_t kMainChannel = 0xF8;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kAdrControlAudio = 0x10, kAdrControlData = 0x14;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kAscLbaOutOfRange = 0x21, kAscIllegalModeForTrack = 0x64;
constexpr size_t kReadTocCdb = 10, kReadCdCdb = 12;
constexpr uint32_t kMsfLeadIn = 150;
constexpr uint32_t kFramesPerMinute = kFramesPerSecond * kSecondsPerMinute;
constexpr uint32_t kMsfMinutes = 256; // what one byte of minutes holds
constexpr uint32_t kExtraFrames = 75;
constexpr uint32_t kReadSpan = 3; // frames a READ CD asks for around a boundary

// The bytes of the made-up BIN files: a function of file and offset.
uint8_t ImageByte(int file, uint64_t offset) {
    uint64_t x = (offset + 1) * 0x9E3779B97F4A7C15ull ^ uint64_t(file) << 56;
    return uint8_t(x >> 29);
}

class FakeBins : public ImageFiles {
  public:
    explicit FakeBins(const std::vector<uint64_t>& sizes) : sizes_(sizes) {}
    bool Read(int file, uint64_t offset, void* dst, uint32_t bytes) override {
        // The drive must never ask for bytes that a file does not have.
        FUZZ_CHECK(file >= 0 && size_t(file) < sizes_.size());
        FUZZ_CHECK(offset + bytes <= sizes_[size_t(file)]);
        for (uint32_t i = 0; i < bytes; i++)
            static_cast<uint8_t*>(dst)[i] = ImageByte(file, offset + i);
        return true;
    }

  private:
    std::vector<uint64_t> sizes_;
};

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}

bool Before(const CuePos& a, const CuePos& b) {
    return a.file < b.file || (a.file == b.file && a.frame < b.frame);
}

void CheckSheet(const CueSheet& sheet, const char* text, size_t size) {
    FUZZ_CHECK(sheet.fileCount >= 1 && sheet.fileCount <= kMaxCueFiles);
    FUZZ_CHECK(sheet.trackCount >= 1 && sheet.trackCount <= kMaxTracks);
    for (int f = 0; f < sheet.fileCount; f++) {
        size_t n = strnlen(sheet.files[f], kMaxCueName);
        FUZZ_CHECK(n > 0 && n < size_t(kMaxCueName));
        FUZZ_CHECK(std::search(text, text + size, sheet.files[f], sheet.files[f] + n) !=
                   text + size);
    }
    const CuePos* previous = nullptr;
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        FUZZ_CHECK(ct.number >= 1 && ct.number <= kMaxTracks);
        if (t) FUZZ_CHECK(ct.number == sheet.tracks[t - 1].number + 1);
        FUZZ_CHECK(ct.hasStart);
        if (ct.hasPregap) {
            FUZZ_CHECK(Before(ct.pregap, ct.start));
            if (previous) FUZZ_CHECK(Before(*previous, ct.pregap));
        }
        if (previous) FUZZ_CHECK(Before(*previous, ct.start));
        FUZZ_CHECK(ct.start.file >= 0 && ct.start.file < sheet.fileCount);
        previous = &ct.start;
    }
}

// Frames each file needs to hold every INDEX the sheet puts in it.
std::vector<uint64_t> NeededFrames(const CueSheet& sheet) {
    std::vector<uint64_t> need(size_t(sheet.fileCount), 1);
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        for (const CuePos* p : {&ct.pregap, &ct.start}) {
            if (p == &ct.pregap && !ct.hasPregap) continue;
            uint64_t& n = need[size_t(p->file)];
            if (p->frame + 1u > n) n = p->frame + 1u;
        }
    }
    return need;
}

struct Drive {
    ScsiTarget target;
    ScsiResult result;
    uint8_t status = 0;

    void Run(const uint8_t* cdb, size_t cdbLen, uint8_t* data, uint32_t length) {
        status = target.Execute(cdb, unsigned(cdbLen), data, length, &result);
    }
};

// The track whose recorded sectors hold `lba`, as a drive must decide its mode.
const DiscTrack& RecordedTrack(const DiscLayout& layout, uint32_t lba) {
    int t = 0;
    for (int i = 0; i < layout.trackCount; i++)
        if (layout.tracks[i].pregapStart <= lba) t = i;
    return layout.tracks[t];
}

void CheckReadCd(Drive& drive, const DiscLayout& layout, uint32_t lba, uint32_t count) {
    uint8_t cdb[kReadCdCdb] = {kOpReadCd, kCddaSectorType};
    PutBe32(cdb + 2, lba);
    cdb[8] = uint8_t(count);
    cdb[9] = kMainChannel;
    std::vector<uint8_t> data(size_t(count) * kSectorBytes);
    drive.Run(cdb, sizeof cdb, data.data(), uint32_t(data.size()));
    if (uint64_t(lba) + count > layout.leadOut) {
        FUZZ_CHECK(drive.status == kStatusCheckCondition);
        FUZZ_CHECK(drive.result.sense.key == kSenseIllegalRequest &&
                   drive.result.sense.asc == kAscLbaOutOfRange);
        return;
    }
    for (uint32_t i = 0; i < count; i++) {
        uint32_t a = lba + i;
        if (RecordedTrack(layout, a).mode != TrackMode::Audio) {
            FUZZ_CHECK(drive.status == kStatusCheckCondition);
            FUZZ_CHECK(drive.result.sense.asc == kAscIllegalModeForTrack &&
                       drive.result.sense.info == a);
            return;
        }
        int file = 0;
        while (file + 1 < layout.fileCount && a >= layout.fileStart[file + 1]) file++;
        uint64_t offset = uint64_t(a - layout.fileStart[file]) * kSectorBytes;
        for (uint32_t b = 0; b < kSectorBytes; b++)
            FUZZ_CHECK(data[size_t(i) * kSectorBytes + b] == ImageByte(file, offset + b));
    }
    FUZZ_CHECK(drive.status == kStatusGood);
    FUZZ_CHECK(drive.result.transferred == data.size());
}

void CheckToc(Drive& drive, const DiscLayout& layout, bool msf) {
    uint8_t cdb[kReadTocCdb] = {kOpReadToc, uint8_t(msf ? kMsfBit : 0)};
    cdb[7] = uint8_t(kTocBufferSize >> 8);
    cdb[8] = uint8_t(kTocBufferSize);
    std::vector<uint8_t> reply(kTocBufferSize, 0);
    drive.Run(cdb, sizeof cdb, reply.data(), uint32_t(reply.size()));
    FUZZ_CHECK(drive.status == kStatusGood);
    const int n = layout.trackCount;
    const size_t length = kTocHeaderSize + size_t(n + 1) * kTocDescriptorSize;
    FUZZ_CHECK(drive.result.transferred == length);
    FUZZ_CHECK((size_t(reply[0]) << 8 | reply[1]) == length - 2);
    FUZZ_CHECK(reply[2] == layout.tracks[0].number && reply[3] == layout.tracks[n - 1].number);
    for (int t = 0; t <= n; t++) {
        const uint8_t* d = &reply[kTocHeaderSize + size_t(t) * kTocDescriptorSize];
        const DiscTrack& track = layout.tracks[t < n ? t : n - 1];
        uint32_t address = t < n ? track.start : layout.leadOut;
        FUZZ_CHECK(d[1] == (track.mode == TrackMode::Audio ? kAdrControlAudio : kAdrControlData));
        FUZZ_CHECK(d[2] == (t < n ? track.number : kLeadOutTrack));
        if (!msf) {
            FUZZ_CHECK(Be32(d + 4) == address);
        } else if (address + kMsfLeadIn < kMsfMinutes * kFramesPerMinute) {
            uint32_t a = address + kMsfLeadIn;
            FUZZ_CHECK(d[4] == 0 && d[5] == a / kFramesPerMinute &&
                       d[6] == a / kFramesPerSecond % kSecondsPerMinute &&
                       d[7] == a % kFramesPerSecond);
        }
    }
    if (msf) return;

    // The player reads the same reply: by track number, so only a disc that
    // starts at track 1 is taken, and then every address must come back.
    TocHeader header;
    bool taken = CheckTocReply(reply.data(), &header);
    FUZZ_CHECK(taken == (layout.tracks[0].number == 1));
    if (!taken) return;
    uint32_t leadOut = ConvertTocAddresses(reply.data(), header.last);
    FUZZ_CHECK(leadOut == layout.leadOut);
    TocTable toc = {reply.data(), header.first, header.last, leadOut};
    for (int t = 0; t < n; t++) {
        const DiscTrack& track = layout.tracks[t];
        FUZZ_CHECK(TocTrackStart(toc, track.number) == track.start);
        uint32_t next = t + 1 < n ? layout.tracks[t + 1].start : layout.leadOut;
        FUZZ_CHECK(TocTrackLength(toc, track.number) == next - track.start);
        for (uint32_t a : {track.pregapStart, track.start, next - 1}) {
            int index = TrackIndexOf(layout, a);
            FUZZ_CHECK(index >= 0);
            if (a >= layout.tracks[0].start)
                FUZZ_CHECK(TocTrackOfAddress(toc, a) == layout.tracks[index].number);
        }
    }
    FUZZ_CHECK(TocTrackOfAddress(toc, layout.leadOut) == 0);
}

void CheckLayout(const CueSheet& sheet, const std::vector<uint64_t>& bytes,
                 const DiscLayout& layout) {
    FUZZ_CHECK(layout.trackCount == sheet.trackCount && layout.fileCount == sheet.fileCount);
    FUZZ_CHECK(layout.fileStart[0] == 0);
    for (int f = 0; f < layout.fileCount; f++)
        FUZZ_CHECK(layout.fileStart[f + 1] - layout.fileStart[f] ==
                   bytes[size_t(f)] / kSectorBytes);
    FUZZ_CHECK(layout.leadOut == layout.fileStart[layout.fileCount]);
    FUZZ_CHECK(layout.leadOut <= kMaxDiscSectors);
    for (int t = 0; t < layout.trackCount; t++) {
        const DiscTrack& dt = layout.tracks[t];
        const CueTrack& ct = sheet.tracks[t];
        FUZZ_CHECK(dt.number == ct.number && dt.mode == ct.mode);
        FUZZ_CHECK(dt.start == layout.fileStart[ct.start.file] + ct.start.frame);
        FUZZ_CHECK(dt.pregapStart <= dt.start && dt.start < layout.leadOut);
        if (t) FUZZ_CHECK(dt.pregapStart > layout.tracks[t - 1].start);
        FUZZ_CHECK(TrackIndexOf(layout, dt.start) == t);
        FUZZ_CHECK(RecordedTrackIndexOf(layout, dt.pregapStart) == t);
        if (t + 1 < layout.trackCount)
            FUZZ_CHECK(TrackIndexOf(layout, layout.tracks[t + 1].start - 1) == t);
    }
    FUZZ_CHECK(TrackIndexOf(layout, layout.leadOut) == -1);
    FUZZ_CHECK(RecordedTrackIndexOf(layout, layout.leadOut) == -1);

    std::unique_ptr<Drive> drive(new Drive());
    FakeBins bins(bytes);
    drive->target.SetUnitAttention(false);
    drive->target.SetMedium(&layout, &bins);
    CheckToc(*drive, layout, false);
    CheckToc(*drive, layout, true);
    for (int t = 0; t < layout.trackCount; t++) {
        const DiscTrack& dt = layout.tracks[t];
        CheckReadCd(*drive, layout, dt.pregapStart, 1);
        CheckReadCd(*drive, layout, dt.start - (dt.start ? 1 : 0), kReadSpan);
    }
    for (int f = 1; f <= layout.fileCount; f++)
        CheckReadCd(*drive, layout, layout.fileStart[f] - 1, kReadSpan);
}

// The BIN sizes to try for one sheet, and whether the layout must take them.
struct SizeTrial {
    std::vector<uint64_t> bytes;
    bool fits;
};

std::vector<SizeTrial> Trials(const CueSheet& sheet) {
    std::vector<uint64_t> need = NeededFrames(sheet);
    uint64_t total = 0;
    for (uint64_t n : need) total += n;
    std::vector<SizeTrial> trials;
    auto sized = [&](uint64_t extra) {
        SizeTrial s{{}, total + extra * need.size() <= kMaxDiscSectors};
        for (uint64_t n : need) s.bytes.push_back((n + extra) * kSectorBytes);
        return s;
    };
    trials.push_back(sized(0));
    trials.push_back(sized(kExtraFrames));
    const size_t last = need.size() - 1;
    SizeTrial shortLast = sized(0);
    shortLast.bytes[last] -= kSectorBytes;
    shortLast.fits = false;
    trials.push_back(shortLast);
    SizeTrial emptyFirst = sized(0);
    emptyFirst.bytes[0] = 0;
    emptyFirst.fits = false;
    trials.push_back(emptyFirst);
    SizeTrial ragged = sized(0);
    ragged.bytes[last] += 1;
    ragged.fits = false;
    trials.push_back(ragged);
    SizeTrial huge = sized(0);
    huge.bytes[0] = uint64_t(kMaxDiscSectors - (total - need[0])) * kSectorBytes;
    huge.fits = total - need[0] < kMaxDiscSectors;
    trials.push_back(huge);
    huge.bytes[0] += kSectorBytes;
    huge.fits = false;
    trials.push_back(huge);
    return trials;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The sheet's own copy, exactly its size, so a read past the text is caught.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    std::unique_ptr<CueSheet> sheet(new CueSheet());
    CueError error;
    std::memset(&error, 0xA5, sizeof error);
    if (!ParseCueSheet(text.get(), size, sheet.get(), &error)) {
        FUZZ_CHECK(strnlen(error.message, sizeof error.message) < sizeof error.message);
        FUZZ_CHECK(error.message[0] != 0);
        FUZZ_CHECK(error.line >= 0 && size_t(error.line) <= size + 1);
        return 0;
    }
    CheckSheet(*sheet, text.get(), size);
    std::unique_ptr<DiscLayout> layout(new DiscLayout());
    for (const SizeTrial& trial : Trials(*sheet)) {
        bool laid = LayOutDisc(*sheet, trial.bytes.data(), layout.get(), &error);
        FUZZ_CHECK(laid == trial.fits);
        if (laid)
            CheckLayout(*sheet, trial.bytes, *layout);
        else
            FUZZ_CHECK(error.message[0] != 0);
    }
    return 0;
}
