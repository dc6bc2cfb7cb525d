// The link toggle: press, press-drag-off-release, and its state messages.
#include "controls/toggle.h"
#include "controls_test_util.h"

#include <gtest/gtest.h>
#include <string>

using namespace controls_test;

namespace {

constexpr int kLampAt = 6; // where ID_LOCK_ON lies over the face
constexpr int kId = 13;

class Toggle : public ::testing::Test {
  protected:
    void SetUp() override {
        toggle = CreateCheckBoxControl(host.hwnd(), kId, 20, 10);
        ASSERT_NE(toggle, nullptr);
        Settle(host.hwnd());
        // The lamp's centre tells lit from out.
        ASSERT_NE(SkinPixel("ID_LOCK_ON", 3, 3), SkinPixel("ID_LOCK_OFF", 9, 9));
    }
    LRESULT State() { return SendMessageA(toggle, CHECK_GETSTATE, 0, 0); }
    // The face, read at its corners, with the lamp at its centre lit or out.
    bool Shows(bool lampOn) {
        Grab g = GrabClient(toggle);
        const int c = kToggleSize / 2, last = kToggleSize - 1;
        return g.At(0, 0) == SkinPixel("ID_LOCK_OFF", 0, 0) &&
               g.At(last, last) == SkinPixel("ID_LOCK_OFF", last, last) &&
               g.At(c, c) == (lampOn ? SkinPixel("ID_LOCK_ON", c - kLampAt, c - kLampAt)
                                     : SkinPixel("ID_LOCK_OFF", c, c));
    }
    void Press(int x = 9, int y = 9) { SendMessageA(toggle, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y)); }
    void Move(int x, int y) { SendMessageA(toggle, WM_MOUSEMOVE, MK_LBUTTON, At(x, y)); }
    void Release(int x = 9, int y = 9) { SendMessageA(toggle, WM_LBUTTONUP, 0, At(x, y)); }

    Host host{80, 60};
    HWND toggle = nullptr;
};

} // namespace

TEST_F(Toggle, PressesAndStateMessagesLightAndPutOutTheLamp) {
    EXPECT_EQ(State(), 0);
    EXPECT_TRUE(Shows(false));
    Press();
    EXPECT_EQ(GetCapture(), toggle);
    EXPECT_EQ(State(), 1);
    EXPECT_TRUE(Shows(true));
    Release();
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(State(), 1);
    InvalidateRect(toggle, nullptr, TRUE);
    Settle(toggle);
    EXPECT_TRUE(Shows(true));

    Press();
    Release();
    EXPECT_EQ(State(), 0);
    EXPECT_TRUE(Shows(false));

    // Any state but 0 is on, and a press puts it out.
    SendMessageA(toggle, CHECK_SETSTATE, 0x10005, 0);
    EXPECT_EQ(State(), 5);
    EXPECT_TRUE(Shows(true));
    Press();
    EXPECT_EQ(State(), 0);
    Release();
    // Tracking set by message: the release draws the state's own look, the lamp.
    SendMessageA(toggle, CHECK_SETSTATE, 1, 0);
    SendMessageA(toggle, CHECK_SETTRACKING, 1, 0);
    Release();
    EXPECT_EQ(State(), 1);
    EXPECT_TRUE(Shows(true));
}

TEST_F(Toggle, DraggingOffTakesThePressBack) {
    Press();
    Move(19, 19); // the edge still counts as on the button
    EXPECT_EQ(State(), 1);
    Move(30, 5);
    EXPECT_EQ(State(), 0);
    Move(9, 9); // coming back does not press again
    Release(9, 9);
    EXPECT_EQ(State(), 0);
    EXPECT_TRUE(Shows(false));
    EXPECT_EQ(GetCapture(), nullptr);

    // From on: the cancelled gesture leaves it on, and it looks on. A pointer
    // left of the button (a large unsigned x) is off it too.
    SendMessageA(toggle, CHECK_SETSTATE, 1, 0);
    Press();
    EXPECT_TRUE(Shows(false));
    Move(-3, 4);
    Release(-3, 4);
    EXPECT_EQ(State(), 1);
    EXPECT_TRUE(Shows(true));

    // Losing the capture ends the gesture: the flip stands.
    Press();
    SetCapture(host.hwnd());
    Move(40, 40);
    EXPECT_EQ(State(), 0);
    EXPECT_TRUE(Shows(false));
    ReleaseCapture();
}

TEST_F(Toggle, TwoTogglesKeepTheirOwnRecordsAndNamesAreCut) {
    HWND second = CreateCheckBoxControl(host.hwnd(), kId + 1, 50, 10);
    ASSERT_NE(second, nullptr);
    Press();
    Release();
    EXPECT_EQ(SendMessageA(second, CHECK_GETSTATE, 0, 0), 0);
    DestroyWindow(second);
    EXPECT_EQ(State(), 1);
    Press();
    Release();
    EXPECT_EQ(State(), 0);

    auto* rec = reinterpret_cast<CheckBoxRecord*>(GetWindowLongPtrA(toggle, 0));
    ASSERT_NE(rec, nullptr);
    const std::string longName = "a name far longer than sixteen characters";
    SendMessageA(toggle, CHECK_SETNAME, 0, reinterpret_cast<LPARAM>(longName.c_str()));
    EXPECT_EQ(rec->name, longName.substr(0, kToggleNameSize - 1));
    EXPECT_EQ(rec->hwnd, toggle);
}
