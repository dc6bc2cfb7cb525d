// The volume sliders: the left slider sets the left channel, the right slider
// the right one, the link toggle moves both together, and the sliders follow
// volume changes made elsewhere.
#pragma once
#include <windows.h>

struct DeckRecord;

constexpr int kSliderRangeMin = 0;
constexpr int kSliderRangeMax = 256;
constexpr int kLeftSliderStart = 2;
constexpr int kRightSliderStart = 100;
constexpr int kLevelMax = 255; // a position becomes a level 0-255

// A channel's device volume (0-65535) as a slider position (1-255).
int ChannelToPosition(WORD channel);
// A slider position as a channel's device volume: 0 gives 0, 255 gives 65279.
WORD PositionToChannel(int position);
// The device volume for the two positions: left in the low word, right in the high.
DWORD PositionsToVolume(int left, int right);
// Where a linked slider goes when the other moves from `oldPosition` to `newPosition`.
int LinkedPosition(int position, int newPosition, int oldPosition);

// Step 1 of the tick: moves the sliders to a device volume that changed. A
// volume that cannot be read changes nothing.
void Volume_Poll(DeckRecord* rec);
// Sets the device volume from the sliders' positions.
void Volume_ApplySliders(DeckRecord* rec);
// The volume keys: both sliders move by `delta`, as a linked drag moves the
// other slider (within 0-255), and the device follows.
void Volume_OnKey(DeckRecord* rec, int delta);
// A slider is dragged: `handle16` is its window handle cut to 16 bits.
void Volume_OnSliderTrack(DeckRecord* rec, int id, WORD handle16, WORD proposed);
