#include "audio/track_extraction.h"

#include "audio/pcm_format.h"
#include "audio/progress_dialog.h"
#include "audio/wav_file_writer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"

namespace {

constexpr int kTitleChars = 64;
constexpr int kRunLineChars = 48;
constexpr char kInexactIntro[] =
    "The drive could not read these places of the track the same way twice, so the file may "
    "differ from the disc there:";

void Append(char* text, int size, const char* more) {
    int used = lstrlenA(text);
    if (used < size - 1) lstrcpynA(text + used, more, size - used);
}

} // namespace

DWORD SaveTrack(CdPlayer& player, HWND owner, int track, const char* path, SaveReport* report) {
    report->cancelled = false;
    report->inexact.runCount = 0;
    DWORD frames = player.TrackLengthForSave(track);
    if (frames == 0) return 0;
    char title[kTitleChars];
    wsprintfA(title, kSaveTitleFormat, track);
    if (!ProgressOpen(owner, kGaugeDialogTemplate, title, frames)) return 0;
    PCMWAVEFORMAT format;
    MakePcmFormat(WAVE_FORMAT_4S16, &format);
    WavFileWriter writer;
    TrackCopy copy(player, writer);
    writer.SetInfo(TrackWaveInfo(player, track));
    if (!copy.Begin(track, frames) || !writer.BeginFile(path, format)) {
        ProgressClose();
        return 0;
    }
    player.LockDoor();
    copy.Run();
    writer.FinishFile();
    ProgressClose();
    player.UnlockDoor();
    report->cancelled = copy.Cancelled();
    copy.Report(&report->inexact);
    return copy.Unreadable() ? 0 : writer.DataBytes();
}

void FormatInexactRuns(const CopyReport& report, char* text, int size) {
    char line[kRunLineChars];
    lstrcpynA(text, kInexactIntro, size);
    for (int i = 0; i < report.runCount && i < kListedRuns; i++) {
        const FrameRun& run = report.runs[i];
        wsprintfA(line, "\n%lu:%02lu.%02lu (%lu %s)", run.first / kFramesPerMinute,
                  run.first / kFramesPerSecond % 60, run.first % kFramesPerSecond, run.count,
                  run.count == 1 ? "frame" : "frames");
        Append(text, size, line);
    }
    if (report.runCount > kListedRuns) {
        wsprintfA(line, "\nand %d more", report.runCount - kListedRuns);
        Append(text, size, line);
    }
}
