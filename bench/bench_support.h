// What the bench programs share: clocks, the summary of repeated measurements,
// the figure lines that bench/run reads, options, and staging the virtual drive.
//
// Every figure goes to standard output as one line:
//   figure NAME MEDIAN LOW HIGH COUNT UNIT
// LOW and HIGH are the smallest and largest of COUNT measurements.
#pragma once
#include <windows.h>

namespace bench {

constexpr int kMaxSamples = 2048;
constexpr double kAudioBytesPerSecond = 176400.0; // 44100 Hz, 16 bits, stereo

// Seconds on the monotonic performance counter (CLOCK_MONOTONIC under Wine).
double Now();

// User plus kernel time of this process so far, from GetProcessTimes.
double ProcessCpuSeconds();

// Linux's view of a process, from /proc read through Wine's Z: drive. Wine
// opens files in its server, so /proc/self would be the server: processes are
// found by their command line instead, which starts with the program's
// Windows path (started by CreateProcess) or its Unix path (started from a
// shell).
DWORD LinuxPidOf(const char* windowsPath); // 0 when there is none
// User plus system time of every thread of the process; negative when unknown.
double LinuxCpuSeconds(DWORD pid);
// Private resident bytes (private clean and dirty pages); negative when unknown.
double LinuxPrivateBytes(DWORD pid);

// A run of measurements of one figure.
class Samples {
  public:
    Samples() : count_(0), values_() {}
    void Add(double value);
    int Count() const { return count_; }
    double Median() const; // of the values so far; 0 without any
    double Low() const;
    double High() const;
    double Sum() const;

  private:
    int count_;
    double values_[kMaxSamples];
};

void PrintFigure(const char* name, const Samples& samples, const char* unit);
void PrintValue(const char* name, double value, const char* unit);

// The value after `--name` on the command line, or `fallback`.
const char* Option(int argc, char** argv, const char* name, const char* fallback);
int IntOption(int argc, char** argv, const char* name, int fallback);
bool Flag(int argc, char** argv, const char* name);

// Writes the virtual drive's INI beside `folder` with one CD-ROM drive at
// adapter 0, target 0 holding `cuePath`, and points TUNEDECK_VDRIVE at it (child
// processes inherit it). No command log: the product has none either.
// `deviceKeys`, INI lines, go into the drive's section.
bool StageVirtualDrive(const char* folder, const char* cuePath, const char* deviceKeys = "");

// Stops the program with a message on standard error and exit status 1.
[[noreturn]] void Fail(const char* format, ...);

// Size of a file in bytes; -1 when it does not exist.
LONGLONG FileBytes(const char* path);

// Bytes in every file of the sound capture so far (Wine's ALSA file sink
// writes one file per opening of the device, TD_CAPTURE, then TD_CAPTURE.0001,
// ...); -1 without a capture.
LONGLONG CapturedBytes();

} // namespace bench
