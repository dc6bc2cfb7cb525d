// The volume slider: thumb placement, pointer arithmetic, and the real
// control over a painted deck, dragged with mouse messages.
#include "controls/slider.h"
#include "controls_test_util.h"

#include <gtest/gtest.h>
#include <cstring>

using namespace controls_test;

namespace {

constexpr COLORREF kKey = RGB(0, 0, 0xFF);
constexpr int kLeftX = 7, kLeftY = 6;

LPARAM At(int x, int y) {
    return MAKELPARAM((WORD)x, (WORD)y);
}

// What the slider must show: the host's pixels where the track is key blue,
// the track elsewhere, and the thumb over both with its top at `top`.
int Mismatches(const Host& host, const Grab& g, int sx, int sy, int top) {
    int bad = 0;
    for (int y = 0; y < kSliderHeight; y++)
        for (int x = 0; x < kSliderWidth; x++) {
            COLORREF want = SkinPixel("ID_MIX_BACK", x, y);
            if (want == kKey) want = host.Backdrop(sx + x, sy + y);
            int tx = x - kSliderThumbLeft, ty = y - top;
            if (tx >= 0 && tx < 13 && ty >= 0 && ty < 17) want = SkinPixel("ID_MIX_CUR", tx, ty);
            if (g.At(sx + x, sy + y) != want) bad++;
        }
    return bad;
}

struct DeckWithSlider {
    Host host{298, 78, Host::Face::Deck};
    VScrollControl slider{GetModuleHandleA(nullptr)};
    HWND hwnd = nullptr;
    DeckWithSlider() {
        slider.self = &slider;
        hwnd = slider.Create(host.hwnd(), 100, kLeftX, kLeftY);
        SendMessageA(hwnd, SCROLL_SETMIN, 0, 0);
        SendMessageA(hwnd, SCROLL_SETMAX, 256, 0);
    }
    ~DeckWithSlider() { DestroyWindow(hwnd); }
    int Shown(int top) { return Mismatches(host, GrabClient(host.hwnd()), kLeftX, kLeftY, top); }
};

} // namespace

TEST(SliderMath, ThumbTopFollowsThePosition) {
    const DWORD positions[] = {0, 1, 2, 100, 128, 250, 255, 256, 300};
    const int tops[] = {47, 47, 47, 29, 24, 2, 1, 1, -8};
    for (int i = 0; i < 9; i++) EXPECT_EQ(SliderThumbTop(0, 256, positions[i]), tops[i]) << i;
    EXPECT_EQ(SliderThumbTop(50, 50, 50), 1);
    EXPECT_EQ(SliderThumbTop(0, 256, 0x10000 + 128), 24); // only the low word counts
}

TEST(SliderMath, PointerProposesAPosition) {
    const int ys[] = {-30, 0, 1, 24, 46, 47, 60};
    const WORD want[] = {256, 256, 251, 126, 6, 0, 0};
    for (int i = 0; i < 7; i++) EXPECT_EQ(SliderPositionAt(0, 256, ys[i]), want[i]) << ys[i];
    EXPECT_EQ(SliderPositionAt(10, 10, 20), 10);
}

TEST(SliderMath, ClampIntAppliesTheLowBoundFirst) {
    int v = -5;
    ClampInt(0, 256, v);
    EXPECT_EQ(v, 0);
    v = 300;
    ClampInt(0, 256, v);
    EXPECT_EQ(v, 256);
    v = 7;
    ClampInt(0, 256, v);
    EXPECT_EQ(v, 7);
    v = 5;
    ClampInt(10, 0, v); // crossed bounds: the high one has the last word
    EXPECT_EQ(v, 0);
}

TEST(Slider, ThumbSitsWhereThePositionSaysOverTheDeck) {
    DeckWithSlider d;
    ASSERT_NE(d.hwnd, nullptr);
    const WPARAM positions[] = {0, 1, 2, 100, 128, 250, 255, 256, 300};
    for (WPARAM p : positions) {
        SendMessageA(d.hwnd, SCROLL_SETPOS, p, 0);
        // Drawn before SCROLL_SETPOS returns; the key blue shows the deck.
        EXPECT_EQ(d.Shown(SliderThumbTop(0, 256, (DWORD)p)), 0) << p;
    }
}

TEST(Slider, WaitsForAParentThatHasNotPaintedYet) {
    // The program creates its sliders before the deck's first paint.
    Host host(298, 78);
    host.SetFace(Host::Face::Deck);
    VScrollControl slider(GetModuleHandleA(nullptr));
    slider.self = &slider;
    HWND hwnd = slider.Create(host.hwnd(), 100, kLeftX, kLeftY);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(Mismatches(host, GrabClient(host.hwnd()), kLeftX, kLeftY, 1), 0);
    DestroyWindow(hwnd);
}

TEST(Slider, RepaintsFromItsComposedBackground) {
    DeckWithSlider d;
    SendMessageA(d.hwnd, SCROLL_SETPOS, 100, 0);
    InvalidateRect(d.host.hwnd(), nullptr, TRUE);
    Settle(d.host.hwnd());
    EXPECT_EQ(d.Shown(29), 0);
}

TEST(Slider, DragProposesPositionsAndMovesNothing) {
    DeckWithSlider d;
    SendMessageA(d.hwnd, SCROLL_SETPOS, 100, 0);
    SendMessageA(d.hwnd, WM_MOUSEMOVE, 0, At(5, 10)); // not dragging: nothing
    EXPECT_TRUE(d.host.notices.empty());

    SendMessageA(d.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 60)); // far from the thumb
    EXPECT_EQ(GetCapture(), d.hwnd);
    EXPECT_TRUE(d.host.notices.empty());
    const int ys[] = {0, 1, 24, 46, 47, 60, -4};
    const WORD want[] = {256, 251, 126, 6, 0, 0, 256};
    for (int y : ys) SendMessageA(d.hwnd, WM_MOUSEMOVE, MK_LBUTTON, At(5, y));
    ASSERT_EQ(d.host.notices.size(), 7u);
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(d.host.notices[i].wParam, 100u);
        EXPECT_EQ(LOWORD(d.host.notices[i].lParam), LOWORD((UINT_PTR)d.hwnd));
        EXPECT_EQ(HIWORD(d.host.notices[i].lParam), want[i]) << ys[i];
    }
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 100);
    EXPECT_EQ(d.Shown(29), 0);

    SendMessageA(d.hwnd, WM_LBUTTONUP, 0, At(5, 10));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageA(d.hwnd, WM_MOUSEMOVE, 0, At(5, 10));
    EXPECT_EQ(d.host.notices.size(), 7u);
}

TEST(Slider, ParentThatAnswersMovesTheThumbThroughTheShortHandle) {
    DeckWithSlider d;
    d.host.echoTrack = true;
    SendMessageA(d.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 30));
    SendMessageA(d.hwnd, WM_MOUSEMOVE, MK_LBUTTON, At(5, 24));
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 126);
    EXPECT_EQ(d.Shown(SliderThumbTop(0, 256, 126)), 0);
    SendMessageA(d.hwnd, WM_LBUTTONUP, 0, At(5, 24));
}

TEST(Slider, LosingTheCaptureEndsTheDrag) {
    DeckWithSlider d;
    SendMessageA(d.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 30));
    SetCapture(d.host.hwnd());
    SendMessageA(d.hwnd, WM_MOUSEMOVE, 0, At(5, 10));
    EXPECT_TRUE(d.host.notices.empty());
    ReleaseCapture();
}

TEST(Slider, RangeMessagesClampWithoutRepaintAndPositionsKeepTheirLowWord) {
    DeckWithSlider d;
    SendMessageA(d.hwnd, SCROLL_SETPOS, 200, 0);
    SendMessageA(d.hwnd, SCROLL_SETMAX, 150, 0);
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 150);
    EXPECT_EQ(d.Shown(SliderThumbTop(0, 256, 200)), 0); // not repainted
    SendMessageA(d.hwnd, SCROLL_SETMIN, 160, 0);
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 160);
    SendMessageA(d.hwnd, SCROLL_SETMIN, 0, 0);
    SendMessageA(d.hwnd, SCROLL_SETMAX, 256, 0);
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 160);
    SendMessageA(d.hwnd, SCROLL_SETPOS, 70000, 0);
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 4464);
    SendMessageA(d.hwnd, SCROLL_SETMIN, 40, 0);
    SendMessageA(d.hwnd, SCROLL_SETMAX, 40, 0);
    SendMessageA(d.hwnd, SCROLL_SETPOS, 40, 0);
    EXPECT_EQ(d.Shown(1), 0);
}

TEST(Slider, NamesAreCutToTheirField) {
    DeckWithSlider d;
    char longName[64];
    memset(longName, 'n', sizeof longName - 1);
    longName[sizeof longName - 1] = '\0';
    SendMessageA(d.hwnd, SCROLL_SETNAME, 0, reinterpret_cast<LPARAM>(longName));
    EXPECT_EQ(strlen(d.slider.name), (size_t)kSliderNameSize - 1);
    EXPECT_EQ(d.slider.self, &d.slider);
    SendMessageA(d.hwnd, SCROLL_SETNAME, 0, reinterpret_cast<LPARAM>("left"));
    EXPECT_STREQ(d.slider.name, "left");
    SendMessageA(d.hwnd, SCROLL_SETNAME, 0, 0);
    EXPECT_STREQ(d.slider.name, "left");
}

TEST(Slider, TwoSlidersKeepTheirOwnStateAndDestroyingFreesTheBackground) {
    DeckWithSlider d;
    VScrollControl right(GetModuleHandleA(nullptr));
    right.self = &right;
    HWND r = right.Create(d.host.hwnd(), 101, 28, 6);
    ASSERT_NE(r, nullptr);
    SendMessageA(r, SCROLL_SETMAX, 256, 0);
    SendMessageA(r, SCROLL_SETPOS, 250, 0);
    SendMessageA(d.hwnd, SCROLL_SETPOS, 2, 0);
    Grab g = GrabClient(d.host.hwnd());
    EXPECT_EQ(Mismatches(d.host, g, 28, 6, 2), 0);
    EXPECT_EQ(Mismatches(d.host, g, kLeftX, kLeftY, 47), 0);
    EXPECT_NE(right.background, nullptr);
    DestroyWindow(r);
    EXPECT_EQ(right.background, nullptr);
    EXPECT_EQ(SendMessageA(d.hwnd, SCROLL_GETPOS, 0, 0), 2);
}
