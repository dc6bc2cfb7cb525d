// The one object through which the program uses the CD-ROM drive: it opens a
// disc, plays ranges of it digitally through the wave streamer (READ CD into an
// mmio stream), and carries the transport state the deck shows.
#pragma once
#include "cd/cd_drive.h"
#include "cd/scsi_commands.h"

#include <mmsystem.h>

class WaveStreamer;

class CdPlayer : public CdDrive {
  public:
    CdPlayer();
    ~CdPlayer() override;

    // The streamer that plays the disc; the deck creates it after the player.
    void SetStreamer(WaveStreamer* streamer) { streamer_ = streamer; }

    int OpenDisc(); // the drive count if a disc was opened, else 0
    void CloseDisc();
    bool SelectDrive(int index);
    // A disc was refused for want of audio and is still in its drive, which
    // Eject then opens.
    bool HoldsRefusedDisc() const { return refusedDrive_ != 0; }
    // Counts the discs opened: tells one disc from the next.
    int DiscSerial() const { return discSerial_; }

    bool SetStreamRange(DWORD start, DWORD end);
    bool SeekTo(DWORD address);
    bool PlayFrom(DWORD address);
    bool PlayRange(DWORD start, DWORD end);
    bool PlayTrack(int track);
    void StepTrack(bool forward);
    void Skip30Seconds(bool forward);
    void PauseResume();
    bool Stop();
    bool Eject();
    bool Load();

    int GetState(); // MCI_MODE_STOP, MCI_MODE_PLAY, MCI_MODE_PAUSE or MCI_MODE_OPEN
    DWORD GetPosition();
    int SetCurrentTrackFromAddress(DWORD address);
    int CurrentTrack() const { return currentTrack_; }
    void SetCurrentTrack(int track) { currentTrack_ = track; }

    DWORD TrackLengthForSave(int track);                            // frames, 0 on refusal
    // Bytes read, 0 on failure; `withC2` has each frame followed by its C2 pointers.
    DWORD ReadRawSectors(BYTE* buffer, DWORD address, DWORD count, bool withC2 = false);
    bool LastReadFailedOnMedium() const { return FailedOnMedium(&request_); }
    bool LockDoor();
    bool UnlockDoor();

    SRB_ExecSCSICmd* StreamRequest() { return &request_; }
    DWORD StreamPosition() const;

  private:
    enum class DriveOutcome { kNoDisc, kTaken, kNoAudio };
    DriveOutcome TryDrive(int index);
    void UseDrive(int index);

    int openDrive_ = 0; // drive table index + 1, 0 while no disc is open
    int discSerial_ = 0;
    int refusedDrive_ =
        0; // the same for a disc without audio, kept until its drive reports a change
    int playerState_ = MCI_MODE_STOP;
    int driveCount_ = 0;
    MMIOINFO streamInfo_ = {};
    HMMIO stream_ = nullptr;
    int currentTrack_ = 0;
    WaveStreamer* streamer_ = nullptr;
};
