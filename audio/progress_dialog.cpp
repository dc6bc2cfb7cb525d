#include "audio/progress_dialog.h"

#include "controls/gauge.h"

namespace {

constexpr COLORREF kDoneColour = RGB(255, 0, 0);
constexpr COLORREF kRestColour = RGB(0, 0, 255);

HWND g_dialog;
// Looked up once: finding a dialog item asks the window server, every step.
HWND g_gauge;
HWND g_cancel;
bool g_quitting; // WM_QUIT came through a step: the copy must end

} // namespace

HWND ProgressOpen(HWND owner, const char* templateName, const char* title, DWORD range) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    g_dialog = CreateDialogParamA(instance, templateName, owner, ProgressDlgProc, 0);
    if (!g_dialog) return nullptr;
    g_gauge = GetDlgItem(g_dialog, kGaugeDialogGaugeId);
    g_cancel = GetDlgItem(g_dialog, IDCANCEL);
    g_quitting = false;
    SetWindowTextA(g_dialog, title);
    SendMessageA(g_gauge, GAUGE_SETRANGE, 0, static_cast<LPARAM>(range));
    SendMessageA(g_gauge, GAUGE_SETPOS, 0, 0);
    SendMessageA(g_gauge, GAUGE_SETFORECOLOR, 0, kDoneColour);
    SendMessageA(g_gauge, GAUGE_SETBACKCOLOR, 0, kRestColour);
    ShowWindow(g_dialog, SW_SHOW);
    UpdateWindow(g_dialog);
    return g_dialog;
}

int ProgressStep(DWORD position) {
    SendMessageA(g_gauge, GAUGE_SETPOS, 0, static_cast<LPARAM>(position));
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The deck is gone: stop copying and leave the quit for the main loop.
            g_quitting = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
        } else {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return g_quitting || !IsWindowEnabled(g_cancel) ? 1 : 0;
}

void ProgressClose() {
    DestroyWindow(g_dialog);
    g_dialog = g_gauge = g_cancel = nullptr;
}

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (LOWORD(message)) {
        case WM_SHOWWINDOW: EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE); break;
        // Any command cancels; the disabled button is what the copy loop asks about.
        case WM_COMMAND: EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE); break;
    }
    return FALSE;
}
