// Start-up and memory of a window program, from outside: the program is
// started with CreateProcess and the screen is read where its window sits. A
// first, untimed start learns two pictures of the window: painted, the first
// one that then stays unchanged for a while, and settled, once nothing has
// changed for two seconds (the deck's status display adds its state icon at its
// first one-second tick). Each timed start counts from CreateProcess to the
// first changed pixel, to the painted picture and to the settled one.
//
// Memory: the program is started once more, left to settle (and, given a
// command, sent it: the deck's Play), and sampled while it runs: the working
// set from GetProcessMemoryInfo, and its private resident bytes from Linux
// (/proc/PID/smaps_rollup through Wine's Z: drive), since Wine reports no
// private bytes.
//
//   launch_bench --program EXE --class WINDOWCLASS --name NAME [--runs 7]
//                [--cue DISC.cue --out FOLDER] [--memory-seconds 10] [--command ID]
//                [--pictures FOLDER]   (keeps NAME-first.bmp, -painted.bmp, -settled.bmp)
#include "bench/bench_support.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>

namespace {

// Where the deck sits on the screen, and the minimal window with it.
constexpr int kX = 10;
constexpr int kY = 10;
constexpr int kWidth = 300;
constexpr int kHeight = 80;
constexpr int kPixels = kWidth * kHeight;
constexpr int kDefaultRuns = 7;
constexpr DWORD kQuietMs = 300;   // unchanged this long: painted
constexpr DWORD kSettleMs = 2000; // unchanged this long: settled
constexpr DWORD kSettlePollMs = 10;
constexpr DWORD kAppearTimeoutMs = 30000;
constexpr DWORD kPollMs = 1;
constexpr DWORD kExitTimeoutMs = 10000;
constexpr DWORD kMemoryPollMs = 100;
constexpr int kDefaultMemorySeconds = 10;
constexpr double kMs = 1000.0;
constexpr double kAudioBytesPerMs = bench::kAudioBytesPerSecond / kMs;
constexpr WORD kBitsPerPixel = 32;
constexpr WORD kBitmapMagic = 0x4D42; // "BM"

// The deck's rectangle of the screen, read into a 32-bit top-down DIB.
class ScreenGrab {
  public:
    ScreenGrab() : screen_(GetDC(nullptr)), memory_(CreateCompatibleDC(screen_)) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = kWidth;
        bi.bmiHeader.biHeight = -kHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = kBitsPerPixel;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib_ = CreateDIBSection(screen_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<DWORD*>(bits);
        old_ = dib_ ? SelectObject(memory_, dib_) : nullptr;
    }
    ~ScreenGrab() {
        if (old_) SelectObject(memory_, old_);
        if (dib_) DeleteObject(dib_);
        if (memory_) DeleteDC(memory_);
        if (screen_) ReleaseDC(nullptr, screen_);
    }
    ScreenGrab(const ScreenGrab&) = delete;
    ScreenGrab& operator=(const ScreenGrab&) = delete;

    bool Ok() const { return bits_ != nullptr && old_ != nullptr; }
    const DWORD* Take() {
        BitBlt(memory_, 0, 0, kWidth, kHeight, screen_, kX, kY, SRCCOPY);
        GdiFlush();
        return bits_;
    }

  private:
    HDC screen_;
    HDC memory_;
    HBITMAP dib_;
    HGDIOBJ old_;
    DWORD* bits_ = nullptr;
};

struct Image {
    DWORD pixels[kPixels];
    void CopyFrom(const DWORD* from) { memcpy(pixels, from, sizeof pixels); }
    bool Same(const DWORD* other) const { return memcmp(pixels, other, sizeof pixels) == 0; }
};

class Child {
  public:
    Child() : info_() {}
    ~Child() { Close(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Start(const char* program) {
        char commandLine[MAX_PATH + 2];
        snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &info_))
            return false;
        CloseHandle(info_.hThread);
        info_.hThread = nullptr;
        return true;
    }
    HANDLE Process() const { return info_.hProcess; }
    bool Running() const {
        return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
    }
    // Asks the window to close, as its own close would; ends the process
    // only when it does not go in time.
    void Close(const char* windowClass = nullptr) {
        if (!info_.hProcess) return;
        HWND window = windowClass ? FindWindowA(windowClass, nullptr) : nullptr;
        if (window) PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(info_.hProcess, window ? kExitTimeoutMs : 0) != WAIT_OBJECT_0) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, kExitTimeoutMs);
        }
        CloseHandle(info_.hProcess);
        info_.hProcess = nullptr;
    }

  private:
    PROCESS_INFORMATION info_;
};

HWND WaitForWindow(const char* windowClass, const Child& child) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kAppearTimeoutMs && child.Running()) {
        HWND window = FindWindowA(windowClass, nullptr);
        if (window) return window;
        Sleep(kSettlePollMs);
    }
    return nullptr;
}

// The two pictures of a starting window: the first that stays unchanged for
// kQuietMs (and is not the bare screen), and the one that stays for kSettleMs.
bool LearnPictures(ScreenGrab& grab, const Image& background, Image* painted, Image* settled) {
    static Image last;
    last.CopyFrom(grab.Take());
    bool havePainted = false;
    DWORD since = GetTickCount();
    const DWORD start = since;
    while (GetTickCount() - since < kSettleMs) {
        if (GetTickCount() - start > kAppearTimeoutMs) return false;
        Sleep(kSettlePollMs);
        const DWORD* now = grab.Take();
        if (!last.Same(now)) {
            last.CopyFrom(now);
            since = GetTickCount();
        } else if (!havePainted && GetTickCount() - since >= kQuietMs &&
                   !background.Same(last.pixels)) {
            *painted = last;
            havePainted = true;
        }
    }
    *settled = last;
    return havePainted;
}

// Keeps a picture as a 32-bit bitmap file, to show what was waited for.
bool SavePicture(const Image& image, const char* path) {
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = kWidth;
    info.biHeight = -kHeight;
    info.biPlanes = 1;
    info.biBitCount = kBitsPerPixel;
    info.biCompression = BI_RGB;
    BITMAPFILEHEADER file = {};
    file.bfType = kBitmapMagic;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + sizeof image.pixels;
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0, total = 0;
    bool ok = WriteFile(f, &file, sizeof file, &put, nullptr) && (total += put) &&
              WriteFile(f, &info, sizeof info, &put, nullptr) && (total += put) &&
              WriteFile(f, image.pixels, sizeof image.pixels, &put, nullptr) && (total += put);
    CloseHandle(f);
    return ok && total == file.bfSize;
}

} // namespace

int main(int argc, char** argv) {
    const char* program = bench::Option(argc, argv, "--program", nullptr);
    const char* windowClass = bench::Option(argc, argv, "--class", nullptr);
    const char* name = bench::Option(argc, argv, "--name", nullptr);
    const char* cue = bench::Option(argc, argv, "--cue", nullptr);
    const char* out = bench::Option(argc, argv, "--out", nullptr);
    const int runs = bench::IntOption(argc, argv, "--runs", kDefaultRuns);
    const int memorySeconds =
        bench::IntOption(argc, argv, "--memory-seconds", kDefaultMemorySeconds);
    const int command = bench::IntOption(argc, argv, "--command", -1);
    if (!program || !windowClass || !name || runs < 0)
        bench::Fail("usage: launch_bench --program EXE --class WINDOWCLASS --name NAME [--runs N] "
                    "[--cue DISC.cue --out FOLDER] [--memory-seconds N] [--command ID]");
    if (cue && (!out || !bench::StageVirtualDrive(out, cue)))
        bench::Fail("cannot stage the virtual drive for %s", cue);

    static ScreenGrab grab;
    static Image background, painted, settled, firstSeen;
    if (!grab.Ok()) bench::Fail("cannot read the screen");
    background.CopyFrom(grab.Take());

    // The untimed start: loads everything once and learns the settled window.
    {
        Child child;
        if (!child.Start(program)) bench::Fail("cannot start %s", program);
        if (!WaitForWindow(windowClass, child))
            bench::Fail("%s showed no %s window", program, windowClass);
        if (!LearnPictures(grab, background, &painted, &settled))
            bench::Fail("the window of %s never settled", program);
        child.Close(windowClass);
    }
    if (settled.Same(background.pixels)) bench::Fail("the window of %s drew nothing", program);

    char figure[MAX_PATH];
    bench::Samples firstPixelsMs, paintedMs, settledMs;
    for (int r = 0; r < runs; r++) {
        // The last window must be gone from the screen before the clock starts.
        const DWORD start = GetTickCount();
        while (settled.Same(grab.Take()) && GetTickCount() - start < kAppearTimeoutMs)
            Sleep(kSettlePollMs);
        if (settled.Same(grab.Take())) bench::Fail("the screen still shows the last window");
        background.CopyFrom(grab.Take());

        Child child;
        const double t0 = bench::Now();
        if (!child.Start(program)) bench::Fail("cannot start %s", program);
        double changedAt = -1, paintedAt = -1;
        for (;;) {
            const DWORD* now = grab.Take();
            const double t = (bench::Now() - t0) * kMs;
            if (changedAt < 0 && !background.Same(now)) {
                changedAt = t;
                firstSeen.CopyFrom(now);
            }
            if (paintedAt < 0 && painted.Same(now)) paintedAt = t;
            if (settled.Same(now)) {
                firstPixelsMs.Add(changedAt);
                // Where the settled picture is the painted one, it came at once.
                paintedMs.Add(paintedAt < 0 ? t : paintedAt);
                settledMs.Add(t);
                break;
            }
            if (t > kAppearTimeoutMs || !child.Running())
                bench::Fail("run %d: the window of %s never looked as it settled", r, program);
            Sleep(kPollMs);
        }
        child.Close(windowClass);
    }
    if (runs > 0) {
        snprintf(figure, sizeof figure, "%s.first-pixels", name);
        bench::PrintFigure(figure, firstPixelsMs, "ms");
        snprintf(figure, sizeof figure, "%s.painted", name);
        bench::PrintFigure(figure, paintedMs, "ms");
        snprintf(figure, sizeof figure, "%s.settled", name);
        bench::PrintFigure(figure, settledMs, "ms");
    }

    const char* pictures = bench::Option(argc, argv, "--pictures", nullptr);
    if (pictures) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s-painted.bmp", pictures, name);
        bool kept = SavePicture(painted, path);
        snprintf(path, sizeof path, "%s\\%s-settled.bmp", pictures, name);
        kept = SavePicture(settled, path) && kept;
        snprintf(path, sizeof path, "%s\\%s-first.bmp", pictures, name);
        if (runs > 0) kept = SavePicture(firstSeen, path) && kept;
        if (!kept) bench::Fail("cannot keep the pictures in %s", pictures);
    }

    if (memorySeconds > 0) {
        Child child;
        if (!child.Start(program)) bench::Fail("cannot start %s", program);
        HWND window = WaitForWindow(windowClass, child);
        if (!window || !LearnPictures(grab, background, &painted, &settled))
            bench::Fail("the window of %s never settled", program);
        const DWORD pid = bench::LinuxPidOf(program);
        const LONGLONG capturedBefore = bench::CapturedBytes();
        if (command >= 0) PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
        bench::Samples workingSet, privateBytes;
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < (DWORD)memorySeconds * 1000 && child.Running()) {
            Sleep(kMemoryPollMs);
            counters = PROCESS_MEMORY_COUNTERS_EX{};
            counters.cb = sizeof counters;
            if (!GetProcessMemoryInfo(child.Process(),
                                      reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                      sizeof counters))
                bench::Fail("GetProcessMemoryInfo failed (%lu)", GetLastError());
            workingSet.Add(static_cast<double>(counters.WorkingSetSize));
            const double linuxPrivate = pid ? bench::LinuxPrivateBytes(pid) : -1;
            if (linuxPrivate >= 0) privateBytes.Add(linuxPrivate);
        }
        const LONGLONG capturedAfter = bench::CapturedBytes();
        if (!child.Running()) bench::Fail("%s ended while its memory was measured", program);
        child.Close(windowClass);
        snprintf(figure, sizeof figure, "%s.peak-working-set", name);
        bench::PrintValue(figure, static_cast<double>(counters.PeakWorkingSetSize), "bytes");
        snprintf(figure, sizeof figure, "%s.working-set", name);
        bench::PrintFigure(figure, workingSet, "bytes");
        snprintf(figure, sizeof figure, "%s.private", name);
        if (privateBytes.Count())
            bench::PrintFigure(figure, privateBytes, "bytes");
        else
            fprintf(stderr, "launch_bench: no Linux process found for %s: no private bytes\n",
                    program);
        if (command >= 0 && capturedBefore >= 0) {
            snprintf(figure, sizeof figure, "%s.played", name);
            bench::PrintValue(figure, (capturedAfter - capturedBefore) / kAudioBytesPerMs / kMs,
                              "s-audio");
        }
    }
    return 0;
}
