// skin_gallery OUT.bmp: the whole skin for review. The deck with its real keys,
// sliders and toggle, a gauge beside it, and below them every other skin
// bitmap whole. Writes a screenshot of it as a 24-bit BMP.
#include "app/deck.h"
#include "controls/gauge.h"
#include "controls/skin.h"
#include "controls/slider.h"
#include "controls/toggle.h"
#include "res/skin_table.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kWidth = 660, kHeight = 280;
constexpr COLORREF kPage = RGB(0x6b, 0x70, 0x78);
constexpr int kMargin = 16, kGap = 10;
constexpr int kGaugeX = 2 * kMargin + kDeckWidth, kGaugeWidth = 300, kGaugeHeight = 24;
constexpr DWORD kSettleMs = 400;
constexpr char kGalleryClass[] = "skin_gallery";

// The page shows every bitmap but the deck at its natural size, in rows below
// the deck; the deck, its face and its keys.
void Paint(HWND hwnd, HDC dc, const RECT& area) {
    if (GetParent(hwnd)) {
        DrawSkinBitmap(dc, "IDCD_DECK", -1, -1, kDeckWidth, kDeckHeight, 0, 0, 0, 0);
        return;
    }
    HBRUSH page = CreateSolidBrush(kPage);
    FillRect(dc, &area, page);
    DeleteObject(page);
    int x = kMargin, y = 2 * kMargin + kDeckHeight, rowHeight = 0;
    for (const SkinBitmapInfo& s : kSkinBitmaps) {
        if (s.width == kDeckWidth) continue;
        if (x + s.width > kWidth - kMargin) {
            x = kMargin;
            y += rowHeight + kGap;
            rowHeight = 0;
        }
        DrawSkinBitmap(dc, s.name, x, y, 0, 0, 0, 0, 0, 0);
        x += s.width + kGap;
        rowHeight = std::max(rowHeight, s.height);
    }
}

LRESULT CALLBACK GalleryProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        Paint(hwnd, BeginPaint(hwnd, &ps), ps.rcPaint);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_DRAWITEM) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        const DeckButton& b = kDeckButtons[item->CtlID];
        DrawButtonFace(item, b.bitmap, 0, b.width, b.height);
        return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND Create(const char* className, DWORD style, int x, int y, int w, int h, HWND parent,
            INT_PTR id = 0) {
    return CreateWindowExA(0, className, "", style, x, y, w, h, parent, reinterpret_cast<HMENU>(id),
                           GetModuleHandleA(nullptr), nullptr);
}

bool SaveClient(HWND hwnd, const char* path) {
    RECT r;
    GetClientRect(hwnd, &r);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, r.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = GetDC(hwnd);
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
    GdiFlush();
    DWORD size = (DWORD)((r.right * 3 + 3) / 4 * 4 * r.bottom);
    BITMAPFILEHEADER fh = {0x4D42, (DWORD)(sizeof fh + sizeof bi.bmiHeader + size), 0, 0,
                           (DWORD)(sizeof fh + sizeof bi.bmiHeader)};
    FILE* f = fopen(path, "wb");
    bool ok = f && fwrite(&fh, sizeof fh, 1, f) &&
              fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) && fwrite(bits, size, 1, f);
    if (f) fclose(f);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(hwnd, dc);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: skin_gallery OUT.bmp\n");
        return 2;
    }
    HINSTANCE module = GetModuleHandleA(nullptr);
    RegisterGaugeClass(module);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = GalleryProc;
    wc.hInstance = module;
    wc.lpszClassName = kGalleryClass;
    RegisterClassA(&wc);
    HWND page = Create(kGalleryClass, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, kWidth,
                       kHeight, nullptr);
    HWND deck = Create(kGalleryClass, WS_CHILD | WS_VISIBLE | WS_BORDER, kMargin, kMargin,
                       kDeckWidth, kDeckHeight, page);
    for (int i = 0; i < kButtonCount; i++) {
        const DeckButton& b = kDeckButtons[i];
        Create("button", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, b.x - kDeckBorder, b.y - kDeckBorder,
               b.width, b.height, deck, i);
    }
    SendMessageA(CreateCheckBoxControl(deck, kLinkToggleId, kLinkToggleX, kLinkToggleY),
                 CHECK_SETSTATE, 1, 0);
    static VScrollControl left(module), right(module);
    left.self = &left;
    right.self = &right;
    const std::pair<HWND, int> sliders[] = {
        {left.Create(deck, kLeftSliderId, kLeftSliderX, kSliderY), 180},
        {right.Create(deck, kRightSliderId, kRightSliderX, kSliderY), 100}};
    for (const auto& [slider, position] : sliders) {
        SendMessageA(slider, SCROLL_SETMAX, 256, 0);
        SendMessageA(slider, SCROLL_SETPOS, position, 0);
    }
    HWND gauge = Create(kGaugeClass, WS_CHILD | WS_VISIBLE, kGaugeX, kMargin, kGaugeWidth,
                        kGaugeHeight, page);
    SendMessageA(gauge, GAUGE_SETRANGE, 0, 130);
    SendMessageA(gauge, GAUGE_SETPOS, 0, 65);

    for (DWORD start = GetTickCount(); GetTickCount() - start < kSettleMs; Sleep(5)) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    bool ok = SaveClient(page, argv[1]);
    DestroyWindow(page);
    return ok ? 0 : 1;
}
