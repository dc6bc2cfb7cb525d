#include "app/keys.h"

#include "app/deck.h"

namespace {

struct DeckKey {
    UINT virtualKey;
    UINT modifiers;
    int action;
    bool repeats; // held down, it acts again at every auto-repeat
};

constexpr DeckKey kKeys[] = {
    {VK_SPACE, 0, kKeyPlayOrPause, false},
    {'S', 0, kCmdStop, false},
    {VK_LEFT, 0, kCmdPreviousTrack, true},
    {VK_RIGHT, 0, kCmdNextTrack, true},
    {VK_LEFT, MOD_SHIFT, kCmdBack30, true},
    {VK_RIGHT, MOD_SHIFT, kCmdForward30, true},
    {'E', 0, kCmdEject, false},
    {'M', 0, kCmdPlayMode, false},
    {'R', 0, kCmdSaveTrack, false},
    {'O', 0, kCmdPlayWave, false},
    {VK_UP, 0, kKeyVolumeUp, true},
    {VK_DOWN, 0, kKeyVolumeDown, true},
    {VK_ESCAPE, 0, kCmdMinimise, false},
    {VK_MEDIA_PLAY_PAUSE, 0, kKeyPlayOrPause, false},
    {VK_MEDIA_STOP, 0, kCmdStop, false},
    {VK_MEDIA_NEXT_TRACK, 0, kCmdNextTrack, true},
    {VK_MEDIA_PREV_TRACK, 0, kCmdPreviousTrack, true},
};

} // namespace

int KeyAction(UINT virtualKey, UINT modifiers, bool repeated) {
    for (const DeckKey& key : kKeys)
        if (key.virtualKey == virtualKey && key.modifiers == modifiers)
            return repeated && !key.repeats ? kKeyNone : key.action;
    return kKeyNone;
}

int AppCommandAction(int appCommand) {
    switch (appCommand) {
        case APPCOMMAND_MEDIA_PLAY_PAUSE: return kKeyPlayOrPause;
        case APPCOMMAND_MEDIA_STOP: return kCmdStop;
        case APPCOMMAND_MEDIA_NEXTTRACK: return kCmdNextTrack;
        case APPCOMMAND_MEDIA_PREVIOUSTRACK: return kCmdPreviousTrack;
    }
    return kKeyNone;
}

void HoldMediaKeys(HWND deck, bool hold, UINT* held) {
    for (UINT i = 0; i < ARRAYSIZE(kMediaKeys); i++) {
        const UINT key = kMediaKeys[i], bit = 1u << i;
        const int id = static_cast<int>(key);
        if (hold == ((*held & bit) != 0)) continue;
        if (!hold) {
            UnregisterHotKey(deck, id);
            *held &= ~bit;
        } else if (RegisterHotKey(deck, id, kHotKeyNoRepeat, key) ||
                   RegisterHotKey(deck, id, 0, key)) {
            *held |= bit;
        }
    }
}
