// The deck's keys and media keys. A key stands for a button: it does what a
// click on that button does, and nothing while the button is disabled. Space
// and Play/Pause stand for play or pause, whichever applies; the arrow keys up
// and down move both volume sliders.
#pragma once
#include <windows.h>

// What a key stands for: a button's command id (0-12), or one of these.
enum KeyOnlyAction : int {
    kKeyNone = -1,
    kKeyPlayOrPause = 100, // play when Play is enabled, else pause or resume
    kKeyVolumeUp = 101,
    kKeyVolumeDown = 102,
};
// Positions the volume keys move both sliders by: sixteen steps over the range.
constexpr int kVolumeKeyStep = 16;
// The media keys the deck asks for as global hot keys (their own virtual-key codes are their ids).
constexpr UINT kMediaKeys[] = {VK_MEDIA_PLAY_PAUSE, VK_MEDIA_STOP, VK_MEDIA_NEXT_TRACK,
                               VK_MEDIA_PREV_TRACK};

// The hot keys' flag (Windows 7 on) that sends a held key once, not once per
// auto-repeat; older systems refuse it.
constexpr UINT kHotKeyNoRepeat = 0x4000; // MOD_NOREPEAT

// The action of a key pressed with `modifiers` (MOD_SHIFT, MOD_CONTROL) held;
// kKeyNone for a key that is not the deck's, which goes on to the system.
// `repeated` is an auto-repeat of a key held down: only the skips and the
// volume keys act on those.
int KeyAction(UINT virtualKey, UINT modifiers, bool repeated);
// The action of a WM_APPCOMMAND command; kKeyNone for what the deck leaves to the system.
int AppCommandAction(int appCommand);

// Registers the media keys as the deck's hot keys, or gives them back; `*held`
// has bit i set while kMediaKeys[i] is the deck's. A key another program holds
// stays that program's until it lets go: a later call takes it then.
void HoldMediaKeys(HWND deck, bool hold, UINT* held);
