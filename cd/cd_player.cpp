#include "cd/cd_player.h"

#include "audio/cd_audio_ioproc.h"
#include "audio/pcm_format.h"
#include "audio/wave_streamer.h"
#include "cd/disc_units.h"
#include "cd/drive_scan.h"
#include "cd/scsi_commands.h"

namespace {

constexpr int kTocAttempts = 5;

// A range "end - start <= 0", as a signed difference of frame addresses.
bool RangeIsEmpty(DWORD start, DWORD end) {
    return static_cast<LONG>(end - start) <= 0;
}

} // namespace

CdPlayer::CdPlayer() {}

CdPlayer::~CdPlayer() {}

int CdPlayer::OpenDisc() {
    if (openDrive_ != 0) CloseDisc();
    driveCount_ = GetCdDriveCount();
    if (driveCount_ == 0) return 0;
    currentTrack_ = 1;
    for (int index = 0; index < driveCount_; index++) {
        // A disc refused for want of audio is not read again until its drive
        // reports a change: a tray opened, or a unit attention.
        if (index + 1 == refusedDrive_) {
            UseDrive(index);
            if (!DiscMayHaveChanged() && !DriveReportsOpen()) continue;
            refusedDrive_ = 0;
        }
        DriveOutcome outcome = TryDrive(index);
        if (outcome == DriveOutcome::kTaken) {
            openDrive_ = index + 1;
            discSerial_++;
            LoadCdText();
            SeekTo(TrackStart(1));
            break;
        }
        if (outcome == DriveOutcome::kNoAudio && !refusedDrive_) refusedDrive_ = index + 1;
    }
    return openDrive_ != 0 ? driveCount_ : 0;
}

void CdPlayer::UseDrive(int index) {
    adapter_ = CdDriveAt(index).adapter;
    target_ = CdDriveAt(index).target;
}

void CdPlayer::CloseDisc() {
    Stop();
    SeekTo(0);
    openDrive_ = 0;
}

bool CdPlayer::SelectDrive(int index) {
    return TryDrive(index) == DriveOutcome::kTaken;
}

CdPlayer::DriveOutcome CdPlayer::TryDrive(int index) {
    if (GetCdDriveCount() < 1 || index >= GetCdDriveCount()) return DriveOutcome::kNoDisc;
    UseDrive(index);
    ForgetDiscChange(); // the table read below is of the disc in the drive now
    if (DriveReportsOpen()) return DriveOutcome::kNoDisc;
    for (int attempt = 0; attempt < kTocAttempts; attempt++) {
        if (!LoadToc()) continue;
        // A disc without audio (a data disc) is never taken.
        bool audio = AudioTracks().Count(FirstTrack(), LastTrack()) > 0;
        return audio ? DriveOutcome::kTaken : DriveOutcome::kNoAudio;
    }
    return DriveOutcome::kNoDisc;
}

bool CdPlayer::SetStreamRange(DWORD start, DWORD end) {
    request_.SRB_HaId = static_cast<BYTE>(adapter_);
    request_.SRB_Target = static_cast<BYTE>(target_);
    if (RangeIsEmpty(start, end)) return false;
    SetLastReadAddress(start);
    SetStreamCurrentAddress(&request_, start);
    SetStreamEndAddress(&request_, end);
    return true;
}

bool CdPlayer::SeekTo(DWORD address) {
    SetCurrentTrackFromAddress(address);
    // The streamer closes the stream when a playback ends; never touch it after.
    if (streamer_ && streamer_->IsSourceOpen(stream_)) mmioSeek(stream_, address, SEEK_SET);
    DWORD end = TrackEnd(currentTrack_) - kTrackEndMargin;
    bool ok = SetStreamRange(address, end);
    if (streamer_) streamer_->SetRemaining((end - address) * kFrameBytes);
    return ok;
}

bool CdPlayer::PlayFrom(DWORD address) {
    // A data track is never played (read as audio it is an error or noise):
    // the next audio track plays instead.
    if (!IsAudioTrack(SetCurrentTrackFromAddress(address))) {
        int next = AudioTracks().Nearest(currentTrack_ + 1, 1, FirstTrack(), LastTrack());
        if (next == 0) return false;
        currentTrack_ = next;
        address = TrackStart(next);
    }
    return PlayRange(address, TrackEnd(currentTrack_) - kTrackEndMargin);
}

bool CdPlayer::PlayRange(DWORD start, DWORD end) {
    if (!streamer_) return false;
    DWORD length = (end - start) * kFrameBytes;
    streamInfo_ = MMIOINFO{};
    streamInfo_.fccIOProc = kCdAudioFourcc;
    SetStreamRange(start, end); // an empty range keeps the previous one
    stream_ = mmioOpenA(reinterpret_cast<LPSTR>(&request_), &streamInfo_, 0);
    if (!stream_) return false;
    PCMWAVEFORMAT format;
    MakePcmFormat(WAVE_FORMAT_4S16, &format);
    if (!streamer_->OpenOutput(stream_, length, &format)) {
        stream_ = nullptr; // a refused stream is the streamer's to close
        return false;
    }
    streamer_->StartOutput();
    playerState_ = MCI_MODE_PLAY;
    return true;
}

bool CdPlayer::PlayTrack(int track) {
    if (track > TrackCount()) return false;
    return PlayFrom(TrackStart(track));
}

void CdPlayer::StepTrack(bool forward) {
    int step = forward ? 1 : -1;
    int t = AudioTracks().Nearest(currentTrack_ + step, step, FirstTrack(), LastTrack());
    if (t != 0) SeekTo(TrackStart(t));
}

void CdPlayer::Skip30Seconds(bool forward) {
    // Within the audio of the disc: past either end it wraps to the first
    // audio track; on a data track or in the gap before a session it goes on
    // to the nearest audio frame in its direction, that still plays.
    const TrackSet& audio = AudioTracks();
    DWORD start = TrackStart(audio.Nearest(FirstTrack(), 1, FirstTrack(), LastTrack()));
    DWORD end = TocDiscEnd(TrackEnd(audio.Nearest(LastTrack(), -1, FirstTrack(), LastTrack())));
    DWORD a = StreamPosition();
    if (forward)
        a += kSkipFrames;
    else
        a = a < kSkipFrames ? end - kSkipFrames : a - kSkipFrames;
    if (a < start || a >= end) a = start;
    if (!IsAudioTrack(TrackOfAddress(a))) {
        int nearest = 0;
        for (int t = FirstTrack(); t <= LastTrack(); t++)
            if (IsAudioTrack(t) && (forward ? !nearest && TrackStart(t) > a : TrackEnd(t) <= a))
                nearest = t;
        a = forward ? TrackStart(nearest) : TrackEnd(nearest) - kTrackEndMargin - 1;
    }
    SeekTo(a);
}

void CdPlayer::PauseResume() {
    if (GetState() == MCI_MODE_PLAY) {
        if (streamer_) streamer_->StopOutput();
        stream_ = nullptr;
        playerState_ = MCI_MODE_PAUSE;
        return;
    }
    // Resumes at the read position, ahead of what was heard by what was buffered.
    PlayFrom(StreamPosition());
}

bool CdPlayer::Stop() {
    playerState_ = MCI_MODE_STOP;
    if (streamer_) streamer_->StopOutput();
    stream_ = nullptr;
    return true;
}

bool CdPlayer::Eject() {
    Stop();
    if (openDrive_ == 0 && refusedDrive_ != 0) UseDrive(refusedDrive_ - 1);
    return EjectTray(adapter_, target_);
}

bool CdPlayer::Load() {
    Stop();
    return LoadTray(adapter_, target_);
}

int CdPlayer::GetState() {
    // A disc that may have changed counts as gone until it is opened again.
    return DiscMayHaveChanged() || DriveReportsOpen() ? MCI_MODE_OPEN : playerState_;
}

DWORD CdPlayer::GetPosition() {
    DWORD p = DrivePosition();
    // The frames of the current block that the device has already played.
    if (playerState_ == MCI_MODE_PLAY && streamer_)
        p += (streamer_->GetPlayedBytes() % kTransferBytes) / kFrameBytes;
    return p;
}

int CdPlayer::SetCurrentTrackFromAddress(DWORD address) {
    currentTrack_ = TrackOfAddress(address);
    return currentTrack_;
}

DWORD CdPlayer::TrackLengthForSave(int track) {
    // The whole track, as rippers save it: on a gapless disc, tracks saved one
    // after another join again. A data track is never saved.
    if (!IsAudioTrack(track)) return 0;
    DWORD start = TrackStart(track), end = TrackEnd(track);
    return SetStreamRange(start, end) ? end - start : 0;
}

DWORD CdPlayer::ReadRawSectors(BYTE* buffer, DWORD address, DWORD count, bool withC2) {
    DWORD bytes = count * (withC2 ? kFrameBytes + kC2PointerBytes : kFrameBytes);
    request_.SRB_HaId = static_cast<BYTE>(adapter_);
    request_.SRB_Target = static_cast<BYTE>(target_);
    request_.SRB_BufPointer = buffer;
    request_.SRB_BufLen = bytes;
    return ReadCdSectors(&request_, address, count, withC2) ? bytes : 0;
}

bool CdPlayer::LockDoor() {
    return LockTray(adapter_, target_);
}

bool CdPlayer::UnlockDoor() {
    return UnlockTray(adapter_, target_);
}

DWORD CdPlayer::StreamPosition() const {
    return StreamCurrentAddress(&request_);
}
