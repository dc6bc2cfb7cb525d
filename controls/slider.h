// The vertical volume slider, class "vscroll_control": a thumb over a track
// drawn from the skin, painted off-screen over a snapshot of its parent. While
// dragged it only proposes positions to its parent, which sets them back.
#pragma once
#include <windows.h>

// To the parent while dragged: wParam the control id; lParam low word the
// slider's window handle cut to 16 bits, high word the proposed position.
constexpr UINT SCROLL_NOTIFY_TRACK = 1031;
// To the slider.
constexpr UINT SCROLL_SETMIN = 1035;  // wParam: minimum; no repaint
constexpr UINT SCROLL_SETMAX = 1036;  // wParam: maximum; no repaint
constexpr UINT SCROLL_SETPOS = 1037;  // wParam: position; repaints at once
constexpr UINT SCROLL_GETPOS = 1038;  // result: the position's low word
constexpr UINT SCROLL_SETNAME = 1039; // lParam: a string, cut to fit the name

constexpr char kSliderClass[] = "vscroll_control";
constexpr int kSliderWidth = 17;
constexpr int kSliderHeight = 66;
constexpr int kSliderTravel = 47; // rows the thumb's top moves over
constexpr int kSliderThumbLeft = 2;
constexpr int kSliderNameSize = 20;

// Clamps value into [low, high]; the low bound is applied first.
void ClampInt(int low, int high, int& value);

// The thumb's top row for a position: minimum at 47, maximum at 1, never 0.
int SliderThumbTop(DWORD minimum, DWORD maximum, DWORD position);

// The position a pointer at client row y proposes: the top row gives the maximum.
WORD SliderPositionAt(DWORD minimum, DWORD maximum, int pointerY);

class VScrollControl {
  public:
    // Registers the class for the module if it is not yet; a failure leaves
    // the instance null and Create then makes nothing.
    explicit VScrollControl(HINSTANCE module);
    virtual ~VScrollControl();
    VScrollControl(const VScrollControl&) = delete;
    VScrollControl& operator=(const VScrollControl&) = delete;

    // Creates the window at client (x, y) of the parent and composes its
    // background from the parent's pixels under it and the track.
    HWND Create(HWND parent, int id, int x, int y);
    // Moves the slider to client (x, y) at the skin's scale, as the parent
    // now paints, and takes its background anew.
    void Place(int x, int y);

    INT32 minimum = 0;
    INT32 maximum = 0;
    INT32 position = 0;
    HBITMAP background = nullptr; // owned: parent snapshot with the track over it
    char name[kSliderNameSize] = {};
    VScrollControl* self = nullptr; // what the window keeps in its first slot
    INT32 dragging = 0;
    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;
};
