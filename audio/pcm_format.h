// PCM format records: the fixed capability formats, and making a wave file's
// own "fmt " record safe to hand to the device.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

// Room for the largest "fmt " record we read; longer chunks are cut to this.
constexpr DWORD kFmtRecordSize = sizeof(WAVEFORMATEXTENSIBLE);
// The smallest "fmt " chunk that holds a whole format.
constexpr DWORD kPcmFormatSize = sizeof(PCMWAVEFORMAT);

// Fills `format` from one waveOut capability flag (WAVE_FORMAT_1M08 ... WAVE_FORMAT_4S16,
// or 0 for 8192 Hz mono 8-bit). Any other value zeroes the record and returns 0.
int MakePcmFormat(DWORD flag, PCMWAVEFORMAT* format);

// 1 when `format` is integer PCM (plain or WAVE_FORMAT_EXTENSIBLE) with sane
// channels (1 to 18), sample size, block align and rate (up to 768 kHz). Reads
// the extensible part only when the tag says it is there.
int IsPlayablePcm(const WAVEFORMATEX* format);

// Takes the first `size` bytes of a "fmt " chunk (the rest of `record` must be
// zero) and turns it into what the device plays byte for byte: an extensible
// record of one or two full-width channels becomes plain PCM, and the average
// byte rate is made consistent. Returns 0 when the record is not playable PCM.
int PreparePlayableFormat(WAVEFORMATEXTENSIBLE* record, DWORD size);
