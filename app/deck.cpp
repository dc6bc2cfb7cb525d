#include "app/deck.h"

#include "app/commands.h"
#include "app/keys.h"
#include "app/status_display.h"
#include "app/tooltips.h"
#include "app/volume.h"
#include "audio/cd_audio_ioproc.h"
#include "audio/wave_streamer.h"
#include "cd/cd_player.h"
#include "cd/disc_units.h"
#include "controls/gdi.h"
#include "controls/skin.h"
#include "controls/slider.h"
#include "controls/toggle.h"

#include <new>

CdPlayer g_cdPlayer;

namespace {

constexpr int kRecordSlot = 0;
constexpr int kButtonSize = 20;
constexpr int kButtonColumn = 0;
constexpr char kButtonClass[] = "button";
constexpr DWORD kButtonStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | BS_OWNERDRAW;
constexpr char kDeckFace[] = "IDCD_DECK";
constexpr char kPreferredCard[] = "Sonavel";
constexpr char kNoDeviceText[] = "Can't Play Wave";
constexpr char kNoDeviceCaption[] = "Wave Out Driver not found";
constexpr int kStreamerBufferCount = 4; // kept by the streamer, which always rings five
// The window has no caption, so a press on the face starts the system's move
// loop, told that the press was on a caption: with any other hit code Wine's
// loop follows the mouse without moving the window.
constexpr WPARAM kDragCommand = SC_MOVE | HTCAPTION;
constexpr LPARAM kKeyWasDown = 1 << 30; // WM_KEYDOWN's flag for an auto-repeat
constexpr UINT_PTR kHotKeyTimer = 2;    // runs while a hot key is held down
constexpr UINT kHotKeyPollMs = 30;
constexpr UINT kDpiChanged = 0x02E0; // WM_DPICHANGED, Windows 8.1 on
constexpr UINT kDefaultDpi = 96;
constexpr UINT kPlaceFlags = SWP_NOZORDER | SWP_NOACTIVATE;
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

static_assert(kTransferBytes <= 0xFFFF, "the streamer's block size is 16 bits");
#if defined(__i386__)
static_assert(sizeof(DeckButton) == 40, "button rows: x, y, width, height, id and a 20-byte name");
#endif

void CreateButtons(DeckRecord* rec, HINSTANCE instance) {
    for (int i = 0; i < kButtonCount; i++) {
        const DeckButton& b = kDeckButtons[i];
        RECT r =
            ScaledChildRect(b.x - kDeckBorder, b.y - kDeckBorder, b.width, b.height, SkinScale());
        // Owner-drawn: the name is never painted, but screen readers read it.
        rec->buttons[i] =
            CreateWindowExA(0, kButtonClass, kButtonLabels[i].name, kButtonStyle, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, rec->hwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance, nullptr);
    }
}

// Each monitor's own DPI from Windows 10 (1607) on; before, the one of the screen.
UINT WindowDpi(HWND hwnd) {
    auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) return getDpiForWindow(hwnd);
    WindowDC screen(nullptr);
    return screen ? static_cast<UINT>(GetDeviceCaps(screen.Get(), LOGPIXELSY)) : kDefaultDpi;
}

void PlaceChild(HWND child, int x, int y, int width, int height, int scale) {
    RECT r = ScaledChildRect(x, y, width, height, scale);
    SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, kPlaceFlags);
}

// Moved to another monitor's DPI: the deck, its face and every child at the
// new scale, at the place the system suggests.
void Deck_OnDpiChanged(DeckRecord* rec, UINT dpi, const RECT* suggested) {
    if (!suggested) return;
    const int s = SkinScaleForDpi(dpi);
    SetSkinScale(s);
    SetWindowPos(rec->hwnd, nullptr, suggested->left, suggested->top, kDeckWidth * s,
                 kDeckHeight * s, kPlaceFlags);
    for (int i = 0; i < kButtonCount; i++) {
        const DeckButton& b = kDeckButtons[i];
        PlaceChild(rec->buttons[i], b.x - kDeckBorder, b.y - kDeckBorder, b.width, b.height, s);
    }
    PlaceChild(rec->buttons[kLinkToggleId], kLinkToggleX, kLinkToggleY, kToggleSize, kToggleSize,
               s);
    PlaceChild(rec->status, kStatusX, kStatusY, kStatusWidth, kStatusHeight, s);
    RedrawWindow(rec->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // The sliders' backgrounds are the face under them, as it now paints.
    RECT left = ScaledChildRect(kLeftSliderX, kSliderY, kSliderWidth, kSliderHeight, s);
    RECT right = ScaledChildRect(kRightSliderX, kSliderY, kSliderWidth, kSliderHeight, s);
    if (rec->leftSlider) rec->leftSlider->Place(left.left, left.top);
    if (rec->rightSlider) rec->rightSlider->Place(right.left, right.top);
}

void ChooseOutputDevice(DeckRecord* rec) {
    if (waveOutGetNumDevs() == 0) {
        MessageBoxA(rec->hwnd, kNoDeviceText, kNoDeviceCaption, MB_ICONWARNING);
        return;
    }
    rec->streamer->SetDevice(
        ChooseWaveDevice(WaveStreamer::FindWaveDevice(kPreferredCard), waveOutGetNumDevs()));
}

LRESULT Deck_OnCreate(HWND hwnd, const CREATESTRUCTA* create) {
    auto* rec = new (std::nothrow) DeckRecord{};
    if (!rec) return -1;
    rec->hwnd = hwnd;
    rec->instance = create->hInstance;
    rec->requested = kWantStopped;
    rec->startAtCurrent = 1;
    rec->lastButtonState = kNoButtonState;
    rec->streamer = new (std::nothrow)
        WaveStreamer(hwnd, static_cast<WORD>(kTransferBytes), kStreamerBufferCount);
    if (!rec->streamer) {
        // Nothing could ever play; refusing the window ends the program.
        delete rec;
        return -1;
    }
    SetWindowLongPtrA(hwnd, kRecordSlot, reinterpret_cast<LONG_PTR>(rec));
    g_cdPlayer.SetStreamer(rec->streamer);
    WaveStreamer::CreateNotifyWindow(hwnd, rec->instance, rec->streamer);
    const int s = SkinScaleForDpi(WindowDpi(hwnd));
    SetSkinScale(s);
    SetWindowPos(hwnd, nullptr, 0, 0, kDeckWidth * s, kDeckHeight * s, kPlaceFlags | SWP_NOMOVE);
    CreateButtons(rec, rec->instance);
    RECT toggle = ScaledChildRect(kLinkToggleX, kLinkToggleY, kToggleSize, kToggleSize, s);
    rec->buttons[kLinkToggleId] =
        CreateCheckBoxControl(hwnd, kLinkToggleId, toggle.left, toggle.top);
    SetWindowTextA(rec->buttons[kLinkToggleId], kButtonLabels[kLinkToggleId].name);
    ChooseOutputDevice(rec);
    SetTimer(hwnd, kTickTimer, kTickMs, nullptr);
    InstallCdAudioIOProc();
    Deck_OpenDisc(rec);
    return 0;
}

void Deck_OnDestroy(DeckRecord* rec) {
    HoldMediaKeys(rec->hwnd, false, &rec->mediaKeysHeld);
    RemoveCdAudioIOProc();
    KillTimer(rec->hwnd, kTickTimer);
    KillTimer(rec->hwnd, kHotKeyTimer);
    // Stops whatever plays and closes the disc.
    g_cdPlayer.OpenDisc();
    PostQuitMessage(0);
    SetWindowLongPtrA(rec->hwnd, kRecordSlot, 0);
    delete rec; // the streamer stays: its device notices may still be on their way
}

void Deck_OnPaint(DeckRecord* rec) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(rec->hwnd, &ps);
    if (dc) {
        // The border covers the face's outer ring of device pixels, at any scale.
        SetViewportOrgEx(dc, -kDeckBorder, -kDeckBorder, nullptr);
        DrawSkinBitmap(dc, kDeckFace, 0, 0, kDeckWidth, kDeckHeight, 0, 0, 0, 0);
        SetViewportOrgEx(dc, 0, 0, nullptr);
        ShowPlayMode(rec->status, rec->playMode);
    }
    EndPaint(rec->hwnd, &ps);
}

void Deck_OnDrawItem(const DRAWITEMSTRUCT* item) {
    if (!item || item->CtlID >= static_cast<UINT>(kButtonCount)) return;
    const DeckButton& b = kDeckButtons[item->CtlID];
    DrawButtonFace(item, b.bitmap, kButtonColumn, b.width, b.height);
}

void Deck_OnLButtonDown(DeckRecord* rec) {
    SendMessageA(rec->hwnd, WM_SYSCOMMAND, kDragCommand, 0);
}

// False for a key the deck does not use: the system's volume, browser and
// launch keys come from DefWindowProc's handling of it.
bool Deck_OnKeyDown(DeckRecord* rec, UINT key, LPARAM flags) {
    UINT modifiers = (GetKeyState(VK_SHIFT) < 0 ? MOD_SHIFT : 0) |
                     (GetKeyState(VK_CONTROL) < 0 ? MOD_CONTROL : 0);
    int action = KeyAction(key, modifiers, (flags & kKeyWasDown) != 0);
    if (action == kKeyNone) return false;
    Deck_OnKeyAction(rec, action);
    return true;
}

// Where the system does not drop a held hot key's repeats (before Windows 7,
// and Wine), they come as more hot keys: the key acts once until it is seen
// released.
void Deck_OnHotKey(DeckRecord* rec, UINT key) {
    if (key == rec->hotKeyDown) return;
    rec->hotKeyDown = key;
    SetTimer(rec->hwnd, kHotKeyTimer, kHotKeyPollMs, nullptr);
    Deck_OnKeyAction(rec, KeyAction(key, 0, false));
}

void Deck_OnHotKeyPoll(DeckRecord* rec) {
    if (GetAsyncKeyState(static_cast<int>(rec->hotKeyDown)) < 0) return;
    rec->hotKeyDown = 0;
    KillTimer(rec->hwnd, kHotKeyTimer);
}

// The media keys are the deck's only while it has something to play: held
// otherwise, they would do nothing anywhere.
void Deck_OnTimer(DeckRecord* rec, UINT_PTR timer) {
    if (timer == kHotKeyTimer) {
        Deck_OnHotKeyPoll(rec);
        return;
    }
    Deck_OnTick(rec);
    HoldMediaKeys(rec->hwnd, rec->discReady || rec->requested == kWantWaveFile,
                  &rec->mediaKeysHeld);
}

// Every control gets its tooltip the first time the pointer moves over the deck.
void Deck_OnSetCursor(DeckRecord* rec, HWND under, UINT mouseMessage) {
    if (rec->tipsMade || mouseMessage != WM_MOUSEMOVE) return;
    rec->tipsMade = 1;
    HWND tips = CreateTooltips(rec->hwnd); // goes with the deck, its owner
    for (int i = 0; i <= kLinkToggleId; i++)
        AddTooltip(tips, rec->hwnd, rec->buttons[i], kButtonLabels[i].name, kButtonLabels[i].key);
    AddTooltip(tips, rec->hwnd, rec->leftSliderWnd, kLeftSliderLabel.name, kLeftSliderLabel.key);
    AddTooltip(tips, rec->hwnd, rec->rightSliderWnd, kRightSliderLabel.name, kRightSliderLabel.key);
    AddWindowTextTooltip(tips, rec->status);
    RelayPointer(tips, under);
}

// The keyboard stays with the deck after a click, whichever button took it.
void KeepFocus(HWND deck) {
    if (IsWindow(deck) && IsChild(deck, GetFocus())) SetFocus(deck);
}

LRESULT CALLBACK DeckProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) return Deck_OnCreate(hwnd, reinterpret_cast<CREATESTRUCTA*>(lParam));
    auto* rec = reinterpret_cast<DeckRecord*>(GetWindowLongPtrA(hwnd, kRecordSlot));
    if (!rec) return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (msg) {
        case WM_DESTROY: Deck_OnDestroy(rec); return 0;
        case WM_PAINT: Deck_OnPaint(rec); return 0;
        case WM_DRAWITEM: Deck_OnDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)); return 0;
        case WM_LBUTTONDOWN: Deck_OnLButtonDown(rec); return 0;
        case WM_COMMAND:
            Deck_OnCommand(rec, LOWORD(wParam), HIWORD(wParam)); // may end the deck
            KeepFocus(hwnd);
            return 0;
        case WM_KEYDOWN:
            if (Deck_OnKeyDown(rec, static_cast<UINT>(wParam), lParam)) return 0;
            break;
        case WM_HOTKEY: Deck_OnHotKey(rec, static_cast<UINT>(wParam)); return 0;
        case WM_APPCOMMAND: {
            int action = AppCommandAction(GET_APPCOMMAND_LPARAM(lParam));
            if (action == kKeyNone) break; // the volume keys stay the system's
            Deck_OnKeyAction(rec, action);
            return TRUE;
        }
        case WM_SETCURSOR:
            Deck_OnSetCursor(rec, reinterpret_cast<HWND>(wParam), HIWORD(lParam));
            break;
        case WM_TIMER: Deck_OnTimer(rec, wParam); return 0;
        case kDpiChanged:
            Deck_OnDpiChanged(rec, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case kWaveEndMessage: Deck_OnPlaybackEnd(rec); return 0;
        case SCROLL_NOTIFY_TRACK:
            Volume_OnSliderTrack(rec, static_cast<int>(wParam), LOWORD(lParam), HIWORD(lParam));
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

const DeckButton kDeckButtons[kButtonCount] = {
    {52, 7, kButtonSize, kButtonSize, kCmdPlayWave, "IDB_PLIST"},
    {76, 53, kButtonSize, kButtonSize, kCmdPlay, "IDB_PLAY"},
    {97, 53, kButtonSize, kButtonSize, kCmdPause, "IDB_PAUSE"},
    {118, 53, kButtonSize, kButtonSize, kCmdStop, "IDB_STOP"},
    {142, 53, kButtonSize, kButtonSize, kCmdPreviousTrack, "IDB_LTSKIP"},
    {163, 53, kButtonSize, kButtonSize, kCmdBack30, "IDB_LSKIP"},
    {184, 53, kButtonSize, kButtonSize, kCmdForward30, "IDB_RSKIP"},
    {205, 53, kButtonSize, kButtonSize, kCmdNextTrack, "IDB_RTSKIP"},
    {226, 53, kButtonSize, kButtonSize, kCmdEject, "IDB_EJECT"},
    {250, 53, kButtonSize, kButtonSize, kCmdPlayMode, "IDB_PMODE"},
    {274, 53, kButtonSize, kButtonSize, kCmdSaveTrack, "IDWAV_REC"},
    {274, 28, kButtonSize, kButtonSize, kCmdMinimise, "IDB_ICON"},
    {274, 7, kButtonSize, kButtonSize, kCmdExit, "IDB_POWER"},
};

const ControlLabel kButtonLabels[kButtonCount + 1] = {
    {"Play a wave file", "O"},
    {"Play", "Space"},
    {"Pause", "Space"},
    {"Stop", "S"},
    {"Previous track", "Left"},
    {"30 seconds back", "Shift+Left"},
    {"30 seconds forward", "Shift+Right"},
    {"Next track", "Right"},
    {"Eject", "E"},
    {"Play mode", "M"},
    {"Save track", "R"},
    {"Minimise", "Esc"},
    {"Power", nullptr},
    {"Link volumes", nullptr},
};

RECT ScaledChildRect(int x, int y, int width, int height, int scale) {
    RECT r;
    r.left = (x + kDeckBorder) * scale - kDeckBorder;
    r.top = (y + kDeckBorder) * scale - kDeckBorder;
    r.right = r.left + width * scale;
    r.bottom = r.top + height * scale;
    return r;
}

UINT ChooseWaveDevice(int match, UINT deviceCount) {
    if (match <= 1) return 0;
    // The device after a match from index 2 on, as the card's drivers list it;
    // the match itself when it is the last device, rather than one that is not there.
    UINT after = static_cast<UINT>(match) + 1;
    return after < deviceCount ? after : static_cast<UINT>(match);
}

DeckRecord* DeckOf(HWND deck) {
    if (!deck) return nullptr;
    char name[sizeof kDeckClass + 1];
    if (!GetClassNameA(deck, name, sizeof name) || lstrcmpA(name, kDeckClass) != 0) return nullptr;
    return reinterpret_cast<DeckRecord*>(GetWindowLongPtrA(deck, kRecordSlot));
}

ATOM RegisterDeckClass(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.style = kDeckClassStyle;
    wc.lpfnWndProc = DeckProc;
    wc.cbWndExtra = sizeof(DeckRecord*);
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kDeckClass;
    return RegisterClassA(&wc);
}

HWND CreateDeck(HINSTANCE instance) {
    return CreateWindowExA(0, kDeckClass, kDeckClass, kDeckStyle, kDeckX, kDeckY, kDeckWidth,
                           kDeckHeight, nullptr, nullptr, instance, nullptr);
}
