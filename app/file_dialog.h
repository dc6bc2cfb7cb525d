// The file dialog that both choosing a wave file to play and saving a track
// use: an open dialog that starts where the last chosen file was.
#pragma once
#include <windows.h>

// One entry: description and pattern, each ended by a NUL, then the closing NUL.
constexpr WCHAR kWaveFileFilter[] = L"WAV Files\0*.WAV\0";
constexpr int kDialogPathChars = 255;

struct DialogStart {
    WCHAR fileName[kDialogPathChars];   // proposed name: the text after the last '\' or ':'
    WCHAR initialDir[kDialogPathChars]; // the text before that separator
};

// Splits a last path into the dialog's proposed name and initial folder:
// "C:\name.wav" gives "name.wav" in "C:"; a path without '\' or ':' is all name.
void SplitDialogPath(const WCHAR* path, DialogStart* start);

// Shows the dialog, which works in UTF-16. On a choice, copies the full path
// into `path` (the last path, UTF-8, kLastPathSize bytes) and returns it; null
// on cancel or error. The process's current directory is the same afterwards.
const char* FileDialog(HWND owner, const WCHAR* filter, char* path, const char* title);
