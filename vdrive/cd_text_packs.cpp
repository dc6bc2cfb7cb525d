#include "vdrive/cd_text_packs.h"

#include <cstring>

namespace vdrive {

namespace {

constexpr uint8_t kPackTitle = 0x80;
constexpr uint8_t kPackSizeInfo = 0x8F;
constexpr int kPackTypes = 16; // 0x80 to 0x8F, as the size information counts them
constexpr int kPacksPerBlock = 256;
constexpr size_t kTextBytes = 12;
constexpr size_t kTypeAt = 0, kTrackAt = 1, kSequenceAt = 2, kPositionAt = 3, kTextAt = 4,
                 kCrcAt = 16;
constexpr int kMaxPosition = 15; // characters carried over, as the position field holds them
constexpr uint16_t kCrcPolynomial = 0x1021;
constexpr int kSizeInfoPacks = 3;
// The size information's bytes: character code, first and last track, copyright,
// the pack count of each type, the last sequence number of each block, their languages.
constexpr size_t kSizeInfoBytes = kSizeInfoPacks * kTextBytes;
constexpr size_t kInfoFirstTrackAt = 1, kInfoLastTrackAt = 2, kInfoCountsAt = 4,
                 kInfoLastSequenceAt = 20, kInfoLanguageAt = 28;
constexpr uint8_t kLanguageEnglish = 0x09;
constexpr char kSameAsBefore[] = "\t";
constexpr uint32_t kLatin1Last = 0xFF;
constexpr char kNotInLatin1 = '?';
constexpr unsigned char kUtf8Continuation = 0x80, kUtf8ThreeBytes = 0xE0, kUtf8FourBytes = 0xF0,
                        kUtf8PayloadMask = 0x3F;
constexpr uint16_t kCrcTopBit = 0x8000;
constexpr int kUtf8PayloadBits = 6;

// A sheet's text in ISO 8859-1: UTF-8 decoded (what lies beyond as '?'), any
// other bytes taken as they are (the system's code page is Latin-1 nearly enough).
void ToLatin1(const char* text, char* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t n = std::strlen(text), o = 0;
    bool utf8 = IsUtf8(text, n);
    for (size_t i = 0; i < n;) {
        if (!utf8 || p[i] < kUtf8Continuation) {
            out[o++] = char(p[i++]);
            continue;
        }
        int more = p[i] < kUtf8ThreeBytes ? 1 : p[i] < kUtf8FourBytes ? 2 : 3;
        uint32_t c = p[i] & (kUtf8PayloadMask >> more);
        for (int k = 1; k <= more; k++)
            c = c << kUtf8PayloadBits | (p[i + size_t(k)] & kUtf8PayloadMask);
        out[o++] = c <= kLatin1Last ? char(c) : kNotInLatin1;
        i += size_t(more) + 1;
    }
    out[o] = 0;
}

uint8_t* Pack(DiscLayout* layout, int n) {
    return layout->cdText + kCdTextHeaderBytes + n * kCdTextPackBytes;
}

// The reply's header: its length counts the packs and two reserved bytes.
void PutHeader(DiscLayout* layout) {
    size_t length = size_t(layout->cdTextPacks) * kCdTextPackBytes + 2;
    std::memset(layout->cdText, 0, kCdTextHeaderBytes);
    layout->cdText[0] = uint8_t(length >> 8);
    layout->cdText[1] = uint8_t(length);
}

struct PackWriter {
    DiscLayout* layout;
    int counts[kPackTypes] = {};

    // Room for one more text pack, and the size information after it, in block 0.
    bool Room() const { return layout->cdTextPacks + kSizeInfoPacks < kPacksPerBlock; }

    uint8_t* Next(uint8_t type, int track, int position) {
        uint8_t* p = Pack(layout, layout->cdTextPacks);
        std::memset(p, 0, kCdTextPackBytes);
        p[kTypeAt] = type;
        p[kTrackAt] = uint8_t(track);
        p[kSequenceAt] = uint8_t(layout->cdTextPacks++);
        p[kPositionAt] = uint8_t(position < kMaxPosition ? position : kMaxPosition);
        counts[type - kPackTitle]++;
        return p + kTextAt;
    }
};

} // namespace

uint16_t CdTextCrc(const uint8_t* pack) {
    uint16_t crc = 0;
    for (size_t i = 0; i < kCrcAt; i++) {
        crc ^= uint16_t(pack[i] << 8);
        for (int bit = 0; bit < 8; bit++)
            crc = uint16_t(crc & kCrcTopBit ? crc << 1 ^ kCrcPolynomial : crc << 1);
    }
    return uint16_t(~crc);
}

void BuildCdTextPacks(const CueSheet& sheet, DiscLayout* layout) {
    layout->cdTextPacks = 0;
    PutHeader(layout);
    int last = sheet.trackCount ? sheet.tracks[sheet.trackCount - 1].number : 0;
    int first = sheet.trackCount ? sheet.tracks[0].number : 0;
    PackWriter w{layout};
    // Texts beyond one block's packs are cut.
    for (int field = 0; field < kCueTextFields && w.Room(); field++) {
        bool any = false;
        for (int t = 0; t <= last; t++) any |= sheet.texts[t][field][0] != 0;
        if (!any) continue;
        // The texts of the disc and each track, one after another, each with its NUL.
        uint8_t* text = nullptr;
        size_t used = kTextBytes;
        char previous[kCueTextChars] = "";
        for (int t = 0; t <= last && w.Room(); t++) {
            if (t > 0 && t < first) continue;
            char latin[kCueTextChars];
            ToLatin1(sheet.texts[t][field], latin);
            bool same = t > first && latin[0] && std::strcmp(latin, previous) == 0;
            const char* s = same ? kSameAsBefore : latin;
            std::strcpy(previous, latin);
            size_t n = std::strlen(s) + 1;
            for (size_t i = 0; i < n && (used < kTextBytes || w.Room()); i++, used++) {
                if (used == kTextBytes) {
                    text = w.Next(uint8_t(kPackTitle + field), t, int(i));
                    used = 0;
                }
                text[used] = uint8_t(s[i]);
            }
        }
    }
    if (layout->cdTextPacks == 0) return;
    uint8_t info[kSizeInfoBytes] = {};
    info[kInfoFirstTrackAt] = uint8_t(first);
    info[kInfoLastTrackAt] = uint8_t(last);
    w.counts[kPackSizeInfo - kPackTitle] = kSizeInfoPacks;
    for (int type = 0; type < kPackTypes; type++)
        info[kInfoCountsAt + type] = uint8_t(w.counts[type]);
    info[kInfoLastSequenceAt] = uint8_t(layout->cdTextPacks + kSizeInfoPacks - 1);
    info[kInfoLanguageAt] = kLanguageEnglish;
    for (int i = 0; i < kSizeInfoPacks; i++)
        std::memcpy(w.Next(kPackSizeInfo, i, 0), info + i * kTextBytes, kTextBytes);
    PutHeader(layout);
    for (int i = 0; i < layout->cdTextPacks; i++) {
        uint8_t* p = Pack(layout, i);
        uint16_t crc = CdTextCrc(p);
        p[kCrcAt] = uint8_t(crc >> 8);
        p[kCrcAt + 1] = uint8_t(crc);
    }
}

bool TakeCdTextFile(const uint8_t* bytes, size_t size, DiscLayout* layout) {
    layout->cdTextPacks = 0;
    PutHeader(layout);
    // A header counts the bytes after its length field.
    if (size >= kCdTextHeaderBytes && size % kCdTextPackBytes == kCdTextHeaderBytes &&
        size_t(bytes[0] << 8 | bytes[1]) + 2 == size) {
        bytes += kCdTextHeaderBytes;
        size -= kCdTextHeaderBytes;
    }
    if (size == 0 || size % kCdTextPackBytes || size / kCdTextPackBytes > size_t(kMaxCdTextPacks))
        return false;
    std::memcpy(Pack(layout, 0), bytes, size);
    layout->cdTextPacks = int(size / kCdTextPackBytes);
    PutHeader(layout);
    return true;
}

} // namespace vdrive
