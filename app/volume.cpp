#include "app/volume.h"

#include "app/deck.h"
#include "audio/wave_streamer.h"
#include "controls/slider.h"
#include "controls/toggle.h"

namespace {

constexpr DWORD kChannelMax = 0xFFFF;
constexpr int kLevelShift = 8; // levels are 256ths of the channel's full volume
constexpr int kRightShift = 16;
constexpr DWORD kPositionSteps = kSliderRangeMax;

WORD Low16(HWND hwnd) {
    return LOWORD(reinterpret_cast<UINT_PTR>(hwnd));
}

int SliderPosition(HWND slider) {
    return static_cast<int>(SendMessageA(slider, SCROLL_GETPOS, 0, 0));
}

void SetSliderPosition(HWND slider, int position) {
    SendMessageA(slider, SCROLL_SETPOS, static_cast<WPARAM>(position), 0);
}

} // namespace

int ChannelToPosition(WORD channel) {
    int position = static_cast<int>(DWORD(channel) * kPositionSteps / kChannelMax + 1);
    ClampInt(kSliderRangeMin, kLevelMax, position);
    return position;
}

WORD PositionToChannel(int position) {
    ClampInt(kSliderRangeMin, kLevelMax, position);
    return static_cast<WORD>((DWORD(position) * kChannelMax) >> kLevelShift);
}

DWORD PositionsToVolume(int left, int right) {
    return DWORD(PositionToChannel(right)) << kRightShift | PositionToChannel(left);
}

int LinkedPosition(int position, int newPosition, int oldPosition) {
    int moved = position + newPosition - oldPosition;
    ClampInt(kSliderRangeMin, kLevelMax, moved);
    return moved;
}

void Volume_Poll(DeckRecord* rec) {
    DWORD volume;
    // Where the platform refuses to tell, the sliders stay where they are.
    if (!rec->streamer->GetVolume(&volume) || volume == rec->lastVolume) return;
    SetSliderPosition(rec->rightSliderWnd, ChannelToPosition(HIWORD(volume)));
    SetSliderPosition(rec->leftSliderWnd, ChannelToPosition(LOWORD(volume)));
    rec->lastVolume = volume;
}

void Volume_ApplySliders(DeckRecord* rec) {
    int right = SliderPosition(rec->rightSliderWnd);
    int left = SliderPosition(rec->leftSliderWnd);
    rec->streamer->SetVolume(PositionsToVolume(left, right));
}

void Volume_OnKey(DeckRecord* rec, int delta) {
    SetSliderPosition(rec->leftSliderWnd,
                      LinkedPosition(SliderPosition(rec->leftSliderWnd), delta, 0));
    SetSliderPosition(rec->rightSliderWnd,
                      LinkedPosition(SliderPosition(rec->rightSliderWnd), delta, 0));
    Volume_ApplySliders(rec);
}

void Volume_OnSliderTrack(DeckRecord* rec, int id, WORD handle16, WORD proposed) {
    // The notice names the slider by the low word of its handle only.
    HWND dragged = nullptr;
    if (rec->leftSliderWnd && handle16 == Low16(rec->leftSliderWnd))
        dragged = rec->leftSliderWnd;
    else if (rec->rightSliderWnd && handle16 == Low16(rec->rightSliderWnd))
        dragged = rec->rightSliderWnd;
    if (!dragged) return;
    int newPosition = proposed;
    int oldPosition = SliderPosition(dragged);
    SetSliderPosition(dragged, newPosition); // not limited: the top of the track is 256
    Volume_ApplySliders(rec);
    if (SendMessageA(rec->buttons[kLinkToggleId], CHECK_GETSTATE, 0, 0) == 0) return;
    HWND other;
    if (id == kLeftSliderId)
        other = rec->rightSliderWnd;
    else if (id == kRightSliderId)
        other = rec->leftSliderWnd;
    else {
        Volume_ApplySliders(rec);
        return;
    }
    SetSliderPosition(other, LinkedPosition(SliderPosition(other), newPosition, oldPosition));
    Volume_ApplySliders(rec);
}
