// What a scratched disc does to the frames a drive reads, and the drive's own
// cache of the frames it read last. A real drive hands back wrong bytes with
// GOOD status now and then, and answers a re-read from its cache with the same
// bytes again, wrong or right; the noise is seeded so that a run can be repeated.
#pragma once
#include <cstdint>

namespace vdrive {

constexpr int kMaxLbaRanges = 64;
constexpr uint32_t kMaxCacheFrames = 8192;
constexpr uint32_t kDefaultDamageOdds = 30; // percent
constexpr uint32_t kDefaultDamageSeed = 1;
constexpr uint32_t kC2PointerBytes = 294; // a bit for each byte of a frame
constexpr uint32_t kC2BlockBytes = 296;   // the pointers, their OR, a pad byte

struct LbaRange {
    uint32_t first, last; // inclusive
};

struct LbaRanges {
    int count;
    LbaRange items[kMaxLbaRanges];

    bool Has(uint32_t lba) const;
};

// What READ CD's error field gets: pointers to the wrong bytes, pointers that
// never flag anything, or ILLEGAL REQUEST.
enum class C2Mode : uint8_t { On, Off, Refused };

struct DamageConfig {
    LbaRanges damaged; // wrong now and then, `odds` percent of fresh reads
    LbaRanges garbled; // wrong at every fresh read
    uint32_t odds;
    uint32_t cacheFrames;
    uint32_t seed;
    C2Mode c2;
};

// The bytes of a frame that came back wrong: none when `length` is 0.
struct WrongRun {
    uint16_t start, length;
};

// How a frame came back, as the command log marks it.
constexpr char kMarkFresh = '.', kMarkFreshWrong = 'w', kMarkCached = 'c', kMarkCachedWrong = 'C';

struct DeliveredFrame {
    char mark;
    WrongRun wrong;
};

// C2 error pointers flagging `wrong`, as kC2PointerBytes or kC2BlockBytes.
void PutC2Pointers(WrongRun wrong, uint8_t* out, uint32_t bytes);

class FrameDamage {
  public:
    FrameDamage();
    ~FrameDamage();
    FrameDamage(const FrameDamage&) = delete;
    FrameDamage& operator=(const FrameDamage&) = delete;
    FrameDamage& operator=(FrameDamage&& other);

    // The keys as the INI now has them: the noise starts over only when the
    // seed changed, and the cache only when its size did.
    void Configure(const DamageConfig& c);
    // A new medium, or none (`discFrames` 0): the cache forgets every frame.
    void Forget(uint32_t discFrames);

    // The disc's bytes of the frame at `lba`, the `index`th of a READ CD,
    // become what the drive hands back.
    DeliveredFrame Deliver(uint32_t lba, uint32_t index, uint8_t* frame);
    // The READ CD of `count` frames from `lba` succeeded, `stride` bytes a
    // frame in `data`: the cache keeps what it delivered.
    void Keep(uint32_t lba, uint32_t count, const uint8_t* data, uint32_t stride);

  private:
    struct Slot;

    uint64_t Next();
    WrongRun Garble(uint8_t* frame);
    void Store(uint32_t lba, const uint8_t* frame, WrongRun wrong);
    void Unlink(int32_t s);
    void Release();

    LbaRanges damaged_, garbled_;
    uint32_t odds_;
    uint32_t seed_;
    uint64_t state_;
    uint32_t capacity_;
    uint32_t used_;
    Slot* slots_;
    WrongRun* pending_; // what the READ CD under way got wrong, by index mod capacity
    int32_t* index_;    // the slot of each address of the disc, or -1
    uint32_t discFrames_;
    int32_t newest_, oldest_;
};

} // namespace vdrive
