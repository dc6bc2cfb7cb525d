#include "app/play_modes.h"

#include <cstdlib>

namespace {

constexpr int kFirstTrack = 1;
constexpr int kFewestForRandom = 2; // with one track there is nothing else to draw

int SequentialNext(int current, int trackCount, int startAtCurrent) {
    int next = startAtCurrent ? current : current + 1;
    return next > trackCount ? 0 : next;
}

int RandomNext(int current, int trackCount) {
    if (trackCount < kFewestForRandom) return 0;
    int next;
    do next = std::rand() % trackCount + kFirstTrack;
    while (next == current);
    return next;
}

int RepeatNext(int current, int trackCount) {
    int next = current + 1;
    return next > trackCount ? kFirstTrack : next;
}

} // namespace

int NextPlayMode(int mode) {
    int next = mode + 1;
    return next >= kPlayModeCount ? kModeSequential : next;
}

int NextTrackForMode(int mode, int current, int trackCount, int startAtCurrent) {
    switch (mode) {
        case kModeSequential: return SequentialNext(current, trackCount, startAtCurrent);
        case kModeRandom: return RandomNext(current, trackCount);
        case kModeRepeat: return RepeatNext(current, trackCount);
    }
    return 0;
}
