#include "cd/cd_drive.h"

#include "cd/scsi_commands.h"
#include "cd/toc.h"

#include <cstring>

static_assert(kTocBufferSize == kTocReplyBytes, "READ TOC asks for the whole table");
static_assert(kFullTocBufferSize == kFullTocReplyBytes, "the full TOC of 99 sessions and tracks");

CdDrive::CdDrive() {
    toc_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kTocBufferSize));
}

CdDrive::~CdDrive() {
    HeapFree(GetProcessHeap(), 0, toc_);
}

bool CdDrive::LoadToc() {
    // A reply is read aside and only taken once it has been checked, so a
    // refused one leaves the table as it was.
    BYTE reply[kTocBufferSize] = {};
    TocHeader header;
    if (!toc_ || !ReadToc(adapter_, target_, reply) || !CheckTocReply(reply, &header)) return false;
    firstTrack_ = header.first;
    lastTrack_ = header.last;
    trackCount_ = lastTrack_ - firstTrack_ + 1;
    if (trackCount_ <= 0) return false;
    leadOut_ = ConvertTocAddresses(reply, lastTrack_);
    memcpy(toc_, reply, kTocBufferSize);
    BYTE full[kFullTocReplyBytes] = {};
    sessions_.count = 0;
    if (ReadFullToc(adapter_, target_, full)) ReadSessionEnds(full, &sessions_);
    audio_ = TocAudioTracks(Table());
    return true;
}

TocTable CdDrive::Table() const {
    return TocTable{toc_, firstTrack_, lastTrack_, leadOut_, &sessions_};
}

DWORD CdDrive::TrackStart(int track) const {
    return TocTrackStart(Table(), track);
}

DWORD CdDrive::TrackEnd(int track) const {
    return TocTrackEnd(Table(), track);
}

DWORD CdDrive::TrackLength(int track) const {
    return TocTrackLength(Table(), track);
}

DWORD CdDrive::DiscEnd() const {
    return TocDiscEnd(leadOut_);
}

int CdDrive::TrackOfAddress(DWORD address) const {
    return TocTrackOfAddress(Table(), address);
}

bool CdDrive::DriveReportsOpen() {
    BYTE reply[kSubchannelReplyBytes];
    // A failed query (no disc, tray open, not ready) counts as open, so a disc
    // pulled out while playing is noticed.
    return !ReadSubChannel(adapter_, target_, reply) || reply[0] != 0;
}

DWORD CdDrive::DrivePosition() {
    return DriveReportsOpen() ? 1 : LastReadAddress();
}
