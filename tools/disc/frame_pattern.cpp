#include "tools/disc/frame_pattern.h"

namespace td_disc {

namespace {

// An invertible 32-bit mix (MurmurHash3's finaliser) spreads the sample number
// over both channels; the salt keeps the one input that maps to zero far past
// any real disc.
constexpr uint32_t kSalt = 0x9E3779B9u;
constexpr uint32_t kMul1 = 0x85EBCA6Bu, kMul1Inv = 0xA5CB9243u;
constexpr uint32_t kMul2 = 0xC2B2AE35u, kMul2Inv = 0x7ED1B41Du;
constexpr int kShiftA = 16, kShiftB = 13;

uint32_t Mix(uint32_t h) {
    h ^= h >> kShiftA;
    h *= kMul1;
    h ^= h >> kShiftB;
    h *= kMul2;
    h ^= h >> kShiftA;
    return h;
}

uint32_t Unmix(uint32_t h) {
    h ^= h >> kShiftA;
    h *= kMul2Inv;
    h ^= (h >> kShiftB) ^ (h >> (2 * kShiftB));
    h *= kMul1Inv;
    h ^= h >> kShiftA;
    return h;
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t PatternSample(uint32_t lba, uint32_t sample) {
    return Mix(lba * kFrameSamples + sample + kSalt);
}

void FillFrame(uint32_t lba, uint8_t* frame) {
    for (uint32_t i = 0; i < kFrameSamples; i++) {
        uint32_t v = PatternSample(lba, i);
        uint8_t* p = frame + i * kStereoBytes;
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }
}

void FillFrames(uint32_t lba, uint32_t count, uint8_t* dst) {
    for (uint32_t i = 0; i < count; i++) FillFrame(lba + i, dst + size_t(i) * kFrameBytes);
}

bool LocateSample(const uint8_t* data, PatternPos* pos) {
    uint32_t n = Unmix(ReadLe32(data)) - kSalt;
    uint32_t lba = n / kFrameSamples;
    if (lba >= kMaxPatternLba) return false;
    pos->lba = lba;
    pos->offset = (n % kFrameSamples) * kStereoBytes;
    return true;
}

size_t PatternRun(const uint8_t* data, size_t bytes, PatternPos* start) {
    if (bytes < kStereoBytes || !LocateSample(data, start)) return 0;
    uint32_t n = start->lba * kFrameSamples + start->offset / kStereoBytes;
    size_t done = 0;
    while (done + kStereoBytes <= bytes && n / kFrameSamples < kMaxPatternLba &&
           ReadLe32(data + done) == Mix(n + kSalt)) {
        done += kStereoBytes;
        n++;
    }
    return done;
}

} // namespace td_disc
