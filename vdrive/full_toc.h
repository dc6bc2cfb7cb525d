// READ TOC format 2, the full TOC: every session's points as the lead-in's
// Q sub-channel holds them, answered from a disc's layout.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vdrive/cue_sheet.h"

namespace vdrive {

constexpr size_t kFullTocHeader = 4;
constexpr size_t kFullTocDescriptor = 11;
// Points A0, A1 and A2 of each session, and one per track.
constexpr size_t kFullTocMaxBytes =
    kFullTocHeader + kFullTocDescriptor * (3 * kMaxSessions + kMaxTracks);

// Writes the reply, with its data length, into `reply` (kFullTocMaxBytes);
// returns its bytes. Addresses are MSF, as the format has them.
size_t WriteFullToc(const DiscLayout& disc, uint8_t* reply);

} // namespace vdrive
