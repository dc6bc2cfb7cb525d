// CD-Text as a drive reads it from the lead-in: 18-byte packs, each a type, a
// track number, a sequence number, a block and character position, 12 bytes
// of text and a CRC. READ TOC format 5 answers them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vdrive/cue_sheet.h"

namespace vdrive {

// The CRC of a pack's first 16 bytes, as its last two hold it (big-endian).
uint16_t CdTextCrc(const uint8_t* pack);

// Block 0 of the sheet's texts, ISO 8859-1: titles, performers, songwriters
// (each type only when some text has it; a text the same as the track
// before's as a tab), then the size information. Into layout->cdText.
void BuildCdTextPacks(const CueSheet& sheet, DiscLayout* layout);

// The packs of a CD-Text file, with or without the 4-byte header of a READ
// TOC reply, into layout->cdText; false when the bytes are no such file.
bool TakeCdTextFile(const uint8_t* bytes, size_t size, DiscLayout* layout);

} // namespace vdrive
