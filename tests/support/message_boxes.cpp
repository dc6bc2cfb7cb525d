#include "support/message_boxes.h"

namespace td_test {

namespace {

constexpr char kDialogClass[] = "#32770";
// A message box's text sits in the static with this id.
constexpr int kMessageTextId = 0xFFFF;

thread_local MessageBoxWatcher* t_watcher = nullptr;

std::string WindowText(HWND hwnd) {
    std::string text(GetWindowTextLengthA(hwnd) + 1, '\0');
    text.resize(GetWindowTextA(hwnd, &text[0], (int)text.size()));
    return text;
}

// A box from MessageBox, not a dialog of the program's own templates (those
// carry the program's instance and may use the same static id).
bool IsMessageBox(HWND hwnd) {
    char cls[sizeof kDialogClass + 1] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpA(cls, kDialogClass) != 0 || !GetDlgItem(hwnd, kMessageTextId)) return false;
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd, GWLP_HINSTANCE)) !=
           GetModuleHandleA(nullptr);
}

} // namespace

MessageBoxWatcher::MessageBoxWatcher()
    : hook_(SetWindowsHookExA(WH_CALLWNDPROCRET, HookProc, nullptr, GetCurrentThreadId())),
      outer_(t_watcher) {
    t_watcher = this;
}

MessageBoxWatcher::~MessageBoxWatcher() {
    if (hook_) UnhookWindowsHookEx(hook_);
    t_watcher = outer_;
}

size_t MessageBoxWatcher::Count(const std::string& text) const {
    size_t n = 0;
    for (const MessageBoxSeen& box : seen_) n += box.text == text;
    return n;
}

std::string MessageBoxWatcher::Texts() const {
    std::string all;
    for (const MessageBoxSeen& box : seen_) all += "[" + box.caption + ": " + box.text + "] ";
    return all.empty() ? "(no message box)" : all;
}

LRESULT CALLBACK MessageBoxWatcher::HookProc(int code, WPARAM wParam, LPARAM lParam) {
    MessageBoxWatcher* watcher = t_watcher;
    const CWPRETSTRUCT* ret = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && watcher && ret->message == WM_INITDIALOG)
        watcher->OnInitDialog(ret->hwnd);
    return CallNextHookEx(watcher ? watcher->hook_ : nullptr, code, wParam, lParam);
}

void MessageBoxWatcher::OnInitDialog(HWND dialog) {
    if (!IsMessageBox(dialog)) return;
    seen_.push_back({WindowText(GetDlgItem(dialog, kMessageTextId)), WindowText(dialog),
                     GetWindow(dialog, GW_OWNER)});
    // Ending gives the owner back its input; destroying keeps the box from being mapped.
    EndDialog(dialog, IDOK);
    DestroyWindow(dialog);
}

} // namespace td_test
