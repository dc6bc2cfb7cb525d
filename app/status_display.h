// The status display, class "cd_status": the black panel in the middle of the
// deck that shows, drawn from the skin's liquid-crystal strips, the track line
// (track count, the current track's start and length), the track number, the
// time into the track, a transport icon and the play-mode indicators. It
// refreshes itself once a second from the CD player.
#pragma once
#include <windows.h>

#include <cstddef>

constexpr char kStatusClass[] = "cd_status"; // the title until a track is known
constexpr int kTrackNameSize = 256;
constexpr int kStatusX = 76;
constexpr int kStatusY = 8;
constexpr int kStatusWidth = 191;
constexpr int kStatusHeight = 37;
constexpr int kStatusId = 101; // shared with the right slider; nothing looks children up by id

// Cells of "ID_CUR_MODE".
enum StateIcon : int {
    kIconPlay = 0,
    kIconPause = 1,
    kIconStop = 2,
    kIconBlank = 4,
};
constexpr int kNoModeShown = 3; // lights no indicator

// Glyph placement, in the display's client coordinates.
constexpr int kLineX = 5, kLineY = 3;
constexpr int kMapCellWidth = 8, kMapCellHeight = 10;
constexpr int kNumberCellWidth = 14, kNumberCellHeight = 21;
constexpr int kNumberColon = 10, kNumberDash = 11;
constexpr int kTrackNumberX = 22, kTimeX = 67, kDigitsY = 16;
constexpr int kDigitPitch = kNumberCellWidth + 1;
constexpr int kIconX = 5, kIconY = 19;
constexpr int kIconWidth = 11, kIconHeight = 13;
constexpr int kModeX = 148;
constexpr int kModeIndicators = 3; // sequential, random, repeat
constexpr int kModeY[kModeIndicators] = {1, 13, 25};
constexpr int kModeWidth = 41, kModeHeight = 11;
constexpr int kModeUnlit = 3; // the unlit cell of mode m is m + 3
constexpr int kTrackNumberCells = 3;
constexpr int kTimeCells = 5;

// Registers the class (once per process) and creates the display on the deck;
// null if either fails, and then nothing is ever drawn.
HWND CreateStatusDisplay(HWND deck, HINSTANCE instance);

// Lights the indicator of `mode` (0-2; 3 none) on `display`, which may be null.
void ShowPlayMode(HWND display, int mode);

// Copies cell `cell` (w x h, cells side by side) of a skin strip to (x, y) of a window.
void DrawGlyphStrip(HWND hwnd, int x, int y, int cellWidth, int cellHeight, int cell,
                    const char* name);
// Draws text from the character map at (x, y), 8 pixels a character; a
// character outside 32-126 leaves its place empty.
void DrawMapText(HWND hwnd, int x, int y, const char* text);

// The pure parts of the drawing.
// "[%2d] %02d:%02d  %02d:%02d": the track count, the track's start and its length.
int FormatTrackLine(char* out, size_t size, int trackCount, DWORD trackStart, DWORD trackFrames);
// Whole seconds from the track's start to the position, 0 before the start.
DWORD ElapsedSeconds(DWORD position, DWORD trackStart);
// The five "IDL_NUM" cells of mm:ss.
void TimeCells(DWORD seconds, int cells[kTimeCells]);
// The three "IDL_NUM" cells of the track number: tens, units, dash.
void TrackNumberCells(int track, int cells[kTrackNumberCells]);
// The "IDL_MODE" cell of indicator `indicator` (0-2) while `mode` is shown.
int ModeCell(int indicator, int mode);
// The cell of the character map that draws `c`, or -1 for none.
int MapCell(char c);
// What the display's window text and tooltip say of a track: "2. Title -
// Performer", each part only when known; the number alone without them.
void FormatTrackName(char* out, size_t size, int track, const char* title, const char* performer);
