// Drives the real tunedeck.exe as a user would: starts it with the virtual
// drive of the test, clicks and drags with real X pointer events (xdotool on
// the test display), and reads what the deck shows straight off the screen,
// comparing it with the skin's own cells.
#pragma once
#include <windows.h>

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

// A rectangle of the screen, as the X server shows it.
struct ScreenGrab {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int screenX, int screenY) const {
        return pixels[size_t(screenY - y) * width + (screenX - x)];
    }
};
ScreenGrab GrabScreen(int x, int y, int width, int height);

// Pixel (x, y), from the top-left, of a skin bitmap as the resources hold it.
COLORREF SkinPixel(const char* name, int x, int y);
// Whether the screen shows the w x h cell at (cellX, cellY) of a skin bitmap at (screenX, screenY).
bool ShowsCell(const ScreenGrab& grab, int screenX, int screenY, const char* name, int cellX,
               int cellY, int width, int height);

// One run of the test pattern in captured audio: where it came from and where it lies.
struct PatternSpan {
    uint32_t lba;    // first frame
    uint32_t offset; // byte offset in that frame
    size_t bytes;    // length of the run
    size_t at;       // where in the capture it starts
    uint32_t EndLba() const { return lba + uint32_t((offset + bytes) / 2352); }
};
// Every run of the pattern in order: frames that follow on from the frames
// before them (even with silence between) belong to one run.
std::vector<PatternSpan> PatternSpans(const Bytes& played);

// The mean absolute sample of each channel of `played` divided by that of
// `original`, over the same number of bytes (the shorter of the two).
void ChannelLevels(const Bytes& played, const Bytes& original, double* left, double* right);

// Runs a Linux program of the test machine with a command line and waits until it has ended.
bool RunUnixCommand(const std::string& commandLine, DWORD timeoutMs = 10000);

class DeckProcess {
  public:
    DeckProcess() = default;
    ~DeckProcess(); // ends the program if it still runs
    DeckProcess(const DeckProcess&) = delete;
    DeckProcess& operator=(const DeckProcess&) = delete;

    // Starts tunedeck.exe from beside the test program and waits until its
    // deck is on screen with the buttons and the status display painted.
    bool Start(DWORD timeoutMs = 15000);
    HWND Deck() const { return deck_; }
    HANDLE Process() const { return process_.hProcess; }
    DWORD ProcessId() const { return process_.dwProcessId; }
    bool Running() const;
    // Whether the deck's thread takes a message within `timeoutMs` (it is not stuck).
    bool Answers(DWORD timeoutMs = 2000) const;
    // Waits for the process to end; its exit code then.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    // Presses the power button and waits for the program to end.
    bool Quit(DWORD timeoutMs = 10000, DWORD* exitCode = nullptr);

    // Pointer actions at deck pixels.
    bool Click(int deckX, int deckY);
    bool ClickButton(int id);
    bool DoubleClickButton(int id);
    bool Drag(int deckX, int deckY, int toDeckX, int toDeckY);
    // Presses on a volume slider and moves the pointer to its client row `row`.
    bool DragSlider(int sliderId, int row);

    // Button faces, one character per button 0-12: '+' normal, '-' disabled,
    // '*' pressed, '?' neither.
    std::string Faces() const;
    bool WaitForFaces(const std::string& faces, DWORD timeoutMs = 10000) const;

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

    // The dialogs of the program: its open-file dialog takes `path` as if typed
    // and confirmed; a message box is read and closed.
    bool ChooseFile(const std::string& title, const std::string& path, DWORD timeoutMs = 15000);
    // Closes the file dialog titled `title` with Cancel.
    bool CancelFile(const std::string& title, DWORD timeoutMs = 15000);
    // The visible file dialog titled `title`, or null.
    HWND FileDialogShown(const std::string& title) const;
    struct Box {
        std::string caption, text;
    };
    // Waits for a message box of the program, closes it and returns what it said.
    bool TakeMessageBox(Box* box, DWORD timeoutMs = 10000);
    std::vector<HWND> Dialogs() const; // the program's visible #32770 windows
    // A message box, as opposed to a dialog of the program's own templates
    // (the progress dialog has a static of the same id).
    bool IsMessageBox(HWND dialog) const;

  private:
    std::vector<HWND> TopLevelWindows() const;
    // Two clicks close together make a double-click; each action waits its turn.
    bool Pointer(const std::string& xdotoolArgs);
    DWORD lastPointer_ = 0;
    PROCESS_INFORMATION process_ = {};
    HANDLE job_ = nullptr; // ends the program with the test, even if the test crashes
    HWND deck_ = nullptr;
};

} // namespace deck_test
