#include "streamer_fixture.h"

#include <string.h>

using td_test::Bytes;

namespace {
constexpr char kOwnerClass[] = "TdStreamerOwner";
}

::testing::AssertionResult PlayedExactly(const Bytes& played, const Bytes& source, size_t frame,
                                         BYTE silence) {
    size_t i = 0, j = 0;
    auto silent = [&](size_t at) {
        for (size_t k = 0; k < frame; k++)
            if (played[at + k] != silence) return false;
        return true;
    };
    while (i + frame <= played.size()) {
        if (j + frame <= source.size() && memcmp(&played[i], &source[j], frame) == 0) {
            i += frame;
            j += frame;
        } else if (silent(i)) {
            i += frame;
        } else {
            return ::testing::AssertionFailure()
                   << "played byte " << i << " is not source byte " << j << " (" << played.size()
                   << " played, " << source.size() << " in the source)";
        }
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
    MakePcmFormat(WAVE_FORMAT_4S16, &cd_);
    Rebuild(kTestBlock);
}

void StreamerTest::TearDown() {
    delete streamer_;
    DestroyWindow(owner_);
}

void StreamerTest::Rebuild(WORD blockSize) {
    delete streamer_;
    streamer_ = new WaveStreamer(owner_, blockSize, 4);
    notify_ = WaveStreamer::CreateNotifyWindow(owner_, GetModuleHandleA(nullptr), streamer_);
}

FakeSource& StreamerTest::Source(DWORD size, DWORD base) {
    sources_.emplace_back();
    sources_.back().size = size;
    sources_.back().base = base;
    return sources_.back();
}

HMMIO StreamerTest::Play(FakeSource& source, DWORD length) {
    HMMIO stream = OpenFakeSource(&source);
    if (!stream || !streamer_->OpenOutput(stream, length, &cd_)) return nullptr;
    streamer_->StartOutput();
    return stream;
}

bool StreamerTest::WaitForEnd(int count, DWORD timeoutMs) {
    return td_test::PumpUntil([&] { return ends_ >= count; }, timeoutMs);
}

::testing::AssertionResult StreamerTest::Heard(int opening, const Bytes& expected) {
    td_test::SettledCapture();
    return PlayedExactly(td_test::ReadCaptureOpening(opening), expected, kCdFrameBytes);
}

LRESULT CALLBACK StreamerTest::OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto test = reinterpret_cast<StreamerTest*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg != kWaveEndMessage || !test || !test->streamer_)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (test->ends_++ == 0) test->playedAtEnd_ = test->streamer_->GetPlayedBytes();
    if (test->stopOnEnd_) test->streamer_->StopOutput();
    return 0;
}
