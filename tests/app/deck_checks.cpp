#include "deck_checks.h"

#include "tools/disc/frame_pattern.h"

#include <cstdio>
#include <cstring>

namespace deck_test {

namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kChannels = 2;
constexpr uint32_t kSampleRate = 44100;
constexpr uint16_t kBits = 16;
constexpr uint32_t kFmtBytes = 16;
constexpr uint32_t kRiffUncounted = 8;

uint32_t Le32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}
uint16_t Le16(const Bytes& b, size_t at) {
    uint16_t v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}
bool Tag(const Bytes& b, size_t at, const char* tag) {
    return std::memcmp(&b[at], tag, 4) == 0;
}

bool Silent(const uint8_t* sample) {
    return !sample[0] && !sample[1] && !sample[2] && !sample[3];
}

} // namespace

std::string WaveFileProblems(const Bytes& file) {
    if (file.size() < kWaveHeaderBytes) return "shorter than a header";
    if (!Tag(file, 0, "RIFF") || !Tag(file, 8, "WAVE") || !Tag(file, 12, "fmt ") ||
        !Tag(file, 36, "data"))
        return "not a canonical RIFF/WAVE header";
    if (Le32(file, 4) != file.size() - kRiffUncounted) return "RIFF size does not match the file";
    if (Le32(file, 16) != kFmtBytes || Le16(file, 20) != kPcmTag || Le16(file, 22) != kChannels ||
        Le32(file, 24) != kSampleRate || Le16(file, 34) != kBits ||
        Le16(file, 32) != kChannels * kBits / 8 || Le32(file, 28) != kSampleRate * 4)
        return "not 44100 Hz 16-bit stereo PCM";
    uint32_t data = Le32(file, 40);
    if (data != file.size() - kWaveHeaderBytes) return "data size does not match the file";
    if (data % td_disc::kFrameBytes) return "data is not whole CD frames";
    return std::string();
}

Bytes WaveData(const Bytes& file) {
    return file.size() > kWaveHeaderBytes ? Bytes(file.begin() + kWaveHeaderBytes, file.end())
                                          : Bytes();
}

std::string AudioProblems(const Bytes& played) {
    char text[160];
    uint64_t next = 0; // the byte of the pattern that may come next, at the earliest
    bool first = true;
    size_t at = 0;
    while (at + td_disc::kStereoBytes <= played.size()) {
        if (Silent(&played[at])) {
            at += td_disc::kStereoBytes;
            continue;
        }
        td_disc::PatternPos pos;
        size_t run = td_disc::PatternRun(played.data() + at, played.size() - at, &pos);
        if (run == 0) {
            std::snprintf(text, sizeof text, "audio that is not the disc's at byte %zu", at);
            return text;
        }
        uint64_t start = uint64_t(pos.lba) * td_disc::kFrameBytes + pos.offset;
        if (!first && start < next) {
            std::snprintf(text, sizeof text,
                          "frame %u (+%u) played again or out of order at byte %zu", pos.lba,
                          pos.offset, at);
            return text;
        }
        first = false;
        next = start + run;
        at += run;
    }
    return std::string();
}

} // namespace deck_test

namespace deck_test {

bool PlaysPattern(const Bytes& played) {
    for (const PatternSpan& span : PatternSpans(played))
        if (span.bytes >= td_disc::kFrameBytes) return true;
    return false;
}

} // namespace deck_test
