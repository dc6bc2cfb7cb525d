#include "controls/toggle.h"

#include "controls/gdi.h"
#include "controls/skin.h"

#include <cstddef>

namespace {

constexpr char kFaceBitmap[] = "ID_LOCK_OFF";
constexpr char kLampBitmap[] = "ID_LOCK_ON";
constexpr int kLampOffset = 6;
constexpr int kLampSize = 7;
constexpr int kRecordSlot = 0;
constexpr char kInitialName[] = "aa";

#if defined(__i386__)
static_assert(offsetof(CheckBoxRecord, name) == 8 && offsetof(CheckBoxRecord, hwnd) == 24,
              "toggle record fields in their documented order");
#endif

CheckBoxRecord* RecordOf(HWND hwnd) {
    return reinterpret_cast<CheckBoxRecord*>(GetWindowLongPtrA(hwnd, kRecordSlot));
}

// On: the lamp alone, over whatever is there. Off: the whole face.
void DrawLook(HDC dc, INT32 state) {
    if (state)
        DrawSkinBitmap(dc, kLampBitmap, kLampOffset, kLampOffset, kLampSize, kLampSize, 0, 0, 0, 0);
    else
        DrawSkinBitmap(dc, kFaceBitmap, 0, 0, kToggleSize, kToggleSize, 0, 0, 0, 0);
}

void DrawWholeLook(HDC dc, INT32 state) {
    if (state) DrawLook(dc, 0);
    DrawLook(dc, state);
}

void Toggle_OnCreate(HWND hwnd) {
    auto* rec = static_cast<CheckBoxRecord*>(LocalAlloc(LPTR, sizeof(CheckBoxRecord)));
    if (!rec) return;
    rec->hwnd = hwnd;
    SetWindowLongPtrA(hwnd, kRecordSlot, reinterpret_cast<LONG_PTR>(rec));
}

void Toggle_OnDestroy(CheckBoxRecord* rec) {
    SetWindowLongPtrA(rec->hwnd, kRecordSlot, 0);
    LocalFree(rec);
}

void Toggle_OnPaint(CheckBoxRecord* rec) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(rec->hwnd, &ps);
    if (dc) DrawWholeLook(dc, rec->state);
    EndPaint(rec->hwnd, &ps);
}

void Toggle_OnSetState(CheckBoxRecord* rec, INT32 state) {
    rec->state = state;
    WindowDC dc(rec->hwnd);
    if (dc) DrawLook(dc.Get(), state);
}

void Toggle_OnSetName(CheckBoxRecord* rec, const char* text) {
    if (text) lstrcpynA(rec->name, text, kToggleNameSize);
}

void Toggle_OnLButtonDown(CheckBoxRecord* rec) {
    if (rec->tracking) return;
    WindowDC dc(rec->hwnd);
    SetCapture(rec->hwnd);
    rec->tracking = 1;
    rec->state = ToggleFlip(rec->state);
    if (dc) DrawLook(dc.Get(), rec->state);
}

// Leaving the button takes the press back; the look follows at the release.
void Toggle_OnMouseMove(CheckBoxRecord* rec, LPARAM position) {
    if (!rec->tracking) return;
    RECT client;
    GetClientRect(rec->hwnd, &client);
    if (TogglePointerOn(client, position)) return;
    rec->tracking = 0;
    rec->state = ToggleFlip(rec->state);
}

// After a gesture that left the button the face alone would hide an "on"
// state, so the whole look of the state is drawn then.
void Toggle_OnLButtonUp(CheckBoxRecord* rec) {
    WindowDC dc(rec->hwnd);
    if (dc) {
        if (rec->tracking)
            DrawLook(dc.Get(), rec->state);
        else
            DrawWholeLook(dc.Get(), rec->state);
    }
    rec->tracking = 0;
    ReleaseCapture();
}

// The capture taken away mid-press ends the gesture as a release would.
void Toggle_OnCaptureChanged(CheckBoxRecord* rec) {
    if (!rec->tracking) return;
    rec->tracking = 0;
    WindowDC dc(rec->hwnd);
    if (dc) DrawWholeLook(dc.Get(), rec->state);
}

LRESULT CALLBACK ToggleProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        Toggle_OnCreate(hwnd);
        return 0;
    }
    CheckBoxRecord* rec = RecordOf(hwnd);
    if (!rec) {
        switch (msg) {
            case CHECK_SETSTATE:
            case CHECK_GETSTATE:
            case CHECK_SETNAME:
            case CHECK_SETTRACKING:
            case WM_LBUTTONDOWN:
            case WM_MOUSEMOVE:
            case WM_LBUTTONUP:
            case WM_DESTROY: return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    switch (msg) {
        case WM_PAINT: Toggle_OnPaint(rec); return 0;
        case WM_LBUTTONDOWN: Toggle_OnLButtonDown(rec); return 0;
        case WM_MOUSEMOVE: Toggle_OnMouseMove(rec, lParam); return 0;
        case WM_LBUTTONUP: Toggle_OnLButtonUp(rec); return 0;
        case WM_CAPTURECHANGED:
            if ((HWND)lParam != hwnd) Toggle_OnCaptureChanged(rec);
            return 0;
        case WM_DESTROY: Toggle_OnDestroy(rec); return 0;
        case CHECK_SETSTATE: Toggle_OnSetState(rec, (INT32)wParam); return 0;
        case CHECK_GETSTATE: return LOWORD(rec->state);
        case CHECK_SETNAME: Toggle_OnSetName(rec, reinterpret_cast<const char*>(lParam)); return 0;
        case CHECK_SETTRACKING: rec->tracking = (INT32)wParam; return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

INT32 ToggleFlip(INT32 state) {
    return state == 0 ? 1 : 0;
}

bool TogglePointerOn(const RECT& client, LPARAM position) {
    LONG x = LOWORD(position), y = HIWORD(position);
    return client.left <= x && x <= client.right && client.top <= y && y <= client.bottom;
}

HWND CreateCheckBoxControl(HWND parent, int id, int x, int y) {
    HINSTANCE module = SkinModule();
    WNDCLASSA existing;
    if (!GetClassInfoA(module, kToggleClass, &existing)) {
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = ToggleProc;
        wc.cbWndExtra = sizeof(void*);
        wc.hInstance = module;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        wc.lpszClassName = kToggleClass;
        if (!RegisterClassA(&wc)) return nullptr;
    }
    const int size = kToggleSize * SkinScale();
    HWND hwnd =
        CreateWindowExA(0, kToggleClass, nullptr, WS_CHILD | WS_VISIBLE, x, y, size, size, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
    if (!hwnd) return nullptr;
    SendMessageA(hwnd, CHECK_SETSTATE, 0, 0);
    SendMessageA(hwnd, CHECK_SETNAME, 0, reinterpret_cast<LPARAM>(kInitialName));
    return hwnd;
}
