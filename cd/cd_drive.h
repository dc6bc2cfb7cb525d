// The drive side of the CD player: which drive, the disc's table of contents
// and everything answered from it, the drive status queries, and the request
// block that carries every READ CD.
#pragma once
#include "cd/aspi.h"
#include "cd/cd_text.h"
#include "cd/toc.h"

class CdDrive {
  public:
    CdDrive();
    virtual ~CdDrive();

    // The table, and where each session but the last ends; a disc that cannot
    // tell its sessions counts as one session.
    bool LoadToc();
    DWORD TrackStart(int track) const; // first track for 0 or below; lead-out for last + 1
    // The first frame past the track: the next track's start, or its session's lead-out.
    DWORD TrackEnd(int track) const;
    DWORD TrackLength(int track) const;
    bool IsAudioTrack(int track) const { return audio_.Has(track); }
    const TrackSet& AudioTracks() const { return audio_; }
    int TrackCount() const { return static_cast<WORD>(trackCount_); }
    int FirstTrack() const { return firstTrack_; }
    int LastTrack() const { return lastTrack_; }
    DWORD DiscEnd() const;
    // The disc's CD-Text (track 0: the disc itself) in the system's ANSI code
    // page; empty where the disc has none.
    bool LoadCdText();
    const char* Title(int track) const { return TextOf(kCdTextTitle, track); }
    const char* Performer(int track) const { return TextOf(kCdTextPerformer, track); }
    // A track without a performer of its own has the disc's.
    const char* TrackPerformer(int track) const {
        return Performer(track)[0] ? Performer(track) : Performer(0);
    }
    int TrackOfAddress(DWORD address) const;

    // True when the drive reports itself open or empty, or cannot be asked.
    bool DriveReportsOpen();
    // The last-read address, or 1 when the drive reports itself open.
    DWORD DrivePosition();

  protected:
    TocTable Table() const;
    const char* TextOf(int field, int track) const;

    BYTE* toc_;
    int trackCount_ = 0;
    int firstTrack_ = 0;
    int lastTrack_ = 0;
    DWORD leadOut_ = 0;
    SessionEnds sessions_ = {};
    CdText* text_; // on the heap, as the table: most discs have none, and it is large
    TrackSet audio_;
    int adapter_ = 0;
    int target_ = 0;
    SRB_ExecSCSICmd request_ = {}; // the CD stream request
};
