// Saves one audio track of the disc as a PCM wave file, with a progress dialog
// and Cancel, the tray locked meanwhile.
#pragma once
#include <windows.h>

#include "audio/track_copy.h"

class CdPlayer;

constexpr char kSaveTitleFormat[] = "Saving Track #%d";

// How a save went, beyond the bytes it saved.
struct SaveReport {
    bool cancelled;
    CopyReport inexact; // where the file may not hold the disc's samples
};

// Bytes of sample data saved, or 0 when nothing could be saved, the disc
// stopped answering or none of the track could be read (the file then holds
// what was read correctly). A track with damaged frames is saved whole: the
// report says where the file may differ from the disc.
DWORD SaveTrack(CdPlayer& player, HWND owner, int track, const char* path, SaveReport* report);

// The warning that lists those places, as m:ss.ff from the track's start.
void FormatInexactRuns(const CopyReport& report, char* text, int size);
