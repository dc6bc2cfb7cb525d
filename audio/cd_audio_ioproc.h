// Makes a range of the disc readable as an mmio stream: opened with the CD
// stream request in place of a file name, read in whole frames (one READ CD per
// read), and seeked by frame address.
#pragma once
#include <windows.h>
#include <mmsystem.h>

constexpr FOURCC kCdAudioFourcc = mmioFOURCC('A', 'S', 'P', 'I');

// For this process only, from the deck's creation to its destruction.
void InstallCdAudioIOProc();
void RemoveCdAudioIOProc();

LRESULT CALLBACK CdAudioIOProc(LPSTR info, UINT message, LPARAM param1, LPARAM param2);
