// The progress gauge: the split of the bar, its colours and the percentage
// text.
#include "controls/gauge.h"
#include "controls_test_util.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

using namespace controls_test;

namespace {

constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBlue = RGB(0, 0, 0xFF);
constexpr COLORREF kRed = RGB(0xFF, 0, 0);
// Tall enough that the top inner row is clear of the text.
constexpr int kWidth = 232, kHeight = 40;
constexpr int kId = 101;

using Pixels = std::vector<COLORREF>;

class Gauge : public ::testing::Test {
  protected:
    void SetUp() override {
        ATOM atom = RegisterGaugeClass(GetModuleHandleA(nullptr));
        ASSERT_NE(atom, 0);
        EXPECT_EQ(RegisterGaugeClass(GetModuleHandleA(nullptr)), atom); // once
        gauge = CreateWindowExA(0, kGaugeClass, "", WS_CHILD | WS_VISIBLE, 10, 10, kWidth, kHeight,
                                host.hwnd(), reinterpret_cast<HMENU>(kId),
                                GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(gauge, nullptr);
        Settle(host.hwnd());
    }
    // Sets a value and lets a paint that waits for its frame come.
    void Set(UINT msg, LPARAM value) {
        SendMessageA(gauge, msg, 0, value);
        td_test::PumpMessages(kGaugeFrameMs + 20);
    }
    Pixels Colours(std::initializer_list<POINT> points) {
        Grab g = GrabClient(gauge);
        Pixels colours;
        for (POINT p : points) colours.push_back(g.At(p.x, p.y));
        return colours;
    }

    Host host{kWidth + 20, kHeight + 20};
    HWND gauge = nullptr;
};

// Leftmost and rightmost columns holding a colour in the rows the text uses.
std::pair<int, int> InkSpan(const Grab& g, COLORREF ink) {
    std::pair<int, int> span = {g.width, -1};
    for (int y = 2; y < g.height - 2; y++)
        for (int x = 1; x < g.width - 1; x++)
            if (g.At(x, y) == ink) span = {std::min(span.first, x), std::max(span.second, x)};
    return span;
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
    // Range 0 counts as 1, beyond the range the bar is full, and large ranges
    // (a long track's frames) do not wrap.
    const struct {
        UINT32 range, position;
        int fill, percent;
    } cases[] = {{200, 100, 115, 50},
                 {0, 0, 0, 0},
                 {0, 9, 230, 100},
                 {100, 5000, 230, 100},
                 {130, 26, 46, 20},
                 {1000, 7, 1, 0},
                 {30000000, 15000000, 115, 50},
                 {0xFFFFFFFFu, 0x7FFFFFFFu, 114, 49}};
    for (const auto& c : cases)
        EXPECT_EQ(std::make_pair(GaugeFillWidth(230, c.range, c.position),
                                 GaugePercent(c.range, c.position)),
                  std::make_pair(c.fill, c.percent))
            << c.range << " " << c.position;
}

TEST_F(Gauge, ShowsTheSplitAndACentredPercentageForAnyRange) {
    // Fresh: a black frame round an empty white bar and "  0%", whose two
    // leading spaces push the ink right of the centred string's start.
    EXPECT_EQ(Colours({{0, 0}, {kWidth - 1, kHeight - 1}, {1, 1}, {kWidth - 2, 1}}),
              (Pixels{kBlack, kBlack, kWhite, kWhite}));
    auto [left, right] = InkSpan(GrabClient(gauge), kBlue);
    ASSERT_LT(left, right);
    int origin = (kWidth - 2 - TextWidth(gauge, "  0%")) / 2;
    EXPECT_GE(left, origin + TextWidth(gauge, "  ") - 1);
    EXPECT_LE(right, origin + TextWidth(gauge, "  0%"));
    EXPECT_EQ(SendMessageA(gauge, GAUGE_GETRANGE, 0, 0), 100);

    // 100 of 200 over 230 pixels: " 50%" straddles the edge near the centre,
    // white ink on the blue part, blue ink on the white.
    Set(GAUGE_SETRANGE, 200);
    Set(GAUGE_SETPOS, 100);
    EXPECT_EQ(Colours({{1, 1}, {115, 1}, {116, 1}, {230, kHeight - 2}}),
              (Pixels{kBlue, kBlue, kWhite, kWhite}));
    Grab s = GrabClient(gauge);
    EXPECT_GT(InkSpan(s, kWhite).first, 80);
    EXPECT_LT(InkSpan(s, kWhite).first, 116);
    EXPECT_GT(InkSpan(s, kBlue).second, 116);
    EXPECT_LT(InkSpan(s, kBlue).second, 150);

    Set(GAUGE_SETRANGE, 0);
    Set(GAUGE_SETPOS, 0);
    EXPECT_EQ(Colours({{1, 1}}), Pixels{kWhite});
    Set(GAUGE_SETPOS, 3);
    EXPECT_EQ(Colours({{1, 1}, {kWidth - 2, kHeight - 2}}), (Pixels{kBlue, kBlue}));
    Set(GAUGE_SETRANGE, 100);
    Set(GAUGE_SETPOS, 250);
    EXPECT_EQ(Colours({{kWidth - 2, 1}}), Pixels{kBlue});
    EXPECT_EQ(SendMessageA(gauge, GAUGE_GETPOS, 0, 0), 250);
}

TEST_F(Gauge, ColoursTakeEffectAtTheNextPaint) {
    Set(GAUGE_SETPOS, 50);
    Set(GAUGE_SETFORECOLOR, kRed);
    Set(GAUGE_SETBACKCOLOR, kBlue);
    Settle(host.hwnd());
    EXPECT_EQ(Colours({{1, 1}, {kWidth - 2, 1}}), (Pixels{kBlue, kWhite}));
    Set(GAUGE_SETPOS, 50);
    EXPECT_EQ(Colours({{1, 1}, {kWidth - 2, 1}}), (Pixels{kRed, kBlue}));
}

TEST_F(Gauge, StepsWithinAFrameShowWhenItIsDueAndTheFullBarAtOnce) {
    Set(GAUGE_SETRANGE, 1000);
    SendMessageA(gauge, GAUGE_SETPOS, 0, 100); // the first change paints at once
    EXPECT_EQ(Colours({{20, 1}, {30, 1}}), (Pixels{kBlue, kWhite}));
    SendMessageA(gauge, GAUGE_SETPOS, 0, 500); // may wait for its frame, never for another step
    td_test::PumpMessages(kGaugeFrameMs + 20);
    EXPECT_EQ(Colours({{30, 1}, {114, 1}, {117, 1}}), (Pixels{kBlue, kBlue, kWhite}));
    SendMessageA(gauge, GAUGE_SETPOS, 0, 1000); // the last step of a copy shows before it returns
    EXPECT_EQ(Colours({{kWidth - 2, 1}}), Pixels{kBlue});
}
