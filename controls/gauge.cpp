#include "controls/gauge.h"

#include "controls/gdi.h"

#include <cstddef>

namespace {

constexpr UINT32 kInitialRange = 100;
constexpr COLORREF kInitialFore = RGB(0, 0, 0xFF);
constexpr COLORREF kInitialBack = RGB(0xFF, 0xFF, 0xFF);
constexpr UINT32 kPercent = 100;
constexpr int kRecordSlot = 0;
constexpr int kTextSize = 8; // "100%" and its terminator, with room to spare
constexpr char kPercentFormat[] = "%3d%%";
constexpr UINT_PTR kFrameTimer = 1;

#if defined(__i386__)
static_assert(offsetof(GaugeRecord, font) == 8 && offsetof(GaugeRecord, backColour) == 16,
              "gauge record fields in their documented order");
#endif

ATOM g_gaugeAtom = 0;
HINSTANCE g_gaugeInstance = nullptr;

GaugeRecord* RecordOf(HWND hwnd) {
    return reinterpret_cast<GaugeRecord*>(GetWindowLongPtrA(hwnd, kRecordSlot));
}

void Gauge_OnCreate(HWND hwnd) {
    auto* rec = static_cast<GaugeRecord*>(LocalAlloc(LPTR, sizeof(GaugeRecord)));
    if (!rec) return;
    rec->range = kInitialRange;
    rec->font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    rec->foreColour = kInitialFore;
    rec->backColour = kInitialBack;
    rec->hwnd = hwnd;
    SetWindowLongPtrA(hwnd, kRecordSlot, reinterpret_cast<LONG_PTR>(rec));
}

void Gauge_OnDestroy(GaugeRecord* rec) {
    SetWindowLongPtrA(rec->hwnd, kRecordSlot, 0);
    LocalFree(rec);
}

// The client area inside the frame; a gauge too small for its frame has nothing inside.
RECT InnerRect(HWND hwnd, int* width, int* height) {
    RECT inner;
    GetClientRect(hwnd, &inner);
    InflateRect(&inner, -1, -1);
    *width = inner.right > inner.left ? LOWORD(inner.right - inner.left) : 0;
    *height = inner.bottom > inner.top ? LOWORD(inner.bottom - inner.top) : 0;
    return inner;
}

// The text is drawn twice with the same origin, each time clipped to one part
// and filling it, so the colours swap exactly at the bar's edge.
void Gauge_Paint(GaugeRecord* rec, HDC dc, const RECT& updated) {
    RECT frame;
    GetClientRect(rec->hwnd, &frame);
    FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    int width, height;
    RECT inner = InnerRect(rec->hwnd, &width, &height);
    int fill = GaugeFillWidth(width, rec->range, rec->position);
    RECT done = {inner.left, inner.top, inner.left + fill, inner.bottom};
    RECT rest = {inner.left + fill, inner.top, inner.right, inner.bottom};

    SelectedObject font(dc, rec->font);
    char text[kTextSize];
    int length = wsprintfA(text, kPercentFormat, GaugePercent(rec->range, rec->position));
    SIZE extent = {};
    GetTextExtentPoint32A(dc, text, length, &extent);
    int x = (width - extent.cx) / 2, y = (height - extent.cy) / 2;

    SetTextColor(dc, rec->foreColour);
    SetBkColor(dc, rec->backColour);
    ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &rest, text, length, nullptr);
    SetBkColor(dc, rec->foreColour);
    SetTextColor(dc, rec->backColour);
    ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &done, text, length, nullptr);
    // A part repainted shows no more than the picture that was there already.
    if (EqualRect(&updated, &frame)) {
        rec->painted = 1;
        rec->paintedPosition = rec->position;
        rec->paintedAt = GetTickCount();
    }
}

void Gauge_Repaint(GaugeRecord* rec) {
    InvalidateRect(rec->hwnd, nullptr, FALSE);
    UpdateWindow(rec->hwnd);
}

// Paints what waited for its frame, or a change that need not wait.
void Gauge_ShowNow(GaugeRecord* rec) {
    if (rec->frameWaiting) KillTimer(rec->hwnd, kFrameTimer);
    rec->frameWaiting = 0;
    Gauge_Repaint(rec);
}

// A copy steps the gauge once a block, hundreds of times a second, most steps
// within one pixel and one percent: a step paints only when the picture
// changes, and only once a frame. A change within a frame of the last paint
// shows when the frame is due (the frame timer), the full bar at once.
void Gauge_OnSetPos(GaugeRecord* rec, UINT32 position) {
    rec->position = position;
    int width, height;
    InnerRect(rec->hwnd, &width, &height);
    if (rec->painted && GaugeDrawsSame(width, rec->range, rec->paintedPosition, position)) return;
    DWORD since = GetTickCount() - rec->paintedAt;
    if (!rec->painted || since >= kGaugeFrameMs || position >= GaugeEffectiveRange(rec->range)) {
        Gauge_ShowNow(rec);
        return;
    }
    if (!rec->frameWaiting) SetTimer(rec->hwnd, kFrameTimer, kGaugeFrameMs - since, nullptr);
    rec->frameWaiting = 1;
}

LRESULT CALLBACK GaugeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    GaugeRecord* rec = RecordOf(hwnd);
    switch (msg) {
        case WM_CREATE: Gauge_OnCreate(hwnd); break;
        case WM_DESTROY:
            if (rec) Gauge_OnDestroy(rec);
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (rec && dc) Gauge_Paint(rec, dc, ps.rcPaint);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case GAUGE_SETRANGE:
            if (!rec) return 0;
            rec->range = (UINT32)lParam;
            Gauge_Repaint(rec);
            return 0;
        case WM_TIMER:
            if (rec) Gauge_ShowNow(rec);
            return 0;
        case GAUGE_GETRANGE: return rec ? rec->range : 0;
        case GAUGE_SETPOS:
            if (rec) Gauge_OnSetPos(rec, (UINT32)lParam);
            return 0;
        case GAUGE_GETPOS: return rec ? rec->position : 0;
        // The colours show at the next paint; until then the screen is behind.
        case GAUGE_SETFORECOLOR:
            if (!rec) return 0;
            rec->foreColour = (COLORREF)lParam;
            rec->painted = 0;
            return 0;
        case GAUGE_SETBACKCOLOR:
            if (!rec) return 0;
            rec->backColour = (COLORREF)lParam;
            rec->painted = 0;
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

UINT32 GaugeEffectiveRange(UINT32 range) {
    return range ? range : 1;
}

UINT32 GaugeEffectivePosition(UINT32 range, UINT32 position) {
    UINT32 effective = GaugeEffectiveRange(range);
    return position > effective ? effective : position;
}

// 64-bit products: a long track's frame count times the width must not wrap.
int GaugeFillWidth(int innerWidth, UINT32 range, UINT32 position) {
    UINT64 product = (UINT64)(UINT32)innerWidth * GaugeEffectivePosition(range, position);
    return LOWORD((UINT32)(product / GaugeEffectiveRange(range)));
}

int GaugePercent(UINT32 range, UINT32 position) {
    UINT64 product = (UINT64)GaugeEffectivePosition(range, position) * kPercent;
    return LOWORD((UINT32)(product / GaugeEffectiveRange(range)));
}

bool GaugeDrawsSame(int innerWidth, UINT32 range, UINT32 a, UINT32 b) {
    return GaugeFillWidth(innerWidth, range, a) == GaugeFillWidth(innerWidth, range, b) &&
           GaugePercent(range, a) == GaugePercent(range, b);
}

ATOM RegisterGaugeClass(HINSTANCE instance) {
    g_gaugeInstance = instance;
    if (g_gaugeAtom) return g_gaugeAtom;
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = GaugeProc;
    wc.cbWndExtra = sizeof(void*);
    wc.hInstance = g_gaugeInstance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = kGaugeClass;
    g_gaugeAtom = RegisterClassA(&wc);
    return g_gaugeAtom;
}
