#include "app/commands.h"

#include "app/deck.h"
#include "app/file_dialog.h"
#include "app/keys.h"
#include "app/play_modes.h"
#include "app/save_name.h"
#include "app/status_display.h"
#include "app/volume.h"
#include "audio/track_extraction.h"
#include "audio/wave_streamer.h"
#include "cd/cd_player.h"

#include <mmsystem.h>

namespace {

constexpr char kPlayDialogTitle[] = "Select a file to play";
constexpr char kCannotPlay[] = "Can't Play";
constexpr char kSaveDialogTitle[] = "Select a file to save";
constexpr char kCannotReadCd[] = "Can't Read the CD";

// The button table: one row per state, one column per button 0-10, '+' on, '-' off.
struct ButtonRow {
    int state;
    char faces[kTransportButtonCount + 1];
};
constexpr ButtonRow kButtonRows[] = {
    {kWantWaveFile, "---+-------"},      {kWantSaveTrack, "-----------"},
    {MCI_MODE_NOT_READY, "+++++++++++"}, {MCI_MODE_STOP, "++--+++++++"},
    {MCI_MODE_PLAY, "--++++++-+-"},      {MCI_MODE_PAUSE, "+-++-------"},
    {MCI_MODE_OPEN, "-----------"},
};

void EnableButtons(DeckRecord* rec, WORD enabled) {
    for (int i = 0; i < kTransportButtonCount; i++)
        EnableWindow(rec->buttons[i], (enabled >> i) & 1);
}

// The tray opened, or the disc went: give it up, and retry from the next tick.
void ForgetDisc(DeckRecord* rec) {
    g_cdPlayer.CloseDisc();
    rec->discReady = 0;
    rec->startAtCurrent = 1;
}

void AutoAdvance(DeckRecord* rec) {
    if (rec->discReady != 1 || rec->requested != kWantPlay || rec->playerState == MCI_MODE_PLAY)
        return;
    int next = NextTrackForMode(rec->playMode, g_cdPlayer.CurrentTrack(), rec->trackCount,
                                rec->startAtCurrent, g_cdPlayer.AudioTracks());
    if (next == 0) {
        rec->requested = kWantStopped;
        rec->startAtCurrent = 1;
        return;
    }
    g_cdPlayer.Stop();
    g_cdPlayer.PlayTrack(next);
    rec->startAtCurrent = 0;
}

constexpr int kWarningChars = 512;

// A warning captioned with a path, whose letters may be of any script (both UTF-8).
void WarnWithPath(HWND owner, const char* text, const char* path) {
    WCHAR wideText[kWarningChars], caption[kLastPathChars];
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, wideText, kWarningChars)) wideText[0] = L'\0';
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, caption, kLastPathChars)) caption[0] = L'\0';
    MessageBoxW(owner, wideText, caption, MB_ICONWARNING);
}

void Deck_OnPlayWaveFile(DeckRecord* rec) {
    if (!FileDialog(rec->hwnd, kWaveFileFilter, rec->lastPath, kPlayDialogTitle)) return;
    if (rec->streamer->PlayWaveFile(rec->lastPath)) {
        rec->requested = kWantWaveFile;
        return;
    }
    WarnWithPath(rec->hwnd, kCannotPlay, rec->lastPath);
}

void Deck_OnSaveTrack(DeckRecord* rec) {
    if (rec->requested == kWantSaveTrack) return; // a click that slipped in while saving
    HWND deck = rec->hwnd;
    rec->requested = kWantSaveTrack;
    int track = g_cdPlayer.CurrentTrack();
    char start[kLastPathSize];
    ProposeSaveName(rec->lastPath, track, g_cdPlayer.Title(track), start, sizeof start);
    const char* path = FileDialog(deck, kWaveFileFilter, start, kSaveDialogTitle);
    if (path) lstrcpynA(rec->lastPath, path, kLastPathSize);
    SaveReport report;
    bool saved = path && SaveTrack(g_cdPlayer, deck, track, path, &report) != 0;
    // The copy lets messages through: the deck may have been closed meanwhile.
    rec = DeckOf(deck);
    if (!rec) return;
    if (path && !saved && !report.cancelled) {
        WarnWithPath(deck, kCannotReadCd, rec->lastPath);
    } else if (path && report.inexact.runCount) {
        char text[kWarningChars];
        FormatInexactRuns(report.inexact, text, sizeof text);
        WarnWithPath(deck, text, rec->lastPath);
    }
    rec->requested = kWantStopped;
}

void Deck_OnPlayMode(DeckRecord* rec) {
    rec->playMode = NextPlayMode(rec->playMode);
    ShowPlayMode(rec->status, rec->playMode);
}

} // namespace

bool TransportButtonsFor(int state, WORD* enabled) {
    for (const ButtonRow& row : kButtonRows) {
        if (row.state != state) continue;
        WORD bits = 0;
        for (int i = 0; i < kTransportButtonCount; i++)
            if (row.faces[i] == '+') bits |= WORD(1u << i);
        *enabled = bits;
        return true;
    }
    return false;
}

int Deck_OpenDisc(DeckRecord* rec) {
    // Either way the buttons no longer match the state they were set for.
    rec->lastButtonState = kNoButtonState;
    if (!g_cdPlayer.OpenDisc()) {
        rec->discReady = 0;
        // A data disc refused stays in the drive: Eject can take it out.
        EnableButtons(rec,
                      1u << kCmdPlayWave | (g_cdPlayer.HoldsRefusedDisc() ? 1u << kCmdEject : 0));
        return 0;
    }
    rec->discReady = 1;
    EnableButtons(rec, (1u << kTransportButtonCount) - 1);
    g_cdPlayer.SetCurrentTrack(1);
    rec->trackCount = LOWORD(g_cdPlayer.TrackCount());
    return 1;
}

void Deck_UpdateButtons(DeckRecord* rec, WORD requested) {
    // A save's buttons are all off whatever the drive says, and the copy
    // notices a disc gone itself: the drive is left to it meanwhile.
    if (requested != kWantSaveTrack) rec->playerState = g_cdPlayer.GetState();
    int state = requested;
    if (requested != kWantWaveFile && requested != kWantSaveTrack) {
        if (!rec->discReady && !Deck_OpenDisc(rec)) return;
        state = rec->playerState;
    }
    if (state == rec->lastButtonState) return;
    WORD enabled;
    if (TransportButtonsFor(state, &enabled)) EnableButtons(rec, enabled);
    if (state == MCI_MODE_OPEN) ForgetDisc(rec);
    rec->lastButtonState = state;
}

void Deck_OnTick(DeckRecord* rec) {
    Volume_Poll(rec);
    Deck_UpdateButtons(rec, rec->requested);
    AutoAdvance(rec);
}

void Deck_OnPlaybackEnd(DeckRecord* rec) {
    g_cdPlayer.Stop();
    // A disc wish stays, so the next tick moves on to the following track.
    if (rec->requested == kWantWaveFile) rec->requested = kWantStopped;
}

void Deck_OnCommand(DeckRecord* rec, int id, int code) {
    // A double-click's second press arrives as BN_DOUBLECLICKED: one click, one action.
    if (code != BN_CLICKED) return;
    switch (id) {
        case kCmdPlayWave: Deck_OnPlayWaveFile(rec); break;
        case kCmdPlay: rec->requested = kWantPlay; break;
        case kCmdPause:
            g_cdPlayer.PauseResume();
            rec->requested = kWantPause;
            break;
        case kCmdStop:
            rec->startAtCurrent = 1;
            g_cdPlayer.Stop();
            rec->requested = kWantStopped;
            break;
        case kCmdPreviousTrack: g_cdPlayer.StepTrack(false); break;
        case kCmdBack30: g_cdPlayer.Skip30Seconds(false); break;
        case kCmdForward30: g_cdPlayer.Skip30Seconds(true); break;
        case kCmdNextTrack: g_cdPlayer.StepTrack(true); break;
        case kCmdEject:
            if (rec->discReady || g_cdPlayer.HoldsRefusedDisc())
                g_cdPlayer.Eject();
            else
                g_cdPlayer.Load();
            break;
        case kCmdPlayMode: Deck_OnPlayMode(rec); break;
        case kCmdSaveTrack: Deck_OnSaveTrack(rec); break;
        case kCmdMinimise: ShowWindow(rec->hwnd, SW_MINIMIZE); break;
        case kCmdExit: DestroyWindow(rec->hwnd); break; // frees rec
    }
}

void Deck_OnKeyAction(DeckRecord* rec, int action) {
    // Behind a modal dialog or message box the deck is disabled; a save lets
    // messages through, hot keys among them.
    if (!IsWindowEnabled(rec->hwnd) || rec->requested == kWantSaveTrack) return;
    switch (action) {
        case kKeyNone: return;
        case kKeyVolumeUp: Volume_OnKey(rec, kVolumeKeyStep); return;
        case kKeyVolumeDown: Volume_OnKey(rec, -kVolumeKeyStep); return;
        // Play while Play can act (stopped); otherwise Pause, which also resumes.
        case kKeyPlayOrPause:
            action = IsWindowEnabled(rec->buttons[kCmdPlay]) ? kCmdPlay : kCmdPause;
            break;
    }
    if (IsWindowEnabled(rec->buttons[action])) Deck_OnCommand(rec, action, BN_CLICKED);
}
