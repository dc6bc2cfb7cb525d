// The link toggle: press, press-drag-off-release, and its state messages.
#include "controls/toggle.h"
#include "controls_test_util.h"

#include <gtest/gtest.h>
#include <cstring>

using namespace controls_test;

namespace {

LPARAM At(int x, int y) {
    return MAKELPARAM((WORD)x, (WORD)y);
}

int FaceMismatches(const Grab& g, bool lampOn) {
    int bad = 0;
    for (int y = 0; y < kToggleSize; y++)
        for (int x = 0; x < kToggleSize; x++) {
            bool inLamp = x >= 6 && x < 13 && y >= 6 && y < 13;
            COLORREF want = lampOn && inLamp ? SkinPixel("ID_LOCK_ON", x - 6, y - 6)
                                             : SkinPixel("ID_LOCK_OFF", x, y);
            if (g.At(x, y) != want) bad++;
        }
    return bad;
}

struct ToggleOnHost {
    Host host{80, 60};
    HWND toggle = nullptr;
    ToggleOnHost() {
        toggle = CreateCheckBoxControl(host.hwnd(), 13, 20, 10);
        Settle(host.hwnd());
    }
    LRESULT State() { return SendMessageA(toggle, CHECK_GETSTATE, 0, 0); }
    int Shows(bool lampOn) { return FaceMismatches(GrabClient(toggle), lampOn); }
    void Press(int x = 9, int y = 9) { SendMessageA(toggle, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y)); }
    void Move(int x, int y) { SendMessageA(toggle, WM_MOUSEMOVE, MK_LBUTTON, At(x, y)); }
    void Release(int x = 9, int y = 9) { SendMessageA(toggle, WM_LBUTTONUP, 0, At(x, y)); }
};

} // namespace

TEST(ToggleMath, FlipAndEdges) {
    EXPECT_EQ(ToggleFlip(0), 1);
    EXPECT_EQ(ToggleFlip(1), 0);
    EXPECT_EQ(ToggleFlip(0x10005), 0);
    RECT r = {0, 0, 19, 19};
    EXPECT_TRUE(TogglePointerOn(r, At(0, 0)));
    EXPECT_TRUE(TogglePointerOn(r, At(19, 19)));
    EXPECT_FALSE(TogglePointerOn(r, At(20, 5)));
    EXPECT_FALSE(TogglePointerOn(r, At(5, 20)));
    EXPECT_FALSE(TogglePointerOn(r, At(-1, 5))); // left of it reads as a large number
}

TEST(Toggle, NewButtonIsOffAndShowsTheFace) {
    ToggleOnHost t;
    ASSERT_NE(t.toggle, nullptr);
    EXPECT_EQ(t.State(), 0);
    EXPECT_EQ(t.Shows(false), 0);
}

TEST(Toggle, PressLightsTheLampAndASecondPressPutsItOut) {
    ToggleOnHost t;
    t.Press();
    EXPECT_EQ(GetCapture(), t.toggle);
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(t.Shows(true), 0);
    t.Release();
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(t.Shows(true), 0);
    InvalidateRect(t.toggle, nullptr, TRUE);
    Settle(t.toggle);
    EXPECT_EQ(t.Shows(true), 0);

    t.Press();
    t.Release();
    EXPECT_EQ(t.State(), 0);
    EXPECT_EQ(t.Shows(false), 0);
}

TEST(Toggle, DraggingOffTakesThePressBack) {
    ToggleOnHost t;
    t.Press();
    t.Move(19, 19); // the edge still counts as on the button
    EXPECT_EQ(t.State(), 1);
    t.Move(30, 5);
    EXPECT_EQ(t.State(), 0);
    t.Move(9, 9); // coming back does not press again
    EXPECT_EQ(t.State(), 0);
    t.Release(9, 9);
    EXPECT_EQ(t.State(), 0);
    EXPECT_EQ(t.Shows(false), 0);
    EXPECT_EQ(GetCapture(), nullptr);

    // From on: the cancelled gesture leaves it on, and it looks on.
    SendMessageA(t.toggle, CHECK_SETSTATE, 1, 0);
    t.Press();
    EXPECT_EQ(t.Shows(false), 0);
    t.Move(-3, 4);
    EXPECT_EQ(t.State(), 1);
    t.Release(-3, 4);
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(t.Shows(true), 0);
}

TEST(Toggle, StateMessages) {
    ToggleOnHost t;
    SendMessageA(t.toggle, CHECK_SETSTATE, 0x10005, 0);
    EXPECT_EQ(t.State(), 5);
    EXPECT_EQ(t.Shows(true), 0);
    t.Press();
    EXPECT_EQ(t.State(), 0);
    t.Release();

    SendMessageA(t.toggle, CHECK_SETSTATE, 1, 0);
    SendMessageA(t.toggle, CHECK_SETTRACKING, 1, 0);
    t.Release(); // tracking: draws the state's own look, the lamp
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(t.Shows(true), 0);
}

TEST(Toggle, TwoTogglesKeepTheirOwnRecords) {
    ToggleOnHost t;
    HWND second = CreateCheckBoxControl(t.host.hwnd(), 14, 50, 10);
    ASSERT_NE(second, nullptr);
    t.Press();
    t.Release();
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(SendMessageA(second, CHECK_GETSTATE, 0, 0), 0);
    DestroyWindow(second);
    EXPECT_EQ(t.State(), 1);
    t.Press();
    t.Release();
    EXPECT_EQ(t.State(), 0);
}

TEST(Toggle, LosingTheCaptureEndsTheGesture) {
    ToggleOnHost t;
    t.Press();
    SetCapture(t.host.hwnd());
    t.Move(40, 40); // no longer tracking: the flip stands
    EXPECT_EQ(t.State(), 1);
    EXPECT_EQ(t.Shows(true), 0);
    ReleaseCapture();
}

TEST(Toggle, NamesAreCutToTheirField) {
    ToggleOnHost t;
    auto* rec = reinterpret_cast<CheckBoxRecord*>(GetWindowLongPtrA(t.toggle, 0));
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->name, "aa");
    SendMessageA(t.toggle, CHECK_SETNAME, 0,
                 reinterpret_cast<LPARAM>("a name far longer than sixteen characters"));
    EXPECT_EQ(strlen(rec->name), (size_t)kToggleNameSize - 1);
    EXPECT_EQ(rec->hwnd, t.toggle);
}
