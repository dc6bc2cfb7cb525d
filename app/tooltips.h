// The tooltips of the deck's controls: each control's name, and its key. The
// common controls are loaded when the pointer first moves over the deck, so
// that a start of the program does not pay for them.
#pragma once
#include <windows.h>

// A tooltip control owned by `owner`; null when the common controls cannot be had.
HWND CreateTooltips(HWND owner);
// Adds `control` with the tip "name (key)", or "name" without a key.
void AddTooltip(HWND tips, HWND owner, HWND control, const char* name, const char* key);
// Adds `control` with its window text as the tip, read when the tip shows:
// the control answers TTN_GETDISPINFOA with it.
void AddWindowTextTooltip(HWND tips, HWND control);
// Tells the tooltip that the pointer is over `control`: it learns that by
// itself only from the next movement, and a pointer may come to rest at once.
void RelayPointer(HWND tips, HWND control);
