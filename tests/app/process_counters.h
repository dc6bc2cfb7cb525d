// What a running program holds, read from outside it: its GDI objects, its
// windows and its memory. GetGuiResources cannot be used (Wine answers 0), so
// the GDI objects are counted in the handle table that Wine keeps inside each
// process and points the PEB at.
#pragma once
#include <windows.h>

#include <string>

namespace deck_test {

struct ProcessCounters {
    int gdiObjects = -1;     // live entries of the GDI handle table, -1 unreadable
    int windows = -1;        // top-level windows and their descendants
    SIZE_T privateBytes = 0; // committed private memory (Wine reports no PrivateUsage)
    SIZE_T workingSet = 0;
};

// Counts the GDI objects of `process` (opened with PROCESS_QUERY_INFORMATION
// and PROCESS_VM_READ); -1 when the table cannot be read.
int GdiObjectCount(HANDLE process);
int WindowCount(DWORD processId);
// Committed private memory, region by region: heaps, stacks, allocations.
SIZE_T PrivateCommit(HANDLE process);
ProcessCounters ReadCounters(HANDLE process, DWORD processId);
std::string Describe(const ProcessCounters& c);

} // namespace deck_test
