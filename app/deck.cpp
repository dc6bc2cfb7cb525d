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

static_assert(kTransferBytes <= 0xFFFF, "the streamer's block size is 16 bits");
#if defined(__i386__)
static_assert(sizeof(DeckButton) == 40, "button rows: x, y, width, height, id and a 20-byte name");
#endif

void CreateButtons(DeckRecord* rec, HINSTANCE instance) {
    for (int i = 0; i < kButtonCount; i++) {
        const DeckButton& b = kDeckButtons[i];
        // Owner-drawn: the name is never painted, but screen readers read it.
        rec->buttons[i] =
            CreateWindowExA(0, kButtonClass, kButtonLabels[i].name, kButtonStyle, b.x - kDeckBorder,
                            b.y - kDeckBorder, b.width, b.height, rec->hwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance, nullptr);
    }
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
    CreateButtons(rec, rec->instance);
    rec->buttons[kLinkToggleId] =
        CreateCheckBoxControl(hwnd, kLinkToggleId, kLinkToggleX, kLinkToggleY);
    SetWindowTextA(rec->buttons[kLinkToggleId], kButtonLabels[kLinkToggleId].name);
    // Where another program holds a media key, the deck answers it only while it has the focus.
    for (UINT key : kMediaKeys) RegisterHotKey(hwnd, static_cast<int>(key), 0, key);
    ChooseOutputDevice(rec);
    SetTimer(hwnd, kTickTimer, kTickMs, nullptr);
    InstallCdAudioIOProc();
    Deck_OpenDisc(rec);
    return 0;
}

void Deck_OnDestroy(DeckRecord* rec) {
    for (UINT key : kMediaKeys) UnregisterHotKey(rec->hwnd, static_cast<int>(key));
    RemoveCdAudioIOProc();
    KillTimer(rec->hwnd, kTickTimer);
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
        DrawSkinBitmap(dc, kDeckFace, -kDeckBorder, -kDeckBorder, kDeckWidth, kDeckHeight, 0, 0, 0,
                       0);
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

void Deck_OnKeyDown(DeckRecord* rec, UINT key, LPARAM flags) {
    // Ctrl combinations are not the deck's (Alt ones come as system keys).
    if (GetKeyState(VK_CONTROL) < 0) return;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    bool repeated = (flags & kKeyWasDown) != 0;
    Deck_OnKeyAction(rec, KeyAction(key, shift, repeated));
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
        case WM_KEYDOWN: Deck_OnKeyDown(rec, static_cast<UINT>(wParam), lParam); return 0;
        case WM_HOTKEY:
            Deck_OnKeyAction(rec, KeyAction(static_cast<UINT>(wParam), false, false));
            return 0;
        case WM_APPCOMMAND: {
            int action = AppCommandAction(GET_APPCOMMAND_LPARAM(lParam));
            if (action == kKeyNone) break; // the volume keys stay the system's
            Deck_OnKeyAction(rec, action);
            return TRUE;
        }
        case WM_SETCURSOR:
            Deck_OnSetCursor(rec, reinterpret_cast<HWND>(wParam), HIWORD(lParam));
            break;
        case WM_TIMER: Deck_OnTick(rec); return 0;
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
