#include "fake_source.h"

#include <algorithm>
#include <string.h>

namespace {

constexpr FOURCC kFakeProc = mmioFOURCC('T', 'D', 'F', 'S');

BYTE FakeByte(DWORD offset) {
    return (BYTE)(((offset * 2654435761u) >> 16) | 1);
}

LRESULT CALLBACK FakeIOProc(LPSTR info, UINT msg, LPARAM p1, LPARAM p2) {
    MMIOINFO* mmio = reinterpret_cast<MMIOINFO*>(info);
    FakeSource* src = nullptr;
    if (msg == MMIOM_OPEN) {
        src = reinterpret_cast<FakeSource*>(p1);
        memcpy(mmio->adwInfo, &src, sizeof src);
        return MMSYSERR_NOERROR;
    }
    memcpy(&src, mmio->adwInfo, sizeof src);
    switch (msg) {
        case MMIOM_CLOSE: src->closes++; return 0;
        case MMIOM_READ: {
            int n = src->reads++;
            if (n >= src->failFrom && n <= src->failTo) return src->failResult;
            DWORD count = std::min<DWORD>((DWORD)p2, src->size - src->position);
            BYTE* out = reinterpret_cast<BYTE*>(p1);
            for (DWORD i = 0; i < count; i++) out[i] = FakeByte(src->base + src->position + i);
            src->position += count;
            return count;
        }
        case MMIOM_SEEK: src->position = (DWORD)p1; return p1;
    }
    return MMIOERR_CANNOTREAD;
}

} // namespace

HMMIO OpenFakeSource(FakeSource* source) {
    static bool installed = mmioInstallIOProcA(kFakeProc, FakeIOProc, MMIO_INSTALLPROC) != nullptr;
    if (!installed) return nullptr;
    MMIOINFO info = {};
    info.fccIOProc = kFakeProc;
    return mmioOpenA(reinterpret_cast<LPSTR>(source), &info, MMIO_READ);
}

td_test::Bytes FakeBytes(DWORD from, DWORD count) {
    td_test::Bytes bytes(count);
    for (DWORD i = 0; i < count; i++) bytes[i] = FakeByte(from + i);
    return bytes;
}
