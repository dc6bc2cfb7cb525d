// Saving a track from the virtual drive, timed: SaveTrack of one track to a
// wave file, repeated, against the same save with each frame read once; to see
// where the time goes, the same bytes only read off the disc (READ CD, 26
// frames at a time), only written to a file, and only read by the virtual
// drive's target from the image. Then the
// same track saved from a damaged disc: 50 frames that a fresh read gets wrong
// 30% of the time, behind a cache of 1000 frames (less for a short track);
// its file must be the clean one.
//
//   extraction_bench --cue DISC.cue --out FOLDER [--track 1] [--repeats 5]
#include "audio/pcm_format.h"
#include "audio/progress_dialog.h"
#include "audio/track_extraction.h"
#include "audio/wav_file_writer.h"
#include "bench/bench_support.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gauge.h"
#include "vdrive/cue_image.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kOwnerClass[] = "ExtractionBenchOwner";
constexpr int kOwnerX = 10;
constexpr int kOwnerY = 10;
constexpr int kOwnerWidth = 300;
constexpr int kOwnerHeight = 80;
constexpr int kDefaultRepeats = 5;
constexpr int kReadCdCdbBytes = 12;
constexpr uint8_t kReadCdOpcode = 0xBE;
constexpr uint8_t kReadCdAudioSectors = 0x04;
constexpr uint8_t kReadCdWholeSectors = 0xF0;
constexpr double kMicroseconds = 1e6;
constexpr DWORD kDamagedFrames = 50;
constexpr DWORD kDamageCacheFrames = 1000;
constexpr char kDamageKeys[] = "damaged = %lu-%lu\r\ndamage-odds = 30\r\ncache-frames = %lu\r\n";
constexpr DWORD kCompareBytes = 65536;

HWND CreateOwner(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = kOwnerClass;
    RegisterClassA(&wc);
    return CreateWindowExA(0, kOwnerClass, "", WS_POPUP | WS_VISIBLE, kOwnerX, kOwnerY, kOwnerWidth,
                           kOwnerHeight, nullptr, nullptr, instance, nullptr);
}

class Buffer {
  public:
    explicit Buffer(DWORD bytes)
        : data_(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes))) {}
    ~Buffer() {
        if (data_) HeapFree(GetProcessHeap(), 0, data_);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    BYTE* Get() const { return data_; }

  private:
    BYTE* data_;
};

// The track's saved range read block by block, as SaveTrack reads it.
double TimeReadsOnly(CdPlayer& player, int track, DWORD frames) {
    Buffer block(kTransferBytes);
    if (!block.Get()) bench::Fail("no memory for a block");
    const DWORD first = player.TrackStart(track);
    const double start = bench::Now();
    for (DWORD done = 0; done < frames;) {
        DWORD step = frames - done < kTransferFrames ? frames - done : kTransferFrames;
        if (!player.ReadRawSectors(block.Get(), first + done, step))
            bench::Fail("READ CD failed at frame %lu", first + done);
        done += step;
    }
    return bench::Now() - start;
}

// The save as it was before every frame was read twice: each block read once,
// written and the gauge stepped. What the trusted save is measured against.
double TimeSingleReadSave(CdPlayer& player, HWND owner, int track, DWORD frames, const char* path) {
    Buffer block(kTransferBytes);
    PCMWAVEFORMAT format;
    MakePcmFormat(WAVE_FORMAT_4S16, &format);
    WavFileWriter writer;
    const DWORD first = player.TrackStart(track);
    const double start = bench::Now();
    if (!block.Get() || !ProgressOpen(owner, kGaugeDialogTemplate, "Saving", frames) ||
        !writer.BeginFile(path, format))
        bench::Fail("cannot save to %s", path);
    for (DWORD done = 0; done < frames;) {
        DWORD step = frames - done < kTransferFrames ? frames - done : kTransferFrames;
        if (!player.ReadRawSectors(block.Get(), first + done, step) ||
            writer.AppendData(block.Get(), step * kFrameBytes))
            bench::Fail("the single-read save failed at frame %lu", first + done);
        done += step;
        ProgressStep(done);
    }
    writer.FinishFile();
    ProgressClose();
    const double seconds = bench::Now() - start;
    DeleteFileA(path);
    return seconds;
}

// The same number of bytes written block by block, as the wave writer writes them.
double TimeWritesOnly(const char* path, DWORD frames) {
    Buffer block(kTransferBytes);
    if (!block.Get()) bench::Fail("no memory for a block");
    const double start = bench::Now();
    HANDLE f = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) bench::Fail("cannot create %s", path);
    for (DWORD done = 0; done < frames;) {
        DWORD step = frames - done < kTransferFrames ? frames - done : kTransferFrames;
        DWORD put = 0;
        if (!WriteFile(f, block.Get(), step * kFrameBytes, &put, nullptr) ||
            put != step * kFrameBytes)
            bench::Fail("cannot write %s", path);
        done += step;
    }
    CloseHandle(f);
    const double seconds = bench::Now() - start;
    DeleteFileA(path);
    return seconds;
}

// The virtual drive's own share of a READ CD of one block: the target reading
// the image, with no ASPI, thread or event around it. Microseconds per block.
double TimeDriveReads(const char* cue, DWORD first, DWORD frames) {
    char error[vdrive::kImageErrorChars];
    vdrive::CueImage* image = vdrive::CueImage::Load(cue, error, sizeof error);
    if (!image) bench::Fail("cannot load %s: %s", cue, error);
    vdrive::ScsiTarget target;
    target.SetMedium(&image->Layout(), image);
    Buffer block(kTransferBytes);
    if (!block.Get()) bench::Fail("no memory for a block");
    DWORD blocks = 0;
    const double start = bench::Now();
    for (DWORD done = 0; done + kTransferFrames <= frames; done += kTransferFrames, blocks++) {
        const DWORD lba = first + done;
        const uint8_t cdb[kReadCdCdbBytes] = {kReadCdOpcode,
                                              kReadCdAudioSectors,
                                              uint8_t(lba >> 24),
                                              uint8_t(lba >> 16),
                                              uint8_t(lba >> 8),
                                              uint8_t(lba),
                                              0,
                                              0,
                                              kTransferFrames,
                                              kReadCdWholeSectors,
                                              0,
                                              0};
        vdrive::ScsiResult result;
        if (target.Execute(cdb, sizeof cdb, block.Get(), kTransferBytes, &result) !=
            vdrive::kStatusGood)
            bench::Fail("the drive refused READ CD at frame %lu", lba);
    }
    const double seconds = bench::Now() - start;
    target.SetMedium(nullptr, nullptr);
    delete image;
    return blocks ? seconds / blocks * kMicroseconds : 0;
}

bool SameFiles(const char* a, const char* b) {
    HANDLE fa = CreateFileA(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE fb = CreateFileA(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Buffer ba(kCompareBytes), bb(kCompareBytes);
    bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE && ba.Get() && bb.Get();
    for (DWORD na = 1, nb = 1; same && na;) {
        same = ReadFile(fa, ba.Get(), kCompareBytes, &na, nullptr) &&
               ReadFile(fb, bb.Get(), kCompareBytes, &nb, nullptr) && na == nb &&
               memcmp(ba.Get(), bb.Get(), na) == 0;
    }
    if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
    return same;
}

// Saves the track and checks the file holds the whole track, exactly where
// `clean` is given; seconds taken.
double TimedSave(CdPlayer& player, HWND owner, int track, const char* wav, DWORD bytes,
                 const char* clean) {
    DeleteFileA(wav);
    const double start = bench::Now();
    SaveReport report;
    const DWORD saved = SaveTrack(player, owner, track, wav, &report);
    const double took = bench::Now() - start;
    if (saved != bytes) bench::Fail("saved %lu bytes of %lu", saved, bytes);
    if (bench::FileBytes(wav) != (LONGLONG)bytes + kWavHeaderBytes)
        bench::Fail("%s is not the track", wav);
    if (clean && (report.inexact.runCount || !SameFiles(wav, clean)))
        bench::Fail("the damaged disc's %s is not the clean one's", wav);
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const char* cue = bench::Option(argc, argv, "--cue", nullptr);
    const char* out = bench::Option(argc, argv, "--out", nullptr);
    const int track = bench::IntOption(argc, argv, "--track", 1);
    const int repeats = bench::IntOption(argc, argv, "--repeats", kDefaultRepeats);
    if (!cue || !out || repeats < 1)
        bench::Fail(
            "usage: extraction_bench --cue DISC.cue --out FOLDER [--track N] [--repeats N]");
    if (!bench::StageVirtualDrive(out, cue))
        bench::Fail("cannot stage the virtual drive in %s", out);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterGaugeClass(instance);
    HWND owner = CreateOwner(instance);
    if (!owner) bench::Fail("no owner window");
    CdPlayer player;
    if (!player.OpenDisc()) bench::Fail("the virtual drive opened no disc from %s", cue);
    const DWORD frames = player.TrackLengthForSave(track);
    if (!frames) bench::Fail("track %d has nothing to save", track);
    const DWORD bytes = frames * kFrameBytes;
    const double audioSeconds = bytes / bench::kAudioBytesPerSecond;

    char wav[MAX_PATH];
    char clean[MAX_PATH];
    char scratch[MAX_PATH];
    snprintf(wav, sizeof wav, "%s\\saved.wav", out);
    snprintf(clean, sizeof clean, "%s\\clean.wav", out);
    snprintf(scratch, sizeof scratch, "%s\\written.raw", out);

    bench::Samples seconds, speed, cpu, singleSpeed, readSpeed, writeSpeed, driveUs, damagedSpeed;
    for (int r = 0; r < repeats; r++) {
        const double cpuBefore = bench::ProcessCpuSeconds();
        const double took = TimedSave(player, owner, track, wav, bytes, nullptr);
        const double cpuTook = bench::ProcessCpuSeconds() - cpuBefore;
        seconds.Add(took);
        speed.Add(audioSeconds / took);
        cpu.Add(cpuTook / audioSeconds);
        singleSpeed.Add(audioSeconds / TimeSingleReadSave(player, owner, track, frames, scratch));
        readSpeed.Add(audioSeconds / TimeReadsOnly(player, track, frames));
        writeSpeed.Add(audioSeconds / TimeWritesOnly(scratch, frames));
        driveUs.Add(TimeDriveReads(cue, player.TrackStart(track), frames));
    }

    const DWORD damagedFrom = player.TrackStart(track) + (frames - kDamagedFrames) / 2;
    // A cache no disc of the smoke test's size could push out would hold the damage.
    const DWORD cacheFrames = frames / 4 < kDamageCacheFrames ? frames / 4 : kDamageCacheFrames;
    char keys[sizeof kDamageKeys + 3 * 10];
    snprintf(keys, sizeof keys, kDamageKeys, damagedFrom, damagedFrom + kDamagedFrames - 1,
             cacheFrames);
    if (!MoveFileExA(wav, clean, MOVEFILE_REPLACE_EXISTING) || !bench::StageVirtualDrive(out, cue, keys))
        bench::Fail("cannot damage the disc in %s", out);
    for (int r = 0; r < repeats; r++)
        damagedSpeed.Add(audioSeconds / TimedSave(player, owner, track, wav, bytes, clean));
    DeleteFileA(wav);
    DeleteFileA(clean);
    DestroyWindow(owner);

    bench::PrintValue("extract.bytes", bytes, "bytes");
    bench::PrintFigure("extract.seconds", seconds, "s");
    bench::PrintFigure("extract.speed", speed, "x-real-time");
    bench::PrintFigure("extract.cpu", cpu, "s-cpu-per-s-audio");
    bench::PrintFigure("extract.single-read", singleSpeed, "x-real-time");
    bench::PrintFigure("extract.read-only", readSpeed, "x-real-time");
    bench::PrintFigure("extract.write-only", writeSpeed, "x-real-time");
    bench::PrintFigure("extract.drive-us", driveUs, "us-per-block");
    bench::PrintFigure("extract.damaged", damagedSpeed, "x-real-time");
    return 0;
}
