// Copies one track of the disc into a wave file so that the file is exact, or
// says where it may not be. Every frame written is one the drive returned the
// same way twice, with enough other frames read between the two readings that
// no drive cache can have answered the second. Where two readings differ the
// frame is read again, later, until two agree; a frame whose C2 pointers flag
// an error is never taken as read. A frame that never reads the same way twice
// is written as its most frequent reading, or as silence where no reading
// succeeded, and the copy goes on.
#pragma once
#include <windows.h>

#include <cstdint>

class CdPlayer;
class WavFileWriter;

constexpr int kListedRuns = 5;

// A run of frames, counted from the track's start.
struct FrameRun {
    DWORD first;
    DWORD count;
};

// Where the file may not hold exactly what the disc does.
struct CopyReport {
    int runCount;              // every run of such frames, adjacent ones merged
    FrameRun runs[kListedRuns]; // the first of them
};

class TrackCopy {
  public:
    TrackCopy(CdPlayer& player, WavFileWriter& writer) : player_(player), writer_(writer) {}
    ~TrackCopy();
    TrackCopy(const TrackCopy&) = delete;
    TrackCopy& operator=(const TrackCopy&) = delete;

    // Takes the memory for copying `track`, `frames` frames long; false when short of it.
    bool Begin(int track, DWORD frames);
    // Copies until the track is in the file, Cancel is pressed, the disk fills
    // or the disc stops answering; the gauge is stepped after every read.
    void Run();

    DWORD FramesWritten() const { return framesWritten_; }
    bool Cancelled() const { return cancelled_; }
    // The disc stopped answering, or not one frame of it could be read.
    bool Unreadable() const { return discLost_ || !anyFrameRead_; }
    void Report(CopyReport* report) const;

  private:
    struct Suspect;
    enum Outcome : BYTE;

    bool Over() const;
    void Step();
    DWORD Progress() const;
    DWORD BlockFrames(DWORD block) const;
    DWORD Since(DWORD clock) const { return clock_ - clock; }
    bool Pump();
    BYTE* Frame(DWORD i) const;
    bool ReadRange(DWORD from, DWORD count, Outcome* outcomes);
    bool ReadFrameByFrame(DWORD from, DWORD count, Outcome* outcomes);
    bool ReadBlock(DWORD block, Outcome* outcomes);
    void FirstReading(DWORD block);
    void SecondReading(DWORD block);
    int RetryDue() const;
    void Retry(DWORD block);
    bool InDoubt(DWORD block) const;
    bool NextFiller();
    void ReadFiller();
    Suspect* SuspectOf(DWORD frame) const;
    void AddReading(Suspect* s, Outcome outcome, const BYTE* frame);
    void Patch(const Suspect* s, const BYTE* bytes);
    void Release(Suspect* s, bool exact);

    CdPlayer& player_;
    WavFileWriter& writer_;
    int track_ = 0;
    DWORD first_ = 0;  // the track's first frame on the disc
    DWORD frames_ = 0; // its length
    DWORD blocks_ = 0;
    bool withC2_ = true;
    bool cancelled_ = false, discLost_ = false, diskFull_ = false, anyFrameRead_ = false;
    DWORD clock_ = 0; // frames read so far, fillers included
    DWORD firstCursor_ = 0, secondCursor_ = 0; // the next block to read once, and twice
    DWORD framesWritten_ = 0;
    int activeSuspects_ = 0;
    int fillerTrack_ = 0;
    DWORD fillerAt_ = 0;
    // One allocation holds everything below.
    void* memory_ = nullptr;
    uint64_t* firstHash_ = nullptr; // per frame: its first reading
    BYTE* state_ = nullptr;         // per frame: an Outcome, or settled, or in doubt
    DWORD* lastRead_ = nullptr;     // per block: the clock after its last reading
    BYTE* inexact_ = nullptr;       // per frame, a bit: given up on
    Suspect* suspects_ = nullptr;
    BYTE* buffer_ = nullptr;        // one block as read, with C2 pointers
};
