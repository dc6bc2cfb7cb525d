// The two-state toggle, class "MakeCheckBox": a skinned face with a lamp that
// lights while the toggle is on. A press flips it at once; leaving the button
// with the mouse held takes the flip back. The parent reads the state.
#pragma once
#include <windows.h>

constexpr UINT CHECK_SETSTATE = 1125;    // wParam: new state; draws it
constexpr UINT CHECK_GETSTATE = 1126;    // result: the state's low word
constexpr UINT CHECK_SETNAME = 1127;     // lParam: a string, cut to fit the name
constexpr UINT CHECK_SETTRACKING = 1128; // wParam: the tracking flag

constexpr char kToggleClass[] = "MakeCheckBox";
constexpr int kToggleSize = 19;
constexpr int kToggleNameSize = 16;

struct CheckBoxRecord {
    INT32 state; // 0 off, anything else on
    INT32 tracking;
    char name[kToggleNameSize];
    HWND hwnd;
};

// Registers the class in the skin module if needed and creates a 19x19 toggle,
// off, at client (x, y) of the parent. Null if either fails.
HWND CreateCheckBoxControl(HWND parent, int id, int x, int y);

// 0 becomes 1, anything else 0.
INT32 ToggleFlip(INT32 state);

// Whether a mouse position (as in a mouse message's lParam, unsigned words)
// lies on the button; the right and bottom edges count as on it.
bool TogglePointerOn(const RECT& client, LPARAM position);
