#include "controls_test_util.h"

#include "controls/skin.h"
#include "controls/slider.h"
#include "support/test_env.h"

namespace controls_test {

namespace {
constexpr char kHostClass[] = "controls_test_host";
constexpr int kHostX = 40, kHostY = 40;
} // namespace

Grab GrabClient(HWND hwnd) {
    Grab g;
    RECT r;
    GetClientRect(hwnd, &r);
    g.width = r.right;
    g.height = r.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, g.width, -g.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    g.pixels.resize((size_t)g.width * g.height);
    HDC screen = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, g.width, g.height);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, g.width, g.height, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    GetDIBits(mem, bitmap, 0, g.height, g.pixels.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(hwnd, screen);
    // The DIB holds 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
    for (COLORREF& c : g.pixels) c = RGB(GetBValue(c), GetGValue(c), GetRValue(c));
    return g;
}

int Mismatches(const Grab& g, int x, int y, const char* name, int sx, int sy, int w, int h) {
    int bad = 0;
    for (int row = 0; row < h; row++)
        for (int col = 0; col < w; col++)
            bad += g.At(x + col, y + row) != SkinPixel(name, sx + col, sy + row);
    return bad;
}

void Settle(HWND hwnd) {
    UpdateWindow(hwnd);
    td_test::PumpMessages(30);
}

Host::Host(int clientWidth, int clientHeight, bool deck) : deck(deck) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = CreateSolidBrush(kPaper);
    wc.lpszClassName = kHostClass;
    if (!RegisterClassA(&wc)) DeleteObject(wc.hbrBackground); // registered before
    RECT r = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&r, WS_POPUP | WS_BORDER, FALSE);
    hwnd_ = CreateWindowExA(0, kHostClass, "", WS_POPUP | WS_BORDER | WS_VISIBLE, kHostX, kHostY,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                            GetModuleHandleA(nullptr), this);
    Settle(hwnd_);
}

COLORREF Host::Backdrop(int x, int y) const {
    return deck ? SkinPixel("IDCD_DECK", x + 1, y + 1) : kPaper;
}

LRESULT CALLBACK Host::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* host = reinterpret_cast<Host*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (host && msg == WM_PAINT && host->deck) {
        PAINTSTRUCT ps;
        DrawSkinBitmap(BeginPaint(hwnd, &ps), "IDCD_DECK", -1, -1, 300, 80, 0, 0, 0, 0);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (host && msg == SCROLL_NOTIFY_TRACK) {
        host->proposals.emplace_back(wParam, lParam);
        if (host->echoTrack)
            SendMessageA(reinterpret_cast<HWND>(static_cast<UINT_PTR>(LOWORD(lParam))),
                         SCROLL_SETPOS, HIWORD(lParam), 0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace controls_test
