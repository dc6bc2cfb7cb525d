// The small modeless dialog shown while a track is saved: a gauge and Cancel,
// driven by hand from the copy loop. A disabled Cancel button is the request
// to cancel.
#pragma once
#include <windows.h>

constexpr char kGaugeDialogTemplate[] = "IDD_GAUGE_DLG";
constexpr int kGaugeDialogGaugeId = 101;

// Creates and shows the dialog over `owner`; the gauge runs from 0 to `range`.
HWND ProgressOpen(HWND owner, const char* templateName, const char* title, DWORD range);

// Shows `position`, lets one queued message through, and returns 1 when Cancel
// was pressed (or the program is quitting), else 0.
int ProgressStep(DWORD position);

void ProgressClose();

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
