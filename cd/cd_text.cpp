#include "cd/cd_text.h"

#include <cstring>

namespace {

constexpr uint8_t kPackTitle = 0x80, kPackPerformer = 0x81, kPackSizeInfo = 0x8F;
constexpr size_t kTypeAt = 0, kTrackAt = 1, kPositionAt = 3, kTextAt = 4, kCrcAt = 16;
constexpr size_t kTextBytes = 12;
constexpr size_t kInfoFirstTrackAt = 1; // within the size information's first pack's text
constexpr uint8_t kTrackMask = 0x7F;
constexpr uint8_t kBlockMask = 0x70;
constexpr uint8_t kDoubleByte = 0x80;
constexpr uint8_t kPositionMask = 0x0F;
constexpr int kPositionAtLeast = 15; // the field's most: this many characters or more
constexpr uint16_t kCrcPolynomial = 0x1021, kCrcTopBit = 0x8000;
constexpr size_t kLengthFieldSize = 2;
constexpr char kSameAsBefore[] = "\t";

bool PackIsGood(const uint8_t* pack) {
    uint16_t crc = CdTextPackCrc(pack);
    return (pack[kPositionAt] & kBlockMask) == 0 && pack[kCrcAt] == uint8_t(crc >> 8) &&
           pack[kCrcAt + 1] == uint8_t(crc);
}

// One field's texts, assembled pack by pack; a text is kept once its end has
// been seen with every part of it.
struct Assembly {
    int first; // the disc's text is followed by that of its first track
    int length[kMaxTrackNumber + 1];
    bool broken[kMaxTrackNumber + 1];
    bool ended[kMaxTrackNumber + 1];

    void Take(const uint8_t* pack, char (*texts)[kCdTextChars]) {
        int track = pack[kTrackAt] & kTrackMask;
        int position = pack[kPositionAt] & kPositionMask;
        // Double-byte text ends with two zeros; each counts a character of two bytes.
        size_t width = pack[kPositionAt] & kDoubleByte ? 2 : 1;
        if (track > kMaxTrackNumber) return;
        int seen = length[track] / int(width);
        if (position < kPositionAtLeast ? seen != position : seen < position) broken[track] = true;
        for (size_t i = 0; i + width <= kTextBytes && track <= kMaxTrackNumber; i += width) {
            const uint8_t* c = pack + kTextAt + i;
            if (c[0] == 0 && c[width - 1] == 0) {
                texts[track][length[track] < kCdTextChars ? length[track] : kCdTextChars - 1] = 0;
                ended[track] = true;
                track = track == 0 ? first : track + 1;
                continue;
            }
            // A text longer than the room is cut, never in the middle of a character.
            bool room = length[track] + int(width) < kCdTextChars;
            for (size_t k = 0; k < width; k++, length[track]++)
                if (room) texts[track][length[track]] = char(c[k]);
        }
    }
};

} // namespace

uint16_t CdTextPackCrc(const uint8_t* pack) {
    uint16_t crc = 0;
    for (size_t i = 0; i < kCrcAt; i++) {
        crc ^= uint16_t(pack[i] << 8);
        for (int bit = 0; bit < 8; bit++)
            crc = uint16_t(crc & kCrcTopBit ? crc << 1 ^ kCrcPolynomial : crc << 1);
    }
    return uint16_t(~crc);
}

void ReadCdText(const uint8_t* reply, size_t bytes, CdText* text) {
    std::memset(text, 0, sizeof *text);
    text->code = kCdTextLatin1;
    if (bytes < kCdTextHeaderSize) return;
    size_t length = (size_t(reply[0]) << 8 | reply[1]) + kLengthFieldSize;
    if (length < bytes) bytes = length;
    // The size information: the character code, the first track.
    int first = 1;
    for (size_t at = kCdTextHeaderSize; at + kCdTextPackSize <= bytes; at += kCdTextPackSize) {
        const uint8_t* pack = reply + at;
        if (!PackIsGood(pack) || pack[kTypeAt] != kPackSizeInfo || pack[kTrackAt] != 0) continue;
        text->code = pack[kTextAt];
        first = pack[kTextAt + kInfoFirstTrackAt] & kTrackMask;
    }
    const uint8_t kTypes[kCdTextFields] = {kPackTitle, kPackPerformer};
    for (int field = 0; field < kCdTextFields; field++) {
        char(*texts)[kCdTextChars] = text->texts[field];
        Assembly a = {};
        a.first = first > 0 ? first : 1;
        for (size_t at = kCdTextHeaderSize; at + kCdTextPackSize <= bytes; at += kCdTextPackSize) {
            const uint8_t* pack = reply + at;
            if (PackIsGood(pack) && pack[kTypeAt] == kTypes[field]) a.Take(pack, texts);
        }
        for (int t = 0; t <= kMaxTrackNumber; t++) {
            if (!a.ended[t] || a.broken[t]) texts[t][0] = 0;
            if (t > 0 && std::strcmp(texts[t], kSameAsBefore) == 0)
                std::memcpy(texts[t], texts[t - 1], kCdTextChars);
        }
    }
}
