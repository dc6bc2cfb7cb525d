// Cue sheets, however wrong, through the virtual drive's parser and disc
// layout, then the drive itself: what READ TOC and READ CD answer must agree
// with the layout and with the bytes of the BIN files, and the player's own
// TOC parsing must read the drive's reply back to the same addresses.
// Input: the sheet's text. The files are made up to fit it, or not.
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

constexpr uint8_t kOpReadToc = 0x43, kOpReadCd = 0xBE;
constexpr uint8_t kCddaSectorType = 0x04; // expected sector type 1, in bits 2-4
constexpr uint8_t kMainChannel = 0xF8;
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kAdrControlAudio = 0x10, kAdrControlData = 0x14;
constexpr uint8_t kAscLbaOutOfRange = 0x21, kAscEndOfUserArea = 0x63,
                  kAscIllegalModeForTrack = 0x64;
constexpr uint8_t kTocFormatFullToc = 2, kFirstSession = 1;
constexpr uint32_t kMsfFrames = (100 * 60 - 2) * 75; // 99:59:74 less the lead-in
constexpr size_t kReadTocCdb = 10, kReadCdCdb = 12;
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

bool Before(const CuePos& a, const CuePos& b) {
    return a.file < b.file || (a.file == b.file && a.frame < b.frame);
}

// The bytes of FILE f's first `frames` frames: each frame is a sector of the
// track that records it, from that track's first INDEX to the next one's.
uint64_t FileBytes(const CueSheet& sheet, int f, uint64_t frames) {
    constexpr uint64_t kAll = UINT64_MAX;
    uint64_t bytes = 0;
    for (int t = 0; t < sheet.trackCount; t++) {
        auto first = [&](int k) {
            const CueTrack& ct = sheet.tracks[k];
            return ct.hasPregap ? ct.pregap : ct.start;
        };
        CuePos from = first(t);
        uint64_t low = t == 0 || from.file < f ? 0 : from.file == f ? from.frame : kAll;
        uint64_t high = kAll;
        if (t + 1 < sheet.trackCount) {
            CuePos to = first(t + 1);
            high = to.file > f ? kAll : to.file == f ? to.frame : 0;
        }
        high = std::min(high, frames);
        if (high > low) bytes += (high - low) * SectorBytesOf(sheet.tracks[t].mode);
    }
    return bytes;
}

// The frames that `bytes` make of FILE f: whole sectors, and of a WAVE a last
// short one.
uint64_t FileFrames(const CueSheet& sheet, int f, uint64_t bytes) {
    uint64_t low = 0, high = uint64_t(1) << 32;
    while (low + 1 < high) {
        uint64_t mid = (low + high) / 2;
        (FileBytes(sheet, f, mid) <= bytes ? low : high) = mid;
    }
    return low + (sheet.fileTypes[f] == FileType::Wave && FileBytes(sheet, f, low) < bytes);
}

// Checks what the parser kept; returns the frames each file needs to hold
// every INDEX the sheet puts in it.
std::vector<uint64_t> CheckSheet(const CueSheet& sheet, const char* text, size_t size) {
    FUZZ_CHECK(sheet.fileCount >= 1 && sheet.fileCount <= kMaxCueFiles);
    FUZZ_CHECK(sheet.trackCount >= 1 && sheet.trackCount <= kMaxTracks);
    for (int f = 0; f < sheet.fileCount; f++) {
        const char* name = sheet.files[f];
        size_t n = strnlen(name, kMaxCueNameBytes);
        FUZZ_CHECK(n > 0 && n < size_t(kMaxCueNameBytes));
        FUZZ_CHECK(std::search(text, text + size, name, name + n) != text + size);
    }
    std::vector<uint64_t> need(size_t(sheet.fileCount), 1);
    const CuePos* previous = nullptr;
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        FUZZ_CHECK(ct.number >= 1 && ct.number <= kMaxTracks);
        FUZZ_CHECK(t == 0 || ct.number == sheet.tracks[t - 1].number + 1);
        FUZZ_CHECK(ct.hasStart && ct.start.file >= 0 && ct.start.file < sheet.fileCount);
        FUZZ_CHECK(!previous || Before(*previous, ct.start));
        FUZZ_CHECK(!ct.hasPregap ||
                   (Before(ct.pregap, ct.start) && (!previous || Before(*previous, ct.pregap))));
        for (const CuePos& p : {ct.hasPregap ? ct.pregap : ct.start, ct.start})
            need[size_t(p.file)] = std::max<uint64_t>(need[size_t(p.file)], p.frame + 1u);
        previous = &ct.start;
    }
    return need;
}

struct Drive {
    ScsiTarget target;
    ScsiResult result;
    uint8_t status = 0;

    void Run(const uint8_t* cdb, size_t cdbLen, uint8_t* data, size_t length) {
        status = target.Execute(cdb, unsigned(cdbLen), data, uint32_t(length), &result);
    }
    bool Failed(uint8_t asc) const {
        return status == kStatusCheckCondition && result.sense.key == kSenseIllegalRequest &&
               result.sense.asc == asc;
    }
};

const DiscExtent& ExtentAt(const DiscLayout& layout, uint32_t lba) {
    int e = 0;
    while (e + 1 < layout.extentCount && layout.extents[e + 1].start <= lba) e++;
    return layout.extents[e];
}

void CheckReadCd(Drive& drive, const DiscLayout& layout, uint32_t lba, uint32_t count) {
    uint8_t cdb[kReadCdCdb] = {kOpReadCd, kCddaSectorType, 0,           0, 0, 0, 0,
                               0,         uint8_t(count),  kMainChannel};
    for (int i = 0; i < 4; i++) cdb[2 + i] = uint8_t(lba >> (24 - 8 * i));
    std::vector<uint8_t> data(size_t(count) * kSectorBytes);
    drive.Run(cdb, sizeof cdb, data.data(), data.size());
    if (uint64_t(lba) + count > layout.leadOut) return FUZZ_CHECK(drive.Failed(kAscLbaOutOfRange));
    for (uint32_t a = lba; a < lba + count; a++) {
        const DiscExtent& e = ExtentAt(layout, a);
        if (e.kind == ExtentKind::Unreadable)
            return FUZZ_CHECK(drive.Failed(kAscEndOfUserArea) && drive.result.sense.info == a);
        // The mode is that of the track whose recorded sectors hold the frame.
        int t = 0;
        while (t + 1 < layout.trackCount && layout.tracks[t + 1].pregapStart <= a) t++;
        if (layout.tracks[t].mode != TrackMode::Audio)
            return FUZZ_CHECK(drive.Failed(kAscIllegalModeForTrack) &&
                              drive.result.sense.info == a);
        // A file's bytes; silence in a gap and past the samples of a WAVE.
        uint64_t offset = e.fileByte + uint64_t(a - e.start) * kSectorBytes;
        for (uint32_t b = 0; b < kSectorBytes; b++) {
            bool held = e.kind == ExtentKind::File && offset + b < layout.fileBytes[e.file];
            FUZZ_CHECK(data[size_t(a - lba) * kSectorBytes + b] ==
                       (held ? ImageByte(e.file, offset + b) : 0));
        }
    }
    FUZZ_CHECK(drive.status == kStatusGood && drive.result.transferred == data.size());
}

void CheckToc(Drive& drive, const DiscLayout& layout) {
    uint8_t cdb[kReadTocCdb] = {kOpReadToc};
    cdb[7] = uint8_t(kTocBufferSize >> 8);
    cdb[8] = uint8_t(kTocBufferSize);
    std::vector<uint8_t> reply(kTocBufferSize, 0);
    drive.Run(cdb, sizeof cdb, reply.data(), reply.size());
    const int n = layout.trackCount;
    const size_t length = kTocHeaderSize + size_t(n + 1) * kTocDescriptorSize;
    FUZZ_CHECK(drive.status == kStatusGood && drive.result.transferred == length);
    FUZZ_CHECK((size_t(reply[0]) << 8 | reply[1]) == length - 2);
    FUZZ_CHECK(reply[2] == layout.tracks[0].number && reply[3] == layout.tracks[n - 1].number);
    for (int t = 0; t <= n; t++) {
        const uint8_t* d = &reply[kTocHeaderSize + size_t(t) * kTocDescriptorSize];
        // The lead-out carries the last track's control.
        const DiscTrack& track = layout.tracks[t < n ? t : n - 1];
        FUZZ_CHECK(d[1] == ((track.mode == TrackMode::Audio ? kAdrControlAudio : kAdrControlData) |
                            track.control));
        FUZZ_CHECK(d[2] == (t < n ? track.number : kLeadOutTrack));
        FUZZ_CHECK(Be32(d + 4) == (t < n ? track.start : layout.leadOut));
    }

    // The player reads the same reply: by track number, so only a disc that
    // starts at track 1 is taken, and then every address must come back.
    TocHeader header;
    bool taken = CheckTocReply(reply.data(), &header);
    FUZZ_CHECK(taken == (layout.tracks[0].number == 1));
    if (!taken) return;
    uint32_t leadOut = ConvertTocAddresses(reply.data(), header.last);
    FUZZ_CHECK(leadOut == layout.leadOut);
    // The full TOC tells where each session but the last ends, and the gap
    // after it belongs to no track. Its addresses are MSF: for a disc that fits.
    std::vector<uint8_t> full(kFullTocBufferSize, 0);
    cdb[2] = kTocFormatFullToc;
    cdb[6] = kFirstSession;
    cdb[7] = uint8_t(kFullTocBufferSize >> 8);
    cdb[8] = uint8_t(kFullTocBufferSize);
    drive.Run(cdb, sizeof cdb, full.data(), full.size());
    SessionEnds ends;
    ReadSessionEnds(full.data(), &ends);
    const bool fitsMsf = layout.leadOut < kMsfFrames;
    FUZZ_CHECK(!fitsMsf || ends.count == layout.sessionCount - 1);
    TocTable toc = {reply.data(), header.first, header.last, leadOut, &ends};
    for (int t = 0; t < n; t++) {
        const DiscTrack& track = layout.tracks[t];
        FUZZ_CHECK(TocTrackStart(toc, track.number) == track.start);
        uint32_t next = t + 1 < n ? layout.tracks[t + 1].start : layout.leadOut;
        uint32_t end = TocTrackEnd(toc, track.number);
        if (t + 1 == n || layout.tracks[t + 1].session == track.session) {
            FUZZ_CHECK(end == next);
        } else if (fitsMsf) {
            const DiscExtent& gap = ExtentAt(layout, layout.tracks[t + 1].pregapStart - 1);
            FUZZ_CHECK(gap.kind == ExtentKind::Unreadable && end == gap.start);
        }
        FUZZ_CHECK(TocTrackLength(toc, track.number) == end - track.start);
        for (uint32_t a : {track.pregapStart, track.start, next - 1}) {
            int index = TrackIndexOf(layout, a);
            FUZZ_CHECK(index >= 0);
            int number = layout.tracks[index].number;
            if (a >= layout.tracks[0].start)
                FUZZ_CHECK(TocTrackOfAddress(toc, a) ==
                           (a < TocTrackEnd(toc, number) ? number : 0));
        }
    }
    FUZZ_CHECK(TocTrackOfAddress(toc, layout.leadOut) == 0);
}

void CheckLayout(const CueSheet& sheet, const std::vector<uint64_t>& bytes,
                 const DiscLayout& layout) {
    FUZZ_CHECK(layout.trackCount == sheet.trackCount && layout.fileCount == sheet.fileCount);
    // The extents follow each other from 0 to the lead-out, and the files'
    // frames come in order, each once: gaps lie only between them.
    uint64_t at = 0, frame = 0;
    int file = 0;
    for (int i = 0; i < layout.extentCount; i++) {
        const DiscExtent& e = layout.extents[i];
        FUZZ_CHECK(e.start == at && e.frames > 0);
        at += e.frames;
        if (e.kind != ExtentKind::File) continue;
        if (file + 1 < layout.fileCount && frame >= FileFrames(sheet, file, bytes[size_t(file)]))
            file++, frame = 0;
        FUZZ_CHECK(e.file == file && e.fileFrame == frame &&
                   e.fileByte == FileBytes(sheet, file, frame));
        frame += e.frames;
    }
    FUZZ_CHECK(file == layout.fileCount - 1 && frame == FileFrames(sheet, file, bytes.back()));
    FUZZ_CHECK(layout.leadOut == at && layout.leadOut <= kMaxDiscSectors);
    for (int t = 0; t < layout.trackCount; t++) {
        const DiscTrack& dt = layout.tracks[t];
        const CueTrack& ct = sheet.tracks[t];
        FUZZ_CHECK(dt.number == ct.number && dt.mode == ct.mode && dt.session == ct.session &&
                   dt.control == ct.control);
        const DiscExtent& e = ExtentAt(layout, dt.start); // INDEX 01 in its file
        FUZZ_CHECK(e.kind == ExtentKind::File && e.file == ct.start.file &&
                   e.fileFrame + (dt.start - e.start) == ct.start.frame);
        FUZZ_CHECK(dt.pregapStart <= dt.start && dt.start < layout.leadOut);
        FUZZ_CHECK(t == 0 || dt.pregapStart > layout.tracks[t - 1].start);
        FUZZ_CHECK(TrackIndexOf(layout, dt.start) == t);
        FUZZ_CHECK(RecordedTrackIndexOf(layout, dt.pregapStart) == t);
        FUZZ_CHECK(t + 1 == layout.trackCount ||
                   TrackIndexOf(layout, layout.tracks[t + 1].start - 1) == t);
    }
    FUZZ_CHECK(TrackIndexOf(layout, layout.leadOut) == -1 &&
               RecordedTrackIndexOf(layout, layout.leadOut) == -1);

    std::unique_ptr<Drive> drive(new Drive());
    FakeBins bins(bytes);
    drive->target.SetUnitAttention(false);
    drive->target.SetMedium(&layout, &bins);
    CheckToc(*drive, layout);
    for (int t = 0; t < layout.trackCount; t++)
        CheckReadCd(*drive, layout, layout.tracks[t].pregapStart, 1);
    for (int i = 0; i < layout.extentCount; i++)
        CheckReadCd(*drive, layout, std::max(layout.extents[i].start, 1u) - 1, kReadSpan);
}

// The file sizes to try for one sheet, and whether the layout must take them:
// just enough, more than enough, the last a frame short or a byte over (which
// a WAVE pads and a BIN leaves out), the first empty, and the first as large
// as the disc may be (with no gaps beside), then a frame more.
struct SizeTrial {
    std::vector<uint64_t> bytes;
    bool fits;
};

std::vector<SizeTrial> Trials(const CueSheet& sheet, const std::vector<uint64_t>& need) {
    uint64_t total = 0;
    for (uint64_t n : need) total += n;
    const uint64_t others = total - need[0];
    bool gaps = sheet.tracks[sheet.trackCount - 1].session > 1;
    for (int t = 0; t < sheet.trackCount; t++)
        gaps |= sheet.tracks[t].pregapSilence + sheet.tracks[t].postgapSilence > 0;
    const int last = sheet.fileCount - 1;
    auto sized = [&](uint64_t extra, bool fits) {
        SizeTrial s{{}, fits};
        for (int f = 0; f <= last; f++)
            s.bytes.push_back(FileBytes(sheet, f, need[size_t(f)] + extra));
        return s;
    };
    std::vector<SizeTrial> t(7, sized(0, false));
    t[0].fits = true; // a sheet's INDEX times cannot make a disc too large
    t[1] = sized(kExtraFrames, true);
    t[3].fits = true;
    t[5].fits = others < kMaxDiscSectors && !gaps;
    t[2].bytes.back() = FileBytes(sheet, last, need.back() - 1);
    t[3].bytes.back() += 1;
    t[4].bytes[0] = 0;
    t[5].bytes[0] = FileBytes(sheet, 0, kMaxDiscSectors - others);
    t[6].bytes[0] = FileBytes(sheet, 0, kMaxDiscSectors - others + 1);
    return t;
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
        FUZZ_CHECK(error.message[0] != 0 &&
                   strnlen(error.message, sizeof error.message) < sizeof error.message);
        FUZZ_CHECK(error.line >= 0 && size_t(error.line) <= size + 1);
        return 0;
    }
    std::vector<uint64_t> need = CheckSheet(*sheet, text.get(), size);
    std::unique_ptr<DiscLayout> layout(new DiscLayout());
    for (const SizeTrial& trial : Trials(*sheet, need)) {
        bool laid = LayOutDisc(*sheet, trial.bytes.data(), layout.get(), &error);
        FUZZ_CHECK(laid == trial.fits);
        if (laid)
            CheckLayout(*sheet, trial.bytes, *layout);
        else
            FUZZ_CHECK(error.message[0] != 0);
    }
    return 0;
}
