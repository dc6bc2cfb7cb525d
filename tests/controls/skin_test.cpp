// The skin as built into the program, and drawing it: sizes and colour tables,
// art that fits the deck's layout, 1:1 drawing and the owner-drawn faces.
#include "controls/skin.h"
#include "controls_test_util.h"
#include "res/skin_table.h"

#include <gtest/gtest.h>

using namespace controls_test;

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kKey = RGB(0, 0, 0xFF);
constexpr COLORREF kPaper = RGB(0x40, 0x80, 0x20);

int CountMismatches(const Grab& g, int x0, int y0, const char* name, int sx, int sy, int w, int h) {
    int bad = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (g.At(x0 + x, y0 + y) != SkinPixel(name, sx + x, sy + y)) bad++;
    return bad;
}

bool AllPaper(const Grab& g) {
    for (COLORREF c : g.pixels)
        if (c != kPaper) return false;
    return true;
}

DRAWITEMSTRUCT Item(HDC dc, UINT state, UINT action = ODA_DRAWENTIRE, UINT type = ODT_BUTTON) {
    DRAWITEMSTRUCT d = {};
    d.CtlType = type;
    d.itemAction = action;
    d.itemState = state;
    d.hDC = dc;
    d.rcItem = {0, 0, 20, 20};
    return d;
}

} // namespace

TEST(SkinResources, EveryBitmapHasItsSizeCellsAndSixteenColours) {
    for (const SkinBitmapInfo& s : kSkinBitmaps) {
        SCOPED_TRACE(s.name);
        DWORD size = 0;
        const BITMAPINFOHEADER* h = SkinHeader(s.name, &size);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->biSize, 40u);
        EXPECT_EQ(h->biWidth, s.width);
        EXPECT_EQ(h->biHeight, s.height); // positive: bottom row first
        EXPECT_EQ(h->biPlanes, 1);
        EXPECT_EQ(h->biBitCount, 4);
        EXPECT_EQ(h->biCompression, (DWORD)BI_RGB);
        EXPECT_TRUE(h->biClrUsed == 0 || h->biClrUsed == 16);
        DWORD stride = (s.width * 4 + 31) / 32 * 4;
        EXPECT_EQ(size, 40 + 64 + stride * s.height);
        EXPECT_EQ(s.width % s.cellWidth, 0);
        EXPECT_EQ(s.height % s.cellHeight, 0);
    }
    EXPECT_EQ(kSkinBitmapCount, 22);
}

TEST(SkinResources, ArtFitsTheDeckLayout) {
    // The status display (191x37 at deck (77, 9)) sits on black glass.
    for (int y = 8; y <= 46; y++)
        for (int x = 76; x <= 268; x++)
            ASSERT_EQ(SkinPixel("IDCD_DECK", x, y), kBlack) << x << "," << y;
    // Key blue is the slider track's alone: it cuts the track, and nothing else uses it.
    int keyed = 0;
    for (const SkinBitmapInfo& s : kSkinBitmaps)
        for (int y = 0; y < s.height; y++)
            for (int x = 0; x < s.width; x++)
                if (SkinPixel(s.name, x, y) == kKey) {
                    ASSERT_STREQ(s.name, "ID_MIX_BACK");
                    keyed++;
                }
    EXPECT_GT(keyed, 17 * 66 / 2);
    // The strips' blank places are the display's own black.
    EXPECT_EQ(SkinPixel("IDL_NUM", 0, 0), kBlack);
    EXPECT_EQ(SkinPixel("IDL_MODE", 0, 0), kBlack);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(SkinPixel("IDL_MAP", x, y), kBlack); // space
    for (int y = 0; y < 13; y++)
        for (int x = 44; x < 55; x++) ASSERT_EQ(SkinPixel("ID_CUR_MODE", x, y), kBlack); // blank
}

TEST(SkinResources, EveryCharacterAndKeyStateIsDrawn) {
    // Each printable character but the space has ink, and no two share a cell's look.
    for (int c = 33; c <= 126; c++) {
        int ink = 0, sx = (c - 32) % 20 * 8, sy = (c - 32) / 20 * 10;
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < 8; x++) ink += SkinPixel("IDL_MAP", sx + x, sy + y) != kBlack;
        EXPECT_GT(ink, 0) << (char)c;
    }
    // A key's three cells differ, and the pressed glyph sits one row lower.
    for (int i = 1; i <= 13; i++) {
        const char* name = kSkinBitmaps[i].name;
        SCOPED_TRACE(name);
        int pressedDiffers = 0, disabledDiffers = 0;
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 20; x++) {
                pressedDiffers += SkinPixel(name, x, y) != SkinPixel(name, x, y + 20);
                disabledDiffers += SkinPixel(name, x, y) != SkinPixel(name, x, y + 40);
            }
        EXPECT_GT(pressedDiffers, 0);
        EXPECT_GT(disabledDiffers, 0);
    }
}

TEST(SkinMath, SettlesSizesAndStorageRow) {
    // Zero sizes take the natural ones; a zero source width wins over a destination width.
    DibBlit b = SettleDibBlit(300, 80, -1, -1, 300, 80, 0, 0, 0, 0);
    EXPECT_EQ(b.dstWidth, 300);
    EXPECT_EQ(b.srcWidth, 300);
    EXPECT_EQ(b.srcY, 0);
    b = SettleDibBlit(20, 60, 0, 0, 20, 20, 0, 20, 20, 20);
    EXPECT_EQ(b.srcY, 20); // the middle cell, counted from the bottom
    b = SettleDibBlit(20, 60, 0, 0, 20, 20, 0, 0, 20, 20);
    EXPECT_EQ(b.srcY, 40);
    b = SettleDibBlit(0x10011, 0x10042, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(b.dstWidth, 0x11);
    EXPECT_EQ(b.dstHeight, 0x42);
    EXPECT_EQ(b.srcY, 0x10042 - 0x42);

    EXPECT_EQ(ButtonCellTop(0, 20), 0);
    EXPECT_EQ(ButtonCellTop(ODS_SELECTED, 20), 20);
    EXPECT_EQ(ButtonCellTop(ODS_DISABLED, 20), 40);
    EXPECT_EQ(ButtonCellTop(ODS_SELECTED | ODS_DISABLED, 20), 20);
    EXPECT_EQ(ButtonCellTop(ODS_FOCUS, 20), 0);
}

TEST(SkinDraw, BitmapLandsOneToOne) {
    Host host(60, 40);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "ID_LOCK_OFF", 10, 5, 19, 19, 0, 0, 0, 0);
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    EXPECT_EQ(CountMismatches(g, 10, 5, "ID_LOCK_OFF", 0, 0, 19, 19), 0);
    EXPECT_EQ(g.At(9, 5), kPaper);
    EXPECT_EQ(g.At(29, 23), kPaper);
    EXPECT_EQ(g.At(10, 24), kPaper);
}

TEST(SkinDraw, DeckAtMinusOneShowsDeckPixelOneOneAtTheOrigin) {
    Host host(298, 78);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "IDCD_DECK", -1, -1, 300, 80, 0, 0, 0, 0);
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    EXPECT_EQ(g.At(0, 0), SkinPixel("IDCD_DECK", 1, 1));
    EXPECT_EQ(CountMismatches(g, 0, 0, "IDCD_DECK", 1, 1, 298, 78), 0);
}

TEST(SkinDraw, ZeroSourceSizeNeverStretches) {
    Host host(80, 40);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "ID_LOCK_ON", 2, 3, 60, 30, 0, 0, 0, 0);
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    EXPECT_EQ(CountMismatches(g, 2, 3, "ID_LOCK_ON", 0, 0, 7, 7), 0);
    EXPECT_EQ(g.At(9, 3), kPaper);
    EXPECT_EQ(g.At(2, 10), kPaper);
}

TEST(SkinDraw, SourceTopCountsFromThePicturesTop) {
    Host host(40, 40);
    HDC dc = GetDC(host.hwnd());
    DrawSkinBitmap(dc, "IDB_PLAY", 5, 5, 20, 20, 0, 40, 20, 20);
    ReleaseDC(host.hwnd(), dc);
    EXPECT_EQ(CountMismatches(GrabClient(host.hwnd()), 5, 5, "IDB_PLAY", 0, 40, 20, 20), 0);
}

TEST(SkinDraw, UnknownNamesAndForeignBitmapsDrawNothing) {
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
    } eightBit = {};
    eightBit.h = {sizeof(BITMAPINFOHEADER), 4, 4, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    HGLOBAL mem = GlobalAlloc(GMEM_FIXED, sizeof eightBit);
    memcpy(mem, &eightBit, sizeof eightBit);
    DrawPackedDib(mem, dc, 0, 0, 0, 0, 0, 0, 0, 0);
    GlobalFree(mem);
    ReleaseDC(host.hwnd(), dc);
    EXPECT_TRUE(AllPaper(GrabClient(host.hwnd())));
}

TEST(ButtonFace, ShowsTheCellOfTheItemState) {
    Host host(100, 20);
    HDC dc = GetDC(host.hwnd());
    const UINT states[] = {0, ODS_SELECTED, ODS_DISABLED, ODS_SELECTED | ODS_DISABLED, ODS_FOCUS};
    const int cellTop[] = {0, 20, 40, 20, 0};
    for (int i = 0; i < 5; i++) {
        DRAWITEMSTRUCT d = Item(dc, states[i], i == 4 ? ODA_SELECT : ODA_DRAWENTIRE);
        SetViewportOrgEx(dc, 20 * i, 0, nullptr);
        DrawButtonFace(&d, "IDB_STOP", 0, 20, 20);
    }
    ReleaseDC(host.hwnd(), dc);
    Grab g = GrabClient(host.hwnd());
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(CountMismatches(g, 20 * i, 0, "IDB_STOP", 0, cellTop[i], 20, 20), 0) << i;
}

TEST(ButtonFace, FocusOnlyForeignControlsAndUnknownNamesDrawNothing) {
    Host host(20, 20);
    HDC dc = GetDC(host.hwnd());
    DRAWITEMSTRUCT focus = Item(dc, ODS_FOCUS | ODS_SELECTED, ODA_FOCUS);
    DrawButtonFace(&focus, "IDB_PLAY", 0, 20, 20);
    DRAWITEMSTRUCT listbox = Item(dc, 0, ODA_DRAWENTIRE, ODT_LISTBOX);
    DrawButtonFace(&listbox, "IDB_PLAY", 0, 20, 20);
    DRAWITEMSTRUCT unknown = Item(dc, 0);
    DrawButtonFace(&unknown, "IDB_NO_SUCH", 0, 20, 20);
    DrawButtonFace(nullptr, "IDB_PLAY", 0, 20, 20);
    ReleaseDC(host.hwnd(), dc);
    EXPECT_TRUE(AllPaper(GrabClient(host.hwnd())));
}

TEST(ButtonFace, OwnerDrawnButtonFollowsItsWindow) {
    Host host(60, 40);
    host.buttonBitmap = "IDB_EJECT";
    HWND button = CreateWindowExA(0, "button", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 8, 20,
                                  20, host.hwnd(), reinterpret_cast<HMENU>(8),
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(button, nullptr);
    Settle(host.hwnd());
    EXPECT_EQ(CountMismatches(GrabClient(host.hwnd()), 10, 8, "IDB_EJECT", 0, 0, 20, 20), 0);
    EnableWindow(button, FALSE);
    Settle(host.hwnd());
    EXPECT_EQ(CountMismatches(GrabClient(host.hwnd()), 10, 8, "IDB_EJECT", 0, 40, 20, 20), 0);
    EnableWindow(button, TRUE);
    SendMessageA(button, BM_SETSTATE, TRUE, 0);
    Settle(host.hwnd());
    EXPECT_EQ(CountMismatches(GrabClient(host.hwnd()), 10, 8, "IDB_EJECT", 0, 20, 20, 20), 0);
}
