// What the deck's buttons do, and the 150 ms tick that keeps the buttons, the
// disc and the track sequence in step with the player.
#pragma once
#include <windows.h>

struct DeckRecord;

// A button's WM_COMMAND. Only a plain click (code 0) acts.
void Deck_OnCommand(DeckRecord* rec, int id, int code);
// A key, media key or hot key (an action of app/keys.h): what a click on its
// button does, nothing while that button is disabled.
void Deck_OnKeyAction(DeckRecord* rec, int action);
// The interface tick: volume poll, button update, auto-advance.
void Deck_OnTick(DeckRecord* rec);
// The streamer's end message: a stream has played out.
void Deck_OnPlaybackEnd(DeckRecord* rec);
// The open-disc step; 1 when a disc is open afterwards.
int Deck_OpenDisc(DeckRecord* rec);
// Reads the player's state and sets the transport buttons for `requested`.
void Deck_UpdateButtons(DeckRecord* rec, WORD requested);

// Which of buttons 0-10 are enabled in a button state (a requested state 0 or
// 10, or a player state): bit i for button i. False for a state the table does
// not know, which leaves the buttons as they are.
bool TransportButtonsFor(int state, WORD* enabled);
