#include "streamer_fixture.h"

#include <algorithm>
#include <string.h>

using td_test::Bytes;

namespace {

constexpr char kOwnerClass[] = "TdStreamerOwner";
constexpr FOURCC kFakeProc = mmioFOURCC('T', 'D', 'F', 'S');

BYTE FakeByte(DWORD offset) {
    return (BYTE)(((offset * 2654435761u) >> 16) | 1);
}

LRESULT CALLBACK FakeIOProc(LPSTR info, UINT msg, LPARAM p1, LPARAM p2) {
    MMIOINFO* mmio = reinterpret_cast<MMIOINFO*>(info);
    FakeSource* src = reinterpret_cast<FakeSource*>(p1);
    if (msg == MMIOM_OPEN) {
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

Bytes FakeBytes(DWORD from, DWORD count) {
    Bytes bytes(count);
    for (DWORD i = 0; i < count; i++) bytes[i] = FakeByte(from + i);
    return bytes;
}

::testing::AssertionResult PlayedExactly(const Bytes& played, const Bytes& source, size_t frame,
                                         BYTE silence) {
    size_t i = 0, j = 0;
    const Bytes silent(frame, silence);
    while (i + frame <= played.size()) {
        if (j + frame <= source.size() && memcmp(&played[i], &source[j], frame) == 0) {
            j += frame;
        } else if (memcmp(&played[i], silent.data(), frame) != 0) {
            return ::testing::AssertionFailure()
                   << "played byte " << i << " is not source byte " << j << " (" << played.size()
                   << " played, " << source.size() << " in the source)";
        }
        i += frame;
    }
    if (i != played.size()) return ::testing::AssertionFailure() << "a partial frame was played";
    if (j != source.size())
        return ::testing::AssertionFailure()
               << "only " << j << " of " << source.size() << " source bytes were played";
    return ::testing::AssertionSuccess();
}

void StreamerTest::SetUp() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WaveStreamer::RegisterNotifyClass(instance);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = instance;
    wc.lpszClassName = kOwnerClass;
    RegisterClassA(&wc);
    owner_ = CreateWindowExA(0, kOwnerClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance,
                             nullptr);
    SetWindowLongPtrA(owner_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    Rebuild(kTestBlock);
}

HMMIO StreamerTest::Play(FakeSource& source, DWORD length) {
    HMMIO stream = OpenFakeSource(&source);
    if (!stream || !streamer_->OpenOutput(stream, length, &cd_)) return nullptr;
    streamer_->StartOutput();
    return stream;
}

LRESULT CALLBACK StreamerTest::OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto test = reinterpret_cast<StreamerTest*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg != kWaveEndMessage || !test || !test->streamer_)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (test->ends_++ == 0) test->playedAtEnd_ = test->streamer_->GetPlayedBytes();
    if (test->stopOnEnd_) test->streamer_->StopOutput();
    return 0;
}
