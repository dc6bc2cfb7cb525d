#include "audio/cd_audio_ioproc.h"

#include "cd/disc_units.h"
#include "cd/scsi_commands.h"

#include <cstdint>

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

LRESULT OnRead(MMIOINFO* info, BYTE* buffer, DWORD bytes) {
    SRB_ExecSCSICmd* request = StoredRequest(info);
    DWORD frames = bytes / kFrameBytes;
    DWORD position = static_cast<DWORD>(info->lDiskOffset);
    DWORD end = StreamEndAddress(request); // read each time: the range may have moved
    if (position >= end) return 0;
    if (position + frames >= end) frames = end - position;
    request->SRB_BufPointer = buffer;
    request->SRB_BufLen = bytes;
    if (!ReadCdSectors(request, position, frames)) return 0; // the same frames again next time
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
