// While alive, records every message box shown on the thread that created it
// (the user-interface thread, where the program shows its boxes) and closes
// each one before it appears, so a test never blocks on a modal box.
//
// The box is ended as soon as its text is set, before it is mapped: under
// Xvfb without a window manager, Wine waits 2 s for every dialog it maps.
// MessageBox then returns -1, not a button id.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace td_test {

// Whether `dialog` is a box from MessageBox rather than a dialog from the
// templates of `program` (which may use the same static id for its text).
bool IsMessageBox(HWND dialog, HINSTANCE program);
// The text of a message box, of any process.
std::string MessageBoxText(HWND box);

struct MessageBoxSeen {
    std::string text;
    std::string caption; // the platform's default ("Error" under Wine) when none was given
    HWND owner;
};

class MessageBoxWatcher {
  public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    const std::vector<MessageBoxSeen>& Seen() const { return seen_; }
    // Every box seen, for failure messages.
    std::string Texts() const;

  private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND dialog);

    HHOOK hook_;
    MessageBoxWatcher* outer_;
    std::vector<MessageBoxSeen> seen_;
};

} // namespace td_test
