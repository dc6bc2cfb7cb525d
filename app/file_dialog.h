// The file dialog that both choosing a wave file to play and saving a track
// use: an open dialog that starts where the last chosen file was.
#pragma once
#include <windows.h>

// One entry: description and pattern, each ended by a NUL, then the closing NUL.
constexpr char kWaveFileFilter[] = "WAV Files\0*.WAV\0";
constexpr int kDialogPathChars = 255;

struct DialogStart {
    char fileName[kDialogPathChars];   // proposed name: the text after the last '\' or ':'
    char initialDir[kDialogPathChars]; // the text before that separator
};

// Splits a last path into the dialog's proposed name and initial folder:
// "C:\name.wav" gives "name.wav" in "C:"; a path without '\' or ':' is all name.
void SplitDialogPath(const char* path, DialogStart* start);

// Shows the dialog. On a choice, copies the full path into `path` (which holds
// kLastPathSize characters) and returns it; null on cancel or error. The
// process's current directory is the same afterwards.
const char* FileDialog(HWND owner, const char* filter, char* path, const char* title);
