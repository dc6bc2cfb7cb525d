// The progress gauge: the split of the bar, its colours and the percentage
// text, and the dialog template that holds it.
#include "controls/gauge.h"
#include "controls_test_util.h"

#include <gtest/gtest.h>

using namespace controls_test;

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBlue = RGB(0, 0, 0xFF);
constexpr COLORREF kRed = RGB(0xFF, 0, 0);
// Tall enough that the top inner row is clear of the text.
constexpr int kWidth = 232, kHeight = 40;

struct GaugeOnHost {
    Host host{kWidth + 20, kHeight + 20};
    HWND gauge = nullptr;
    GaugeOnHost() {
        RegisterGaugeClass(GetModuleHandleA(nullptr));
        gauge = CreateWindowExA(0, kGaugeClass, "", WS_CHILD | WS_VISIBLE, 10, 10, kWidth, kHeight,
                                host.hwnd(), reinterpret_cast<HMENU>(101),
                                GetModuleHandleA(nullptr), nullptr);
        Settle(host.hwnd());
    }
    Grab Shown() { return GrabClient(gauge); }
};

// Leftmost and rightmost columns holding a colour in the rows the text uses.
void InkSpan(const Grab& g, COLORREF ink, int* left, int* right) {
    *left = g.width;
    *right = -1;
    for (int y = 2; y < g.height - 2; y++)
        for (int x = 1; x < g.width - 1; x++)
            if (g.At(x, y) == ink) {
                if (x < *left) *left = x;
                if (x > *right) *right = x;
            }
}

int TextWidth(HWND hwnd, const char* text) {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SIZE s;
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &s);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return s.cx;
}

} // namespace

TEST(GaugeMath, SplitAndPercent) {
    EXPECT_EQ(GaugeFillWidth(230, 200, 100), 115);
    EXPECT_EQ(GaugePercent(200, 100), 50);
    EXPECT_EQ(GaugeFillWidth(230, 0, 0), 0); // range 0 counts as 1
    EXPECT_EQ(GaugePercent(0, 0), 0);
    EXPECT_EQ(GaugeFillWidth(230, 0, 9), 230);
    EXPECT_EQ(GaugePercent(0, 9), 100);
    EXPECT_EQ(GaugeFillWidth(230, 100, 5000), 230); // beyond the range: full
    EXPECT_EQ(GaugePercent(100, 5000), 100);
    EXPECT_EQ(GaugePercent(130, 26), 20);
    EXPECT_EQ(GaugePercent(130, 104), 80);
    EXPECT_EQ(GaugePercent(1000, 7), 0);
    // Large ranges do not wrap: 30 million frames, half done.
    EXPECT_EQ(GaugeFillWidth(230, 30000000, 15000000), 115);
    EXPECT_EQ(GaugePercent(0xFFFFFFFFu, 0x7FFFFFFFu), 49);
}

TEST(Gauge, FreshGaugeShowsAnEmptyWhiteBarAndZeroPercentCentred) {
    GaugeOnHost g;
    ASSERT_NE(g.gauge, nullptr);
    Grab s = g.Shown();
    EXPECT_EQ(s.At(0, 0), kBlack);
    EXPECT_EQ(s.At(kWidth - 1, kHeight - 1), kBlack);
    EXPECT_EQ(s.At(1, 1), kWhite);
    EXPECT_EQ(s.At(kWidth - 2, 1), kWhite);
    int left, right;
    InkSpan(s, kBlue, &left, &right);
    ASSERT_LT(left, right);
    // "  0%": the two leading spaces push the ink right of the string's start.
    int origin = (kWidth - 2 - TextWidth(g.gauge, "  0%")) / 2;
    EXPECT_GE(left, origin + TextWidth(g.gauge, "  ") - 1);
    EXPECT_LE(right, origin + TextWidth(g.gauge, "  0%"));
    EXPECT_EQ(SendMessageA(g.gauge, GAUGE_GETRANGE, 0, 0), 100);
}

TEST(Gauge, HalfOfTwoHundredOverTwoHundredThirtyPixels) {
    GaugeOnHost g;
    SendMessageA(g.gauge, GAUGE_SETRANGE, 0, 200);
    SendMessageA(g.gauge, GAUGE_SETPOS, 0, 100);
    Grab s = g.Shown();
    EXPECT_EQ(s.At(1, 1), kBlue);
    EXPECT_EQ(s.At(1 + 114, 1), kBlue);
    EXPECT_EQ(s.At(1 + 115, 1), kWhite);
    EXPECT_EQ(s.At(1 + 229, kHeight - 2), kWhite);
    // " 50%" straddles the edge: white ink on the blue part, blue ink on the white.
    int whiteLeft, whiteRight, blueLeft, blueRight;
    InkSpan(s, kWhite, &whiteLeft, &whiteRight);
    InkSpan(s, kBlue, &blueLeft, &blueRight);
    EXPECT_GT(whiteLeft, 80); // the text is near the centre, not at the bar's left end
    EXPECT_LT(whiteLeft, 116);
    EXPECT_GT(blueRight, 116);
    EXPECT_LT(blueRight, 150);
}

TEST(Gauge, RangeZeroAndPositionsBeyondTheRange) {
    GaugeOnHost g;
    SendMessageA(g.gauge, GAUGE_SETRANGE, 0, 0);
    EXPECT_EQ(g.Shown().At(1, 1), kWhite);
    SendMessageA(g.gauge, GAUGE_SETPOS, 0, 3);
    Grab s = g.Shown();
    EXPECT_EQ(s.At(1, 1), kBlue);
    EXPECT_EQ(s.At(kWidth - 2, kHeight - 2), kBlue);
    SendMessageA(g.gauge, GAUGE_SETRANGE, 0, 100);
    SendMessageA(g.gauge, GAUGE_SETPOS, 0, 250);
    EXPECT_EQ(g.Shown().At(kWidth - 2, 1), kBlue);
    EXPECT_EQ(SendMessageA(g.gauge, GAUGE_GETPOS, 0, 0), 250);
    EXPECT_EQ(SendMessageA(g.gauge, GAUGE_GETRANGE, 0, 0), 100);
}

TEST(Gauge, ColoursTakeEffectAtTheNextPaint) {
    GaugeOnHost g;
    SendMessageA(g.gauge, GAUGE_SETPOS, 0, 50);
    SendMessageA(g.gauge, GAUGE_SETFORECOLOR, 0, kRed);
    SendMessageA(g.gauge, GAUGE_SETBACKCOLOR, 0, kBlue);
    Settle(g.host.hwnd());
    EXPECT_EQ(g.Shown().At(1, 1), kBlue); // still the old blue fill
    EXPECT_EQ(g.Shown().At(kWidth - 2, 1), kWhite);
    SendMessageA(g.gauge, GAUGE_SETPOS, 0, 50);
    Grab s = g.Shown();
    EXPECT_EQ(s.At(1, 1), kRed);
    EXPECT_EQ(s.At(kWidth - 2, 1), kBlue);
}

TEST(Gauge, RegistersOnceAndTheDialogTemplateHoldsIt) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    ATOM atom = RegisterGaugeClass(module);
    ASSERT_NE(atom, 0);
    EXPECT_EQ(RegisterGaugeClass(module), atom);

    HWND dialog = CreateDialogParamA(module, "IDD_GAUGE_DLG", nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION);
    EXPECT_FALSE(style & WS_VISIBLE);
    EXPECT_FALSE(style & WS_SYSMENU);
    char text[64];
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    ASSERT_NE(cancel, nullptr);
    GetWindowTextA(cancel, text, sizeof text);
    EXPECT_STREQ(text, "Cancel");
    HWND gauge = GetDlgItem(dialog, 101);
    ASSERT_NE(gauge, nullptr);
    GetClassNameA(gauge, text, sizeof text);
    EXPECT_STREQ(text, "Gauge");
    // 154x14 dialog units, inside the 158x19 black frame.
    RECT units = {0, 0, 154, 14}, got;
    MapDialogRect(dialog, &units);
    GetClientRect(gauge, &got);
    EXPECT_EQ(got.right, units.right);
    EXPECT_EQ(got.bottom, units.bottom);
    SendMessageA(gauge, GAUGE_SETRANGE, 0, 130);
    SendMessageA(gauge, GAUGE_SETPOS, 0, 104);
    EXPECT_EQ(SendMessageA(gauge, GAUGE_GETPOS, 0, 0), 104);
    DestroyWindow(dialog);
}
