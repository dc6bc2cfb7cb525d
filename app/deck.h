// The deck: the program's one top-level window, a 300x80 skinned popup without
// caption or menu. It holds the thirteen bitmap buttons, the volume-link
// toggle, the two volume sliders and the status display, and its record holds
// everything the shell knows about the player.
#pragma once
#include <windows.h>

class CdPlayer;
class VScrollControl;
class WaveStreamer;

// The one CD player, built before WinMain runs and destroyed at exit.
extern CdPlayer g_cdPlayer;

constexpr char kDeckClass[] = "Velmora Tunedeck 1.5"; // the title too
constexpr DWORD kDeckStyle = WS_POPUP | WS_VISIBLE | WS_BORDER | WS_MINIMIZEBOX;
constexpr UINT kDeckClassStyle = CS_BYTEALIGNWINDOW | CS_HREDRAW | CS_VREDRAW;
constexpr int kDeckX = 10;
constexpr int kDeckY = 10;
constexpr int kDeckWidth = 300;
constexpr int kDeckHeight = 80;
// Deck pixel (x, y) is client point (x - 1, y - 1): the border covers the outer ring.
constexpr int kDeckBorder = 1;

// Control ids: buttons 0-12 are their row in the button table.
enum DeckCommand : int {
    kCmdPlayWave = 0,
    kCmdPlay = 1,
    kCmdPause = 2,
    kCmdStop = 3,
    kCmdPreviousTrack = 4,
    kCmdBack30 = 5,
    kCmdForward30 = 6,
    kCmdNextTrack = 7,
    kCmdEject = 8,
    kCmdPlayMode = 9,
    kCmdSaveTrack = 10,
    kCmdMinimise = 11,
    kCmdExit = 12,
};
constexpr int kButtonCount = 13;
constexpr int kTransportButtonCount = 11; // 0-10 follow the player; minimise and exit never change
constexpr int kLinkToggleId = 13;
constexpr int kLinkToggleX = 49;
constexpr int kLinkToggleY = 33;
constexpr int kLeftSliderId = 100;
constexpr int kRightSliderId = 101;
constexpr int kLeftSliderX = 7;
constexpr int kRightSliderX = 28;
constexpr int kSliderY = 6;

constexpr int kButtonNameSize = 20;
struct DeckButton {
    int x, y; // deck pixels
    int width, height;
    INT32 id;
    char bitmap[kButtonNameSize];
};
extern const DeckButton kDeckButtons[kButtonCount];

// What each control is called (its window text, which screen readers read)
// and the key that stands for it, shown in its tooltip; null for none.
struct ControlLabel {
    const char* name;
    const char* key;
};
// The bitmap buttons by id, then the link toggle.
extern const ControlLabel kButtonLabels[kButtonCount + 1];
constexpr ControlLabel kLeftSliderLabel = {"Left volume", "Up, Down"};
constexpr ControlLabel kRightSliderLabel = {"Right volume", "Up, Down"};

// What the user last asked for.
enum RequestedState : WORD {
    kWantWaveFile = 0,
    kWantPlay = 1,
    kWantPause = 2,
    kWantStopped = 3,
    kWantSaveTrack = 10,
};

// The last path is UTF-8, as the program keeps every path, so that a name in
// any script gets through: room for the dialog's longest at 3 bytes a character.
constexpr int kLastPathChars = 256;
constexpr int kLastPathSize = 3 * kLastPathChars;
// The buttons are set for no state yet: the next update sets them whatever the
// state is. (Not 0, which is the wave-file state.)
constexpr int kNoButtonState = -1;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 150;

struct DeckRecord {
    HWND hwnd;
    HINSTANCE instance;
    HWND buttons[kButtonCount + 1]; // the bitmap buttons, then the link toggle
    VScrollControl* leftSlider;
    VScrollControl* rightSlider;
    HWND leftSliderWnd;
    HWND rightSliderWnd;
    HWND status;
    WaveStreamer* streamer;
    int discReady;
    WORD requested;
    int startAtCurrent; // the next Play starts the current track, not the one after it
    int playMode;
    int lastButtonState; // the state the transport buttons were last set for
    int playerState;     // as read at the last tick
    int trackCount;
    DWORD lastVolume;
    char lastPath[kLastPathSize]; // UTF-8
    // The controls' tooltips are made when the pointer first comes over the
    // deck, once, whether or not the common controls can be had.
    int tipsMade;
    UINT mediaKeysHeld; // bit i: kMediaKeys[i] registered as the deck's hot key
    UINT hotKeyDown;    // the media key whose hot key last acted, until it is released
};

ATOM RegisterDeckClass(HINSTANCE instance);
HWND CreateDeck(HINSTANCE instance);
// The deck's record; null for any other window or after the deck is gone.
DeckRecord* DeckOf(HWND deck);

// The output device for the index of the preferred card among the devices
// (-1 when none matched).
UINT ChooseWaveDevice(int match, UINT deviceCount);

// Where a child that sits at client (x, y), width x height, on the deck drawn
// 1:1 sits at a skin scale: the face grows from under the border, so deck
// pixel (x, y) becomes client (x * scale - 1, y * scale - 1).
RECT ScaledChildRect(int x, int y, int width, int height, int scale);
