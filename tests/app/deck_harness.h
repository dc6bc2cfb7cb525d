// Drives the real tunedeck.exe as a user would: starts it with the virtual
// drive of the test, clicks and drags with real X pointer events (xdotool on
// the test display), and reads what the deck shows straight off the screen,
// comparing it with the skin's own cells. Also reads what a running program
// holds, from outside it.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace deck_test {

using td_test::Bytes;

// The deck's outer top-left corner on the screen; deck pixel (x, y) is screen
// (10 + x, 10 + y).
constexpr int kDeckScreenX = 10;
constexpr int kDeckScreenY = 10;

// Dispatches this thread's messages until `done()` or the time-out; returns done().
template <class Pred>
bool WaitUntil(Pred done, DWORD timeoutMs = 10000) {
    return td_test::PumpUntil(done, timeoutMs);
}

// What a program holds: its GDI objects, counted in the handle table that
// Wine keeps inside each process (GetGuiResources answers 0 under Wine), its
// windows and its memory.
struct ProcessCounters {
    int gdiObjects = -1;     // live entries of the GDI handle table, -1 unreadable
    int windows = 0;         // windows, with their descendants
    SIZE_T privateBytes = 0; // committed private memory (Wine reports no PrivateUsage)
};
// What a window of another process answers WM_GETTEXT (an edit control, a
// tooltip keep their text to themselves); empty when it does not within 2 s.
std::string SentText(HWND hwnd);

// `process` opened with PROCESS_QUERY_INFORMATION and PROCESS_VM_READ.
ProcessCounters ReadCounters(HANDLE process, DWORD processId);
std::string Describe(const ProcessCounters& c);

class DeckProcess {
  public:
    // `scale`: the skin's scale the deck is expected at (its DPI's); the
    // actions and readings below still speak deck pixels.
    explicit DeckProcess(int scale = 1) : scale_(scale) {}
    ~DeckProcess(); // ends the program if it still runs
    DeckProcess(const DeckProcess&) = delete;
    DeckProcess& operator=(const DeckProcess&) = delete;

    // Starts tunedeck.exe from beside the test program and waits until its
    // deck is on screen with the buttons and the status display painted.
    bool Start(DWORD timeoutMs = 15000);
    HWND Deck() const { return deck_; }
    ProcessCounters Counters() const { return ReadCounters(process_.hProcess, ProcessId()); }
    DWORD ProcessId() const { return process_.dwProcessId; }
    bool Running() const;
    // Whether the deck's thread takes a message within `timeoutMs` (it is not stuck).
    bool Answers(DWORD timeoutMs = 2000) const;
    // Presses the power button and waits for the program to end; its exit code then.
    bool Quit(DWORD* exitCode);

    // Pointer actions at deck pixels; each waits until a double-click is out of reach.
    bool Click(int deckX, int deckY, int clicks = 1);
    bool ClickButton(int id, int clicks = 1);
    bool Drag(int deckX, int deckY, int toDeckX, int toDeckY);
    // Presses on a volume slider and moves the pointer to its client row `row`.
    bool DragSlider(int sliderId, int row);
    // Types keys, in xdotool's names ("space", "shift+Left", "XF86AudioPlay"),
    // into the focused X window, and waits for the deck to take them.
    bool Keys(const std::string& keys);
    // Rests the pointer on the middle of a button, or on a deck pixel.
    bool Hover(int id);
    bool HoverAt(int deckX, int deckY);
    // The program's tooltip while one shows, or null.
    HWND Tooltip() const;

    // The deck's pixels as on screen, row by row, 300 x 80 times the scale.
    std::vector<COLORREF> Shot() const;
    // Button faces, one character per button 0-12: '+' normal, '-' disabled,
    // '*' pressed, '?' neither.
    std::string Faces() const;
    ::testing::AssertionResult WaitForFaces(const char* faces, DWORD timeoutMs = 10000) const;
    ::testing::AssertionResult WaitForAnyFaces(std::initializer_list<const char*> faces,
                                               DWORD timeoutMs = 10000) const;
    // Whether the screen shows, from deck pixel (x, y) on, the w x h cell at
    // (cellX, cellY) of a skin bitmap.
    bool ShowsSkin(int deckX, int deckY, const char* bitmap, int cellX, int cellY, int width,
                   int height) const;

    // The status display read off the screen: the track line ('?' for a cell
    // that is no character), the big digits ("03-" and "04:20"), the state
    // icon (its cell, -1 unknown) and the lit mode (0-2, -1 none, -2 unknown).
    std::string TrackLine() const;
    std::string TrackNumber() const;
    std::string Time() const;
    int StateIcon() const;
    int LitMode() const;
    // The slider's thumb top row in its client area, -100 when not found.
    int SliderThumbTop(int sliderId) const;

    // The program's visible dialog whose title starts with `title`, or null.
    HWND Dialog(const std::string& title) const;
    // Its open-file dialog titled `title` takes `path` (UTF-8) as if typed and
    // confirmed; an empty path presses Cancel.
    bool ChooseFile(const std::string& title, const std::string& path);
    bool CancelFile(const std::string& title) { return ChooseFile(title, std::string()); }
    // The name that dialog proposes; "(no dialog)" when none comes.
    std::string ProposedName(const std::string& title);
    struct Box {
        std::string caption, text;
    };
    bool BoxShown() const { return MessageBoxShown() != nullptr; }
    // Waits for a message box of the program, closes it and returns what it said.
    bool TakeMessageBox(Box* box, DWORD timeoutMs = 10000);

  private:
    // Empty once the deck is up; otherwise what went wrong.
    std::string StartOnce(DWORD timeoutMs);
    void End(); // ends the program if it still runs, and forgets it
    HWND MessageBoxShown() const;
    std::vector<HWND> Dialogs() const; // the program's visible #32770 windows
    // Runs xdotool with `format`'s arguments, in screen pixels.
    bool Pointer(const char* format, ...);
    int scale_;
    DWORD lastPointer_ = 0;
    PROCESS_INFORMATION process_ = {};
    HANDLE job_ = nullptr; // ends the program with the test, even if the test crashes
    HWND deck_ = nullptr;
};

} // namespace deck_test
