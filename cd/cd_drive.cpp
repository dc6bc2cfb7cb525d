#include "cd/cd_drive.h"

#include "cd/scsi_commands.h"
#include "cd/toc.h"

#include <cstring>

static_assert(kTocBufferSize == kTocReplyBytes, "READ TOC asks for the whole table");

namespace {

constexpr DWORD kCdTextLengthField = 2; // the reply's length counts what follows it
constexpr UINT kShiftJisCodePage = 932;

} // namespace
static_assert(kFullTocBufferSize == kFullTocReplyBytes, "the full TOC of 99 sessions and tracks");

CdDrive::CdDrive() {
    toc_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kTocBufferSize));
    text_ = static_cast<CdText*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CdText)));
}

CdDrive::~CdDrive() {
    HeapFree(GetProcessHeap(), 0, text_);
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

bool CdDrive::LoadCdText() {
    // The header first, for the length of the whole reply.
    BYTE header[kCdTextHeaderSize] = {};
    if (!text_) return false;
    memset(text_, 0, sizeof *text_);
    if (!ReadCdTextPacks(adapter_, target_, header, sizeof header)) return false;
    DWORD length = (DWORD(header[0]) << 8 | header[1]) + kCdTextLengthField;
    if (length <= kCdTextHeaderSize) return false;
    BYTE* reply = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length));
    bool ok = reply && ReadCdTextPacks(adapter_, target_, reply, length);
    if (ok) ReadCdText(reply, length, text_);
    HeapFree(GetProcessHeap(), 0, reply);
    // Shown in the ANSI code page: ISO 8859-1 and ASCII are Unicode's first
    // characters; MS-JIS only where the system's code page is it.
    bool jis = text_->code == kCdTextMsJis;
    for (auto& field : text_->texts)
        for (char* text : field) {
            if (jis) {
                if (GetACP() != kShiftJisCodePage) text[0] = 0;
                continue;
            }
            WCHAR wide[kCdTextChars];
            int n = 0;
            for (; text[n]; n++) wide[n] = static_cast<BYTE>(text[n]);
            wide[n] = 0;
            if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, text, kCdTextChars, nullptr, nullptr))
                text[0] = 0;
        }
    return ok;
}

const char* CdDrive::TextOf(int field, int track) const {
    return text_ && track >= 0 && track <= kMaxTrackNumber ? text_->texts[field][track] : "";
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
