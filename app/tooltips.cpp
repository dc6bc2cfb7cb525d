#include "app/tooltips.h"

#include <commctrl.h>

namespace {

constexpr char kCommonControls[] = "comctl32.dll";
constexpr int kTipChars = 64;
constexpr char kTipWithKey[] = "%s (%s)";
using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

bool LoadCommonControls() {
    HMODULE module = LoadLibraryA(kCommonControls);
    if (!module) return false;
    auto init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES}; // the tooltip's
    return init && init(&classes);
}

} // namespace

HWND CreateTooltips(HWND owner) {
    if (!LoadCommonControls()) return nullptr;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    // Shown whether or not the deck is the active window, as its face is always there.
    return CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                           nullptr, instance, nullptr);
}

void AddTooltip(HWND tips, HWND owner, HWND control, const char* name, const char* key) {
    if (!tips || !control) return;
    char text[kTipChars];
    if (key)
        wsprintfA(text, kTipWithKey, name, key);
    else
        lstrcpynA(text, name, kTipChars);
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = owner;
    tool.lpszText = text; // the tooltip keeps a copy
    // The control itself, while it takes the mouse...
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    // ...and its place on the owner, which the mouse reaches while the control is disabled.
    tool.uFlags = TTF_SUBCLASS;
    tool.uId = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    GetWindowRect(control, &tool.rect);
    MapWindowPoints(nullptr, owner, reinterpret_cast<POINT*>(&tool.rect), 2);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void AddWindowTextTooltip(HWND tips, HWND control) {
    if (!tips || !control) return;
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = control; // which the tooltip asks for the text
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = LPSTR_TEXTCALLBACKA;
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void RelayPointer(HWND tips, HWND control) {
    if (!tips || !control) return;
    MSG move = {};
    GetCursorPos(&move.pt);
    POINT at = move.pt;
    ScreenToClient(control, &at);
    move.hwnd = control;
    move.message = WM_MOUSEMOVE;
    move.lParam = MAKELPARAM(at.x, at.y);
    move.time = GetMessageTime();
    SendMessageA(tips, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&move));
}
