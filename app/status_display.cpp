#include "app/status_display.h"

#include "app/deck.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gdi.h"
#include "controls/skin.h"

#include <commctrl.h>

#include <new>

namespace {

constexpr int kRecordSlot = 0;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 1000;
constexpr char kNumberStrip[] = "IDL_NUM";
constexpr char kIconStrip[] = "ID_CUR_MODE";
constexpr char kModeStrip[] = "IDL_MODE";
constexpr char kCharacterMap[] = "IDL_MAP";
constexpr char kTrackLineFormat[] = "[%2d] %02d:%02d  %02d:%02d";
constexpr int kTextFieldSize = 128;
constexpr int kTrackLineChars = 64;                // the format's five numbers at their widest fit
constexpr char kTextFieldBlank[] = "            "; // twelve places, 96 pixels
constexpr char kPathSeparator = '\\';
constexpr int kFirstMapChar = 32;
constexpr int kLastMapChar = 126;
constexpr int kMapColumns = 20;
constexpr int kSecondsPerMinute = 60;
constexpr int kDecimal = 10;
constexpr char kTrackNumberFormat[] = "%d";
constexpr char kTitleFormat[] = ". %s";
constexpr char kPerformerFormat[] = " - %s";

static_assert(2 * kCdTextChars + 16 <= kTrackNameSize, "a number and two texts fit a name");

struct StatusRecord {
    HWND hwnd;
    int stateIcon;
    int shownMode;
    DWORD position;   // at the last track-line refresh
    DWORD trackStart; // of the track holding the position, 0 when none does
    DWORD elapsed;    // seconds into the track at the last refresh while playing or paused
    int namedTrack;   // the track and disc the window text names
    int namedDisc;
    char tip[kTrackNameSize];
};

StatusRecord* RecordOf(HWND hwnd) {
    return hwnd ? reinterpret_cast<StatusRecord*>(GetWindowLongPtrA(hwnd, kRecordSlot)) : nullptr;
}

void DrawNumberCell(HWND hwnd, int x, int cell) {
    DrawGlyphStrip(hwnd, x, kDigitsY, kNumberCellWidth, kNumberCellHeight, cell, kNumberStrip);
}

void DrawTime(HWND hwnd, DWORD seconds) {
    int cells[kTimeCells];
    TimeCells(seconds, cells);
    for (int i = 0; i < kTimeCells; i++) DrawNumberCell(hwnd, kTimeX + i * kDigitPitch, cells[i]);
}

void DrawTrackNumber(HWND hwnd, int track) {
    int cells[kTrackNumberCells];
    TrackNumberCells(track, cells);
    for (int i = 0; i < kTrackNumberCells; i++)
        DrawNumberCell(hwnd, kTrackNumberX + i * kDigitPitch, cells[i]);
}

void DrawStateIcon(StatusRecord* rec) {
    DrawGlyphStrip(rec->hwnd, kIconX, kIconY, kIconWidth, kIconHeight, rec->stateIcon, kIconStrip);
}

void DrawModeIndicators(HWND hwnd, int mode) {
    for (int i = 0; i < kModeIndicators; i++)
        DrawGlyphStrip(hwnd, kModeX, kModeY[i], kModeWidth, kModeHeight, ModeCell(i, mode),
                       kModeStrip);
}

// Blanks the field's first twelve places, then draws the text's last path part.
void DrawTextField(HWND hwnd, int x, int y, const char* text) {
    const char* tail = text;
    for (const char* p = text; *p; p++)
        if (*p == kPathSeparator) tail = p + 1;
    char field[kTextFieldSize];
    lstrcpynA(field, tail, kTextFieldSize);
    DrawMapText(hwnd, x, y, kTextFieldBlank);
    DrawMapText(hwnd, x, y, field);
}

// The window text, which screen readers read and the tooltip shows, follows
// the current track: set only when the track or the disc changes.
void NameTrack(StatusRecord* rec, int track) {
    if (track == 0 || (track == rec->namedTrack && g_cdPlayer.DiscSerial() == rec->namedDisc))
        return;
    rec->namedTrack = track;
    rec->namedDisc = g_cdPlayer.DiscSerial();
    char name[kTrackNameSize];
    FormatTrackName(name, sizeof name, track, g_cdPlayer.Title(track),
                    g_cdPlayer.TrackPerformer(track));
    SetWindowTextA(rec->hwnd, name);
}

// Reads the play position, which also moves the player's current track along.
void RefreshTrackLine(StatusRecord* rec) {
    int trackCount = g_cdPlayer.TrackCount();
    rec->position = g_cdPlayer.GetPosition();
    int track = g_cdPlayer.SetCurrentTrackFromAddress(rec->position);
    rec->trackStart = 0;
    DWORD trackFrames = 0;
    if (track != 0) {
        rec->trackStart = g_cdPlayer.TrackStart(track);
        trackFrames = g_cdPlayer.TrackLength(track);
    }
    char line[kTextFieldSize];
    FormatTrackLine(line, sizeof line, trackCount, rec->trackStart, trackFrames);
    DrawTextField(rec->hwnd, kLineX, kLineY, line);
    DrawTrackNumber(rec->hwnd, track);
    NameTrack(rec, track);
}

int StoredPlayerState(StatusRecord* rec) {
    const DeckRecord* deck = DeckOf(GetParent(rec->hwnd));
    return deck ? deck->playerState : 0;
}

void Status_OnTimer(StatusRecord* rec) {
    int state = StoredPlayerState(rec);
    switch (state) {
        case MCI_MODE_NOT_READY:
        case MCI_MODE_STOP:
            rec->stateIcon = kIconStop;
            RefreshTrackLine(rec);
            DrawTime(rec->hwnd, 0);
            break;
        case MCI_MODE_PLAY:
        case MCI_MODE_PAUSE:
            rec->stateIcon = state == MCI_MODE_PLAY ? kIconPlay : kIconPause;
            RefreshTrackLine(rec);
            rec->elapsed = ElapsedSeconds(rec->position, rec->trackStart);
            DrawTime(rec->hwnd, rec->elapsed);
            break;
        default:
            // Tray open or no disc: the rest keeps what it showed.
            rec->stateIcon = kIconStop;
            break;
    }
    DrawStateIcon(rec);
}

void Status_OnPaint(StatusRecord* rec) {
    // Everything draws through window DCs of its own; painting only validates.
    PAINTSTRUCT ps;
    BeginPaint(rec->hwnd, &ps);
    DrawStateIcon(rec);
    RefreshTrackLine(rec);
    DrawTime(rec->hwnd, rec->elapsed);
    DrawModeIndicators(rec->hwnd, rec->shownMode);
    EndPaint(rec->hwnd, &ps);
}

LRESULT Status_OnCreate(HWND hwnd) {
    auto* rec = new (std::nothrow) StatusRecord{};
    if (!rec) return -1;
    rec->hwnd = hwnd;
    rec->stateIcon = kIconBlank;
    rec->shownMode = kNoModeShown;
    SetWindowLongPtrA(hwnd, kRecordSlot, reinterpret_cast<LONG_PTR>(rec));
    SetTimer(hwnd, kRefreshTimer, kRefreshMs, nullptr);
    return 0;
}

LRESULT Status_OnNotify(StatusRecord* rec, NMHDR* header) {
    if (header->code != TTN_GETDISPINFOA) return 0;
    GetWindowTextA(rec->hwnd, rec->tip, kTrackNameSize);
    reinterpret_cast<NMTTDISPINFOA*>(header)->lpszText = rec->tip;
    return 0;
}

void Status_OnDestroy(StatusRecord* rec) {
    KillTimer(rec->hwnd, kRefreshTimer);
    SetWindowLongPtrA(rec->hwnd, kRecordSlot, 0);
    delete rec;
}

LRESULT CALLBACK StatusProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) return Status_OnCreate(hwnd);
    StatusRecord* rec = RecordOf(hwnd);
    if (rec) {
        switch (msg) {
            case WM_PAINT: Status_OnPaint(rec); return 0;
            case WM_TIMER: Status_OnTimer(rec); return 0;
            case WM_NOTIFY: return Status_OnNotify(rec, reinterpret_cast<NMHDR*>(lParam));
            case WM_DESTROY: Status_OnDestroy(rec); break;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

HWND CreateStatusDisplay(HWND deck, HINSTANCE instance) {
    WNDCLASSA wc = {};
    if (!GetClassInfoA(instance, kStatusClass, &wc)) {
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = StatusProc;
        wc.cbWndExtra = sizeof(StatusRecord*);
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = kStatusClass;
        if (!RegisterClassA(&wc)) return nullptr;
    }
    RECT r = ScaledChildRect(kStatusX, kStatusY, kStatusWidth, kStatusHeight, SkinScale());
    return CreateWindowExA(0, kStatusClass, kStatusClass, WS_CHILD | WS_VISIBLE, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, deck,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance,
                           nullptr);
}

void ShowPlayMode(HWND display, int mode) {
    StatusRecord* rec = RecordOf(display);
    if (!rec) return;
    rec->shownMode = mode;
    DrawModeIndicators(display, mode);
}

void DrawGlyphStrip(HWND hwnd, int x, int y, int cellWidth, int cellHeight, int cell,
                    const char* name) {
    WindowDC dc(hwnd);
    if (!dc) return;
    LockedResource strip(SkinModule(), name, RT_BITMAP);
    if (!strip) return;
    DrawPackedDib(strip.Handle(), dc.Get(), x, y, cellWidth, cellHeight, cell * cellWidth, 0,
                  cellWidth, cellHeight);
}

void DrawMapText(HWND hwnd, int x, int y, const char* text) {
    WindowDC dc(hwnd);
    if (!dc) return;
    LockedResource map(SkinModule(), kCharacterMap, RT_BITMAP);
    if (!map) return;
    for (int i = 0; text[i]; i++) {
        int cell = MapCell(text[i]);
        if (cell < 0) continue;
        DrawPackedDib(map.Handle(), dc.Get(), x + i * kMapCellWidth, y, kMapCellWidth,
                      kMapCellHeight, cell % kMapColumns * kMapCellWidth,
                      cell / kMapColumns * kMapCellHeight, kMapCellWidth, kMapCellHeight);
    }
}

int FormatTrackLine(char* out, size_t size, int trackCount, DWORD trackStart, DWORD trackFrames) {
    DWORD start = trackStart / kFramesPerSecond;
    DWORD length = trackFrames / kFramesPerSecond;
    char line[kTrackLineChars];
    int chars = wsprintfA(
        line, kTrackLineFormat, trackCount, static_cast<int>(start / kSecondsPerMinute),
        static_cast<int>(start % kSecondsPerMinute), static_cast<int>(length / kSecondsPerMinute),
        static_cast<int>(length % kSecondsPerMinute));
    if (size > 0) lstrcpynA(out, line, static_cast<int>(size));
    return chars;
}

DWORD ElapsedSeconds(DWORD position, DWORD trackStart) {
    return position > trackStart ? (position - trackStart) / kFramesPerSecond : 0;
}

void TimeCells(DWORD seconds, int cells[kTimeCells]) {
    DWORD minutes = seconds / kSecondsPerMinute;
    DWORD rest = seconds % kSecondsPerMinute;
    cells[0] = static_cast<int>(minutes / kDecimal);
    cells[1] = static_cast<int>(minutes % kDecimal);
    cells[2] = kNumberColon;
    cells[3] = static_cast<int>(rest / kDecimal);
    cells[4] = static_cast<int>(rest % kDecimal);
}

void TrackNumberCells(int track, int cells[kTrackNumberCells]) {
    cells[0] = track / kDecimal;
    cells[1] = track % kDecimal;
    cells[2] = kNumberDash;
}

int ModeCell(int indicator, int mode) {
    return indicator == mode ? indicator : indicator + kModeUnlit;
}

void FormatTrackName(char* out, size_t size, int track, const char* title, const char* performer) {
    char name[kTrackNameSize];
    int n = wsprintfA(name, kTrackNumberFormat, track);
    // wsprintf stops at 1024 characters; each text is far shorter.
    if (title[0]) n += wsprintfA(name + n, kTitleFormat, title);
    if (performer[0]) wsprintfA(name + n, kPerformerFormat, performer);
    if (size > 0) lstrcpynA(out, name, static_cast<int>(size));
}

int MapCell(char c) {
    int code = static_cast<unsigned char>(c);
    return code >= kFirstMapChar && code <= kLastMapChar ? code - kFirstMapChar : -1;
}
