// The name the save dialog proposes for a track with a title.
#pragma once
#include <windows.h>

// "NN Title.wav" (NN the track in two digits, the characters a file name
// cannot hold replaced) in the folder of `lastPath`; `lastPath` itself when
// the title is empty or the name would not fit `size` (at most the dialog's).
void ProposeSaveName(const char* lastPath, int track, const char* title, char* out, int size);
