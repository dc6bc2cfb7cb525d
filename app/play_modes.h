// Play modes: which track the deck starts when the user wants the disc to play
// and the player is not playing.
#pragma once
#include "cd/toc.h"

enum PlayMode : int {
    kModeSequential = 0,
    kModeRandom = 1,
    kModeRepeat = 2,
};
constexpr int kPlayModeCount = 3;

// The mode after `mode`: sequential, random, repeat, then sequential again.
int NextPlayMode(int mode);

// The track to start, 0 for none. `current` is the CD player's current track,
// `trackCount` the disc's, `audio` the tracks that may be played: data tracks
// are passed over in the direction of play. Sequential starts the current
// track itself while `startAtCurrent` is set, else the one after it, and ends
// after the last; random draws with rand() until it finds a track other than
// the current one (with one track to play, Play starts it and it is not
// followed); repeat goes on after the current track and wraps to 1.
int NextTrackForMode(int mode, int current, int trackCount, int startAtCurrent,
                     const TrackSet& audio);
