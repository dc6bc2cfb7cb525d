// Writes a PCM wave file: a provisional 44-byte RIFF/WAVE header, the data as
// it comes, then the final sizes patched into the header.
#pragma once
#include <windows.h>
#include <mmsystem.h>

#include "audio/wave_info.h"

constexpr DWORD kWavHeaderBytes = 44;

class WavFileWriter {
  public:
    WavFileWriter() = default;
    virtual ~WavFileWriter();
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;

    // Creates (or truncates) the file named by `path` in UTF-8 and writes the
    // provisional header; false when the path is too long for the platform or
    // the file cannot be created.
    bool BeginFile(const char* path, const PCMWAVEFORMAT& format);
    // 0 when the block was written in full; 1 when the write fell short, after
    // "Disk Full!!" was shown and the file finished with what reached it.
    int AppendData(const void* data, DWORD bytes);
    // Rewrites sample data already written, `offset` bytes into the data; false
    // when it cannot (the file already finished, or the write failed).
    bool PatchData(DWORD offset, const void* data, DWORD bytes);
    // The text that FinishFile puts after the data, as a LIST chunk.
    void SetInfo(const WaveInfo& info) { info_ = info; }
    // Patches the sizes into the header and closes the file.
    void FinishFile();

    DWORD DataBytes() const { return dataBytes_; }

  private:
    BYTE header_[kWavHeaderBytes] = {};
    WCHAR path_[MAX_PATH] = {};
    HANDLE file_ = INVALID_HANDLE_VALUE;
    DWORD dataBytes_ = 0;
    WORD blockAlign_ = 1;
    WaveInfo info_ = {};
};
