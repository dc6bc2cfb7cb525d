// The volume slider: thumb placement, pointer arithmetic, and the real
// control over a painted deck, dragged with mouse messages.
#include "controls/slider.h"
#include "controls_test_util.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace controls_test;

namespace {

constexpr int kLeftX = 7, kLeftY = 6, kRightX = 28;
constexpr int kThumbWidth = 13, kThumbHeight = 17;
constexpr int kId = 100;
constexpr WPARAM kRange = 256;

// What a slider at (sx, sy) must show: the host's pixels where the track is
// key blue, the track elsewhere, and the thumb over both with its top at `top`.
int Mismatches(const Host& host, int sx, int sy, int top) {
    Grab g = GrabClient(host.hwnd());
    int bad = 0;
    for (int y = 0; y < kSliderHeight; y++)
        for (int x = 0; x < kSliderWidth; x++) {
            COLORREF want = SkinPixel("ID_MIX_BACK", x, y);
            if (want == kKey) want = host.Backdrop(sx + x, sy + y);
            int tx = x - kSliderThumbLeft, ty = y - top;
            if (tx >= 0 && tx < kThumbWidth && ty >= 0 && ty < kThumbHeight)
                want = SkinPixel("ID_MIX_CUR", tx, ty);
            bad += g.At(sx + x, sy + y) != want;
        }
    return bad;
}

struct DeckWithSlider : ::testing::Test {
    Host host{298, 78, true};
    VScrollControl slider{GetModuleHandleA(nullptr)};
    HWND hwnd = nullptr;
    void SetUp() override {
        slider.self = &slider;
        hwnd = slider.Create(host.hwnd(), kId, kLeftX, kLeftY);
        ASSERT_NE(hwnd, nullptr);
        Set(SCROLL_SETMAX, kRange);
    }
    void TearDown() override { DestroyWindow(hwnd); }
    int Shown(int top) { return Mismatches(host, kLeftX, kLeftY, top); }
    LRESULT Position() { return SendMessageA(hwnd, SCROLL_GETPOS, 0, 0); }
    // Sends a range or position message; the position after it.
    LRESULT Set(UINT msg, WPARAM value) {
        SendMessageA(hwnd, msg, value, 0);
        return Position();
    }
    void Mouse(UINT msg, int y, WPARAM keys = MK_LBUTTON) {
        SendMessageA(hwnd, msg, keys, At(5, y));
    }
};

} // namespace

TEST(SliderMath, EdgesOfTheRangeAndTheClamp) {
    EXPECT_EQ(SliderThumbTop(0, 256, 0x10000 + 128), 24); // only the low word counts
    EXPECT_EQ(SliderPositionAt(10, 10, 20), 10);
    // The low bound applies first, so with crossed bounds the high one has the last word.
    const int cases[][4] = {{0, 256, -5, 0}, {0, 256, 300, 256}, {0, 256, 7, 7}, {10, 0, 5, 0}};
    for (const auto& c : cases) {
        int v = c[2];
        ClampInt(c[0], c[1], v);
        EXPECT_EQ(v, c[3]) << c[0] << ".." << c[1] << " " << c[2];
    }
}

TEST_F(DeckWithSlider, ThumbSitsWhereThePositionSaysOverTheDeck) {
    const std::pair<WPARAM, int> positionAndTop[] = {
        {0, 47}, {1, 47}, {2, 47}, {100, 29}, {128, 24}, {250, 2}, {255, 1}, {256, 1}, {300, -8}};
    for (const auto& [position, top] : positionAndTop) {
        EXPECT_EQ(SliderThumbTop(0, kRange, DWORD(position)), top) << position;
        // Drawn before SCROLL_SETPOS returns; the key blue shows the deck.
        SendMessageA(hwnd, SCROLL_SETPOS, position, 0);
        EXPECT_EQ(Shown(top), 0) << position;
    }
    // A repaint of the deck draws it again from the composed background.
    Set(SCROLL_SETPOS, 100);
    InvalidateRect(host.hwnd(), nullptr, TRUE);
    Settle(host.hwnd());
    EXPECT_EQ(Shown(29), 0);
}

TEST(Slider, WaitsForAParentThatHasNotPaintedYet) {
    // The program creates its sliders before the deck's first paint.
    Host host(298, 78);
    host.deck = true;
    InvalidateRect(host.hwnd(), nullptr, TRUE);
    VScrollControl slider(GetModuleHandleA(nullptr));
    slider.self = &slider;
    HWND hwnd = slider.Create(host.hwnd(), kId, kLeftX, kLeftY);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(Mismatches(host, kLeftX, kLeftY, 1), 0);
    DestroyWindow(hwnd);
}

TEST_F(DeckWithSlider, DragProposesPositionsAndMovesNothingUntilTheParentAnswers) {
    Set(SCROLL_SETPOS, 100);
    Mouse(WM_MOUSEMOVE, 10, 0); // not dragging: nothing
    EXPECT_TRUE(host.proposals.empty());
    Mouse(WM_LBUTTONDOWN, 60); // far from the thumb
    EXPECT_EQ(GetCapture(), hwnd);
    EXPECT_TRUE(host.proposals.empty());
    const std::pair<int, WORD> pointerAndProposal[] = {{0, 256}, {1, 251}, {24, 126}, {46, 6},
                                                       {47, 0},  {60, 0},  {-4, 256}};
    std::vector<std::pair<WPARAM, LPARAM>> want;
    for (const auto& [y, proposal] : pointerAndProposal) {
        Mouse(WM_MOUSEMOVE, y);
        want.emplace_back(kId, MAKELPARAM(LOWORD((UINT_PTR)hwnd), proposal));
    }
    EXPECT_EQ(host.proposals, want);
    EXPECT_EQ(Position(), 100);
    EXPECT_EQ(Shown(29), 0);
    Mouse(WM_LBUTTONUP, 10, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    Mouse(WM_MOUSEMOVE, 10, 0);
    // Losing the capture ends a drag.
    Mouse(WM_LBUTTONDOWN, 30);
    SetCapture(host.hwnd());
    Mouse(WM_MOUSEMOVE, 10, 0);
    EXPECT_EQ(host.proposals, want);
    ReleaseCapture();

    // A parent that answers moves the thumb, through the 16-bit handle.
    host.echoTrack = true;
    Mouse(WM_LBUTTONDOWN, 30);
    Mouse(WM_MOUSEMOVE, 24);
    EXPECT_EQ(Position(), 126);
    EXPECT_EQ(Shown(SliderThumbTop(0, kRange, 126)), 0);
    Mouse(WM_LBUTTONUP, 24, 0);
}

TEST_F(DeckWithSlider, RangeMessagesClampWithoutRepaintAndPositionsKeepTheirLowWord) {
    Set(SCROLL_SETPOS, 200);
    EXPECT_EQ(Set(SCROLL_SETMAX, 150), 150);
    EXPECT_EQ(Shown(SliderThumbTop(0, kRange, 200)), 0); // not repainted
    EXPECT_EQ(Set(SCROLL_SETMIN, 160), 160);
    Set(SCROLL_SETMIN, 0);
    EXPECT_EQ(Set(SCROLL_SETMAX, kRange), 160);
    EXPECT_EQ(Set(SCROLL_SETPOS, 70000), 4464);
    Set(SCROLL_SETMIN, 40);
    Set(SCROLL_SETMAX, 40);
    Set(SCROLL_SETPOS, 40);
    EXPECT_EQ(Shown(1), 0);
}

TEST_F(DeckWithSlider, TwoSlidersKeepTheirOwnStateNamesAreCutAndDestroyingFreesAll) {
    VScrollControl right(GetModuleHandleA(nullptr));
    right.self = &right;
    HWND r = right.Create(host.hwnd(), kId + 1, kRightX, kLeftY);
    ASSERT_NE(r, nullptr);
    SendMessageA(r, SCROLL_SETMAX, kRange, 0);
    SendMessageA(r, SCROLL_SETPOS, 250, 0);
    Set(SCROLL_SETPOS, 2);
    EXPECT_EQ(Mismatches(host, kRightX, kLeftY, 2), 0);
    EXPECT_EQ(Shown(47), 0);
    EXPECT_NE(right.background, nullptr);
    DestroyWindow(r);
    EXPECT_EQ(right.background, nullptr);
    EXPECT_EQ(Position(), 2);

    const std::string longName(63, 'n');
    SendMessageA(hwnd, SCROLL_SETNAME, 0, reinterpret_cast<LPARAM>(longName.c_str()));
    EXPECT_EQ(slider.name, longName.substr(0, kSliderNameSize - 1));
    EXPECT_EQ(slider.self, &slider);
    SendMessageA(hwnd, SCROLL_SETNAME, 0, reinterpret_cast<LPARAM>("left"));
    SendMessageA(hwnd, SCROLL_SETNAME, 0, 0);
    EXPECT_STREQ(slider.name, "left");
}
