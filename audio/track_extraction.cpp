#include "audio/track_extraction.h"

#include "audio/pcm_format.h"
#include "audio/progress_dialog.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"

namespace {

constexpr int kReadAttempts = 3;
constexpr int kTitleChars = 64;

bool ReadBlock(CdPlayer& player, BYTE* buffer, DWORD address, DWORD frames) {
    for (int attempt = 0; attempt < kReadAttempts; attempt++)
        if (player.ReadRawSectors(buffer, address, frames)) return true;
    return false;
}

class HeapBlock {
  public:
    explicit HeapBlock(DWORD bytes)
        : data_(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, bytes))) {}
    ~HeapBlock() { HeapFree(GetProcessHeap(), 0, data_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    BYTE* Get() const { return data_; }

  private:
    BYTE* data_;
};

} // namespace

DWORD SaveTrack(CdPlayer& player, HWND owner, int track, const char* path) {
    DWORD framesLeft = player.TrackLengthForSave(track);
    if (framesLeft == 0) return 0;
    char title[kTitleChars];
    wsprintfA(title, kSaveTitleFormat, track);
    if (!ProgressOpen(owner, kGaugeDialogTemplate, title, framesLeft)) return 0;
    HeapBlock buffer(kTransferBytes);
    PCMWAVEFORMAT format;
    MakePcmFormat(WAVE_FORMAT_4S16, &format);
    WavFileWriter writer;
    writer.SetInfo(TrackWaveInfo(player, track));
    if (!buffer.Get() || !writer.BeginFile(path, format)) {
        ProgressClose();
        return 0;
    }

    player.LockDoor();
    DWORD first = player.TrackStart(track);
    DWORD step = kTransferFrames;
    DWORD framesDone = 0;
    bool readFailed = false, finished = false;
    while (framesLeft > 0) {
        if (framesLeft < step) step = framesLeft;
        // A block that cannot be read never reaches the file: no stale bytes.
        if (!ReadBlock(player, buffer.Get(), first + framesDone, step)) {
            readFailed = true;
            break;
        }
        finished = writer.AppendData(buffer.Get(), step * kFrameBytes) == 1;
        framesDone += step;
        framesLeft -= step;
        if (finished || ProgressStep(framesDone)) break;
    }
    if (!finished) writer.FinishFile();
    ProgressClose();
    player.UnlockDoor();
    return readFailed ? 0 : framesDone * kFrameBytes;
}
