// Saves one audio track of the disc as a PCM wave file, with a progress dialog
// and Cancel, the tray locked meanwhile.
#pragma once
#include <windows.h>

class CdPlayer;

constexpr char kSaveTitleFormat[] = "Saving Track #%d";

// Bytes of sample data saved, or 0 when nothing could be saved or the disc
// could not be read to the end (the file then holds what was read correctly).
DWORD SaveTrack(CdPlayer& player, HWND owner, int track, const char* path);
