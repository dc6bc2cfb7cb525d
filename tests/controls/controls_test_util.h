// What the control tests share: a host window on the display, pixel grabs,
// and the expected colours read straight from the skin resources.
#pragma once
#include <windows.h>
#include <utility>
#include <vector>

#include "support/skin_pixels.h"

namespace controls_test {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kKey = RGB(0, 0, 0xFF); // the slider track's see-through blue
constexpr COLORREF kPaper = RGB(0x40, 0x80, 0x20);

using td_test::SkinPixel;

// Every client pixel of a window, row by row.
struct Grab {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
Grab GrabClient(HWND hwnd);

// How many pixels of the w x h area at (x, y) differ from the skin bitmap
// `name` from (sx, sy) on.
int Mismatches(const Grab& g, int x, int y, const char* name, int sx, int sy, int w, int h);

// A top-level test window that shows kPaper, or the deck at (-1, -1) the way
// the program paints it. It keeps the slider proposals its children send it.
class Host {
  public:
    Host(int clientWidth, int clientHeight, bool deck = false);
    ~Host() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }
    // The pixel the host itself shows at a client point.
    COLORREF Backdrop(int x, int y) const;

    bool deck;
    std::vector<std::pair<WPARAM, LPARAM>> proposals; // control id, handle and position
    // Answers each proposal by setting it on the sender, through the 16-bit
    // handle the notice carries.
    bool echoTrack = false;

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};

// Pumps until the window has painted everything pending.
void Settle(HWND hwnd);

inline LPARAM At(int x, int y) {
    return MAKELPARAM((WORD)x, (WORD)y);
}

} // namespace controls_test
