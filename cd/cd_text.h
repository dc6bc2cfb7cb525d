// CD-Text as READ TOC format 5 gives it: 18-byte packs, each checked by its
// CRC. Kept: block 0's titles and performers of the disc (track 0) and of each
// track, in the character code the block declares. Standard C++ only, so it
// also builds natively for fuzzing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cd/toc.h"

constexpr size_t kCdTextHeaderSize = 4; // of the reply: its length, two reserved bytes
constexpr size_t kCdTextPackSize = 18;
constexpr int kCdTextChars = 96; // kept of one text, with its terminator
// Character codes a block may declare.
constexpr uint8_t kCdTextLatin1 = 0x00, kCdTextAscii = 0x01, kCdTextMsJis = 0x80;

enum CdTextField { kCdTextTitle, kCdTextPerformer, kCdTextFields };

struct CdText {
    uint8_t code;
    char texts[kCdTextFields][kMaxTrackNumber + 1][kCdTextChars]; // empty: not known
};

// The CRC of a pack's first 16 bytes, as its last two hold it (big-endian).
uint16_t CdTextPackCrc(const uint8_t* pack);

// Reads a reply of `bytes` bytes, its header first. Packs with a bad CRC, of
// another block or cut short are left out, and so is every text they held a
// part of; a text longer than kCdTextChars is cut; a tab stands for the text
// of the track before.
void ReadCdText(const uint8_t* reply, size_t bytes, CdText* text);
