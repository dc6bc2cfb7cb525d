// The SCSI/MMC commands the player sends, each a small builder around RunSrb.
// The logical unit is always 0.
#pragma once
#include "cd/aspi.h"

constexpr DWORD kSubchannelReplyBytes = 16;
constexpr DWORD kTocReplyBytes = 804; // header and room for 99 tracks and the lead-out
constexpr DWORD kFullTocReplyBytes = 4 + 11 * 4 * 99; // A0 to A2 of 99 sessions, 99 tracks
constexpr DWORD kInquiryReplyBytes = 32;

bool SendSixByteCommand(int adapter, int target, BYTE opcode, BYTE fifthByte);
bool LockTray(int adapter, int target);
bool UnlockTray(int adapter, int target);
// Eject and load first send a READ SUB-CHANNEL probe, whose outcome is ignored.
bool EjectTray(int adapter, int target);
bool LoadTray(int adapter, int target);

// Current position (format 01, MSF) into a 16-byte reply, cleared first so a
// failed command leaves a defined reply. Returns whether the command succeeded.
bool ReadSubChannel(int adapter, int target, BYTE* reply);

// INQUIRY of one target, `length` bytes, after a READ SUB-CHANNEL probe.
bool InquireDevice(int adapter, int target, BYTE* buffer, int length);

// The table of contents in LBA form, from track 0, into kTocReplyBytes bytes.
bool ReadToc(int adapter, int target, BYTE* reply);
// READ TOC format 2, the full TOC (MSF), from session 1, into kFullTocReplyBytes.
bool ReadFullToc(int adapter, int target, BYTE* reply);
// READ TOC format 5, CD-Text: `length` bytes (at most 65535) into `reply`.
bool ReadCdTextPacks(int adapter, int target, BYTE* reply, DWORD length);

// READ CD of `count` CD-DA frames on a block the caller keeps, whose adapter,
// target, data pointer and length are already set; `withC2` has each frame's
// kFrameBytes followed by its kC2PointerBytes. Records `address` as the
// last-read address and as the block's current stream address. Refused
// without a command while the disc may have changed.
bool ReadCdSectors(SRB_ExecSCSICmd* block, DWORD address, DWORD count, bool withC2 = false);

// Whether the block's command failed on the disc's surface (a scratch, a bad
// spot) rather than for want of a disc: other frames, or another try, may read.
bool FailedOnMedium(const SRB_ExecSCSICmd* block);

// A command met UNIT ATTENTION: the disc may have changed since its table was
// read. It stays so until ForgetDiscChange, when a disc is about to be opened.
bool DiscMayHaveChanged();
void ForgetDiscChange();

// The first frame of the most recent READ CD, or the start of the most recently
// set stream range, whichever came last.
DWORD LastReadAddress();
void SetLastReadAddress(DWORD address);

// The CD stream request: the player's persistent READ CD block, whose reserved
// bytes carry the stream's current address and end address (first frame past
// the readable range).
DWORD StreamCurrentAddress(const SRB_ExecSCSICmd* request);
DWORD StreamEndAddress(const SRB_ExecSCSICmd* request);
void SetStreamCurrentAddress(SRB_ExecSCSICmd* request, DWORD address);
void SetStreamEndAddress(SRB_ExecSCSICmd* request, DWORD address);
