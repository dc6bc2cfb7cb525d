#include "vdrive/wave_samples.h"

#include <cstdio>
#include <cstring>

namespace vdrive {

namespace {

constexpr uint32_t kRiffHeaderBytes = 12; // "RIFF", size, "WAVE"
constexpr uint32_t kChunkHeaderBytes = 8; // id, size
constexpr uint32_t kFormTypeAt = 8;
constexpr uint32_t kPcmFormatBytes = 16;
constexpr uint32_t kExtensibleFormatBytes = 40;
constexpr uint32_t kSubFormatAt = 24; // of an extensible format: its first two bytes, the tag
constexpr uint16_t kFormatPcm = 0x0001;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint16_t kChannels = 2;
constexpr uint32_t kSampleRate = 44100;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr int kMaxChunks = 1024; // no real file has more before its samples

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16;
}

bool Say(char* reason, size_t size, const char* text) {
    std::snprintf(reason, size, "%s", text);
    return false;
}

// The format chunk's body: PCM, or an extensible format whose sub-format is PCM.
bool CheckFormat(const uint8_t* fmt, uint32_t size, char* reason, size_t reasonSize) {
    if (size < kPcmFormatBytes) {
        std::snprintf(reason, reasonSize, "has a fmt chunk of %u bytes", unsigned(size));
        return false;
    }
    uint16_t tag = Le16(fmt);
    if (tag == kFormatExtensible && size >= kExtensibleFormatBytes) tag = Le16(fmt + kSubFormatAt);
    if (tag != kFormatPcm) {
        std::snprintf(reason, reasonSize, "is not PCM (format 0x%04X)", unsigned(tag));
        return false;
    }
    uint16_t channels = Le16(fmt + 2), bits = Le16(fmt + 14), align = Le16(fmt + 12);
    uint32_t rate = Le32(fmt + 4);
    if (channels == kChannels && rate == kSampleRate && bits == kBitsPerSample &&
        align == kBlockAlign)
        return true;
    std::snprintf(reason, reasonSize,
                  "is %u Hz, %u-bit with %u channel(s): a track must be 44100 Hz, 16-bit stereo",
                  unsigned(rate), unsigned(bits), unsigned(channels));
    return false;
}

} // namespace

bool FindWaveSamples(ReadFileAt read, void* file, uint64_t fileBytes, WaveSamples* samples,
                     char* reason, size_t reasonSize) {
    uint8_t header[kRiffHeaderBytes];
    if (fileBytes < kRiffHeaderBytes || !read(file, 0, header, sizeof header) ||
        std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + kFormTypeAt, "WAVE", 4) != 0)
        return Say(reason, reasonSize, "is not a RIFF WAVE file");
    bool haveFormat = false, haveData = false;
    WaveSamples found = {};
    // The RIFF size is not trusted (writers of streams leave it wrong): the file's is.
    uint64_t at = kRiffHeaderBytes;
    for (int n = 0; n < kMaxChunks && at + kChunkHeaderBytes <= fileBytes; n++) {
        uint8_t chunk[kChunkHeaderBytes];
        if (!read(file, at, chunk, sizeof chunk)) return Say(reason, reasonSize, "cannot be read");
        uint32_t size = Le32(chunk + 4);
        uint64_t body = at + kChunkHeaderBytes;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            uint8_t fmt[kExtensibleFormatBytes] = {};
            uint32_t take = size < sizeof fmt ? size : uint32_t(sizeof fmt);
            if (body + take > fileBytes || !read(file, body, fmt, take))
                return Say(reason, reasonSize, "ends inside its fmt chunk");
            if (!CheckFormat(fmt, size, reason, reasonSize)) return false;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
            found.offset = body;
            found.bytes = size < fileBytes - body ? size : fileBytes - body;
            haveData = true;
        }
        if (haveFormat && haveData) {
            *samples = found;
            return true;
        }
        at = body + size + (size & 1); // chunks of an odd size are padded
    }
    return Say(reason, reasonSize, haveData ? "has no fmt chunk" : "has no data chunk");
}

} // namespace vdrive
