#include "vdrive/frame_damage.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "vdrive/cue_sheet.h"

namespace vdrive {

namespace {

constexpr uint32_t kShortestRun = 4, kLongestRun = 300;
constexpr uint32_t kPercent = 100;
constexpr uint32_t kNonzeroBytes = 255;
constexpr int32_t kNone = -1;
constexpr int kBitsPerByte = 8;
constexpr uint8_t kTopBit = 0x80;

// splitmix64: small, and the same sequence on every build.
constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kMix1 = 0xBF58476D1CE4E5B9ull, kMix2 = 0x94D049BB133111EBull;
constexpr int kShift1 = 30, kShift2 = 27, kShift3 = 31;

} // namespace

struct FrameDamage::Slot {
    uint32_t lba;
    WrongRun wrong;
    int32_t newer, older;
    uint8_t bytes[kSectorBytes];
};

bool LbaRanges::Has(uint32_t lba) const {
    for (int i = 0; i < count; i++)
        if (lba >= items[i].first && lba <= items[i].last) return true;
    return false;
}

void PutC2Pointers(WrongRun wrong, uint8_t* out, uint32_t bytes) {
    std::memset(out, 0, bytes);
    for (uint32_t k = wrong.start; k < uint32_t(wrong.start) + wrong.length; k++)
        out[k / kBitsPerByte] |= uint8_t(kTopBit >> (k % kBitsPerByte));
    if (bytes == kC2BlockBytes)
        for (uint32_t i = 0; i < kC2PointerBytes; i++) out[kC2PointerBytes] |= out[i];
}

FrameDamage::FrameDamage()
    : damaged_(), garbled_(), odds_(kDefaultDamageOdds), seed_(kDefaultDamageSeed),
      state_(kDefaultDamageSeed), capacity_(0), used_(0), slots_(nullptr), pending_(nullptr),
      index_(nullptr), discFrames_(0), newest_(kNone), oldest_(kNone) {}

FrameDamage::~FrameDamage() {
    Release();
}

// The old cache goes with `other`, the temporary it came from.
FrameDamage& FrameDamage::operator=(FrameDamage&& other) {
    std::swap(damaged_, other.damaged_);
    std::swap(garbled_, other.garbled_);
    std::swap(odds_, other.odds_);
    std::swap(seed_, other.seed_);
    std::swap(state_, other.state_);
    std::swap(capacity_, other.capacity_);
    std::swap(used_, other.used_);
    std::swap(slots_, other.slots_);
    std::swap(pending_, other.pending_);
    std::swap(index_, other.index_);
    std::swap(discFrames_, other.discFrames_);
    std::swap(newest_, other.newest_);
    std::swap(oldest_, other.oldest_);
    return *this;
}

void FrameDamage::Release() {
    std::free(slots_);
    std::free(pending_);
    std::free(index_);
    slots_ = nullptr;
    pending_ = nullptr;
    index_ = nullptr;
    capacity_ = used_ = 0;
    newest_ = oldest_ = kNone;
}

void FrameDamage::Configure(const DamageConfig& c) {
    damaged_ = c.damaged;
    garbled_ = c.garbled;
    odds_ = c.odds;
    if (c.seed != seed_) state_ = seed_ = c.seed;
    if (c.cacheFrames == capacity_) return;
    Release();
    slots_ = static_cast<Slot*>(std::malloc(size_t(c.cacheFrames) * sizeof(Slot)));
    pending_ = static_cast<WrongRun*>(std::malloc(size_t(c.cacheFrames) * sizeof(WrongRun)));
    if (slots_ && pending_)
        capacity_ = c.cacheFrames;
    else
        Release(); // no memory: a drive without a cache
}

void FrameDamage::Forget(uint32_t discFrames) {
    std::free(index_);
    index_ = nullptr; // made again at the first frame kept
    discFrames_ = discFrames;
    used_ = 0;
    newest_ = oldest_ = kNone;
}

uint64_t FrameDamage::Next() {
    uint64_t z = state_ += kGolden;
    z = (z ^ (z >> kShift1)) * kMix1;
    z = (z ^ (z >> kShift2)) * kMix2;
    return z ^ (z >> kShift3);
}

WrongRun FrameDamage::Garble(uint8_t* frame) {
    uint32_t length = kShortestRun + uint32_t(Next() % (kLongestRun - kShortestRun + 1));
    uint32_t start = uint32_t(Next() % (kSectorBytes - length + 1));
    for (uint32_t k = start; k < start + length; k++)
        frame[k] ^= uint8_t(1 + Next() % kNonzeroBytes);
    return {uint16_t(start), uint16_t(length)};
}

DeliveredFrame FrameDamage::Deliver(uint32_t lba, uint32_t index, uint8_t* frame) {
    DeliveredFrame d = {kMarkFresh, {0, 0}};
    if (index_ && lba < discFrames_ && index_[lba] != kNone) {
        const Slot& s = slots_[index_[lba]];
        std::memcpy(frame, s.bytes, kSectorBytes);
        d = {s.wrong.length ? kMarkCachedWrong : kMarkCached, s.wrong};
    } else if (garbled_.Has(lba) || (damaged_.Has(lba) && Next() % kPercent < odds_)) {
        d = {kMarkFreshWrong, Garble(frame)};
    }
    if (capacity_) pending_[index % capacity_] = d.wrong;
    return d;
}

// Only the last `capacity_` frames can stay: earlier ones would give way to them.
void FrameDamage::Keep(uint32_t lba, uint32_t count, const uint8_t* data, uint32_t stride) {
    if (!capacity_ || !count || uint64_t(lba) + count > discFrames_) return;
    if (!index_) {
        index_ = static_cast<int32_t*>(std::malloc(size_t(discFrames_) * sizeof(int32_t)));
        if (!index_) return;
        for (uint32_t i = 0; i < discFrames_; i++) index_[i] = kNone;
    }
    for (uint32_t i = count > capacity_ ? count - capacity_ : 0; i < count; i++)
        Store(lba + i, data + size_t(i) * stride, pending_[i % capacity_]);
}

void FrameDamage::Unlink(int32_t s) {
    Slot& slot = slots_[s];
    (slot.newer == kNone ? newest_ : slots_[slot.newer].older) = slot.older;
    (slot.older == kNone ? oldest_ : slots_[slot.older].newer) = slot.newer;
}

void FrameDamage::Store(uint32_t lba, const uint8_t* frame, WrongRun wrong) {
    int32_t s = index_[lba];
    if (s != kNone) {
        Unlink(s);
    } else if (used_ < capacity_) {
        s = int32_t(used_++);
    } else {
        s = oldest_;
        Unlink(s);
        index_[slots_[s].lba] = kNone;
    }
    Slot& slot = slots_[s];
    index_[lba] = s;
    slot.lba = lba;
    slot.wrong = wrong;
    std::memcpy(slot.bytes, frame, kSectorBytes);
    slot.newer = kNone;
    slot.older = newest_;
    (newest_ == kNone ? oldest_ : slots_[newest_].newer) = s;
    newest_ = s;
}

} // namespace vdrive
