#include "controls/slider.h"

#include "controls/gdi.h"
#include "controls/skin.h"

#include <windowsx.h>

namespace {

constexpr char kTrackBitmap[] = "ID_MIX_BACK";
constexpr char kThumbBitmap[] = "ID_MIX_CUR";
constexpr COLORREF kKeyColour = RGB(0, 0, 0xFF); // track pixels the deck shows through
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
constexpr int kRecordSlot = 0;
constexpr int kExtraBytes = 2 * sizeof(void*);

VScrollControl* RecordOf(HWND hwnd) {
    return reinterpret_cast<VScrollControl*>(GetWindowLongPtrA(hwnd, kRecordSlot));
}

// Copies width x height from src to dst except where the source shows the key
// colour, which is dst's background colour on entry. The mask is 1 over the key.
bool TransparentCopy(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY) {
    COLORREF key = GetBkColor(dst);
    COLORREF dstText = GetTextColor(dst);
    COLORREF srcBack = GetBkColor(src);
    MemoryDC maskDC(src);
    if (!maskDC) return false;
    GdiObject<HBITMAP> mask(CreateBitmap(width, height, 1, 1, nullptr));
    if (!mask) return false;
    {
        SelectedObject selected(maskDC.Get(), mask.Get());
        SetTextColor(dst, kBlack);
        SetBkColor(src, key);
        BitBlt(maskDC.Get(), 0, 0, width, height, src, srcX, srcY, SRCCOPY);
        SetBkColor(dst, kWhite);
        BitBlt(dst, x, y, width, height, src, srcX, srcY, SRCINVERT);
        BitBlt(dst, x, y, width, height, maskDC.Get(), 0, 0, SRCAND);
        BitBlt(dst, x, y, width, height, src, srcX, srcY, SRCINVERT);
    }
    SetBkColor(src, srcBack);
    SetBkColor(dst, key);
    SetTextColor(dst, dstText);
    return true;
}

// A new bitmap holding the parent's pixels under the slider.
HBITMAP SnapshotParent(HWND hwnd) {
    HWND parent = GetParent(hwnd);
    RECT client;
    GetClientRect(hwnd, &client);
    int width = client.right - client.left, height = client.bottom - client.top;
    WindowDC parentDC(parent);
    if (!parentDC) return nullptr;
    MemoryDC mem(parentDC.Get());
    GdiObject<HBITMAP> snapshot(CreateCompatibleBitmap(parentDC.Get(), width, height));
    if (!mem || !snapshot) return nullptr;
    POINT origin = {client.left, client.top};
    ClientToScreen(hwnd, &origin);
    ScreenToClient(parent, &origin);
    {
        SelectedObject selected(mem.Get(), snapshot.Get());
        BitBlt(mem.Get(), 0, 0, width, height, parentDC.Get(), origin.x, origin.y, SRCCOPY);
    }
    return snapshot.Release();
}

// Draws the track over the snapshot, leaving the snapshot where the track is key blue.
void ComposeTrack(VScrollControl* rec) {
    WindowDC dc(rec->hwnd);
    if (!dc || !rec->background) return;
    MemoryDC work(dc.Get());
    if (!work) return;
    SelectedObject background(work.Get(), rec->background);
    GdiObject<HBITMAP> track(LoadBitmapA(rec->instance, kTrackBitmap));
    if (!track) return;
    BITMAP info = {};
    GetObjectA(track.Get(), sizeof info, &info);
    // The track at the skin's scale, every pixel a block as DrawPackedDib draws them.
    const int s = SkinScale();
    const int width = info.bmWidth * s, height = info.bmHeight * s;
    GdiObject<HBITMAP> scaled(CreateCompatibleBitmap(dc.Get(), width, height));
    MemoryDC source(work.Get());
    MemoryDC scaledDC(work.Get());
    if (!scaled || !source || !scaledDC) return;
    SelectedObject selected(source.Get(), track.Get());
    SelectedObject selectedScaled(scaledDC.Get(), scaled.Get());
    SetStretchBltMode(scaledDC.Get(), COLORONCOLOR);
    StretchBlt(scaledDC.Get(), 0, 0, width, height, source.Get(), 0, 0, info.bmWidth, info.bmHeight,
               SRCCOPY);
    RECT client;
    GetClientRect(rec->hwnd, &client);
    int x = (client.right - client.left - width) / 2 + client.left;
    int y = (client.bottom - client.top - height) / 2 + client.top;
    SetBkColor(work.Get(), kKeyColour);
    TransparentCopy(work.Get(), x, y, width, height, scaledDC.Get(), 0, 0);
}

void TakeBackground(VScrollControl* rec) {
    if (rec->background) DeleteObject(rec->background);
    rec->background = SnapshotParent(rec->hwnd);
    ComposeTrack(rec);
}

// Background and thumb are composed off-screen and copied in one go, so
// nothing flickers; this always draws through a context of its own.
void Slider_Paint(VScrollControl* rec) {
    WindowDC dc(rec->hwnd);
    if (!dc) return;
    RECT client;
    GetClientRect(rec->hwnd, &client);
    int width = client.right - client.left, height = client.bottom - client.top;
    MemoryDC mem(dc.Get());
    GdiObject<HBITMAP> canvas(CreateCompatibleBitmap(dc.Get(), width, height));
    if (!mem || !canvas) return;
    SelectedObject selected(mem.Get(), canvas.Get());
    if (rec->background) {
        MemoryDC backgroundDC(dc.Get());
        SelectedObject background(backgroundDC.Get(), rec->background);
        if (backgroundDC) BitBlt(mem.Get(), 0, 0, width, height, backgroundDC.Get(), 0, 0, SRCCOPY);
    }
    int top = SliderThumbTop((DWORD)rec->minimum, (DWORD)rec->maximum, (DWORD)rec->position);
    DrawSkinBitmap(mem.Get(), kThumbBitmap, kSliderThumbLeft, top, 0, 0, 0, 0, 0, 0);
    BitBlt(dc.Get(), client.left, client.top, width, height, mem.Get(), 0, 0, SRCCOPY);
}

void Slider_OnLButtonDown(VScrollControl* rec) {
    if (rec->dragging) return;
    SetCapture(rec->hwnd);
    rec->dragging = 1;
}

void Slider_OnMouseMove(VScrollControl* rec, int y) {
    if (!rec->dragging) return;
    WORD proposed = SliderPositionAt((DWORD)rec->minimum, (DWORD)rec->maximum, y / SkinScale());
    WORD handle16 = LOWORD(reinterpret_cast<UINT_PTR>(rec->hwnd));
    SendMessageA(GetParent(rec->hwnd), SCROLL_NOTIFY_TRACK,
                 (WPARAM)GetWindowLongPtrA(rec->hwnd, GWLP_ID), MAKELPARAM(handle16, proposed));
}

void Slider_OnLButtonUp(VScrollControl* rec) {
    if (!rec->dragging) return;
    rec->dragging = 0;
    ReleaseCapture();
}

// Losing the capture to someone else ends the drag; a slider left dragging
// would steer the volume from every later hover.
void Slider_OnCaptureChanged(VScrollControl* rec) {
    rec->dragging = 0;
}

void Slider_OnSetMin(VScrollControl* rec, INT32 minimum) {
    rec->minimum = minimum;
    if ((UINT)LOWORD(rec->position) < (UINT)minimum) rec->position = minimum;
}

void Slider_OnSetMax(VScrollControl* rec, INT32 maximum) {
    rec->maximum = maximum;
    if ((UINT)LOWORD(rec->position) > (UINT)maximum) rec->position = maximum;
}

void Slider_OnSetName(VScrollControl* rec, const char* text) {
    if (text) lstrcpynA(rec->name, text, kSliderNameSize);
}

void Slider_OnDestroy(VScrollControl* rec) {
    if (rec->background) DeleteObject(rec->background);
    rec->background = nullptr;
    rec->dragging = 0;
    rec->hwnd = nullptr;
}

LRESULT CALLBACK SliderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        // The creation parameter is the record; keep it at once so no message misses it.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* rec = static_cast<VScrollControl*>(create->lpCreateParams);
        SetWindowLongPtrA(hwnd, kRecordSlot, reinterpret_cast<LONG_PTR>(rec));
        if (rec) rec->hwnd = hwnd;
        return 0;
    }
    VScrollControl* rec = RecordOf(hwnd);
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            if (rec) Slider_Paint(rec);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND: return 1;
        case WM_SHOWWINDOW: return 0;
        case WM_DESTROY:
            if (rec) {
                Slider_OnDestroy(rec);
                SetWindowLongPtrA(hwnd, kRecordSlot, 0);
            }
            return 0;
    }
    if (!rec) return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (msg) {
        case WM_LBUTTONDOWN: Slider_OnLButtonDown(rec); return 0;
        case WM_MOUSEMOVE: Slider_OnMouseMove(rec, GET_Y_LPARAM(lParam)); return 0;
        case WM_LBUTTONUP: Slider_OnLButtonUp(rec); return 0;
        case WM_CAPTURECHANGED:
            if ((HWND)lParam != hwnd) Slider_OnCaptureChanged(rec);
            return 0;
        case SCROLL_SETMIN: Slider_OnSetMin(rec, (INT32)wParam); return 0;
        case SCROLL_SETMAX: Slider_OnSetMax(rec, (INT32)wParam); return 0;
        case SCROLL_SETPOS:
            rec->position = (INT32)wParam;
            Slider_Paint(rec);
            return 0;
        case SCROLL_GETPOS: return LOWORD(rec->position);
        case SCROLL_SETNAME: Slider_OnSetName(rec, reinterpret_cast<const char*>(lParam)); return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

void ClampInt(int low, int high, int& value) {
    if (value < low) value = low;
    if (value > high) value = high;
}

int SliderThumbTop(DWORD minimum, DWORD maximum, DWORD position) {
    INT32 mn = LOWORD(minimum), mx = LOWORD(maximum), p = LOWORD(position);
    INT32 v = mn == mx ? kSliderTravel : p * kSliderTravel / (mx - mn);
    INT32 top = kSliderTravel - v;
    return top == 0 ? 1 : top;
}

WORD SliderPositionAt(DWORD minimum, DWORD maximum, int pointerY) {
    DWORD mn = LOWORD(minimum), mx = LOWORD(maximum);
    ClampInt(0, kSliderTravel, pointerY);
    // Unsigned on purpose: a reversed range wraps as the original arithmetic did.
    return (WORD)(mx - (DWORD)pointerY * (mx - mn) / kSliderTravel);
}

VScrollControl::VScrollControl(HINSTANCE module) : instance(module) {
    WNDCLASSA existing;
    if (GetClassInfoA(module, kSliderClass, &existing)) return;
    WNDCLASSA wc = {};
    wc.style = CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = SliderProc;
    wc.cbWndExtra = kExtraBytes;
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kSliderClass;
    if (!RegisterClassA(&wc)) instance = nullptr;
}

VScrollControl::~VScrollControl() {
    if (instance) UnregisterClassA(kSliderClass, instance);
}

HWND VScrollControl::Create(HWND parent, int id, int x, int y) {
    if (!instance) return nullptr;
    VScrollControl* record = self ? self : this;
    // The background is taken from the parent's pixels: a parent still waiting
    // for its first paint would give garbage. Painting it after the slider
    // exists would paint the slider too, so it is done first.
    UpdateWindow(parent);
    const int s = SkinScale();
    HWND created = CreateWindowExA(
        0, kSliderClass, nullptr, WS_CHILD | WS_VISIBLE, x, y, kSliderWidth * s, kSliderHeight * s,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, record);
    if (!created) return nullptr;
    SetWindowLongPtrA(created, kRecordSlot, reinterpret_cast<LONG_PTR>(record));
    record->hwnd = created;
    record->dragging = 0;
    TakeBackground(record);
    ShowWindow(created, SW_SHOW);
    UpdateWindow(created);
    return created;
}

void VScrollControl::Place(int x, int y) {
    if (!hwnd) return;
    // Hidden, so that the snapshot shows the parent repainted without it.
    const int s = SkinScale();
    ShowWindow(hwnd, SW_HIDE);
    SetWindowPos(hwnd, nullptr, x, y, kSliderWidth * s, kSliderHeight * s,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateWindow(GetParent(hwnd));
    TakeBackground(this);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
}
