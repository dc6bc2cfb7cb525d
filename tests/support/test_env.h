// What every test shares: its own scratch folder, its own audio capture, file
// and pixel helpers.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace td_test {

using Bytes = std::vector<uint8_t>;

// A fresh, empty folder for the running test (Windows path, no trailing slash).
std::string ScratchDir();

// Where this test process's waveOut output goes: each opening of the device
// writes a file of its own, CapturePath() first, then CapturePath() + ".0001", ...
std::string CapturePath();

// How many device openings have written a file so far, and their bytes together.
int CaptureOpenings();
size_t CaptureSize();

// Everything played so far, every device opening's file in order.
Bytes ReadCapture();

// What one device opening played (0 is the first opening of this process).
Bytes ReadCaptureOpening(int index);

// Waits until the capture holds at least `bytes` bytes and has stopped growing,
// or until `timeoutMs` has passed; returns what it holds then.
Bytes WaitForCapture(size_t bytes, DWORD timeoutMs = 10000);

// Waits for the capture to stop growing for `quietMs` and returns it.
Bytes SettledCapture(DWORD quietMs = 500, DWORD timeoutMs = 20000);

// Wine pads the sink with silence where a refill comes late, which the sink's
// pace of four times real time makes likely on a busy machine. For sound
// that never holds a silent stereo sample, what is left is what was played.
Bytes WithoutPadding(Bytes played);

Bytes ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const void* data, size_t size);
bool WriteTextFile(const std::string& path, const std::string& text);

// Windows path for a Linux path (Wine maps / to drive Z:).
std::string FromUnixPath(const std::string& unixPath);

// The Linux path Wine keeps a Windows path at, for handing to Linux tools.
std::string ToUnixPath(const std::string& windowsPath);

// Runs a Linux shell command (Wine starts Linux programs natively) and waits
// for it; returns its exit status, or -1 when it did not finish in time.
int RunLinuxCommand(const std::string& commandLine, DWORD timeoutMs = 30000);

// Records that a program Wine failed to start was started again, in the run's
// list that ./test shows at its end ($TD_LANES/started-again.log), and on stderr.
void NoteStartedAgain(const std::string& what);

// Dispatches this thread's messages for `ms` milliseconds.
void PumpMessages(DWORD ms);

// Dispatches messages until `done()` is true or `timeoutMs` passes; returns done().
template <class Pred>
bool PumpUntil(Pred done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return done();
        PumpMessages(5);
    }
    return true;
}

// A window's title or text, of any process, in UTF-8.
std::string WindowText(HWND hwnd);

// UTF-16 for UTF-8 text, as a program hands a name in any script to the system.
std::wstring Wide(const std::string& utf8);

} // namespace td_test
