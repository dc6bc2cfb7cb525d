// The progress gauge, class "Gauge": a horizontal bar with its percentage
// written across it, the text in each part taking the other part's colour.
#pragma once
#include <windows.h>

// Values travel in lParam; wParam is ignored.
constexpr UINT GAUGE_SETRANGE = WM_USER; // repaints at once
constexpr UINT GAUGE_GETRANGE = WM_USER + 1;
// Repaints at once when the picture changes, at most once a frame; the full bar at once.
constexpr UINT GAUGE_SETPOS = WM_USER + 2;
constexpr UINT GAUGE_GETPOS = WM_USER + 3;
constexpr UINT GAUGE_SETFORECOLOR = WM_USER + 4; // the done part; takes effect at the next paint
constexpr UINT GAUGE_SETBACKCOLOR = WM_USER + 5; // the rest

constexpr char kGaugeClass[] = "Gauge";

struct GaugeRecord {
    UINT32 range;
    UINT32 position;
    HFONT font;
    COLORREF foreColour;
    COLORREF backColour;
    HWND hwnd;
    // What the screen shows: a position that draws the same needs no repaint.
    int painted; // the screen shows paintedPosition in the current range and colours
    UINT32 paintedPosition;
    DWORD paintedAt;  // tick count
    int frameWaiting; // the frame timer runs for a change not painted yet
};

// The shortest time between two repaints for new positions: a copy steps the
// gauge far more often than a screen shows frames.
constexpr DWORD kGaugeFrameMs = 40;

// Registers "Gauge" once; later calls return the atom of the first.
ATOM RegisterGaugeClass(HINSTANCE instance);

// Painting arithmetic: a range of 0 counts as 1, a position beyond the range as full.
UINT32 GaugeEffectiveRange(UINT32 range);
UINT32 GaugeEffectivePosition(UINT32 range, UINT32 position);
int GaugeFillWidth(int innerWidth, UINT32 range, UINT32 position);
int GaugePercent(UINT32 range, UINT32 position);
// Whether two positions draw the same bar and percentage.
bool GaugeDrawsSame(int innerWidth, UINT32 range, UINT32 a, UINT32 b);
