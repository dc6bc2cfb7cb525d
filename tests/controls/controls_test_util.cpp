#include "controls_test_util.h"

#include "controls/skin.h"
#include "controls/slider.h"
#include "support/test_env.h"

namespace controls_test {

namespace {
constexpr char kHostClass[] = "controls_test_host";
constexpr int kHostX = 40, kHostY = 40;
} // namespace

const BITMAPINFOHEADER* SkinHeader(const char* name, DWORD* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, name, RT_BITMAP);
    if (!found) return nullptr;
    if (size) *size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
}

COLORREF SkinPixel(const char* name, int x, int y) {
    const BITMAPINFOHEADER* h = SkinHeader(name);
    if (!h || x < 0 || y < 0 || x >= h->biWidth || y >= h->biHeight) return CLR_INVALID;
    const RGBQUAD* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(h) + h->biSize);
    const BYTE* bits = reinterpret_cast<const BYTE*>(table) + 16 * sizeof(RGBQUAD);
    int stride = (h->biWidth * 4 + 31) / 32 * 4;
    BYTE pair = bits[(size_t)(h->biHeight - 1 - y) * stride + x / 2];
    const RGBQUAD& c = table[x % 2 ? pair & 0x0F : pair >> 4];
    return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

Grab GrabClient(HWND hwnd) {
    Grab g;
    RECT r;
    GetClientRect(hwnd, &r);
    g.width = r.right;
    g.height = r.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = g.width;
    bi.bmiHeader.biHeight = -g.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(hwnd);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, g.width, g.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    for (int i = 0; i < g.width * g.height; i++)
        g.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(hwnd, screen);
    return g;
}

void Settle(HWND hwnd) {
    UpdateWindow(hwnd);
    td_test::PumpMessages(30);
}

Host::Host(int clientWidth, int clientHeight, Face face, COLORREF solid)
    : face_(face), solid_(solid) {
    WNDCLASSA wc = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kHostClass, &wc)) {
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = kHostClass;
        RegisterClassA(&wc);
    }
    RECT r = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&r, WS_POPUP | WS_BORDER, FALSE);
    hwnd_ = CreateWindowExA(0, kHostClass, "", WS_POPUP | WS_BORDER | WS_VISIBLE, kHostX, kHostY,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                            GetModuleHandleA(nullptr), this);
    Settle(hwnd_);
}

Host::~Host() {
    DestroyWindow(hwnd_);
}

COLORREF Host::Backdrop(int x, int y) const {
    return face_ == Face::Deck ? SkinPixel("IDCD_DECK", x + 1, y + 1) : solid_;
}

LRESULT CALLBACK Host::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* host = reinterpret_cast<Host*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!host) return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (msg) {
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (host->face_ == Face::Deck) {
                DrawSkinBitmap(dc, "IDCD_DECK", -1, -1, 300, 80, 0, 0, 0, 0);
            } else {
                RECT r;
                GetClientRect(hwnd, &r);
                HBRUSH b = CreateSolidBrush(host->solid_);
                FillRect(dc, &r, b);
                DeleteObject(b);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DRAWITEM:
            if (host->buttonBitmap)
                DrawButtonFace(reinterpret_cast<DRAWITEMSTRUCT*>(lParam), host->buttonBitmap, 0, 20,
                               20);
            return TRUE;
        case SCROLL_NOTIFY_TRACK:
            host->notices.push_back({msg, wParam, lParam});
            if (host->echoTrack)
                SendMessageA(reinterpret_cast<HWND>(static_cast<UINT_PTR>(LOWORD(lParam))),
                             SCROLL_SETPOS, HIWORD(lParam), 0);
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace controls_test
