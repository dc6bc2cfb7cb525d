#include "audio/track_copy.h"

#include "audio/progress_dialog.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"

#include <cstring>

namespace {

// Frames read between two readings of a frame: more than the largest drive
// cache (about 4 MB, 1,800 frames), so the later reading comes off the disc.
// Not every drive honours FUA or a cache-disabling mode page.
constexpr DWORD kCacheDefeatFrames = 2048;
constexpr int kMaxReadings = 16;
// Real drives take seconds over a frame they cannot read: one that failed
// this often, without a single reading, is given up as silence.
constexpr int kMaxFailedReadings = 3;
constexpr int kMaxSuspects = 256; // frames in doubt at once
constexpr DWORD kNoFrame = 0xFFFFFFFF;
constexpr DWORD kFrameWithC2 = kFrameBytes + kC2PointerBytes;

// Whole words through a multiply and a shift: each step is a bijection, so
// frames that differ in one word never collide, and noise practically never.
uint64_t FrameHash(const BYTE* frame) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (DWORD i = 0; i < kFrameBytes; i += sizeof(uint64_t)) {
        uint64_t word;
        memcpy(&word, frame + i, sizeof word);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return h;
}

bool C2Flagged(const BYTE* frame) {
    for (DWORD i = 0; i < kC2PointerBytes; i++)
        if (frame[kFrameBytes + i]) return true;
    return false;
}

size_t RoundUp(size_t bytes) {
    return (bytes + sizeof(uint64_t) - 1) & ~(sizeof(uint64_t) - 1);
}

} // namespace

// What a frame's first reading gave, and what became of it after the second.
enum TrackCopy::Outcome : BYTE { kUnread, kClean, kFlagged, kFailed, kSettled, kInDoubt };

struct TrackCopy::Suspect {
    DWORD frame; // from the track's start; kNoFrame while unused
    BYTE readings, failures, tallies;
    BYTE bestCount; // how many readings gave `bytes`; 0 while it holds silence
    struct {
        uint64_t hash;
        BYTE clean, all; // readings that gave it, and those of them without C2 flags
    } tally[kMaxReadings];
    BYTE bytes[kFrameBytes];
};

TrackCopy::~TrackCopy() {
    if (memory_) HeapFree(GetProcessHeap(), 0, memory_);
}

bool TrackCopy::Begin(int track, DWORD frames) {
    track_ = track;
    first_ = player_.TrackStart(track);
    frames_ = frames;
    blocks_ = (frames + kTransferFrames - 1) / kTransferFrames;
    fillerTrack_ = track;
    fillerAt_ = first_ + frames; // from the track after it
    const size_t hashes = RoundUp(frames * sizeof(uint64_t)), states = RoundUp(frames),
                 clocks = RoundUp(blocks_ * sizeof(DWORD)), bits = RoundUp(frames / 8 + 1),
                 suspects = RoundUp(kMaxSuspects * sizeof(Suspect));
    memory_ = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                        hashes + states + clocks + bits + suspects + kTransferFrames * kFrameWithC2);
    if (!memory_) return false;
    BYTE* at = static_cast<BYTE*>(memory_);
    firstHash_ = reinterpret_cast<uint64_t*>(at);
    state_ = at += hashes;
    lastRead_ = reinterpret_cast<DWORD*>(at += states);
    inexact_ = at += clocks;
    suspects_ = reinterpret_cast<Suspect*>(at += bits);
    buffer_ = at + suspects;
    for (int i = 0; i < kMaxSuspects; i++) suspects_[i].frame = kNoFrame;
    return true;
}

void TrackCopy::Run() {
    while (!Over()) {
        Step();
        Pump();
    }
}

bool TrackCopy::Over() const {
    return cancelled_ || discLost_ || diskFull_ || (secondCursor_ == blocks_ && !activeSuspects_);
}

// Reads the next block a second time once its first reading is far enough
// behind; else a frame in doubt that is due; else the next block once; and
// when nothing is due, other tracks' frames, to push the track out of the cache.
void TrackCopy::Step() {
    if (secondCursor_ < firstCursor_ && Since(lastRead_[secondCursor_]) >= kCacheDefeatFrames &&
        DWORD(kMaxSuspects - activeSuspects_) >= BlockFrames(secondCursor_))
        return SecondReading(secondCursor_++);
    int due = RetryDue();
    if (due >= 0) return Retry(suspects_[due].frame / kTransferFrames);
    if (firstCursor_ < blocks_) return FirstReading(firstCursor_++);
    ReadFiller();
}

// Half for reading every frame once, half for having it in the file for good:
// the whole range only once the last frame in doubt is settled.
DWORD TrackCopy::Progress() const {
    DWORD firstRead = firstCursor_ * kTransferFrames < frames_ ? firstCursor_ * kTransferFrames
                                                                : frames_;
    DWORD done = firstRead + framesWritten_, doubtful = DWORD(activeSuspects_);
    return done > doubtful ? (done - doubtful) / 2 : 0; // a full disk can cut the frames written
}

DWORD TrackCopy::BlockFrames(DWORD block) const {
    DWORD from = block * kTransferFrames;
    return frames_ - from < kTransferFrames ? frames_ - from : kTransferFrames;
}

bool TrackCopy::Pump() {
    if (ProgressStep(Progress())) cancelled_ = true;
    return !cancelled_;
}

BYTE* TrackCopy::Frame(DWORD i) const {
    return buffer_ + i * (withC2_ ? kFrameWithC2 : kFrameBytes);
}

// One READ CD of `count` frames from the track's frame `from`; a drive that
// will not send C2 pointers is then read without them. False when the copy
// must end: the disc stopped answering, or Cancel came between reads.
bool TrackCopy::ReadRange(DWORD from, DWORD count, Outcome* outcomes) {
    clock_ += count;
    bool read = player_.ReadRawSectors(buffer_, first_ + from, count, withC2_) != 0;
    if (!read && withC2_ && !player_.LastReadFailedOnMedium()) {
        if (!Pump()) return false;
        read = player_.ReadRawSectors(buffer_, first_ + from, count) != 0;
        if (read || player_.LastReadFailedOnMedium()) withC2_ = false;
    }
    if (!read) {
        discLost_ = !player_.LastReadFailedOnMedium();
        return !discLost_ && ReadFrameByFrame(from, count, outcomes);
    }
    anyFrameRead_ = true;
    for (DWORD i = 0; i < count; i++) outcomes[i] = withC2_ && C2Flagged(Frame(i)) ? kFlagged : kClean;
    return true;
}

// After a failed read, so that one bad frame costs only itself.
bool TrackCopy::ReadFrameByFrame(DWORD from, DWORD count, Outcome* outcomes) {
    for (DWORD i = 0; i < count; i++) {
        if (!Pump()) return false;
        clock_++;
        if (player_.ReadRawSectors(Frame(i), first_ + from + i, 1, withC2_)) {
            anyFrameRead_ = true;
            outcomes[i] = withC2_ && C2Flagged(Frame(i)) ? kFlagged : kClean;
        } else if (player_.LastReadFailedOnMedium()) {
            outcomes[i] = kFailed;
        } else {
            discLost_ = true;
            return false;
        }
    }
    return true;
}

// One reading of a whole block, noted as its last.
bool TrackCopy::ReadBlock(DWORD block, Outcome* outcomes) {
    if (!ReadRange(block * kTransferFrames, BlockFrames(block), outcomes)) return false;
    lastRead_[block] = clock_;
    return true;
}

void TrackCopy::FirstReading(DWORD block) {
    DWORD from = block * kTransferFrames, count = BlockFrames(block);
    Outcome outcomes[kTransferFrames];
    if (!ReadBlock(block, outcomes)) return;
    for (DWORD i = 0; i < count; i++) {
        state_[from + i] = outcomes[i];
        if (outcomes[i] != kFailed) firstHash_[from + i] = FrameHash(Frame(i));
    }
}

// Frames whose two readings agree, without C2 flags, are settled; the others
// go into doubt, holding their second reading (or silence) until settled. The
// block goes to the file either way.
void TrackCopy::SecondReading(DWORD block) {
    DWORD from = block * kTransferFrames, count = BlockFrames(block);
    Outcome outcomes[kTransferFrames];
    if (!ReadBlock(block, outcomes)) return;
    for (DWORD i = 0; i < count; i++) {
        DWORD f = from + i;
        BYTE* frame = Frame(i);
        if (outcomes[i] == kClean && state_[f] == kClean && FrameHash(frame) == firstHash_[f]) {
            state_[f] = kSettled;
            continue;
        }
        if (outcomes[i] == kFailed) memset(frame, 0, kFrameBytes);
        Suspect* s = SuspectOf(kNoFrame); // a free record: the pool has room for the block
        activeSuspects_++;
        s->frame = f;
        s->readings = 1;
        s->bestCount = 0;
        s->failures = state_[f] == kFailed;
        s->tallies = !s->failures;
        s->tally[0] = {firstHash_[f], BYTE(state_[f] == kClean), 1};
        state_[f] = kInDoubt;
        AddReading(s, outcomes[i], frame);
    }
    // The frames go to the file without their C2 pointers.
    for (DWORD i = 1; withC2_ && i < count; i++) memmove(buffer_ + i * kFrameBytes, Frame(i), kFrameBytes);
    framesWritten_ += count;
    if (writer_.AppendData(buffer_, count * kFrameBytes) == 1) {
        diskFull_ = true; // the writer has said so, and finished the file with what fitted
        framesWritten_ = writer_.DataBytes() / kFrameBytes;
    }
}

// The frame in doubt whose block was read longest ago, once that is far
// enough behind; -1 when none is due.
int TrackCopy::RetryDue() const {
    int due = -1;
    DWORD oldest = 0;
    for (int i = 0; i < kMaxSuspects; i++) {
        if (suspects_[i].frame == kNoFrame) continue;
        DWORD age = Since(lastRead_[suspects_[i].frame / kTransferFrames]);
        if (age >= kCacheDefeatFrames && age >= oldest) {
            oldest = age;
            due = i;
        }
    }
    return due;
}

// Reads the block's frames in doubt again, from the first to the last of them.
void TrackCopy::Retry(DWORD block) {
    DWORD from = (block + 1) * kTransferFrames, to = 0;
    for (int i = 0; i < kMaxSuspects; i++) {
        DWORD f = suspects_[i].frame;
        if (f == kNoFrame || f / kTransferFrames != block) continue;
        if (f < from) from = f;
        if (f + 1 > to) to = f + 1;
    }
    Outcome outcomes[kTransferFrames];
    if (!ReadRange(from, to - from, outcomes)) return;
    lastRead_[block] = clock_;
    for (DWORD f = from; f < to; f++)
        if (state_[f] == kInDoubt) AddReading(SuspectOf(f), outcomes[f - from], Frame(f - from));
}

// Frames to read only to push the track out of the drive's cache, distinct
// for as long as the disc allows: every audio track in turn from the one after
// the saved track, and the saved one's settled blocks not read lately (the
// cache may still hold those). False when there are none.
bool TrackCopy::NextFiller() {
    const int tracks = player_.LastTrack() - player_.FirstTrack() + 1;
    for (int turns = 0; turns <= tracks;) {
        DWORD end = fillerTrack_ == track_ ? first_ + frames_ : player_.TrackEnd(fillerTrack_);
        if (fillerTrack_ == track_ && fillerAt_ < end) {
            DWORD block = (fillerAt_ - first_) / kTransferFrames;
            if (block < secondCursor_ && !InDoubt(block) &&
                Since(lastRead_[block]) >= kCacheDefeatFrames)
                return true;
            fillerAt_ = first_ + (block + 1) * kTransferFrames;
            continue;
        }
        if (player_.IsAudioTrack(fillerTrack_) && fillerAt_ < end) return true;
        fillerTrack_ = fillerTrack_ >= player_.LastTrack() ? player_.FirstTrack() : fillerTrack_ + 1;
        fillerAt_ = player_.TrackStart(fillerTrack_);
        turns++;
    }
    return false;
}

// Without other frames to read, time passes without a read: no cache can be
// pushed out then.
void TrackCopy::ReadFiller() {
    DWORD count = kTransferFrames;
    if (NextFiller()) {
        DWORD end = fillerTrack_ == track_ ? first_ + frames_ : player_.TrackEnd(fillerTrack_);
        if (end - fillerAt_ < count) count = end - fillerAt_;
        if (!player_.ReadRawSectors(buffer_, fillerAt_, count) && !player_.LastReadFailedOnMedium())
            discLost_ = true;
        if (fillerTrack_ == track_) lastRead_[(fillerAt_ - first_) / kTransferFrames] = clock_ + count;
        fillerAt_ += count;
    }
    clock_ += count;
}

bool TrackCopy::InDoubt(DWORD block) const {
    for (int i = 0; i < kMaxSuspects; i++)
        if (suspects_[i].frame != kNoFrame && suspects_[i].frame / kTransferFrames == block)
            return true;
    return false;
}

TrackCopy::Suspect* TrackCopy::SuspectOf(DWORD frame) const {
    for (int i = 0; i < kMaxSuspects; i++)
        if (suspects_[i].frame == frame) return &suspects_[i];
    return nullptr;
}

// Two clean readings alike settle the frame. Otherwise the file holds its most
// frequent reading so far, until the readings run out.
void TrackCopy::AddReading(Suspect* s, Outcome outcome, const BYTE* frame) {
    s->readings++;
    if (outcome == kFailed) {
        s->failures++;
    } else {
        uint64_t hash = FrameHash(frame);
        int t = 0;
        while (t < s->tallies && s->tally[t].hash != hash) t++;
        if (t == s->tallies) s->tally[s->tallies++] = {hash, 0, 0};
        s->tally[t].all++;
        if (outcome == kClean && ++s->tally[t].clean >= 2) {
            Patch(s, frame);
            return Release(s, true);
        }
        if (s->tally[t].all > s->bestCount) {
            s->bestCount = s->tally[t].all;
            memcpy(s->bytes, frame, kFrameBytes);
            Patch(s, frame);
        }
    }
    if (s->readings >= kMaxReadings || (!s->bestCount && s->failures >= kMaxFailedReadings))
        Release(s, false);
}

// Frames already in the file are rewritten in place; the others go in with their block.
void TrackCopy::Patch(const Suspect* s, const BYTE* bytes) {
    if (s->frame < framesWritten_ && !diskFull_)
        writer_.PatchData(s->frame * kFrameBytes, bytes, kFrameBytes);
}

void TrackCopy::Release(Suspect* s, bool exact) {
    state_[s->frame] = kSettled;
    if (!exact) inexact_[s->frame / 8] |= BYTE(1 << (s->frame % 8));
    s->frame = kNoFrame;
    activeSuspects_--;
}

void TrackCopy::Report(CopyReport* report) const {
    report->runCount = 0;
    bool inRun = false;
    for (DWORD f = 0; f < framesWritten_; f++) {
        bool doubtful = (inexact_[f / 8] >> (f % 8) & 1) || state_[f] == kInDoubt;
        if (doubtful && !inRun) {
            if (report->runCount < kListedRuns) report->runs[report->runCount] = {f, 0};
            report->runCount++;
        }
        if (doubtful && report->runCount <= kListedRuns) report->runs[report->runCount - 1].count++;
        inRun = doubtful;
    }
}
