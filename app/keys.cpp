#include "app/keys.h"

#include "app/deck.h"

namespace {

struct DeckKey {
    UINT virtualKey;
    bool shift;
    int action;
    bool repeats; // held down, it acts again at every auto-repeat
};

constexpr DeckKey kKeys[] = {
    {VK_SPACE, false, kKeyPlayOrPause, false},
    {'S', false, kCmdStop, false},
    {VK_LEFT, false, kCmdPreviousTrack, true},
    {VK_RIGHT, false, kCmdNextTrack, true},
    {VK_LEFT, true, kCmdBack30, true},
    {VK_RIGHT, true, kCmdForward30, true},
    {'E', false, kCmdEject, false},
    {'M', false, kCmdPlayMode, false},
    {'R', false, kCmdSaveTrack, false},
    {'O', false, kCmdPlayWave, false},
    {VK_UP, false, kKeyVolumeUp, true},
    {VK_DOWN, false, kKeyVolumeDown, true},
    {VK_ESCAPE, false, kCmdMinimise, false},
    {VK_MEDIA_PLAY_PAUSE, false, kKeyPlayOrPause, false},
    {VK_MEDIA_STOP, false, kCmdStop, false},
    {VK_MEDIA_NEXT_TRACK, false, kCmdNextTrack, true},
    {VK_MEDIA_PREV_TRACK, false, kCmdPreviousTrack, true},
};

} // namespace

int KeyAction(UINT virtualKey, bool shift, bool repeated) {
    for (const DeckKey& key : kKeys)
        if (key.virtualKey == virtualKey && key.shift == shift)
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
