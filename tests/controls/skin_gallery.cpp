// skin_gallery OUT.bmp: lays out the whole skin with the real controls (the
// deck with its keys, sliders, toggle and a sample status display; every key
// in its three states; the toggle off and on; gauges; the liquid-crystal
// strips), and writes a screenshot of it as a 24-bit BMP for review.
#include "controls/gauge.h"
#include "controls/skin.h"
#include "controls/slider.h"
#include "controls/toggle.h"

#include <cstdio>
#include <initializer_list>
#include <cstring>

namespace {

constexpr int kWidth = 660, kHeight = 300;
constexpr COLORREF kPage = RGB(0x6b, 0x70, 0x78);
constexpr int kDeckX = 16, kDeckY = 16;

struct Key {
    const char* bitmap;
    int x, y;
};
constexpr Key kKeys[] = {{"IDB_PLIST", 52, 7},   {"IDB_PLAY", 76, 53},    {"IDB_PAUSE", 97, 53},
                         {"IDB_STOP", 118, 53},  {"IDB_LTSKIP", 142, 53}, {"IDB_LSKIP", 163, 53},
                         {"IDB_RSKIP", 184, 53}, {"IDB_RTSKIP", 205, 53}, {"IDB_EJECT", 226, 53},
                         {"IDB_PMODE", 250, 53}, {"IDWAV_REC", 274, 53},  {"IDB_ICON", 274, 28},
                         {"IDB_POWER", 274, 7}};

void Cell(HDC dc, const char* strip, int x, int y, int w, int h, int k) {
    DrawSkinBitmap(dc, strip, x, y, w, h, k * w, 0, w, h);
}

void MapText(HDC dc, int x, int y, const char* text) {
    for (int i = 0; text[i]; i++) {
        int c = (unsigned char)text[i] - 32;
        if (c >= 0 && c < 95)
            DrawSkinBitmap(dc, "IDL_MAP", x + 8 * i, y, 8, 10, c % 20 * 8, c / 20 * 10, 8, 10);
    }
}

// A status display as the program shows it: track line, track number,
// elapsed time, state icon and the random mode lit.
void PaintDisplay(HDC dc) {
    MapText(dc, 5, 3, "[12] 03:25  04:10");
    const int digits[] = {0, 3, 11}, xs[] = {22, 37, 52};
    for (int i = 0; i < 3; i++) Cell(dc, "IDL_NUM", xs[i], 16, 14, 21, digits[i]);
    const int time[] = {0, 1, 10, 4, 7}, txs[] = {67, 82, 97, 112, 127};
    for (int i = 0; i < 5; i++) Cell(dc, "IDL_NUM", txs[i], 16, 14, 21, time[i]);
    Cell(dc, "ID_CUR_MODE", 5, 19, 11, 13, 0);
    Cell(dc, "IDL_MODE", 148, 1, 41, 11, 3);
    Cell(dc, "IDL_MODE", 148, 13, 41, 11, 1);
    Cell(dc, "IDL_MODE", 148, 25, 41, 11, 5);
}

LRESULT CALLBACK DisplayProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        PaintDisplay(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK DeckProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            DrawSkinBitmap(dc, "IDCD_DECK", -1, -1, 300, 80, 0, 0, 0, 0);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DRAWITEM: {
            auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            DrawButtonFace(item, kKeys[item->CtlID].bitmap, 0, 20, 20);
            return TRUE;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Label(HDC dc, int x, int y, const char* text) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xF0, 0xF0, 0xF0));
    TextOutA(dc, x, y, text, (int)strlen(text));
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        HBRUSH page = CreateSolidBrush(kPage);
        FillRect(dc, &r, page);
        DeleteObject(page);
        HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        // Every key: normal, pressed, disabled, side by side in columns.
        Label(dc, 16, 104, "keys: normal / pressed / disabled");
        for (int i = 0; i < 13; i++)
            for (int s = 0; s < 3; s++)
                DrawSkinBitmap(dc, kKeys[i].bitmap, 16 + i * 24, 124 + s * 22, 20, 20, 0, s * 20,
                               20, 20);
        Label(dc, 340, 16, "toggle off / on");
        DrawSkinBitmap(dc, "ID_LOCK_OFF", 340, 36, 19, 19, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "ID_LOCK_OFF", 366, 36, 19, 19, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "ID_LOCK_ON", 372, 42, 7, 7, 0, 0, 0, 0);
        Label(dc, 460, 16, "track, thumb");
        DrawSkinBitmap(dc, "ID_MIX_BACK", 460, 36, 0, 0, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "ID_MIX_CUR", 484, 36, 0, 0, 0, 0, 0, 0);
        // The liquid-crystal strips, whole, on the display's black.
        RECT lcd = {340, 112, 650, 290};
        FillRect(dc, &lcd, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        DrawSkinBitmap(dc, "IDL_NUM", 346, 118, 0, 0, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "ID_CUR_MODE", 346, 146, 0, 0, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "IDL_MODE", 346, 166, 0, 0, 0, 0, 0, 0);
        DrawSkinBitmap(dc, "IDL_MAP", 346, 184, 0, 0, 0, 0, 0, 0);
        MapText(dc, 346, 240, "The quick brown fox jumps");
        MapText(dc, 346, 252, "over the lazy dog. 0123456789");
        MapText(dc, 346, 264, "[12] 03:25  04:10 ~!@#$%^&*()");
        Label(dc, 16, 196, "gauges");
        SelectObject(dc, font);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Register(const char* name, WNDPROC proc) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
}

void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Sleep(5);
    }
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
    Register("gallery_page", PageProc);
    Register("gallery_deck", DeckProc);
    Register("gallery_display", DisplayProc);
    RegisterGaugeClass(module);
    HWND page = CreateWindowExA(0, "gallery_page", "", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                0, kWidth, kHeight, nullptr, nullptr, module, nullptr);
    HWND deck = CreateWindowExA(0, "gallery_deck", "", WS_CHILD | WS_VISIBLE | WS_BORDER, kDeckX,
                                kDeckY, 300, 80, page, nullptr, module, nullptr);
    for (int i = 0; i < 13; i++)
        CreateWindowExA(0, "button", "", 0x5600000B, kKeys[i].x - 1, kKeys[i].y - 1, 20, 20, deck,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(i)), module, nullptr);
    HWND toggle = CreateCheckBoxControl(deck, 13, 49, 33);
    SendMessageA(toggle, CHECK_SETSTATE, 1, 0);
    static VScrollControl left(module), right(module);
    left.self = &left;
    right.self = &right;
    HWND l = left.Create(deck, 100, 7, 6), rt = right.Create(deck, 101, 28, 6);
    for (HWND s : {l, rt}) {
        SendMessageA(s, SCROLL_SETMIN, 0, 0);
        SendMessageA(s, SCROLL_SETMAX, 256, 0);
    }
    SendMessageA(l, SCROLL_SETPOS, 180, 0);
    SendMessageA(rt, SCROLL_SETPOS, 100, 0);
    CreateWindowExA(0, "gallery_display", "", WS_CHILD | WS_VISIBLE, 76, 8, 191, 37, deck, nullptr,
                    module, nullptr);

    HWND busy = CreateWindowExA(0, kGaugeClass, "", WS_CHILD | WS_VISIBLE, 16, 216, 300, 24, page,
                                nullptr, module, nullptr);
    HWND fresh = CreateWindowExA(0, kGaugeClass, "", WS_CHILD | WS_VISIBLE, 16, 250, 300, 24, page,
                                 nullptr, module, nullptr);
    SendMessageA(busy, GAUGE_SETRANGE, 0, 130);
    SendMessageA(busy, GAUGE_SETFORECOLOR, 0, RGB(0xFF, 0, 0));
    SendMessageA(busy, GAUGE_SETBACKCOLOR, 0, RGB(0, 0, 0xFF));
    SendMessageA(busy, GAUGE_SETPOS, 0, 65);
    SendMessageA(fresh, GAUGE_SETPOS, 0, 7);

    // The pressed look of a key in place on the deck.
    SendMessageA(GetDlgItem(deck, 2), BM_SETSTATE, TRUE, 0);
    EnableWindow(GetDlgItem(deck, 4), FALSE);
    Pump(400);
    bool ok = SaveClient(page, argv[1]);
    DestroyWindow(page);
    return ok ? 0 : 1;
}
