#include "audio/wave_info.h"

#include "cd/cd_drive.h"

#include <cstring>

namespace {

constexpr DWORD kChunkHeader = 8;
constexpr DWORD kListType = 4;
constexpr char kTrackFormat[] = "%d";

// A subchunk of a NUL-terminated string, padded to an even length.
DWORD PutText(BYTE* at, const char* id, const char* text) {
    if (!text[0]) return 0;
    DWORD size = static_cast<DWORD>(lstrlenA(text)) + 1;
    memcpy(at, id, 4);
    memcpy(at + 4, &size, sizeof size);
    memcpy(at + kChunkHeader, text, size);
    if (size % 2) at[kChunkHeader + size++] = 0;
    return kChunkHeader + size;
}

} // namespace

WaveInfo TrackWaveInfo(const CdDrive& disc, int track) {
    WaveInfo info = {};
    lstrcpynA(info.title, disc.Title(track), kWaveInfoChars);
    lstrcpynA(info.performer, disc.TrackPerformer(track), kWaveInfoChars);
    lstrcpynA(info.album, disc.Title(0), kWaveInfoChars);
    info.track = track;
    return info;
}

DWORD BuildInfoChunk(const WaveInfo& info, BYTE* out) {
    // A track of a disc without text stays the canonical file.
    if (!info.title[0] && !info.performer[0] && !info.album[0]) return 0;
    char track[kWaveInfoChars] = "";
    if (info.track > 0) wsprintfA(track, kTrackFormat, info.track);
    DWORD at = kChunkHeader + kListType;
    at += PutText(out + at, "INAM", info.title);
    at += PutText(out + at, "IART", info.performer);
    at += PutText(out + at, "IPRD", info.album);
    at += PutText(out + at, "ITRK", track);
    DWORD size = at - kChunkHeader;
    memcpy(out, "LIST", 4);
    memcpy(out + 4, &size, sizeof size);
    memcpy(out + kChunkHeader, "INFO", kListType);
    return at;
}
