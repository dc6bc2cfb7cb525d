#include "support/message_boxes.h"

#include "support/test_env.h"

namespace td_test {

namespace {

constexpr char kDialogClass[] = "#32770";
// A message box's text sits in the static with this id.
constexpr int kMessageTextId = 0xFFFF;

thread_local MessageBoxWatcher* t_watcher = nullptr;

} // namespace

bool IsMessageBox(HWND dialog, HINSTANCE program) {
    char cls[sizeof kDialogClass + 1] = {};
    GetClassNameA(dialog, cls, sizeof cls);
    if (lstrcmpA(cls, kDialogClass) != 0 || !GetDlgItem(dialog, kMessageTextId)) return false;
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)) != program;
}

std::string MessageBoxText(HWND box) {
    return WindowText(GetDlgItem(box, kMessageTextId));
}

MessageBoxWatcher::MessageBoxWatcher()
    : hook_(SetWindowsHookExA(WH_CALLWNDPROCRET, HookProc, nullptr, GetCurrentThreadId())),
      outer_(t_watcher) {
    t_watcher = this;
}

MessageBoxWatcher::~MessageBoxWatcher() {
    if (hook_) UnhookWindowsHookEx(hook_);
    t_watcher = outer_;
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
    if (!IsMessageBox(dialog, GetModuleHandleA(nullptr))) return;
    seen_.push_back({MessageBoxText(dialog), WindowText(dialog), GetWindow(dialog, GW_OWNER)});
    // Ending gives the owner back its input; destroying keeps the box from being mapped.
    EndDialog(dialog, IDOK);
    DestroyWindow(dialog);
}

} // namespace td_test
