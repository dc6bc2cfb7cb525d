#include "app/play_modes.h"

#include <cstdlib>

namespace {

constexpr int kFirstTrack = 1;
constexpr int kFewestForRandom = 2; // with one track there is nothing else to draw

int SequentialNext(int current, int trackCount, int startAtCurrent, const TrackSet& audio) {
    int next = startAtCurrent ? current : current + 1;
    while (next <= trackCount && !audio.Has(next)) next++;
    return next > trackCount ? 0 : next;
}

int RandomNext(int current, int trackCount, int startAtCurrent, const TrackSet& audio) {
    // Only tracks that can be drawn count, whatever the disc numbers its tracks.
    if (audio.Count(kFirstTrack, trackCount) < kFewestForRandom) {
        // The one track there is plays once for each Play.
        return startAtCurrent ? audio.Nearest(kFirstTrack, 1, kFirstTrack, trackCount) : 0;
    }
    int next;
    do next = std::rand() % trackCount + kFirstTrack;
    while (next == current || !audio.Has(next));
    return next;
}

int RepeatNext(int current, int trackCount, const TrackSet& audio) {
    return audio.Nearest(current + 1, 1, kFirstTrack, trackCount);
}

} // namespace

int NextPlayMode(int mode) {
    int next = mode + 1;
    return next >= kPlayModeCount ? kModeSequential : next;
}

int NextTrackForMode(int mode, int current, int trackCount, int startAtCurrent,
                     const TrackSet& audio) {
    switch (mode) {
        case kModeSequential: return SequentialNext(current, trackCount, startAtCurrent, audio);
        case kModeRandom: return RandomNext(current, trackCount, startAtCurrent, audio);
        case kModeRepeat: return RepeatNext(current, trackCount, audio);
    }
    return 0;
}
