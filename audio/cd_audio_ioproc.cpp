#include "audio/cd_audio_ioproc.h"

#include "cd/disc_units.h"
#include "cd/scsi_commands.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kOpenMarker = 0x0FFFFFFF;

// The request's address lives in adwInfo[1], and in adwInfo[2] too where a
// pointer is wider than one info word.
void StoreRequest(MMIOINFO* info, SRB_ExecSCSICmd* request) {
    uintptr_t bits = reinterpret_cast<uintptr_t>(request);
    info->adwInfo[1] = static_cast<DWORD>(bits);
    info->adwInfo[2] = static_cast<DWORD>(static_cast<uint64_t>(bits) >> 32);
}

SRB_ExecSCSICmd* StoredRequest(const MMIOINFO* info) {
    uint64_t bits = (static_cast<uint64_t>(info->adwInfo[2]) << 32) | info->adwInfo[1];
    return reinterpret_cast<SRB_ExecSCSICmd*>(static_cast<uintptr_t>(bits));
}

LRESULT OnOpen(MMIOINFO* info, SRB_ExecSCSICmd* request) {
    StoreRequest(info, request);
    info->adwInfo[0] = kOpenMarker;
    info->lDiskOffset = static_cast<LONG>(StreamCurrentAddress(request));
    return 0;
}

bool ReadInto(SRB_ExecSCSICmd* request, BYTE* buffer, DWORD address, DWORD frames) {
    request->SRB_BufPointer = buffer;
    request->SRB_BufLen = frames * kFrameBytes;
    return ReadCdSectors(request, address, frames);
}

// Silence where a frame will not read; false once the disc stops answering.
bool ReadFrameByFrame(SRB_ExecSCSICmd* request, BYTE* buffer, DWORD address, DWORD frames) {
    for (DWORD i = 0; i < frames; i++) {
        BYTE* frame = buffer + i * kFrameBytes;
        if (ReadInto(request, frame, address + i, 1)) continue;
        if (!FailedOnMedium(request)) return false;
        memset(frame, 0, kFrameBytes);
    }
    // The position shown is the block's, as after one read of it.
    SetLastReadAddress(address);
    SetStreamCurrentAddress(request, address);
    return true;
}

LRESULT OnRead(MMIOINFO* info, BYTE* buffer, DWORD bytes) {
    SRB_ExecSCSICmd* request = StoredRequest(info);
    DWORD frames = bytes / kFrameBytes;
    DWORD position = static_cast<DWORD>(info->lDiskOffset);
    DWORD end = StreamEndAddress(request); // read each time: the range may have moved
    if (position >= end) return 0;
    if (position + frames >= end) frames = end - position;
    // A scratch costs the listener at most this block: tried once more, then
    // frame by frame with silence for the frames that still fail. A disc that
    // stopped answering ends the stream, and the same frames come next time.
    if (!ReadInto(request, buffer, position, frames) &&
        (!FailedOnMedium(request) || (!ReadInto(request, buffer, position, frames) &&
                                      !ReadFrameByFrame(request, buffer, position, frames))))
        return 0;
    info->lDiskOffset = static_cast<LONG>(position + frames);
    return static_cast<LRESULT>(frames * kFrameBytes);
}

LRESULT OnSeek(MMIOINFO* info, LONG offset, int origin) {
    if (origin != SEEK_SET) return 0;
    info->lDiskOffset = offset;
    return offset;
}

} // namespace

void InstallCdAudioIOProc() {
    mmioInstallIOProcA(kCdAudioFourcc, CdAudioIOProc, MMIO_INSTALLPROC);
}

void RemoveCdAudioIOProc() {
    mmioInstallIOProcA(kCdAudioFourcc, CdAudioIOProc, MMIO_REMOVEPROC);
}

LRESULT CALLBACK CdAudioIOProc(LPSTR info, UINT message, LPARAM param1, LPARAM param2) {
    MMIOINFO* stream = reinterpret_cast<MMIOINFO*>(info);
    switch (message) {
        case MMIOM_OPEN: return OnOpen(stream, reinterpret_cast<SRB_ExecSCSICmd*>(param1));
        case MMIOM_READ:
            return OnRead(stream, reinterpret_cast<BYTE*>(param1), static_cast<DWORD>(param2));
        case MMIOM_SEEK: return OnSeek(stream, static_cast<LONG>(param1), static_cast<int>(param2));
        default: return 0; // close and write: nothing to do
    }
}
