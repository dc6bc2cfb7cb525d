// Drawing the skin: 1:1 at the destination, the owner-drawn faces by item
// state, and nothing for what is not a skin bitmap or a button face.
#include "controls/skin.h"
#include "controls_test_util.h"
#include "res/skin_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using namespace controls_test;

namespace {

constexpr int kKeyCell = 20;

DRAWITEMSTRUCT Item(HDC dc, UINT state, UINT action = ODA_DRAWENTIRE, UINT type = ODT_BUTTON) {
    return {type, 0, 0, action, state, nullptr, dc, {0, 0, kKeyCell, kKeyCell}, 0};
}

} // namespace

// The system decodes the compressed skin as the tests' own decoder does, every
// pixel of every bitmap.
TEST(SkinDraw, EveryBitmapIsBuiltInAtItsSizeAndDrawsAsItDecodes) {
    Host host(300, 80); // the largest, the deck face
    for (const SkinBitmapInfo& s : kSkinBitmaps) {
        EXPECT_TRUE(SkinPixel(s.name, s.width - 1, s.height - 1) != CLR_INVALID &&
                    SkinPixel(s.name, s.width, s.height - 1) == CLR_INVALID &&
                    SkinPixel(s.name, s.width - 1, s.height) == CLR_INVALID)
            << s.name;
        HDC dc = GetDC(host.hwnd());
        DrawSkinBitmap(dc, s.name, 0, 0, 0, 0, 0, 0, 0, 0);
        ReleaseDC(host.hwnd(), dc);
        EXPECT_EQ(Mismatches(GrabClient(host.hwnd()), 0, 0, s.name, 0, 0, s.width, s.height), 0)
            << s.name;
    }
}

TEST(SkinDraw, BitmapsLandOneToOne) {
    Host host(80, 60);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "ID_LOCK_OFF", 10, 5, 19, 19, 0, 0, 0, 0);
    // A zero source size is the natural one, never stretched to the destination;
    // the source top counts from the picture's top.
    DrawSkinBitmap(dc, "ID_LOCK_ON", 40, 5, 60, 30, 0, 0, 0, 0);
    DrawSkinBitmap(dc, "IDB_PLAY", 10, 30, 20, 20, 0, 40, 20, 20);
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    EXPECT_EQ(Mismatches(g, 10, 5, "ID_LOCK_OFF", 0, 0, 19, 19), 0);
    EXPECT_EQ(Mismatches(g, 40, 5, "ID_LOCK_ON", 0, 0, 7, 7), 0);
    EXPECT_EQ(Mismatches(g, 10, 30, "IDB_PLAY", 0, 40, 20, 20), 0);
    for (POINT p : {POINT{9, 5}, {29, 23}, {10, 24}, {47, 5}, {40, 12}, {30, 30}, {10, 50}})
        EXPECT_EQ(g.At(p.x, p.y), kPaper) << p.x << "," << p.y;

    // The deck at (-1, -1) shows its pixel (1, 1) at the origin.
    Host deck(298, 78, true);
    EXPECT_EQ(Mismatches(GrabClient(deck.hwnd()), 0, 0, "IDCD_DECK", 1, 1, 298, 78), 0);
    // Natural sizes take the header's low words.
    DibBlit b = SettleDibBlit(0x10011, 0x10042, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(std::make_tuple(b.dstWidth, b.dstHeight, b.srcY),
              std::make_tuple(0x11, 0x42, 0x10042 - 0x42));
}

TEST(SkinDraw, NothingIsDrawnForUnknownNamesForeignBitmapsFocusOrOtherControls) {
    Host host(40, 40);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "IDB_NO_SUCH", 0, 0, 20, 20, 0, 0, 0, 0);
    DrawSkinBitmap(dc, nullptr, 0, 0, 20, 20, 0, 0, 0, 0);
    DrawPackedDib(nullptr, dc, 0, 0, 20, 20, 0, 0, 0, 0);
    // An 8-bit DIB: its pixels do not start where a skin bitmap's do.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD table[256];
        BYTE bits[4 * 4];
    } eightBit = {{sizeof(BITMAPINFOHEADER), 4, 4, 1, 8, BI_RGB, 0, 0, 0, 0, 0}, {}, {}};
    HGLOBAL mem = GlobalAlloc(GMEM_FIXED, sizeof eightBit);
    memcpy(mem, &eightBit, sizeof eightBit);
    DrawPackedDib(mem, dc, 0, 0, 0, 0, 0, 0, 0, 0);
    GlobalFree(mem);
    DRAWITEMSTRUCT focus = Item(dc, ODS_FOCUS | ODS_SELECTED, ODA_FOCUS);
    DRAWITEMSTRUCT listbox = Item(dc, 0, ODA_DRAWENTIRE, ODT_LISTBOX);
    DRAWITEMSTRUCT unknown = Item(dc, 0);
    DrawButtonFace(&focus, "IDB_PLAY", 0, kKeyCell, kKeyCell);
    DrawButtonFace(&listbox, "IDB_PLAY", 0, kKeyCell, kKeyCell);
    DrawButtonFace(&unknown, "IDB_NO_SUCH", 0, kKeyCell, kKeyCell);
    DrawButtonFace(nullptr, "IDB_PLAY", 0, kKeyCell, kKeyCell);
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    EXPECT_EQ(std::count(g.pixels.begin(), g.pixels.end(), kPaper), long(g.pixels.size()));
}

TEST(ButtonFace, ShowsTheCellOfTheItemState) {
    const UINT states[] = {0, ODS_SELECTED, ODS_DISABLED, ODS_SELECTED | ODS_DISABLED, ODS_FOCUS};
    const int cell[] = {0, 1, 2, 1, 0};
    Host host(5 * kKeyCell, kKeyCell);
    HDC dc = GetDC(host.hwnd());
    for (int i = 0; i < 5; i++) {
        DRAWITEMSTRUCT d = Item(dc, states[i], i == 4 ? ODA_SELECT : ODA_DRAWENTIRE);
        SetViewportOrgEx(dc, kKeyCell * i, 0, nullptr);
        DrawButtonFace(&d, "IDB_STOP", 0, kKeyCell, kKeyCell);
    }
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(
            Mismatches(g, kKeyCell * i, 0, "IDB_STOP", 0, kKeyCell * cell[i], kKeyCell, kKeyCell),
            0)
            << i;
}
