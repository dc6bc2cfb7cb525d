// What the control tests share: a host window on the display, pixel grabs,
// and the expected colours read straight from the skin resources.
#pragma once
#include <windows.h>
#include <vector>

namespace controls_test {

// The colour of pixel (x, y), counted from the top-left, of a skin bitmap as
// its resource holds it; CLR_INVALID when the bitmap or pixel does not exist.
COLORREF SkinPixel(const char* name, int x, int y);

// The packed DIB header of a skin bitmap and the resource's size in bytes.
const BITMAPINFOHEADER* SkinHeader(const char* name, DWORD* size = nullptr);

// Every client pixel of a window, row by row.
struct Grab {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
Grab GrabClient(HWND hwnd);

// A top-level test window whose client area is filled with one colour, or
// painted with the deck at (-1, -1) the way the program paints it. It keeps
// what its children send it.
class Host {
  public:
    enum class Face { Solid, Deck };
    Host(int clientWidth, int clientHeight, Face face = Face::Solid,
         COLORREF solid = RGB(0x40, 0x80, 0x20));
    ~Host();
    HWND hwnd() const { return hwnd_; }
    // Changes what the host paints; the change shows at its next paint.
    void SetFace(Face face) {
        face_ = face;
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
    // The pixel the host itself shows at a client point.
    COLORREF Backdrop(int x, int y) const;

    struct Notice {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Notice> notices;
    // Answers each slider proposal by setting it on the sender, through the
    // 16-bit handle the notice carries.
    bool echoTrack = false;
    // Draws owner-drawn button faces from this bitmap.
    const char* buttonBitmap = nullptr;

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
    Face face_;
    COLORREF solid_;
};

// Pumps until the window has painted everything pending.
void Settle(HWND hwnd);

} // namespace controls_test
