// Digital playback, timed: a disc track played through the CD player, the CD
// audio stream and the wave streamer into the sound device (under the bench,
// Wine's ALSA file sink), and the same bytes played by the same streamer from
// memory, which shows how fast the sink itself takes audio. The two kinds of
// playback alternate, so both meet the same machine.
//
// Inside each disc playback every stream read (one READ CD) and every block
// refill (the device's MM_WOM_DONE, which reads and writes a block) is timed:
// against the 0.347 s a block plays, that is the pipeline's own headroom,
// whatever pace the sink keeps.
//
//   playback_bench --cue DISC.cue --out FOLDER [--track 1] [--repeats 3]
//                  [--server-pid PID]
//
// CPU time is taken three ways: GetProcessTimes (what Windows would report),
// Linux's count for every thread of this process, and, given its Linux pid,
// the wineserver's, which does the process's waits and handle work.
#include "audio/cd_audio_ioproc.h"
#include "audio/pcm_format.h"
#include "audio/wave_streamer.h"
#include "bench/bench_support.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"

#include <cstdio>
#include <new>

namespace {

constexpr char kOwnerClass[] = "PlaybackBenchOwner";
constexpr int kDefaultRepeats = 3;
constexpr int kStreamerBuffers = 4;
constexpr DWORD kEndTimeoutMs = 600000;
constexpr UINT_PTR kWatchTimer = 1;
constexpr UINT kWatchMs = 1000;
constexpr double kMs = 1000.0;
constexpr double kBlockPlaySeconds = kTransferBytes / bench::kAudioBytesPerSecond;

int g_endMessages;
WNDPROC g_notifyProc;
int g_reads; // stream reads that returned audio
bench::Samples g_readMs, g_refillMs;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kWaveEndMessage) {
        g_endMessages++;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The CD audio stream with every read timed; installed in its place under "ASPI".
LRESULT CALLBACK TimedCdAudioIOProc(LPSTR info, UINT message, LPARAM param1, LPARAM param2) {
    if (message != MMIOM_READ) return CdAudioIOProc(info, message, param1, param2);
    const double start = bench::Now();
    const LRESULT got = CdAudioIOProc(info, message, param1, param2);
    if (got > 0) {
        g_readMs.Add((bench::Now() - start) * kMs);
        g_reads++;
    }
    return got;
}

// The streamer's notice window with each refill timed: a block-done notice
// that read a block from the stream.
LRESULT CALLBACK TimedNotifyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != MM_WOM_DONE) return CallWindowProcA(g_notifyProc, hwnd, msg, wParam, lParam);
    const int readsBefore = g_reads;
    const double start = bench::Now();
    const LRESULT result = CallWindowProcA(g_notifyProc, hwnd, msg, wParam, lParam);
    if (g_reads != readsBefore) g_refillMs.Add((bench::Now() - start) * kMs);
    return result;
}

// Dispatches messages until the streamer's end message; false on time-out.
bool WaitForEnd() {
    const int endsBefore = g_endMessages;
    const DWORD start = GetTickCount();
    UINT_PTR timer = SetTimer(nullptr, kWatchTimer, kWatchMs, nullptr);
    MSG msg;
    while (g_endMessages == endsBefore && GetTickCount() - start < kEndTimeoutMs &&
           GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    KillTimer(nullptr, timer);
    return g_endMessages != endsBefore;
}

struct Costs {
    double wall, cpu, linuxCpu, serverCpu;
};

class Meter {
  public:
    Meter(DWORD selfPid, DWORD serverPid) : selfPid_(selfPid), serverPid_(serverPid) {
        Read(&start_);
    }
    Costs Elapsed() const {
        Costs now;
        Read(&now);
        return {now.wall - start_.wall, now.cpu - start_.cpu, now.linuxCpu - start_.linuxCpu,
                now.serverCpu - start_.serverCpu};
    }

  private:
    void Read(Costs* c) const {
        c->cpu = bench::ProcessCpuSeconds();
        c->linuxCpu = bench::LinuxCpuSeconds(selfPid_);
        c->serverCpu = bench::LinuxCpuSeconds(serverPid_);
        c->wall = bench::Now();
    }
    DWORD selfPid_, serverPid_;
    Costs start_;
};

struct Figures {
    bench::Samples speed, cpu, linuxCpu, serverCpu;
    void Add(const Costs& c, double audioSeconds) {
        speed.Add(audioSeconds / c.wall);
        cpu.Add(c.cpu / audioSeconds * kMs);
        linuxCpu.Add(c.linuxCpu / audioSeconds * kMs);
        serverCpu.Add(c.serverCpu / audioSeconds * kMs);
    }
};

// The track's bytes from memory through the same streamer.
HMMIO OpenMemoryStream(BYTE* bytes, DWORD length) {
    MMIOINFO info = {};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = reinterpret_cast<HPSTR>(bytes);
    info.cchBuffer = static_cast<LONG>(length);
    return mmioOpenA(nullptr, &info, MMIO_READ);
}

} // namespace

int main(int argc, char** argv) {
    const char* cue = bench::Option(argc, argv, "--cue", nullptr);
    const char* out = bench::Option(argc, argv, "--out", nullptr);
    const DWORD serverPid = bench::IntOption(argc, argv, "--server-pid", 0);
    const int track = bench::IntOption(argc, argv, "--track", 1);
    const int repeats = bench::IntOption(argc, argv, "--repeats", kDefaultRepeats);
    if (!cue || !out || repeats < 1)
        bench::Fail("usage: playback_bench --cue DISC.cue --out FOLDER [--track N] [--repeats N] "
                    "[--server-pid PID]");
    if (!bench::StageVirtualDrive(out, cue))
        bench::Fail("cannot stage the virtual drive in %s", out);
    if (waveOutGetNumDevs() == 0) bench::Fail("no wave output device");

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = instance;
    wc.lpszClassName = kOwnerClass;
    RegisterClassA(&wc);
    WaveStreamer::RegisterNotifyClass(instance);
    HWND owner = CreateWindowExA(0, kOwnerClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 instance, nullptr);
    WaveStreamer* streamer =
        new (std::nothrow) WaveStreamer(owner, static_cast<WORD>(kTransferBytes), kStreamerBuffers);
    if (!owner || !streamer) bench::Fail("no owner window or streamer");
    HWND notify = WaveStreamer::CreateNotifyWindow(owner, instance, streamer);
    if (!notify) bench::Fail("no notice window");
    g_notifyProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(notify, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimedNotifyProc)));
    mmioInstallIOProcA(kCdAudioFourcc, TimedCdAudioIOProc, MMIO_INSTALLPROC);

    CdPlayer player;
    player.SetStreamer(streamer);
    if (!player.OpenDisc()) bench::Fail("the virtual drive opened no disc from %s", cue);
    if (track > player.TrackCount()) bench::Fail("the disc has no track %d", track);
    const DWORD frames = player.TrackStart(track + 1) - kTrackEndMargin - player.TrackStart(track);
    const DWORD bytes = frames * kFrameBytes;
    const double audioSeconds = bytes / bench::kAudioBytesPerSecond;

    // The memory playback plays the track's own bytes.
    BYTE* memory = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!memory) bench::Fail("no memory for %lu bytes", bytes);
    for (DWORD done = 0; done < frames; done += kTransferFrames) {
        DWORD step = frames - done < kTransferFrames ? frames - done : kTransferFrames;
        if (!player.ReadRawSectors(memory + done * kFrameBytes, player.TrackStart(track) + done,
                                   step))
            bench::Fail("READ CD failed at frame %lu", player.TrackStart(track) + done);
    }
    PCMWAVEFORMAT format;
    MakePcmFormat(WAVE_FORMAT_4S16, &format);
    char self[MAX_PATH];
    const DWORD selfPid =
        GetModuleFileNameA(nullptr, self, sizeof self) ? bench::LinuxPidOf(self) : 0;

    Figures disc, fromMemory;
    bench::Samples captured;
    for (int r = 0; r < repeats; r++) {
        const LONGLONG capturedBefore = bench::CapturedBytes();
        {
            Meter meter(selfPid, serverPid);
            if (!player.PlayTrack(track)) bench::Fail("PlayTrack(%d) failed", track);
            if (!WaitForEnd()) bench::Fail("the disc playback never ended");
            disc.Add(meter.Elapsed(), audioSeconds);
            player.Stop();
        }
        {
            HMMIO stream = OpenMemoryStream(memory, bytes);
            if (!stream) bench::Fail("cannot open a memory stream");
            Meter meter(selfPid, serverPid);
            if (!streamer->OpenOutput(stream, bytes, &format) || !streamer->StartOutput())
                bench::Fail("the streamer refused the memory stream");
            if (!WaitForEnd()) bench::Fail("the memory playback never ended");
            fromMemory.Add(meter.Elapsed(), audioSeconds);
            streamer->StopOutput();
        }
        const LONGLONG capturedAfter = bench::CapturedBytes();
        if (capturedBefore >= 0 && capturedAfter >= 0)
            captured.Add(static_cast<double>(capturedAfter - capturedBefore) / (2.0 * bytes));
    }
    mmioInstallIOProcA(kCdAudioFourcc, TimedCdAudioIOProc, MMIO_REMOVEPROC);
    HeapFree(GetProcessHeap(), 0, memory);

    bench::PrintValue("play.audio-seconds", audioSeconds, "s");
    bench::PrintFigure("play.disc.speed", disc.speed, "x-real-time");
    bench::PrintFigure("play.memory.speed", fromMemory.speed, "x-real-time");
    bench::PrintFigure("play.disc.cpu", disc.cpu, "ms-cpu-per-s-audio");
    bench::PrintFigure("play.memory.cpu", fromMemory.cpu, "ms-cpu-per-s-audio");
    if (selfPid) {
        bench::PrintFigure("play.disc.linux-cpu", disc.linuxCpu, "ms-cpu-per-s-audio");
        bench::PrintFigure("play.memory.linux-cpu", fromMemory.linuxCpu, "ms-cpu-per-s-audio");
    }
    if (serverPid) {
        bench::PrintFigure("play.disc.server-cpu", disc.serverCpu, "ms-cpu-per-s-audio");
        bench::PrintFigure("play.memory.server-cpu", fromMemory.serverCpu, "ms-cpu-per-s-audio");
    }
    bench::PrintFigure("play.read-ms", g_readMs, "ms-per-block");
    bench::PrintFigure("play.refill-ms", g_refillMs, "ms-per-block");
    bench::PrintValue("play.block-ms", kBlockPlaySeconds * kMs, "ms");
    if (captured.Count()) bench::PrintFigure("play.captured", captured, "of-played");
    player.SetStreamer(nullptr);
    delete streamer;
    DestroyWindow(owner);
    return 0;
}
